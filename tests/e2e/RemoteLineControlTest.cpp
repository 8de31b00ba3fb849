#include <gtest/gtest.h>

#include <QProcess>

#include "E2eSupport.h"

namespace velkon::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

bool HavePyserial()
{
    return QProcess::execute(kPython, {"-c", "import serial.rfc2217"}) == 0;
}

// Data one way and the other: every byte value, in a different order each way.
QByteArray Pattern(bool up)
{
    QByteArray data(1 << 20, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(up ? i & 0xff : 255 - ((i * 7) & 0xff));
    return data;
}

// pyserial's RFC 2217 client: opens at 19200 baud with 2 stop bits, says
// OPEN, waits for a line, sends the up pattern and checks the down pattern.
constexpr const char* kClientScript = R"(
import sys, serial
port = serial.serial_for_url('rfc2217://127.0.0.1:%s' % sys.argv[1], baudrate=19200,
                             stopbits=serial.STOPBITS_TWO, timeout=20)
print('OPEN', flush=True)
sys.stdin.readline()
up = bytes(i & 0xff for i in range(1 << 20))
down = bytes(255 - ((i * 7) & 0xff) for i in range(1 << 20))
port.write(up)
got = bytearray()
while len(got) < len(down):
    piece = port.read(len(down) - len(got))
    if not piece:
        break
    got += piece
print('DOWN', 'OK' if got == down else 'BAD %d' % len(got), flush=True)
port.close()
)";

TEST(RemoteLineControl, PyserialClientControlsThePhysicalPortAndDataPassesUnchanged)
{
    if (!HavePyserial())
        GTEST_SKIP() << "pyserial is not installed for " << kPython;
    PtyPair pty;
    ASSERT_TRUE(OpenPtyPair(pty));
    SerialEnd line(pty.master);

    ProgramRig rig;
    rig.WriteFile("ports.ini", PortsIni(7, pty.slaveName));
    const int port = FreeTcpPort();
    rig.WriteFile("default.vkc",
                  QByteArray::fromStdString(
                      "[Velkon]\nNumSessions=1\n[Session1]\nConnector=7\nTCPOption=1\n"
                      "LocalIP=127.0.0.1\nBaudRate=6\nDatabits=3\nPortNumber=" +
                      std::to_string(port) + "\nAutoActivate=1\nRemoteLineControl=1\n"));
    rig.Start();
    Session& session = *rig.shell().SessionAt(1);
    ASSERT_TRUE(session.IsActive()) << session.form().statusText[0];

    QProcess client;
    client.start(kPython, {"-c", kClientScript, QString::number(port)});
    ASSERT_TRUE(
        WaitFor([&] { return client.canReadLine() || client.state() == QProcess::NotRunning; }));
    ASSERT_EQ(client.readLine(), "OPEN\n") << client.readAllStandardError().toStdString();

    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    client.write("go\n");
    const QByteArray up = line.Read(1 << 20);
    ASSERT_EQ(up.size(), 1 << 20);
    EXPECT_TRUE(up == Pattern(true));
    ASSERT_TRUE(line.WriteAll(Pattern(false)));
    ASSERT_TRUE(
        WaitFor([&] { return client.canReadLine() || client.state() == QProcess::NotRunning; }));
    EXPECT_EQ(client.readLine(), "DOWN OK\n") << client.readAllStandardError().toStdString();
    client.waitForFinished(5000);
    ::close(pty.slave);
}

TEST(RemoteLineControl, RefusedSettingsAreAnsweredWithTheValuesInForce)
{
    PtyPair pty;
    ASSERT_TRUE(OpenPtyPair(pty));
    ProgramRig rig;
    rig.WriteFile("ports.ini", PortsIni(9, pty.slaveName));
    const int port = FreeTcpPort();
    rig.WriteFile("default.vkc",
                  QByteArray::fromStdString(
                      "[Velkon]\nNumSessions=1\n[Session1]\nConnector=9\nTCPOption=1\n"
                      "LocalIP=127.0.0.1\nBaudRate=10\nDatabits=3\nPortNumber=" +
                      std::to_string(port) + "\nAutoActivate=1\nRemoteLineControl=1\n"));
    rig.Start();
    ASSERT_TRUE(rig.shell().SessionAt(1)->IsActive());
    auto peer = ConnectTcp(port);
    // WILL COM-PORT-OPTION; 7 data bits; even parity (the pseudo-terminal
    // refuses both).
    peer->write(
        QByteArray("\xff\xfb\x2c"
                   "\xff\xfa\x2c\x02\x07\xff\xf0"
                   "\xff\xfa\x2c\x03\x03\xff\xf0",
                   17));
    const QByteArray answer = ReadTcp(*peer, 17);
    EXPECT_EQ(answer, QByteArray("\xff\xfd\x2c"
                                 "\xff\xfa\x2c\x66\x08\xff\xf0"
                                 "\xff\xfa\x2c\x67\x01\xff\xf0",
                                 17));
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
    ::close(pty.slave);
    ::close(pty.master);
}

}  // namespace
}  // namespace velkon::test

namespace velkon::test {
namespace {

speed_t OutputSpeed(int fd)
{
    termios t{};
    return ::tcgetattr(fd, &t) == 0 ? ::cfgetospeed(&t) : B0;
}

TEST(RemoteLineControl, ApplicationSettingsOnTheVirtualPortReachAPyserialServer)
{
    if (!HavePyserial())
        GTEST_SKIP() << "pyserial is not installed for " << kPython;
    PtyPair pty;
    ASSERT_TRUE(OpenPtyPair(pty));
    SerialEnd serverLine(pty.master);
    const int port = FreeTcpPort();
    QProcess server;
    server.start(kPython, {QString(VELKON_SOURCE_DIR) + "/tests/e2e/rfc2217_server.py",
                           pty.slaveName.c_str(), QString::number(port)});
    ASSERT_TRUE(
        WaitFor([&] { return server.canReadLine() || server.state() == QProcess::NotRunning; }));
    ASSERT_EQ(server.readLine(), "LISTEN\n") << server.readAllStandardError().toStdString();

    ProgramRig rig;
    rig.WriteFile("default.vkc",
                  QByteArray::fromStdString(
                      "[Velkon]\nNumSessions=1\n[Session1]\nConnector=31\nCreateVirtualPort=1\n"
                      "IPAddress=127.0.0.1\nPortNumber=" +
                      std::to_string(port) + "\nAutoActivate=1\nRemoteLineControl=1\n"));
    rig.Start();
    ASSERT_TRUE(rig.shell().SessionAt(1)->IsActive());
    SerialEnd app;
    ASSERT_TRUE(app.Open((rig.dir.path() + "/run/COM31").toStdString()));
    for (const speed_t speed : {B19200, B38400}) {
        termios t{};
        ASSERT_EQ(::tcgetattr(app.fd(), &t), 0);
        ::cfsetspeed(&t, speed);
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8;
        ASSERT_EQ(::tcsetattr(app.fd(), TCSANOW, &t), 0);
        EXPECT_TRUE(WaitFor([&] { return OutputSpeed(pty.master) == speed; }, 10000))
            << speed << " " << rig.shell().SessionAt(1)->form().statusText[1]
            << server.readAllStandardError().toStdString();
    }
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));

    const QByteArray up = Pattern(true).left(256 * 1024);
    ASSERT_TRUE(app.WriteAll(up));
    EXPECT_TRUE(serverLine.Read(up.size()) == up);
    const QByteArray down = Pattern(false).left(256 * 1024);
    ASSERT_TRUE(serverLine.WriteAll(down));
    EXPECT_TRUE(app.Read(down.size()) == down);
    server.kill();
    server.waitForFinished(5000);
    ::close(pty.slave);
}

}  // namespace
}  // namespace velkon::test
