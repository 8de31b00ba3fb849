#include "system/PosixFileStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace velkon {

bool PosixFileStore::Append(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return done == text.size();
}

bool PosixFileStore::Read(const std::string& path, std::string& content)
{
    // Non-blocking, so a pipe named as configuration cannot stall the start.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    content.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

namespace {

constexpr const char* kTempSuffix = ".XXXXXX";

// The file a path names after following symbolic links; the path itself when
// it is none. A dangling link gives the file it would point to.
std::string LinkTarget(const std::string& path)
{
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        char buffer[4096];
        const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (n <= 0)
            return current;
        std::string next(buffer, static_cast<std::size_t>(n));
        if (next[0] != '/') {
            const std::size_t slash = current.rfind('/');
            next =
                (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + next;
        }
        current = next;
    }
    return current;
}

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A temporary file beside the target, locked for the time of the save so a
// start that cleans up leftovers leaves it alone.
int CreateLockedTemp(const std::string& target, std::string& temp)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        temp = target + kTempSuffix;
        const int fd = ::mkstemp(temp.data());
        if (fd < 0)
            return -1;
        struct stat st {};
        // Removed between creation and lock by a cleaning start: take another.
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0)
            return fd;
        ::close(fd);
    }
    return -1;
}

bool WriteAll(int fd, const std::string& content)
{
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool PosixFileStore::Replace(const std::string& path, const std::string& content, bool privateFile)
{
    // Write a temporary file beside the target and rename it over the
    // target, so a crash or a full disk never leaves a truncated file.
    const std::string target = LinkTarget(path);
    // The file names a program the bridge starts: nobody else may change it.
    mode_t mode = 0644 & ~CurrentUmask();
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        mode = st.st_mode & 0755;
    }
    if (privateFile)
        mode = 0600;
    std::string temp;
    const int fd = CreateLockedTemp(target, temp);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content);
    ok = ok && ::fsync(fd) == 0;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    ok = ::close(fd) == 0 && ok;
    return ok;
}

bool PosixFileStore::MakePrivate(const std::string& path)
{
    // The mode Replace gives a file holding a secret, on the file a link names.
    const std::string target = LinkTarget(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0077) == 0)
        return false;
    return ::chmod(target.c_str(), 0600) == 0;
}

}  // namespace velkon
