#include "serial/TermiosSerialPort.h"

// termios2 and BOTHER come from the kernel headers, whose definitions clash
// with <termios.h>: this file uses the ioctls directly and never <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QObject>

#include "serial/LineTermios.h"
#include "serial/PortMap.h"

namespace velkon {

namespace {

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

// Errors by which a driver says it has no modem lines (a pseudo-terminal, a
// simple adapter): the only refusal that is not a failure.
bool NoModemLines(int err)
{
    return err == ENOTTY || err == EINVAL || err == EOPNOTSUPP;
}

// Why an open device was lost, from the errno of its failure (0: hang-up).
std::string LossReason(int err)
{
    switch (err) {
        case 0:
        case EIO:
        case ENXIO:
        case ENODEV:
            return "the device was disconnected";
        default:
            return std::string("the device failed: ") + std::strerror(err);
    }
}

int SetTermios(int fd, const termios2& t)
{
    return ::ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

}  // namespace

TermiosSerialPort::TermiosSerialPort(std::string programFolder)
    : m_programFolder(std::move(programFolder)),
      m_channel({.received = [this] { RaiseEvent(kEventReceive); },
                 .drained = [this] { RaiseEvent(kEventSend); },
                 .failed = [this](int err) { Lose(LossReason(err)); },
                 .status = {}}),
      m_lineWatch([this](int code) { RaiseEvent(code); }),
      m_deviceWatch({.removed = [this] { Lose("the device node was removed"); },
                     .redirected = [this] { Lose("the device path now leads to another device"); },
                     .back = [this] { RaiseEvent(kEventDeviceBack); }}),
      m_posted(std::make_unique<QObject>())
{
}

TermiosSerialPort::~TermiosSerialPort()
{
    *m_alive = false;
    m_posted.reset();
    StopLossWatch();
    Close();
}

bool TermiosSerialPort::IsPortOpen() const
{
    return m_fd >= 0;
}

Result TermiosSerialPort::SetPortOpen(bool open)
{
    if (!open) {
        StopLossWatch();
        m_lossReason.clear();
        Close();
        return Result::Ok();
    }
    if (m_fd >= 0) {
        return Result::Ok();
    }
    const Result opened = Open();
    // Opening replaced the wait for the device by following it, unless the
    // path moved on again at once (then the port is lost anew).
    if (opened && m_fd >= 0) {
        m_lost = false;
        m_lossReason.clear();
    }
    return opened;
}

Result TermiosSerialPort::SetCommPortNumber(int number)
{
    if (m_fd >= 0 && number != m_portNumber) {
        return Result::Fail(Describe("the port number cannot change while the port is open"));
    }
    if (number != m_portNumber) {
        StopLossWatch();
    }
    // Numbers without a device are accepted here; opening reports them.
    m_portNumber = number;
    return Result::Ok();
}

Result TermiosSerialPort::SetLineSettings(const std::string& settings)
{
    velkon::LineSettings line = m_line;
    std::string reason;
    if (!ParseLineSettings(settings, line, reason)) {
        return Result::Fail(Describe("line settings \"" + settings + "\" refused: " + reason),
                            EINVAL);
    }
    return UseLine(line);
}

Result TermiosSerialPort::UseLine(const velkon::LineSettings& line)
{
    // An open port must take them first; a closed one gets them at opening.
    if (m_fd >= 0) {
        const Result applied = ApplyLine(line);
        if (!applied) {
            return applied;
        }
    }
    m_line = line;
    return Result::Ok();
}

std::string TermiosSerialPort::LineSettings() const
{
    return LineSettingsText(m_line);
}

Result TermiosSerialPort::SetHandshakeMode(int mode)
{
    if (mode < 0 || mode > 2) {
        return Result::Fail(
            Describe("handshake mode " + std::to_string(mode) + " is not 0, 1 or 2"), EINVAL);
    }
    velkon::LineSettings line = m_line;
    line.flowControl = static_cast<velkon::LineSettings::FlowControl>(mode);
    return UseLine(line);
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
    m_channel.SetReporting(threshold > 0);
}

int TermiosSerialPort::EventCode() const
{
    return m_eventCode;
}

int TermiosSerialPort::ReceiveWaiting()
{
    return m_fd < 0 ? 0 : m_channel.Waiting();
}

void TermiosSerialPort::DiscardReceived()
{
    if (m_fd < 0) {
        return;
    }
    ::ioctl(m_fd, TCFLSH, TCIFLUSH);
    m_channel.TookBytes();
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
    const int err = m_channel.Receive(out, static_cast<std::size_t>(maxBytes));
    if (err == 0) {
        return Result::Ok();
    }
    const Result failed = Failure(err);
    Lose(LossReason(err));
    return failed;
}

int TermiosSerialPort::ReadInto(std::uint8_t* buffer, int maxBytes)
{
    if (m_fd < 0 || maxBytes <= 0) {
        return 0;
    }
    std::size_t got = 0;
    const int err = m_channel.ReceiveInto(buffer, static_cast<std::size_t>(maxBytes), got);
    if (err != 0) {
        Lose(LossReason(err));
    }
    return static_cast<int>(got);
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
    return inDriver + OutputWaiting();
}

Result TermiosSerialPort::QueueTransmit(const Bytes& data)
{
    return Transmit(data.data(), data.size());
}

Result TermiosSerialPort::Transmit(const std::uint8_t* data, std::size_t size)
{
    if (m_fd < 0) {
        return Result::Fail(Describe(m_lost ? m_lossReason : "port is not open"), m_lost ? EIO : 0);
    }
    const int err = m_channel.Send(data, size);
    if (err == 0) {
        return Result::Ok();
    }
    const Result failed = Failure(err);
    Lose(LossReason(err));
    return failed;
}

void TermiosSerialPort::HoldReceive()
{
    m_channel.Hold();
}

void TermiosSerialPort::ResumeReceive()
{
    m_channel.Resume();
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
        if (err == ENOTTY || err == EINVAL) {
            return Result::Fail(Describe("not a serial port"), err);
        }
        return Failure(err);
    }
    ::ioctl(fd, TIOCEXCL);
    m_fd = fd;

    Result applied = ApplyLine(m_line);
    if (applied) {
        applied = ApplyDtr();
    }
    if (applied) {
        applied = ApplyModemLine(TIOCM_RTS, m_rts);
    }
    if (!applied) {
        Close();
        return applied;
    }
    m_channel.Attach(fd);
    if (m_watchLines) {
        m_lineWatch.Start(fd);
    }
    m_channel.SetReporting(m_threshold > 0);
    m_deviceWatch.Follow(device, fd);
    return Result::Ok();
}

void TermiosSerialPort::Close()
{
    m_lineWatch.Stop();
    m_channel.Detach();
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
}

Result TermiosSerialPort::ApplyLine(const velkon::LineSettings& line)
{
    termios2 original{};
    if (::ioctl(m_fd, TCGETS2, &original) != 0) {
        return Failure(errno);
    }
    const termios2 t = RawLineTermios(original, line);
    const std::string asked = std::to_string(line.baudRate) + "," + ParityLetter(line.parity) +
                              "," + std::to_string(line.dataBits);
    const int err = SetTermios(m_fd, t);
    if (err != 0) {
        SetTermios(m_fd, original);
        return Result::Fail(
            Describe("the device refused the settings " + asked + " (" + std::strerror(err) + ")"),
            err);
    }
    // A driver may take a request in part: what it kept is what counts.
    termios2 got{};
    if (::ioctl(m_fd, TCGETS2, &got) != 0) {
        return Failure(errno);
    }
    const std::string refused = RefusedPart(t, got, line);
    if (!refused.empty()) {
        SetTermios(m_fd, original);
        return Result::Fail(Describe("the device refused " + refused), EINVAL);
    }
    return Result::Ok();
}

Result TermiosSerialPort::ApplyDtr()
{
    return ApplyModemLine(TIOCM_DTR, m_dtr);
}

Result TermiosSerialPort::ApplyModemLine(int line, bool on)
{
    int bits = line;
    if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !NoModemLines(errno)) {
        return Failure(errno);
    }
    return Result::Ok();
}

Result TermiosSerialPort::SetRtsEnabled(bool enabled)
{
    m_rts = enabled;
    return m_fd >= 0 ? ApplyModemLine(TIOCM_RTS, m_rts) : Result::Ok();
}

Result TermiosSerialPort::SetBreak(bool on)
{
    if (m_fd < 0) {
        return Failure(EBADF);
    }
    if (::ioctl(m_fd, on ? TIOCSBRK : TIOCCBRK) != 0) {
        return Failure(errno);
    }
    return Result::Ok();
}

void TermiosSerialPort::DiscardTransmit()
{
    m_channel.DropQueued();
    if (m_fd >= 0) {
        ::ioctl(m_fd, TCFLSH, TCOFLUSH);
    }
}

int TermiosSerialPort::ModemLines()
{
    return LineWatch::ModemLines(m_fd);
}

void TermiosSerialPort::WatchLines(bool on)
{
    m_watchLines = on;
    if (on && m_fd >= 0) {
        m_lineWatch.Start(m_fd);
    } else if (!on) {
        m_lineWatch.Stop();
    }
}

std::string TermiosSerialPort::Describe(const std::string& reason) const
{
    const std::string device =
        m_fd >= 0 || m_lost ? m_device : DeviceForPort(m_portNumber, m_programFolder);
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

void TermiosSerialPort::RaiseEvent(int code)
{
    m_eventCode = code;
    raiseCommEvent();
}

void TermiosSerialPort::Lose(const std::string& reason)
{
    if (m_fd < 0) {
        return;
    }
    struct stat st {};
    std::uint64_t lostDevice = 0;
    std::uint64_t lostInode = 0;
    if (::fstat(m_fd, &st) == 0) {
        lostDevice = st.st_rdev;
        lostInode = st.st_ino;
    }
    m_lossReason = reason;
    m_deviceWatch.Stop();
    Close();
    m_lost = true;
    // Raised from the event loop: a failure seen inside a call of the
    // session must not call back into it.
    const std::shared_ptr<bool> alive = m_alive;
    QMetaObject::invokeMethod(
        m_posted.get(),
        [this, alive, lostDevice, lostInode] {
            if (*alive && m_lost) {
                RaiseEvent(kEventDeviceLost);
                if (*alive && m_lost) {
                    m_deviceWatch.AwaitReturn(m_device, lostDevice, lostInode);
                }
            }
        },
        Qt::QueuedConnection);
}

void TermiosSerialPort::StopLossWatch()
{
    m_lost = false;
    m_deviceWatch.Stop();
}

}  // namespace velkon
