#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>

#include "../LoopbackClient.h"
#include "E2eSupport.h"

namespace velkon::test {
namespace {

// The real headless program in a home of its own.
struct PolicyRig {
    PolicyRig() { env = IsolatedEnvironment(home.path()); }
    // One TCP server session on 127.0.0.1 over virtual port COM<com>.
    void Start(int com, const std::string& extraKeys)
    {
        port = FreeTcpPort();
        QFile f(home.path() + "/default.vkc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(
            "[Velkon]\nNumSessions=1\nLogErrors=1\n[Session1]\nConnector=" + std::to_string(com) +
            "\nCreateVirtualPort=1\nTCPOption=1\nLocalIP=127.0.0.1\nBufferSize=8\nAutoActivate=1\n"
            "PortNumber=" +
            std::to_string(port) + "\n" + extraKeys));
        f.close();
        program.setProcessEnvironment(env);
        program.start(QString(VELKON_BINARY_DIR) + "/velkon-headless", {});
        ASSERT_TRUE(program.waitForStarted(10000));
        link = (home.path() + "/run/COM" + QString::number(com)).toStdString();
        ASSERT_TRUE(WaitFor([&] { return app.Open(link); }));
    }
    QString Output()
    {
        out += QString::fromUtf8(program.readAllStandardOutput());
        return out;
    }
    QByteArray Log() const
    {
        QFile f(home.path() + "/errorlog.txt");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    int Descriptors() const
    {
        const std::string path = "/proc/" + std::to_string(program.processId()) + "/fd";
        DIR* dir = ::opendir(path.c_str());
        int count = 0;
        while (dir != nullptr && ::readdir(dir) != nullptr)
            ++count;
        if (dir != nullptr)
            ::closedir(dir);
        return count;
    }
    // Ends it with SIGTERM; true when it ended with status 0.
    bool Terminate()
    {
        program.terminate();
        return program.waitForFinished(10000) && program.exitCode() == 0;
    }

    QTemporaryDir home;
    QProcessEnvironment env;
    QProcess program;
    SerialEnd app;
    std::string link;
    QString out;
    int port = 0;
};

// Reads what has arrived, at most limit bytes; the end: 0 end of stream,
// an errno, or -1 (not yet).
int Drain(int fd, qint64& received, qint64 limit = 1LL << 40)
{
    char buffer[16384];
    for (qint64 taken = 0; taken < limit;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            received += n;
            taken += n;
            continue;
        }
        if (n == 0)
            return 0;
        return errno == EAGAIN ? -1 : errno;
    }
    return -1;
}

// Reads to the end of the connection within the wait; the end as Drain gives it.
int ReadToEnd(int fd, qint64& received)
{
    int end = -1;
    WaitFor([&] { return (end = Drain(fd, received)) != -1; });
    return end;
}

TEST(ClientPolicy, OnlyAllowedClientsAreServedAndRefusalsCostNothing)
{
    PolicyRig rig;
    rig.Start(51, "AllowedClients=127.0.0.1/32, fd00::/8\n");
    int allowed = -1;
    ASSERT_TRUE(WaitFor([&] { return (allowed = ConnectFrom("127.0.0.1", rig.port)) >= 0; }));
    ASSERT_TRUE(WaitFor([&] { return rig.Output().contains("(1)Connected"); }));
    const int before = rig.Descriptors();

    const int stranger = ConnectFrom("127.0.0.2", rig.port);
    ASSERT_GE(stranger, 0);
    qint64 none = 0;
    EXPECT_EQ(ReadToEnd(stranger, none), ECONNRESET);
    ::close(stranger);
    for (int i = 0; i < 1000; ++i) {
        const int fd = ConnectFrom("127.0.0.2", rig.port);
        if (fd >= 0)
            ::close(fd);
    }
    // Still serving at once, and every refused descriptor given back.
    ASSERT_TRUE(rig.app.WriteAll("still here"));
    qint64 received = 0;
    EXPECT_TRUE(WaitFor([&] {
        Drain(allowed, received);
        return received == 10;
    }));
    EXPECT_TRUE(WaitFor([&] { return rig.Descriptors() == before; }))
        << rig.Descriptors() << " " << before;
    EXPECT_EQ(rig.Log().count("Client 127.0.0.2 refused - not in the allowed list"), 1)
        << rig.Log().toStdString();
    EXPECT_TRUE(rig.Terminate());
    EXPECT_EQ(rig.Output().count("error: Client 127.0.0.2 refused - not in the allowed list"), 1)
        << rig.out.toStdString();
    ::close(allowed);
}

TEST(ClientPolicy, AStalledClientIsResetWhileTheOtherReadsOn)
{
    PolicyRig rig;
    rig.Start(52, "");
    const int stalled = ConnectFrom("127.0.0.1", rig.port, 4096);
    ASSERT_GE(stalled, 0);
    const int reader = ConnectFrom("127.0.0.1", rig.port);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(WaitFor([&] { return rig.Output().contains("(2)Connected"); }));

    // The application sends all the time; one client reads, the other never
    // does. Threads, so that neither waits for the test's event loop.
    std::atomic<bool> stop{false};
    std::atomic<qint64> read{0};
    const int line = ::open(rig.link.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(line, 0);
    std::thread writer([&] {
        const QByteArray chunk = RandomBytes(64 * 1024, 9);
        while (!stop)
            ::write(line, chunk.constData(), static_cast<size_t>(chunk.size()));
    });
    std::thread taker([&] {
        const timeval wait{0, 100000};
        ::setsockopt(reader, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[65536];
        while (!stop) {
            const ssize_t n = ::recv(reader, buffer, sizeof buffer, 0);
            if (n > 0)
                read += n;
        }
    });
    qint64 readAtDrop = -1;
    WaitFor([&] { return rig.Output().contains("closed - it took no data"); }, 40000);
    readAtDrop = read;
    QTest::qWait(200);
    const qint64 readAfter = read;
    stop = true;
    ::close(line);  // wakes a writer blocked on the full line
    writer.join();
    taker.join();
    ASSERT_TRUE(rig.Output().contains("closed - it took no data")) << rig.out.toStdString();
    // The reader went on meanwhile: far more than the stalled one's queue,
    // where on its own pace it would have had a few MiB.
    EXPECT_GT(readAtDrop, 24 * 1024 * 1024);
    EXPECT_GT(readAfter, readAtDrop);
    qint64 stalledGot = 0;
    EXPECT_EQ(ReadToEnd(stalled, stalledGot), ECONNRESET);
    ::close(stalled);
    ::close(reader);
    EXPECT_TRUE(rig.Terminate());
}

std::size_t Unread(int ttyFd)
{
    int count = 0;
    return ::ioctl(ttyFd, TIOCOUTQ, &count) == 0 ? static_cast<std::size_t>(count) : 0;
}

TEST(ClientPolicy, TheEndDeliversEverythingOrCountsExactlyWhatIsMissing)
{
    for (const bool reads : {true, false}) {
        SCOPED_TRACE(reads);
        PolicyRig rig;
        rig.Start(53, "");
        const int client = ConnectFrom("127.0.0.1", rig.port, 4096);
        ASSERT_GE(client, 0);
        ASSERT_TRUE(WaitFor([&] { return rig.Output().contains("(1)Connected"); }));
        const QByteArray data = RandomBytes(256 * 1024, 11);
        ASSERT_TRUE(rig.app.WriteAll(data));
        // Everything taken in by the program before it is told to end.
        ASSERT_TRUE(WaitFor([&] { return Unread(rig.app.fd()) == 0; }));
        QTest::qWait(100);
        rig.program.terminate();

        // The client keeps sending while the program ends, as a chatty peer does.
        qint64 received = 0;
        int end = -1;
        QElapsedTimer clock;
        clock.start();
        WaitFor([&] {
            if (reads) {
                ::send(client, "ping", 4, MSG_DONTWAIT | MSG_NOSIGNAL);
                end = Drain(client, received, 16 * 1024);  // a slow reader
            } else if (clock.elapsed() > 4000) {
                end = Drain(client, received);
            }
            return end != -1;
        });
        ::close(client);
        // It may have ended already, while the client waited.
        ASSERT_TRUE(rig.program.state() == QProcess::NotRunning ||
                    rig.program.waitForFinished(10000));
        EXPECT_EQ(rig.program.exitCode(), 0);
        const QByteArray log = rig.Log();
        if (reads) {
            EXPECT_EQ(received, data.size());
            EXPECT_EQ(end, 0);  // end of stream, no reset
            EXPECT_FALSE(log.contains("not delivered")) << log.toStdString();
        } else {
            EXPECT_EQ(end, ECONNRESET);
            const QByteArray missing = QByteArray::number(data.size() - received);
            EXPECT_TRUE(log.contains(missing + " bytes not delivered before the program ended"))
                << missing.toStdString() << " " << log.toStdString();
        }
    }
}

}  // namespace
}  // namespace velkon::test
