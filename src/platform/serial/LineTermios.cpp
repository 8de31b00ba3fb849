#include "serial/LineTermios.h"

namespace velkon {

namespace {

// The rates with a code of their own; others go through BOTHER.
speed_t StandardSpeed(int rate)
{
    static const struct {
        int rate;
        speed_t code;
    } kRates[] = {
        {50, B50},         {75, B75},         {110, B110},         {134, B134},
        {150, B150},       {200, B200},       {300, B300},         {600, B600},
        {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
        {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
        {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000},
    };
    for (const auto& entry : kRates) {
        if (entry.rate == rate) {
            return entry.code;
        }
    }
    return 0;
}

// A rate the driver reports within a UART's tolerance of the one asked for.
bool CloseRate(speed_t got, int wanted)
{
    const long long diff = static_cast<long long>(got) - wanted;
    return (diff < 0 ? -diff : diff) * 100 <= static_cast<long long>(wanted) * 3;
}

}  // namespace

termios2 RawLineTermios(const termios2& current, const LineSettingsValues& values, int handshake)
{
    termios2 t = current;
    // Raw: every byte passes unchanged, nothing is echoed or interpreted.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[values.dataBits - 5];
    switch (values.parity) {
        case 'E':
            t.c_cflag |= PARENB;
            break;
        case 'O':
            t.c_cflag |= PARENB | PARODD;
            break;
        case 'M':
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 'S':
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // With 5 data bits a UART sends 1.5 stop bits when asked for two.
    if (values.stopBits != LineSettingsValues::StopBits::kOne) {
        t.c_cflag |= CSTOPB;
    }
    if (handshake == 1) {
        t.c_iflag |= IXON | IXOFF;
    } else if (handshake == 2) {
        t.c_cflag |= CRTSCTS;
    }

    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    const speed_t standard = StandardSpeed(values.baudRate);
    t.c_cflag |= standard != 0 ? standard : BOTHER;
    t.c_ispeed = static_cast<speed_t>(values.baudRate);
    t.c_ospeed = static_cast<speed_t>(values.baudRate);
    return t;
}

std::string RefusedPart(const termios2& asked, const termios2& kept,
                        const LineSettingsValues& values)
{
    const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
    if ((kept.c_cflag & CSIZE) != (asked.c_cflag & CSIZE)) {
        return std::to_string(values.dataBits) + " data bits";
    }
    if ((kept.c_cflag & parityBits) != (asked.c_cflag & parityBits)) {
        return std::string("parity ") + values.parity;
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
    if (!CloseRate(kept.c_ospeed, values.baudRate) || !CloseRate(kept.c_ispeed, values.baudRate)) {
        return "the baud rate " + std::to_string(values.baudRate);
    }
    return {};
}

}  // namespace velkon
