#pragma once

// Helpers for end-to-end tests: the program's real adapters over real
// pseudo-terminals and loopback sockets, driven from the test's event loop.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include <QByteArray>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include "UiTestSupport.h"

namespace velkon::test {

inline constexpr int kWaitMs = 20000;

inline QByteArray RandomBytes(int size, unsigned seed)
{
    std::mt19937 rng(seed);
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>(i < 256 ? i : rng() & 0xff);
    return data;
}

// The environment of a program under test: its folders under home, and no
// display, so it never reaches the user's files or screen.
inline QProcessEnvironment IsolatedEnvironment(const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELKON_HOME", home);
    env.insert("VELKON_RUNTIME_DIR", home + "/run");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
}

inline int FreeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline int FreeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// The application side of a serial line: a raw, nonblocking descriptor that
// reads and writes while the event loop keeps the program running.
class SerialEnd {
public:
    SerialEnd() = default;
    explicit SerialEnd(int fd) : m_fd(fd) { MakeRaw(); }
    ~SerialEnd() { Close(); }
    SerialEnd(const SerialEnd&) = delete;
    SerialEnd& operator=(const SerialEnd&) = delete;

    bool Open(const std::string& path)
    {
        Close();
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0)
            MakeRaw();
        return m_fd >= 0;
    }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int fd() const { return m_fd; }

    // Writes everything, letting the event loop run while the line is full.
    bool WriteAll(const QByteArray& data, int timeoutMs = kWaitMs)
    {
        qsizetype done = 0;
        return QTest::qWaitFor(
            [&] {
                while (done < data.size()) {
                    const ssize_t n =
                        ::write(m_fd, data.constData() + done,
                                static_cast<size_t>(std::min<qsizetype>(4096, data.size() - done)));
                    if (n <= 0)
                        break;
                    done += n;
                }
                return done == data.size();
            },
            timeoutMs);
    }
    // Reads until count bytes arrived (or the time is up).
    QByteArray Read(qsizetype count, int timeoutMs = kWaitMs)
    {
        QByteArray got;
        // A short read is the caller's to judge.
        (void)QTest::qWaitFor(
            [&] {
                char buffer[65536];
                for (;;) {
                    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                    if (n <= 0)
                        break;
                    got.append(buffer, n);
                }
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }

private:
    void MakeRaw()
    {
        termios t{};
        if (::tcgetattr(m_fd, &t) == 0) {
            cfmakeraw(&t);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    int m_fd = -1;
};

// A pseudo-terminal pair standing for a device: the test holds the master
// (non-blocking) as the device's far end; slaveName is the device's path.
struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string slaveName;
};

inline bool OpenPtyPair(PtyPair& pair)
{
    if (::openpty(&pair.master, &pair.slave, nullptr, nullptr, nullptr) != 0)
        return false;
    ::fcntl(pair.master, F_SETFL, ::fcntl(pair.master, F_GETFL) | O_NONBLOCK);
    char name[256] = {};
    if (::ttyname_r(pair.slave, name, sizeof name) != 0)
        return false;
    pair.slaveName = name;
    return true;
}

// A loopback TCP peer.
// A ports.ini that maps COM<com> to device.
inline QByteArray PortsIni(int com, const std::string& device)
{
    return QByteArray::fromStdString("[Ports]\nCOM" + std::to_string(com) + "=" + device + "\n");
}

inline std::unique_ptr<QTcpSocket> ConnectTcp(int port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    (void)QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; },
                          kWaitMs);
    return socket;
}

// A loopback TCP peer of a program that may not be listening yet.
inline std::unique_ptr<QTcpSocket> ConnectWhenListening(int port)
{
    std::unique_ptr<QTcpSocket> socket;
    (void)QTest::qWaitFor(
        [&] {
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            return socket->waitForConnected(200);
        },
        kWaitMs);
    return socket;
}

inline QByteArray ReadTcp(QTcpSocket& socket, qsizetype count, int timeoutMs = kWaitMs)
{
    QByteArray got;
    (void)QTest::qWaitFor(
        [&] {
            got += socket.readAll();
            return got.size() >= count;
        },
        timeoutMs);
    return got;
}

// Waits and checks that nothing more arrives on the socket meanwhile.
inline QByteArray ReadTcpFor(QTcpSocket& socket, int ms)
{
    QTest::qWait(ms);
    return socket.readAll();
}

inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = kWaitMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

}  // namespace velkon::test
