#include "PtyVirtualPort.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include "RuntimeDir.h"

namespace velkon {

namespace {

constexpr int kPollIntervalMs = 50;
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

// Deleting a notifier or timer from inside its own signal is left to the
// event loop.
template <typename T>
void Dispose(std::unique_ptr<T>& object, bool deferred)
{
    if (!object) {
        return;
    }
    QObject::disconnect(object.get(), nullptr, nullptr, nullptr);
    if (deferred) {
        object.release()->deleteLater();
    } else {
        object.reset();
    }
}

}  // namespace

PtyVirtualPort::PtyVirtualPort() = default;

PtyVirtualPort::~PtyVirtualPort()
{
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
    const auto giveUp = [&](int master) {
        if (master >= 0) {
            ::close(master);
        }
        ::unlink(lockPath.c_str());
        ::close(lockFd);
        return false;
    };

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        return giveUp(-1);
    }
    char slaveName[PATH_MAX] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, slaveName, sizeof slaveName) != 0) {
        return giveUp(master);
    }
    // Opening and closing the slave once makes the master report a hang-up
    // until an application opens it: a slave never opened reports none.
    const int slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        return giveUp(master);
    }
    termios raw{};
    if (::tcgetattr(slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    ::close(slave);

    // A link that is there now is left over (its lock was free) or is not a
    // link at all; only the former may be replaced.
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        return giveUp(master);
    }
    // Made aside and renamed, so the name never points nowhere.
    const std::string fresh = folder + "/." + name + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(slaveName, fresh.c_str()) != 0) {
        return giveUp(master);
    }
    if (::rename(fresh.c_str(), linkPath.c_str()) != 0) {
        ::unlink(fresh.c_str());
        return giveUp(master);
    }

    m_master = master;
    m_lockFd = lockFd;
    m_linkPath = linkPath;
    m_lockPath = lockPath;
    m_slavePath = slaveName;
    m_appOpen = false;
    m_holding = false;
    m_stalled = false;
    m_outQueue.clear();
    m_outOffset = 0;

    m_readNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    m_readNotifier->setEnabled(false);
    QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
    m_writeNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, [this] { OnWritable(); });
    m_pollTimer = std::make_unique<QTimer>();
    m_pollTimer->setInterval(kPollIntervalMs);
    QObject::connect(m_pollTimer.get(), &QTimer::timeout, [this] { OnPoll(); });
    m_pollTimer->start();
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
    const bool deferred = m_dispatchDepth > 0;
    if (m_readNotifier) {
        m_readNotifier->setEnabled(false);
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
    }
    if (m_pollTimer) {
        m_pollTimer->stop();
    }
    Dispose(m_readNotifier, deferred);
    Dispose(m_writeNotifier, deferred);
    Dispose(m_pollTimer, deferred);
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
    m_outQueue.clear();
    m_outOffset = 0;
    m_appOpen = false;
    m_holding = false;
    m_stalled = false;
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
    int waiting = 0;
    if (m_master < 0 || ::ioctl(m_master, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return waiting;
}

int PtyVirtualPort::ReadBytes(Bytes& buf, int count)
{
    buf.clear();
    if (m_master < 0 || count <= 0) {
        return 0;
    }
    buf.resize(static_cast<std::size_t>(count));
    std::size_t got = 0;
    while (got < buf.size()) {
        const ssize_t n = ::read(m_master, buf.data() + got, buf.size() - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // EAGAIN: nothing more now; EIO: the slave is closed and drained.
        break;
    }
    buf.resize(got);
    if (got > 0) {
        TookBytes();
    }
    return static_cast<int>(got);
}

int PtyVirtualPort::WriteBytes(const Bytes& buf)
{
    if (m_master < 0) {
        return 0;
    }
    m_outQueue.insert(m_outQueue.end(), buf.begin(), buf.end());
    FlushQueue();
    UpdateNotifiers();
    return static_cast<int>(buf.size());
}

bool PtyVirtualPort::PurgeReceived()
{
    if (m_master < 0) {
        return false;
    }
    const bool flushed = ::tcflush(m_master, TCIFLUSH) == 0;
    TookBytes();
    return flushed;
}

bool PtyVirtualPort::IsOpenedByApplication()
{
    return m_master >= 0 && SlaveOpen();
}

int PtyVirtualPort::OutputWaiting()
{
    return static_cast<int>(Queued());
}

void PtyVirtualPort::HoldReceive()
{
    m_holding = true;
    UpdateNotifiers();
}

void PtyVirtualPort::ResumeReceive()
{
    m_holding = false;
    m_stalled = false;
    // An open slave's notifier reports waiting bytes at once; bytes left by a
    // closed application are reported by the next poll.
    UpdateNotifiers();
}

bool PtyVirtualPort::SlaveOpen() const
{
    pollfd p{m_master, 0, 0};
    return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

void PtyVirtualPort::MakeSlaveRaw() const
{
    // Termios requests on the master act on the slave.
    termios raw{};
    if (::tcgetattr(m_master, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(m_master, TCSANOW, &raw);
    }
}

void PtyVirtualPort::OnPoll()
{
    if (m_master < 0) {
        return;
    }
    const bool opened = SlaveOpen();
    if (!opened) {
        // Nobody reads the slave now, but it keeps what it takes for the next
        // application; the write notifier is off because the hang-up would
        // wake it all the time.
        FlushQueue();
        // Bytes an application wrote just before closing come before the close.
        if (!m_holding && !m_stalled && AvailableCount() > 0) {
            DeliverData();
            if (m_master < 0) {
                return;
            }
        }
    }
    if (opened != m_appOpen) {
        ChangeOpenState(opened);
    }
}

void PtyVirtualPort::OnReadable()
{
    if (AvailableCount() > 0) {
        DeliverData();
        return;
    }
    if (!SlaveOpen()) {
        // The hang-up woke us: the application closed the slave just now.
        ChangeOpenState(false);
    }
}

void PtyVirtualPort::OnWritable()
{
    FlushQueue();
    UpdateNotifiers();
    if (Queued() == 0) {
        raiseOutputDrained();
    }
}

void PtyVirtualPort::DeliverData()
{
    const unsigned takenBefore = m_takeCount;
    ++m_dispatchDepth;
    raiseDataReceived();
    --m_dispatchDepth;
    if (m_master >= 0 && m_takeCount == takenBefore && !m_holding) {
        m_stalled = true;
        UpdateNotifiers();
    }
}

void PtyVirtualPort::ChangeOpenState(bool opened)
{
    m_appOpen = opened;
    if (!opened) {
        // The next application gets a raw port even if this one changed it.
        MakeSlaveRaw();
    }
    UpdateNotifiers();
    ++m_dispatchDepth;
    raiseOpenStateChanged(opened);
    --m_dispatchDepth;
}

void PtyVirtualPort::FlushQueue()
{
    while (Queued() > 0) {
        const ssize_t n = ::write(m_master, m_outQueue.data() + m_outOffset, Queued());
        if (n > 0) {
            m_outOffset += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // Full (EAGAIN) or refused for now: the bytes wait, never dropped.
        break;
    }
    if (Queued() == 0) {
        m_outQueue.clear();
        m_outOffset = 0;
    } else if (m_outOffset > m_outQueue.size() / 2) {
        m_outQueue.erase(m_outQueue.begin(),
                         m_outQueue.begin() + static_cast<std::ptrdiff_t>(m_outOffset));
        m_outOffset = 0;
    }
}

void PtyVirtualPort::UpdateNotifiers()
{
    // While the slave is closed the master always reports a hang-up, which
    // would wake both notifiers without end; the poll timer covers that time.
    if (m_readNotifier) {
        m_readNotifier->setEnabled(m_master >= 0 && m_appOpen && !m_holding && !m_stalled);
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(m_master >= 0 && m_appOpen && Queued() > 0);
    }
}

void PtyVirtualPort::TookBytes()
{
    ++m_takeCount;
    if (m_stalled) {
        m_stalled = false;
        UpdateNotifiers();
    }
}

}  // namespace velkon
