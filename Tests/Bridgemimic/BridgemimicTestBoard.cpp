#include "BridgemimicTestBoard.h"

#include <CpuArch.h>
#include <Pci/PlatformSetup.h>
#include <Protocol/LoadedImage.h>
#include <VariableStore.h>

#include <BoardCheck.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace bridgemimic_test {

// The setup screen's layout, typed from its description: 100 bytes, bytes 8 and 9 enable
// AHCI controllers #2 and #3.
std::vector<uint8_t> SetupWith(bool Ahci2, bool Ahci3) {
  std::vector<uint8_t> Data(100, 0);
  Data[8] = Ahci2 ? 1 : 0;
  Data[9] = Ahci3 ? 0x5A : 0; // any non-zero value enables
  return Data;
}

uint64_t RamModel::Read(uint64_t Offset, unsigned Width) {
  Accesses.push_back({Offset, Width, false});
  const size_t Reads =
      std::count_if(Accesses.begin(), Accesses.end(), [](const Access &A) { return !A.Write; });
  if (Offset == 0 && ChangeAfterReads && Reads >= ChangeAfterReads->first) {
    return ChangeAfterReads->second;
  }
  uint64_t Value = 0;
  std::memcpy(&Value, Bytes.data() + Offset, Width);
  return Value;
}

void RamModel::Write(uint64_t Offset, unsigned Width, uint64_t Value) {
  Accesses.push_back({Offset, Width, true});
  std::memcpy(Bytes.data() + Offset, &Value, Width);
}

// Takes a producer's protocol away again, as if the platform had never installed it.
void TestBoard::Withdraw(EFI_HANDLE Handle, EFI_GUID *Protocol) {
  VOID *Interface = nullptr;
  ASSERT_EQ(Core_->BootServices()->HandleProtocol(Handle, Protocol, &Interface), EFI_SUCCESS);
  ASSERT_EQ(Core_->BootServices()->UninstallProtocolInterface(Handle, Protocol, Interface), EFI_SUCCESS);
}

TestBoard::TestBoard(const BootOptions &Options) {
  host::PlatformOptions Settings;
  Settings.WatchdogNs = 1'000'000'000;
  Core_ = std::make_unique<host::Platform>(Settings);
  host::BoardOptions Build;
  Build.Modules = {"Bridgemimic"};
  if (Options.Setup) {
    EXPECT_EQ(Core_->Variables().SetVariable(PLATFORM_SETUP_VARIABLE_NAME, &gPlatformSetupVariableGuid,
                                             host::PLATFORM_SETUP_ATTRIBUTES, Options.Setup->size(),
                                             Options.Setup->data()),
              EFI_SUCCESS);
  } else {
    Build.Faults["setup-missing"] = "";
  }
  if (!Options.DebugOutput) {
    Build.Settings["no-debug-output"] = "";
  }
  Board_ = host::Board::Build(*Core_, Build);
  if (!Options.CpuArch) {
    Withdraw(Board_->Producer<host::CpuArchProducer>("cpu")->Handle(), &gEfiCpuArchProtocolGuid);
  }
  Result_ = Board_->Dispatch().front();
  Image_ = FindImage("Bridgemimic");
  EFI_BOOT_SERVICES *Bs = Core_->BootServices();
  VOID *Interface = nullptr;
  if (Bs->LocateProtocol(&gEfiPciRootBridgeIoProtocolGuid, nullptr, &Interface) == EFI_SUCCESS) {
    RbIo_ = static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *>(Interface);
    UINTN Count = 0;
    EFI_HANDLE *Handles = nullptr;
    if (Bs->LocateHandleBuffer(ByProtocol, &gEfiPciRootBridgeIoProtocolGuid, nullptr, &Count, &Handles) ==
        EFI_SUCCESS) {
      RbHandle_ = Handles[0];
      Bs->FreePool(Handles);
    }
  }
  if (Bs->LocateProtocol(&gEfiPciHostBridgeResourceAllocationProtocolGuid, nullptr, &Interface) ==
      EFI_SUCCESS) {
    ResAlloc_ = static_cast<EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *>(Interface);
  }
}

TestBoard::~TestBoard() {
  if (Board_) {
    board_test::ExpectNoUnexpectedErrors(*Board_, ExpectedErrors_);
  }
}

EFI_HANDLE TestBoard::FindImage(const std::string &Name) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  EFI_HANDLE Found = nullptr;
  if (Core_->BootServices()->LocateHandleBuffer(ByProtocol, &gEfiLoadedImageProtocolGuid, nullptr, &Count,
                                                &Handles) == EFI_SUCCESS) {
    for (UINTN Index = 0; Index < Count; Index++) {
      if (Core_->ImageName(Handles[Index]) == Name) {
        Found = Handles[Index];
      }
    }
    Core_->BootServices()->FreePool(Handles);
  }
  return Found;
}

uint32_t TestBoard::Read32(uint8_t Device, uint8_t Register) {
  UINT32 Value = 0;
  EXPECT_EQ(RbIo_->Pci.Read(RbIo_, EfiPciWidthUint32, EFI_PCI_ADDRESS(0xFF, Device, 0, Register), 1, &Value),
            EFI_SUCCESS);
  return Value;
}

void TestBoard::Write32(uint8_t Device, uint8_t Register, uint32_t Value,
                        EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width) {
  UINT32 Buffer[2] = {Value, 0};
  EXPECT_EQ(RbIo_->Pci.Write(RbIo_, Width, EFI_PCI_ADDRESS(0xFF, Device, 0, Register), 1, Buffer),
            EFI_SUCCESS);
}

} // namespace bridgemimic_test
