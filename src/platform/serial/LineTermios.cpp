#include "serial/LineTermios.h"

#include "serial/BaudRates.h"

namespace velkon {

namespace {

// A rate the driver reports within a UART's tolerance of the one asked for.
bool CloseRate(speed_t got, int wanted)
{
    const long long diff = static_cast<long long>(got) - wanted;
    return (diff < 0 ? -diff : diff) * 100 <= static_cast<long long>(wanted) * 3;
}

tcflag_t ParityFlags(LineSettings::Parity parity)
{
    switch (parity) {
        case LineSettings::Parity::kEven:
            return PARENB;
        case LineSettings::Parity::kOdd:
            return PARENB | PARODD;
        case LineSettings::Parity::kMark:
            return PARENB | CMSPAR | PARODD;
        case LineSettings::Parity::kSpace:
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

LineSettings::Parity ParityOfFlags(tcflag_t c)
{
    if ((c & PARENB) == 0) {
        return LineSettings::Parity::kNone;
    }
    if ((c & CMSPAR) != 0) {
        return (c & PARODD) != 0 ? LineSettings::Parity::kMark : LineSettings::Parity::kSpace;
    }
    return (c & PARODD) != 0 ? LineSettings::Parity::kOdd : LineSettings::Parity::kEven;
}

}  // namespace

void SetTermiosRate(termios2& t, int rate)
{
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    const unsigned int standard = SpeedCodeOfRate(rate);
    t.c_cflag |= standard != 0 ? standard : BOTHER;
    t.c_ispeed = static_cast<speed_t>(rate);
    t.c_ospeed = static_cast<speed_t>(rate);
}

void SetTermiosShape(termios2& t, int dataBits, LineSettings::StopBits stopBits)
{
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB);
    t.c_cflag |= kSizes[dataBits - 5];
    if (stopBits != LineSettings::StopBits::kOne) {
        t.c_cflag |= CSTOPB;
    }
}

termios2 RawLineTermios(const termios2& current, const LineSettings& line)
{
    termios2 t = current;
    // Raw: every byte passes unchanged, nothing is echoed or interpreted.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    SetTermiosShape(t, line.dataBits, line.stopBits);
    t.c_cflag |= ParityFlags(line.parity);
    if (line.flowControl == LineSettings::FlowControl::kXonXoff) {
        t.c_iflag |= IXON | IXOFF;
    } else if (line.flowControl == LineSettings::FlowControl::kHardware) {
        t.c_cflag |= CRTSCTS;
    }
    SetTermiosRate(t, line.baudRate);
    return t;
}

LineSettings LineOfTermios(const termios2& t)
{
    LineSettings line;
    const unsigned int code = t.c_cflag & CBAUD;
    const int standard = code == BOTHER ? 0 : RateOfSpeedCode(code);
    line.baudRate = standard != 0 ? standard : static_cast<int>(t.c_ospeed);
    line.parity = ParityOfFlags(t.c_cflag);
    const tcflag_t size = t.c_cflag & CSIZE;
    line.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    line.stopBits =
        (t.c_cflag & CSTOPB) != 0 ? LineSettings::StopBits::kTwo : LineSettings::StopBits::kOne;
    if ((t.c_cflag & CRTSCTS) != 0) {
        line.flowControl = LineSettings::FlowControl::kHardware;
    } else if ((t.c_iflag & (IXON | IXOFF)) != 0) {
        line.flowControl = LineSettings::FlowControl::kXonXoff;
    }
    return line;
}

std::string RefusedPart(const termios2& asked, const termios2& kept, const LineSettings& line)
{
    const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
    if ((kept.c_cflag & CSIZE) != (asked.c_cflag & CSIZE)) {
        return std::to_string(line.dataBits) + " data bits";
    }
    if ((kept.c_cflag & parityBits) != (asked.c_cflag & parityBits)) {
        return std::string("parity ") + ParityLetter(line.parity);
    }
    if ((kept.c_cflag & CSTOPB) != (asked.c_cflag & CSTOPB)) {
        return "the stop bits";
    }
    if ((kept.c_cflag & CRTSCTS) != (asked.c_cflag & CRTSCTS)) {
        return "hardware handshaking";
    }
    if ((kept.c_iflag & (IXON | IXOFF)) != (asked.c_iflag & (IXON | IXOFF))) {
        return "Xon/Xoff handshaking";
    }
    if (!CloseRate(kept.c_ospeed, line.baudRate) || !CloseRate(kept.c_ispeed, line.baudRate)) {
        return "the baud rate " + std::to_string(line.baudRate);
    }
    return {};
}

}  // namespace velkon
