// GUID definitions: DXE services, status codes and architectural protocols.
#include <Guid/DxeServices.h>
#include <Pi/PiStatusCode.h>
#include <Protocol/Cpu.h>
#include <Protocol/StatusCode.h>

EFI_GUID gEfiDxeServicesTableGuid = DXE_SERVICES_TABLE_GUID;
EFI_GUID gEfiStatusCodeDataTypeStringGuid = EFI_STATUS_CODE_DATA_TYPE_STRING_GUID;
EFI_GUID gEfiStatusCodeRuntimeProtocolGuid = EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID;
EFI_GUID gEfiCpuArchProtocolGuid = EFI_CPU_ARCH_PROTOCOL_GUID;
