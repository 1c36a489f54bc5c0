// The board's screen: modes and EDID source in the log, the console on the display, the
// picture at the hand-over and screen.png.
#include "VgaScreen.h"

#include "Board.h"

#include <FirmwareCall.h>

#include <Protocol/EdidActive.h>
#include <Protocol/EdidDiscovered.h>
#include <Protocol/EdidOverride.h>

#include <png.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace host::vga {
namespace {

constexpr char kScreenFile[] = "screen.png";

// Where the chip keeps the timing of the mode programmed: the CRTC totals (with their overflow
// bits in the extended registers) and the pixel clock in MHz the driver publishes for the BMC.
constexpr uint8_t CR_HORIZONTAL_TOTAL = 0x00, CR_VERTICAL_TOTAL = 0x06, CR_OVERFLOW = 0x07;
constexpr uint8_t CR_OVERFLOW_H = 0xAC, CR_OVERFLOW_V = 0xAE, CR_PIXEL_CLOCK_MHZ = 0x93;
constexpr uint32_t kCharacterClocksAdded = 5, kLinesAdded = 2, kPixelsPerCharacterClock = 8;

struct ChipTiming {
  uint32_t HorizontalTotal = 0; // pixels per line
  uint32_t VerticalTotal = 0;   // lines per frame
  uint32_t PixelClockMhz = 0;
};

ChipTiming ProgrammedTiming(const VgaChip &Chip) {
  const uint32_t Overflow = Chip.Crtc(CR_OVERFLOW);
  const uint32_t Characters = Chip.Crtc(CR_HORIZONTAL_TOTAL) | (Chip.Crtc(CR_OVERFLOW_H) & 1u) << 8;
  const uint32_t Lines = Chip.Crtc(CR_VERTICAL_TOTAL) | (Overflow & 1u) << 8 | ((Overflow >> 5) & 1u) << 9 |
                         (Chip.Crtc(CR_OVERFLOW_V) & 1u) << 10;
  return {(Characters + kCharacterClocksAdded) * kPixelsPerCharacterClock, Lines + kLinesAdded,
          Chip.Crtc(CR_PIXEL_CLOCK_MHZ)};
}

std::string Refresh(const ChipTiming &Timing) {
  if (Timing.PixelClockMhz == 0) {
    return "refresh unknown (no pixel clock published)";
  }
  const double Hertz = Timing.PixelClockMhz * 1e6 / (double(Timing.HorizontalTotal) * Timing.VerticalTotal);
  char Text[96];
  std::snprintf(Text, sizeof(Text), "%.1f Hz (%u MHz over %ux%u)", Hertz, Timing.PixelClockMhz,
                Timing.HorizontalTotal, Timing.VerticalTotal);
  return Text;
}

} // namespace

Screen::Screen(Board &B, std::shared_ptr<VgaChip> Chip, bool Console)
    : P_(B.Core()), Chip_(std::move(Chip)), WantConsole_(Console) {
  EFI_BOOT_SERVICES *BootServices = P_.BootServices();
  EFI_EVENT Event = nullptr;
  if (EFI_ERROR(BootServices->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnGraphicsOutput, this, &Event)) ||
      EFI_ERROR(
          BootServices->RegisterProtocolNotify(&gEfiGraphicsOutputProtocolGuid, Event, &Registration_)) ||
      EFI_ERROR(BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnExitBootServices, this,
                                            &gEfiEventExitBootServicesGuid, &Event))) {
    throw std::logic_error("vga: the screen's events could not be created");
  }
  if (WantConsole_) {
    for (const LogLine &Line : P_.Log().Lines()) {
      Pending_.push_back(Utf8ToUtf16("[" + Line.Source + "] " + Line.Text + "\r\n"));
    }
    P_.Log().SetLineListener([this](const LogLine &Line) {
      Pending_.push_back(Utf8ToUtf16("[" + Line.Source + "] " + Line.Text + "\r\n"));
    });
  }
}

void EFIAPI Screen::OnGraphicsOutput(EFI_EVENT Event, VOID *Context) {
  Screen &Self = *static_cast<Screen *>(Context);
  EFI_BOOT_SERVICES *BootServices = Self.P_.BootServices();
  EFI_HANDLE Handle = nullptr;
  UINTN Size = sizeof(Handle);
  while (
      !EFI_ERROR(BootServices->LocateHandle(ByRegisterNotify, nullptr, Self.Registration_, &Size, &Handle))) {
    VOID *Interface = nullptr;
    if (Self.Output_ == nullptr &&
        !EFI_ERROR(BootServices->HandleProtocol(Handle, &gEfiGraphicsOutputProtocolGuid, &Interface))) {
      Self.Adopt(Handle, static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL *>(Interface));
    }
    Size = sizeof(Handle);
  }
}

void EFIAPI Screen::OnExitBootServices(EFI_EVENT Event, VOID *Context) {
  Screen &Self = *static_cast<Screen *>(Context);
  Self.DrawPending();
  Self.Capture();
}

void Screen::Adopt(EFI_HANDLE Handle, EFI_GRAPHICS_OUTPUT_PROTOCOL *Output) {
  Handle_ = Handle;
  Output_ = Output;
  LogModes();
  LogEdidSource();
  if (WantConsole_) {
    // The pixels the console hands the display's Blt live in DRAM, where firmware reaches them.
    const size_t Pixels = GraphicsConsole::TransferPixels(Output);
    auto *Transfer = static_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(
        P_.AllocateRecord(EfiBootServicesData, Pixels * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL)));
    Console_ = std::make_unique<GraphicsConsole>(Output, Transfer, P_.Processor());
    Console_->Clear();
    Log("console on the display: " + std::to_string(Console_->Columns()) + "x" +
        std::to_string(Console_->Rows()) + " characters of 8x16");
    DrawPending();
  }
}

void Screen::LogModes() {
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Output_->Mode;
  Log("Graphics Output: " + std::to_string(Mode->MaxMode) + " mode(s)");
  // QueryMode's answers go where the display's firmware can write them: DRAM.
  struct QueryAnswer {
    UINTN Size;
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info;
  } *Answer = static_cast<QueryAnswer *>(P_.AllocateRecord(EfiBootServicesData, sizeof(QueryAnswer)));
  for (UINT32 Number = 0; Answer != nullptr && Number < Mode->MaxMode; Number++) {
    *Answer = {0, nullptr};
    const EFI_STATUS Status =
        cpu::CallFirmware(P_.Processor(), Output_->QueryMode, Output_, Number, &Answer->Size, &Answer->Info);
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = Answer->Info;
    if (EFI_ERROR(Status)) {
      Log("  mode " + std::to_string(Number) + ": QueryMode " + StatusName(Status));
      continue;
    }
    std::string Line = "  mode " + std::to_string(Number) + ": " +
                       std::to_string(Info->HorizontalResolution) + "x" +
                       std::to_string(Info->VerticalResolution);
    P_.BootServices()->FreePool(Info);
    // Only the mode set is programmed into the chip, so only its refresh can be known.
    Line += Number == Mode->Mode ? ", set, " + Refresh(ProgrammedTiming(*Chip_)) : "";
    Log(Line);
  }
}

void Screen::LogEdidSource() {
  EFI_BOOT_SERVICES *BootServices = P_.BootServices();
  VOID *Discovered = nullptr, *Active = nullptr, *Override = nullptr;
  const UINT32 DiscoveredSize =
      EFI_ERROR(BootServices->HandleProtocol(Handle_, &gEfiEdidDiscoveredProtocolGuid, &Discovered))
          ? 0
          : static_cast<EFI_EDID_DISCOVERED_PROTOCOL *>(Discovered)->SizeOfEdid;
  const UINT32 ActiveSize =
      EFI_ERROR(BootServices->HandleProtocol(Handle_, &gEfiEdidActiveProtocolGuid, &Active))
          ? 0
          : static_cast<EFI_EDID_ACTIVE_PROTOCOL *>(Active)->SizeOfEdid;
  // The override producer answers for this display when it hands out an EDID without asking
  // not to be used.
  bool Overridden = false;
  if (!EFI_ERROR(BootServices->LocateProtocol(&gEfiEdidOverrideProtocolGuid, nullptr, &Override))) {
    auto *Producer = static_cast<EFI_EDID_OVERRIDE_PROTOCOL *>(Override);
    EFI_HANDLE Child = Handle_;
    UINT32 Attributes = 0;
    UINTN Size = 0;
    UINT8 *Edid = nullptr;
    Overridden = !EFI_ERROR(cpu::CallFirmware(P_.Processor(), Producer->GetEdid, Producer, &Child,
                                              &Attributes, &Size, &Edid)) &&
                 Size != 0 && (Attributes & EFI_EDID_OVERRIDE_DONT_OVERRIDE) == 0;
    if (Edid != nullptr) {
      BootServices->FreePool(Edid); // the caller owns the copy GetEdid hands out
    }
  }
  std::string Source;
  if (Overridden && ActiveSize != 0) {
    Source = "override";
  } else if (ActiveSize != 0) {
    Source = "monitor";
  } else if (DiscoveredSize != 0) {
    Source = "bad checksum (the monitor's EDID is not used)";
  } else {
    Source = "none (no EDID read over DDC)";
  }
  Log("EDID source: " + Source + "; discovered " + std::to_string(DiscoveredSize) + " bytes, active " +
      std::to_string(ActiveSize) + " bytes");
}

bool Screen::OutputInstalled() {
  VOID *Interface = nullptr;
  return Output_ != nullptr &&
         !EFI_ERROR(
             P_.BootServices()->HandleProtocol(Handle_, &gEfiGraphicsOutputProtocolGuid, &Interface)) &&
         Interface == Output_;
}

void Screen::DrawPending() {
  // Blt raises to TPL_NOTIFY: drawing waits while firmware runs above it, and a line logged
  // while drawing is drawn by the same pass.
  if (Console_ == nullptr || Drawing_ || P_.CurrentTpl() > TPL_NOTIFY || !OutputInstalled()) {
    return;
  }
  Drawing_ = true;
  while (!Pending_.empty()) {
    const std::u16string Line = std::move(Pending_.front());
    Pending_.pop_front();
    Console_->Write(Line);
  }
  Drawing_ = false;
}

void Screen::Capture() {
  if (Captured_) {
    return;
  }
  Captured_ = true;
  if (Output_ == nullptr) {
    return;
  }
  if (!OutputInstalled()) {
    NoPicture_ = "the Graphics Output was uninstalled";
    return;
  }
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Output_->Mode;
  if (Mode == nullptr || Mode->Info == nullptr || Mode->Mode >= Mode->MaxMode) {
    NoPicture_ = "the Graphics Output has no mode set";
    return;
  }
  const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION &Info = *Mode->Info;
  const uint64_t PitchBytes = uint64_t(Info.PixelsPerScanLine) * sizeof(uint32_t);
  const uint64_t Bytes = PitchBytes * Info.VerticalResolution;
  const PciBarInfo Bar = Chip_->Bar(0);
  const uint8_t *Memory =
      Mode->FrameBufferBase >= Bar.Base && Info.HorizontalResolution <= Info.PixelsPerScanLine
          ? Chip_->BarMemory(0, Mode->FrameBufferBase - Bar.Base, Bytes)
          : nullptr;
  if (Memory == nullptr) {
    NoPicture_ = "the mode's frame buffer is not in the VGA function's decoded BAR 0";
    return;
  }
  ScreenPicture Picture{Info.HorizontalResolution, Info.VerticalResolution, {}};
  Picture.Pixels.resize(size_t(Picture.Width) * Picture.Height);
  for (uint32_t Y = 0; Y < Picture.Height; Y++) {
    std::memcpy(&Picture.Pixels[size_t(Y) * Picture.Width], Memory + Y * PitchBytes,
                Picture.Width * sizeof(uint32_t));
  }
  Picture_ = std::move(Picture);
}

std::string Screen::Save(const std::filesystem::path &Folder) {
  if (P_.BootServicesActive()) {
    DrawPending();
    Capture();
  }
  std::string Error = NoPicture_;
  const std::filesystem::path File = Folder / kScreenFile;
  const std::string Line = Picture_ && WritePng(File, *Picture_, Error)
                               ? std::string(kScreenFile) + ": " + std::to_string(Picture_->Width) + "x" +
                                     std::to_string(Picture_->Height) + " in " + File.string()
                               : "no " + std::string(kScreenFile) + ": " + Error;
  Log(Line);
  return Line;
}

void Screen::Log(const std::string &Text) {
  P_.Log().Append("screen", Text + "\n", P_.VirtualTimeNs());
}

bool WritePng(const std::filesystem::path &File, const ScreenPicture &Picture, std::string &Error) {
  constexpr unsigned kChannels = 3;
  std::vector<png_byte> Rgb(Picture.Pixels.size() * kChannels);
  for (size_t Pixel = 0; Pixel < Picture.Pixels.size(); Pixel++) {
    for (unsigned Channel = 0; Channel < kChannels; Channel++) { // red, green, blue
      Rgb[Pixel * kChannels + Channel] = static_cast<png_byte>(Picture.Pixels[Pixel] >> (16 - 8 * Channel));
    }
  }
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  Image.width = Picture.Width;
  Image.height = Picture.Height;
  Image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&Image, File.c_str(), 0, Rgb.data(), 0, nullptr)) {
    Error = File.string() + ": " + Image.message;
    return false;
  }
  return true;
}

} // namespace host::vga
