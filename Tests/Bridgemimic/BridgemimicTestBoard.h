// A boot of the emulated board up to Bridgemimic: the board built from options with a chosen
// "Setup" variable in its NVRAM, optionally without the debug-output producer or with the CPU
// architectural protocol taken away again, then Bridgemimic dispatched; the tests reach its protocols as the
// PCI bus driver does.
#pragma once

#include <Board.h>
#include <HostPlatform.h>
#include <Protocol/PciHostBridgeResourceAllocation.h>
#include <Protocol/PciRootBridgeIo.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace bridgemimic_test {

struct BootOptions {
  std::optional<std::vector<uint8_t>> Setup = std::vector<uint8_t>(100, 0); // nullopt: no variable
  bool DebugOutput = true;
  bool CpuArch = true;
};

// Setup bytes with AHCI #2 and #3 switched as given.
std::vector<uint8_t> SetupWith(bool Ahci2, bool Ahci3);

// Memory a test places in the physical address space: reads and writes of any width, and the
// order of the accesses.
class RamModel : public host::MmioDevice {
public:
  struct Access {
    uint64_t Offset;
    unsigned Width;
    bool Write;
  };
  explicit RamModel(size_t Size) : Bytes(Size, 0) {}
  std::string Name() const override { return "ram"; }
  uint64_t Read(uint64_t Offset, unsigned Width) override;
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override;

  std::vector<uint8_t> Bytes;
  std::vector<Access> Accesses;
  // A value that Read returns at offset 0 from the given read on (for polls).
  std::optional<std::pair<size_t, uint64_t>> ChangeAfterReads;
};

class TestBoard {
public:
  explicit TestBoard(const BootOptions &Options = {});
  // Checks that the boot recorded no error but the expected ones.
  ~TestBoard();
  void ExpectErrors(std::vector<std::string> Texts) { ExpectedErrors_ = std::move(Texts); }

  host::Platform &Core() { return *Core_; }
  host::Board &Board() { return *Board_; }
  const host::ImageResult &Result() const { return Result_; }
  EFI_HANDLE Image() const { return Image_; }
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RbIo() const { return RbIo_; }
  EFI_HANDLE RbHandle() const { return RbHandle_; }
  EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *ResAlloc() const { return ResAlloc_; }
  bool LogContains(const std::string &Text) const { return Core_->Log().Contains(Text); }

  // Configuration access to bus 0xFF through Pci.Read and Pci.Write.
  uint32_t Read32(uint8_t Device, uint8_t Register);
  void Write32(uint8_t Device, uint8_t Register, uint32_t Value,
               EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width = EfiPciWidthUint32);

private:
  void Withdraw(EFI_HANDLE Handle, EFI_GUID *Protocol);
  EFI_HANDLE FindImage(const std::string &Name);

  std::unique_ptr<host::Platform> Core_;
  std::unique_ptr<host::Board> Board_;
  std::vector<std::string> ExpectedErrors_;
  host::ImageResult Result_;
  EFI_HANDLE Image_ = nullptr;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RbIo_ = nullptr;
  EFI_HANDLE RbHandle_ = nullptr;
  EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *ResAlloc_ = nullptr;
};

} // namespace bridgemimic_test
