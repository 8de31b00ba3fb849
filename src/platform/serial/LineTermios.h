#pragma once

// termios2 and BOTHER come from the kernel headers, whose definitions clash
// with <termios.h>: a file that includes this one must not include that.
#include <asm/termbits.h>

#include <string>

#include "serial/TermiosSerialPort.h"

namespace velkon {

// The terminal settings for a raw serial line: `current` with every byte
// passing unchanged (no echo, no translation, no signals), the given line
// settings and handshake (0 none, 1 Xon/Xoff, 2 hardware), and the baud
// rate as a standard code or BOTHER.
termios2 RawLineTermios(const termios2& current, const LineSettingsValues& values, int handshake);

// What a driver did not keep of `asked` when it reports `kept`: empty when
// everything was kept (a baud rate within a UART's 3 % tolerance counts),
// otherwise the first part refused, in words ("parity E", "7 data bits").
std::string RefusedPart(const termios2& asked, const termios2& kept,
                        const LineSettingsValues& values);

}  // namespace velkon
