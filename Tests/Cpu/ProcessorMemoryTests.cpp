// The processor's private memory in the core: the .efi images and the processor's own pages live
// there and never in DRAM, so the core's DRAM is what the host build leaves; a region too small
// for the images is an error of the boot that names the image and the region.
#include "ImageFiles.h"

#include <GcdMap.h>
#include <HostPlatform.h>
#include <Protocol/LoadedImage.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kSmallRegionPages = 256;

bool MgmtprobeBuilt() {
  return !cpu::ImageFile("Mgmtprobe.efi").empty();
}

host::PlatformOptions Aarch64Mgmtprobe() {
  host::PlatformOptions Options;
  Options.Aarch64Images = true;
  const char *FromEnvironment = std::getenv("UEFI_IMAGE_DIR");
  Options.Aarch64ImageDir = FromEnvironment && *FromEnvironment ? FromEnvironment : UEFI_IMAGE_DIR_DEFAULT;
  return Options;
}

// The UEFI memory map and the next page allocation: what firmware would see of DRAM.
std::vector<uint8_t> DramAsFirmwareSeesIt(host::Platform &Board) {
  UINTN Size = 0, Key = 0, DescriptorSize = 0;
  UINT32 Version = 0;
  Board.BootServices()->GetMemoryMap(&Size, nullptr, &Key, &DescriptorSize, &Version);
  std::vector<uint8_t> Seen(Size + sizeof(EFI_PHYSICAL_ADDRESS));
  EXPECT_EQ(Board.BootServices()->GetMemoryMap(&Size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(Seen.data()),
                                               &Key, &DescriptorSize, &Version),
            EFI_SUCCESS);
  Seen.resize(Size);
  EFI_PHYSICAL_ADDRESS Next = 0;
  EXPECT_EQ(Board.BootServices()->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Next),
            EFI_SUCCESS);
  Seen.insert(Seen.end(), reinterpret_cast<uint8_t *>(&Next), reinterpret_cast<uint8_t *>(&Next + 1));
  return Seen;
}

TEST(ProcessorMemory, AnImageOnTheProcessorLeavesDramAsTheHostBuildHasIt) {
  if (!MgmtprobeBuilt()) {
    GTEST_SKIP() << "Mgmtprobe.efi not built (Tools/scripts/build uefi-aarch64)";
  }
  std::vector<uint8_t> Untouched;
  {
    host::Platform Board;
    Untouched = DramAsFirmwareSeesIt(Board);
  }
  host::Platform Board(Aarch64Mgmtprobe());
  EFI_HANDLE Image = nullptr;
  ASSERT_EQ(Board.LoadModule("Mgmtprobe", &Image), EFI_SUCCESS);
  EFI_GUID LoadedImage = EFI_LOADED_IMAGE_PROTOCOL_GUID;
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = nullptr;
  ASSERT_EQ(Board.BootServices()->HandleProtocol(Image, &LoadedImage, reinterpret_cast<VOID **>(&Loaded)),
            EFI_SUCCESS);
  const uint64_t Base = reinterpret_cast<uint64_t>(Loaded->ImageBase);
  EXPECT_GE(Base, host::kProcessorMemory.Base);
  EXPECT_LE(Base + Loaded->ImageSize, host::kProcessorMemory.Base + host::kProcessorMemory.Size);
  EXPECT_EQ(DramAsFirmwareSeesIt(Board), Untouched) << "the memory map or the next DRAM page moved";
}

TEST(ProcessorMemory, ARegionTooSmallForTheImagesIsAnErrorNamingBoth) {
  if (!MgmtprobeBuilt()) {
    GTEST_SKIP() << "Mgmtprobe.efi not built (Tools/scripts/build uefi-aarch64)";
  }
  host::PlatformOptions Options = Aarch64Mgmtprobe();
  Options.ProcessorMemory.Size = EFI_PAGES_TO_SIZE(kSmallRegionPages);
  host::Platform Board(Options);
  EFI_STATUS Status = EFI_SUCCESS;
  for (uint64_t Load = 0; Load < kSmallRegionPages && !EFI_ERROR(Status); Load++) {
    EFI_HANDLE Image = nullptr;
    Status = Board.LoadModule("Mgmtprobe", &Image);
  }
  EXPECT_EQ(Status, EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Board.Errors().size(), 1u);
  EXPECT_NE(Board.Errors()[0].find("processor memory: Mgmtprobe: Mgmtprobe.efi needs "), std::string::npos);
  EXPECT_NE(Board.Errors()[0].find("the processor's memory 0x78000000-0x780FFFFF (256 pages, "),
            std::string::npos)
      << Board.Errors()[0];
  Board.TakeErrors();
}

// The board declares its blocks after the processor is made: a block under the processor's
// memory is found at the next load, before any of its pages could shadow the block's model.
TEST(ProcessorMemory, ABoardBlockUnderItIsAnErrorAtTheNextLoad) {
  if (!MgmtprobeBuilt()) {
    GTEST_SKIP() << "Mgmtprobe.efi not built (Tools/scripts/build uefi-aarch64)";
  }
  host::Platform Board(Aarch64Mgmtprobe());
  constexpr uint64_t kBlock = host::kProcessorMemory.Base + host::kProcessorMemory.Size - EFI_PAGE_SIZE;
  ASSERT_EQ(Board.Gcd().AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, kBlock, EFI_PAGE_SIZE, EFI_MEMORY_UC),
            EFI_SUCCESS);
  EFI_HANDLE Image = nullptr;
  EXPECT_EQ(Board.LoadModule("Mgmtprobe", &Image), EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Board.Errors().size(), 1u);
  EXPECT_NE(
      Board.Errors()[0].find("processor memory: Mgmtprobe: the processor's memory 0x78000000-0x79FFFFFF"),
      std::string::npos)
      << Board.Errors()[0];
  EXPECT_NE(Board.Errors()[0].find("overlaps the board's MMIO range at 0x79FFF000"), std::string::npos)
      << Board.Errors()[0];
  Board.TakeErrors();
}

} // namespace
