// Device path node access, size, duplication and appending.
#include <Library/BaseMemoryLib.h>
#include <Library/DevicePathLib.h>
#include <Library/MemoryAllocationLib.h>

namespace {

constexpr UINTN NodeHeaderSize = sizeof(EFI_DEVICE_PATH_PROTOCOL);
constexpr UINTN EndNodeSize = NodeHeaderSize;

const EFI_DEVICE_PATH_PROTOCOL *AsNode(const VOID *Node) {
  return static_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Node);
}

// Pool copy of a lone end node: what appending two empty paths gives.
EFI_DEVICE_PATH_PROTOCOL *NewEndPath() {
  EFI_DEVICE_PATH_PROTOCOL *End = static_cast<EFI_DEVICE_PATH_PROTOCOL *>(AllocatePool(EndNodeSize));
  if (End != NULL) {
    SetDevicePathEndNode(End);
  }
  return End;
}

} // namespace

UINTN DevicePathNodeLength(const VOID *Node) {
  return AsNode(Node)->Length[0] | (AsNode(Node)->Length[1] << 8);
}

UINT8 DevicePathType(const VOID *Node) {
  return AsNode(Node)->Type;
}

UINT8 DevicePathSubType(const VOID *Node) {
  return AsNode(Node)->SubType;
}

EFI_DEVICE_PATH_PROTOCOL *NextDevicePathNode(const VOID *Node) {
  const UINT8 *Bytes = static_cast<const UINT8 *>(Node);
  return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(
      const_cast<UINT8 *>(Bytes + DevicePathNodeLength(Node)));
}

BOOLEAN IsDevicePathEndType(const VOID *Node) {
  return DevicePathType(Node) == END_DEVICE_PATH_TYPE;
}

BOOLEAN IsDevicePathEnd(const VOID *Node) {
  return IsDevicePathEndType(Node) && DevicePathSubType(Node) == END_ENTIRE_DEVICE_PATH_SUBTYPE;
}

VOID SetDevicePathNodeLength(VOID *Node, UINTN Length) {
  EFI_DEVICE_PATH_PROTOCOL *Header = static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Node);
  Header->Length[0] = static_cast<UINT8>(Length & 0xFF);
  Header->Length[1] = static_cast<UINT8>((Length >> 8) & 0xFF);
}

VOID SetDevicePathEndNode(VOID *Node) {
  EFI_DEVICE_PATH_PROTOCOL *Header = static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Node);
  Header->Type = END_DEVICE_PATH_TYPE;
  Header->SubType = END_ENTIRE_DEVICE_PATH_SUBTYPE;
  SetDevicePathNodeLength(Node, EndNodeSize);
}

UINTN GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *DevicePath) {
  if (DevicePath == NULL) {
    return 0;
  }
  UINTN Size = 0;
  const EFI_DEVICE_PATH_PROTOCOL *Node = DevicePath;
  while (!IsDevicePathEnd(Node)) {
    UINTN Length = DevicePathNodeLength(Node);
    if (Length < NodeHeaderSize) {
      return 0; // a node that does not advance: the path is malformed
    }
    Size += Length;
    Node = NextDevicePathNode(Node);
  }
  if (DevicePathNodeLength(Node) != EndNodeSize) {
    return 0;
  }
  return Size + EndNodeSize;
}

EFI_DEVICE_PATH_PROTOCOL *DuplicateDevicePath(const EFI_DEVICE_PATH_PROTOCOL *DevicePath) {
  UINTN Size = GetDevicePathSize(DevicePath);
  if (Size == 0) {
    return NULL;
  }
  return static_cast<EFI_DEVICE_PATH_PROTOCOL *>(AllocateCopyPool(Size, DevicePath));
}

EFI_DEVICE_PATH_PROTOCOL *AppendDevicePath(const EFI_DEVICE_PATH_PROTOCOL *FirstDevicePath,
                                           const EFI_DEVICE_PATH_PROTOCOL *SecondDevicePath) {
  if (FirstDevicePath == NULL && SecondDevicePath == NULL) {
    return NewEndPath();
  }
  if (FirstDevicePath == NULL) {
    return DuplicateDevicePath(SecondDevicePath);
  }
  if (SecondDevicePath == NULL) {
    return DuplicateDevicePath(FirstDevicePath);
  }
  UINTN FirstSize = GetDevicePathSize(FirstDevicePath);
  UINTN SecondSize = GetDevicePathSize(SecondDevicePath);
  if (FirstSize == 0 || SecondSize == 0) {
    return NULL;
  }
  // The first path's end node is replaced by the second path.
  UINTN FirstBody = FirstSize - EndNodeSize;
  UINT8 *Result = static_cast<UINT8 *>(AllocatePool(FirstBody + SecondSize));
  if (Result == NULL) {
    return NULL;
  }
  CopyMem(Result, FirstDevicePath, FirstBody);
  CopyMem(Result + FirstBody, SecondDevicePath, SecondSize);
  return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Result);
}

EFI_DEVICE_PATH_PROTOCOL *AppendDevicePathNode(const EFI_DEVICE_PATH_PROTOCOL *DevicePath,
                                               const EFI_DEVICE_PATH_PROTOCOL *DevicePathNode) {
  if (DevicePathNode == NULL) {
    return DevicePath != NULL ? DuplicateDevicePath(DevicePath) : NewEndPath();
  }
  UINTN NodeLength = DevicePathNodeLength(DevicePathNode);
  if (NodeLength < NodeHeaderSize) {
    return NULL;
  }
  // The node alone, terminated, then appended as a path.
  UINT8 *Single = static_cast<UINT8 *>(AllocatePool(NodeLength + EndNodeSize));
  if (Single == NULL) {
    return NULL;
  }
  CopyMem(Single, DevicePathNode, NodeLength);
  SetDevicePathEndNode(Single + NodeLength);
  if (DevicePath == NULL) {
    return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Single);
  }
  EFI_DEVICE_PATH_PROTOCOL *Result =
      AppendDevicePath(DevicePath, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Single));
  FreePool(Single);
  return Result;
}
