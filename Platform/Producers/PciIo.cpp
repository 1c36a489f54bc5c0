// Host producer of EFI_PCI_IO_PROTOCOL over a PCI function model.
#include "PciIo.h"

#include "ProducerRecord.h"

#include <IndustryStandard/Acpi.h>
#include <Library/IoLib.h>
#include <Protocol/DevicePath.h>

#include <algorithm>
#include <cstring>

namespace host {
namespace {

constexpr uint64_t ConfigAccessCostNs = 200;
constexpr uint64_t NsPer100NsUnit = 100;
constexpr uint16_t PciCommandOffset = 0x04;
constexpr uint16_t CommandIoSpace = 0x1, CommandMemorySpace = 0x2, CommandBusMaster = 0x4;
constexpr uint64_t LegacyVgaAttributes = EFI_PCI_IO_ATTRIBUTE_VGA_IO | EFI_PCI_IO_ATTRIBUTE_VGA_IO_16 |
                                         EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO |
                                         EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO_16;
constexpr uint64_t BufferAttributes = EFI_PCI_IO_ATTRIBUTE_MEMORY_WRITE_COMBINE |
                                      EFI_PCI_IO_ATTRIBUTE_MEMORY_CACHED |
                                      EFI_PCI_IO_ATTRIBUTE_DUAL_ADDRESS_CYCLE;

enum class Form { Step, Fifo, Fill };

struct WidthInfo {
  unsigned Bytes;
  Form Kind;
};

std::optional<WidthInfo> Decode(EFI_PCI_IO_PROTOCOL_WIDTH Width) {
  if (Width >= EfiPciIoWidthMaximum) {
    return std::nullopt;
  }
  const Form Kind = Width >= EfiPciIoWidthFillUint8   ? Form::Fill
                    : Width >= EfiPciIoWidthFifoUint8 ? Form::Fifo
                                                      : Form::Step;
  return WidthInfo{1u << (Width & 3), Kind};
}

// Bytes of the device range an access touches; false when they overflow.
bool SpanOf(const WidthInfo &W, UINTN Count, uint64_t &Bytes) {
  Bytes = Count == 0 ? 0 : W.Bytes;
  return Count == 0 || W.Kind == Form::Fifo ||
         !__builtin_mul_overflow(static_cast<uint64_t>(Count), W.Bytes, &Bytes);
}

std::optional<uint64_t> Span(const WidthInfo &W, UINTN Count) {
  uint64_t Bytes = 0;
  return SpanOf(W, Count, Bytes) ? std::optional<uint64_t>(Bytes) : std::nullopt;
}

bool InRange(uint64_t Offset, uint64_t Length, uint64_t Size) {
  return Offset <= Size && Length <= Size - Offset;
}

Platform::BusRun RunOf(Form Kind) {
  return Kind == Form::Fill   ? Platform::BusRun::Fill
         : Kind == Form::Fifo ? Platform::BusRun::Fifo
                              : Platform::BusRun::Step;
}

uint64_t Load(const uint8_t *From, unsigned Bytes) {
  uint64_t Value = 0;
  std::memcpy(&Value, From, Bytes);
  return Value;
}

void Store(uint8_t *To, unsigned Bytes, uint64_t Value) {
  std::memcpy(To, &Value, Bytes);
}

PciIoProducer &Self(EFI_PCI_IO_PROTOCOL *This) {
  return *reinterpret_cast<PciIoProducer::Instance *>(This)->Self;
}

// ---- Protocol thunks ----------------------------------------------------------------------

// Whose code a member's bus cycles are charged to: the caller's, by its return address in the
// host build; on the AArch64 processor the guest code that called the member's stub.
template <bool FromImage> const void *CallerOf(EFI_PCI_IO_PROTOCOL *This, const void *ReturnAddress) {
  if constexpr (FromImage) {
    return reinterpret_cast<const void *>(Self(This).Processor()->TrapCaller());
  } else {
    return ReturnAddress;
  }
}

template <bool FromImage>
EFI_STATUS EFIAPI PollMem(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 Bar,
                          UINT64 Offset, UINT64 Mask, UINT64 Value, UINT64 Delay, UINT64 *Result) {
  return Self(This).Poll(true, Width, Bar, Offset, Mask, Value, Delay, Result,
                         CallerOf<FromImage>(This, __builtin_return_address(0)));
}
template <bool FromImage>
EFI_STATUS EFIAPI PollIo(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 Bar, UINT64 Offset,
                         UINT64 Mask, UINT64 Value, UINT64 Delay, UINT64 *Result) {
  return Self(This).Poll(false, Width, Bar, Offset, Mask, Value, Delay, Result,
                         CallerOf<FromImage>(This, __builtin_return_address(0)));
}
// The memory members take the producer's path inline: a register access is one call deep.
template <bool FromImage>
[[gnu::flatten]] EFI_STATUS EFIAPI MemRead(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                           UINT8 Bar, UINT64 Offset, UINTN Count, VOID *Buffer) {
  return Self(This).MemAccess(false, Width, Bar, Offset, Count, Buffer,
                              CallerOf<FromImage>(This, __builtin_return_address(0)));
}
template <bool FromImage>
[[gnu::flatten]] EFI_STATUS EFIAPI MemWrite(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                            UINT8 Bar, UINT64 Offset, UINTN Count, VOID *Buffer) {
  return Self(This).MemAccess(true, Width, Bar, Offset, Count, Buffer,
                              CallerOf<FromImage>(This, __builtin_return_address(0)));
}
EFI_STATUS EFIAPI IoRead(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 Bar, UINT64 Offset,
                         UINTN Count, VOID *Buffer) {
  return Self(This).IoAccess(false, Width, Bar, Offset, Count, Buffer);
}
EFI_STATUS EFIAPI IoWrite(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 Bar,
                          UINT64 Offset, UINTN Count, VOID *Buffer) {
  return Self(This).IoAccess(true, Width, Bar, Offset, Count, Buffer);
}
EFI_STATUS EFIAPI ConfigRead(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset,
                             UINTN Count, VOID *Buffer) {
  return Self(This).ConfigAccess(false, Width, Offset, Count, Buffer);
}
EFI_STATUS EFIAPI ConfigWrite(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset,
                              UINTN Count, VOID *Buffer) {
  return Self(This).ConfigAccess(true, Width, Offset, Count, Buffer);
}
template <bool FromImage>
EFI_STATUS EFIAPI CopyMem(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 DestBar,
                          UINT64 DestOffset, UINT8 SrcBar, UINT64 SrcOffset, UINTN Count) {
  return Self(This).CopyMem(Width, DestBar, DestOffset, SrcBar, SrcOffset, Count,
                            CallerOf<FromImage>(This, __builtin_return_address(0)));
}
EFI_STATUS EFIAPI Map(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_OPERATION Operation, VOID *HostAddress,
                      UINTN *NumberOfBytes, EFI_PHYSICAL_ADDRESS *DeviceAddress, VOID **Mapping) {
  return Self(This).Map(Operation, HostAddress, NumberOfBytes, DeviceAddress, Mapping);
}
EFI_STATUS EFIAPI Unmap(EFI_PCI_IO_PROTOCOL *This, VOID *Mapping) {
  return Self(This).Unmap(Mapping);
}
EFI_STATUS EFIAPI AllocateBuffer(EFI_PCI_IO_PROTOCOL *This, EFI_ALLOCATE_TYPE Type,
                                 EFI_MEMORY_TYPE MemoryType, UINTN Pages, VOID **HostAddress,
                                 UINT64 Attributes) {
  return Self(This).AllocateBuffer(Type, MemoryType, Pages, HostAddress, Attributes);
}
EFI_STATUS EFIAPI FreeBuffer(EFI_PCI_IO_PROTOCOL *This, UINTN Pages, VOID *HostAddress) {
  return Self(This).FreeBuffer(Pages, HostAddress);
}
EFI_STATUS EFIAPI Flush(EFI_PCI_IO_PROTOCOL * /*This*/) {
  return EFI_SUCCESS; // posted writes reach the model at once
}
EFI_STATUS EFIAPI GetLocation(EFI_PCI_IO_PROTOCOL *This, UINTN *Segment, UINTN *Bus, UINTN *Device,
                              UINTN *Function) {
  return Self(This).GetLocation(Segment, Bus, Device, Function);
}
EFI_STATUS EFIAPI Attributes(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation,
                             UINT64 Attributes, UINT64 *Result) {
  return Self(This).AttributesOp(Operation, Attributes, Result);
}
EFI_STATUS EFIAPI GetBarAttributes(EFI_PCI_IO_PROTOCOL *This, UINT8 Bar, UINT64 *Supports, VOID **Resources) {
  return Self(This).GetBarAttributes(Bar, Supports, Resources);
}
EFI_STATUS EFIAPI SetBarAttributes(EFI_PCI_IO_PROTOCOL *This, UINT64 Attributes, UINT8 Bar, UINT64 *Offset,
                                   UINT64 *Length) {
  return Self(This).SetBarAttributes(Attributes, Bar, Offset, Length);
}

EFI_DEVICE_PATH_PROTOCOL Header(UINT8 Type, UINT8 SubType, size_t Length) {
  return {Type, SubType, {static_cast<UINT8>(Length), static_cast<UINT8>(Length >> 8)}};
}

// The function's device path: PciRoot(Segment)/Pci(Device,Function).
struct PciIoDevicePath {
  ACPI_HID_DEVICE_PATH Root;
  PCI_DEVICE_PATH Pci;
  EFI_DEVICE_PATH_PROTOCOL End;
};
static_assert(sizeof(PciIoDevicePath) == sizeof(ACPI_HID_DEVICE_PATH) + sizeof(PCI_DEVICE_PATH) + 4,
              "the nodes follow each other without padding");

} // namespace

PciIoProducer::PciIoProducer(Platform &P, std::shared_ptr<PciFunctionModel> Function, PciLocation Location)
    : P_(P), Processor_(P.Processor()), Function_(std::move(Function)), Location_(Location) {
  Instance Template;
  // On the processor the members that make bus cycles learn their caller from the trap.
  const bool FromImage = P.Processor() != nullptr;
#define PCI_IO_CHARGED(Name, Member) (FromImage ? Exported(P, Name, Member<true>) : Member<false>)
  Template.Protocol = {
      PCI_IO_CHARGED("PciIo.PollMem", host::PollMem),
      PCI_IO_CHARGED("PciIo.PollIo", host::PollIo),
      {PCI_IO_CHARGED("PciIo.Mem.Read", MemRead), PCI_IO_CHARGED("PciIo.Mem.Write", MemWrite)},
      {Exported(P, "PciIo.Io.Read", IoRead), Exported(P, "PciIo.Io.Write", IoWrite)},
      {Exported(P, "PciIo.Pci.Read", ConfigRead), Exported(P, "PciIo.Pci.Write", ConfigWrite)},
      PCI_IO_CHARGED("PciIo.CopyMem", host::CopyMem),
      Exported(P, "PciIo.Map", host::Map),
      Exported(P, "PciIo.Unmap", host::Unmap),
      Exported(P, "PciIo.AllocateBuffer", host::AllocateBuffer),
      Exported(P, "PciIo.FreeBuffer", host::FreeBuffer),
      Exported(P, "PciIo.Flush", Flush),
      Exported(P, "PciIo.GetLocation", host::GetLocation),
      Exported(P, "PciIo.Attributes", Attributes),
      Exported(P, "PciIo.GetBarAttributes", host::GetBarAttributes),
      Exported(P, "PciIo.SetBarAttributes", host::SetBarAttributes),
      0,
      nullptr};
#undef PCI_IO_CHARGED
  Template.Self = this;
  Instance_ = NewRecord(P, Template);
  const PciIoDevicePath Path = {
      {Header(ACPI_DEVICE_PATH, ACPI_DP, sizeof(ACPI_HID_DEVICE_PATH)), EISA_PNP_ID(0x0A03),
       static_cast<UINT32>(Location_.Segment)},
      {Header(HARDWARE_DEVICE_PATH, HW_PCI_DP, sizeof(PCI_DEVICE_PATH)),
       static_cast<UINT8>(Location_.Function), static_cast<UINT8>(Location_.Device)},
      Header(END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, sizeof(EFI_DEVICE_PATH_PROTOCOL))};
  DevicePath_ = NewRecord(P, Path);
}

PciIoProducer::~PciIoProducer() {
  for (void *Mapping : Mappings_) {
    delete static_cast<uint8_t *>(Mapping);
  }
}

EFI_STATUS PciIoProducer::Install() {
  if (Instance_ == nullptr || DevicePath_ == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  return P_.BootServices()->InstallMultipleProtocolInterfaces(&Handle_, &gEfiDevicePathProtocolGuid,
                                                              DevicePath_, &gEfiPciIoProtocolGuid,
                                                              &Instance_->Protocol, nullptr);
}

uint64_t PciIoProducer::SupportedAttributes() const {
  return EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_BUS_MASTER |
         Function_->ExtraAttributes();
}

void PciIoProducer::ApplyDecoding() {
  uint32_t Command = Function_->ConfigRead(PciCommandOffset, 2) &
                     ~uint32_t(CommandIoSpace | CommandMemorySpace | CommandBusMaster);
  Command |= (Attributes_ & EFI_PCI_IO_ATTRIBUTE_IO) ? CommandIoSpace : 0;
  Command |= (Attributes_ & EFI_PCI_IO_ATTRIBUTE_MEMORY) ? CommandMemorySpace : 0;
  Command |= (Attributes_ & EFI_PCI_IO_ATTRIBUTE_BUS_MASTER) ? CommandBusMaster : 0;
  Function_->ConfigWrite(PciCommandOffset, 2, Command);
}

namespace {
// Out of line: asked only after the function's BARs changed.
[[gnu::noinline]] void ReadBars(PciFunctionModel &Function, PciBarInfo *Bars, unsigned Count) {
  for (unsigned Index = 0; Index < Count; Index++) {
    Bars[Index] = Function.Bar(Index);
  }
}
} // namespace

inline const PciBarInfo &PciIoProducer::BarInfo(UINT8 BarIndex) {
  if (BarsSeen_ != Function_->BarGeneration()) {
    ReadBars(*Function_, Bars_.data(), BarCount);
    BarsSeen_ = Function_->BarGeneration();
  }
  return Bars_[std::min<unsigned>(BarIndex, BarCount)];
}

// One aligned access of 1, 2, 4 or 8 bytes inside a memory BAR whose answer is kept (a register
// access, most calls) goes straight to the bus, calling nothing before it; everything else takes
// the general path, which gives such an access the same address.
EFI_STATUS PciIoProducer::MemAccess(bool IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex,
                                    UINT64 Offset, UINTN Count, VOID *Buffer, const void *Caller) {
  if (Count == 1 && Width <= EfiPciIoWidthUint64 && Buffer != nullptr && BarIndex < BarCount &&
      BarsSeen_ == Function_->BarGeneration()) [[likely]] {
    const unsigned Bytes = 1u << Width;
    const PciBarInfo &Bar = Bars_[BarIndex];
    if (Bar.Present && Bar.Memory && (Offset & (Bytes - 1)) == 0 && Offset < Bar.Size &&
        Bytes <= Bar.Size - Offset) [[likely]] {
      IsWrite ? P_.BusWrite(Bar.Base + Offset, Bytes, 1, Platform::BusRun::Step, Buffer, Caller)
              : P_.BusRead(Bar.Base + Offset, Bytes, 1, Platform::BusRun::Step, Buffer, Caller);
      return EFI_SUCCESS;
    }
  }
  return MemAccessRun(IsWrite, Width, BarIndex, Offset, Count, Buffer, Caller);
}

EFI_STATUS PciIoProducer::MemAccessRun(bool IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex,
                                       UINT64 Offset, UINTN Count, VOID *Buffer, const void *Caller) {
  if (Width >= EfiPciIoWidthMaximum || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const WidthInfo W = *Decode(Width);
  // Count accesses on their natural alignment, all inside one memory BAR (or anywhere on the
  // bus through the pass-through BAR).
  uint64_t Length = 0;
  if (!SpanOf(W, Count, Length) || (Offset & (W.Bytes - 1)) != 0) {
    return EFI_UNSUPPORTED;
  }
  uint64_t Address = Offset;
  if (BarIndex != EFI_PCI_IO_PASS_THROUGH_BAR) {
    const PciBarInfo &Bar = BarInfo(BarIndex);
    if (!Bar.Present || !Bar.Memory || !InRange(Offset, Length, Bar.Size)) {
      return EFI_UNSUPPORTED;
    }
    Address = Bar.Base + Offset;
  } else if (Offset > UINT64_MAX - Length) {
    return EFI_UNSUPPORTED;
  }
  // The root bridge's side: memory cycles on the board's address space, checked and charged
  // there; a fault is an error of the boot and reads all ones, as a master abort does.
  const Platform::BusRun Run = RunOf(W.Kind);
  if (IsWrite) {
    P_.BusWrite(Address, W.Bytes, Count, Run, Buffer, Caller);
  } else {
    P_.BusRead(Address, W.Bytes, Count, Run, Buffer, Caller);
  }
  return EFI_SUCCESS;
}

EFI_STATUS PciIoProducer::IoAccess(bool IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex,
                                   UINT64 Offset, UINTN Count, VOID *Buffer) {
  const auto W = Decode(Width);
  if (!W || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const auto Length = Span(*W, Count);
  if (BarIndex != EFI_PCI_IO_PASS_THROUGH_BAR) {
    // The function's BARs are all memory BARs here; an I/O BAR would be decoded the same way.
    const PciBarInfo Bar = BarIndex < BarCount ? Function_->Bar(BarIndex) : PciBarInfo{};
    if (!Bar.Present || Bar.Memory || !Length || !InRange(Offset, *Length, Bar.Size)) {
      return EFI_UNSUPPORTED;
    }
    Offset += Bar.Base;
  } else if (!Length || Offset > UINT64_MAX - *Length) {
    return EFI_UNSUPPORTED;
  }
  const bool Legacy = (Attributes_ & LegacyVgaAttributes) != 0;
  auto *Bytes = static_cast<uint8_t *>(Buffer);
  for (UINTN Index = 0; Index < Count; Index++) {
    const uint64_t Port = Offset + (W->Kind == Form::Fifo ? 0 : Index * W->Bytes);
    uint8_t *Element = Bytes + (W->Kind == Form::Fill ? 0 : Index * W->Bytes);
    P_.AdvanceTime(ConfigAccessCostNs);
    if (IsWrite) {
      if (Legacy) {
        Function_->LegacyIoWrite(Port, W->Bytes, Load(Element, W->Bytes));
      }
    } else {
      const auto Value = Legacy ? Function_->LegacyIoRead(Port, W->Bytes) : std::nullopt;
      Store(Element, W->Bytes, Value.value_or(~0ull)); // nothing decodes it: all ones
    }
  }
  MemoryFence();
  return EFI_SUCCESS;
}

EFI_STATUS PciIoProducer::ConfigAccess(bool IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset,
                                       UINTN Count, VOID *Buffer) {
  const auto W = Decode(Width);
  if (!W || W->Bytes > 4 || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const auto Length = Span(*W, Count);
  if (!Length || !InRange(Offset, *Length, PciFunctionModel::ConfigSize) || (Offset & (W->Bytes - 1)) != 0) {
    return EFI_UNSUPPORTED;
  }
  auto *Bytes = static_cast<uint8_t *>(Buffer);
  for (UINTN Index = 0; Index < Count; Index++) {
    const uint32_t At = Offset + (W->Kind == Form::Fifo ? 0 : static_cast<uint32_t>(Index) * W->Bytes);
    uint8_t *Element = Bytes + (W->Kind == Form::Fill ? 0 : Index * W->Bytes);
    if (IsWrite) {
      Function_->ConfigWrite(At, W->Bytes, static_cast<uint32_t>(Load(Element, W->Bytes)));
    } else {
      Store(Element, W->Bytes, Function_->ConfigRead(At, W->Bytes));
    }
  }
  P_.AdvanceTime(ConfigAccessCostNs * Count);
  MemoryFence();
  return EFI_SUCCESS;
}

EFI_STATUS PciIoProducer::Poll(bool Memory, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset,
                               UINT64 Mask, UINT64 Value, UINT64 Delay, UINT64 *Result, const void *Caller) {
  if (Width >= EfiPciIoWidthFifoUint8 || Result == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const uint64_t Start = P_.VirtualTimeNs();
  const uint64_t Budget = Delay > UINT64_MAX / NsPer100NsUnit ? UINT64_MAX : Delay * NsPer100NsUnit;
  for (;;) {
    uint64_t Read = 0;
    EFI_STATUS Status = Memory ? MemAccess(false, Width, BarIndex, Offset, 1, &Read, Caller)
                               : IoAccess(false, Width, BarIndex, Offset, 1, &Read);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    *Result = Read;
    if ((Read & Mask) == Value) {
      return EFI_SUCCESS;
    }
    if (P_.VirtualTimeNs() - Start >= Budget) {
      return EFI_TIMEOUT;
    }
  }
}

EFI_STATUS PciIoProducer::CopyMem(EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 DestBarIndex, UINT64 DestOffset,
                                  UINT8 SrcBarIndex, UINT64 SrcOffset, UINTN Count, const void *Caller) {
  if (Width >= EfiPciIoWidthFifoUint8) {
    return EFI_INVALID_PARAMETER;
  }
  const auto W = Decode(Width);
  const auto Length = Span(*W, Count);
  const PciBarInfo Dest = DestBarIndex < BarCount ? Function_->Bar(DestBarIndex) : PciBarInfo{};
  const PciBarInfo Src = SrcBarIndex < BarCount ? Function_->Bar(SrcBarIndex) : PciBarInfo{};
  if (!Dest.Present || !Dest.Memory || !Src.Present || !Src.Memory || !Length ||
      !InRange(DestOffset, *Length, Dest.Size) || !InRange(SrcOffset, *Length, Src.Size) ||
      ((DestOffset | SrcOffset) & (W->Bytes - 1)) != 0) {
    return EFI_UNSUPPORTED;
  }
  P_.BusCopy(Dest.Base + DestOffset, Src.Base + SrcOffset, W->Bytes, Count, Caller);
  return EFI_SUCCESS;
}

EFI_STATUS PciIoProducer::Map(EFI_PCI_IO_PROTOCOL_OPERATION Operation, VOID *HostAddress,
                              UINTN *NumberOfBytes, EFI_PHYSICAL_ADDRESS *DeviceAddress, VOID **Mapping) {
  if (Operation >= EfiPciIoOperationMaximum || HostAddress == nullptr || NumberOfBytes == nullptr ||
      DeviceAddress == nullptr || Mapping == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // Host memory is reachable by the device as it is: identity mapping, whole length.
  *DeviceAddress = reinterpret_cast<uintptr_t>(HostAddress);
  *Mapping = new uint8_t(static_cast<uint8_t>(Operation));
  Mappings_.insert(*Mapping);
  return EFI_SUCCESS;
}

EFI_STATUS PciIoProducer::Unmap(VOID *Mapping) {
  auto Found = Mappings_.find(Mapping);
  if (Found == Mappings_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  delete static_cast<uint8_t *>(Mapping);
  Mappings_.erase(Found);
  return EFI_SUCCESS;
}

EFI_STATUS PciIoProducer::AllocateBuffer(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                         VOID **HostAddress, UINT64 Attributes) {
  if (Type != AllocateAnyPages || HostAddress == nullptr ||
      (MemoryType != EfiBootServicesData && MemoryType != EfiRuntimeServicesData)) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & ~BufferAttributes) != 0) {
    return EFI_UNSUPPORTED;
  }
  EFI_PHYSICAL_ADDRESS Address = 0;
  EFI_STATUS Status = P_.BootServices()->AllocatePages(AllocateAnyPages, MemoryType, Pages, &Address);
  if (!EFI_ERROR(Status)) {
    *HostAddress = reinterpret_cast<VOID *>(static_cast<uintptr_t>(Address));
  }
  return Status;
}

EFI_STATUS PciIoProducer::FreeBuffer(UINTN Pages, VOID *HostAddress) {
  if (HostAddress == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return P_.BootServices()->FreePages(reinterpret_cast<uintptr_t>(HostAddress), Pages);
}

EFI_STATUS PciIoProducer::GetLocation(UINTN *Segment, UINTN *Bus, UINTN *Device, UINTN *Function) {
  if (Segment == nullptr || Bus == nullptr || Device == nullptr || Function == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Segment = Location_.Segment;
  *Bus = Location_.Bus;
  *Device = Location_.Device;
  *Function = Location_.Function;
  return EFI_SUCCESS;
}

EFI_STATUS PciIoProducer::AttributesOp(EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation, UINT64 Attributes,
                                       UINT64 *Result) {
  const uint64_t Supported = SupportedAttributes();
  switch (Operation) {
  case EfiPciIoAttributeOperationGet:
  case EfiPciIoAttributeOperationSupported:
    if (Result == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    *Result = Operation == EfiPciIoAttributeOperationGet ? Attributes_ : Supported;
    return EFI_SUCCESS;
  case EfiPciIoAttributeOperationSet:
  case EfiPciIoAttributeOperationEnable:
  case EfiPciIoAttributeOperationDisable:
    if ((Attributes & ~Supported) != 0) {
      return EFI_UNSUPPORTED;
    }
    Attributes_ = Operation == EfiPciIoAttributeOperationSet      ? Attributes
                  : Operation == EfiPciIoAttributeOperationEnable ? (Attributes_ | Attributes)
                                                                  : (Attributes_ & ~Attributes);
    ApplyDecoding();
    return EFI_SUCCESS;
  default:
    return EFI_INVALID_PARAMETER;
  }
}

EFI_STATUS PciIoProducer::GetBarAttributes(UINT8 BarIndex, UINT64 *Supports, VOID **Resources) {
  if (Supports == nullptr && Resources == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const PciBarInfo Bar = BarIndex < BarCount ? Function_->Bar(BarIndex) : PciBarInfo{};
  if (!Bar.Present) {
    return EFI_UNSUPPORTED;
  }
  const uint64_t BarSupports =
      Bar.Prefetchable ? EFI_PCI_IO_ATTRIBUTE_MEMORY_WRITE_COMBINE | EFI_PCI_IO_ATTRIBUTE_MEMORY_CACHED : 0;
  if (Supports != nullptr) {
    *Supports = BarSupports;
  }
  if (Resources == nullptr) {
    return EFI_SUCCESS;
  }
  const size_t Size = sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) + sizeof(EFI_ACPI_END_TAG_DESCRIPTOR);
  VOID *Pool = nullptr;
  if (EFI_ERROR(P_.BootServices()->AllocatePool(EfiBootServicesData, Size, &Pool))) {
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Descriptor = {};
  Descriptor.Desc = ACPI_ADDRESS_SPACE_DESCRIPTOR;
  Descriptor.Len = EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR_LENGTH;
  Descriptor.ResType = Bar.Memory ? ACPI_ADDRESS_SPACE_TYPE_MEM : ACPI_ADDRESS_SPACE_TYPE_IO;
  Descriptor.SpecificFlag =
      Bar.Prefetchable ? EFI_ACPI_MEMORY_RESOURCE_SPECIFIC_FLAG_CACHEABLE_PREFETCHABLE : 0;
  Descriptor.AddrSpaceGranularity = Bar.Base + Bar.Size > (1ull << 32) ? 64 : 32;
  Descriptor.AddrRangeMin = Bar.Base;
  Descriptor.AddrRangeMax = Bar.Base + Bar.Size - 1;
  Descriptor.AddrLen = Bar.Size;
  const EFI_ACPI_END_TAG_DESCRIPTOR End = {ACPI_END_TAG_DESCRIPTOR, 0};
  std::memcpy(Pool, &Descriptor, sizeof(Descriptor));
  std::memcpy(static_cast<uint8_t *>(Pool) + sizeof(Descriptor), &End, sizeof(End));
  *Resources = Pool;
  return EFI_SUCCESS;
}

EFI_STATUS PciIoProducer::SetBarAttributes(UINT64 Attributes, UINT8 BarIndex, UINT64 *Offset,
                                           UINT64 *Length) {
  if (Offset == nullptr || Length == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT64 Supports = 0;
  EFI_STATUS Status = GetBarAttributes(BarIndex, &Supports, nullptr);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const PciBarInfo Bar = Function_->Bar(BarIndex);
  if ((Attributes & ~Supports) != 0 || !InRange(*Offset, *Length, Bar.Size)) {
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS; // the whole BAR keeps one attribute set; the range needs no rounding
}

} // namespace host
