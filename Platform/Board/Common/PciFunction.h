// A PCI function's configuration space (256 bytes, or 4 KiB for PCI Express) with per-byte
// read-only, writable and write-one-to-clear bits, and its BARs: writing all ones to a BAR
// reads back its size mask, and an enabled memory or I/O decode routes accesses inside a BAR
// to the model behind it.
#pragma once

#include "DeviceModel.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

namespace PciConfig {
inline constexpr uint16_t VendorId = 0x00;
inline constexpr uint16_t DeviceId = 0x02;
inline constexpr uint16_t Command = 0x04;
inline constexpr uint16_t Status = 0x06;
inline constexpr uint16_t RevisionId = 0x08;
inline constexpr uint16_t ClassCode = 0x09; // programming interface, subclass, base class
inline constexpr uint16_t HeaderType = 0x0E;
inline constexpr uint16_t Bar0 = 0x10;
inline constexpr uint16_t SubsystemVendorId = 0x2C;
inline constexpr uint16_t CapabilitiesPointer = 0x34;
inline constexpr uint16_t InterruptLine = 0x3C;
inline constexpr uint16_t CommandIoSpace = 1u << 0;
inline constexpr uint16_t CommandMemorySpace = 1u << 1;
inline constexpr uint16_t CommandBusMaster = 1u << 2;
inline constexpr size_t ConventionalSize = 256;
inline constexpr size_t ExpressSize = 4096;
inline constexpr unsigned BarCount = 6;
} // namespace PciConfig

enum class PciBarKind { Memory32, Memory64, Io };

class PciFunction {
public:
  struct Identity {
    uint16_t VendorId = 0;
    uint16_t DeviceId = 0;
    uint8_t RevisionId = 0;
    uint32_t ClassCode = 0; // base class << 16 | subclass << 8 | programming interface
    uint16_t SubsystemVendorId = 0;
    uint16_t SubsystemId = 0;
  };

  PciFunction(std::string Name, const Identity &Id, size_t ConfigSize = PciConfig::ConventionalSize);

  const std::string &Name() const { return Name_; }

  // Defines the power-on value of Width bytes at Offset and which of their bits software may
  // write (Writable) or clear by writing one (WriteOneToClear); the others are read-only.
  void Define(uint16_t Offset, unsigned Width, uint32_t Value, uint32_t Writable = 0,
              uint32_t WriteOneToClear = 0);
  // A BAR of Size bytes (a power of two) decoded to Decoder (offsets relative to the BAR base).
  // A 64-bit BAR takes Index and Index + 1.
  void DefineBar(unsigned Index, PciBarKind Kind, uint64_t Size, std::shared_ptr<MmioDevice> Decoder,
                 bool Prefetchable = false);

  // Configuration cycles. Accesses must be naturally aligned 1, 2 or 4 bytes inside the space
  // (anything else is a protocol error: reads return all ones, writes are dropped).
  uint32_t ConfigRead(uint16_t Offset, unsigned Width);
  void ConfigWrite(uint16_t Offset, unsigned Width, uint32_t Value);
  // The model's side: sets bits regardless of the masks (status bits, hardware state).
  void SetConfig(uint16_t Offset, unsigned Width, uint32_t Value);

  uint16_t CommandRegister() const;
  std::optional<uint64_t> BarAddress(unsigned Index) const; // programmed base, if a BAR is there

  // The model behind the BAR that decodes Address (memory or I/O space) for Width bytes, with
  // the offset inside the BAR; none when the decode is disabled or no BAR covers it.
  struct Decode {
    MmioDevice *Device = nullptr;
    uint64_t Offset = 0;
  };
  std::optional<Decode> DecodeMemory(uint64_t Address, unsigned Width) const;
  std::optional<Decode> DecodeIo(uint64_t Port, unsigned Width) const;

  void Reset(); // back to the power-on values (BARs unprogrammed, decode off)
  const std::vector<std::string> &ProtocolErrors() const { return Errors_; }

private:
  struct Bar {
    PciBarKind Kind = PciBarKind::Memory32;
    uint64_t Size = 0;
    std::shared_ptr<MmioDevice> Decoder;
  };
  std::optional<Decode> DecodeIn(bool Io, uint64_t Address, unsigned Width) const;
  bool CheckAccess(uint16_t Offset, unsigned Width, const char *Operation);
  uint32_t Load(const std::vector<uint8_t> &Bytes, uint16_t Offset, unsigned Width) const;

  std::string Name_;
  std::vector<uint8_t> PowerOn_;
  std::vector<uint8_t> Config_;
  std::vector<uint8_t> Writable_;
  std::vector<uint8_t> WriteOneToClear_;
  std::array<std::optional<Bar>, PciConfig::BarCount> Bars_;
  std::vector<std::string> Errors_;
};

} // namespace host
