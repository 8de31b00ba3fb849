#include "system/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "components/Result.h"
#include "system/RuntimeDir.h"

namespace velkon {

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceLock::Acquire(std::string& error)
{
    std::string folder;
    const Result made = EnsureRuntimeDirectory(folder);
    if (!made) {
        error = made.description();
        return false;
    }
    const std::string path = folder + "/instance.lock";
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_fd);
        m_fd = -1;
        error = "another instance is running (" + path + ")";
        return false;
    }
    return true;
}

}  // namespace velkon
