#pragma once

// termios2 and BOTHER come from the kernel headers, whose definitions clash
// with <termios.h>: a file that includes this one must not include that.
#include <asm/termbits.h>

#include <string>

#include "components/LineSettings.h"

namespace velkon {

// The terminal settings for a raw serial line: `current` with every byte
// passing unchanged (no echo, no translation, no signals) and the given line
// settings and flow control.
termios2 RawLineTermios(const termios2& current, const LineSettings& line);

// Puts the rate on t, both ways: its standard code, else BOTHER.
void SetTermiosRate(termios2& t, int rate);

// Sets the character size and the stop bits of t (1.5 and 2 are both CSTOPB:
// with 5 data bits a UART sends 1.5 stop bits when asked for two).
void SetTermiosShape(termios2& t, int dataBits, LineSettings::StopBits stopBits);

// The line settings t describes (any rate; 2 stop bits for CSTOPB).
LineSettings LineOfTermios(const termios2& t);

// What a driver did not keep of `asked` when it reports `kept`: empty when
// everything was kept (a baud rate within a UART's 3 % tolerance counts),
// otherwise the first part refused, in words ("parity E", "7 data bits").
std::string RefusedPart(const termios2& asked, const termios2& kept, const LineSettings& line);

}  // namespace velkon
