// Records a host producer hands to firmware (protocol interfaces, tables, buffers) live in the
// board's DRAM, as another firmware's records would: firmware on the board sees no other memory.
// They are pool the core keeps until the platform ends, so they are never destroyed.
#pragma once

#include <FirmwareCall.h>
#include <HostPlatform.h>

#include <new>
#include <type_traits>

namespace host {

// A copy of Template in DRAM pool of Type (runtime records in EfiRuntimeServicesData); null
// when DRAM is full.
template <class T> T *NewRecord(Platform &P, const T &Template, EFI_MEMORY_TYPE Type = EfiBootServicesData) {
  static_assert(std::is_trivially_destructible_v<T>, "a record in DRAM is never destroyed");
  void *Memory = P.AllocateRecord(Type, sizeof(T));
  return Memory != nullptr ? new (Memory) T(Template) : nullptr;
}

// A function a producer hands to firmware in a record (a protocol member): the function itself
// in the host build, its trap stub when the images run on the board's AArch64 processor.
template <typename Function> Function Exported(Platform &P, const char *Name, Function Member) {
  return cpu::ExportFunction(P.Processor(), Name, Member);
}

// Host code calling a function pointer it found in a record firmware may have filled (or one a
// producer exported): natively in the host build, on the processor for guest code and stubs.
template <typename R, typename... Params, typename... Args>
R CallMember(Platform &P, R (*Member)(Params...), Args &&...Arguments) {
  return cpu::CallFirmware(P.Processor(), Member, std::forward<Args>(Arguments)...);
}

// Installs Record as Guid's interface on a new handle (given back through Handle when asked);
// EFI_OUT_OF_RESOURCES when there is no record (DRAM was full).
inline EFI_STATUS InstallInterface(Platform &P, const EFI_GUID &Guid, void *Record,
                                   EFI_HANDLE *Handle = nullptr) {
  if (Record == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_HANDLE New = nullptr;
  EFI_GUID Protocol = Guid;
  const EFI_STATUS Status =
      P.BootServices()->InstallProtocolInterface(&New, &Protocol, EFI_NATIVE_INTERFACE, Record);
  if (Handle != nullptr) {
    *Handle = New;
  }
  return Status;
}

// A DRAM copy of Template installed as Guid's interface on a new handle.
template <class T>
EFI_STATUS InstallRecord(Platform &P, const EFI_GUID &Guid, const T &Template, EFI_HANDLE *Handle = nullptr,
                         EFI_MEMORY_TYPE Type = EfiBootServicesData) {
  return InstallInterface(P, Guid, NewRecord(P, Template, Type), Handle);
}

} // namespace host
