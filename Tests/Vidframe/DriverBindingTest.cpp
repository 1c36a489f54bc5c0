// Vidframe as the board loads it: the image's entry installs the driver binding and the name
// protocols, the core's ConnectController and DisconnectController drive Supported, Start and
// Stop on the VGA function, and Stop gives back everything Start took (the child, its
// interfaces, the controller's attributes and open, the image's pool).
#include "VidframeTestBoard.h"

#include <BoardCheck.h>
#include <Library/DevicePathLib.h>
#include <Protocol/ComponentName.h>
#include <Protocol/ComponentName2.h>
#include <Protocol/DriverBinding.h>
#include <Protocol/DriverSupportedEfiVersion.h>

#include <gtest/gtest.h>

#include <cstring>

namespace vidframe_test {
namespace {

// A display function of the same vendor with another device ID.
class OtherFunction : public host::PciFunctionModel {
public:
  uint32_t ConfigRead(uint32_t Offset, unsigned Width) override { return Offset == 0 ? 0x20011A03u : 0; }
  void ConfigWrite(uint32_t, unsigned, uint32_t) override {}
  host::PciBarInfo Bar(unsigned) override { return {}; }
};

host::BoardOptions WithBmc() {
  host::BoardOptions Options;
  Options.Settings["vga-bmc"] = "";
  return Options;
}

// The board with Vidframe loaded and started; the chip's memory set up by the BMC.
struct VidframeBoard {
  explicit VidframeBoard(const host::BoardOptions &Options = WithBmc()) {
    Built = host::Board::Build(Core, Options);
    BS = Core.BootServices();
    Other = std::make_unique<host::PciIoProducer>(Core, std::make_shared<OtherFunction>(),
                                                  host::PciLocation{0, 0, 2, 0});
    EXPECT_EQ(Other->Install(), EFI_SUCCESS);
    EXPECT_EQ(Core.LoadModule("Vidframe", &Image), EFI_SUCCESS);
    EXPECT_EQ(Core.StartImage(Image).Status, EFI_SUCCESS);
    EXPECT_EQ(BS->HandleProtocol(Image, &gEfiDriverBindingProtocolGuid, reinterpret_cast<VOID **>(&Driver)),
              EFI_SUCCESS);
    Controller = Built->Producer<host::PciIoProducer>("vga-pci-io")->Handle();
    PoolAfterEntry = Core.OutstandingPoolBytes(Image);
  }
  ~VidframeBoard() { board_test::ExpectNoUnexpectedErrors(*Built, Expected); }
  EFI_STATUS Connect(EFI_DEVICE_PATH_PROTOCOL *Remaining) {
    EFI_STATUS Status = EFI_NOT_READY;
    auto Halted = Core.Guard([&] { Status = BS->ConnectController(Controller, nullptr, Remaining, FALSE); });
    EXPECT_FALSE(Halted.has_value()) << (Halted ? Halted->Text : "");
    return Status;
  }
  EFI_STATUS Disconnect() {
    EFI_STATUS Status = EFI_NOT_READY;
    auto Halted = Core.Guard([&] { Status = BS->DisconnectController(Controller, nullptr, nullptr); });
    EXPECT_FALSE(Halted.has_value()) << (Halted ? Halted->Text : "");
    return Status;
  }
  // The handles carrying an interface of Guid.
  std::vector<EFI_HANDLE> HandlesWith(EFI_GUID Guid) {
    UINTN Count = 0;
    EFI_HANDLE *Handles = nullptr;
    if (EFI_ERROR(BS->LocateHandleBuffer(ByProtocol, &Guid, nullptr, &Count, &Handles))) {
      return {};
    }
    std::vector<EFI_HANDLE> Result(Handles, Handles + Count);
    BS->FreePool(Handles);
    return Result;
  }
  // The controller is as nobody had started it: no child, no open by the driver, the
  // attributes restored, the image's pool back to what its entry left.
  void ExpectReleased(uint64_t Attributes) {
    EXPECT_TRUE(HandlesWith(gEfiGraphicsOutputProtocolGuid).empty());
    EXPECT_TRUE(HandlesWith(gEfiEdidActiveProtocolGuid).empty());
    EXPECT_EQ(HandlesWith(gEfiDevicePathProtocolGuid).size(), 2u); // the VGA and the other function
    EXPECT_EQ(Built->Producer<host::PciIoProducer>("vga-pci-io")->CurrentAttributes(), Attributes);
    EXPECT_EQ(Core.OutstandingPoolBytes(Image), PoolAfterEntry);
    VOID *PciIo = nullptr;
    EXPECT_EQ(BS->OpenProtocol(Controller, &gEfiPciIoProtocolGuid, &PciIo, Image, Controller,
                               EFI_OPEN_PROTOCOL_BY_DRIVER),
              EFI_SUCCESS);
    EXPECT_EQ(BS->CloseProtocol(Controller, &gEfiPciIoProtocolGuid, Image, Controller), EFI_SUCCESS);
  }

  host::Platform Core;
  std::unique_ptr<host::Board> Built;
  std::unique_ptr<host::PciIoProducer> Other;
  EFI_BOOT_SERVICES *BS = nullptr;
  EFI_HANDLE Image = nullptr, Controller = nullptr;
  EFI_DRIVER_BINDING_PROTOCOL *Driver = nullptr;
  uint64_t PoolAfterEntry = 0;
  std::vector<std::string> Expected;
};

class Binding : public ::testing::Test, public VidframeBoard {};

TEST_F(Binding, EntryInstallsTheBindingTheNamesAndTheSupportedVersion) {
  EXPECT_EQ(Driver->Version, 0x10105u);
  EXPECT_EQ(Driver->ImageHandle, Image);
  EXPECT_EQ(Driver->DriverBindingHandle, Image);
  EFI_DRIVER_SUPPORTED_EFI_VERSION_PROTOCOL *Version = nullptr;
  ASSERT_EQ(BS->HandleProtocol(Image, &gEfiDriverSupportedEfiVersionProtocolGuid,
                               reinterpret_cast<VOID **>(&Version)),
            EFI_SUCCESS);
  EXPECT_EQ(Version->Length, 8u);
  EXPECT_EQ(Version->FirmwareVersion, 0x0002000Au);
}

TEST_F(Binding, SupportedOnlyForTheVgaFunctionAndLeavesItUnopened) {
  EXPECT_EQ(Driver->Supported(Driver, Controller, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Driver->Supported(Driver, Other->Handle(), nullptr), EFI_UNSUPPORTED);
  EXPECT_EQ(BS->ConnectController(Other->Handle(), nullptr, nullptr, FALSE), EFI_NOT_FOUND);
  ExpectReleased(0);
}

// Start through the core with each kind of remaining path, then Stop through the core, then
// Start again.
TEST_F(Binding, StartStopAndStartAgainForEveryRemainingPath) {
  ACPI_ADR_DEVICE_PATH OtherOutput[2] = {{{ACPI_DEVICE_PATH, ACPI_ADR_DP, {8, 0}}, 0x80010200},
                                         {{END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}}, 0}};
  EFI_DEVICE_PATH_PROTOCOL End = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}};
  struct Case {
    const char *Name;
    EFI_DEVICE_PATH_PROTOCOL *Remaining;
    bool Child;
    UINT32 Adr;
  } Cases[] = {{"no remaining path", nullptr, true, 0x80010100},
               {"an end node", &End, false, 0},
               {"another output", &OtherOutput[0].Header, true, 0x80010200}};
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    for (int Round = 0; Round < 2; Round++) {
      ASSERT_EQ(Connect(C.Remaining), EFI_SUCCESS);
      auto &Chip = Built->Model<host::vga::VgaChip>("vga");
      EXPECT_EQ(Chip.Crtc(0xA4) & 1, 1); // brought up in every case
      const auto Children = HandlesWith(gEfiGraphicsOutputProtocolGuid);
      ASSERT_EQ(Children.size(), C.Child ? 1u : 0u);
      if (C.Child) {
        EFI_DEVICE_PATH_PROTOCOL *Path = nullptr;
        ASSERT_EQ(
            BS->HandleProtocol(Children[0], &gEfiDevicePathProtocolGuid, reinterpret_cast<VOID **>(&Path)),
            EFI_SUCCESS);
        while (!IsDevicePathEnd(NextDevicePathNode(Path))) {
          Path = NextDevicePathNode(Path);
        }
        EXPECT_EQ(Path->Type, ACPI_DEVICE_PATH);
        EXPECT_EQ(Path->SubType, ACPI_ADR_DP);
        ACPI_ADR_DEVICE_PATH Node; // device path nodes are packed: copied out to read the _ADR
        std::memcpy(&Node, Path, sizeof(Node));
        EXPECT_EQ(Node.ADR, C.Adr);
        EXPECT_EQ(HandlesWith(gEfiEdidDiscoveredProtocolGuid), Children);
        EXPECT_EQ(HandlesWith(gEfiEdidActiveProtocolGuid), Children);
        // The Graphics Output is in mode 0 and draws.
        EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = nullptr;
        ASSERT_EQ(
            BS->HandleProtocol(Children[0], &gEfiGraphicsOutputProtocolGuid, reinterpret_cast<VOID **>(&Gop)),
            EFI_SUCCESS);
        EXPECT_EQ(Gop->Mode->Mode, 0u);
        EFI_GRAPHICS_OUTPUT_BLT_PIXEL Colour = {1, 2, 3, 0};
        Core.Guard(
            [&] { EXPECT_EQ(Gop->Blt(Gop, &Colour, EfiBltVideoFill, 0, 0, 0, 0, 2, 2, 0), EFI_SUCCESS); });
        EXPECT_EQ(Chip.FrameBuffer()[4], 1);
      }
      ASSERT_EQ(Disconnect(), EFI_SUCCESS);
      ExpectReleased(0);
    }
  }
}

// Both name protocols answer through one table of calls: driver and controller names for the
// language each protocol matches, a controller only while the driver manages it, never a child.
TEST_F(Binding, ComponentNamesForBothProtocols) {
  EFI_COMPONENT_NAME_PROTOCOL *Name = nullptr;
  EFI_COMPONENT_NAME2_PROTOCOL *Name2 = nullptr;
  ASSERT_EQ(BS->HandleProtocol(Image, &gEfiComponentNameProtocolGuid, reinterpret_cast<VOID **>(&Name)),
            EFI_SUCCESS);
  ASSERT_EQ(BS->HandleProtocol(Image, &gEfiComponentName2ProtocolGuid, reinterpret_cast<VOID **>(&Name2)),
            EFI_SUCCESS);
  EXPECT_STREQ(Name->SupportedLanguages, "eng");
  EXPECT_STREQ(Name2->SupportedLanguages, "en");
  ASSERT_EQ(Connect(nullptr), EFI_SUCCESS);
  EFI_HANDLE Child = HandlesWith(gEfiGraphicsOutputProtocolGuid).at(0), None = nullptr,
             Foreign = Other->Handle();
  CHAR8 Eng[] = "eng", En[] = "en", Fra[] = "fra";
  CHAR16 *Result = nullptr;
  struct Case {
    int Protocol;                 // 1 or 2
    EFI_HANDLE *Controller, *Kid; // no controller: GetDriverName
    CHAR8 *Language;
    bool Out; // false: no result pointer
    EFI_STATUS Status;
    const char *Text;
  } Cases[] = {
      {1, nullptr, nullptr, Eng, true, EFI_SUCCESS, "Vantor Graphics Driver"},
      {2, nullptr, nullptr, En, true, EFI_SUCCESS, "Vantor Graphics Driver"},
      {1, nullptr, nullptr, En, true, EFI_UNSUPPORTED, nullptr},
      {2, nullptr, nullptr, Eng, true, EFI_UNSUPPORTED, nullptr},
      {2, nullptr, nullptr, Fra, true, EFI_UNSUPPORTED, nullptr},
      {1, nullptr, nullptr, nullptr, true, EFI_INVALID_PARAMETER, nullptr},
      {2, nullptr, nullptr, En, false, EFI_INVALID_PARAMETER, nullptr},
      {1, &Controller, &None, Eng, true, EFI_SUCCESS, "Vantor Graphics PCI Adapter"},
      {2, &Controller, &None, En, true, EFI_SUCCESS, "Vantor Graphics PCI Adapter"},
      {2, &Controller, &Child, En, true, EFI_UNSUPPORTED, nullptr},
      {1, &Controller, &None, Fra, true, EFI_UNSUPPORTED, nullptr},
      {2, &Controller, &None, En, false, EFI_INVALID_PARAMETER, nullptr},
      {2, &Foreign, &None, En, true, EFI_UNSUPPORTED, nullptr}, // not managed
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(std::string(C.Language ? C.Language : "(none)") + " " + std::to_string(C.Protocol));
    CHAR16 **Out = C.Out ? &Result : nullptr;
    const EFI_STATUS Status =
        C.Controller == nullptr
            ? (C.Protocol == 1 ? Name->GetDriverName(Name, C.Language, Out)
                               : Name2->GetDriverName(Name2, C.Language, Out))
            : (C.Protocol == 1 ? Name->GetControllerName(Name, *C.Controller, *C.Kid, C.Language, Out)
                               : Name2->GetControllerName(Name2, *C.Controller, *C.Kid, C.Language, Out));
    ASSERT_EQ(Status, C.Status);
    if (C.Text != nullptr) {
      EXPECT_EQ(host::Utf16ToUtf8(reinterpret_cast<const char16_t *>(Result)), C.Text);
    }
  }
  ASSERT_EQ(Disconnect(), EFI_SUCCESS);
  EXPECT_EQ(Name->GetControllerName(Name, Controller, nullptr, Eng, &Result), EFI_UNSUPPORTED); // stopped
}

// A failed bring-up: Start fails and leaves neither a child nor an open, the attributes as
// they were, nothing of the image's pool.
TEST(BindingFailure, AFailedBringUpUndoesEverything) {
  host::BoardOptions Options = WithBmc();
  Options.Faults["vga-memory-never-ready"] = "";
  VidframeBoard Board(Options);
  EXPECT_EQ(Board.Connect(nullptr), EFI_NOT_FOUND);
  Board.ExpectReleased(0);
}

// Each allocation of the driver during Start failing in turn: Start fails and releases all
// it took, or (the first SetMode's allocations) succeeds without a mode and Stop releases
// all; only the Graphics Output's own records halt, at the construction assertion.
TEST(BindingFailure, EveryAllocationOfStartFailingInTurn) {
  uint64_t Allocations = 0;
  {
    VidframeBoard Board;
    const uint64_t Before = Board.Core.FirmwareAllocations();
    ASSERT_EQ(Board.Connect(nullptr), EFI_SUCCESS);
    Allocations = Board.Core.FirmwareAllocations() - Before;
  }
  ASSERT_GE(Allocations, 5u);
  unsigned Failed = 0, Halted = 0;
  for (uint64_t Nth = 1; Nth <= Allocations; Nth++) {
    SCOPED_TRACE(Nth);
    VidframeBoard Board;
    Board.Core.FailAllocation(Board.Core.FirmwareAllocations() + Nth, "Vidframe");
    EFI_STATUS Status = EFI_NOT_READY;
    auto Halt = Board.Core.Guard(
        [&] { Status = Board.BS->ConnectController(Board.Controller, nullptr, nullptr, FALSE); });
    if (Halt) {
      EXPECT_NE(Board.Core.StdErrText().find(u"ASSERT VantorGraphics(317)"), std::u16string::npos);
      Halted++;
      continue;
    }
    if (Status == EFI_SUCCESS) {
      ASSERT_EQ(Board.Disconnect(), EFI_SUCCESS);
    } else {
      Failed++;
    }
    Board.ExpectReleased(0);
  }
  EXPECT_GE(Failed, 3u);
  EXPECT_EQ(Halted, 2u);
}

// Start fails after the child's path is installed while another agent holds that path open:
// the child cannot be uninstalled, so it stays whole (its path readable, the record behind it)
// and Start returns the bring-up's error; once the agent lets go, Stop takes everything down.
TEST(BindingFailure, AChildThatCannotBeUninstalledStaysForStop) {
  host::BoardOptions Options = WithBmc();
  Options.Faults["vga-memory-never-ready"] = "";
  VidframeBoard Board(Options);
  struct Holder {
    EFI_BOOT_SERVICES *BS;
    VOID *Registration = nullptr;
    EFI_HANDLE Agent = nullptr, Child = nullptr;
  } H{Board.BS};
  static EFI_GUID AgentGuid = {0x5D3A1C2E, 0x7B41, 0x4F0A, {0x9C, 0x11, 0x2E, 0x6B, 0x80, 0x17, 0x44, 0x01}};
  static UINT8 AgentInterface;
  ASSERT_EQ(Board.BS->InstallProtocolInterface(&H.Agent, &AgentGuid, EFI_NATIVE_INTERFACE, &AgentInterface),
            EFI_SUCCESS);
  auto Hold = [](EFI_EVENT, VOID *Context) {
    auto *Self = static_cast<Holder *>(Context);
    EFI_HANDLE Handle = nullptr;
    UINTN Size = sizeof(Handle);
    while (
        !EFI_ERROR(Self->BS->LocateHandle(ByRegisterNotify, nullptr, Self->Registration, &Size, &Handle))) {
      VOID *Path = nullptr;
      if (Self->Child == nullptr &&
          !EFI_ERROR(Self->BS->OpenProtocol(Handle, &gEfiDevicePathProtocolGuid, &Path, Self->Agent, Handle,
                                            EFI_OPEN_PROTOCOL_BY_DRIVER))) {
        Self->Child = Handle;
      }
      Size = sizeof(Handle);
    }
  };
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(Board.BS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Hold, &H, &Event), EFI_SUCCESS);
  ASSERT_EQ(Board.BS->RegisterProtocolNotify(&gEfiDevicePathProtocolGuid, Event, &H.Registration),
            EFI_SUCCESS);

  EXPECT_EQ(Board.Connect(nullptr), EFI_NOT_FOUND);
  ASSERT_NE(H.Child, nullptr);
  VOID *Path = nullptr;
  ASSERT_EQ(Board.BS->HandleProtocol(H.Child, &gEfiDevicePathProtocolGuid, &Path), EFI_SUCCESS);
  const EFI_DEVICE_PATH_PROTOCOL *Node = static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Path), *Last = nullptr;
  for (; !IsDevicePathEnd(Node); Node = NextDevicePathNode(Node)) {
    Last = Node;
  }
  ASSERT_NE(Last, nullptr);
  UINT32 Adr = 0;
  std::memcpy(&Adr, &reinterpret_cast<const ACPI_ADR_DEVICE_PATH *>(Last)->ADR, sizeof(Adr));
  EXPECT_EQ(Adr, 0x80010100u);

  EXPECT_EQ(Board.BS->CloseProtocol(H.Child, &gEfiDevicePathProtocolGuid, H.Agent, H.Child), EFI_SUCCESS);
  EXPECT_EQ(Board.Disconnect(), EFI_SUCCESS);
  Board.ExpectReleased(0);
  Board.BS->CloseEvent(Event);
  Board.BS->UninstallProtocolInterface(H.Agent, &AgentGuid, &AgentInterface);
}

} // namespace
} // namespace vidframe_test
