// The consoles: Simple Text Output producers for ConOut and StdErr that keep the text.
#include "CoreInternal.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace host {

namespace {

constexpr INT32 kModeCount = 1;
constexpr UINTN kColumns = 80;
constexpr UINTN kRows = 25;
constexpr UINTN kDefaultAttribute = 0x07; // light grey on black
constexpr UINTN kMaxAttribute = 0x7F;

// The console a This pointer belongs to; a stranger's pointer gets a scratch record.
ConsoleDevice *DeviceOf(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This) {
  static ConsoleDevice Scratch;
  if (CoreAlive()) {
    Platform::Impl &Core = host::Core();
    for (ConsoleDevice *Device : {Core.ConOut.get(), Core.StdErr.get()}) {
      if (Device != nullptr && &Device->Protocol == This) {
        return Device;
      }
    }
  }
  return &Scratch;
}

EFI_STATUS EFIAPI TextReset(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, BOOLEAN ExtendedVerification) {
  ConsoleDevice *Device = DeviceOf(This);
  Device->Mode.CursorColumn = 0;
  Device->Mode.CursorRow = 0;
  Device->Mode.Attribute = kDefaultAttribute;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String) {
  if (This == nullptr || String == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  ConsoleDevice *Device = DeviceOf(This);
  std::u16string Text(String);
  Device->Text += Text;
  for (char16_t Character : Text) {
    if (Character == u'\n') {
      Device->Mode.CursorRow = std::min<INT32>(Device->Mode.CursorRow + 1, kRows - 1);
    } else if (Character == u'\r') {
      Device->Mode.CursorColumn = 0;
    } else {
      Device->Mode.CursorColumn = (Device->Mode.CursorColumn + 1) % kColumns;
    }
  }
  if (CoreAlive()) {
    Platform::Impl &Core = host::Core();
    std::string Line = Utf16ToUtf8(Text);
    Line.erase(std::remove(Line.begin(), Line.end(), '\r'), Line.end());
    Core.Log.Append(Core.CurrentImageName(), Line, Core.Events.NowNs());
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI TestString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String) {
  return String != nullptr ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI QueryMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN ModeNumber, UINTN *Columns,
                            UINTN *Rows) {
  if (Columns == nullptr || Rows == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (ModeNumber >= static_cast<UINTN>(kModeCount)) {
    return EFI_UNSUPPORTED;
  }
  *Columns = kColumns;
  *Rows = kRows;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN ModeNumber) {
  if (ModeNumber >= static_cast<UINTN>(kModeCount)) {
    return EFI_UNSUPPORTED;
  }
  DeviceOf(This)->Mode.Mode = static_cast<INT32>(ModeNumber);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetAttribute(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Attribute) {
  if (Attribute > kMaxAttribute) {
    return EFI_UNSUPPORTED;
  }
  DeviceOf(This)->Mode.Attribute = static_cast<INT32>(Attribute);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ClearScreen(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This) {
  DeviceOf(This)->Mode.CursorColumn = 0;
  DeviceOf(This)->Mode.CursorRow = 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetCursorPosition(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Column, UINTN Row) {
  if (Column >= kColumns || Row >= kRows) {
    return EFI_UNSUPPORTED;
  }
  DeviceOf(This)->Mode.CursorColumn = static_cast<INT32>(Column);
  DeviceOf(This)->Mode.CursorRow = static_cast<INT32>(Row);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI EnableCursor(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, BOOLEAN Visible) {
  DeviceOf(This)->Mode.CursorVisible = Visible;
  return EFI_SUCCESS;
}

// The console's protocol and mode live in the board's memory, like every table the system
// table points to.
ConsolePointer MakeConsole(Platform::Impl &Core, const std::string &Name) {
  VOID *Memory = Core.Memory.CarvePool(EfiBootServicesData, sizeof(ConsoleDevice), nullptr);
  if (Memory == nullptr) {
    throw std::runtime_error("no DRAM for the consoles");
  }
  ConsolePointer Device(new (Memory) ConsoleDevice());
  Device->Name = Name;
  Device->Mode = {kModeCount, 0, static_cast<INT32>(kDefaultAttribute), 0, 0, TRUE};
  Device->Protocol = {TextReset,    OutputString, TestString,        QueryMode,    SetMode,
                      SetAttribute, ClearScreen,  SetCursorPosition, EnableCursor, &Device->Mode};
  Core.Handles.InstallProtocol(&Device->Handle, CoreGuid::SimpleTextOut, &Device->Protocol, false);
  return Device;
}

} // namespace

void Platform::Impl::InitConsoles() {
  ConOut = MakeConsole(*this, "ConOut");
  StdErr = MakeConsole(*this, "StdErr");
  SystemTable.ConsoleOutHandle = ConOut->Handle;
  SystemTable.ConOut = &ConOut->Protocol;
  SystemTable.StandardErrorHandle = StdErr->Handle;
  SystemTable.StdErr = &StdErr->Protocol;
}

} // namespace host
