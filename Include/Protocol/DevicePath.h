// Device path protocol and the node types the modules build (UEFI 2.x, chapter 10).
#pragma once

#include <Uefi/UefiBaseType.h>

#define EFI_DEVICE_PATH_PROTOCOL_GUID                                                                        \
  {                                                                                                          \
    0x09576E91, 0x6D3F, 0x11D2, {                                                                            \
      0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiDevicePathProtocolGuid;

#pragma pack(push, 1)
struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4);

constexpr UINT8 HARDWARE_DEVICE_PATH = 0x01;
constexpr UINT8 HW_PCI_DP = 0x01;
constexpr UINT8 HW_VENDOR_DP = 0x04;
constexpr UINT8 ACPI_DEVICE_PATH = 0x02;
constexpr UINT8 ACPI_DP = 0x01;
constexpr UINT8 ACPI_ADR_DP = 0x03;
constexpr UINT8 MEDIA_DEVICE_PATH = 0x04;
constexpr UINT8 END_DEVICE_PATH_TYPE = 0x7F;
constexpr UINT8 END_ENTIRE_DEVICE_PATH_SUBTYPE = 0xFF;
constexpr UINT8 END_INSTANCE_DEVICE_PATH_SUBTYPE = 0x01;

struct PCI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 Function;
  UINT8 Device;
};
static_assert(sizeof(PCI_DEVICE_PATH) == 6);

struct ACPI_HID_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 HID;
  UINT32 UID;
};
static_assert(sizeof(ACPI_HID_DEVICE_PATH) == 12);

struct ACPI_ADR_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 ADR;
};
static_assert(sizeof(ACPI_ADR_DEVICE_PATH) == 8);

struct VENDOR_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID Guid;
};
static_assert(sizeof(VENDOR_DEVICE_PATH) == 20);
#pragma pack(pop)

// Compressed EISA id as ACPI device path nodes carry it ("PNP0A03" -> EISA_PNP_ID(0x0A03)).
constexpr UINT32 EISA_PNP_ID(UINT32 PnpId) {
  return (PnpId << 16) | 0x41D0;
}
