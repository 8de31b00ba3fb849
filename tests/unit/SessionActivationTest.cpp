#include <gtest/gtest.h>

#include "SessionTestSupport.h"

namespace velkon::test {
namespace {

TEST(SessionWindow, NewSessionShowsTheInitialState)
{
    SessionRig rig;
    const SessionSettings& v = rig.s().settings();
    EXPECT_EQ(rig.s().ConnectorText(), "None");
    EXPECT_EQ(rig.s().SerialSettingsText(), "9600,N,8,1");
    EXPECT_EQ(v.FlowControl, 0);
    EXPECT_EQ(rig.s().BufferSizeText(), "8192");
    EXPECT_EQ(v.PortNumber, "1000");
    EXPECT_EQ(v.TimeoutValue, "150");
    EXPECT_EQ(v.TCPOption, 0);
    EXPECT_EQ(v.AllowMultiConnect, 1);
    EXPECT_EQ(v.ConnectOnVirtualOpen, 1);
    EXPECT_EQ(v.LocalIP, "192.168.1.20");
    EXPECT_TRUE(rig.s().form().ipAddressVisible);
    EXPECT_TRUE(rig.s().form().serverOptionEnabled);
    EXPECT_EQ(rig.s().form().activateCaption, "Activate");
    EXPECT_EQ(rig.s().form().statusText[0], "COM Status:");
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status:");
    EXPECT_EQ(rig.s().form().localIpItems.size(), 2u);
    EXPECT_EQ(rig.serial().receiveThreshold, 1);
    // A quiet session runs no timer.
    EXPECT_FALSE(rig.timer2().enabled);
    EXPECT_FALSE(rig.timer1().enabled);
    EXPECT_EQ(rig.s().Topic(), "None");
}

TEST(SessionWindow, NoLocalAddressDisablesServerMode)
{
    FakeWorld world;
    world.factory.localIP = "";
    Session s(world.app, world.factory.CreateSessionComponents());
    s.Load();
    EXPECT_FALSE(s.form().serverOptionEnabled);
    EXPECT_EQ(s.ServerModeFlag(), 0);
}

TEST(SessionWindow, ClientServerSwitchChangesLabelsAndLayout)
{
    SessionRig rig;
    EXPECT_EQ(rig.s().form().portLabel, "Remote Port:");
    rig.s().SetTcpOption(1);
    EXPECT_FALSE(rig.s().form().ipAddressVisible);
    EXPECT_EQ(rig.s().form().addressLabel, "Local IP Address");
    EXPECT_EQ(rig.s().form().portLabel, "Local Port");
    rig.s().SetTcpOption(0);
    EXPECT_TRUE(rig.s().form().ipAddressVisible);
    EXPECT_EQ(rig.s().form().addressLabel, "Remote Host IP Address");
    EXPECT_EQ(rig.s().form().portLabel, "Remote Port");
}

TEST(SessionWindow, PortMessageAppearsOnlyAboveTheLimit)
{
    SessionRig rig;
    for (const char* typed : {"7", "70", "700", "7000"})
        rig.s().SetPortNumber(typed);
    EXPECT_TRUE(rig.world.messages.shown.empty());
    rig.s().SetPortNumber("70000");
    ASSERT_EQ(rig.world.messages.shown.size(), 1u);
    EXPECT_EQ(rig.world.messages.shown[0], "Error|Port numbers must range between 0 and 65535");
    rig.s().SetPortNumber("700001");
    EXPECT_EQ(rig.world.messages.shown.size(), 2u);
    EXPECT_EQ(rig.s().settings().PortNumber, "700001");
}

TEST(SessionWindow, IoOptionsOpenTheDialogOfTheChosenMode)
{
    SessionRig rig;
    rig.world.dialogs.serverAnswer = [](SessionSettings& t) {
        EXPECT_EQ(t.ServerSerialOptions, 0);
        t.ServerSerialOptions = 2;
        t.AllowMultiConnect = 0;
        return true;
    };
    rig.world.dialogs.clientAnswer = [](SessionSettings& t) {
        t.ClientOptions = 2;
        return false;
    };
    rig.s().SetTcpOption(1);
    rig.s().OnIoOptionsButton();
    EXPECT_EQ(rig.world.dialogs.serverShown, 1);
    EXPECT_EQ(rig.world.dialogs.clientShown, 0);
    EXPECT_EQ(rig.s().settings().ServerSerialOptions, 2);
    EXPECT_EQ(rig.s().settings().AllowMultiConnect, 0);
    // A cancelled client dialog changes nothing.
    rig.s().SetTcpOption(0);
    rig.s().OnIoOptionsButton();
    EXPECT_EQ(rig.s().settings().ClientOptions, 0);
    EXPECT_EQ(rig.s().settings().ConnectOnVirtualOpen, 1);
}

TEST(Activation, RefusesEmptyRemoteAddressAndBadPorts)
{
    SessionRig rig;
    rig.s().SetConnector(1);
    rig.s().OnActivateButton();
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Error - Invalid IP Address");
    rig.s().SetIPAddress("10.0.0.1");
    rig.s().SetPortNumber("65536");
    rig.s().OnActivateButton();
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Error - Invalid Port Number");
    EXPECT_FALSE(rig.s().IsActive());
    EXPECT_FALSE(rig.serial().open);
    // Letters read as 0, which passes; "1 000" reads as 1000.
    rig.s().SetPortNumber("1 000");
    rig.s().OnActivateButton();
    EXPECT_TRUE(rig.s().IsActive());
    EXPECT_EQ(rig.sock().el(0).remotePort, 1000);
}

TEST(Activation, ServerModeNeedsNoRemoteAddress)
{
    SessionRig rig;
    rig.ActivateServer();
    EXPECT_TRUE(rig.s().IsActive());
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Listening...");
    EXPECT_EQ(rig.sock().calls.back(), "listen 0");
    EXPECT_EQ(rig.s().form().caption, "COM1 - RS232 to TCP/IP");
    EXPECT_FALSE(rig.s().form().settingsEnabled);
}

TEST(Activation, ConnectorNoneOnlyResetsCaptionAndStatus)
{
    SessionRig rig;
    rig.s().SetIPAddress("10.0.0.1");
    for (int press = 0; press < 2; ++press) {
        rig.s().OnActivateButton();
        EXPECT_FALSE(rig.s().IsActive());
        EXPECT_EQ(rig.s().form().caption, "New - RS232 to TCP/IP");
        EXPECT_EQ(rig.s().form().statusText[0], "COM Status:");
        EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status:");
    }
    EXPECT_TRUE(rig.sock().calls.empty());
}

TEST(Activation, PhysicalPortGetsSettingsFlowControlAndBuffers)
{
    SessionRig rig;
    rig.s().SetFlowControl(3);  // Opto-RS
    rig.s().SetBufferSize(0);
    rig.s().SetBaudRate(12);
    rig.s().SetParity(1);
    rig.s().SetDatabits(2);
    rig.s().SetStopbits(2);
    rig.ActivateClient();
    EXPECT_EQ(rig.serial().portNumber, 1);
    EXPECT_EQ(rig.serial().lineSettings, "115200,E,7,2");
    EXPECT_EQ(rig.serial().calls, (std::vector<std::string>{"handshake=2", "dtr=0"}));
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Capacity(), 1024);
    EXPECT_EQ(rig.s().NetworkToSerialQueue().Capacity(), 1024);
    EXPECT_EQ(rig.s().form().statusText[0], "COM Status: Open");
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Connecting...");

    SessionRig hardware;
    hardware.s().SetFlowControl(2);
    hardware.ActivateClient();
    EXPECT_EQ(hardware.serial().calls, (std::vector<std::string>{"dtr=1", "handshake=2"}));
}

TEST(Activation, SerialFailureStopsBeforeTheNetwork)
{
    SessionRig rig;
    rig.serial().openFailure = "COM1 (/dev/ttyS0): port is in use by another program";
    rig.ActivateClient();
    EXPECT_EQ(rig.s().form().statusText[0],
              "COM Status: Error - COM1 (/dev/ttyS0): port is in use by another program");
    EXPECT_FALSE(rig.s().IsActive());
    EXPECT_TRUE(rig.sock().calls.empty());

    SessionRig closed;
    closed.serial().stayClosed = true;
    closed.ActivateClient();
    EXPECT_EQ(closed.s().form().statusText[0], "COM Status: Error - Port not available");
    EXPECT_TRUE(closed.sock().calls.empty());
}

TEST(Activation, NetworkFailureClosesTheSerialSideAgain)
{
    SessionRig rig;
    rig.sock().listenFailure = "Address in use";
    rig.ActivateServer();
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Error - Address in use");
    EXPECT_EQ(rig.s().form().statusText[0], "COM Status: Closed");
    EXPECT_FALSE(rig.serial().open);
    EXPECT_FALSE(rig.s().IsActive());
    EXPECT_TRUE(rig.s().form().settingsEnabled);
    EXPECT_EQ(rig.sock().el(0).remoteHost, "");

    SessionRig virt;
    virt.world.dialogs.clientAnswer = [](SessionSettings& t) {
        t.ConnectOnVirtualOpen = 0;
        return true;
    };
    virt.s().OnIoOptionsButton();
    virt.s().SetCreateVirtualPort(1);
    virt.s().SetConnector(3);
    virt.s().SetIPAddress("nowhere");
    virt.sock().connectFailure = "Host not found";
    virt.s().OnActivateButton();
    EXPECT_FALSE(virt.s().IsActive());
    EXPECT_EQ(virt.vport().created, "");
    EXPECT_EQ(virt.s().form().statusText[0], "Virtual port closed");
    EXPECT_EQ(virt.s().form().statusText[1], "TCP/IP Status: Error - Host not found");
}

TEST(Activation, VirtualPortIsCreatedAndRemoved)
{
    SessionRig rig;
    rig.s().SetCreateVirtualPort(1);
    rig.s().SetConnector(12);
    rig.s().SetTcpOption(1);
    rig.s().OnActivateButton();
    EXPECT_EQ(rig.vport().created, "COM12");
    EXPECT_TRUE(rig.vport().portFlag);
    EXPECT_EQ(rig.s().form().statusText[0], "Virtual Port COM12 created");
    EXPECT_FALSE(rig.serial().open);

    rig.vport().deleteSucceeds = false;
    rig.s().OnActivateButton();
    EXPECT_EQ(rig.s().form().statusText[0], "Virtual port not closed");
    EXPECT_TRUE(rig.s().IsActive());
    EXPECT_EQ(rig.sock().el(0).state, kSockListening);

    rig.vport().deleteSucceeds = true;
    rig.s().OnActivateButton();
    EXPECT_EQ(rig.s().form().statusText[0], "Virtual port closed");
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Closed");
    EXPECT_FALSE(rig.s().IsActive());
    EXPECT_EQ(rig.s().form().caption, "COM12 - RS232 to TCP/IP");

    SessionRig taken;
    taken.vport().createSucceeds = false;
    taken.s().SetCreateVirtualPort(1);
    taken.s().SetConnector(3);
    taken.s().SetTcpOption(1);
    taken.s().OnActivateButton();
    EXPECT_EQ(taken.s().form().statusText[0], "Cannot create virtual COM3");
    EXPECT_FALSE(taken.s().IsActive());
}

TEST(Activation, ClientWithVirtualPortWaitsForTheApplication)
{
    SessionRig rig;
    rig.s().SetCreateVirtualPort(1);
    rig.s().SetConnector(2);
    rig.s().SetIPAddress("10.0.0.1");
    rig.s().OnActivateButton();
    EXPECT_TRUE(rig.s().IsActive());
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status:");
    EXPECT_TRUE(std::find(rig.sock().calls.begin(), rig.sock().calls.end(), "connect 0") ==
                rig.sock().calls.end());

    rig.vport().AppOpens(true);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Connecting...");
    EXPECT_EQ(rig.sock().calls.back(), "connect 0");
    rig.sock().Connected();
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Connected");
    // Opened again while connected: no second connect.
    rig.sock().calls.clear();
    rig.vport().AppOpens(true);
    EXPECT_TRUE(rig.sock().calls.empty());
    rig.vport().AppOpens(false);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Closed");
    EXPECT_EQ(rig.sock().calls.back(), "close 0");
    EXPECT_FALSE(rig.timer1().enabled);

    // An application gone before the connection is made takes the connect
    // with it.
    rig.vport().AppOpens(true);
    ASSERT_EQ(rig.sock().calls.back(), "connect 0");
    rig.vport().AppOpens(false);
    EXPECT_EQ(rig.sock().calls.back(), "close 0");
    EXPECT_EQ(rig.sock().State(0), kSockClosed);
}

TEST(Activation, OpenEventsChangeNothingInServerOrUdpMode)
{
    SessionRig rig;
    rig.s().SetCreateVirtualPort(1);
    rig.ActivateServer();
    rig.sock().calls.clear();
    const std::string status = rig.s().form().statusText[1];
    rig.vport().AppOpens(true);
    rig.vport().AppOpens(false);
    EXPECT_TRUE(rig.sock().calls.empty());
    EXPECT_EQ(rig.s().form().statusText[1], status);
}

TEST(Activation, UdpServerShowsListeningWithoutListen)
{
    SessionRig rig;
    rig.s().SetUseUDP(1);
    rig.ActivateServer();
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Listening...");
    EXPECT_EQ(rig.sock().calls.back(), "bind 0 4000 192.168.1.20");
    EXPECT_EQ(rig.sock().el(0).protocol, SocketArray::kUdp);
    EXPECT_EQ(rig.sock().el(0).remotePort, 4000);
}

TEST(Activation, FailedUdpClientBindIsShownAndTheSessionStaysActive)
{
    SessionRig rig;
    rig.s().SetUseUDP(1);
    rig.sock().bindFailure = "Address in use";
    rig.ActivateClient();
    EXPECT_TRUE(rig.s().IsActive());
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Error - Address in use");
}

TEST(Activation, DeactivationClosesEverySocketAndReactivationReusesThem)
{
    SessionRig rig;
    rig.ActivateServer();
    rig.sock().PeerConnects(1);
    rig.sock().PeerConnects(2);
    EXPECT_EQ(rig.s().ClientCount(), 2);
    rig.s().OnActivateButton();
    EXPECT_EQ(rig.s().ClientCount(), 0);
    EXPECT_EQ(rig.s().HighestSocketIndex(), 2);
    EXPECT_EQ(rig.sock().el(1).state, kSockClosed);
    EXPECT_EQ(rig.sock().el(2).localPort, 0);
    EXPECT_EQ(rig.s().form().statusText[0], "COM Status: Closed");
    EXPECT_TRUE(rig.s().form().settingsEnabled);
    rig.s().OnActivateButton();
    rig.sock().PeerConnects(3);
    EXPECT_EQ(rig.sock().el(1).acceptedRequest, 3);
    EXPECT_EQ(rig.s().HighestSocketIndex(), 2);
    EXPECT_EQ(rig.s().ClientCount(), 1);
}

TEST(CommandInterface, ActivateAndDeactivateFollowTheState)
{
    SessionRig rig;
    rig.s().SetConnector(1);
    rig.s().SetIPAddress("10.0.0.1");
    EXPECT_EQ(rig.s().Topic(), "COM1");
    EXPECT_TRUE(rig.s().ExecuteCommand("  [activate] "));
    EXPECT_TRUE(rig.s().IsActive());
    EXPECT_FALSE(rig.s().ExecuteCommand("[ACTIVATE]"));
    EXPECT_TRUE(rig.s().ExecuteCommand("[Deactivate]"));
    EXPECT_FALSE(rig.s().IsActive());
    EXPECT_FALSE(rig.s().ExecuteCommand("[DEACTIVATE]"));
    EXPECT_FALSE(rig.s().ExecuteCommand("[RESTART]"));

    SessionRig none;  // topic "None": accepted, but only resets the caption
    EXPECT_TRUE(none.s().ExecuteCommand("[ACTIVATE]"));
    EXPECT_FALSE(none.s().IsActive());
}

TEST(CommandInterface, ComSettingsTakesFieldsOnlyWhileCommasFollow)
{
    struct Case {
        const char* command;
        const char* expected;
    };
    const Case cases[] = {
        {"[COMSETTINGS=19200,E,7,2]", "19200,E,7,2"},
        {"[COMSETTINGS=9600]", "110,O,6,1.5"},
        {"[COMSETTINGS=9600,N]", "9600,O,6,1.5"},
        {"[COMSETTINGS=9600,N,8]", "9600,N,6,1.5"},
        {"[COMSETTINGS=4000,X,9,3]", "110,O,6,1.5"},
        {"[COMSETTINGS=9600, N,8,1]", "9600,O,8,1"},
        {"[comsettings=9600,n,8,1]", "9600,N,8,1"},
        {"[COMSETTINGS=57600,SPACE, 5 ,2]]", "57600,S,5,2"},
        {"[COMSETTINGS=57600.4,MARK,7,]", "57600,M,7,1.5"},
    };
    for (const Case& c : cases) {
        SessionRig rig;
        rig.s().SetBaudRate(0);
        rig.s().SetParity(2);
        rig.s().SetDatabits(1);
        rig.s().SetStopbits(1);
        EXPECT_TRUE(rig.s().ExecuteCommand(c.command)) << c.command;
        EXPECT_EQ(rig.s().SerialSettingsText(), c.expected) << c.command;
        EXPECT_EQ(rig.serial().lineSettings, c.expected) << c.command;
    }
}

TEST(CommandInterface, SettingsTheOpenPortRefusesChangeNothing)
{
    SessionRig rig;
    rig.ActivateClient();
    const std::string before = rig.serial().lineSettings;
    rig.serial().settingsFailure = "COM1 (/dev/ttyS0): 1.5 stop bits need 5 data bits";
    std::string reason;
    EXPECT_FALSE(rig.s().ExecuteCommand("[COMSETTINGS=19200,N,8,1.5]", &reason));
    EXPECT_EQ(reason, rig.serial().settingsFailure);
    EXPECT_TRUE(rig.s().IsActive());
    EXPECT_EQ(rig.s().settings().Stopbits, 0);
    EXPECT_EQ(rig.s().settings().BaudRate, 6);
    EXPECT_EQ(rig.serial().lineSettings, before);
    EXPECT_EQ(rig.s().form().statusText[0],
              "COM Status: Error - COM1 (/dev/ttyS0): 1.5 stop bits need 5 data bits");
    // Accepted settings take effect in the port and the selections alike.
    rig.serial().settingsFailure.clear();
    EXPECT_TRUE(rig.s().ExecuteCommand("[COMSETTINGS=19200,E,8,1]"));
    EXPECT_EQ(rig.serial().lineSettings, "19200,E,8,1");
    EXPECT_EQ(rig.s().SerialSettingsText(), "19200,E,8,1");
}

}  // namespace
}  // namespace velkon::test

namespace velkon::test {
namespace {

TEST(LoginTexts, OkTakesTheTextsAndCancelKeepsThem)
{
    SessionRig rig;
    rig.world.dialogs.loginAnswer = [](SessionSettings& t) {
        t.UserPrompt = "user?";
        t.PasswordPromptResponse = "";
        // A dialog hands back only its own fields.
        t.BaudRate = 0;
        return true;
    };
    rig.s().OnLoginButton();
    EXPECT_EQ(rig.s().settings().UserPrompt, "user?");
    EXPECT_EQ(rig.s().settings().BaudRate, 6);
    rig.world.dialogs.loginAnswer = [](SessionSettings& t) {
        t.UserPrompt = "changed";
        return false;
    };
    rig.s().OnLoginButton();
    EXPECT_EQ(rig.s().settings().UserPrompt, "user?");
}

}  // namespace
}  // namespace velkon::test
