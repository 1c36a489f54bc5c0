// The host bridge's resource allocation members and the root bridge's resource descriptors,
// byte for byte, as the PCI bus driver receives them.
#include "BridgemimicTestBoard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace bridgemimic_test {
namespace {

// A QWORD address space descriptor as bytes.
std::vector<uint8_t> Qword(uint8_t Type, uint64_t Granularity, uint64_t Min, uint64_t Max, uint64_t Length) {
  std::vector<uint8_t> Bytes = {0x8A, 0x2B, 0x00, Type, 0, 0};
  for (uint64_t Field : {Granularity, Min, Max, uint64_t{0}, Length}) {
    for (int Byte = 0; Byte < 8; Byte++) {
      Bytes.push_back(static_cast<uint8_t>(Field >> (8 * Byte)));
    }
  }
  return Bytes;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> Parts) {
  std::vector<uint8_t> All;
  for (const auto &Part : Parts) {
    All.insert(All.end(), Part.begin(), Part.end());
  }
  return All;
}

const std::vector<uint8_t> END_TAG = {0x79, 0x00};
const std::vector<uint8_t> ENUMERATION_LIST = Concat({Qword(2, 0, 0xFF, 0xFF, 1), END_TAG});
const std::vector<uint8_t> CONFIGURATION_LIST =
    Concat({Qword(2, 1, 0xFF, 0xFF, 1), Qword(0, 32, 0x19000000, 0x1ABFFFFF, 0x1C00000), END_TAG});

class ResourceAllocation : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_NE(Alloc, nullptr); }

  // Takes a list a member handed out: its bytes, then it goes back to the pool.
  std::vector<uint8_t> Take(void *List, size_t Size) {
    std::vector<uint8_t> Bytes(static_cast<uint8_t *>(List), static_cast<uint8_t *>(List) + Size);
    EXPECT_EQ(Board.Core().BootServices()->FreePool(List), EFI_SUCCESS);
    return Bytes;
  }

  TestBoard Board;
  EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *Alloc = Board.ResAlloc();
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Io = Board.RbIo();
  EFI_HANDLE Rb = Board.RbHandle();
};

TEST_F(ResourceAllocation, WalksTheOneRootBridge) {
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Alloc->GetNextRootBridge(Alloc, &Handle), EFI_SUCCESS);
  EXPECT_EQ(Handle, Rb);
  EXPECT_EQ(Alloc->GetNextRootBridge(Alloc, &Handle), EFI_NOT_FOUND);
  EXPECT_EQ(Alloc->GetNextRootBridge(Alloc, nullptr), EFI_INVALID_PARAMETER);
  EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL Foreign = *Alloc;
  Handle = nullptr;
  EXPECT_EQ(Alloc->GetNextRootBridge(&Foreign, &Handle), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->ParentHandle != nullptr, true) << "the host bridge handle is the root bridge's parent";
}

TEST_F(ResourceAllocation, ChecksThisAndHandleOnEveryMember) {
  EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL Foreign = *Alloc;
  EFI_HANDLE Other = Board.Core().FirmwareHandle();
  UINT64 Attributes = 0;
  void *List = nullptr;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_PCI_ADDRESS Address{};
  std::vector<uint8_t> Bus = ENUMERATION_LIST;
  struct Case {
    const char *What;
    EFI_STATUS Status;
    EFI_STATUS Expected;
  };
  const Case Cases[] = {
      {"NotifyPhase", Alloc->NotifyPhase(Alloc, EfiPciHostBridgeAllocateResources), EFI_SUCCESS},
      {"NotifyPhase foreign", Alloc->NotifyPhase(&Foreign, EfiPciHostBridgeBeginEnumeration),
       EFI_INVALID_PARAMETER},
      {"GetAllocAttributes", Alloc->GetAllocAttributes(Alloc, Rb, &Attributes), EFI_SUCCESS},
      {"GetAllocAttributes NULL", Alloc->GetAllocAttributes(Alloc, Rb, nullptr), EFI_INVALID_PARAMETER},
      {"GetAllocAttributes handle", Alloc->GetAllocAttributes(Alloc, Other, &Attributes),
       EFI_INVALID_PARAMETER},
      {"StartBusEnumeration NULL", Alloc->StartBusEnumeration(Alloc, Rb, nullptr), EFI_INVALID_PARAMETER},
      {"StartBusEnumeration handle", Alloc->StartBusEnumeration(Alloc, Other, &List), EFI_INVALID_PARAMETER},
      {"SetBusNumbers handle", Alloc->SetBusNumbers(Alloc, Other, Bus.data()), EFI_INVALID_PARAMETER},
      {"SetBusNumbers NULL", Alloc->SetBusNumbers(Alloc, Rb, nullptr), EFI_INVALID_PARAMETER},
      {"SubmitResources NULL", Alloc->SubmitResources(Alloc, Rb, nullptr), EFI_INVALID_PARAMETER},
      {"SubmitResources foreign", Alloc->SubmitResources(&Foreign, Rb, Bus.data()), EFI_INVALID_PARAMETER},
      {"GetProposedResources", Alloc->GetProposedResources(Alloc, Rb, &List), EFI_UNSUPPORTED},
      {"GetProposedResources handle", Alloc->GetProposedResources(Alloc, Other, &List),
       EFI_INVALID_PARAMETER},
      {"GetProposedResources NULL", Alloc->GetProposedResources(Alloc, Rb, nullptr), EFI_INVALID_PARAMETER},
      {"PreprocessController",
       Alloc->PreprocessController(Alloc, Rb, Address, EfiPciBeforeChildBusEnumeration), EFI_SUCCESS},
      {"PreprocessController handle",
       Alloc->PreprocessController(Alloc, Other, Address, EfiPciBeforeResourceCollection),
       EFI_INVALID_PARAMETER},
  };
  for (const Case &C : Cases) {
    EXPECT_EQ(C.Status, C.Expected) << C.What;
  }
  EXPECT_EQ(Attributes, 3u);
  EXPECT_EQ(List, nullptr) << "no failing member hands out a list";
}

TEST_F(ResourceAllocation, BusNumbersAreTheOfferedRangeOnly) {
  void *List = nullptr;
  ASSERT_EQ(Alloc->StartBusEnumeration(Alloc, Rb, &List), EFI_SUCCESS);
  const std::vector<uint8_t> Offered = Take(List, ENUMERATION_LIST.size());
  EXPECT_EQ(Offered, ENUMERATION_LIST);

  struct Case {
    const char *What;
    size_t Offset;
    uint8_t Value;
    EFI_STATUS Expected;
  };
  const Case Cases[] = {
      {"as offered", 0, 0x8A, EFI_SUCCESS},
      {"minimum 0xFE", 14, 0xFE, EFI_INVALID_PARAMETER},
      {"length 2", 38, 2, EFI_INVALID_PARAMETER},
      {"no end tag", 46, 0x00, EFI_INVALID_PARAMETER},
      {"not a QWORD descriptor", 0, 0x87, EFI_INVALID_PARAMETER},
      {"memory type", 3, 0, EFI_INVALID_PARAMETER},
      {"maximum is not checked", 22, 0x10, EFI_SUCCESS},
  };
  for (const Case &C : Cases) {
    std::vector<uint8_t> Given = Offered;
    Given[C.Offset] = C.Value;
    EXPECT_EQ(Alloc->SetBusNumbers(Alloc, Rb, Given.data()), C.Expected) << C.What;
  }
}

// The resources are fixed: the PCI bus driver reads them before it submits its requests (and
// the shell's `pci` whenever it lists), so the list is the same before and after.
TEST_F(ResourceAllocation, ConfigurationReportsTheFixedResourcesAtAnyTime) {
  void *List = nullptr;
  EXPECT_EQ(Io->Configuration(Io, nullptr), EFI_INVALID_PARAMETER);
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL Copy = *Io;
  EXPECT_EQ(Io->Configuration(&Copy, &List), EFI_INVALID_PARAMETER);
  const uint8_t Anything = 0;
  for (int Call = 0; Call < 3; Call++) {
    if (Call == 1) {
      ASSERT_EQ(Alloc->SubmitResources(Alloc, Rb, const_cast<uint8_t *>(&Anything)), EFI_SUCCESS);
    }
    List = nullptr;
    ASSERT_EQ(Io->Configuration(Io, &List), EFI_SUCCESS);
    EXPECT_EQ(Take(List, CONFIGURATION_LIST.size()), CONFIGURATION_LIST) << "call " << Call;
  }
  EXPECT_EQ(Board.Core().OutstandingPoolBytes(Board.Image()), 0u) << "the caller owns every list";
}

} // namespace
} // namespace bridgemimic_test
