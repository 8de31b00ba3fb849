#include "serial/DeviceWatch.h"

#include <climits>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QObject>
#include <QTimer>

namespace velkon {

namespace {

constexpr int kRetryIntervalMs = 1000;
constexpr int kMaxLinkDepth = 8;

// Changes of the entries of a folder that can make a path lead elsewhere.
constexpr std::uint32_t kEntryChanges =
    IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF;

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

// The folder of every path on the way from path through its symbolic links,
// the last one being the folder of the final node; below a folder that is
// missing, the nearest one that exists (and the way ends there).
std::vector<std::string> FoldersOnTheWay(std::string path, bool& reachedNode)
{
    std::vector<std::string> folders;
    reachedNode = false;
    for (int depth = 0; depth < kMaxLinkDepth && !path.empty(); ++depth) {
        const std::string folder = Parent(path);
        std::string existing = folder;
        while (!IsFolder(existing) && existing != "/" && existing != ".") {
            existing = Parent(existing);
        }
        folders.push_back(existing);
        if (existing != folder) {
            return folders;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length <= 0) {
            reachedNode = true;
            return folders;
        }
        const std::string next(target, static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : folder + "/" + next;
    }
    return folders;
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

}  // namespace

DeviceWatch::DeviceWatch(Handlers handlers) : m_handlers(std::move(handlers)) {}

DeviceWatch::~DeviceWatch()
{
    Stop();
}

void DeviceWatch::Follow(const std::string& path, int fd)
{
    Stop();
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return;
    }
    m_state = State::kFollowing;
    m_path = path;
    m_fd = fd;
    m_device = st.st_rdev;
    m_inode = st.st_ino;
    // Unplugging removes the node; the hang-up usually says so first.
    m_nodeWatch.Start(path, IN_ATTRIB | IN_DELETE_SELF, [this](std::uint32_t, const std::string&) {
        struct stat now {};
        if (m_state == State::kFollowing && ::fstat(m_fd, &now) == 0 && now.st_nlink == 0) {
            m_handlers.removed();
        }
    });
    // The path may have changed between opening and watching.
    CheckFollowed();
}

void DeviceWatch::AwaitReturn(const std::string& path, std::uint64_t lostDevice,
                              std::uint64_t lostInode)
{
    Stop();
    m_state = State::kAwaiting;
    m_path = path;
    m_device = lostDevice;
    m_inode = lostInode;
    m_seenMissing = false;
    CheckBack();
}

void DeviceWatch::Stop()
{
    m_state = State::kIdle;
    m_fd = -1;
    m_nodeWatch.Stop();
    m_folderWatches.clear();
    m_watchedFolders.clear();
    StopRetry();
}

void DeviceWatch::WatchFolders()
{
    bool reachedNode = false;
    std::vector<std::string> folders = FoldersOnTheWay(m_path, reachedNode);
    if (m_state == State::kFollowing && reachedNode) {
        // The open node's own folder says nothing the node watch does not;
        // a busy /dev must not wake an open port.
        folders.pop_back();
    }
    if (folders == m_watchedFolders) {
        return;
    }
    m_watchedFolders = folders;
    m_folderWatches.clear();
    // Awaiting, a node whose rights change may become openable.
    const std::uint32_t mask =
        m_state == State::kAwaiting ? kEntryChanges | IN_ATTRIB : kEntryChanges;
    bool complete = true;
    for (const std::string& folder : folders) {
        auto watch = std::make_unique<FileWatch>();
        const int err = watch->Start(folder, mask, [this](std::uint32_t, const std::string&) {
            if (m_state == State::kFollowing) {
                CheckFollowed();
            } else if (m_state == State::kAwaiting) {
                CheckBack();
            }
        });
        complete = complete && err == 0;
        m_folderWatches.push_back(std::move(watch));
    }
    if (!complete && m_state == State::kAwaiting) {
        StartRetry();
    }
}

void DeviceWatch::CheckFollowed()
{
    // Watching first, then looking, so that no change falls in between.
    WatchFolders();
    struct stat st {};
    // A path that leads nowhere for now is left to the hang-up or the node
    // watch: a link is often removed just before its device goes.
    if (::stat(m_path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return;
    }
    if (st.st_rdev != m_device) {
        m_handlers.redirected();
    }
}

void DeviceWatch::CheckBack()
{
    if (m_state != State::kAwaiting) {
        return;
    }
    WatchFolders();
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
        m_seenMissing = true;
        return;
    }
    if (!S_ISCHR(st.st_mode)) {
        return;
    }
    const bool sameNode = !m_seenMissing && st.st_rdev == m_device && st.st_ino == m_inode;
    if (sameNode && !Opens(m_path)) {
        // The node outlived the loss (a hang-up without unplugging).
        StartRetry();
        return;
    }
    m_handlers.back();
}

void DeviceWatch::StartRetry()
{
    if (m_retryTimer) {
        return;
    }
    m_retryTimer = std::make_unique<QTimer>();
    m_retryTimer->setInterval(kRetryIntervalMs);
    QObject::connect(m_retryTimer.get(), &QTimer::timeout, [this] { CheckBack(); });
    m_retryTimer->start();
}

void DeviceWatch::StopRetry()
{
    if (m_retryTimer) {
        // May run inside the timer's own signal: deleted by the event loop.
        m_retryTimer->stop();
        QObject::disconnect(m_retryTimer.get(), nullptr, nullptr, nullptr);
        m_retryTimer.release()->deleteLater();
    }
}

}  // namespace velkon
