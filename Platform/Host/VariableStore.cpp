// UEFI variable services of the emulated core and the NVRAM file that carries the
// non-volatile variables from one emulated boot to the next.
//
// NVRAM file, all integers little-endian:
//   header (32 bytes): magic "BSNVRAM\0", UINT32 version (1), UINT32 header size (32),
//                      UINT32 record count, UINT32 payload size, UINT32 CRC-32 of the payload,
//                      UINT32 reserved (0)
//   payload: per record EFI_GUID (16 bytes), UINT32 attributes, UINT32 name size in bytes
//            (UTF-16LE with its NUL), UINT32 data size, the name, the data.
#include "VariableStore.h"

#include "HostFiles.h"
#include "HostText.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <system_error>

namespace host {

namespace {

constexpr UINT32 kAccessBits = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr UINT32 kAuthenticationBits =
    EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS | EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS;
constexpr UINT32 kKnownBits = EFI_VARIABLE_NON_VOLATILE | kAccessBits | EFI_VARIABLE_HARDWARE_ERROR_RECORD |
                              kAuthenticationBits | EFI_VARIABLE_APPEND_WRITE;

constexpr std::array<char, 8> kFileMagic = {'B', 'S', 'N', 'V', 'R', 'A', 'M', '\0'};
constexpr UINT32 kFileVersion = 1;
constexpr UINT32 kFileHeaderSize = 32;
constexpr UINT32 kRecordHeaderSize = 16 + 3 * 4;

void PutU32(std::vector<uint8_t> &Out, UINT32 Value) {
  for (int Shift = 0; Shift < 32; Shift += 8) {
    Out.push_back(static_cast<uint8_t>(Value >> Shift));
  }
}

UINT32 GetU32(const uint8_t *In) {
  return UINT32(In[0]) | (UINT32(In[1]) << 8) | (UINT32(In[2]) << 16) | (UINT32(In[3]) << 24);
}

void PutGuid(std::vector<uint8_t> &Out, const EFI_GUID &Guid) {
  PutU32(Out, Guid.Data1);
  Out.push_back(static_cast<uint8_t>(Guid.Data2));
  Out.push_back(static_cast<uint8_t>(Guid.Data2 >> 8));
  Out.push_back(static_cast<uint8_t>(Guid.Data3));
  Out.push_back(static_cast<uint8_t>(Guid.Data3 >> 8));
  Out.insert(Out.end(), std::begin(Guid.Data4), std::end(Guid.Data4));
}

EFI_GUID GetGuid(const uint8_t *In) {
  EFI_GUID Guid{};
  Guid.Data1 = GetU32(In);
  Guid.Data2 = static_cast<UINT16>(In[4] | (In[5] << 8));
  Guid.Data3 = static_cast<UINT16>(In[6] | (In[7] << 8));
  std::copy(In + 8, In + 16, Guid.Data4);
  return Guid;
}

// Reads a NUL-terminated name of at most MaxChars characters; false when it is longer.
bool ReadName(const CHAR16 *Name, size_t MaxChars, std::u16string &Out) {
  Out.clear();
  for (size_t Index = 0; Index <= MaxChars; Index++) {
    if (Name[Index] == 0) {
      return true;
    }
    Out.push_back(Name[Index]);
  }
  return false;
}

UINTN NameBytes(const std::u16string &Name) {
  return (Name.size() + 1) * sizeof(CHAR16);
}

UINTN EntryBytes(const VariableStore::Variable &Entry) {
  return NameBytes(Entry.Name) + Entry.Data.size();
}

bool IsNonVolatile(UINT32 Attributes) {
  return (Attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
}

// Attributes a stored non-volatile variable may have.
bool StorableAttributes(UINT32 Attributes) {
  return (Attributes & ~(EFI_VARIABLE_NON_VOLATILE | kAccessBits)) == 0 && IsNonVolatile(Attributes) &&
         (Attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) != 0;
}

} // namespace

VariableStore::VariableStore(Limits StoreLimits) : Limits_(StoreLimits) {}
VariableStore::VariableStore() : VariableStore(Limits{}) {}

std::vector<VariableStore::Variable>::const_iterator VariableStore::Locate(const std::u16string &Name,
                                                                           const EFI_GUID &Guid) const {
  return std::find_if(Variables_.begin(), Variables_.end(), [&](const Variable &Entry) {
    return Entry.Name == Name && CompareGuidValues(Entry.Guid, Guid);
  });
}

std::vector<VariableStore::Variable>::iterator VariableStore::Locate(const std::u16string &Name,
                                                                     const EFI_GUID &Guid) {
  return std::find_if(Variables_.begin(), Variables_.end(), [&](const Variable &Entry) {
    return Entry.Name == Name && CompareGuidValues(Entry.Guid, Guid);
  });
}

bool VariableStore::Visible(const Variable &Entry) const {
  return !AtRuntime_ || (Entry.Attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0;
}

UINTN VariableStore::UsedBytes(bool NonVolatile) const {
  UINTN Used = 0;
  for (const Variable &Entry : Variables_) {
    if (IsNonVolatile(Entry.Attributes) == NonVolatile) {
      Used += EntryBytes(Entry);
    }
  }
  return Used;
}

EFI_STATUS VariableStore::GetVariable(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                      UINT32 *Attributes, UINTN *DataSize, VOID *Data) const {
  if (VariableName == nullptr || VendorGuid == nullptr || DataSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (VariableName[0] == 0) {
    return EFI_NOT_FOUND; // no variable has an empty name
  }
  std::u16string Name;
  if (!ReadName(VariableName, Limits_.MaxVariableSize / sizeof(CHAR16), Name)) {
    return EFI_NOT_FOUND; // longer than any stored variable can be
  }
  auto Entry = Locate(Name, *VendorGuid);
  if (Entry == Variables_.end() || !Visible(*Entry)) {
    return EFI_NOT_FOUND;
  }
  // Outputs are written on success, and the size and attributes on EFI_BUFFER_TOO_SMALL;
  // on any other error the caller's buffers stay as they were.
  const bool Fits = *DataSize >= Entry->Data.size();
  if (Fits && Data == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Attributes != nullptr) {
    *Attributes = Entry->Attributes;
  }
  if (!Fits) {
    *DataSize = Entry->Data.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Data, Entry->Data.data(), Entry->Data.size());
  *DataSize = Entry->Data.size();
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::GetNextVariableName(UINTN *VariableNameSize, CHAR16 *VariableName,
                                              EFI_GUID *VendorGuid) const {
  if (VariableNameSize == nullptr || VariableName == nullptr || VendorGuid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // The name handed in must end within the buffer the caller says it has.
  const UINTN Chars = *VariableNameSize / sizeof(CHAR16);
  const CHAR16 *Begin = VariableName;
  const CHAR16 *End = std::find(Begin, Begin + Chars, u'\0');
  if (End == Begin + Chars) {
    return EFI_INVALID_PARAMETER;
  }
  const std::u16string Current(Begin, End);

  auto Next = Variables_.begin();
  if (!Current.empty()) {
    auto Entry = Locate(Current, *VendorGuid);
    if (Entry == Variables_.end() || !Visible(*Entry)) {
      return EFI_INVALID_PARAMETER;
    }
    Next = std::next(Entry);
  }
  Next = std::find_if(Next, Variables_.end(), [this](const Variable &Entry) { return Visible(Entry); });
  if (Next == Variables_.end()) {
    return EFI_NOT_FOUND;
  }
  const UINTN Needed = NameBytes(Next->Name);
  if (*VariableNameSize < Needed) {
    *VariableNameSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  std::copy(Next->Name.begin(), Next->Name.end(), VariableName);
  VariableName[Next->Name.size()] = 0;
  *VendorGuid = Next->Guid;
  *VariableNameSize = Needed;
  return EFI_SUCCESS;
}

// Rules every attribute value must pass, whatever the operation.
EFI_STATUS VariableStore::CheckAttributes(UINT32 Attributes) const {
  if ((Attributes & ~kKnownBits) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & kAuthenticationBits) != 0) {
    return EFI_UNSUPPORTED; // authenticated variables are not provided by this store
  }
  if ((Attributes & EFI_VARIABLE_HARDWARE_ERROR_RECORD) != 0) {
    return EFI_INVALID_PARAMETER; // no hardware error record storage
  }
  if ((Attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0 &&
      (Attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::SetVariable(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                      UINT32 Attributes, UINTN DataSize, const VOID *Data) {
  if (VariableName == nullptr || VendorGuid == nullptr || VariableName[0] == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (DataSize != 0 && Data == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = CheckAttributes(Attributes);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  std::u16string Name;
  if (!ReadName(VariableName, Limits_.MaxVariableSize / sizeof(CHAR16), Name)) {
    return EFI_INVALID_PARAMETER; // the name alone exceeds the maximum variable size
  }

  const bool Append = (Attributes & EFI_VARIABLE_APPEND_WRITE) != 0;
  const UINT32 Stored = Attributes & ~EFI_VARIABLE_APPEND_WRITE;
  const bool Delete = !Append && (DataSize == 0 || (Stored & kAccessBits) == 0);
  auto Entry = Locate(Name, *VendorGuid);
  const bool Exists = Entry != Variables_.end() && Visible(*Entry);
  const std::vector<Variable> Previous = Variables_;

  if (Delete) {
    if (!Exists) {
      return EFI_NOT_FOUND;
    }
    if (Stored != 0 && Stored != Entry->Attributes) {
      return EFI_INVALID_PARAMETER;
    }
    if (AtRuntime_ && !IsNonVolatile(Entry->Attributes)) {
      return EFI_WRITE_PROTECTED; // volatile variables are read-only after boot services
    }
    const bool WasNonVolatile = IsNonVolatile(Entry->Attributes);
    Variables_.erase(Entry);
    return WasNonVolatile ? Persist(Previous) : EFI_SUCCESS;
  }

  if ((Stored & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0) {
    return EFI_INVALID_PARAMETER; // an append without access attributes
  }
  if (AtRuntime_) {
    if ((Stored & EFI_VARIABLE_RUNTIME_ACCESS) == 0) {
      return EFI_INVALID_PARAMETER;
    }
    if (!IsNonVolatile(Stored)) {
      return EFI_WRITE_PROTECTED;
    }
  }
  // A hidden variable with the same name and GUID has other attributes by definition.
  if (Entry != Variables_.end() && (!Exists || Entry->Attributes != Stored)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Append && DataSize == 0) {
    return EFI_SUCCESS; // appending nothing changes nothing
  }
  const uint8_t *Bytes = static_cast<const uint8_t *>(Data);
  if (Append && Exists) {
    std::vector<uint8_t> Joined = Entry->Data;
    Joined.insert(Joined.end(), Bytes, Bytes + DataSize);
    return Store(Name, *VendorGuid, Stored, Joined.data(), Joined.size());
  }
  return Store(Name, *VendorGuid, Stored, Bytes, DataSize);
}

// Creates or replaces a variable whose attributes have been checked.
EFI_STATUS VariableStore::Store(const std::u16string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                                const uint8_t *Data, UINTN DataSize) {
  if (DataSize > Limits_.MaxVariableSize || NameBytes(Name) + DataSize > Limits_.MaxVariableSize) {
    return EFI_INVALID_PARAMETER;
  }
  const bool NonVolatile = IsNonVolatile(Attributes);
  auto Entry = Locate(Name, Guid);
  const UINTN Freed = Entry != Variables_.end() ? EntryBytes(*Entry) : 0;
  const UINTN Capacity = NonVolatile ? Limits_.NonVolatileSize : Limits_.VolatileSize;
  if (UsedBytes(NonVolatile) - Freed + NameBytes(Name) + DataSize > Capacity) {
    return EFI_OUT_OF_RESOURCES;
  }
  const std::vector<Variable> Previous = Variables_;
  if (Entry == Variables_.end()) {
    Variables_.push_back(Variable{Name, Guid, Attributes, {}});
    Entry = std::prev(Variables_.end());
  }
  Entry->Data.assign(Data, Data + DataSize);
  return NonVolatile ? Persist(Previous) : EFI_SUCCESS;
}

// Saves the attached file after a non-volatile change; a failed save undoes the change so
// that the store never claims what the next boot will not see.
EFI_STATUS VariableStore::Persist(const std::vector<Variable> &Previous) {
  if (File_.empty() || Save(File_)) {
    return EFI_SUCCESS;
  }
  Variables_ = Previous;
  return EFI_DEVICE_ERROR;
}

EFI_STATUS VariableStore::QueryVariableInfo(UINT32 Attributes, UINT64 *MaximumVariableStorageSize,
                                            UINT64 *RemainingVariableStorageSize,
                                            UINT64 *MaximumVariableSize) const {
  if (MaximumVariableStorageSize == nullptr || RemainingVariableStorageSize == nullptr ||
      MaximumVariableSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & ~kKnownBits) != 0 || (Attributes & EFI_VARIABLE_APPEND_WRITE) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & (kAuthenticationBits | EFI_VARIABLE_HARDWARE_ERROR_RECORD)) != 0) {
    return EFI_UNSUPPORTED;
  }
  if ((Attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (AtRuntime_ && (Attributes & EFI_VARIABLE_RUNTIME_ACCESS) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  const bool NonVolatile = IsNonVolatile(Attributes);
  const UINTN Capacity = NonVolatile ? Limits_.NonVolatileSize : Limits_.VolatileSize;
  *MaximumVariableStorageSize = Capacity;
  *RemainingVariableStorageSize = Capacity - UsedBytes(NonVolatile);
  *MaximumVariableSize = Limits_.MaxVariableSize;
  return EFI_SUCCESS;
}

bool VariableStore::Save(const std::filesystem::path &File, std::string *Error) const {
  std::vector<uint8_t> Payload;
  UINT32 Count = 0;
  for (const Variable &Entry : Variables_) {
    if (!IsNonVolatile(Entry.Attributes)) {
      continue;
    }
    PutGuid(Payload, Entry.Guid);
    PutU32(Payload, Entry.Attributes);
    PutU32(Payload, static_cast<UINT32>(NameBytes(Entry.Name)));
    PutU32(Payload, static_cast<UINT32>(Entry.Data.size()));
    for (char16_t Char : Entry.Name) {
      Payload.push_back(static_cast<uint8_t>(Char));
      Payload.push_back(static_cast<uint8_t>(Char >> 8));
    }
    Payload.push_back(0);
    Payload.push_back(0);
    Payload.insert(Payload.end(), Entry.Data.begin(), Entry.Data.end());
    Count++;
  }
  std::vector<uint8_t> Image(kFileMagic.begin(), kFileMagic.end());
  PutU32(Image, kFileVersion);
  PutU32(Image, kFileHeaderSize);
  PutU32(Image, Count);
  PutU32(Image, static_cast<UINT32>(Payload.size()));
  PutU32(Image, Crc32(Payload.data(), Payload.size()));
  PutU32(Image, 0);
  Image.insert(Image.end(), Payload.begin(), Payload.end());

  return WriteDurably(File, Image, Error);
}

void VariableStore::SetSaveHook(std::function<void(SavePoint)> Hook) {
  SetSavePointHook(std::move(Hook));
}

bool VariableStore::WriteDurably(const std::filesystem::path &File, const std::vector<uint8_t> &Image,
                                 std::string *Error) {
  return ReplaceFileDurably(File, Image, Error);
}

namespace {

// Parses the file image into non-volatile variables; returns an error text or "".
std::string ParseNvram(std::span<const uint8_t> Image, const VariableStore::Limits &Limits,
                       std::vector<VariableStore::Variable> &Out) {
  if (Image.size() < kFileHeaderSize) {
    return "truncated header";
  }
  if (!std::equal(kFileMagic.begin(), kFileMagic.end(), Image.begin())) {
    return "bad magic";
  }
  const uint8_t *Header = Image.data() + kFileMagic.size();
  if (GetU32(Header) != kFileVersion) {
    return "unsupported version " + std::to_string(GetU32(Header));
  }
  if (GetU32(Header + 4) != kFileHeaderSize) {
    return "bad header size";
  }
  const UINT32 Count = GetU32(Header + 8);
  const UINT32 PayloadSize = GetU32(Header + 12);
  if (PayloadSize != Image.size() - kFileHeaderSize) {
    return "payload size does not match the file size";
  }
  const uint8_t *Payload = Image.data() + kFileHeaderSize;
  if (Crc32(Payload, PayloadSize) != GetU32(Header + 16)) {
    return "checksum mismatch";
  }
  size_t Offset = 0;
  UINTN Used = 0;
  for (UINT32 Index = 0; Index < Count; Index++) {
    if (PayloadSize - Offset < kRecordHeaderSize) {
      return "truncated record " + std::to_string(Index);
    }
    const uint8_t *Record = Payload + Offset;
    VariableStore::Variable Entry;
    Entry.Guid = GetGuid(Record);
    Entry.Attributes = GetU32(Record + 16);
    const UINT32 NameSize = GetU32(Record + 20);
    const UINT32 DataSize = GetU32(Record + 24);
    Offset += kRecordHeaderSize;
    if (NameSize < 2 * sizeof(CHAR16) || NameSize % sizeof(CHAR16) != 0 || DataSize == 0 ||
        uint64_t(NameSize) + DataSize > Limits.MaxVariableSize ||
        NameSize + DataSize > PayloadSize - Offset) {
      return "bad sizes in record " + std::to_string(Index);
    }
    if (!StorableAttributes(Entry.Attributes)) {
      return "bad attributes in record " + std::to_string(Index);
    }
    for (UINT32 Char = 0; Char + 1 < NameSize / sizeof(CHAR16); Char++) {
      const char16_t Value =
          static_cast<char16_t>(Payload[Offset + 2 * Char] | (Payload[Offset + 2 * Char + 1] << 8));
      if (Value == 0) {
        return "bad name in record " + std::to_string(Index);
      }
      Entry.Name.push_back(Value);
    }
    if (Payload[Offset + NameSize - 2] != 0 || Payload[Offset + NameSize - 1] != 0) {
      return "unterminated name in record " + std::to_string(Index);
    }
    Offset += NameSize;
    Entry.Data.assign(Payload + Offset, Payload + Offset + DataSize);
    Offset += DataSize;
    Used += NameSize + DataSize;
    const bool Duplicate = std::any_of(Out.begin(), Out.end(), [&](const VariableStore::Variable &Other) {
      return Other.Name == Entry.Name && CompareGuidValues(Other.Guid, Entry.Guid);
    });
    if (Duplicate) {
      return "duplicate variable in record " + std::to_string(Index);
    }
    Out.push_back(std::move(Entry));
  }
  if (Offset != PayloadSize) {
    return "trailing bytes after the last record";
  }
  if (Used > Limits.NonVolatileSize) {
    return "more variables than the store holds";
  }
  return "";
}

} // namespace

bool VariableStore::LoadFromBytes(std::span<const uint8_t> Image, std::string *Error) {
  std::erase_if(Variables_, [](const Variable &Entry) { return IsNonVolatile(Entry.Attributes); });
  std::vector<Variable> Loaded;
  const std::string Problem = ParseNvram(Image, Limits_, Loaded);
  if (!Problem.empty()) {
    if (Error != nullptr) {
      *Error = Problem;
    }
    return false;
  }
  Variables_.insert(Variables_.begin(), Loaded.begin(), Loaded.end());
  return true;
}

bool VariableStore::Load(const std::filesystem::path &File, std::string *Error) {
  std::erase_if(Variables_, [](const Variable &Entry) { return IsNonVolatile(Entry.Attributes); });
  std::error_code Code;
  if (!std::filesystem::exists(File, Code) && !Code) {
    return true;
  }
  std::string Problem;
  const std::optional<std::vector<uint8_t>> Image = ReadFileBytes(File, Problem);
  if (Image && LoadFromBytes(*Image, &Problem)) {
    return true;
  }
  if (Error != nullptr) {
    *Error = File.string() + ": " + Problem + "; no non-volatile variables loaded";
  }
  return false;
}

bool VariableStore::AttachFile(const std::filesystem::path &File, std::string *Error) {
  File_ = File;
  std::string Problem;
  if (Load(File, &Problem)) {
    return true;
  }
  // The next save overwrites the damaged file; keep a copy of it for inspection.
  std::filesystem::path Keep = File;
  Keep += ".corrupt";
  std::error_code Code;
  std::filesystem::copy_file(File, Keep, std::filesystem::copy_options::overwrite_existing, Code);
  if (Error != nullptr) {
    *Error = Problem + (Code ? "" : " (copy kept as " + Keep.string() + ")");
  }
  return false;
}

std::vector<VariableStore::Variable> VariableStore::List() const {
  return Variables_;
}

std::optional<VariableStore::Variable> VariableStore::Find(const std::string &Name,
                                                           const EFI_GUID &Guid) const {
  auto Entry = Locate(Utf8ToUtf16(Name), Guid);
  if (Entry == Variables_.end()) {
    return std::nullopt;
  }
  return *Entry;
}

EFI_STATUS VariableStore::Set(const std::string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                              const std::vector<uint8_t> &Data) {
  const std::u16string Wide = Utf8ToUtf16(Name);
  return SetVariable(Wide.c_str(), &Guid, Attributes, Data.size(), Data.empty() ? nullptr : Data.data());
}

EFI_STATUS VariableStore::Delete(const std::string &Name, const EFI_GUID &Guid) {
  const std::u16string Wide = Utf8ToUtf16(Name);
  return SetVariable(Wide.c_str(), &Guid, 0, 0, nullptr);
}

std::string VariableStore::FormatAttributes(UINT32 Attributes) {
  constexpr std::array<std::pair<UINT32, const char *>, 7> kNames = {{
      {EFI_VARIABLE_NON_VOLATILE, "NV"},
      {EFI_VARIABLE_BOOTSERVICE_ACCESS, "BS"},
      {EFI_VARIABLE_RUNTIME_ACCESS, "RT"},
      {EFI_VARIABLE_HARDWARE_ERROR_RECORD, "HR"},
      {EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS, "AW"},
      {EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS, "AT"},
      {EFI_VARIABLE_APPEND_WRITE, "AP"},
  }};
  std::string Out;
  for (const auto &[Bit, Name] : kNames) {
    if ((Attributes & Bit) != 0) {
      Out += Out.empty() ? "" : "+";
      Out += Name;
    }
  }
  return Out.empty() ? "0" : Out;
}

} // namespace host
