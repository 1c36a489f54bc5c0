// Device path size, duplication and appending over the fake pool.
#include "FakeUefi.h"

#include <Library/DevicePathLib.h>
#include <Library/MemoryAllocationLib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

#pragma pack(push, 1)
struct RootBridgePath {
  ACPI_HID_DEVICE_PATH Acpi;
  EFI_DEVICE_PATH_PROTOCOL End;
};
#pragma pack(pop)

constexpr RootBridgePath RootBridge = {
    {{ACPI_DEVICE_PATH, ACPI_DP, {sizeof(ACPI_HID_DEVICE_PATH), 0}}, EISA_PNP_ID(0x0A03), 0xFF},
    {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}}};

constexpr ACPI_ADR_DEVICE_PATH DisplayNode = {
    {ACPI_DEVICE_PATH, ACPI_ADR_DP, {sizeof(ACPI_ADR_DEVICE_PATH), 0}}, 0x80010100};

const EFI_DEVICE_PATH_PROTOCOL *Path(const void *Bytes) {
  return static_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Bytes);
}

std::vector<UINT8> BytesOf(const void *Data, size_t Size) {
  const UINT8 *Begin = static_cast<const UINT8 *>(Data);
  return {Begin, Begin + Size};
}

TEST(DevicePathLib, SizeCountsTheEndNodeAndRejectsMalformedPaths) {
  EXPECT_EQ(GetDevicePathSize(Path(&RootBridge)), 16u);
  EXPECT_EQ(GetDevicePathSize(nullptr), 0u);
  // A node with a length below its header would loop forever if trusted.
  RootBridgePath Broken = RootBridge;
  SetDevicePathNodeLength(&Broken.Acpi, 0);
  EXPECT_EQ(GetDevicePathSize(Path(&Broken)), 0u);
}

TEST(DevicePathLib, AppendNodeReplacesTheEndNode) {
  FakeUefi Uefi;
  EFI_DEVICE_PATH_PROTOCOL *Child = AppendDevicePathNode(Path(&RootBridge), Path(&DisplayNode));
  ASSERT_NE(Child, nullptr);
  ASSERT_EQ(GetDevicePathSize(Child), 24u);
  std::vector<UINT8> Expected = BytesOf(&RootBridge.Acpi, 12);
  std::vector<UINT8> Node = BytesOf(&DisplayNode, 8);
  Expected.insert(Expected.end(), Node.begin(), Node.end());
  Expected.insert(Expected.end(), {0x7F, 0xFF, 0x04, 0x00});
  EXPECT_EQ(BytesOf(Child, 24), Expected);
  FreePool(Child);
  EXPECT_TRUE(Uefi.Pool.empty()) << "temporary node path leaked";
}

TEST(DevicePathLib, AppendPathsAndNullOperands) {
  FakeUefi Uefi;
  EFI_DEVICE_PATH_PROTOCOL *Twice = AppendDevicePath(Path(&RootBridge), Path(&RootBridge));
  ASSERT_NE(Twice, nullptr);
  EXPECT_EQ(GetDevicePathSize(Twice), 28u);
  EXPECT_EQ(DevicePathType(NextDevicePathNode(Twice)), ACPI_DEVICE_PATH);
  EXPECT_TRUE(IsDevicePathEnd(NextDevicePathNode(NextDevicePathNode(Twice))));

  EFI_DEVICE_PATH_PROTOCOL *Empty = AppendDevicePath(nullptr, nullptr);
  ASSERT_NE(Empty, nullptr);
  EXPECT_EQ(GetDevicePathSize(Empty), 4u);

  EFI_DEVICE_PATH_PROTOCOL *Copy = AppendDevicePath(nullptr, Path(&RootBridge));
  ASSERT_NE(Copy, nullptr);
  EXPECT_NE(Copy, Path(&RootBridge));
  EXPECT_EQ(std::memcmp(Copy, &RootBridge, 16), 0);

  EFI_DEVICE_PATH_PROTOCOL *NodeOnly = AppendDevicePathNode(nullptr, Path(&DisplayNode));
  ASSERT_NE(NodeOnly, nullptr);
  EXPECT_EQ(GetDevicePathSize(NodeOnly), 12u);

  for (EFI_DEVICE_PATH_PROTOCOL *Result : {Twice, Empty, Copy, NodeOnly}) {
    FreePool(Result);
  }
  EXPECT_TRUE(Uefi.Pool.empty());
}

TEST(DevicePathLib, FailedAllocationGivesNull) {
  FakeUefi Uefi;
  Uefi.FailAllocations = true;
  EXPECT_EQ(DuplicateDevicePath(Path(&RootBridge)), nullptr);
  EXPECT_EQ(AppendDevicePathNode(Path(&RootBridge), Path(&DisplayNode)), nullptr);
}

} // namespace
