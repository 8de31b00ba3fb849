#include <gtest/gtest.h>

#include "Fakes.h"
#include "SessionTestSupport.h"
#include "shell/IniFile.h"
#include "shell/Shell.h"

namespace velkon::test {
namespace {

const std::string kDefault = "/opt/velkon/default.vkc";

struct ShellRig {
    ShellRig() : shell(world.app, window) {}
    FakeWorld world;
    FakeMainWindow window;
    Shell shell;
    std::string& File(const std::string& path = kDefault) { return world.files.files[path]; }
    Session& S(int n) { return *shell.SessionAt(n); }
};

TEST(Configuration, FreshFileHasExactlyTheDefaultKeysInOrder)
{
    ShellRig rig;
    rig.shell.StartApplication("", false);
    rig.shell.QueryUnload();
    const std::string expected =
        "[Velkon]\nMainLeft=1000\nMainTop=1000\nMainWidth=7000\nMainHeight=7000\nNumSessions=1\n"
        "WindowState=0\nOnErrorRunApp=\nLogErrors=0\nLoadWithWindows=0\nPingEnabled=0\n"
        "PingFrequency=1\nPingTimeout=9\nPacketSize=2000\nPassword=\n"
        "[Session1]\nConnector=0\nBaudRate=6\nParity=0\nDatabits=3\nStopbits=0\nFlowControl=0\n"
        "BufferSize=2\nCreateVirtualPort=0\nUseUDP=0\nBufferSerialData=0\nLocalIP=192.168.1.20\n"
        "IPAddress=\nPortNumber=1000\nTCPOption=0\nAutoActivate=0\nWaitForCr=0\nTimeoutValue=150\n"
        "AllowMultiConnect=1\nServerSerialOptions=0\nServerTCPOptions=0\nClientOptions=0\n"
        "ConnectOnVirtualOpen=1\nUserPrompt=\nUserPromptResponse=\nPasswordPrompt=\n"
        "PasswordPromptResponse=\nRemoteLineControl=0\nTraceFile=\nTraceHex=1\nTraceMaxSize="
        "10240\nAllowedClients=\nTls=0\nTlsCertificate=\nTlsKey=\nTlsCaFile=\n";
    EXPECT_EQ(rig.File(), expected);
    EXPECT_FALSE(rig.world.files.privateFiles[kDefault]);
}

TEST(Configuration, StartWithoutFileGivesOneNewSessionAndDefaultGeometry)
{
    ShellRig rig;
    rig.shell.StartApplication("", false);
    ASSERT_EQ(rig.shell.sessions().size(), 1u);
    EXPECT_EQ(rig.S(1).form().caption, "New - RS232 to TCP/IP");
    EXPECT_EQ(rig.S(1).settings().BaudRate, 6);
    EXPECT_EQ(rig.window.left, 1000);
    EXPECT_EQ(rig.window.height, 7000);
    EXPECT_EQ(rig.window.state, 0);
    EXPECT_EQ(rig.world.factory.made[0].vport->resets, 1);
}

TEST(Configuration, WriteThenReadRoundTripsEverySessionField)
{
    ShellRig rig;
    rig.shell.StartApplication("", false);
    Session& a = rig.S(1);
    a.SetConnector(7);
    a.SetBaudRate(15);
    a.SetParity(4);
    a.SetDatabits(0);
    a.SetStopbits(2);
    a.SetFlowControl(3);
    a.SetBufferSize(8);
    a.SetBufferSerialData(1);
    a.SetCreateVirtualPort(1);
    a.SetUseUDP(1);
    a.SetLocalIP("127.0.0.1");
    a.SetIPAddress("plc.example");
    a.SetPortNumber("502");
    a.SetTcpOption(1);
    a.SetWaitForCr(1);
    a.SetTimeoutValue("175.5");
    ChangeOptions(a, [](SessionSettings& v) {
        v.AllowMultiConnect = 0;
        v.ServerSerialOptions = 2;
        v.ServerTCPOptions = 1;
        v.ClientOptions = 2;
        v.ConnectOnVirtualOpen = 0;
        v.UserPrompt = "login:";
        v.UserPromptResponse = "admin";
        v.PasswordPrompt = "pw:";
        v.PasswordPromptResponse = "secret";
        v.RemoteLineControl = 1;
        v.AllowedClients = "10.0.0.0/8, fd00::/8";
    });
    Session& b = rig.shell.NewSession();
    b.SetIPAddress("10.0.0.9");
    rig.world.app.globalSettings = {"\"/usr/bin/alarm\"", "Pw", 1, 1, 11, 19, 750, 1};
    rig.shell.ExePath = "/opt/velkon/velkon";
    rig.shell.WriteConfiguration("/tmp/x.vkc");
    EXPECT_TRUE(rig.world.files.privateFiles["/tmp/x.vkc"]);
    EXPECT_EQ(rig.world.startEntry.entries["Velkon"], "\"/opt/velkon/velkon\"");

    rig.shell.ReadConfiguration("/tmp/x.vkc");
    ASSERT_EQ(rig.shell.sessions().size(), 2u);
    const SessionSettings& r = rig.S(1).settings();
    EXPECT_EQ(r.Connector, 7);
    EXPECT_EQ(rig.S(1).SerialSettingsText(), "921600,S,5,2");
    EXPECT_EQ(r.FlowControl, 3);
    EXPECT_EQ(r.AllowedClients, "10.0.0.0/8, fd00::/8");
    EXPECT_EQ(r.BufferSize, 8);
    EXPECT_EQ(r.BufferSerialData, 1);
    EXPECT_EQ(r.CreateVirtualPort, 1);
    EXPECT_EQ(r.UseUDP, 1);
    EXPECT_EQ(r.LocalIP, "127.0.0.1");
    EXPECT_EQ(r.IPAddress, "plc.example");
    EXPECT_EQ(r.PortNumber, "502");
    EXPECT_EQ(r.TCPOption, 1);
    EXPECT_FALSE(rig.S(1).form().ipAddressVisible);
    EXPECT_EQ(r.WaitForCr, 1);
    EXPECT_EQ(r.TimeoutValue, "175");  // written 175.5, read back as its whole part
    EXPECT_EQ(r.AllowMultiConnect, 0);
    EXPECT_EQ(r.ServerSerialOptions, 2);
    EXPECT_EQ(r.ServerTCPOptions, 1);
    EXPECT_EQ(r.ClientOptions, 2);
    EXPECT_EQ(r.ConnectOnVirtualOpen, 0);
    EXPECT_EQ(r.UserPrompt, "login:");
    EXPECT_EQ(r.PasswordPromptResponse, "secret");
    EXPECT_EQ(r.RemoteLineControl, 1);
    EXPECT_EQ(rig.S(2).settings().IPAddress, "10.0.0.9");
    EXPECT_EQ(rig.S(2).settings().RemoteLineControl, 0);
    const GlobalSettings& g = rig.world.app.globalSettings;
    EXPECT_EQ(g.OnErrorRunApp, "\"/usr/bin/alarm\"");  // quotes as entered, not lost on a save
    EXPECT_EQ(g.Password, "Pw");
    EXPECT_EQ(g.PingFrequency, 11);
    EXPECT_EQ(g.PingTimeout, 19);
    EXPECT_EQ(g.PacketSize, 750);
    EXPECT_EQ(g.LoadWithWindows, 1);
}

TEST(Configuration, ReadDefaultsDifferFromTheWindowsInitialValues)
{
    ShellRig rig;
    rig.File("/c.vkc") =
        "[Velkon]\nNumSessions=2\n[Session1]\nBaudRate=3\n[Session2]\nTCPOption=7\n"
        "TimeoutValue=abc\n[Session3]\nConnector=5\n";
    rig.shell.ReadConfiguration("/c.vkc");
    ASSERT_EQ(rig.shell.sessions().size(), 2u);
    EXPECT_EQ(rig.S(2).settings().BaudRate, 0);
    EXPECT_EQ(rig.S(2).settings().Databits, 0);
    EXPECT_EQ(rig.S(2).settings().PortNumber, "");
    EXPECT_EQ(rig.S(2).settings().TCPOption, 1);
    EXPECT_EQ(rig.S(2).settings().TimeoutValue, "0");
    EXPECT_EQ(rig.S(2).settings().UserPrompt, "Username:");
    EXPECT_EQ(rig.S(2).settings().PasswordPrompt, "Password:");
    EXPECT_EQ(rig.S(1).settings().BaudRate, 3);
}

TEST(Configuration, ValuesOutsideTheirListsKeepTheInitialValue)
{
    ShellRig rig;
    rig.File("/c.vkc") =
        "[Velkon]\nNumSessions=1\nPacketSize=-5\n[Session1]\nConnector=300\nBaudRate=-7\n"
        "Parity=x\nUseUDP=2\nBufferSize=99\nAllowMultiConnect=70000\n";
    rig.shell.ReadConfiguration("/c.vkc");
    const SessionSettings& s = rig.S(1).settings();
    EXPECT_EQ(s.Connector, 0);
    EXPECT_EQ(s.BaudRate, 6);
    EXPECT_EQ(s.Parity, 0);  // no number reads as 0, which is in the list
    EXPECT_EQ(s.UseUDP, 0);
    EXPECT_EQ(s.BufferSize, 2);
    EXPECT_EQ(s.AllowMultiConnect, static_cast<std::int16_t>(70000));
    EXPECT_EQ(rig.world.app.globalSettings.PacketSize, -5);
}

TEST(Configuration, UnknownContentAndHigherSectionsSurviveASave)
{
    ShellRig rig;
    std::string original =
        "; my bridges\r\n[Velkon]\r\nNumSessions=3\r\nCustom=keep me\r\n\r\n[Session1]\r\n"
        "Connector=1\r\nNote=x\r\n[Session2]\r\nConnector=2\r\n[Session3]\r\nConnector=3\r\n"
        "[Other]\r\nA=1\r\n";
    rig.File("/c.vkc") = original;
    rig.shell.ReadConfiguration("/c.vkc");
    rig.window.active = rig.shell.SessionAt(2);
    rig.shell.FileClose();
    rig.shell.WriteConfiguration("/c.vkc");
    const std::string& saved = rig.File("/c.vkc");
    EXPECT_EQ(saved.rfind("; my bridges\r\n[Velkon]\r\n", 0), 0u);
    EXPECT_NE(saved.find("Custom=keep me\r\n"), std::string::npos);
    EXPECT_NE(saved.find("NumSessions=2\r\n"), std::string::npos);
    EXPECT_NE(saved.find("Note=x\r\n"), std::string::npos);
    EXPECT_NE(saved.find("[Other]\r\nA=1\r\n"), std::string::npos);
    EXPECT_EQ(saved.find('\n'), saved.find("\r\n") + 1);
    IniFile file = IniFile::Parse(saved);
    EXPECT_EQ(file.ReadInt("Session2", "Connector", -9), 3);  // the former third session
    EXPECT_EQ(file.ReadInt("Session3", "Connector", -9), 3);  // left over, unchanged
    EXPECT_FALSE(file.HasKey("Session3", "BaudRate"));
}

TEST(Configuration, MetricsKeysAreWrittenLastOnceUsedAndFollowed)
{
    struct Follower : MetricsService {
        void Follow(const GlobalSettings& g) override { seen.push_back(g.MetricsPort); }
        std::vector<int> seen;
    } follower;
    ShellRig rig;
    rig.world.app.services.metrics = &follower;
    rig.File("/m.vkc") = "[Velkon]\nMetricsPort=9464\nNumSessions=1\n[Session1]\nConnector=1\n";
    rig.shell.ReadConfiguration("/m.vkc");
    EXPECT_EQ(follower.seen, std::vector<int>{9464});
    EXPECT_EQ(rig.world.app.globalSettings.MetricsAddress, "127.0.0.1");
    rig.world.app.globalSettings.MetricsAddress = "0.0.0.0";
    rig.shell.WriteConfiguration("/m.vkc");
    const std::string& saved = rig.File("/m.vkc");
    // In place where it was; the new key goes after the last known one.
    EXPECT_EQ(saved.rfind("[Velkon]\nMetricsPort=9464\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("\nPassword=\nMetricsAddress=0.0.0.0\n[Session1]"), std::string::npos)
        << saved;
    rig.shell.ReadConfiguration("/m.vkc");
    EXPECT_EQ(rig.world.app.globalSettings.MetricsAddress, "0.0.0.0");
    EXPECT_EQ(follower.seen.size(), 2u);
    rig.world.app.services.metrics = nullptr;
}

TEST(Configuration, AnyLoginResponseKeepsTheFilePrivate)
{
    ShellRig rig;
    rig.shell.StartApplication("", false);
    rig.shell.NewSession();
    rig.shell.QueryUnload();
    EXPECT_FALSE(rig.world.files.privateFiles[kDefault]);

    // Only the second session holds a secret, and no application password.
    ChangeOptions(rig.S(2), [](SessionSettings& v) { v.PasswordPromptResponse = "secret"; });
    rig.shell.WriteConfiguration("");
    EXPECT_TRUE(rig.world.files.privateFiles[kDefault]);

    ChangeOptions(rig.S(2), [](SessionSettings& v) {
        v.UserPromptResponse = "operator";
        v.PasswordPromptResponse = "";
    });
    rig.shell.WriteConfiguration("");
    EXPECT_TRUE(rig.world.files.privateFiles[kDefault]);

    // A file with a secret that others could read is taken back when it
    // is read, and that is logged once; one without a secret is left alone.
    rig.world.app.globalSettings.LogErrors = 1;
    rig.File("/tmp/open.vkc") = "[Velkon]\nLogErrors=1\n";
    rig.shell.ReadConfiguration("/tmp/open.vkc");
    EXPECT_FALSE(rig.world.files.privateFiles["/tmp/open.vkc"]);
    rig.File("/tmp/open.vkc") = "[Velkon]\nLogErrors=1\nPassword=pw\n";
    rig.shell.ReadConfiguration("/tmp/open.vkc");
    rig.shell.ReadConfiguration("/tmp/open.vkc");
    EXPECT_TRUE(rig.world.files.privateFiles["/tmp/open.vkc"]);
    const std::string log = rig.File("/opt/velkon/errorlog.txt");
    EXPECT_EQ(log,
              "Velkon Error: /tmp/open.vkc holds a secret and was readable by others; it is now "
              "0600, 03-07-2026, 09:05:02\r\n");
}

TEST(Configuration, MinimizedWindowKeepsTheFormerGeometry)
{
    ShellRig rig;
    rig.File() = "[Velkon]\nMainLeft=11\nMainTop=22\nMainWidth=3333\nMainHeight=4444\n";
    rig.shell.StartApplication("", false);
    rig.window.state = 1;
    rig.window.left = 5;
    rig.shell.QueryUnload();
    IniFile file = IniFile::Parse(rig.File());
    EXPECT_EQ(file.ReadInt("Velkon", "WindowState", -1), 1);
    EXPECT_EQ(file.ReadInt("Velkon", "MainLeft", -1), 11);
    EXPECT_EQ(file.ReadInt("Velkon", "MainHeight", -1), 4444);
}

TEST(Configuration, HostileFilesNeverCrash)
{
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    const std::string base =
        "[Velkon]\nNumSessions=3\nMainLeft=-99999999999\nWindowState=7\n[Session1]\nConnector=2\n"
        "BaudRate=99\nTimeoutValue=1e999\nPortNumber=99999\n[Session2]\nTCPOption=-1\n"
        "UserPrompt=\"" +
        std::string(400, 'x') + "\"\n[Session3]\n";
    for (int round = 0; round < 300; ++round) {
        ShellRig rig;
        std::string content = base;
        const int edits = static_cast<int>(next() % 20);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = next() % (content.size() + 1);
            if (next() % 2) {
                content.insert(at, 1, static_cast<char>(next() % 256));
            } else if (at < content.size()) {
                content.erase(at, 1 + next() % 5);
            }
        }
        if (round % 50 == 0)
            content = "[Velkon]\nNumSessions=2147483647\n";
        if (round % 50 == 1)
            content = "[Velkon]\nNumSessions=-4\n";
        rig.File("/h.vkc") = content;
        rig.shell.ReadConfiguration("/h.vkc");
        EXPECT_GE(rig.shell.sessions().size(), 1u);
        EXPECT_LE(rig.shell.sessions().size(), static_cast<std::size_t>(Shell::kMaxSessions));
        rig.shell.WriteConfiguration("/h.vkc");
    }
}

TEST(StartUp, SessionsSavedActiveStartInOrderOnlyAtStartUp)
{
    ShellRig rig;
    rig.File("/a.vkc") =
        "[Velkon]\nNumSessions=3\n[Session1]\nConnector=1\nTCPOption=1\nPortNumber=1\n"
        "AutoActivate=1\n[Session2]\nConnector=2\nTCPOption=1\nPortNumber=2\nAutoActivate=2\n"
        "[Session3]\nConnector=3\nTCPOption=1\nPortNumber=3\nAutoActivate=1\n";
    rig.shell.StartApplication("/a.vkc", true);
    EXPECT_TRUE(rig.S(1).IsActive());
    EXPECT_FALSE(rig.S(2).IsActive());
    EXPECT_TRUE(rig.S(3).IsActive());
    EXPECT_EQ(rig.world.factory.made[0].vport->resets, 0);  // another instance runs
    for (auto flag : rig.shell.AutoActivateFlags())
        EXPECT_EQ(flag, 0);
    rig.shell.QueryUnload();
    IniFile file = IniFile::Parse(rig.File());
    EXPECT_EQ(file.ReadInt("Session1", "AutoActivate", -1), 1);
    EXPECT_EQ(file.ReadInt("Session2", "AutoActivate", -1), 0);

    // The same file through File > Open activates nothing.
    rig.window.openAnswer = "/a.vkc";
    rig.shell.FileOpen();
    for (int n = 1; n <= 3; ++n)
        EXPECT_FALSE(rig.S(n).IsActive());
    EXPECT_EQ(rig.shell.AutoActivateFlags()[1], 1);
}

TEST(FileMenu, SaveAsksForANameUntilOneIsChosenAndExitWritesTheDefault)
{
    ShellRig rig;
    rig.File("/named.vkc") = "[Velkon]\nNumSessions=1\n[Session1]\nConnector=4\n";
    rig.shell.StartApplication("/named.vkc", false);
    EXPECT_EQ(rig.shell.CurrentFileName(), "");
    rig.shell.FileSave();  // Save As, cancelled
    EXPECT_EQ(rig.world.files.files.count(kDefault), 0u);
    rig.window.saveAnswer = "/saved.vkc";
    rig.shell.FileSave();
    EXPECT_EQ(rig.shell.CurrentFileName(), "/saved.vkc");
    EXPECT_NE(rig.File("/saved.vkc").find("Connector=4"), std::string::npos);
    rig.shell.FileNew();
    rig.shell.QueryUnload();
    EXPECT_NE(rig.File().find("NumSessions=2"), std::string::npos);
    EXPECT_EQ(rig.File("/named.vkc").find("NumSessions=2"), std::string::npos);
    rig.shell.Unload();
    EXPECT_TRUE(rig.shell.sessions().empty());
    EXPECT_FALSE(rig.shell.FileCloseEnabled());
}

TEST(FileMenu, OpenReleasesActiveSessionsFirst)
{
    ShellRig rig;
    rig.shell.StartApplication("", false);
    rig.S(1).SetConnector(2);
    rig.S(1).SetTcpOption(1);
    rig.S(1).OnActivateButton();
    ASSERT_TRUE(rig.S(1).IsActive());
    rig.File("/o.vkc") = "[Velkon]\nNumSessions=1\n[Session1]\nConnector=2\n";
    rig.window.openAnswer = "/o.vkc";
    rig.shell.FileOpen();
    ASSERT_EQ(rig.shell.sessions().size(), 1u);
    EXPECT_EQ(rig.window.shown.size(), 1u);
    EXPECT_FALSE(rig.S(1).IsActive());
    rig.window.openAnswer = "";
    rig.shell.FileOpen();  // cancelled: nothing changes
    EXPECT_EQ(rig.shell.CurrentFileName(), "/o.vkc");
}

}  // namespace
}  // namespace velkon::test
