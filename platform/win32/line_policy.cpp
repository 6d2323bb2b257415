#include "platform/line_policy.h"

#include <windows.h>

namespace tovmir {

void ApplyLinePolicy(DCB& dcb) {
  dcb.BaudRate = kLineBaud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  // Every byte through unchanged, and a line error never stops the reads.
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fNull = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fAbortOnError = FALSE;
  // fOutxCtsFlow, fOutxDsrFlow, fDtrControl, fRtsControl and fDsrSensitivity stay as the
  // port has them.
}

}  // namespace tovmir
