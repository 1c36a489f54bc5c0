// Register-level models of the blocks the L3 sizing touches: the efuse register, control
// blocks A and B, the L3 cache controller and the console UART. Each model checks the rules
// of its block itself (protocol errors); all of them write their accesses into one shared log
// so that tests can see the order across blocks and relative to the processor operations.
#pragma once

#include "Common/DeviceModel.h"
#include "Common/RegisterFile.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

// One access to one of the blocks, in the order they happened.
struct L3cAccess {
  std::string Block; // "efuse", "l3c-control-a", ...
  uint64_t Offset = 0;
  bool IsWrite = false;
  uint64_t Value = 0;         // value read or written
  size_t CpuOperationsBefore; // how many processor operations had been recorded
  uint64_t VirtualTimeNs = 0;
};

struct L3cAccessLog {
  std::vector<L3cAccess> Entries;
  // The accesses of one block (all of them when Block is empty).
  std::vector<L3cAccess> Of(const std::string &Block) const;
};

// A block of named 32-bit registers: other offsets and widths are protocol errors.
class L3cRegisterBlock : public DeviceModel {
public:
  L3cRegisterBlock(std::string Name, std::shared_ptr<L3cAccessLog> Log, RegisterFile Registers);
  uint64_t Read(uint64_t Offset, unsigned Width) override;
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override;
  void Reset() override { Registers_.Reset(); }

  uint32_t Register(uint64_t Offset) const { return Registers_.Get(Offset); }
  void SetRegister(uint64_t Offset, uint32_t Value) { Registers_.Set(Offset, Value); }

protected:
  // What a register reads and what a write does; plain storage by default.
  virtual uint32_t ReadRegister(uint64_t Offset) { return Registers_.Get(Offset); }
  virtual void WriteRegister(uint64_t Offset, uint32_t Value) { Registers_.Write(Offset, Value); }

  std::shared_ptr<L3cAccessLog> Log_;
  RegisterFile Registers_;

private:
  void Record(uint64_t Offset, bool IsWrite, uint64_t Value);
};

// The efuse register: read-only; bits 8 to 11 each disable 2 MB of L3 when set.
class EfuseModel : public L3cRegisterBlock {
public:
  EfuseModel(std::shared_ptr<L3cAccessLog> Log, uint32_t Value);

protected:
  void WriteRegister(uint64_t Offset, uint32_t Value) override;
};

// Control block A: +0x04 bit 16 records that the block-B release sequence has run.
class L3cControlBlockA : public L3cRegisterBlock {
public:
  explicit L3cControlBlockA(std::shared_ptr<L3cAccessLog> Log);
  static constexpr uint64_t kState = 0x04;
  static constexpr uint32_t kBlockBDone = 1u << 16;
};

// Control block B: +0x308 bits 11 and 15 and +0x300 bit 0 release the L3 logic, +0x08 bits
// 16 and 18 enable it. The release must come in order: bits 11 and 15 low, at least 1 us, bit
// 11 high, at least 1 us, gate bit low.
class L3cControlBlockB : public L3cRegisterBlock {
public:
  explicit L3cControlBlockB(std::shared_ptr<L3cAccessLog> Log);
  static constexpr uint64_t kEnable = 0x08;
  static constexpr uint64_t kGate = 0x300;
  static constexpr uint64_t kReset = 0x308;
  static constexpr uint32_t kPowerOnReset = (1u << 11) | (1u << 15);
  static constexpr uint32_t kPowerOnGate = 1u << 0;
  bool Released() const { return Released_; }
  void Reset() override;

protected:
  void WriteRegister(uint64_t Offset, uint32_t Value) override;

private:
  uint64_t LowSinceNs_ = 0;
  uint64_t HighSinceNs_ = 0;
  bool Released_ = false;
};

// The L3 cache controller. Configuration reads its hardware size (MB) in bits 29..24; a
// write sets the size from bit 18 (with enable bit 31). A resize command (0x12 in the top
// byte, 4 x size - 1 from bit 8) keeps bit 31 of the command register set for kResizeNs.
class L3CacheController : public L3cRegisterBlock {
public:
  L3CacheController(std::shared_ptr<L3cAccessLog> Log, uint32_t HardwareSizeMb, bool StuckBusy);
  static constexpr uint64_t kConfiguration = 0x00;
  static constexpr uint64_t kMask = 0x08;
  static constexpr uint64_t kCommand = 0x10;
  static constexpr uint64_t kRangeLow = 0x18;
  static constexpr uint64_t kRangeHigh = 0x1C;
  static constexpr uint32_t kBusy = 1u << 31;
  static constexpr uint64_t kResizeNs = 40'000;
  // The size the last completed resize set, in MB (0: none).
  uint32_t SizedMb() const { return SizedMb_; }
  void Reset() override;

protected:
  uint32_t ReadRegister(uint64_t Offset) override;
  void WriteRegister(uint64_t Offset, uint32_t Value) override;

private:
  bool Busy() const;
  void StartResize(uint32_t Command);

  uint32_t HardwareSizeMb_;
  bool StuckBusy_;
  uint64_t BusyUntilNs_ = 0;
  bool Resizing_ = false;
  uint32_t PendingMb_ = 0;
  uint32_t SizedMb_ = 0;
};

// The console UART (16550 layout, 4-byte stride): transmit register at +0x00, line status at
// +0x14 with bit 5 set when the transmitter takes a byte. Each byte keeps it busy for one
// character time; a byte written while busy is lost (a violation). Its output is the board's
// serial console.
class ConsoleUart : public DeviceModel {
public:
  ConsoleUart(std::shared_ptr<L3cAccessLog> Log, bool NeverReady);
  static constexpr uint64_t kTransmit = 0x00;
  static constexpr uint64_t kLineStatus = 0x14;
  static constexpr uint8_t kTransmitReady = 1u << 5;
  static constexpr uint8_t kTransmitterEmpty = 1u << 6;
  static constexpr uint64_t kCharacterNs = 86'800; // ten bits at 115200 baud
  uint64_t Read(uint64_t Offset, unsigned Width) override;
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override;
  void Reset() override;
  const std::string &Output() const { return Output_; }

private:
  bool Ready() const;

  std::shared_ptr<L3cAccessLog> Log_;
  bool NeverReady_;
  uint64_t BusyUntilNs_ = 0;
  std::string Output_;
};

// The L3 sizing blocks of one board, as attached.
struct L3cOptions {
  uint32_t Efuse = 0;          // efuse register value (bits 8..11 set disable 2 MB each)
  uint32_t HardwareSizeMb = 8; // what the controller reports in its configuration register
  uint64_t Midr = 0;           // processor identification
  uint64_t Revidr = 0;
  bool StuckBusy = false;      // the controller never finishes a resize
  bool UartNeverReady = false; // the console UART never takes a byte
};

// The shared access log of the blocks on a board (Board::Producer<L3cAccessLog>("l3c-log")).
constexpr const char *kL3cAccessLog = "l3c-log";

// MIDR of the board's processor for a revision text "rVpR" (variant V, revision R), with an
// optional ":REVIDR" (hexadecimal with 0x, or decimal); nothing when the text is not one.
struct CpuRevision {
  uint64_t Midr = 0;
  uint64_t Revidr = 0;
};
std::optional<CpuRevision> ParseCpuRevision(const std::string &Text);
// The board's default processor: variant 1, revision 0 (not early silicon).
constexpr const char *kDefaultCpuRevision = "r1p0";

} // namespace host
