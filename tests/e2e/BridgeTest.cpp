#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QProcess>

#include "E2eSupport.h"
#include "shell/IniFile.h"

namespace velkon::test {
namespace {

// A configuration of one or more sessions, each a list of "Key=value" lines.
std::string Config(const std::vector<std::string>& sessions)
{
    std::string text = "[Velkon]\nNumSessions=" + std::to_string(sessions.size()) + "\n";
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        text += "[Session" + std::to_string(i + 1) + "]\n" + sessions[i];
    }
    return text;
}

std::string VirtualServer(int com, int port, const std::string& extra = "")
{
    return "Connector=" + std::to_string(com) +
           "\nCreateVirtualPort=1\nTCPOption=1\nLocalIP=127.0.0.1\n" +
           "PortNumber=" + std::to_string(port) + "\nBufferSize=8\nAutoActivate=1\n" + extra;
}

struct BridgeRig : ProgramRig {
    void StartWith(const std::string& config)
    {
        WriteFile("default.vkc", QByteArray::fromStdString(config));
        Start();
    }
    std::string Link(int com) const
    {
        return (dir.path() + "/run/COM" + QString::number(com)).toStdString();
    }
    Session& S(int n) { return *shell().SessionAt(n); }
};

TEST(Bridge, VirtualPortServerPassesOneMebibyteEachWayUnchanged)
{
    BridgeRig rig;
    const int port = FreeTcpPort();
    rig.StartWith(Config({VirtualServer(5, port)}));
    ASSERT_TRUE(rig.S(1).IsActive()) << rig.S(1).form().statusText[1];
    SerialEnd app;
    ASSERT_TRUE(app.Open(rig.Link(5)));
    auto client = ConnectTcp(port);
    ASSERT_TRUE(WaitFor([&] { return rig.S(1).ClientCount() == 1; }));

    const QByteArray up = RandomBytes(1 << 20, 1);
    ASSERT_TRUE(app.WriteAll(up));
    const QByteArray received = ReadTcp(*client, up.size());
    ASSERT_EQ(received.size(), up.size());
    EXPECT_TRUE(received == up);

    const QByteArray down = RandomBytes(1 << 20, 2);
    client->write(down);
    const QByteArray delivered = app.Read(down.size());
    ASSERT_EQ(delivered.size(), down.size());
    EXPECT_TRUE(delivered == down);
}

TEST(Bridge, ThreeClientsFollowEachRoutingOption)
{
    BridgeRig rig;
    const int ports[3] = {FreeTcpPort(), FreeTcpPort(), FreeTcpPort()};
    rig.StartWith(
        Config({VirtualServer(11, ports[0], "ServerSerialOptions=0\nServerTCPOptions=0\n"),
                VirtualServer(12, ports[1], "ServerSerialOptions=1\nServerTCPOptions=1\n"),
                VirtualServer(13, ports[2], "ServerSerialOptions=2\nServerTCPOptions=2\n")}));
    for (int s = 0; s < 3; ++s) {
        SCOPED_TRACE(s);
        ASSERT_TRUE(rig.S(s + 1).IsActive());
        SerialEnd app;
        ASSERT_TRUE(app.Open(rig.Link(11 + s)));
        std::unique_ptr<QTcpSocket> clients[3];
        for (auto& c : clients) {
            c = ConnectTcp(ports[s]);
            const int before = &c - clients;
            ASSERT_TRUE(WaitFor([&] { return rig.S(s + 1).ClientCount() == before + 1; }));
        }
        ASSERT_TRUE(app.WriteAll("serial"));
        for (int c = 0; c < 3; ++c)
            clients[c]->write(QByteArray("net") + char('0' + c));

        if (s == 0) {
            for (auto& c : clients)
                EXPECT_EQ(ReadTcp(*c, 6), "serial");
            const QByteArray got = app.Read(12);
            for (int c = 0; c < 3; ++c)
                EXPECT_TRUE(got.contains(QByteArray("net") + char('0' + c)));
        } else if (s == 1) {
            EXPECT_EQ(app.Read(1, 600), "");
            for (auto& c : clients)
                EXPECT_EQ(ReadTcpFor(*c, 100), "");
        } else {
            EXPECT_EQ(ReadTcp(*clients[0], 6), "serial");
            EXPECT_EQ(ReadTcpFor(*clients[1], 200), "");
            EXPECT_EQ(ReadTcpFor(*clients[2], 0), "");
            EXPECT_EQ(app.Read(5, 800), "net0");
            // The first client goes: the next one takes its place both ways.
            clients[0]->disconnectFromHost();
            ASSERT_TRUE(WaitFor([&] { return rig.S(3).ClientCount() == 2; }));
            ASSERT_TRUE(app.WriteAll("again"));
            EXPECT_EQ(ReadTcp(*clients[1], 5), "again");
            clients[1]->write("from1");
            EXPECT_EQ(app.Read(5), "from1");
        }
    }
}

TEST(Bridge, ClientReconnectsWhenItsServerComesBack)
{
    BridgeRig rig;
    const int port = FreeTcpPort();
    auto server = std::make_unique<QTcpServer>();
    ASSERT_TRUE(server->listen(QHostAddress::LocalHost, static_cast<quint16>(port)));
    rig.StartWith(Config({"Connector=21\nCreateVirtualPort=1\nIPAddress=127.0.0.1\nPortNumber=" +
                          std::to_string(port) + "\nConnectOnVirtualOpen=0\nAutoActivate=1\n"}));
    ASSERT_TRUE(WaitFor([&] { return server->hasPendingConnections(); }));
    QTcpSocket* peer = server->nextPendingConnection();
    ASSERT_TRUE(
        WaitFor([&] { return rig.S(1).form().statusText[1] == "TCP/IP Status: Connected"; }));

    peer->close();
    server.reset();
    ASSERT_TRUE(WaitFor([&] { return rig.S(1).form().statusText[1] == "TCP/IP Status: Closed"; }));
    server = std::make_unique<QTcpServer>();
    ASSERT_TRUE(server->listen(QHostAddress::LocalHost, static_cast<quint16>(port)));
    ASSERT_TRUE(WaitFor([&] { return server->hasPendingConnections(); }, 30000));
    ASSERT_TRUE(
        WaitFor([&] { return rig.S(1).form().statusText[1] == "TCP/IP Status: Connected"; }));

    SerialEnd app;
    ASSERT_TRUE(app.Open(rig.Link(21)));
    QTcpSocket* again = server->nextPendingConnection();
    again->write("back");
    EXPECT_EQ(app.Read(4), "back");
}

TEST(Bridge, ClientConnectsOnlyWhileTheApplicationHoldsThePort)
{
    BridgeRig rig;
    const int port = FreeTcpPort();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, static_cast<quint16>(port)));
    rig.StartWith(Config({"Connector=22\nCreateVirtualPort=1\nIPAddress=127.0.0.1\nPortNumber=" +
                          std::to_string(port) + "\nAutoActivate=1\n"}));
    ASSERT_TRUE(rig.S(1).IsActive());
    QTest::qWait(400);
    EXPECT_FALSE(server.hasPendingConnections());

    {
        SerialEnd app;
        ASSERT_TRUE(app.Open(rig.Link(22)));
        ASSERT_TRUE(WaitFor([&] { return server.hasPendingConnections(); }));
        QTcpSocket* peer = server.nextPendingConnection();
        ASSERT_TRUE(
            WaitFor([&] { return rig.S(1).form().statusText[1] == "TCP/IP Status: Connected"; }));
        ASSERT_TRUE(app.WriteAll("ping"));
        EXPECT_EQ(ReadTcp(*peer, 4), "ping");
        app.Close();
        ASSERT_TRUE(WaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
    }
    EXPECT_EQ(rig.S(1).form().statusText[1], "TCP/IP Status: Closed");
    QTest::qWait(300);
    EXPECT_FALSE(server.hasPendingConnections());

    // An open that lasts about a millisecond, with no event handled between
    // the open and the close, is still noticed.
    {
        SerialEnd app;
        ASSERT_TRUE(app.Open(rig.Link(22)));
        QTest::qSleep(1);
        app.Close();
    }
    EXPECT_TRUE(WaitFor([&] { return server.hasPendingConnections(); }));
}

TEST(Bridge, UdpPassesDatagramsBothWays)
{
    BridgeRig rig;
    const int port = FreeUdpPort();
    rig.StartWith(Config({VirtualServer(23, port, "UseUDP=1\n")}));
    ASSERT_TRUE(rig.S(1).IsActive()) << rig.S(1).form().statusText[1];
    SerialEnd app;
    ASSERT_TRUE(app.Open(rig.Link(23)));
    // The peer sits on another loopback address at the same port number,
    // where the session answers the latest sender.
    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress("127.0.0.2"), static_cast<quint16>(port)));
    peer.writeDatagram("hello", QHostAddress::LocalHost, static_cast<quint16>(port));
    EXPECT_EQ(app.Read(5), "hello");
    ASSERT_TRUE(app.WriteAll("reply"));
    ASSERT_TRUE(WaitFor([&] { return peer.hasPendingDatagrams(); }));
    QByteArray datagram(static_cast<int>(peer.pendingDatagramSize()), '\0');
    peer.readDatagram(datagram.data(), datagram.size());
    EXPECT_EQ(datagram, "reply");
}

TEST(Bridge, BufferedSerialDataWaitsForTheFirstClient)
{
    BridgeRig rig;
    const int port = FreeTcpPort();
    rig.StartWith(Config({VirtualServer(24, port, "BufferSerialData=1\n")}));
    SerialEnd app;
    ASSERT_TRUE(app.Open(rig.Link(24)));
    ASSERT_TRUE(app.WriteAll("kept for later"));
    ASSERT_TRUE(WaitFor([&] { return rig.S(1).SerialToNetworkQueue().Count() == 14; }));
    QTest::qWait(300);  // several flushes pass without a client
    auto client = ConnectTcp(port);
    EXPECT_EQ(ReadTcp(*client, 14), "kept for later");
}

TEST(Bridge, PhysicalPortMappedThroughPortsIni)
{
    PtyPair pty;
    ASSERT_TRUE(OpenPtyPair(pty));
    SerialEnd line(pty.master);

    BridgeRig rig;
    rig.WriteFile("ports.ini", PortsIni(7, pty.slaveName));
    const int port = FreeTcpPort();
    // 8 data bits: a pseudo-terminal refuses any other size.
    rig.StartWith(
        Config({"Connector=7\nTCPOption=1\nLocalIP=127.0.0.1\nBaudRate=12\nDatabits=3\n"
                "PortNumber=" +
                std::to_string(port) + "\nAutoActivate=1\n"}));
    ASSERT_TRUE(rig.S(1).IsActive()) << rig.S(1).form().statusText[0];
    EXPECT_EQ(rig.S(1).form().statusText[0], "COM Status: Open");
    auto client = ConnectTcp(port);
    ASSERT_TRUE(WaitFor([&] { return rig.S(1).ClientCount() == 1; }));

    const QByteArray up = RandomBytes(64 * 1024, 3);
    ASSERT_TRUE(line.WriteAll(up));
    EXPECT_TRUE(ReadTcp(*client, up.size()) == up);
    const QByteArray down = RandomBytes(64 * 1024, 4);
    client->write(down);
    EXPECT_TRUE(line.Read(down.size()) == down);
    ::close(pty.slave);
}

TEST(Bridge, FailuresShowInTheStatusLines)
{
    BridgeRig rig;
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    rig.WriteFile("ports.ini", PortsIni(8, "/dev/velkon-no-such-device"));
    rig.StartWith(Config({"Connector=8\nTCPOption=1\nPortNumber=1\nAutoActivate=1\n",
                          VirtualServer(25, taken.serverPort())}));
    EXPECT_FALSE(rig.S(1).IsActive());
    EXPECT_NE(rig.S(1).form().statusText[0].find("/dev/velkon-no-such-device"), std::string::npos)
        << rig.S(1).form().statusText[0];
    EXPECT_FALSE(rig.S(2).IsActive());
    EXPECT_EQ(rig.S(2).form().statusText[0], "Virtual port closed");
    EXPECT_EQ(rig.S(2).form().statusText[1].rfind("TCP/IP Status: Error - ", 0), 0u)
        << rig.S(2).form().statusText[1];
    struct stat st {};
    EXPECT_NE(::lstat(rig.Link(25).c_str(), &st), 0);
}

TEST(Program, StartsSavedSessionsAndWritesTheConfigurationOnTerminate)
{
    QTemporaryDir home;
    const int port = FreeTcpPort();
    const std::string config = Config({"Connector=0\n", VirtualServer(26, port)});
    {
        QFile f(home.path() + "/default.vkc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(config));
    }
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELKON_HOME", home.path());
    env.insert("VELKON_RUNTIME_DIR", home.path() + "/run");
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QString(VELKON_BINARY_DIR) + "/velkon", {});
    ASSERT_TRUE(program.waitForStarted(10000));

    auto client = ConnectWhenListening(port);
    ASSERT_EQ(client->state(), QAbstractSocket::ConnectedState);
    SerialEnd app;
    ASSERT_TRUE(WaitFor([&] { return app.Open((home.path() + "/run/COM26").toStdString()); }));
    // Once the program has passed the application's bytes on, it has seen
    // both the client and the application: bytes for them are not dropped.
    ASSERT_TRUE(WaitFor([&] { return app.WriteAll("h") && client->waitForReadyRead(50); }));
    client->write("over the wire");
    EXPECT_EQ(app.Read(13), "over the wire");

    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    QFile saved(home.path() + "/default.vkc");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const IniFile file = IniFile::Parse(saved.readAll().toStdString());
    EXPECT_EQ(file.ReadInt("Session1", "AutoActivate", -1), 0);
    EXPECT_EQ(file.ReadInt("Session2", "AutoActivate", -1), 1);
    struct stat st {};
    EXPECT_NE(::lstat((home.path() + "/run/COM26").toStdString().c_str(), &st), 0);
}

}  // namespace
}  // namespace velkon::test
