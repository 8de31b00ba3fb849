#include <unistd.h>

#include <gtest/gtest.h>

#include "E2eSupport.h"

namespace velkon::test {
namespace {

// A device behind a fixed path that can be unplugged and plugged in again: a
// pseudo-terminal pair whose slave the path links to. The test holds the
// master, as the device's far end.
class UnpluggableDevice {
public:
    explicit UnpluggableDevice(std::string linkPath) : m_link(std::move(linkPath)) { PlugIn(); }
    ~UnpluggableDevice() { Unplug(); }

    bool PlugIn()
    {
        PtyPair pty;
        if (!OpenPtyPair(pty))
            return false;
        ::close(pty.slave);
        m_master = pty.master;
        m_line = std::make_unique<SerialEnd>(m_master);
        // Re-pointed in one step, as udev renews a by-id link.
        const std::string fresh = m_link + ".new";
        ::unlink(fresh.c_str());
        return ::symlink(pty.slaveName.c_str(), fresh.c_str()) == 0 &&
               ::rename(fresh.c_str(), m_link.c_str()) == 0;
    }
    // The link goes first, as udev removes a by-id link: a link left
    // dangling could meanwhile resolve to a node another process took.
    void Unplug()
    {
        ::unlink(m_link.c_str());
        m_line.reset();  // closes the master: the slave hangs up
        m_master = -1;
    }
    SerialEnd& line() { return *m_line; }

private:
    std::string m_link;
    int m_master = -1;
    std::unique_ptr<SerialEnd> m_line;
};

struct FaultRig : ProgramRig {
    Session& S() { return *shell().SessionAt(1); }
    std::string Serial() { return S().form().statusText[0]; }
};

TEST(FieldFaults, LostDeviceIsReportedAndTakenBackUnderTheSamePath)
{
    FaultRig rig;
    UnpluggableDevice device((rig.dir.path() + "/ttyDevice").toStdString());
    rig.WriteFile("ports.ini", PortsIni(7, rig.Path("ttyDevice").toStdString()));
    const int port = FreeTcpPort();
    rig.WriteFile("default.vkc",
                  QByteArray("[Velkon]\nNumSessions=1\nLogErrors=1\n[Session1]\n"
                             "Connector=7\nTCPOption=1\nLocalIP=127.0.0.1\nDatabits=3\n"
                             "BufferSize=8\nAutoActivate=1\nPortNumber=") +
                      QByteArray::number(port) + "\n");
    rig.Start();
    ASSERT_EQ(rig.Serial(), "COM Status: Open");
    auto client = ConnectTcp(port);
    ASSERT_TRUE(WaitFor([&] { return rig.S().ClientCount() == 1; }));

    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        device.Unplug();
        ASSERT_TRUE(WaitFor([&] { return rig.Serial().rfind("COM Status: Error - ", 0) == 0; }))
            << rig.Serial();
        // Bytes for the device wait for it; clients that come and go while
        // it is away change nothing.
        client->write("while away " + QByteArray::number(round));
        for (int i = 0; i < 5; ++i)
            ConnectTcp(port)->abort();
        EXPECT_TRUE(rig.S().IsActive());

        ASSERT_TRUE(device.PlugIn());
        ASSERT_TRUE(WaitFor([&] { return rig.Serial() == "COM Status: Open"; })) << rig.Serial();
        const QByteArray waited = "while away " + QByteArray::number(round);
        EXPECT_EQ(device.line().Read(waited.size()), waited);
        ASSERT_TRUE(device.line().WriteAll("back"));
        EXPECT_EQ(ReadTcp(*client, 4), "back");
    }
    const QByteArray log = rig.ReadFile("errorlog.txt");
    EXPECT_EQ(log.count("Velkon Error: the device was disconnected"), 5) << log.toStdString();

    // Deactivated while the device is away, and activated once it is back.
    device.Unplug();
    ASSERT_TRUE(WaitFor([&] { return rig.Serial().rfind("COM Status: Error - ", 0) == 0; }));
    rig.S().OnActivateButton();
    EXPECT_FALSE(rig.S().IsActive());
    EXPECT_EQ(rig.Serial(), "COM Status: Closed");
    ASSERT_TRUE(device.PlugIn());
    rig.S().OnActivateButton();
    EXPECT_EQ(rig.Serial(), "COM Status: Open");
}

TEST(FieldFaults, SurplusClientIsToldAndTheNextOneServed)
{
    FaultRig rig;
    const int port = FreeTcpPort();
    rig.WriteFile("default.vkc", QByteArray("[Velkon]\nNumSessions=1\n[Session1]\nConnector=41\n"
                                            "CreateVirtualPort=1\nTCPOption=1\nLocalIP=127.0.0.1\n"
                                            "AllowMultiConnect=0\nAutoActivate=1\nPortNumber=") +
                                     QByteArray::number(port) + "\n");
    rig.Start();
    auto first = ConnectTcp(port);
    ASSERT_TRUE(WaitFor([&] { return rig.S().ClientCount() == 1; }));
    auto surplus = ConnectTcp(port);
    EXPECT_TRUE(WaitFor([&] { return surplus->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(rig.S().ClientCount(), 1);

    first->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return rig.S().ClientCount() == 0; }));
    auto next = ConnectTcp(port);
    ASSERT_TRUE(WaitFor([&] { return rig.S().ClientCount() == 1; }));
    SerialEnd app;
    ASSERT_TRUE(app.Open((rig.dir.path() + "/run/COM41").toStdString()));
    ASSERT_TRUE(app.WriteAll("served"));
    EXPECT_EQ(ReadTcp(*next, 6), "served");
}

}  // namespace
}  // namespace velkon::test
