// The management-processor firmware report: version, build identifier and date, the TPC and
// AVS state, the PMD and SoC voltages and the board's MAC addresses.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/PrintLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/EepromMac.h>

#include "PelmoLibInternal.h"

namespace {

constexpr UINTN LINE_CHARS = 32;
constexpr UINTN MAC_SECTION_CHARS = 180;

constexpr UINT32 FEATURE_VALID = 1u << 0;
constexpr UINT32 FEATURE_TPC_ENABLED = 1u << 1;
constexpr UINT32 FEATURE_AVS_SUPPORTED = 1u << 2;
constexpr UINT32 FEATURE_BUILD_ID = 1u << 5;
constexpr UINT32 PMD_CODE_SHIFT = 16;
constexpr UINT32 SOC_CODE_SHIFT = 20;
constexpr UINT32 VOLTAGE_CODE_MASK = 0xF;

constexpr UINT32 BASE_MILLIVOLTS = 900;
constexpr UINT32 MILLIVOLTS_PER_CODE = 10;
constexpr UINT32 PMD_LINEAR_CODES = 10;
constexpr UINT32 PMD_LAST_CODE = 13;
constexpr UINT32 SOC_LAST_CODE = 6;
constexpr UINT32 NO_VOLTAGE = 0;

constexpr const CHAR16 *NOT_AVAILABLE = u"N/A";

// PMD codes 0 to 10 step by 10 mV from 900 mV; 11, 12 and 13 are 1100, 1200 and 1300 mV.
constexpr UINT32 PmdMillivolts(UINT32 Code) {
  if (Code <= PMD_LINEAR_CODES) {
    return BASE_MILLIVOLTS + MILLIVOLTS_PER_CODE * Code;
  }
  return Code <= PMD_LAST_CODE ? (Code - PMD_LINEAR_CODES) * 100 + 1000 : NO_VOLTAGE;
}
static_assert(PmdMillivolts(0) == 900 && PmdMillivolts(10) == 1000 && PmdMillivolts(11) == 1100);
static_assert(PmdMillivolts(13) == 1300 && PmdMillivolts(14) == NO_VOLTAGE);

constexpr UINT32 SocMillivolts(UINT32 Code) {
  return Code <= SOC_LAST_CODE ? BASE_MILLIVOLTS + MILLIVOLTS_PER_CODE * Code : NO_VOLTAGE;
}
static_assert(SocMillivolts(6) == 960 && SocMillivolts(7) == NO_VOLTAGE);

struct FIRMWARE_FACTS {
  UINT32 Major;
  UINT32 Minor;
  UINT32 BuildDate;
  UINT32 Features;
  UINT32 BuildId; // 0 when absent
};

FIRMWARE_FACTS ReadFacts() {
  const UINT32 Status = PelmoStatusWord(PELMO_STATUS_FIRMWARE);
  FIRMWARE_FACTS Facts = {(Status >> 4) & 0xF, Status & 0xF, PelmoStatusWord(PELMO_STATUS_BUILD_DATE),
                          PelmoStatusWord(PELMO_STATUS_FEATURES), 0};
  if ((Facts.Features & FEATURE_BUILD_ID) != 0) {
    Facts.BuildId = PelmoQueryBuildId();
  }
  if (Facts.BuildId == PELMO_BUILD_ID_ABSENT) {
    Facts.BuildId = 0;
  }
  return Facts;
}

UINT32 IdByte(UINT32 BuildId, UINTN Index) {
  return (BuildId >> (24 - 8 * Index)) & 0xFF;
}

VOID FormatVoltageLine(CHAR16 *Line, const CHAR16 *Format, UINT32 Millivolts) {
  if (Millivolts != NO_VOLTAGE) {
    UnicodeSPrint(Line, LINE_CHARS * sizeof(CHAR16), Format, Millivolts);
  }
}

// The MAC section: the heading and every slot the EEPROM service filled. A slot that no
// longer fits into the section's buffer is left out, as is a slot still holding "N/A".
VOID FormatMacSection(CHAR16 *Section) {
  ZeroMem(Section, MAC_SECTION_CHARS * sizeof(CHAR16));
  EEPROM_MAC_PROTOCOL *EepromMac = NULL;
  if (EFI_ERROR(gBS->LocateProtocol(&gEepromMacProtocolGuid, NULL, reinterpret_cast<VOID **>(&EepromMac))) ||
      EepromMac == NULL || EepromMac->GetMacAddresses == NULL) {
    return;
  }
  MAC_STRING_TABLE Table;
  for (UINTN Slot = 0; Slot < MAC_STRING_SLOT_COUNT; Slot++) {
    ZeroMem(Table[Slot], MAC_STRING_SLOT_BYTES);
    StrCpyS(Table[Slot], MAC_STRING_SLOT_CHARS, NOT_AVAILABLE);
  }
  if (EFI_ERROR(EepromMac->GetMacAddresses(&Table[0][0]))) {
    return;
  }
  StrCpyS(Section, MAC_SECTION_CHARS, u"\n\r\tMAC address:");
  for (UINTN Slot = 0; Slot < MAC_STRING_SLOT_COUNT; Slot++) {
    // The service may fill a slot to its last character: take at most the slot's length.
    CHAR16 Text[MAC_STRING_SLOT_CHARS + 1] = {};
    StrnCpyS(Text, MAC_STRING_SLOT_CHARS + 1, Table[Slot], StrnLenS(Table[Slot], MAC_STRING_SLOT_CHARS));
    if (StrCmp(Text, NOT_AVAILABLE) == 0) {
      continue;
    }
    CHAR16 Entry[LINE_CHARS] = {};
    UnicodeSPrint(Entry, sizeof(Entry), u"\n\r\t\t%s", Text);
    StrCatS(Section, MAC_SECTION_CHARS, Entry);
  }
}

VOID FormatShortReport(CHAR16 *Buffer, UINT32 BufferSize, const FIRMWARE_FACTS &Facts) {
  if (Facts.BuildId == 0) {
    UnicodeSPrint(Buffer, BufferSize, u"Pelmo FW:\n\r\tVer: %d.%d\n\r", Facts.Major, Facts.Minor);
    return;
  }
  UnicodeSPrint(Buffer, BufferSize, u"Pelmo FW:\n\r\tVer: (build %02d.%02d.%02d.%02d) %d.%d\n\r",
                IdByte(Facts.BuildId, 0), IdByte(Facts.BuildId, 1), IdByte(Facts.BuildId, 2),
                IdByte(Facts.BuildId, 3), Facts.Major, Facts.Minor);
}

VOID FormatLongReport(CHAR16 *Buffer, UINT32 BufferSize, const FIRMWARE_FACTS &Facts) {
  CHAR16 Tpc[LINE_CHARS] = {};
  CHAR16 Avs[LINE_CHARS] = {};
  CHAR16 Pmd[LINE_CHARS] = {};
  CHAR16 Soc[LINE_CHARS] = {};
  CHAR16 Mac[MAC_SECTION_CHARS];
  if ((Facts.Features & FEATURE_VALID) != 0) {
    UnicodeSPrint(Tpc, sizeof(Tpc), u"%s",
                  (Facts.Features & FEATURE_TPC_ENABLED) != 0 ? u"\n\r\tTPC: enable" : u"\n\r\tTPC: disable");
    UnicodeSPrint(Avs, sizeof(Avs), u"%s",
                  (Facts.Features & FEATURE_AVS_SUPPORTED) != 0 ? u"\n\r\tAVS: supported"
                                                                : u"\n\r\tAVS: unsupported");
  }
  FormatVoltageLine(Pmd, u"\n\r\tPMD: %d mV",
                    PmdMillivolts((Facts.Features >> PMD_CODE_SHIFT) & VOLTAGE_CODE_MASK));
  FormatVoltageLine(Soc, u"\n\r\tSOC: %d mV",
                    SocMillivolts((Facts.Features >> SOC_CODE_SHIFT) & VOLTAGE_CODE_MASK));
  FormatMacSection(Mac);

  const UINT32 Year = Facts.BuildDate >> 16;
  const UINT32 Month = (Facts.BuildDate >> 8) & 0xFF;
  const UINT32 Day = Facts.BuildDate & 0xFF;
  if (Facts.BuildId == 0) {
    UnicodeSPrint(Buffer, BufferSize, u"Pelmo FW:\n\r\tVer: %d.%d (build %04x/%02x/%02x)%s%s%s%s%s\n\r",
                  Facts.Major, Facts.Minor, Year, Month, Day, Tpc, Avs, Pmd, Soc, Mac);
    return;
  }
  UnicodeSPrint(Buffer, BufferSize,
                u"Pelmo FW:\n\r\tVer: %d.%d (build %02d.%02d.%02d.%02d %04x/%02x/%02x)%s%s%s%s%s\n\r",
                Facts.Major, Facts.Minor, IdByte(Facts.BuildId, 0), IdByte(Facts.BuildId, 1),
                IdByte(Facts.BuildId, 2), IdByte(Facts.BuildId, 3), Year, Month, Day, Tpc, Avs, Pmd, Soc,
                Mac);
}

} // namespace

EFI_STATUS PelmoFormatFirmwareInfo(CHAR16 *Buffer, UINT32 BufferSize) {
  if (PelmoGetLoadState() == PELMO_LOAD_STATE_NO_FIRMWARE) {
    return EFI_UNSUPPORTED;
  }
  const FIRMWARE_FACTS Facts = ReadFacts();
  if (Facts.BuildDate == 0) {
    FormatShortReport(Buffer, BufferSize, Facts);
  } else {
    FormatLongReport(Buffer, BufferSize, Facts);
  }
  return EFI_SUCCESS;
}
