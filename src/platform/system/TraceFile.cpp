#include "system/TraceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace velkon {

namespace {

// The one translation of system errors for trace files. The writer thread
// calls it too, so no strerror with its shared buffer.
Result TraceFailure(const std::string& path, const char* action, int err)
{
    return Result::Fail(
        "trace file " + path + ": cannot " + action + ": " + std::generic_category().message(err),
        err);
}

}  // namespace

TraceFile::TraceFile(std::string path, std::int64_t maxBytes, bool wholeLines)
    : m_path(std::move(path)),
      m_maxBytes(std::max<std::int64_t>(maxBytes, 1)),
      m_wholeLines(wholeLines)
{
}

TraceFile::~TraceFile()
{
    Close();
}

void TraceFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Result TraceFile::Open()
{
    Close();
    // Non-blocking: opening a FIFO without a reader would wait forever.
    const int fd =
        ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return TraceFailure(m_path, "open", errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return TraceFailure(m_path, "open", err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Result::Fail("trace file " + m_path + ": not a regular file", EINVAL);
    }
    m_fd = fd;
    m_size = st.st_size;
    return Result::Ok();
}

Result TraceFile::Rotate()
{
    Close();
    if (::rename(m_path.c_str(), (m_path + ".1").c_str()) != 0)
        return TraceFailure(m_path, "rename", errno);
    return Open();
}

Result TraceFile::WriteAll(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(m_fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return TraceFailure(m_path, "write", errno);
        if (n == 0)
            return TraceFailure(m_path, "write", EIO);
        text.remove_prefix(static_cast<std::size_t>(n));
        m_size += n;
    }
    return Result::Ok();
}

Result TraceFile::Write(std::string_view text)
{
    if (m_fd < 0)
        return TraceFailure(m_path, "write", EBADF);
    while (!text.empty()) {
        const auto room = static_cast<std::size_t>(std::max<std::int64_t>(m_maxBytes - m_size, 0));
        std::size_t take = text.size();
        if (take > room) {
            take = room;
            if (m_wholeLines) {
                const std::size_t end =
                    room == 0 ? std::string_view::npos : text.rfind('\n', room - 1);
                take = end == std::string_view::npos ? 0 : end + 1;
            }
        }
        if (take == 0) {
            if (m_size > 0) {
                if (Result rotated = Rotate(); !rotated)
                    return rotated;
                continue;
            }
            // Longer than a whole file may be: it goes in alone.
            const std::size_t end = text.find('\n');
            take = end == std::string_view::npos ? text.size() : end + 1;
        }
        if (Result written = WriteAll(text.substr(0, take)); !written)
            return written;
        text.remove_prefix(take);
    }
    return Result::Ok();
}

}  // namespace velkon
