// The PCI I/O producer over the VGA function: argument checks in the order the UEFI rules give
// them, every transfer form against the model's memory, attributes, BAR descriptors, DMA
// mapping and buffers, and the function's configuration space.
#include "VidframeTestBoard.h"

#include <IndustryStandard/Acpi.h>
#include <Protocol/DevicePath.h>

#include <gtest/gtest.h>

#include <cstring>

namespace vidframe_test {
namespace {

TEST(VidframePciIo, ArgumentChecks) {
  ChipBoard Board;
  EFI_PCI_IO_PROTOCOL *Io = Board.PciIo();
  uint8_t Buffer[64] = {};
  UINT64 Result = 0;
  VOID *Pointer = nullptr;
  UINTN Bytes = 16, Number = 0;
  EFI_PHYSICAL_ADDRESS Device = 0;
  const uint64_t Fb = 16ull << 20;
  struct Case {
    const char *Name;
    std::function<EFI_STATUS()> Call;
    EFI_STATUS Expected;
  } Cases[] = {
      {"width past the last", [&] { return Io->Mem.Read(Io, EfiPciIoWidthMaximum, 0, 0, 1, Buffer); },
       EFI_INVALID_PARAMETER},
      {"no buffer", [&] { return Io->Mem.Write(Io, EfiPciIoWidthUint32, 0, 0, 1, nullptr); },
       EFI_INVALID_PARAMETER},
      {"BAR without a decoder", [&] { return Io->Mem.Read(Io, EfiPciIoWidthUint32, 2, 0, 1, Buffer); },
       EFI_UNSUPPORTED},
      {"BAR index past 5", [&] { return Io->Mem.Read(Io, EfiPciIoWidthUint32, 6, 0, 1, Buffer); },
       EFI_UNSUPPORTED},
      {"past the BAR end", [&] { return Io->Mem.Read(Io, EfiPciIoWidthUint32, 0, Fb - 4, 2, Buffer); },
       EFI_UNSUPPORTED},
      {"last word of the BAR", [&] { return Io->Mem.Read(Io, EfiPciIoWidthUint32, 0, Fb - 4, 1, Buffer); },
       EFI_SUCCESS},
      {"count that wraps", [&] { return Io->Mem.Read(Io, EfiPciIoWidthUint64, 0, 0, ~UINTN(0) / 4, Buffer); },
       EFI_UNSUPPORTED},
      {"unaligned", [&] { return Io->Mem.Read(Io, EfiPciIoWidthUint32, 1, 0x3C2, 1, Buffer); },
       EFI_UNSUPPORTED},
      {"FIFO reaches only its one element",
       [&] { return Io->Mem.Read(Io, EfiPciIoWidthFifoUint32, 0, Fb - 4, 8, Buffer); }, EFI_SUCCESS},
      {"I/O on a memory BAR", [&] { return Io->Io.Read(Io, EfiPciIoWidthUint8, 1, 0x3C2, 1, Buffer); },
       EFI_UNSUPPORTED},
      {"I/O pass-through",
       [&] { return Io->Io.Read(Io, EfiPciIoWidthUint8, EFI_PCI_IO_PASS_THROUGH_BAR, 0x3CC, 1, Buffer); },
       EFI_SUCCESS},
      {"config 64-bit", [&] { return Io->Pci.Read(Io, EfiPciIoWidthUint64, 0, 1, Buffer); },
       EFI_INVALID_PARAMETER},
      {"config past 256", [&] { return Io->Pci.Read(Io, EfiPciIoWidthUint32, 0xFC, 2, Buffer); },
       EFI_UNSUPPORTED},
      {"config no buffer", [&] { return Io->Pci.Read(Io, EfiPciIoWidthUint32, 0, 1, nullptr); },
       EFI_INVALID_PARAMETER},
      {"poll FIFO width", [&] { return Io->PollMem(Io, EfiPciIoWidthFifoUint32, 0, 0, 0, 0, 0, &Result); },
       EFI_INVALID_PARAMETER},
      {"poll no result", [&] { return Io->PollMem(Io, EfiPciIoWidthUint32, 0, 0, 0, 0, 0, nullptr); },
       EFI_INVALID_PARAMETER},
      {"poll bad BAR", [&] { return Io->PollMem(Io, EfiPciIoWidthUint32, 4, 0, 0, 0, 0, &Result); },
       EFI_UNSUPPORTED},
      {"copy fill width", [&] { return Io->CopyMem(Io, EfiPciIoWidthFillUint32, 0, 0, 0, 64, 1); },
       EFI_INVALID_PARAMETER},
      {"copy past the end", [&] { return Io->CopyMem(Io, EfiPciIoWidthUint32, 0, Fb - 4, 0, 0, 2); },
       EFI_UNSUPPORTED},
      {"map bad operation",
       [&] { return Io->Map(Io, EfiPciIoOperationMaximum, Buffer, &Bytes, &Device, &Pointer); },
       EFI_INVALID_PARAMETER},
      {"map no length",
       [&] { return Io->Map(Io, EfiPciIoOperationBusMasterRead, Buffer, nullptr, &Device, &Pointer); },
       EFI_INVALID_PARAMETER},
      {"unmap unknown", [&] { return Io->Unmap(Io, Buffer); }, EFI_INVALID_PARAMETER},
      {"buffer at an address",
       [&] { return Io->AllocateBuffer(Io, AllocateAddress, EfiBootServicesData, 1, &Pointer, 0); },
       EFI_INVALID_PARAMETER},
      {"buffer of code type",
       [&] { return Io->AllocateBuffer(Io, AllocateAnyPages, EfiBootServicesCode, 1, &Pointer, 0); },
       EFI_INVALID_PARAMETER},
      {"buffer attribute",
       [&] {
         return Io->AllocateBuffer(Io, AllocateAnyPages, EfiBootServicesData, 1, &Pointer,
                                   EFI_PCI_IO_ATTRIBUTE_IO);
       },
       EFI_UNSUPPORTED},
      {"location part missing", [&] { return Io->GetLocation(Io, &Number, &Number, nullptr, &Number); },
       EFI_INVALID_PARAMETER},
      {"attributes get no result",
       [&] { return Io->Attributes(Io, EfiPciIoAttributeOperationGet, 0, nullptr); }, EFI_INVALID_PARAMETER},
      {"attributes bad operation",
       [&] { return Io->Attributes(Io, EfiPciIoAttributeOperationMaximum, 0, &Result); },
       EFI_INVALID_PARAMETER},
      {"attribute not supported",
       [&] {
         return Io->Attributes(Io, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_IDE_PRIMARY_IO,
                               nullptr);
       },
       EFI_UNSUPPORTED},
      {"BAR attributes nothing asked", [&] { return Io->GetBarAttributes(Io, 0, nullptr, nullptr); },
       EFI_INVALID_PARAMETER},
      {"BAR attributes of no BAR", [&] { return Io->GetBarAttributes(Io, 3, &Result, nullptr); },
       EFI_UNSUPPORTED},
      {"set BAR attributes no length", [&] { return Io->SetBarAttributes(Io, 0, 0, &Result, nullptr); },
       EFI_INVALID_PARAMETER},
  };
  for (const Case &C : Cases) {
    EFI_STATUS Status = EFI_NOT_READY;
    Board.Run([&] { Status = C.Call(); });
    EXPECT_EQ(Status, C.Expected) << C.Name;
  }
}

TEST(VidframePciIo, TransferFormsMoveTheRightBytes) {
  ChipBoard Board;
  EFI_PCI_IO_PROTOCOL *Io = Board.PciIo();
  std::vector<uint8_t> &Fb = Board.Chip().FrameBuffer();
  auto Word = [&](size_t Offset) {
    uint32_t Value;
    std::memcpy(&Value, &Fb[Offset], 4);
    return Value;
  };
  Board.Run([&] {
    const uint32_t Fill = 0x00FF8040;
    EXPECT_EQ(Io->Mem.Write(Io, EfiPciIoWidthFillUint32, 0, 0x100, 1000, const_cast<uint32_t *>(&Fill)),
              EFI_SUCCESS);
    uint32_t Step[4] = {1, 2, 3, 4};
    EXPECT_EQ(Io->Mem.Write(Io, EfiPciIoWidthUint32, 0, 0x10000, 4, Step), EFI_SUCCESS);
    uint16_t Halves[3] = {0xAAAA, 0xBBBB, 0xCCCC};
    EXPECT_EQ(Io->Mem.Write(Io, EfiPciIoWidthFifoUint16, 0, 0x20000, 3, Halves), EFI_SUCCESS);
    // Overlapping copy upwards within the frame buffer keeps the source order.
    EXPECT_EQ(Io->CopyMem(Io, EfiPciIoWidthUint32, 0, 0x10004, 0, 0x10000, 4), EFI_SUCCESS);
    uint32_t Back[2] = {};
    EXPECT_EQ(Io->Mem.Read(Io, EfiPciIoWidthFillUint32, 0, 0x100, 2, Back), EFI_SUCCESS);
    EXPECT_EQ(Back[0], Fill);
    uint8_t Misc = 0;
    EXPECT_EQ(Io->Io.Read(Io, EfiPciIoWidthUint8, EFI_PCI_IO_PASS_THROUGH_BAR, 0x3CC, 1, &Misc), EFI_SUCCESS);
    EXPECT_EQ(Misc, 0xFF); // legacy VGA ports decode only with the VGA attributes on
  });
  EXPECT_EQ(Word(0x100), 0x00FF8040u);
  EXPECT_EQ(Word(0x100 + 999 * 4), 0x00FF8040u);
  EXPECT_EQ(Word(0x100 + 1000 * 4), 0x5A5A5A5Au);
  EXPECT_EQ(Word(0x10000), 1u);
  EXPECT_EQ(Word(0x10004), 1u);
  EXPECT_EQ(Word(0x10010), 4u);
  EXPECT_EQ(Word(0x20000), 0x5A5ACCCCu);

  // With memory decoding off nothing reaches the frame buffer, and the chip says so.
  Board.Run([&] {
    EXPECT_EQ(Io->Attributes(Io, EfiPciIoAttributeOperationDisable, EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr),
              EFI_SUCCESS);
    const uint32_t Zero = 0;
    Io->Mem.Write(Io, EfiPciIoWidthFillUint32, 0, 0x100, 4, const_cast<uint32_t *>(&Zero));
  });
  EXPECT_EQ(Word(0x100), 0x00FF8040u);
  EXPECT_FALSE(Board.Chip().ProtocolErrors().empty());
  Board.ExpectErrors({"that no BAR decodes"});
}

TEST(VidframePciIo, FunctionAttributesBarsAndBuffers) {
  ChipBoard Board;
  EFI_PCI_IO_PROTOCOL *Io = Board.PciIo();
  Board.Run([&] {
    uint32_t Header[16] = {};
    ASSERT_EQ(Io->Pci.Read(Io, EfiPciIoWidthUint32, 0, 16, Header), EFI_SUCCESS);
    EXPECT_EQ(Header[0], 0x20001A03u);
    EXPECT_EQ(Header[2] >> 8, 0x030000u); // display controller, VGA
    EXPECT_EQ(Header[1] & 0x7, 0x2u);     // memory decoding only

    // BAR sizing: all ones reads back the size mask, the type bits stay.
    uint32_t Ones = 0xFFFFFFFF, Saved = Header[5], Mask = 0;
    Io->Pci.Write(Io, EfiPciIoWidthUint32, 0x14, 1, &Ones);
    Io->Pci.Read(Io, EfiPciIoWidthUint32, 0x14, 1, &Mask);
    EXPECT_EQ(Mask, ~uint32_t(0x20000 - 1));
    Io->Pci.Write(Io, EfiPciIoWidthUint32, 0x14, 1, &Saved);
    // A moved BAR is where the next memory access through it goes.
    uint32_t Moved = 0x5C020000, Enable = 7;
    for (uint32_t *Base : {&Moved, &Saved}) {
      EXPECT_EQ(Io->Mem.Read(Io, EfiPciIoWidthUint32, 1, 0xF000, 1, &Enable), EFI_SUCCESS);
      EXPECT_EQ(Enable, 0u);
      Io->Pci.Write(Io, EfiPciIoWidthUint32, 0x14, 1, Base);
    }
    EXPECT_TRUE(Board.Chip().ProtocolErrors().empty());

    UINT64 Supported = 0, Current = 0;
    Io->Attributes(Io, EfiPciIoAttributeOperationSupported, 0, &Supported);
    EXPECT_EQ(Supported & EFI_PCI_DEVICE_ENABLE, EFI_PCI_DEVICE_ENABLE);
    EXPECT_NE(Supported & EFI_PCI_IO_ATTRIBUTE_VGA_IO, 0u);
    Io->Attributes(Io, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_VGA_IO, nullptr);
    Io->Attributes(Io, EfiPciIoAttributeOperationGet, 0, &Current);
    EXPECT_EQ(Current, EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_VGA_IO);
    uint8_t Misc = 0x67;
    Io->Io.Write(Io, EfiPciIoWidthUint8, EFI_PCI_IO_PASS_THROUGH_BAR, 0x3C2, 1, &Misc);
    EXPECT_EQ(Board.Chip().MiscOutput(), 0x67);

    for (UINT8 Bar = 0; Bar < 2; Bar++) {
      UINT64 Supports = 0;
      VOID *Resources = nullptr;
      ASSERT_EQ(Io->GetBarAttributes(Io, Bar, &Supports, &Resources), EFI_SUCCESS);
      EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Descriptor;
      std::memcpy(&Descriptor, Resources, sizeof(Descriptor));
      EXPECT_EQ(Descriptor.Desc, ACPI_ADDRESS_SPACE_DESCRIPTOR);
      EXPECT_EQ(Descriptor.ResType, ACPI_ADDRESS_SPACE_TYPE_MEM);
      const uint64_t Minimum = Descriptor.AddrRangeMin, Length = Descriptor.AddrLen; // packed fields
      EXPECT_EQ(Minimum, Bar == 0 ? 0x58000000u : 0x5C000000u);
      EXPECT_EQ(Length, Bar == 0 ? 16u << 20 : 0x20000u);
      EXPECT_EQ(static_cast<uint8_t *>(Resources)[sizeof(Descriptor)], ACPI_END_TAG_DESCRIPTOR);
      EXPECT_EQ(Supports != 0, Bar == 0); // the frame buffer is prefetchable
      EXPECT_EQ(Board.Core().BootServices()->FreePool(Resources), EFI_SUCCESS);
    }

    VOID *Host = nullptr, *Mapping = nullptr;
    ASSERT_EQ(Io->AllocateBuffer(Io, AllocateAnyPages, EfiBootServicesData, 2, &Host, 0), EFI_SUCCESS);
    UINTN Bytes = 8192;
    EFI_PHYSICAL_ADDRESS Device = 0;
    EXPECT_EQ(Io->Map(Io, EfiPciIoOperationBusMasterCommonBuffer, Host, &Bytes, &Device, &Mapping),
              EFI_SUCCESS);
    EXPECT_EQ(Device, reinterpret_cast<uintptr_t>(Host));
    EXPECT_EQ(Io->Unmap(Io, Mapping), EFI_SUCCESS);
    EXPECT_EQ(Io->Unmap(Io, Mapping), EFI_INVALID_PARAMETER);
    EXPECT_EQ(Io->FreeBuffer(Io, 2, Host), EFI_SUCCESS);

    UINTN Segment = 9, Bus = 9, DeviceNumber = 9, Function = 9;
    EXPECT_EQ(Io->GetLocation(Io, &Segment, &Bus, &DeviceNumber, &Function), EFI_SUCCESS);
    EXPECT_EQ(Segment + Bus + Function, 0u);
    EXPECT_EQ(DeviceNumber, 1u);

    // A poll that never matches ends when its delay (100 ns units) has passed in virtual time.
    UINT64 Result = 0;
    const uint64_t Before = Board.Core().VirtualTimeNs();
    EXPECT_EQ(Io->PollMem(Io, EfiPciIoWidthUint32, 0, 0, ~0ull, 1, 1000, &Result), EFI_TIMEOUT);
    EXPECT_GE(Board.Core().VirtualTimeNs() - Before, 100'000u);
    EXPECT_EQ(Result, 0x5A5A5A5Au);
  });
  EXPECT_EQ(Board.Producer().OpenMappings(), 0u);

  // The handle carries the function's path under a PCI root: PciRoot(0)/Pci(1,0).
  VOID *Path = nullptr;
  ASSERT_EQ(Board.Core().BootServices()->HandleProtocol(Board.Producer().Handle(),
                                                        &gEfiDevicePathProtocolGuid, &Path),
            EFI_SUCCESS);
  const uint8_t Expected[] = {2, 1, 12, 0, 0xD0, 0x41, 0x03, 0x0A, 0,    0, 0,
                              0, 1, 1,  6, 0,    0,    1,    0x7F, 0xFF, 4, 0};
  EXPECT_EQ(std::memcmp(Path, Expected, sizeof(Expected)), 0);
}

} // namespace
} // namespace vidframe_test
