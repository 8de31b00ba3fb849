#include "serial/TermiosSerialPort.h"

// termios2 and BOTHER come from the kernel headers, whose definitions clash
// with <termios.h>: this file uses the ioctls directly and never <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QObject>
#include <QTimer>

#include "serial/LineTermios.h"
#include "serial/PortMap.h"

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

constexpr int kRetryIntervalMs = 1000;
constexpr int kMaxLinkDepth = 8;

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Parent(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The device opens and does not report a hang-up at once.
bool Opens(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    const bool hungUp = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
    ::close(fd);
    return !hungUp;
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

int SetTermios(int fd, const termios2& t)
{
    return ::ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
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
    : m_programFolder(std::move(programFolder)),
      m_channel({.received = [this] { RaiseEvent(kEventReceive); },
                 .drained = [this] { RaiseEvent(kEventSend); },
                 .failed = [this](int err) { Lose(err); },
                 .status = {}}),
      m_lineWatch([this](int code) { RaiseEvent(code); }),
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
    if (opened) {
        StopLossWatch();
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
    LineSettingsValues values;
    std::string reason;
    if (!ParseLineSettings(settings, values, reason)) {
        return Result::Fail(Describe("line settings \"" + settings + "\" refused: " + reason),
                            EINVAL);
    }
    if (m_fd >= 0) {
        const Result applied = ApplyLine(values, m_handshake);
        if (!applied) {
            return applied;
        }
    }
    m_settingsText = settings;
    m_settings = values;
    return Result::Ok();
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
    if (m_fd >= 0) {
        const Result applied = ApplyLine(m_settings, mode);
        if (!applied) {
            return applied;
        }
    }
    m_handshake = mode;
    return Result::Ok();
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
    Lose(err);
    return failed;
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
    if (m_fd < 0) {
        return Result::Fail(Describe(m_lost ? m_lossReason : "port is not open"), m_lost ? EIO : 0);
    }
    const int err = m_channel.Send(data);
    if (err == 0) {
        return Result::Ok();
    }
    const Result failed = Failure(err);
    Lose(err);
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

    Result applied = ApplyLine(m_settings, m_handshake);
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
    // Unplugging removes the node; the hang-up usually says so first.
    m_nodeWatch.Start(device, IN_ATTRIB | IN_DELETE_SELF,
                      [this](std::uint32_t, const std::string&) { OnNodeChanged(); });
    return Result::Ok();
}

void TermiosSerialPort::Close()
{
    m_lineWatch.Stop();
    m_nodeWatch.Stop();
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

Result TermiosSerialPort::ApplyLine(const LineSettingsValues& values, int handshake)
{
    termios2 original{};
    if (::ioctl(m_fd, TCGETS2, &original) != 0) {
        return Failure(errno);
    }
    const termios2 t = RawLineTermios(original, values, handshake);
    const std::string asked = std::to_string(values.baudRate) + "," + values.parity + "," +
                              std::to_string(values.dataBits);
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
    const std::string refused = RefusedPart(t, got, values);
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

void TermiosSerialPort::Lose(int err)
{
    if (m_fd < 0) {
        return;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) == 0) {
        m_lostDev = st.st_rdev;
        m_lostIno = st.st_ino;
    }
    m_lossReason = err == ENOENT ? "the device node was removed" : LossReason(err);
    Close();
    m_lost = true;
    m_seenMissing = false;
    // Raised from the event loop: a failure seen inside a call of the
    // session must not call back into it.
    const std::shared_ptr<bool> alive = m_alive;
    QMetaObject::invokeMethod(
        m_posted.get(),
        [this, alive] {
            if (*alive && m_lost) {
                RaiseEvent(kEventDeviceLost);
                if (*alive && m_lost) {
                    CheckBack();
                }
            }
        },
        Qt::QueuedConnection);
}

void TermiosSerialPort::OnNodeChanged()
{
    struct stat st {};
    if (m_fd >= 0 && ::fstat(m_fd, &st) == 0 && st.st_nlink == 0) {
        Lose(ENOENT);
    }
}

void TermiosSerialPort::StopLossWatch()
{
    m_lost = false;
    m_folderWatches.clear();
    m_watchedFolders.clear();
    if (m_retryTimer) {
        m_retryTimer->stop();
        m_retryTimer.release()->deleteLater();
    }
}

void TermiosSerialPort::WatchFolders()
{
    // Every folder on the way from the mapped path through its symbolic
    // links; below a folder that is missing, the nearest one that exists.
    std::vector<std::string> folders;
    std::string path = m_device;
    for (int depth = 0; depth < kMaxLinkDepth && !path.empty(); ++depth) {
        const std::string folder = Parent(path);
        std::string existing = folder;
        while (!IsFolder(existing) && existing != "/" && existing != ".") {
            existing = Parent(existing);
        }
        folders.push_back(existing);
        if (existing != folder) {
            break;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length <= 0) {
            break;
        }
        const std::string next(target, static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : folder + "/" + next;
    }
    if (folders == m_watchedFolders) {
        return;
    }
    m_watchedFolders = folders;
    m_folderWatches.clear();
    bool complete = true;
    const std::shared_ptr<bool> alive = m_alive;
    for (const std::string& folder : folders) {
        auto watch = std::make_unique<FileWatch>();
        const int err = watch->Start(folder,
                                     IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE |
                                         IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF,
                                     [this, alive](std::uint32_t, const std::string&) {
                                         if (*alive && m_lost) {
                                             CheckBack();
                                         }
                                     });
        complete = complete && err == 0;
        m_folderWatches.push_back(std::move(watch));
    }
    if (!complete && !m_retryTimer) {
        m_retryTimer = std::make_unique<QTimer>();
        m_retryTimer->setInterval(kRetryIntervalMs);
        QObject::connect(m_retryTimer.get(), &QTimer::timeout, [this] { CheckBack(); });
        m_retryTimer->start();
    }
}

void TermiosSerialPort::CheckBack()
{
    if (!m_lost) {
        return;
    }
    // Watching first, then looking, so that no change falls in between.
    WatchFolders();
    struct stat st {};
    if (::stat(m_device.c_str(), &st) != 0) {
        m_seenMissing = true;
        return;
    }
    if (!S_ISCHR(st.st_mode)) {
        return;
    }
    const bool sameNode = !m_seenMissing && st.st_rdev == m_lostDev && st.st_ino == m_lostIno;
    if (sameNode) {
        // The node outlived the loss (a hang-up without unplugging): no
        // event will say when it works again, so try it now and then.
        if (!Opens(m_device)) {
            if (!m_retryTimer) {
                m_retryTimer = std::make_unique<QTimer>();
                m_retryTimer->setInterval(kRetryIntervalMs);
                QObject::connect(m_retryTimer.get(), &QTimer::timeout, [this] { CheckBack(); });
                m_retryTimer->start();
            }
            return;
        }
    }
    RaiseEvent(kEventDeviceBack);
}

}  // namespace velkon
