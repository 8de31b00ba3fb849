#pragma once

namespace velkon {

// The one table of baud rates that have a termios speed code of their own
// (B9600 for 9600), shared by every terminal adapter so that a physical and a
// virtual port take the same rates. Any other rate goes through BOTHER with
// the rate itself (termios2), which the kernel accepts for every terminal.
// Codes are given as unsigned int (speed_t), so that this header needs
// neither <termios.h> nor the kernel's termbits, which clash.

// The code of a standard rate; 0 when the rate has none.
unsigned int SpeedCodeOfRate(int rate);

// The rate of a standard code; 0 for an unknown code or BOTHER.
int RateOfSpeedCode(unsigned int code);

}  // namespace velkon
