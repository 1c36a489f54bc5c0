// The PCI function building block: configuration space with masks, BAR sizing and decode.
#include "PciFunction.h"

#include <cstdio>
#include <stdexcept>

namespace host {

namespace {
constexpr uint32_t kBarIoFlag = 0x1;
constexpr uint32_t kBarMemory64Flag = 0x4;
constexpr uint32_t kBarPrefetchableFlag = 0x8;
constexpr uint64_t kBarMemoryFlagBits = 0xF;
constexpr uint64_t kBarIoFlagBits = 0x3;
constexpr uint8_t kHeaderTypeNormal = 0x00;

bool PowerOfTwo(uint64_t Value) {
  return Value != 0 && (Value & (Value - 1)) == 0;
}
} // namespace

PciFunction::PciFunction(std::string Name, const Identity &Id, size_t ConfigSize)
    : Name_(std::move(Name)), PowerOn_(ConfigSize, 0), Config_(ConfigSize, 0), Writable_(ConfigSize, 0),
      WriteOneToClear_(ConfigSize, 0) {
  if (ConfigSize != PciConfig::ConventionalSize && ConfigSize != PciConfig::ExpressSize) {
    throw std::invalid_argument("PciFunction: configuration space of 256 or 4096 bytes");
  }
  Define(PciConfig::VendorId, 2, Id.VendorId);
  Define(PciConfig::DeviceId, 2, Id.DeviceId);
  Define(PciConfig::Command, 2, 0,
         PciConfig::CommandIoSpace | PciConfig::CommandMemorySpace | PciConfig::CommandBusMaster);
  Define(PciConfig::RevisionId, 1, Id.RevisionId);
  Define(PciConfig::ClassCode, 1, Id.ClassCode & 0xFF);
  Define(PciConfig::ClassCode + 1, 2, (Id.ClassCode >> 8) & 0xFFFF);
  Define(PciConfig::HeaderType, 1, kHeaderTypeNormal);
  Define(PciConfig::SubsystemVendorId, 2, Id.SubsystemVendorId);
  Define(PciConfig::SubsystemVendorId + 2, 2, Id.SubsystemId);
  Define(PciConfig::InterruptLine, 1, 0, 0xFF);
}

void PciFunction::Define(uint16_t Offset, unsigned Width, uint32_t Value, uint32_t Writable,
                         uint32_t WriteOneToClear) {
  if (Width == 0 || Width > 4 || Offset + Width > Config_.size()) {
    throw std::invalid_argument("PciFunction::Define: outside the configuration space");
  }
  for (unsigned Byte = 0; Byte < Width; Byte++) {
    PowerOn_[Offset + Byte] = Config_[Offset + Byte] = static_cast<uint8_t>(Value >> (8 * Byte));
    Writable_[Offset + Byte] = static_cast<uint8_t>(Writable >> (8 * Byte));
    WriteOneToClear_[Offset + Byte] = static_cast<uint8_t>(WriteOneToClear >> (8 * Byte));
  }
}

void PciFunction::DefineBar(unsigned Index, PciBarKind Kind, uint64_t Size,
                            std::shared_ptr<MmioDevice> Decoder, bool Prefetchable) {
  const bool Wide = Kind == PciBarKind::Memory64;
  const uint64_t MinimumSize = Kind == PciBarKind::Io ? 4 : 16;
  if (Index + (Wide ? 1 : 0) >= PciConfig::BarCount || !PowerOfTwo(Size) || Size < MinimumSize ||
      (!Wide && Size > (1ull << 31))) {
    throw std::invalid_argument("PciFunction::DefineBar: BAR " + std::to_string(Index) + " of " + Name_);
  }
  uint32_t Flags = Kind == PciBarKind::Io ? kBarIoFlag : (Wide ? kBarMemory64Flag : 0);
  if (Prefetchable && Kind != PciBarKind::Io) {
    Flags |= kBarPrefetchableFlag;
  }
  // The bits below the size read as zero whatever is written: sizing falls out of the mask.
  const uint64_t AddressMask = ~(Size - 1) & ~(Kind == PciBarKind::Io ? kBarIoFlagBits : kBarMemoryFlagBits);
  const uint16_t Offset = static_cast<uint16_t>(PciConfig::Bar0 + 4 * Index);
  Define(Offset, 4, Flags, static_cast<uint32_t>(AddressMask));
  if (Wide) {
    Define(Offset + 4, 4, 0, static_cast<uint32_t>(AddressMask >> 32));
  }
  Bars_[Index] = Bar{Kind, Size, std::move(Decoder)};
}

bool PciFunction::CheckAccess(uint16_t Offset, unsigned Width, const char *Operation) {
  if ((Width == 1 || Width == 2 || Width == 4) && Offset % Width == 0 && Offset + Width <= Config_.size()) {
    return true;
  }
  char Text[96];
  std::snprintf(Text, sizeof(Text), "configuration %s of %u bytes at 0x%X", Operation, Width, Offset);
  RecordProtocolError(Errors_, Name_, Text);
  return false;
}

uint32_t PciFunction::Load(const std::vector<uint8_t> &Bytes, uint16_t Offset, unsigned Width) const {
  uint32_t Value = 0;
  for (unsigned Byte = 0; Byte < Width; Byte++) {
    Value |= static_cast<uint32_t>(Bytes[Offset + Byte]) << (8 * Byte);
  }
  return Value;
}

uint32_t PciFunction::ConfigRead(uint16_t Offset, unsigned Width) {
  if (!CheckAccess(Offset, Width, "read")) {
    return 0xFFFFFFFF;
  }
  return Load(Config_, Offset, Width);
}

void PciFunction::ConfigWrite(uint16_t Offset, unsigned Width, uint32_t Value) {
  if (!CheckAccess(Offset, Width, "write")) {
    return;
  }
  for (unsigned Byte = 0; Byte < Width; Byte++) {
    const uint8_t In = static_cast<uint8_t>(Value >> (8 * Byte));
    uint8_t &Current = Config_[Offset + Byte];
    Current = static_cast<uint8_t>((Current & ~Writable_[Offset + Byte]) | (In & Writable_[Offset + Byte]));
    Current = static_cast<uint8_t>(Current & ~(In & WriteOneToClear_[Offset + Byte]));
  }
}

void PciFunction::SetConfig(uint16_t Offset, unsigned Width, uint32_t Value) {
  for (unsigned Byte = 0; Byte < Width && Offset + Byte < Config_.size(); Byte++) {
    Config_[Offset + Byte] = static_cast<uint8_t>(Value >> (8 * Byte));
  }
}

uint16_t PciFunction::CommandRegister() const {
  return static_cast<uint16_t>(Load(Config_, PciConfig::Command, 2));
}

std::optional<uint64_t> PciFunction::BarAddress(unsigned Index) const {
  if (Index >= PciConfig::BarCount || !Bars_[Index]) {
    return std::nullopt;
  }
  const uint16_t Offset = static_cast<uint16_t>(PciConfig::Bar0 + 4 * Index);
  const Bar &Entry = *Bars_[Index];
  uint64_t Address =
      Load(Config_, Offset, 4) & ~(Entry.Kind == PciBarKind::Io ? kBarIoFlagBits : kBarMemoryFlagBits);
  if (Entry.Kind == PciBarKind::Memory64) {
    Address |= static_cast<uint64_t>(Load(Config_, Offset + 4, 4)) << 32;
  }
  return Address;
}

std::optional<PciFunction::Decode> PciFunction::DecodeIn(bool Io, uint64_t Address, unsigned Width) const {
  const uint16_t Enable = Io ? PciConfig::CommandIoSpace : PciConfig::CommandMemorySpace;
  if ((CommandRegister() & Enable) == 0) {
    return std::nullopt;
  }
  for (unsigned Index = 0; Index < PciConfig::BarCount; Index++) {
    if (!Bars_[Index] || (Bars_[Index]->Kind == PciBarKind::Io) != Io) {
      continue;
    }
    const uint64_t Base = *BarAddress(Index);
    if (Address >= Base && Address - Base + Width <= Bars_[Index]->Size) {
      return Decode{Bars_[Index]->Decoder.get(), Address - Base};
    }
  }
  return std::nullopt;
}

std::optional<PciFunction::Decode> PciFunction::DecodeMemory(uint64_t Address, unsigned Width) const {
  return DecodeIn(false, Address, Width);
}

std::optional<PciFunction::Decode> PciFunction::DecodeIo(uint64_t Port, unsigned Width) const {
  return DecodeIn(true, Port, Width);
}

void PciFunction::Reset() {
  Config_ = PowerOn_;
}

} // namespace host
