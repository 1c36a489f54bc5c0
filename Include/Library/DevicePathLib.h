// Device path helpers (EDK2 DevicePathLib class). Results are pool memory owned by the caller.
#pragma once

#include <Uefi.h>

UINTN DevicePathNodeLength(const VOID *Node);
UINT8 DevicePathType(const VOID *Node);
UINT8 DevicePathSubType(const VOID *Node);
EFI_DEVICE_PATH_PROTOCOL *NextDevicePathNode(const VOID *Node);
BOOLEAN IsDevicePathEnd(const VOID *Node);
VOID SetDevicePathNodeLength(VOID *Node, UINTN Length);
VOID SetDevicePathEndNode(VOID *Node);
UINTN GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *DevicePath);  // end node included; 0 for NULL
EFI_DEVICE_PATH_PROTOCOL *DuplicateDevicePath(const EFI_DEVICE_PATH_PROTOCOL *DevicePath);
EFI_DEVICE_PATH_PROTOCOL *AppendDevicePath(const EFI_DEVICE_PATH_PROTOCOL *FirstDevicePath,
                                           const EFI_DEVICE_PATH_PROTOCOL *SecondDevicePath);
EFI_DEVICE_PATH_PROTOCOL *AppendDevicePathNode(const EFI_DEVICE_PATH_PROTOCOL *DevicePath,
                                               const EFI_DEVICE_PATH_PROTOCOL *DevicePathNode);
