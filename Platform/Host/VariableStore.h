// The UEFI variable store of the emulated core: GetVariable, SetVariable, GetNextVariableName
// and QueryVariableInfo with the UEFI attribute, size and visibility rules. Non-volatile
// variables persist in an NVRAM file so that the next emulated boot sees them.
#pragma once

#include "HostFiles.h"

#include <Uefi.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace host {

class VariableStore {
public:
  struct Limits {
    UINTN MaxVariableSize = 64 * 1024;  // name (with its NUL) plus data, per variable
    UINTN NonVolatileSize = 256 * 1024; // all non-volatile variables together
    UINTN VolatileSize = 256 * 1024;    // all volatile variables together
  };

  struct Variable {
    std::u16string Name; // without the NUL
    EFI_GUID Guid{};
    UINT32 Attributes = 0;
    std::vector<uint8_t> Data;
  };

  explicit VariableStore(Limits StoreLimits);
  VariableStore();

  // Runtime services, with the UEFI parameter lists.
  EFI_STATUS GetVariable(const CHAR16 *VariableName, const EFI_GUID *VendorGuid, UINT32 *Attributes,
                         UINTN *DataSize, VOID *Data) const;
  EFI_STATUS GetNextVariableName(UINTN *VariableNameSize, CHAR16 *VariableName, EFI_GUID *VendorGuid) const;
  EFI_STATUS SetVariable(const CHAR16 *VariableName, const EFI_GUID *VendorGuid, UINT32 Attributes,
                         UINTN DataSize, const VOID *Data);
  EFI_STATUS QueryVariableInfo(UINT32 Attributes, UINT64 *MaximumVariableStorageSize,
                               UINT64 *RemainingVariableStorageSize, UINT64 *MaximumVariableSize) const;

  // From ExitBootServices on, variables without runtime access are hidden and only
  // non-volatile runtime variables may be written.
  void MarkBootServicesEnded() { AtRuntime_ = true; }
  bool AtRuntime() const { return AtRuntime_; }

  // Persistence. Load replaces the non-volatile variables with the file's content; a missing
  // file gives an empty store and counts as success. A corrupt or truncated file is reported
  // through Error and leaves no non-volatile variables. Save writes every non-volatile
  // variable (atomically and durably: a temporary file synced to disk, then renamed over File).
  bool Load(const std::filesystem::path &File, std::string *Error = nullptr);
  // Load from a file image already in memory; Error gets the problem alone, without a file name.
  bool LoadFromBytes(std::span<const uint8_t> Image, std::string *Error = nullptr);
  bool Save(const std::filesystem::path &File, std::string *Error = nullptr) const;
  // Loads File and from then on saves it after every change of a non-volatile variable.
  bool AttachFile(const std::filesystem::path &File, std::string *Error = nullptr);
  const std::filesystem::path &AttachedFile() const { return File_; }

  // Where a save can be cut short by a lost process or power. Tests set a hook that runs at
  // each point (and may end the process there); none is set otherwise.
  using SavePoint = host::SavePoint;
  static void SetSaveHook(std::function<void(SavePoint)> Hook);

  // Host-side helpers for tools and tests. Names are UTF-8.
  std::vector<Variable> List() const; // every variable, in creation order, hidden ones too
  std::optional<Variable> Find(const std::string &Name, const EFI_GUID &Guid) const;
  EFI_STATUS Set(const std::string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                 const std::vector<uint8_t> &Data);
  EFI_STATUS Delete(const std::string &Name, const EFI_GUID &Guid);
  UINTN UsedBytes(bool NonVolatile) const;

  const Limits &StoreLimits() const { return Limits_; }

  static std::string FormatAttributes(UINT32 Attributes); // "NV+BS+RT"
  // Replaces File with Image so that a process or power lost at any point leaves the old file
  // or the new one (the save hook's points apply); the board's other stored images use it too.
  static bool WriteDurably(const std::filesystem::path &File, const std::vector<uint8_t> &Image,
                           std::string *Error);

private:
  std::vector<Variable>::const_iterator Locate(const std::u16string &Name, const EFI_GUID &Guid) const;
  std::vector<Variable>::iterator Locate(const std::u16string &Name, const EFI_GUID &Guid);
  bool Visible(const Variable &Entry) const;
  EFI_STATUS CheckAttributes(UINT32 Attributes) const;
  EFI_STATUS Store(const std::u16string &Name, const EFI_GUID &Guid, UINT32 Attributes, const uint8_t *Data,
                   UINTN DataSize);
  EFI_STATUS Persist(const std::vector<Variable> &Previous);

  Limits Limits_;
  std::vector<Variable> Variables_;
  std::filesystem::path File_;
  bool AtRuntime_ = false;
};

} // namespace host
