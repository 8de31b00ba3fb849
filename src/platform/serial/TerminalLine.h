#pragma once

#include "components/LineSettings.h"

namespace velkon {

// Line settings of an open terminal descriptor, through termios2 so that any
// rate, standard or not, is read and written alike. This header needs no
// termios header, so adapters built on <termios.h> can use it.

// What the terminal holds now; false when it cannot be read.
bool ReadTerminalLine(int fd, LineSettings& line);

// Puts the rate, the data bits and the stop bits of line on the terminal in
// one change, keeping everything else: 0, or the errno of the refusal.
int WriteTerminalRateAndShape(int fd, const LineSettings& line);

}  // namespace velkon
