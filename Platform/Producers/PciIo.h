// Host producer of EFI_PCI_IO_PROTOCOL for one PCI function model, as a PCI bus driver
// provides it: configuration, memory and I/O access in every width (with the FIFO and fill
// forms), polls, copies inside BARs, DMA mapping, attributes and BAR descriptors, on a handle
// that carries the function's device path under a PCI root. Memory accesses, polls and copies
// are bus cycles on the physical address space, checked and charged like every MMIO access; a
// run inside plain memory (a frame buffer) is one copy there.
#pragma once

#include <HostPlatform.h>
#include <Protocol/PciIo.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>

namespace host {

// A BAR as the function decodes it now.
struct PciBarInfo {
  bool Present = false;
  bool Memory = true; // false: an I/O BAR
  bool Prefetchable = false;
  uint64_t Base = 0;
  uint64_t Size = 0;
};

// What the producer needs from a PCI function model.
class PciFunctionModel {
public:
  virtual ~PciFunctionModel() = default;
  virtual uint32_t ConfigRead(uint32_t Offset, unsigned Width) = 0;
  virtual void ConfigWrite(uint32_t Offset, unsigned Width, uint32_t Value) = 0;
  static constexpr unsigned ConfigSize = 256;
  virtual PciBarInfo Bar(unsigned Index) = 0;
  // Host memory behind [Offset, Offset + Length) of a memory BAR, when the BAR is plain
  // memory that decodes now; nullptr otherwise.
  virtual uint8_t *BarMemory(unsigned /*Index*/, uint64_t /*Offset*/, uint64_t /*Length*/) { return nullptr; }
  // Attributes the function supports beyond I/O, memory and bus-master decoding (VGA ranges ...).
  virtual uint64_t ExtraAttributes() const { return 0; }
  // Legacy I/O ports the function decodes when its VGA attributes are on.
  virtual std::optional<uint64_t> LegacyIoRead(uint64_t /*Port*/, unsigned /*Width*/) { return std::nullopt; }
  virtual bool LegacyIoWrite(uint64_t /*Port*/, unsigned /*Width*/, uint64_t /*Value*/) { return false; }
  // Counts the changes of what Bar answers: a user may keep the answers while the count stays.
  // A model whose BARs move (configuration writes, resets) calls BarsChanged.
  uint64_t BarGeneration() const { return BarGeneration_; }

protected:
  void BarsChanged() { BarGeneration_++; }

private:
  uint64_t BarGeneration_ = 0;
};

struct PciLocation {
  UINTN Segment = 0, Bus = 0, Device = 0, Function = 0;
};

class PciIoProducer {
public:
  PciIoProducer(Platform &P, std::shared_ptr<PciFunctionModel> Function, PciLocation Location);
  ~PciIoProducer();
  PciIoProducer(const PciIoProducer &) = delete;
  PciIoProducer &operator=(const PciIoProducer &) = delete;

  // Installs the device path (PciRoot(0)/Pci(Device,Function)) and PCI I/O on a new handle.
  EFI_STATUS Install();
  EFI_HANDLE Handle() const { return Handle_; }
  EFI_PCI_IO_PROTOCOL *Interface() { return Instance_ != nullptr ? &Instance_->Protocol : nullptr; }
  PciFunctionModel &Function() { return *Function_; }
  uint64_t CurrentAttributes() const { return Attributes_; }
  cpu::Aarch64Cpu *Processor() const { return Processor_; }
  size_t OpenMappings() const { return Mappings_.size(); }

  struct Instance {
    EFI_PCI_IO_PROTOCOL Protocol;
    PciIoProducer *Self;
  };

  // The members, reachable for the protocol table. Caller is the firmware code that called the
  // member: the virtual time of the bus cycles is charged to its image.
  EFI_STATUS MemAccess(bool IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset,
                       UINTN Count, VOID *Buffer, const void *Caller = nullptr);
  EFI_STATUS IoAccess(bool IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset,
                      UINTN Count, VOID *Buffer);
  EFI_STATUS ConfigAccess(bool IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count,
                          VOID *Buffer);
  EFI_STATUS Poll(bool Memory, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset, UINT64 Mask,
                  UINT64 Value, UINT64 Delay, UINT64 *Result, const void *Caller = nullptr);
  EFI_STATUS CopyMem(EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 DestBarIndex, UINT64 DestOffset,
                     UINT8 SrcBarIndex, UINT64 SrcOffset, UINTN Count, const void *Caller = nullptr);
  EFI_STATUS Map(EFI_PCI_IO_PROTOCOL_OPERATION Operation, VOID *HostAddress, UINTN *NumberOfBytes,
                 EFI_PHYSICAL_ADDRESS *DeviceAddress, VOID **Mapping);
  EFI_STATUS Unmap(VOID *Mapping);
  EFI_STATUS AllocateBuffer(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                            VOID **HostAddress, UINT64 Attributes);
  EFI_STATUS FreeBuffer(UINTN Pages, VOID *HostAddress);
  EFI_STATUS GetLocation(UINTN *Segment, UINTN *Bus, UINTN *Device, UINTN *Function);
  EFI_STATUS AttributesOp(EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation, UINT64 Attributes,
                          UINT64 *Result);
  EFI_STATUS GetBarAttributes(UINT8 BarIndex, UINT64 *Supports, VOID **Resources);
  EFI_STATUS SetBarAttributes(UINT64 Attributes, UINT8 BarIndex, UINT64 *Offset, UINT64 *Length);

private:
  uint64_t SupportedAttributes() const;
  void ApplyDecoding();
  // The function's BAR, kept while its BARs stay as they were: memory accesses ask per access.
  const PciBarInfo &BarInfo(UINT8 BarIndex);
  // MemAccess beyond one access inside a memory BAR: runs, fills, FIFOs, the pass-through BAR
  // and every refusal.
  [[gnu::noinline]] EFI_STATUS MemAccessRun(bool IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex,
                                            UINT64 Offset, UINTN Count, VOID *Buffer, const void *Caller);

  Platform &P_;
  cpu::Aarch64Cpu *Processor_; // the board's, fixed before any producer installs; asked per access
  std::shared_ptr<PciFunctionModel> Function_;
  PciLocation Location_;
  Instance *Instance_ = nullptr; // in DRAM, as the device path
  EFI_HANDLE Handle_ = nullptr;
  void *DevicePath_ = nullptr;
  uint64_t Attributes_ = 0;
  std::set<void *> Mappings_;
  static constexpr unsigned BarCount = 6;
  std::array<PciBarInfo, BarCount + 1> Bars_{}; // the last: no BAR
  uint64_t BarsSeen_ = UINT64_MAX;              // the generation Bars_ holds
};

} // namespace host
