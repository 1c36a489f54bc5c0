// The board's screen: the display behind the VGA function as a user sees it. When a Graphics
// Output appears (a protocol notification, as a console driver reacts to a new display) the
// board log lists the modes it offers and where the display's EDID came from; with the console
// on, every board log line, those before it appeared and all after, is drawn on it as a text
// console ("[source] text", as in board.log). At the hand-over (ExitBootServices, or the end of
// a boot without one) the frame buffer is kept, and Finish saves it as screen.png.
#pragma once

#include "VgaChip.h"

#include <GraphicsConsole.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {
class Board;
}

namespace host::vga {

// One picture of the display: Pixels holds Height rows of Width pixels, each
// red << 16 | green << 8 | blue as the frame buffer holds them.
struct ScreenPicture {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<uint32_t> Pixels;
};

class Screen {
public:
  Screen(Board &B, std::shared_ptr<VgaChip> Chip, bool Console);
  Screen(const Screen &) = delete;
  Screen &operator=(const Screen &) = delete;

  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output() const { return Output_; }
  // The console drawn on the display (nullptr until a Graphics Output appears, or without one).
  const GraphicsConsole *Console() const { return Console_.get(); }
  // Draws the log lines not drawn yet, when firmware may be called now.
  void DrawPending();
  // Keeps the picture of the display now (once); the reason when there is none.
  void Capture();
  const std::optional<ScreenPicture> &Picture() const { return Picture_; }
  // Writes the kept picture (capturing it first if needed) as Folder/screen.png, or says why
  // there is none; returns that line of the log.
  std::string Save(const std::filesystem::path &Folder);

private:
  static void EFIAPI OnGraphicsOutput(EFI_EVENT Event, VOID *Context);
  static void EFIAPI OnExitBootServices(EFI_EVENT Event, VOID *Context);
  void Adopt(EFI_HANDLE Handle, EFI_GRAPHICS_OUTPUT_PROTOCOL *Output);
  void LogModes();
  void LogEdidSource();
  bool OutputInstalled();
  void Log(const std::string &Text);

  Platform &P_;
  std::shared_ptr<VgaChip> Chip_;
  bool WantConsole_;
  VOID *Registration_ = nullptr;
  EFI_HANDLE Handle_ = nullptr;
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output_ = nullptr;
  std::unique_ptr<GraphicsConsole> Console_;
  std::deque<std::u16string> Pending_; // log lines the console has not drawn yet
  bool Drawing_ = false;
  bool Captured_ = false;
  std::optional<ScreenPicture> Picture_;
  std::string NoPicture_ = "no Graphics Output was installed";
};

// Writes Picture as an 8-bit RGB PNG; false (with the reason in Error) when it cannot.
bool WritePng(const std::filesystem::path &File, const ScreenPicture &Picture, std::string &Error);

} // namespace host::vga
