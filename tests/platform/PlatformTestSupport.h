#pragma once

// Shared by the adapter tests: waiting on the event loop, test data, and the
// descriptors the tests play the far end with (pseudo-terminals, sockets).

#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "command/CommandServer.h"
#include "components/Result.h"

namespace velkon::test {

// Runs the event loop until done() holds or timeoutMs passes. done() is
// checked every millisecond (QTest::qWaitFor sleeps between rounds, which
// makes long chains of events slow) and may do work such as reading a line.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000)
{
    if (done())
        return true;
    QEventLoop loop;
    bool met = false;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            met = true;
            loop.quit();
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(1);
    deadline.start(timeoutMs);
    loop.exec();
    return met || done();
}

// Handles what the event loop has pending, for a number of rounds: to show
// that something does not happen.
inline void RunPendingEvents(int rounds = 20)
{
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
    }
}

// Writes all of data to fd, running the event loop while fd is full.
inline bool WriteAll(int fd, const Bytes& data)
{
    std::size_t written = 0;
    return WaitFor([&] {
        while (written < data.size()) {
            const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
            if (n <= 0) {
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        return written == data.size();
    });
}

// Appends what fd (non-blocking) has to read now, at most max bytes.
inline void AppendAvailable(int fd, Bytes& into, std::size_t max = SIZE_MAX)
{
    std::uint8_t chunk[4096];
    while (max > 0) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, max));
        if (n <= 0) {
            return;
        }
        into.insert(into.end(), chunk, chunk + n);
        max -= static_cast<std::size_t>(n);
    }
}

// A pseudo-terminal the test holds by its master end; its slave plays a
// serial device. The master closes with the object (the device hangs up).
class TestTerminal {
public:
    TestTerminal() = default;
    ~TestTerminal() { Close(); }
    TestTerminal(const TestTerminal&) = delete;
    TestTerminal& operator=(const TestTerminal&) = delete;

    // A fresh pair, replacing (and closing) the one held.
    bool Open()
    {
        Close();
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[PATH_MAX] = {};
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            ::ptsname_r(master, name, sizeof name) != 0) {
            return false;
        }
        slave = name;
        return true;
    }
    void Close()
    {
        if (master >= 0) {
            ::close(master);
        }
        master = -1;
    }

    int master = -1;
    std::string slave;
};

// A plain blocking TCP connection to 127.0.0.1:port; -1 when refused.
inline int ConnectLoopback(int port, int type = SOCK_STREAM)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline constexpr int kLocalWaitMs = 10000;

inline sockaddr_un LocalSocketAddress(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// One client connection to a local stream socket; everything it does pumps
// the event loop so that the server can answer.
class LocalClient {
public:
    explicit LocalClient(const std::string& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_un address = LocalSocketAddress(path);
        // A full queue of waiting connections empties only while the server
        // runs, so the connect is retried with the event loop going.
        int err = EAGAIN;
        [[maybe_unused]] const bool settled = WaitFor(
            [&] {
                err = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address),
                                sizeof address) == 0
                          ? 0
                          : errno;
                return err != EAGAIN;
            },
            kLocalWaitMs);
        m_connected = err == 0;
    }
    ~LocalClient() { Close(); }
    LocalClient(const LocalClient&) = delete;
    LocalClient& operator=(const LocalClient&) = delete;

    bool connected() const { return m_connected; }

    bool Send(const std::string& data)
    {
        std::size_t sent = 0;
        return WaitFor(
            [&] {
                while (sent < data.size()) {
                    const ssize_t n = ::send(m_fd, data.data() + sent, data.size() - sent,
                                             MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n <= 0)
                        return false;
                    sent += static_cast<std::size_t>(n);
                }
                return true;
            },
            kLocalWaitMs);
    }
    void ShutdownWrite() { ::shutdown(m_fd, SHUT_WR); }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Takes what has arrived; notes the end of the stream.
    void Drain()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                received.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                ended = true;
            }
            return;
        }
    }
    // Waits until at least `lines` line feeds have arrived (or the end).
    bool WaitForLines(std::size_t lines)
    {
        return WaitFor(
                   [&] {
                       Drain();
                       return ended || Lines() >= lines;
                   },
                   kLocalWaitMs) &&
               Lines() >= lines;
    }
    bool WaitForEnd()
    {
        return WaitFor(
            [&] {
                Drain();
                return ended;
            },
            kLocalWaitMs);
    }
    std::size_t Lines() const
    {
        std::size_t n = 0;
        for (char c : received)
            n += c == '\n' ? 1 : 0;
        return n;
    }

    std::string received;
    bool ended = false;

private:
    int m_fd = -1;
    bool m_connected = false;
};

// A local stream socket bound at path and listening; -1 when that failed.
inline int ListenLocal(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = LocalSocketAddress(path);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

// Connections to the command socket at path holding every slot of server,
// each one taken in; empty when that did not come about.
inline std::vector<std::unique_ptr<LocalClient>> FillEveryCommandSlot(const std::string& path,
                                                                      const CommandServer& server)
{
    std::vector<std::unique_ptr<LocalClient>> clients;
    for (std::size_t i = 0; i < CommandServer::kMaxConnections; ++i) {
        clients.push_back(std::make_unique<LocalClient>(path));
        if (!clients.back()->connected()) {
            return {};
        }
    }
    if (!WaitFor([&] { return server.ConnectionCount() == CommandServer::kMaxConnections; },
                 kLocalWaitMs)) {
        return {};
    }
    return clients;
}

// Every byte value, in order, repeated.
inline Bytes AllByteValues(int rounds)
{
    Bytes bytes;
    for (int r = 0; r < rounds; ++r) {
        for (int v = 0; v < 256; ++v)
            bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

// Opens path read-write in a child process that lacks CAP_SYS_ADMIN (which
// lets root past a terminal's exclusive mode): 0 when the open succeeded,
// else its errno; -1 when the child could not be set up.
inline int OpenWithoutSysAdmin(const std::string& path)
{
    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (::syscall(SYS_capget, &header, data) != 0) {
            ::_exit(255);
        }
        data[0].effective &= ~(1u << CAP_SYS_ADMIN);
        data[0].permitted &= ~(1u << CAP_SYS_ADMIN);
        if (::syscall(SYS_capset, &header, data) != 0) {
            ::_exit(255);
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : (errno & 0x7F));
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace velkon::test
