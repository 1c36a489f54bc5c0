// The display behind the VGA chip's DDC lines: SCL and SDA as wired-AND lines of the chip's
// drivers (CRB7), the display and the pull-ups, and a bit-level I2C target at 0xA0/0xA1 that
// serves the display's EDID from a word-offset pointer (sequential reads, wrapping at 256).
//
// The model checks the rules a DDC master must keep and records every breach as a protocol
// error: a line changed after fewer than the settling reads of port 0x3D4 since the previous
// change, a start or stop inside a byte, SDA held low by the chip while the display sends a
// one. A read past the display's EDID data gives the idle level (0xFF), noted once in the log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host::vga {

struct DdcMonitorConfig {
  std::vector<uint8_t> Edid; // what the display serves from offset 0 (at most 256 bytes); empty: no display
  bool PullUps = true;       // without them both lines read low
  bool NoAck = false;        // the display never acknowledges its address
  bool NoisyLines = false;   // the line levels change on every read of CRB7
};

class DdcMonitor {
public:
  static constexpr uint8_t Address = 0x50; // 0xA0 / 0xA1 on the wire
  static constexpr unsigned SettleReads = 150;
  static constexpr size_t MaxEdidBytes = 256; // the word pointer wraps here

  explicit DdcMonitor(DdcMonitorConfig Config);
  void Reset();
  const DdcMonitorConfig &Config() const { return Config_; }

  // The chip's drivers (true: the chip pulls the line low), after each CRB7 write.
  void Drive(bool SclLow, bool SdaLow);
  // CRB7 as read: bit 4 the SCL level, bit 5 the SDA level, other bits from Stored.
  uint8_t Read(uint8_t Stored);
  // An 8-bit read of port 0x3D4: the master's settling delay.
  void DelayRead() { DelayReads_++; }

  const std::vector<std::string> &ProtocolErrors() const { return Errors_; }
  // What the display saw: transfers that addressed it, EDID bytes it sent, stops.
  unsigned Transfers() const { return Transfers_; }
  unsigned BytesSent() const { return BytesSent_; }
  unsigned Stops() const { return Stops_; }

private:
  enum class State { Idle, Receive, AckOut, Transmit, AckIn, Ignore };
  bool Scl() const;
  bool Sda() const;
  void Error(const std::string &Text);
  bool InsideByte() const;
  void OnStart();
  void OnStop();
  void OnSclRise();
  void OnSclFall();
  void ByteReceived();
  void LoadByte();

  DdcMonitorConfig Config_;
  bool ChipSclLow_ = false, ChipSdaLow_ = false, OwnSdaLow_ = false;
  uint64_t DelayReads_ = 0;
  uint64_t Reads_ = 0;
  State State_ = State::Idle;
  bool Addressing_ = false, Reading_ = false, OffsetWritten_ = false, MasterAck_ = false;
  unsigned Bits_ = 0;
  uint8_t Shift_ = 0, Pointer_ = 0, Current_ = 0;
  unsigned Transfers_ = 0, BytesSent_ = 0, Stops_ = 0;
  std::vector<std::string> Errors_;
  bool NotedShortEdid_ = false;
};

} // namespace host::vga
