// The one-line report on the board's console UART, written directly to the transmitter: at
// the hand-over there is no console service to go through.
#include <Library/IoLib.h>

#include "TessilL3c.h"

namespace {

BOOLEAN WaitTransmitReady() {
  for (UINT32 Poll = 0; Poll < L3C_UART_READY_POLLS; Poll++) {
    if ((MmioRead8(L3C_UART_LINE_STATUS) & L3C_UART_TRANSMIT_READY) != 0) {
      return TRUE;
    }
  }
  return FALSE;
}

} // namespace

VOID L3cSerialWrite(const CHAR8 *Text) {
  for (; *Text != '\0'; Text++) {
    if (!WaitTransmitReady()) {
      return;
    }
    MmioWrite8(L3C_UART_TRANSMIT, (UINT8)*Text);
  }
}
