// Test image: leaves through Exit() from a nested call, with a status of its own and a text
// in pool memory as its exit data.
#include <Uefi.h>

namespace {
EFI_SYSTEM_TABLE *gSystemTable = nullptr;
volatile UINT32 AfterExit = 0;
constexpr CHAR16 EXIT_TEXT[] = u"stopped on purpose";

[[gnu::noinline]] VOID Leave(EFI_HANDLE ImageHandle) {
  EFI_BOOT_SERVICES *BootServices = gSystemTable->BootServices;
  CHAR16 *ExitData = nullptr;
  if (EFI_ERROR(BootServices->AllocatePool(EfiBootServicesData, sizeof(EXIT_TEXT),
                                           reinterpret_cast<VOID **>(&ExitData)))) {
    return;
  }
  BootServices->CopyMem(ExitData, const_cast<CHAR16 *>(EXIT_TEXT), sizeof(EXIT_TEXT));
  BootServices->Exit(ImageHandle, EFI_ABORTED, sizeof(EXIT_TEXT), ExitData);
  AfterExit = AfterExit + 1;
}
} // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gSystemTable = SystemTable;
  Leave(ImageHandle);
  return EFI_SUCCESS;
}
