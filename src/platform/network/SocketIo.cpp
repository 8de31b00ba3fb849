#include "network/SocketIo.h"

#include <cerrno>
#include <vector>

#include <QSocketNotifier>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velkon {

char* ReadScratch()
{
    thread_local std::vector<char> buffer(kReadChunk);
    return buffer.data();
}

void DropNotifier(QSocketNotifier*& notifier)
{
    if (notifier != nullptr) {
        notifier->setEnabled(false);
        notifier->disconnect();
        notifier->deleteLater();
        notifier = nullptr;
    }
}

void CloseDescriptor(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
}

void ResetDescriptor(int& fd)
{
    if (fd >= 0) {
        const linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    CloseDescriptor(fd);
}

std::size_t UnacknowledgedBytes(int fd)
{
    int count = 0;
    if (fd < 0 || ::ioctl(fd, SIOCOUTQ, &count) != 0 || count < 0)
        return 0;
    return static_cast<std::size_t>(count);
}

namespace {

IoStep Step(ssize_t n, int err)
{
    if (n > 0) {
        return {IoStep::kDone, static_cast<std::size_t>(n), 0};
    }
    if (n == 0) {
        return {IoStep::kEnd, 0, 0};
    }
    if (err == EAGAIN || err == EWOULDBLOCK) {
        return {IoStep::kWouldBlock, 0, err};
    }
    return {IoStep::kFailed, 0, err};
}

}  // namespace

IoStep SendSome(int fd, const char* bytes, std::size_t count)
{
    for (;;) {
        const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // A send that takes nothing of a non-empty buffer: the peer is gone.
        return n == 0 ? IoStep{IoStep::kFailed, 0, EPIPE} : Step(n, errno);
    }
}

IoStep ReceiveSome(int fd, char* buffer, std::size_t room)
{
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, room, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return Step(n, errno);
    }
}

}  // namespace velkon
