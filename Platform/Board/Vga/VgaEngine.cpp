// The VGA chip's 2D engine: screen-to-screen copies inside the frame buffer, programmed through
// BAR 1 registers 0x8000 to 0x804C in register command mode. A command starts the copy; the
// engine reports busy in its status register for a time that grows with the rectangle and
// moves the pixels when it finishes, one pixel at a time in the direction the command asks
// for, so an overlapping copy comes out right only when the driver chose the direction that
// reads every source pixel before it is overwritten. Busy clears before the copy is in memory:
// the engine then writes its queue back, and the status register's upper bits (18-27) count
// the queued entries down. The pixels are in the frame buffer once the count reads 0, which a
// driver sees as a status that no longer changes; registers written before then are an error.
#include "VgaChip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace host::vga {
namespace {

constexpr uint32_t SourceBase = 0x8000;
constexpr uint32_t SourcePitch = 0x8004; // pitch in bytes << 16
constexpr uint32_t DestinationBase = 0x8008;
constexpr uint32_t DestinationPitch = 0x800C; // (pitch in bytes << 16) | height of the destination
constexpr uint32_t DestinationStart = 0x8010; // y | (x << 16)
constexpr uint32_t SourceStart = 0x8014;      // y | (x << 16)
constexpr uint32_t Rectangle = 0x8018;        // height | (width << 16)
constexpr uint32_t CommandRegister = 0x803C;
constexpr uint32_t ModeRegister = 0x8044;
constexpr uint32_t StatusRegister = 0x804C;
constexpr uint32_t EngineFirst = 0x8000;

constexpr uint32_t RegisterCommandMode = 0xF2000000;
constexpr uint32_t StatusBusy = 1u << 28;
constexpr uint8_t CrEngineControl = 0xA4;
constexpr uint8_t CrEngineEnable = 0x01;
constexpr uint32_t ScuClockStop = 0x0C;
constexpr uint32_t ScuClockStopEngine = 0x02;

// Command word: bits 0-7 the pixel format (0x20: 32 bits), 8-15 the raster operation (only
// 0xCC, source copy), bit 20 rows from the bottom up, bit 21 columns from right to left.
constexpr uint32_t CommandFormatMask = 0xFF, CommandFormat32 = 0x20;
constexpr uint32_t CommandRopMask = 0xFF00, CommandRopSourceCopy = 0xCC00;
constexpr uint32_t CommandYDecreasing = 0x100000, CommandXDecreasing = 0x200000;
constexpr uint32_t CommandKnownBits =
    CommandFormatMask | CommandRopMask | CommandYDecreasing | CommandXDecreasing;
constexpr uint32_t BytesPerPixel = 4;

// The engine's time: a set-up, then a pixel every 2 ns.
constexpr uint64_t CopySetUpNs = 1000;
constexpr uint64_t CopyNsPerPixel = 2;
// The write-back after busy clears: an entry every 100 ns, counted in status bits 18-27.
constexpr uint64_t WriteBackNs = 2000;
constexpr uint64_t WriteBackNsPerEntry = 100;
constexpr uint32_t StatusQueueShift = 18, StatusQueueMask = 0x3FF;

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

bool Writable(uint32_t Offset) {
  switch (Offset) {
  case SourceBase:
  case SourcePitch:
  case DestinationBase:
  case DestinationPitch:
  case DestinationStart:
  case SourceStart:
  case Rectangle:
  case CommandRegister:
  case ModeRegister:
    return true;
  default:
    return false;
  }
}

// One side of a copy: where its first pixel is and which way it walks.
struct Side {
  uint64_t Base, Pitch;
  int64_t X, Y;
};

} // namespace

uint32_t VgaChip::EngineRead(uint32_t Offset) {
  if (Offset == StatusRegister) {
    const uint64_t Time = Now();
    const uint64_t Queued =
        Time < WriteBackEndNs_ ? (WriteBackEndNs_ - Time + WriteBackNsPerEntry - 1) / WriteBackNsPerEntry : 0;
    return (EngineBusy_ ? StatusBusy : 0) |
           static_cast<uint32_t>(std::min<uint64_t>(Queued, StatusQueueMask) << StatusQueueShift);
  }
  return Engine_[(Offset - EngineFirst) / 4];
}

void VgaChip::EngineWrite(uint32_t Offset, uint32_t Value) {
  if (!Writable(Offset)) {
    Violation("2D engine write of " + Hex(Value) + " at " + Hex(Offset) +
              ", a register the engine does not take");
    return;
  }
  if (EngineBusy_ || Now() < WriteBackEndNs_) {
    Violation("2D engine register " + Hex(Offset) + " written while the engine is busy");
    return;
  }
  Engine_[(Offset - EngineFirst) / 4] = Value;
  if (Offset == CommandRegister) {
    EngineCommand(Value);
  }
}

void VgaChip::EngineCommand(uint32_t Command) {
  if ((Crtc_[CrEngineControl] & CrEngineEnable) == 0 || (Scu_[ScuClockStop / 4] & ScuClockStopEngine) != 0 ||
      Engine_[(ModeRegister - EngineFirst) / 4] != RegisterCommandMode) {
    Violation("2D engine command " + Hex(Command) +
              " while the engine is not enabled in register command mode");
    return;
  }
  if ((Command & ~CommandKnownBits) != 0 || (Command & CommandFormatMask) != CommandFormat32 ||
      (Command & CommandRopMask) != CommandRopSourceCopy) {
    Violation("2D engine command " + Hex(Command) + " the engine does not take");
    return;
  }
  const uint32_t Rect = Engine_[(Rectangle - EngineFirst) / 4];
  const uint64_t Pixels = uint64_t(Rect >> 16) * (Rect & 0xFFFF);
  EngineCommands_.push_back(Command);
  EngineBusy_ = true;
  if (Config_.EngineStuck) {
    return;
  }
  After(CopySetUpNs + CopyNsPerPixel * Pixels, [this, Command] {
    EngineBusy_ = false;
    WriteBackEndNs_ = Now() + WriteBackNs;
    After(WriteBackNs, [this, Command] { EngineCopy(Command); });
  });
}

void VgaChip::EngineCopy(uint32_t Command) {
  auto Reg = [this](uint32_t Offset) { return Engine_[(Offset - EngineFirst) / 4]; };
  const uint32_t Width = Reg(Rectangle) >> 16, Height = Reg(Rectangle) & 0xFFFF;
  const int64_t StepX = (Command & CommandXDecreasing) ? -1 : 1;
  const int64_t StepY = (Command & CommandYDecreasing) ? -1 : 1;
  const Side Source = {Reg(SourceBase), Reg(SourcePitch) >> 16, Reg(SourceStart) >> 16,
                       Reg(SourceStart) & 0xFFFF};
  const Side Destination = {Reg(DestinationBase), Reg(DestinationPitch) >> 16, Reg(DestinationStart) >> 16,
                            Reg(DestinationStart) & 0xFFFF};
  const int64_t DestinationHeight = Reg(DestinationPitch) & 0xFFFF;
  if (Width == 0 || Height == 0) {
    return;
  }
  // Both corners of each side in range, or nothing moves.
  auto Fits = [&](const Side &S, bool IsDestination) {
    const int64_t LastX = S.X + StepX * (Width - 1), LastY = S.Y + StepY * (Height - 1);
    if (LastX < 0 || LastY < 0 || std::max(S.X, LastX) * int64_t(BytesPerPixel) >= int64_t(S.Pitch) ||
        (IsDestination && std::max(S.Y, LastY) >= DestinationHeight)) {
      return false;
    }
    const uint64_t End = S.Base + uint64_t(std::max(S.Y, LastY)) * S.Pitch +
                         uint64_t(std::max(S.X, LastX) + 1) * BytesPerPixel;
    return End <= FrameBuffer_.size();
  };
  if (!Fits(Source, false) || !Fits(Destination, true)) {
    Violation("2D engine copy of " + std::to_string(Width) + "x" + std::to_string(Height) + " from (" +
              std::to_string(Source.X) + "," + std::to_string(Source.Y) + ") to (" +
              std::to_string(Destination.X) + "," + std::to_string(Destination.Y) +
              ") reaches outside the frame buffer or the destination's pitch and height");
    return;
  }
  for (int64_t Row = 0; Row < Height; Row++) {
    for (int64_t Column = 0; Column < Width; Column++) {
      auto At = [&](const Side &S) {
        return S.Base + uint64_t(S.Y + StepY * Row) * S.Pitch +
               uint64_t(S.X + StepX * Column) * BytesPerPixel;
      };
      std::memmove(&FrameBuffer_[At(Destination)], &FrameBuffer_[At(Source)], BytesPerPixel);
    }
  }
}

} // namespace host::vga
