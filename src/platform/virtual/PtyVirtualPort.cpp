#include "virtual/PtyVirtualPort.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "serial/TermiosSerialPort.h"
#include "system/RuntimeDir.h"

namespace velkon {

namespace {

// The standard rates termios names, both ways (0 for anything else).
constexpr std::pair<int, speed_t> kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},        {134, B134},
    {150, B150},         {200, B200},         {300, B300},        {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},      {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},    {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},  {921600, B921600},
    {1000000, B1000000}, {2000000, B2000000}, {4000000, B4000000}};

int RateOfSpeed(speed_t speed)
{
    for (const auto& [rate, s] : kSpeeds) {
        if (s == speed)
            return rate;
    }
    return 0;
}

speed_t SpeedOfRate(int rate)
{
    for (const auto& [r, speed] : kSpeeds) {
        if (r == rate)
            return speed;
    }
    return 0;
}

constexpr std::size_t kMaxNameLength = 64;
constexpr const char* kLockSuffix = ".lock";

// Port names become file names: plain letters, digits, '_' and '-' only.
bool IsPortName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameLength) {
        return false;
    }
    for (char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!plain) {
            return false;
        }
    }
    return true;
}

std::string LockPathFor(const std::string& folder, const std::string& name)
{
    return folder + "/." + name + kLockSuffix;
}

enum class LockOutcome { kLocked, kBusy, kError };

// Opens (creating it) and locks the lock file at path. The lock must be on
// the file that is at path after locking: a holder removes its lock file
// while still holding it, so a lock taken on a just-removed file is retried.
LockOutcome TakeLock(const std::string& path, int& fd)
{
    fd = -1;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int candidate = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (candidate < 0) {
            return LockOutcome::kError;
        }
        if (::flock(candidate, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(candidate);
            return err == EWOULDBLOCK ? LockOutcome::kBusy : LockOutcome::kError;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(candidate, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            fd = candidate;
            return LockOutcome::kLocked;
        }
        ::close(candidate);
    }
    return LockOutcome::kError;
}

bool IsSymlink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A link as this adapter makes them: to a pseudo-terminal slave.
bool IsSlaveLink(const std::string& path)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    return length > 0 &&
           std::string(target, static_cast<std::size_t>(length)).rfind("/dev/pts/", 0) == 0;
}

}  // namespace

PtyVirtualPort::PtyVirtualPort()
    : m_channel({.received = [this] { raiseDataReceived(); },
                 .drained = [this] { raiseOutputDrained(); },
                 // The adapter holds both ends, so the master does not fail
                 // while the port exists; should it, the data path stops.
                 .failed = [](int) {},
                 .status = [this](unsigned char status) { OnPacketStatus(status); }})
{
}

PtyVirtualPort::~PtyVirtualPort()
{
    *m_alive = false;
    if (!DeletePort()) {
        // The link could not be removed; the free lock marks it as left over.
        Release();
    }
}

bool PtyVirtualPort::CreatePort(const std::string& name)
{
    if (m_master >= 0 && !DeletePort()) {
        return false;
    }
    if (!IsPortName(name)) {
        return false;
    }
    std::string folder;
    if (!EnsureRuntimeDirectory(folder)) {
        return false;
    }
    const std::string linkPath = folder + "/" + name;
    const std::string lockPath = LockPathFor(folder, name);
    int lockFd = -1;
    if (TakeLock(lockPath, lockFd) != LockOutcome::kLocked) {
        // Busy: the port belongs to a live session, here or in another instance.
        return false;
    }
    int master = -1;
    int slave = -1;
    const auto giveUp = [&] {
        m_slaveWatch.Stop();
        if (slave >= 0) {
            ::close(slave);
        }
        if (master >= 0) {
            ::close(master);
        }
        ::unlink(lockPath.c_str());
        ::close(lockFd);
        return false;
    };

    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        return giveUp();
    }
    char slaveName[PATH_MAX] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, slaveName, sizeof slaveName) != 0) {
        return giveUp();
    }
    // The adapter's own descriptor, opened before the watch starts so that it
    // is never counted as an application.
    slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        return giveUp();
    }
    termios raw{};
    if (::tcgetattr(slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    const std::shared_ptr<bool> alive = m_alive;
    if (m_slaveWatch.Start(slaveName, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE,
                           [this, alive](std::uint32_t mask, const std::string&) {
                               if (*alive) {
                                   OnSlaveEvent(mask);
                               }
                           }) != 0) {
        return giveUp();
    }

    // A link that is there now is left over (its lock was free) or is not a
    // link at all; only the former may be replaced.
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        return giveUp();
    }
    // Made aside and renamed, so the name never points nowhere.
    const std::string fresh = folder + "/." + name + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(slaveName, fresh.c_str()) != 0) {
        return giveUp();
    }
    if (::rename(fresh.c_str(), linkPath.c_str()) != 0) {
        ::unlink(fresh.c_str());
        return giveUp();
    }

    m_master = master;
    m_slave = slave;
    m_lockFd = lockFd;
    m_linkPath = linkPath;
    m_lockPath = lockPath;
    m_slavePath = slaveName;
    m_appOpens = 0;
    m_channel.Attach(master);
    ApplyLineWatch();
    return true;
}

bool PtyVirtualPort::DeletePort()
{
    if (m_master < 0) {
        return true;
    }
    // Only our own link goes; a name that points elsewhere is not ours.
    char target[PATH_MAX];
    const ssize_t length = ::readlink(m_linkPath.c_str(), target, sizeof target);
    if (length >= 0 && std::string(target, static_cast<std::size_t>(length)) == m_slavePath &&
        ::unlink(m_linkPath.c_str()) != 0 && errno != ENOENT) {
        return false;
    }
    // Removed while still locked, so nobody takes a lock on a file about to go.
    ::unlink(m_lockPath.c_str());
    Release();
    return true;
}

void PtyVirtualPort::Release()
{
    m_slaveWatch.Stop();
    m_packetMode = false;
    m_channel.SetPacketMode(false);
    m_channel.Detach();
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
    m_linkPath.clear();
    m_lockPath.clear();
    m_slavePath.clear();
    m_appOpens = 0;
}

void PtyVirtualPort::SetPortFlag(bool flag)
{
    m_portFlag = flag;
}

void PtyVirtualPort::ResetBus()
{
    const std::string folder = RuntimeDirectory();
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    // Every port name that has a lock file here, or a link to a slave.
    std::set<std::string> names;
    const std::string suffix = kLockSuffix;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string file = entry->d_name;
        if (file.size() > 1 + suffix.size() && file[0] == '.' &&
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0) {
            const std::string name = file.substr(1, file.size() - 1 - suffix.size());
            if (IsPortName(name)) {
                names.insert(name);
            }
        } else if (IsPortName(file) && IsSlaveLink(folder + "/" + file)) {
            names.insert(file);
        }
    }
    ::closedir(dir);

    for (const std::string& name : names) {
        const std::string lockPath = LockPathFor(folder, name);
        if (lockPath == m_lockPath) {
            continue;
        }
        int lockFd = -1;
        if (TakeLock(lockPath, lockFd) != LockOutcome::kLocked) {
            continue;  // held: a live port
        }
        const std::string linkPath = folder + "/" + name;
        if (IsSymlink(linkPath)) {
            ::unlink(linkPath.c_str());
        }
        ::unlink(lockPath.c_str());
        ::close(lockFd);
    }
}

int PtyVirtualPort::AvailableCount()
{
    return m_master < 0 ? 0 : m_channel.Waiting();
}

int PtyVirtualPort::ReadBytes(Bytes& buf, int count)
{
    buf.clear();
    if (m_master < 0 || count <= 0) {
        return 0;
    }
    m_channel.Receive(buf, static_cast<std::size_t>(count));
    return static_cast<int>(buf.size());
}

int PtyVirtualPort::WriteBytes(const Bytes& buf)
{
    if (m_master < 0 || m_channel.Send(buf) != 0) {
        return 0;
    }
    return static_cast<int>(buf.size());
}

bool PtyVirtualPort::PurgeReceived()
{
    if (m_master < 0) {
        return false;
    }
    const bool flushed = ::tcflush(m_master, TCIFLUSH) == 0;
    m_channel.TookBytes();
    return flushed;
}

bool PtyVirtualPort::IsOpenedByApplication()
{
    return m_master >= 0 && m_appOpens > 0;
}

int PtyVirtualPort::OutputWaiting()
{
    return static_cast<int>(m_channel.Queued());
}

void PtyVirtualPort::HoldReceive()
{
    m_channel.Hold();
}

void PtyVirtualPort::ResumeReceive()
{
    m_channel.Resume();
}

void PtyVirtualPort::MakeSlaveRaw() const
{
    termios raw{};
    if (::tcgetattr(m_slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        if (m_watchLines)
            raw.c_lflag |= EXTPROC;
        ::tcsetattr(m_slave, TCSANOW, &raw);
    }
}

void PtyVirtualPort::OnSlaveEvent(std::uint32_t mask)
{
    if (m_master < 0) {
        return;
    }
    // Two applications opening (or closing) back to back may come as one
    // event; the count is kept from going below zero. The exclusive mode
    // makes a second opener rare.
    if ((mask & IN_OPEN) != 0 && ++m_appOpens == 1) {
        ChangeOpenState(true);
    } else if ((mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0 && m_appOpens > 0 &&
               --m_appOpens == 0) {
        // Bytes the application wrote just before closing come first.
        const std::shared_ptr<bool> alive = m_alive;
        m_channel.ReportWaiting();
        if (*alive && m_master >= 0) {
            ChangeOpenState(false);
        }
    }
}

void PtyVirtualPort::WatchLineSettings(bool on)
{
    m_watchLines = on;
    ApplyLineWatch();
}

void PtyVirtualPort::ApplyLineWatch()
{
    // Without the watch the port stays exactly as it always was.
    if (m_master < 0 || (!m_watchLines && !m_packetMode))
        return;
    m_packetMode = m_watchLines;
    int packet = m_watchLines ? 1 : 0;
    ::ioctl(m_master, TIOCPKT, &packet);
    m_channel.SetPacketMode(m_watchLines);
    termios t{};
    if (::tcgetattr(m_slave, &t) == 0) {
        t.c_lflag = m_watchLines ? (t.c_lflag | EXTPROC) : (t.c_lflag & ~EXTPROC);
        ::tcsetattr(m_slave, TCSANOW, &t);
    }
}

void PtyVirtualPort::OnPacketStatus(unsigned char status)
{
    // An application that clears EXTPROC is still reported this once; it
    // is set again so later changes are too.
    if (!(status & (TIOCPKT_IOCTL | TIOCPKT_DOSTOP | TIOCPKT_NOSTOP)))
        return;
    termios t{};
    if (::tcgetattr(m_slave, &t) == 0 && !(t.c_lflag & EXTPROC)) {
        t.c_lflag |= EXTPROC;
        ::tcsetattr(m_slave, TCSANOW, &t);
    }
    raiseLineSettingsChanged();
}

std::string PtyVirtualPort::LineSettings()
{
    termios t{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &t) != 0)
        return "";
    const int rate = RateOfSpeed(::cfgetospeed(&t));
    const tcflag_t c = t.c_cflag;
    char parity = 'N';
    if (c & PARENB) {
        if (c & CMSPAR)
            parity = (c & PARODD) ? 'M' : 'S';
        else
            parity = (c & PARODD) ? 'O' : 'E';
    }
    const int bits = (c & CSIZE) == CS5 ? 5 : (c & CSIZE) == CS6 ? 6 : (c & CSIZE) == CS7 ? 7 : 8;
    return std::to_string(rate) + "," + parity + "," + std::to_string(bits) + "," +
           ((c & CSTOPB) ? "2" : "1");
}

int PtyVirtualPort::HandshakeMode()
{
    termios t{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &t) != 0)
        return 0;
    if (t.c_cflag & CRTSCTS)
        return 2;
    return (t.c_iflag & (IXON | IXOFF)) ? 1 : 0;
}

bool PtyVirtualPort::SetLineSettings(const std::string& settings)
{
    LineSettingsValues values;
    std::string reason;
    termios t{};
    if (m_slave < 0 || !ParseLineSettings(settings, values, reason) ||
        ::tcgetattr(m_slave, &t) != 0) {
        return false;
    }
    const speed_t speed = SpeedOfRate(values.baudRate);
    if (speed == 0 || ::cfsetspeed(&t, speed) != 0)
        return false;
    t.c_cflag &= ~(CSIZE | CSTOPB);
    t.c_cflag |= values.dataBits == 5   ? CS5
                 : values.dataBits == 6 ? CS6
                 : values.dataBits == 7 ? CS7
                                        : CS8;
    if (values.stopBits != LineSettingsValues::StopBits::kOne)
        t.c_cflag |= CSTOPB;
    return ::tcsetattr(m_slave, TCSANOW, &t) == 0;
}

void PtyVirtualPort::ChangeOpenState(bool opened)
{
    // The adapter's descriptor is open already, so the exclusive mode only
    // keeps out openers after this application.
    ::ioctl(m_slave, opened ? TIOCEXCL : TIOCNXCL);
    if (!opened) {
        // The next application gets a raw port even if this one changed it.
        MakeSlaveRaw();
    }
    raiseOpenStateChanged(opened);
}

}  // namespace velkon
