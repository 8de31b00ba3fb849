#include "TermiosSerialPort.h"

// termios2 and BOTHER come from the kernel headers, whose definitions clash
// with <termios.h>: this file uses the ioctls directly and never <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "PortMap.h"

namespace velkon {

namespace {

constexpr int kMaxBaudRate = 16'000'000;

// The one place that turns an errno of the device into the words of a
// failure description.
std::string ErrnoReason(int err)
{
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "port does not exist";
        case EBUSY:
        case EWOULDBLOCK:
            return "port is in use by another program";
        case EACCES:
        case EPERM:
            return "permission denied";
        default:
            return std::strerror(err);
    }
}

// Errors by which a driver says it cannot do a setting, as opposed to a
// device that failed.
bool IsUnsupported(int err)
{
    return err == ENOTTY || err == EINVAL || err == EOPNOTSUPP || err == ENOSYS;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

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

int SetTermios(int fd, const termios2& t)
{
    return ::ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

// Deleting a notifier from inside its own signal is left to the event loop.
void DisposeNotifier(std::unique_ptr<QSocketNotifier>& notifier, bool deferred)
{
    if (!notifier) {
        return;
    }
    notifier->setEnabled(false);
    QObject::disconnect(notifier.get(), nullptr, nullptr, nullptr);
    if (deferred) {
        notifier.release()->deleteLater();
    } else {
        notifier.reset();
    }
}

}  // namespace

bool ParseLineSettings(std::string_view text, LineSettingsValues& values, std::string& reason)
{
    std::string_view fields[4];
    std::size_t count = 0;
    std::string_view rest = text;
    while (true) {
        const std::size_t comma = rest.find(',');
        if (count == 4) {
            reason = "expected baud rate, parity, data bits and stop bits";
            return false;
        }
        fields[count++] = Trim(rest.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (count != 4) {
        reason = "expected baud rate, parity, data bits and stop bits";
        return false;
    }

    LineSettingsValues parsed;
    const std::string_view baud = fields[0];
    long long rate = 0;
    if (baud.empty() || baud.size() > 9) {
        rate = -1;
    }
    for (char c : baud) {
        if (c < '0' || c > '9') {
            rate = -1;
            break;
        }
        if (rate >= 0) {
            rate = rate * 10 + (c - '0');
        }
    }
    if (rate <= 0 || rate > kMaxBaudRate) {
        reason = "baud rate \"" + std::string(baud) + "\" is not valid";
        return false;
    }
    parsed.baudRate = static_cast<int>(rate);

    const std::string_view parity = fields[1];
    const char letter = parity.size() == 1 ? parity[0] : '\0';
    switch (letter) {
        case 'N':
        case 'n':
            parsed.parity = 'N';
            break;
        case 'E':
        case 'e':
            parsed.parity = 'E';
            break;
        case 'O':
        case 'o':
            parsed.parity = 'O';
            break;
        case 'M':
        case 'm':
            parsed.parity = 'M';
            break;
        case 'S':
        case 's':
            parsed.parity = 'S';
            break;
        default:
            reason = "parity \"" + std::string(parity) + "\" is not N, E, O, M or S";
            return false;
    }

    const std::string_view data = fields[2];
    if (data.size() != 1 || data[0] < '5' || data[0] > '8') {
        reason = "data bits \"" + std::string(data) + "\" are not 5, 6, 7 or 8";
        return false;
    }
    parsed.dataBits = data[0] - '0';

    const std::string_view stop = fields[3];
    if (stop == "1") {
        parsed.stopBits = LineSettingsValues::StopBits::kOne;
    } else if (stop == "1.5") {
        parsed.stopBits = LineSettingsValues::StopBits::kOneAndHalf;
    } else if (stop == "2") {
        parsed.stopBits = LineSettingsValues::StopBits::kTwo;
    } else {
        reason = "stop bits \"" + std::string(stop) + "\" are not 1, 1.5 or 2";
        return false;
    }
    if (parsed.stopBits == LineSettingsValues::StopBits::kOneAndHalf && parsed.dataBits != 5) {
        reason = "1.5 stop bits are only possible with 5 data bits";
        return false;
    }
    values = parsed;
    return true;
}

TermiosSerialPort::TermiosSerialPort(std::string programFolder)
    : m_programFolder(std::move(programFolder))
{
}

TermiosSerialPort::~TermiosSerialPort()
{
    Close();
}

bool TermiosSerialPort::IsPortOpen() const
{
    return m_fd >= 0;
}

Result TermiosSerialPort::SetPortOpen(bool open)
{
    if (open == (m_fd >= 0)) {
        return Result::Ok();
    }
    if (!open) {
        Close();
        return Result::Ok();
    }
    return Open();
}

Result TermiosSerialPort::SetCommPortNumber(int number)
{
    if (m_fd >= 0 && number != m_portNumber) {
        return Result::Fail(Describe("the port number cannot change while the port is open"));
    }
    // Numbers without a device are accepted here; opening reports them.
    m_portNumber = number;
    return Result::Ok();
}

Result TermiosSerialPort::SetLineSettings(const std::string& settings)
{
    LineSettingsValues values;
    std::string reason;
    if (!ParseLineSettings(settings, values, reason)) {
        return Result::Fail(Describe("line settings \"" + settings + "\" refused: " + reason),
                            EINVAL);
    }
    m_settingsText = settings;
    m_settings = values;
    return m_fd >= 0 ? ApplyLine() : Result::Ok();
}

std::string TermiosSerialPort::LineSettings() const
{
    return m_settingsText;
}

Result TermiosSerialPort::SetHandshakeMode(int mode)
{
    if (mode < 0 || mode > 2) {
        return Result::Fail(
            Describe("handshake mode " + std::to_string(mode) + " is not 0, 1 or 2"), EINVAL);
    }
    m_handshake = mode;
    return m_fd >= 0 ? ApplyLine() : Result::Ok();
}

Result TermiosSerialPort::SetDtrEnabled(bool enabled)
{
    m_dtr = enabled;
    return m_fd >= 0 ? ApplyDtr() : Result::Ok();
}

Result TermiosSerialPort::SetReceiveBufferSize(int size)
{
    // The driver's buffers are its own; the value is kept for the caller.
    m_receiveBufferSize = size;
    return Result::Ok();
}

Result TermiosSerialPort::SetTransmitBufferSize(int size)
{
    m_transmitBufferSize = size;
    return Result::Ok();
}

int TermiosSerialPort::TransmitBufferSize() const
{
    return m_transmitBufferSize;
}

void TermiosSerialPort::SetReceiveThreshold(int threshold)
{
    m_threshold = threshold;
    UpdateNotifiers();
}

int TermiosSerialPort::EventCode() const
{
    return m_eventCode;
}

int TermiosSerialPort::ReceiveWaiting()
{
    int waiting = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &waiting) != 0) {
        return 0;
    }
    return waiting;
}

void TermiosSerialPort::DiscardReceived()
{
    if (m_fd < 0) {
        return;
    }
    ::ioctl(m_fd, TCFLSH, TCIFLUSH);
    TookBytes();
}

Result TermiosSerialPort::ReadReceived(Bytes& out, int maxBytes)
{
    out.clear();
    if (m_fd < 0) {
        return Result::Fail(Describe("port is not open"));
    }
    if (maxBytes <= 0) {
        return Result::Ok();
    }
    out.resize(static_cast<std::size_t>(maxBytes));
    std::size_t got = 0;
    int err = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(m_fd, out.data() + got, out.size() - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            err = errno;
        }
        break;
    }
    out.resize(got);
    if (got > 0) {
        TookBytes();
    }
    if (err != 0 && got == 0) {
        return Failure(err);
    }
    return Result::Ok();
}

int TermiosSerialPort::TransmitWaiting()
{
    if (m_fd < 0) {
        return 0;
    }
    int inDriver = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &inDriver) != 0 || inDriver < 0) {
        inDriver = 0;
    }
    return inDriver + static_cast<int>(Queued());
}

Result TermiosSerialPort::QueueTransmit(const Bytes& data)
{
    if (m_fd < 0) {
        return Result::Fail(Describe("port is not open"));
    }
    if (m_lineGone) {
        // Nothing queued now would ever leave.
        return Result::Fail(Describe("the device hung up"), EIO);
    }
    if (data.empty()) {
        return Result::Ok();
    }
    std::size_t written = 0;
    if (Queued() == 0) {
        while (written < data.size()) {
            const ssize_t n = ::write(m_fd, data.data() + written, data.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                return Failure(errno);
            }
            break;
        }
        m_txQueue.clear();
        m_txOffset = 0;
    }
    // What the driver did not take waits here, in order, for writability.
    m_txQueue.insert(m_txQueue.end(), data.begin() + static_cast<std::ptrdiff_t>(written),
                     data.end());
    UpdateNotifiers();
    return Result::Ok();
}

void TermiosSerialPort::HoldReceive()
{
    m_holding = true;
    UpdateNotifiers();
}

void TermiosSerialPort::ResumeReceive()
{
    m_holding = false;
    m_stalled = false;
    // The notifier reports bytes that are already waiting at once.
    UpdateNotifiers();
}

Result TermiosSerialPort::Open()
{
    const std::string device = DeviceForPort(m_portNumber, m_programFolder);
    if (device.empty()) {
        return Result::Fail("COM" + std::to_string(m_portNumber) +
                                ": no device is mapped to this port (see ports.ini)",
                            ENODEV);
    }
    m_device = device;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Failure(errno);
    }
    // TIOCEXCL does not stop a privileged opener; the lock stops everyone who
    // locks, this process included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return Failure(err == EWOULDBLOCK ? EBUSY : err);
    }
    termios2 probe{};
    if (::ioctl(fd, TCGETS2, &probe) != 0) {
        const int err = errno;
        ::close(fd);
        if (IsUnsupported(err)) {
            return Result::Fail(Describe("not a serial port"), err);
        }
        return Failure(err);
    }
    ::ioctl(fd, TIOCEXCL);
    m_fd = fd;
    m_txQueue.clear();
    m_txOffset = 0;
    m_holding = false;
    m_stalled = false;
    m_lineGone = false;

    Result applied = ApplyLine();
    if (applied) {
        applied = ApplyDtr();
    }
    if (!applied) {
        Close();
        return applied;
    }

    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, [this] { OnWritable(); });
    UpdateNotifiers();
    return Result::Ok();
}

void TermiosSerialPort::Close()
{
    const bool deferred = m_dispatchDepth > 0;
    DisposeNotifier(m_readNotifier, deferred);
    DisposeNotifier(m_writeNotifier, deferred);
    if (m_fd >= 0) {
        // Unsent output would make close() wait for the line to drain (up to
        // half a minute on a stalled line); closing must be immediate.
        ::ioctl(m_fd, TCFLSH, TCIOFLUSH);
        // The exclusive flag outlives this descriptor on some devices
        // (pseudo-terminals) and would lock out the next unprivileged opener.
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }
    m_txQueue.clear();
    m_txOffset = 0;
    m_holding = false;
    m_stalled = false;
    m_lineGone = false;
}

Result TermiosSerialPort::ApplyLine()
{
    termios2 original{};
    if (::ioctl(m_fd, TCGETS2, &original) != 0) {
        return Failure(errno);
    }
    termios2 t = original;
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
    t.c_cflag |= kSizes[m_settings.dataBits - 5];
    switch (m_settings.parity) {
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
    if (m_settings.stopBits != LineSettingsValues::StopBits::kOne) {
        t.c_cflag |= CSTOPB;
    }
    if (m_handshake == 1) {
        t.c_iflag |= IXON | IXOFF;
    } else if (m_handshake == 2) {
        t.c_cflag |= CRTSCTS;
    }

    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    const speed_t standard = StandardSpeed(m_settings.baudRate);
    if (standard != 0) {
        t.c_cflag |= standard;
    } else {
        t.c_cflag |= BOTHER;
    }
    t.c_ispeed = static_cast<speed_t>(m_settings.baudRate);
    t.c_ospeed = static_cast<speed_t>(m_settings.baudRate);

    // Leave out, one after another, what a driver may refuse: hardware
    // handshaking, then the rate. Raw mode itself every terminal takes.
    int err = SetTermios(m_fd, t);
    if (IsUnsupported(err) && (t.c_cflag & CRTSCTS) != 0) {
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        err = SetTermios(m_fd, t);
    }
    if (IsUnsupported(err)) {
        t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
        t.c_cflag |= original.c_cflag & (CBAUD | (CBAUD << IBSHIFT));
        t.c_ispeed = original.c_ispeed;
        t.c_ospeed = original.c_ospeed;
        err = SetTermios(m_fd, t);
    }
    if (err != 0 && !IsUnsupported(err)) {
        return Failure(err);
    }
    return Result::Ok();
}

Result TermiosSerialPort::ApplyDtr()
{
    int bits = TIOCM_DTR;
    if (::ioctl(m_fd, m_dtr ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !IsUnsupported(errno)) {
        return Failure(errno);
    }
    return Result::Ok();
}

std::string TermiosSerialPort::Describe(const std::string& reason) const
{
    const std::string device = m_fd >= 0 ? m_device : DeviceForPort(m_portNumber, m_programFolder);
    std::string text = "COM" + std::to_string(m_portNumber);
    if (!device.empty()) {
        text += " (" + device + ")";
    }
    return text + ": " + reason;
}

Result TermiosSerialPort::Failure(int err) const
{
    return Result::Fail(Describe(ErrnoReason(err)), err);
}

void TermiosSerialPort::OnReadable()
{
    int waiting = 0;
    if (::ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting <= 0) {
        // Readable without bytes: the device hung up (a pseudo-terminal whose
        // other end closed, an unplugged adapter). Polling it further would spin.
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            m_lineGone = true;
            UpdateNotifiers();
        }
        return;
    }
    m_eventCode = kEventReceive;
    const unsigned takenBefore = m_takeCount;
    ++m_dispatchDepth;
    raiseCommEvent();
    --m_dispatchDepth;
    if (m_fd >= 0 && m_takeCount == takenBefore && !m_holding) {
        m_stalled = true;
        UpdateNotifiers();
    }
}

void TermiosSerialPort::OnWritable()
{
    int err = 0;
    if (!FlushQueue(err)) {
        m_lineGone = true;
    }
    UpdateNotifiers();
    if (Queued() == 0 && !m_lineGone) {
        m_eventCode = kEventSend;
        raiseCommEvent();
    }
}

bool TermiosSerialPort::FlushQueue(int& err)
{
    while (Queued() > 0) {
        const ssize_t n = ::write(m_fd, m_txQueue.data() + m_txOffset, Queued());
        if (n > 0) {
            m_txOffset += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            err = errno;
            return false;
        }
        break;
    }
    if (Queued() == 0) {
        m_txQueue.clear();
        m_txOffset = 0;
    } else if (m_txOffset > m_txQueue.size() / 2) {
        m_txQueue.erase(m_txQueue.begin(),
                        m_txQueue.begin() + static_cast<std::ptrdiff_t>(m_txOffset));
        m_txOffset = 0;
    }
    return true;
}

void TermiosSerialPort::UpdateNotifiers()
{
    if (m_readNotifier) {
        m_readNotifier->setEnabled(m_fd >= 0 && m_threshold > 0 && !m_holding && !m_stalled &&
                                   !m_lineGone);
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(m_fd >= 0 && Queued() > 0 && !m_lineGone);
    }
}

void TermiosSerialPort::TookBytes()
{
    ++m_takeCount;
    if (m_stalled) {
        m_stalled = false;
        UpdateNotifiers();
    }
}

}  // namespace velkon
