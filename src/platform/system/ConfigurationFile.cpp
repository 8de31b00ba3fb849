#include "system/ConfigurationFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFileInfo>

namespace velkon {

Result CheckConfigurationFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        return Result::Fail(path + ": " + std::strerror(err), err);
    }
    if (S_ISDIR(st.st_mode))
        return Result::Fail(path + " is a folder, not a configuration file", EISDIR);
    if (S_ISFIFO(st.st_mode))
        return Result::Fail(path + " is a named pipe, not a configuration file", EINVAL);
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return Result::Fail(path + " is a device, not a configuration file", EINVAL);
    if (!S_ISREG(st.st_mode))
        return Result::Fail(path + " is not a regular file", EINVAL);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        return Result::Fail(path + " cannot be read: " + std::strerror(err), err);
    }
    ::close(fd);
    return Result::Ok();
}

int RemoveSaveLeftovers(const std::string& path)
{
    const QFileInfo file(QString::fromStdString(path));
    const QString prefix = file.fileName() + ".";
    const QDir folder = file.absoluteDir();
    int removed = 0;
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        // Exactly the names mkstemp gives "<name>.XXXXXX".
        if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
            continue;
        bool sixLetters = true;
        for (QChar c : name.mid(prefix.size()))
            sixLetters = sixLetters && c.isLetterOrNumber() && c.unicode() < 128;
        if (!sixLetters)
            continue;
        const std::string leftover = folder.filePath(name).toStdString();
        const int fd = ::open(leftover.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        // A save in progress holds the lock on its temporary file.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(leftover.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

}  // namespace velkon
