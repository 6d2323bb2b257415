#include "platform/line_policy.h"

#include <termios.h>

namespace tovmir {

void ApplyLinePolicy(termios& t) {
  // Input taken as it comes: no line editing, echo, signals, translations, case mapping,
  // parity handling or software flow control.
  t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                 IUCLC | IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // 8N1, receiver on, modem status lines not waited for; CRTSCTS and HUPCL stay as they are.
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  static_assert(kLineBaud == 600, "the speed constant below must follow kLineBaud");
  cfsetispeed(&t, B600);
  cfsetospeed(&t, B600);
}

}  // namespace tovmir
