// Small helpers of the core: device path walking.
#include "CoreInternal.h"

#include <cstdio>

namespace host {

size_t DevicePathNodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return static_cast<size_t>(Node->Length[0]) | (static_cast<size_t>(Node->Length[1]) << 8);
}

bool IsDevicePathEndNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return Node->Type == END_DEVICE_PATH_TYPE;
}

size_t DevicePathInstanceSize(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  // A node shorter than its header would loop for ever; such a path ends there.
  constexpr size_t kMaxPathBytes = 64 * 1024;
  size_t Size = 0;
  const auto *Bytes = reinterpret_cast<const uint8_t *>(Path);
  while (Size < kMaxPathBytes) {
    const auto *Node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Bytes + Size);
    size_t Length = DevicePathNodeLength(Node);
    if (IsDevicePathEndNode(Node) || Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      break;
    }
    Size += Length;
  }
  return Size;
}

} // namespace host
