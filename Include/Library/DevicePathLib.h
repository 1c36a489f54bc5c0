// Device path helpers (EDK2 DevicePathLib class). Results are pool memory owned by the caller.
#pragma once

#include <Uefi.h>

UINTN DevicePathNodeLength(const VOID *Node);
UINT8 DevicePathType(const VOID *Node);
UINT8 DevicePathSubType(const VOID *Node);
EFI_DEVICE_PATH_PROTOCOL *NextDevicePathNode(const VOID *Node);
BOOLEAN IsDevicePathEndType(const VOID *Node); // end of an instance or of the whole path
BOOLEAN IsDevicePathEnd(const VOID *Node);     // end of the whole path
VOID SetDevicePathNodeLength(VOID *Node, UINTN Length);
VOID SetDevicePathEndNode(VOID *Node);
// End node included; 0 for NULL or for a malformed path (a node shorter than its header).
UINTN GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *DevicePath);
EFI_DEVICE_PATH_PROTOCOL *DuplicateDevicePath(const EFI_DEVICE_PATH_PROTOCOL *DevicePath);
// NULL paths count as empty (two NULLs give a lone end node); NULL when a path is malformed
// or pool runs out.
EFI_DEVICE_PATH_PROTOCOL *AppendDevicePath(const EFI_DEVICE_PATH_PROTOCOL *FirstDevicePath,
                                           const EFI_DEVICE_PATH_PROTOCOL *SecondDevicePath);
EFI_DEVICE_PATH_PROTOCOL *AppendDevicePathNode(const EFI_DEVICE_PATH_PROTOCOL *DevicePath,
                                               const EFI_DEVICE_PATH_PROTOCOL *DevicePathNode);
