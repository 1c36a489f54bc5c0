// Text and checksum helpers of the host side: UTF-16/UTF-8 conversion, GUID text and CRC-32.
// They keep no state and need nothing else of the core, so the tools, tests and fuzzers that
// build the variable store on its own build this file with it.
#pragma once

#include <Uefi/UefiBaseType.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace host {

// The reflected IEEE 802.3 CRC-32 (polynomial 0xEDB88320), as CalculateCrc32 computes it.
uint32_t Crc32(const void *Data, size_t Size);

std::string Utf16ToUtf8(const std::u16string &Text);
// A malformed or cut UTF-8 sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string &Text);

// "158DEF5A-F656-419C-B027-7A3192C079D2"
std::string GuidText(const EFI_GUID &Guid);
// 8-4-4-4-12 hexadecimal digits, either case, with or without braces.
std::optional<EFI_GUID> ParseGuid(const std::string &Text);

// A number as options give it: decimal, or hexadecimal with 0x; nothing for a sign, trailing
// characters or a value beyond 64 bits.
std::optional<uint64_t> ParseNumber(const std::string &Text);

} // namespace host
