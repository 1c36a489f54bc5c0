// The emulated board as one definition: its SoC map (each row a block of the address space,
// with its GCD memory type and whether the platform declares it runtime), the components that
// model its hardware and install what other firmware provides, and Board::Build, which
// assembles a board from options. boardsim and every test board use it; a test changes
// options, it never assembles a board by hand.
#pragma once

#include "Common/DeviceModel.h"

#include <AcpiTables.h>
#include <HostPlatform.h>
#include <Pi/PiDxeCis.h>

#include <any>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace host {

class Board;
class GcdMap;

// One row of the SoC map. Build declares it in the GCD memory space map as a PI platform does
// from its resource descriptors (a row of type EfiGcdMemoryTypeNonExistent is a block the
// platform does not declare: firmware adds it itself), and a model attached under the row's
// name decodes its addresses.
struct SocRegion {
  std::string Name; // "i2c1", "mailbox", "uart0" ... (also the model's name for Board::Model)
  uint64_t Base = 0;
  uint64_t Size = 0;
  EFI_GCD_MEMORY_TYPE GcdType = EfiGcdMemoryTypeMemoryMappedIo;
  bool Runtime = false; // declared with EFI_MEMORY_RUNTIME
};

// A boardsim option or fault knob a component understands. Name without "--"; Argument is
// empty for a flag. Fault knobs are named "<block>-<fault>" ("eeprom-nack", "i2c1-stuck-busy").
struct BoardOptionSpec {
  std::string Name;
  std::string Argument;
  std::string Help;
  // An option naming a file: what is wrong with the value (empty: nothing). Board::CheckFiles
  // asks it before anything is built, so a bad path is refused before any file is touched.
  std::function<std::string(const std::string &Value)> PathProblem = {};
};

// What a board component contributes. One component per hardware area, each in its own folder
// under Platform/Board/, each registered by one line in Platform/Board/Components.cpp.
struct BoardComponent {
  std::string Name;
  std::vector<SocRegion> Regions;       // seeded into the GCD map and attachable, in Build
  std::vector<BoardOptionSpec> Options; // `boardsim boot --NAME ARG`, listed by --help
  std::vector<BoardOptionSpec> Faults;  // `boardsim boot --fault NAME[=VALUE]`, listed by --help
  std::function<void(Board &)> Install; // creates and attaches models, installs producers
  std::function<void(Board &)> Finish;  // optional: at the end of the boot (artifacts)
  // Optional: runs after each module Dispatch starts (its name), e.g. to show what it changed.
  std::function<void(Board &, const std::string &Module)> AfterModule = {};
};

struct BoardOptions {
  std::filesystem::path NvramFile;             // empty: variables do not persist (unless the Platform's do)
  std::filesystem::path OutDir;                // artifacts of the boot (may be empty in tests)
  std::map<std::string, std::string> Settings; // component options by name ("eeprom" -> FILE; flags -> "")
  std::map<std::string, std::string> Faults;   // fault knobs by name ("eeprom-nack" -> "" or a value)
  std::vector<std::string> Modules;            // dispatch list; empty: the board's default order
  // The ACPI producer's tables and protocols beyond the command line: the DSDT's bytes (empty:
  // the "dsdt" setting's file, else the board's), the FADTs and which protocols are present.
  AcpiTablesOptions Acpi;
  // The display (boardsim's boots and runs). Capture: when a Graphics Output appears, the log
  // lists its modes and EDID source, and the end of the boot saves the picture at the hand-over
  // as OutDir/screen.png. Console: the board log is also drawn on it as a text console.
  struct ScreenOptions {
    bool Capture = false;
    bool Console = false;
  } Screen;
};

class Board {
public:
  // Checks the options against the components (an unknown setting or fault knob throws
  // std::invalid_argument), seeds the GCD map from the SoC map, then runs every component's
  // Install in order.
  static std::unique_ptr<Board> Build(Platform &P, const BoardOptions &Options);
  // The reason Options do not fit the board ("unknown fault knob eprom-nack"); empty when they do.
  static std::string Check(const BoardOptions &Options);
  // The first file option whose path cannot serve, as one line ("--eeprom F: is a directory");
  // empty when every path given can.
  static std::string CheckFiles(const BoardOptions &Options);

  Platform &Core() { return P_; }
  const BoardOptions &Options() const { return Options_; }
  bool Has(const std::string &Setting) const;
  std::string Setting(const std::string &Name, std::string Default = "") const;
  bool Fault(const std::string &Knob) const;
  std::string FaultValue(const std::string &Knob, std::string Default = "") const;
  // A counting knob ("i2c1-nack=N"): the number, from 1, of the event it makes fail; 0 when the
  // knob is not given. Throws std::invalid_argument when the value is not such a number.
  uint64_t FaultStep(const std::string &Knob) const;
  // At the end of a boot: "faults: <knob>: <count> <what>" in the board log, how many events
  // the counting knob could have named in this boot (what a fault sweep walks).
  void LogFaultSteps(const std::string &Knob, uint64_t Count, const std::string &What);

  // The SoC map row of that name (throws std::out_of_range when there is none).
  static const SocRegion &Region(const std::string &Name);

  // A model attached under that region name (throws std::out_of_range when there is none or it
  // is another class).
  template <class T> T &Model(const std::string &Name) {
    auto Found = Models_.find(Name);
    T *Typed = Found != Models_.end() ? dynamic_cast<T *>(Found->second.get()) : nullptr;
    if (Typed == nullptr) {
      throw std::out_of_range("no model of that class attached at " + Name);
    }
    return *Typed;
  }
  bool HasModel(const std::string &Name) const { return Models_.count(Name) != 0; }
  // Attaches Model at the SoC-map region Name.
  void Attach(const std::string &Name, std::shared_ptr<DeviceModel> Model);
  void ResetModels(); // every attached model back to its power-on state

  // What a component installed, for tests and other components: Provide(name, pointer) and
  // Producer<T>(name), nullptr when that component did not install it.
  template <class T> void Provide(const std::string &Name, T *Producer) { Producers_[Name] = Producer; }
  template <class T> T *Producer(const std::string &Name) const {
    auto Found = Producers_.find(Name);
    return Found != Producers_.end() ? std::any_cast<T *>(Found->second) : nullptr;
  }

  // Errors other than the core's: protocol errors of models and buses. Components register the
  // sources of what they own beyond the attached models (an I2C bus).
  void AddErrorSource(std::function<std::vector<std::string>()> Source);
  // Every error of the boot: the core's (Platform::Errors) and the protocol errors of the models.
  std::vector<std::string> Errors() const;
  // Those errors that contain none of the Expected texts (nor one the test declared with
  // Platform::ExpectError).
  std::vector<std::string> UnexpectedErrors(const std::vector<std::string> &Expected = {}) const;

  // Runs the dispatch list in order, as the DXE dispatcher does: each module is loaded and
  // started; a driver whose entry fails is unloaded. Stops after an image that halted.
  std::vector<ImageResult> Dispatch();
  // What the boot manager does before it boots: connects every controller, recursively.
  // False when firmware halted on the way.
  bool ConnectAllControllers();
  void Finish(); // every component's Finish, in order

private:
  Board(Platform &P, const BoardOptions &Options) : P_(P), Options_(Options) {}
  void AppendModelErrors(std::vector<std::string> &Result) const;
  void Log(const std::string &Text);

  Platform &P_;
  BoardOptions Options_;
  std::map<std::string, std::shared_ptr<DeviceModel>> Models_;
  std::map<std::string, std::any> Producers_;
  std::vector<std::function<std::vector<std::string>()>> ErrorSources_;
};

// Declares Rows in Gcd as the platform's resource descriptors do: system memory cacheable
// (write-back), device blocks uncached, EFI_MEMORY_RUNTIME where a row says so; rows of type
// EfiGcdMemoryTypeNonExistent are left out. Throws std::logic_error when a row does not fit.
void SeedGcdMap(GcdMap &Gcd, const std::vector<SocRegion> &Rows);

// The number an option or knob gives (decimal, or hexadecimal with 0x), at most Max; throws
// std::invalid_argument naming the option when Text is not one.
uint64_t OptionNumber(const std::string &Name, const std::string &Text, uint64_t Max = UINT64_MAX);

// The board's components, in build order (Platform/Board/Components.cpp).
const std::vector<BoardComponent> &BoardComponents();
// The board's modules in the order the DXE dispatcher runs them (Mgmtprobe is run from the shell).
const std::vector<std::string> &DefaultDispatchOrder();

} // namespace host
