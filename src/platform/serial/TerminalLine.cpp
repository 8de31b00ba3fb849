#include "serial/TerminalLine.h"

#include <sys/ioctl.h>

#include <cerrno>

#include "serial/LineTermios.h"

namespace velkon {

bool ReadTerminalLine(int fd, LineSettings& line)
{
    termios2 t{};
    if (fd < 0 || ::ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    line = LineOfTermios(t);
    return true;
}

int WriteTerminalRateAndShape(int fd, const LineSettings& line)
{
    termios2 t{};
    if (fd < 0 || ::ioctl(fd, TCGETS2, &t) != 0) {
        return fd < 0 ? EBADF : errno;
    }
    SetTermiosRate(t, line.baudRate);
    SetTermiosShape(t, line.dataBits, line.stopBits);
    return ::ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

}  // namespace velkon
