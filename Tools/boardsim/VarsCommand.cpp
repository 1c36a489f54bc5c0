// boardsim vars: lists, shows, sets and deletes the non-volatile UEFI variables kept in the
// emulated board's NVRAM file, between boots.
#include "BoardOptions.h"
#include "HostText.h"
#include "VariableStore.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

int RunVarsCommand(int argc, char **argv);

namespace {

using host::GuidText;
using host::ParseGuid;
using host::Utf16ToUtf8;
using host::Utf8ToUtf16;
using host::VariableStore;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char *kUsage =
    "usage: boardsim vars --nvram FILE list\n"
    "       boardsim vars --nvram FILE show NAME [--guid GUID]\n"
    "       boardsim vars --nvram FILE set NAME --guid GUID (--u8 N | --text STRING [--size N] | --hex "
    "BYTES)\n"
    "                                  [--attrs nv,bs,rt]\n"
    "       boardsim vars --nvram FILE delete NAME --guid GUID\n"
    "\n"
    "Works on the NVRAM file between boots of the emulated board.\n"
    "  --text STRING  stored as CHAR16 text with its NUL, padded with zeros to --size bytes\n"
    "  --hex BYTES    bytes in hexadecimal, e.g. 0a0b0c or \"0a 0b 0c\"\n"
    "  --attrs LIST   nv, bs and rt, comma separated (default nv,bs)\n"
    "  GUID           8-4-4-4-12 hexadecimal digits, or one of the aliases:\n";

// Friendly names for the vendor GUIDs the board's variables use.
struct GuidAlias {
  const char *Name;
  const char *Guid;
};
constexpr std::array<GuidAlias, 4> kGuidAliases = {{
    {"nicpatch-mac", "158DEF5A-F656-419C-B027-7A3192C079D2"},
    {"nicpatch-switch", "52350268-C2D5-4687-A2A6-B65E2352DDCB"},
    {"setup", "EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9"},
    {"global", "8BE4DF61-93CA-11D2-AA0D-00E098032B8C"},
}};

std::optional<EFI_GUID> ResolveGuid(const std::string &Text) {
  for (const GuidAlias &Alias : kGuidAliases) {
    if (Text == Alias.Name) {
      return ParseGuid(Alias.Guid);
    }
  }
  return ParseGuid(Text);
}

std::string AliasOf(const EFI_GUID &Guid) {
  for (const GuidAlias &Alias : kGuidAliases) {
    if (CompareGuidValues(*ParseGuid(Alias.Guid), Guid)) {
      return Alias.Name;
    }
  }
  return "";
}

std::string StatusText(EFI_STATUS Status) {
  struct Name {
    EFI_STATUS Status;
    const char *Text;
  };
  constexpr std::array<Name, 7> kNames = {{{EFI_SUCCESS, "EFI_SUCCESS"},
                                           {EFI_INVALID_PARAMETER, "EFI_INVALID_PARAMETER"},
                                           {EFI_UNSUPPORTED, "EFI_UNSUPPORTED"},
                                           {EFI_OUT_OF_RESOURCES, "EFI_OUT_OF_RESOURCES"},
                                           {EFI_NOT_FOUND, "EFI_NOT_FOUND"},
                                           {EFI_DEVICE_ERROR, "EFI_DEVICE_ERROR"},
                                           {EFI_WRITE_PROTECTED, "EFI_WRITE_PROTECTED"}}};
  for (const Name &Entry : kNames) {
    if (Entry.Status == Status) {
      return Entry.Text;
    }
  }
  std::ostringstream Out;
  Out << "0x" << std::hex << Status;
  return Out.str();
}

struct Options {
  std::string Nvram;
  std::vector<std::string> Words; // the action and its NAME
  std::optional<std::string> Guid, U8, Text, Size, Hex, Attrs;
  bool Help = false;
};

// Splits the arguments into options and positional words; returns an error text or "".
std::string ParseOptions(int argc, char **argv, Options &Out) {
  const std::array<std::pair<std::string_view, std::optional<std::string> Options::*>, 7> kValued = {{
      {"--guid", &Options::Guid},
      {"--u8", &Options::U8},
      {"--text", &Options::Text},
      {"--size", &Options::Size},
      {"--hex", &Options::Hex},
      {"--attrs", &Options::Attrs},
      {"--nvram", nullptr},
  }};
  for (int Index = 1; Index < argc; Index++) {
    const std::string_view Arg = argv[Index];
    if (Arg == "--help" || Arg == "-h") {
      Out.Help = true;
      continue;
    }
    auto Valued =
        std::find_if(kValued.begin(), kValued.end(), [&](const auto &Entry) { return Entry.first == Arg; });
    if (Valued == kValued.end()) {
      if (Arg.starts_with("--")) {
        return "unknown option " + std::string(Arg);
      }
      Out.Words.emplace_back(Arg);
      continue;
    }
    if (++Index >= argc) {
      return std::string(Arg) + " needs a value";
    }
    if (Valued->second == nullptr) {
      Out.Nvram = argv[Index];
    } else {
      Out.*(Valued->second) = argv[Index];
    }
  }
  return "";
}

std::optional<std::vector<uint8_t>> ParseHex(const std::string &Text) {
  std::string Digits;
  for (char Char : Text) {
    if (std::isxdigit(static_cast<unsigned char>(Char))) {
      Digits.push_back(Char);
    } else if (Char != ' ' && Char != ':' && Char != ',' && Char != '-') {
      return std::nullopt;
    }
  }
  if (Digits.empty() || Digits.size() % 2 != 0) {
    return std::nullopt;
  }
  std::vector<uint8_t> Bytes;
  for (size_t Index = 0; Index < Digits.size(); Index += 2) {
    Bytes.push_back(static_cast<uint8_t>(std::stoul(Digits.substr(Index, 2), nullptr, 16)));
  }
  return Bytes;
}

std::optional<UINT32> ParseAttributes(const std::string &Text) {
  UINT32 Attributes = 0;
  std::istringstream In(Text);
  std::string Item;
  while (std::getline(In, Item, ',')) {
    for (char &Char : Item) {
      Char = static_cast<char>(std::tolower(static_cast<unsigned char>(Char)));
    }
    if (Item == "nv") {
      Attributes |= EFI_VARIABLE_NON_VOLATILE;
    } else if (Item == "bs") {
      Attributes |= EFI_VARIABLE_BOOTSERVICE_ACCESS;
    } else if (Item == "rt") {
      Attributes |= EFI_VARIABLE_RUNTIME_ACCESS;
    } else {
      return std::nullopt;
    }
  }
  return Attributes;
}

// The value of a set command from --u8, --text/--size or --hex; error text in Error.
std::optional<std::vector<uint8_t>> BuildValue(const Options &Opts, std::string &Error) {
  const int Sources = int(Opts.U8.has_value()) + int(Opts.Text.has_value()) + int(Opts.Hex.has_value());
  if (Sources != 1) {
    Error = "set needs exactly one of --u8, --text and --hex";
    return std::nullopt;
  }
  if (Opts.Size && !Opts.Text) {
    Error = "--size goes with --text";
    return std::nullopt;
  }
  if (Opts.U8) {
    auto Value = host::ParseNumber(*Opts.U8);
    if (!Value || *Value > 0xFF) {
      Error = "--u8 takes a number from 0 to 255";
      return std::nullopt;
    }
    return std::vector<uint8_t>{static_cast<uint8_t>(*Value)};
  }
  if (Opts.Hex) {
    auto Bytes = ParseHex(*Opts.Hex);
    if (!Bytes) {
      Error = "--hex takes pairs of hexadecimal digits";
    }
    return Bytes;
  }
  std::vector<uint8_t> Bytes;
  for (char16_t Char : Utf8ToUtf16(*Opts.Text)) {
    Bytes.push_back(static_cast<uint8_t>(Char));
    Bytes.push_back(static_cast<uint8_t>(Char >> 8));
  }
  Bytes.insert(Bytes.end(), sizeof(CHAR16), 0);
  if (Opts.Size) {
    auto Size = host::ParseNumber(*Opts.Size);
    if (!Size || *Size < Bytes.size() || *Size > VariableStore::Limits{}.MaxVariableSize) {
      Error = "--size takes " + std::to_string(Bytes.size()) + " (the text and its NUL) to " +
              std::to_string(VariableStore::Limits{}.MaxVariableSize) + " bytes";
      return std::nullopt;
    }
    Bytes.resize(*Size, 0);
  }
  return Bytes;
}

// The data as CHAR16 text when it is one: printable characters, a NUL, zeros after it.
std::optional<std::string> AsText(const std::vector<uint8_t> &Data) {
  if (Data.size() < 2 * sizeof(CHAR16) || Data.size() % 2 != 0) {
    return std::nullopt;
  }
  std::u16string Text;
  size_t Index = 0;
  for (; Index < Data.size(); Index += 2) {
    const char16_t Char = static_cast<char16_t>(Data[Index] | (Data[Index + 1] << 8));
    if (Char == 0) {
      break;
    }
    if (Char < 0x20 || Char == 0x7F) {
      return std::nullopt;
    }
    Text.push_back(Char);
  }
  if (Text.empty() || Index == Data.size() ||
      std::any_of(Data.begin() + static_cast<std::ptrdiff_t>(Index), Data.end(),
                  [](uint8_t Byte) { return Byte != 0; })) {
    return std::nullopt;
  }
  return Utf16ToUtf8(Text);
}

void PrintVariable(const VariableStore::Variable &Entry) {
  const std::string Alias = AliasOf(Entry.Guid);
  std::cout << Utf16ToUtf8(Entry.Name) << "\n"
            << "  guid:       " << GuidText(Entry.Guid) << (Alias.empty() ? "" : " (" + Alias + ")") << "\n"
            << "  attributes: " << VariableStore::FormatAttributes(Entry.Attributes) << "\n"
            << "  size:       " << Entry.Data.size() << "\n";
  if (auto Text = AsText(Entry.Data)) {
    std::cout << "  text:       \"" << *Text << "\"\n";
  }
  for (size_t Offset = 0; Offset < Entry.Data.size(); Offset += 16) {
    std::cout << "  " << std::hex << std::setfill('0') << std::setw(4) << Offset << ":";
    for (size_t Index = Offset; Index < std::min(Offset + 16, Entry.Data.size()); Index++) {
      std::cout << " " << std::setw(2) << unsigned(Entry.Data[Index]);
    }
    std::cout << std::dec << std::setfill(' ') << "\n";
  }
}

int List(const VariableStore &Store) {
  for (const VariableStore::Variable &Entry : Store.List()) {
    const std::string Alias = AliasOf(Entry.Guid);
    std::cout << std::left << std::setw(30) << Utf16ToUtf8(Entry.Name) << " " << GuidText(Entry.Guid) << " "
              << std::setw(9) << VariableStore::FormatAttributes(Entry.Attributes) << " " << std::right
              << std::setw(6) << Entry.Data.size() << (Alias.empty() ? "" : "  " + Alias) << "\n";
  }
  return kExitOk;
}

int Show(const VariableStore &Store, const std::string &Name, const std::optional<EFI_GUID> &Guid) {
  bool Found = false;
  for (const VariableStore::Variable &Entry : Store.List()) {
    if (Utf16ToUtf8(Entry.Name) == Name && (!Guid || CompareGuidValues(*Guid, Entry.Guid))) {
      PrintVariable(Entry);
      Found = true;
    }
  }
  if (!Found) {
    std::cerr << "boardsim vars: no variable " << Name << "\n";
  }
  return Found ? kExitOk : kExitFailed;
}

int Change(VariableStore &Store, const Options &Opts, const std::string &Action, const EFI_GUID &Guid) {
  const std::string &Name = Opts.Words[1];
  EFI_STATUS Status;
  if (Action == "delete") {
    Status = Store.Delete(Name, Guid);
  } else {
    std::string Error;
    auto Value = BuildValue(Opts, Error);
    auto Attributes = ParseAttributes(Opts.Attrs.value_or("nv,bs"));
    if (!Attributes) {
      Error = "--attrs takes nv, bs and rt";
    } else if ((*Attributes & EFI_VARIABLE_NON_VOLATILE) == 0) {
      Error = "only non-volatile variables are kept in the NVRAM file; add nv to --attrs";
    }
    if (!Error.empty() || !Value) {
      std::cerr << "boardsim vars: " << Error << "\n";
      return kExitUsage;
    }
    // Replacing a variable with other attributes is a deliberate rewrite here.
    auto Existing = Store.Find(Name, Guid);
    if (Existing && Existing->Attributes != *Attributes) {
      Store.Delete(Name, Guid);
    }
    Status = Store.Set(Name, Guid, *Attributes, *Value);
  }
  if (EFI_ERROR(Status)) {
    std::cerr << "boardsim vars: " << Action << " " << Name << ": " << StatusText(Status) << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

void PrintUsage(std::ostream &Out) {
  Out << kUsage;
  for (const GuidAlias &Alias : kGuidAliases) {
    Out << "                 " << std::left << std::setw(16) << Alias.Name << Alias.Guid << "\n";
  }
}

} // namespace

int RunVarsCommand(int argc, char **argv) {
  Options Opts;
  std::string Error = ParseOptions(argc, argv, Opts);
  if (Opts.Help) {
    PrintUsage(std::cout);
    return kExitOk;
  }
  const std::string Action = Opts.Words.empty() ? "" : Opts.Words[0];
  const size_t Expected = Action == "list" ? 1 : 2;
  if (Error.empty() && Opts.Nvram.empty()) {
    Error = "--nvram FILE is required";
  }
  if (Error.empty() && (Action != "list" && Action != "show" && Action != "set" && Action != "delete")) {
    Error = Action.empty() ? "no action given" : "unknown action " + Action;
  }
  if (Error.empty() && Opts.Words.size() != Expected) {
    Error = Action + (Expected == 1 ? " takes no NAME" : " needs one NAME");
  }
  std::optional<EFI_GUID> Guid;
  if (Error.empty() && Opts.Guid && !(Guid = ResolveGuid(*Opts.Guid))) {
    Error = "bad GUID " + *Opts.Guid;
  }
  if (Error.empty() && (Action == "set" || Action == "delete") && !Guid) {
    Error = Action + " needs --guid";
  }
  if (!Error.empty()) {
    std::cerr << "boardsim vars: " << Error << "\n";
    PrintUsage(std::cerr);
    return kExitUsage;
  }

  // Reading needs the file; a change creates it. A damaged file is left alone: reading shows
  // nothing, writing would destroy it.
  VariableStore Store;
  const bool Changes = Action == "set" || Action == "delete";
  if (std::string Problem = LoadNvramOption(Store, Opts.Nvram, Changes, Changes); !Problem.empty()) {
    return ReportBadPath("vars", Problem);
  }
  if (Action == "list") {
    return List(Store);
  }
  if (Action == "show") {
    return Show(Store, Opts.Words[1], Guid);
  }
  Store.AttachFile(Opts.Nvram);
  return Change(Store, Opts, Action, *Guid);
}
