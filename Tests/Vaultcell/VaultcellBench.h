// A test board for the I2C and management-processor libraries and the EEPROM MAC driver: the
// board that Board::Build assembles from options with Regionhold dispatched, the VaultcellProbe
// module that runs a test body with fresh copies of the libraries, and Vaultcell.so.
#pragma once

#include "VaultcellProbe.h"

#include <Board.h>
#include <I2cMailbox/I2cMailbox.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vaultcell_test {

using Table = std::array<std::string, 9>;

class Bench {
public:
  // Settings and fault knobs as boardsim takes them ("i2c-rx-depth" -> "4", "eeprom-nack" -> "").
  explicit Bench(std::map<std::string, std::string> Settings = {},
                 std::map<std::string, std::string> Faults = {});
  ~Bench();

  host::Platform &Core() { return *Core_; }
  host::Board &Board() { return *Board_; }
  host::I2cController &I2c(unsigned Bus) {
    return Board_->Model<host::I2cController>(Bus == 0 ? "i2c0" : "i2c1");
  }
  host::ManagementProcessor &Mailbox() { return Board_->Model<host::ManagementProcessor>("mailbox"); }
  host::StatusRegion &Status() { return Board_->Model<host::StatusRegion>("pelmo-status"); }
  host::I2cEeprom &Eeprom() { return *Board_->Producer<host::I2cEeprom>("eeprom"); }
  void SetRecord(unsigned Record, const std::vector<uint8_t> &Bytes);

  // Runs Body inside the entry of a freshly loaded VaultcellProbe, whose entry then returns
  // Result (an error unloads the image); returns the image's result.
  host::ImageResult Probe(const std::function<void(const VAULTCELL_PROBE_FUNCTIONS &)> &Body,
                          EFI_STATUS Result = EFI_SUCCESS);
  // Stalls and register accesses of the probe's library code so far.
  host::TimeAccount ProbeAccount() const;

  // Dispatches Vaultcell (once) and calls its GetMacAddresses on a table whose slots hold In
  // (each up to 19 characters); returns the status and leaves the slots in Out.
  EFI_STATUS GetMacAddresses(const Table &In, Table &Out);
  // The same call on a table of the caller's (NULL included).
  EFI_STATUS GetMacAddresses(CHAR16 *Slots);
  // Errors the test expects the boot to record; at its end the bench fails the test on any
  // other error of the board.
  void ExpectErrors(std::vector<std::string> Expected) { Expected_ = std::move(Expected); }
  bool HasErrors() const { return !Board_->Errors().empty(); }

private:
  std::unique_ptr<host::Platform> Core_;
  std::unique_ptr<host::Board> Board_;
  bool VaultcellLoaded_ = false;
  std::vector<std::string> Expected_;
};

// "00:11:22:33:44:5X", the placeholder of a slot.
std::string Placeholder(unsigned Slot);
std::vector<uint8_t> PlaceholderBytes(unsigned Slot);
std::string Narrow(const CHAR16 *Text);

} // namespace vaultcell_test
