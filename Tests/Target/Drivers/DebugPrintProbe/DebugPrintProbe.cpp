// DebugPrintProbe: prints messages through DebugPrint, the images' way to the platform's
// debug-output protocol: one without arguments, one with each common conversion, one with more
// arguments than the registers hold, and one the error-level mask filters out. Ends with
// "DebugPrintProbe: done" through the console.
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>

EFI_STATUS EFIAPI DebugPrintProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DEBUG((DEBUG_INFO, "DebugPrintProbe: filtered %a\n", "out"));
  DEBUG((DEBUG_ERROR, "DebugPrintProbe: no arguments\n"));
  DEBUG((DEBUG_ERROR, "DebugPrintProbe: a=%a d=%d x=%x lx=%lx r=%r\n", "text", -42, 0xBEEFu,
         0x123456789ABCDEF0ull, EFI_NOT_FOUND));
  // Fourteen arguments: six in registers at the call, the rest on the stack; 32- and 64-bit
  // values alternate so that a walk with the wrong slot size shows.
  DEBUG((DEBUG_ERROR, "DebugPrintProbe: %a %d %x %lx %r %a %d %x %lx %r %08x [%*d] %c\n", "one", 1, 0x2u,
         0x300000004ull, EFI_SUCCESS, "six", -7, 0xFFFFFFFFu, 0xFEDCBA9876543210ull, EFI_UNSUPPORTED, 0xABu,
         6, 42, 'z'));
  AsciiPrint("DebugPrintProbe: done\n");
  return EFI_SUCCESS;
}
