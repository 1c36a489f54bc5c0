// Mailbox messaging with the management processor: posting a message, reading a reply, the
// I2C hand-over, the build-identifier query and the load state; the virtual-address-change
// notification of the two bases.
#include <Library/DebugLib.h>
#include <Library/IoLib.h>
#include <Library/TimerLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "PelmoLibInternal.h"

namespace {

constexpr UINTN MAILBOX_BASE = 0x10540000;
constexpr UINTN STATUS_REGION_BASE = 0x17000000;

VOID EFIAPI PelmoConvertBases(EFI_EVENT Event, VOID *Context) {
  gRT->ConvertPointer(0, reinterpret_cast<VOID **>(&mPelmoMailboxBase));
  gRT->ConvertPointer(0, reinterpret_cast<VOID **>(&mPelmoStatusBase));
}

// The virtual-address-change notification; NULL when none is registered.
EFI_EVENT mPelmoAddressChangeEvent = NULL;

UINTN ChannelRegister(UINTN Register) {
  return mPelmoMailboxBase + PELMO_MAILBOX_CHANNEL * PELMO_MAILBOX_CHANNEL_STRIDE + Register;
}

} // namespace

UINTN mPelmoMailboxBase = MAILBOX_BASE;
UINTN mPelmoStatusBase = STATUS_REGION_BASE;

VOID PelmoSpin(UINTN Iterations) {
  MicroSecondDelay(Iterations / PELMO_SPIN_ITERATIONS_PER_US);
}

UINT32 PelmoMailboxRead(UINTN Register) {
  return MmioRead32(ChannelRegister(Register));
}

VOID PelmoMailboxWrite(UINTN Register, UINT32 Value) {
  MmioWrite32(ChannelRegister(Register), Value);
}

UINT32 PelmoStatusWord(UINTN Offset) {
  return MmioRead32(mPelmoStatusBase + Offset);
}

EFI_STATUS PelmoSendMsg(UINT32 Message, UINT32 Data) {
  if ((PelmoMailboxRead(PELMO_MAILBOX_STATUS) & PELMO_STATUS_ACKNOWLEDGED) != 0) {
    PelmoMailboxWrite(PELMO_MAILBOX_STATUS, PELMO_STATUS_ACKNOWLEDGED);
  }
  PelmoMailboxWrite(PELMO_MAILBOX_OUTGOING_DATA, Data);
  PelmoMailboxWrite(PELMO_MAILBOX_OUTGOING_MESSAGE, Message);
  for (UINTN Check = 0; Check < PELMO_ACK_CHECKS; Check++) {
    if ((PelmoMailboxRead(PELMO_MAILBOX_STATUS) & PELMO_STATUS_ACKNOWLEDGED) != 0) {
      PelmoMailboxWrite(PELMO_MAILBOX_STATUS, PELMO_STATUS_ACKNOWLEDGED);
      return EFI_SUCCESS;
    }
    PelmoSpin(PELMO_ACK_SPIN);
  }
  return EFI_TIMEOUT;
}

EFI_STATUS TessilReadIppMsg(UINT32 *Message) {
  DEBUG((PELMO_DEBUG_VERBOSE, "In TessilReadIppMsg\n"));
  if (Message == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  for (UINTN Check = 0; Check < PELMO_REPLY_CHECKS; Check++) {
    if ((PelmoMailboxRead(PELMO_MAILBOX_STATUS) & PELMO_STATUS_INCOMING) != 0) {
      *Message = PelmoMailboxRead(PELMO_MAILBOX_INCOMING);
      PelmoMailboxWrite(PELMO_MAILBOX_STATUS, PELMO_STATUS_INCOMING);
      return EFI_SUCCESS;
    }
    PelmoSpin(PELMO_REPLY_SPIN);
  }
  return EFI_TIMEOUT;
}

EFI_STATUS PelmoI2cHandover(BOOLEAN Release) {
  const UINT32 Request = Release ? PELMO_I2C_REQUEST_RELEASE : PELMO_I2C_REQUEST_ACQUIRE;
  return PelmoSendMsg(PELMO_MSG_I2C_HANDOVER | Request, 0);
}

UINT32 PelmoQueryBuildId(VOID) {
  UINT32 BuildId = PELMO_BUILD_ID_ABSENT;
  if (!EFI_ERROR(PelmoSendMsg(PELMO_MSG_QUERY_BUILD_ID, 0))) {
    UINT32 Reply = 0;
    if (!EFI_ERROR(TessilReadIppMsg(&Reply))) {
      BuildId = Reply;
    }
  }
  return BuildId;
}

UINTN PelmoMailboxBlockBase(VOID) {
  return mPelmoMailboxBase;
}

UINTN PelmoStatusBlockBase(VOID) {
  return mPelmoStatusBase;
}

UINT32 PelmoGetLoadState(VOID) {
  return PelmoStatusWord(PELMO_STATUS_FIRMWARE) & PELMO_LOAD_STATE_MASK;
}

EFI_STATUS PelmoLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, PelmoConvertBases, NULL,
                                         &gEfiEventVirtualAddressChangeGuid, &mPelmoAddressChangeEvent);
  ASSERT_EFI_ERROR(Status);
  return EFI_SUCCESS;
}

EFI_STATUS PelmoLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (mPelmoAddressChangeEvent != NULL) {
    gBS->CloseEvent(mPelmoAddressChangeEvent);
    mPelmoAddressChangeEvent = NULL;
  }
  return EFI_SUCCESS;
}
