// A compiled test table copied into a buffer of exactly its size, so that a read past its
// end is a heap overflow that the sanitizer build reports.
#pragma once

#include <BoardAcpiTables.h>
#include <IndustryStandard/Acpi.h>
#include <Library/EfiLib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

class AmlTable {
public:
  explicit AmlTable(std::string_view Name) {
    std::span<const uint8_t> Compiled = host::CompiledAml(Name);
    Bytes_.assign(Compiled.begin(), Compiled.end());
  }
  bool Empty() const { return Bytes_.size() <= sizeof(EFI_ACPI_DESCRIPTION_HEADER); }
  UINT8 *Begin() { return Bytes_.data(); }
  UINT8 *End() { return Bytes_.data() + Bytes_.size(); }
  // The AML after the standard header.
  UINT8 *Body() { return Begin() + sizeof(EFI_ACPI_DESCRIPTION_HEADER); }
  UINTN BodyLength() const { return Bytes_.size() - sizeof(EFI_ACPI_DESCRIPTION_HEADER); }
  size_t Offset(const UINT8 *Pointer) const { return static_cast<size_t>(Pointer - Bytes_.data()); }

  // Searches the whole body.
  EFI_STATUS Find(const char *Name, UINT32 Kind, AML_OBJECT_INFO *Info) {
    return FindAmlObject(Body(), BodyLength(), Name, Kind, Info);
  }
  // Searches inside a found object, from its DataStart to its end.
  EFI_STATUS FindInside(const AML_OBJECT_INFO &Parent, const char *Name, UINT32 Kind, AML_OBJECT_INFO *Info) {
    UINTN Length = AmlClampLength(Parent.DataStart, End() - Parent.DataStart, AmlObjectEnd(&Parent));
    return FindAmlObject(Parent.DataStart, Length, Name, Kind, Info);
  }

private:
  std::vector<UINT8> Bytes_;
};

inline std::string Text(const UINT8 *Bytes, size_t Length) {
  return std::string(reinterpret_cast<const char *>(Bytes), Length);
}

// Info filled with a recognisable pattern, to check that a failed search leaves it alone.
inline AML_OBJECT_INFO SentinelInfo() {
  AML_OBJECT_INFO Info;
  std::memset(&Info, 0xA5, sizeof(Info));
  return Info;
}

inline bool SameInfo(const AML_OBJECT_INFO &A, const AML_OBJECT_INFO &B) {
  return std::memcmp(&A, &B, sizeof(A)) == 0;
}
