#include "virtual/PortLinkPublication.h"

#include <cerrno>
#include <climits>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/RuntimeDir.h"

namespace velkon {

namespace {

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

std::string LinkTarget(const std::string& path)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// A link as this adapter makes them: to a pseudo-terminal slave.
bool IsSlaveLink(const std::string& path)
{
    return LinkTarget(path).rfind("/dev/pts/", 0) == 0;
}

}  // namespace

bool PortLinkPublication::Claim(const std::string& name)
{
    Release();
    if (!IsPortName(name)) {
        return false;
    }
    std::string folder;
    if (!EnsureRuntimeDirectory(folder)) {
        return false;
    }
    const std::string lockPath = LockPathFor(folder, name);
    int lockFd = -1;
    if (TakeLock(lockPath, lockFd) != LockOutcome::kLocked) {
        return false;
    }
    m_lockFd = lockFd;
    m_folder = folder;
    m_name = name;
    m_linkPath = folder + "/" + name;
    m_lockPath = lockPath;
    return true;
}

bool PortLinkPublication::Publish(const std::string& target)
{
    if (!Claimed()) {
        return false;
    }
    // A link that is there now is left over (its lock was free) or is not a
    // link at all; only the former may be replaced.
    struct stat existing {};
    if (::lstat(m_linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        return false;
    }
    const std::string fresh = m_folder + "/." + m_name + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) != 0) {
        return false;
    }
    if (::rename(fresh.c_str(), m_linkPath.c_str()) != 0) {
        ::unlink(fresh.c_str());
        return false;
    }
    m_target = target;
    m_published = true;
    return true;
}

bool PortLinkPublication::Withdraw()
{
    if (!Claimed()) {
        return true;
    }
    // Only our own link goes; a name that points elsewhere is not ours.
    if (m_published && LinkTarget(m_linkPath) == m_target && ::unlink(m_linkPath.c_str()) != 0 &&
        errno != ENOENT) {
        return false;
    }
    Abandon();
    return true;
}

void PortLinkPublication::Abandon()
{
    // Removed while still locked, so nobody takes a lock on a file about to go.
    if (Claimed()) {
        ::unlink(m_lockPath.c_str());
    }
    Release();
}

void PortLinkPublication::Release()
{
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
    m_published = false;
    m_folder.clear();
    m_name.clear();
    m_linkPath.clear();
    m_lockPath.clear();
    m_target.clear();
}

void PortLinkPublication::RemoveLeftovers(const std::string& ownLockPath)
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
        if (lockPath == ownLockPath) {
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

}  // namespace velkon
