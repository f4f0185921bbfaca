// Exact line speeds through the kernel's termios2 interface, kept in its own
// file because its headers clash with <termios.h>.
#pragma once

#include <cstdint>

// Sets any rate (BOTHER); 0 or an error number.
int LinuxSetBaud(int fd, uint32_t baud);
// The output rate in force; 0 or an error number.
int LinuxGetBaud(int fd, uint32_t& baud);
