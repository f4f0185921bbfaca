// Exact line speeds through the kernel's termios2 interface.
#include "serial/LinuxBaud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <cerrno>

int LinuxSetBaud(int fd, uint32_t baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int LinuxGetBaud(int fd, uint32_t& baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  baud = t.c_ospeed;
  return 0;
}
