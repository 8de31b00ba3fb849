#include <algorithm>

#include <gtest/gtest.h>

#include "SessionTestSupport.h"

namespace velkon::test {
namespace {

Bytes Pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return b;
}

struct ServerRig : SessionRig {
    explicit ServerRig(int clients = 3)
    {
        ActivateServer();
        for (int i = 1; i <= clients; ++i)
            sock().PeerConnects(i);
    }
};

// ------------------------------------------------ serial to network

TEST(SerialToNetwork, RoutingFirstClientFollowsTheLowestConnectedIndex)
{
    ServerRig rig;
    rig.world.dialogs.serverAnswer = [](SessionSettings& t) {
        t.AllowMultiConnect = 1;
        t.ServerSerialOptions = 2;
        return true;
    };
    rig.s().OnActivateButton();
    rig.s().OnIoOptionsButton();
    rig.s().OnActivateButton();
    for (int i = 1; i <= 3; ++i)
        rig.sock().PeerConnects(10 + i);
    rig.serial().Arrive(B("abc"));
    EXPECT_EQ(S(rig.sock().el(1).sent), "abc");
    EXPECT_TRUE(rig.sock().el(2).sent.empty());
    rig.sock().PeerCloses(1);
    rig.serial().Arrive(B("def"));
    EXPECT_EQ(S(rig.sock().el(2).sent), "def");
    EXPECT_TRUE(rig.sock().el(3).sent.empty());
}

TEST(SerialToNetwork, AllClientsGetEveryPiece)
{
    ServerRig rig;
    rig.serial().Arrive(B("xyz"));
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(S(rig.sock().el(i).sent), "xyz");
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 0);
    EXPECT_EQ(rig.s().form().lamp[0], LampColour::Red);
    rig.Ticks(3);
    EXPECT_EQ(rig.s().form().lamp[0], LampColour::Green);
}

TEST(SerialToNetwork, IgnoreModeDiscardsOnEveryEvent)
{
    ServerRig rig(1);
    rig.world.dialogs.serverAnswer = [](SessionSettings& t) {
        t.ServerSerialOptions = 1;
        return true;
    };
    rig.s().OnActivateButton();
    rig.s().OnIoOptionsButton();
    rig.s().OnActivateButton();
    rig.sock().PeerConnects(5);
    rig.serial().Arrive(B("abc"), 3);  // not even a receive event
    EXPECT_EQ(rig.serial().discards, 1);
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 0);
    EXPECT_TRUE(rig.sock().el(1).sent.empty());
}

TEST(SerialToNetwork, ClientOptionsOnlyBlockTheirOwnDirection)
{
    SessionRig rig;
    rig.world.dialogs.clientAnswer = [](SessionSettings& t) {
        t.ClientOptions = 1;
        return true;
    };
    rig.s().OnIoOptionsButton();
    rig.ActivateClient();
    rig.sock().Connected();
    rig.serial().Arrive(B("up"));
    EXPECT_EQ(S(rig.sock().el(0).sent), "up");
    rig.sock().PeerSends(0, B("down"));
    EXPECT_EQ(rig.s().NetworkToSerialQueue().Count(), 0);
    EXPECT_EQ(rig.sock().BytesAvailable(0), 0);  // read and dropped
}

TEST(SerialToNetwork, WithoutBufferingAndClientsBytesAreDiscarded)
{
    SessionRig rig;
    rig.ActivateServer();
    rig.serial().Arrive(B("lost"));
    EXPECT_EQ(rig.serial().discards, 1);
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 0);
    rig.serial().Arrive(B("other"), 1);  // other event codes move nothing
    EXPECT_EQ(rig.serial().received.size(), 5u);
}

TEST(SerialToNetwork, BufferingKeepsBytesUntilAClientConnects)
{
    SessionRig rig;
    rig.s().SetBufferSerialData(1);
    rig.ActivateServer();
    rig.serial().Arrive(B("early "));
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 6);
    rig.Ticks(4);  // the flush finds no client and keeps them
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 6);
    rig.sock().PeerConnects(1);
    rig.serial().Arrive(B("late"));
    EXPECT_EQ(S(rig.sock().el(1).sent), "early late");
}

TEST(SerialToNetwork, WaitForTimeoutSendsWholePacketsAndFlushesTheRest)
{
    ServerRig rig(1);
    rig.s().SetWaitForCr(1);
    rig.serial().Arrive(Pattern(4500));
    ASSERT_EQ(rig.sock().el(1).sends.size(), 2u);
    EXPECT_EQ(rig.sock().el(1).sends[0].size(), 2000u);
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 500);
    EXPECT_EQ(rig.s().TimeoutTicks(), 0);
    rig.Ticks(3);  // 3 x 50 = 150 is not more than 150
    EXPECT_EQ(rig.sock().el(1).sends.size(), 2u);
    rig.Ticks(1);
    ASSERT_EQ(rig.sock().el(1).sends.size(), 3u);
    EXPECT_EQ(rig.sock().el(1).sent, Pattern(4500));
}

TEST(SerialToNetwork, FlushTimingFollowsTheTimeoutText)
{
    struct Case {
        const char* timeout;
        int ticks;
    };
    for (const Case& c : {Case{"0", 1}, Case{"abc", 1}, Case{"175.5", 4}, Case{"150", 4}}) {
        ServerRig rig(1);
        rig.s().SetWaitForCr(1);
        rig.s().SetTimeoutValue(c.timeout);
        rig.serial().Arrive(B("rest"));
        rig.Ticks(c.ticks - 1);
        EXPECT_TRUE(rig.sock().el(1).sent.empty()) << c.timeout;
        rig.Ticks(1);
        EXPECT_EQ(S(rig.sock().el(1).sent), "rest") << c.timeout;
    }
}

TEST(SerialToNetwork, ImmediateModeSendsEverythingInOnePiece)
{
    ServerRig rig(2);
    rig.serial().Arrive(Pattern(4500));
    for (int i = 1; i <= 2; ++i) {
        ASSERT_EQ(rig.sock().el(i).sends.size(), 1u);
        EXPECT_EQ(rig.sock().el(i).sends[0], Pattern(4500));
    }
}

TEST(SerialToNetwork, UdpAlwaysSendsOnTheOwnSocket)
{
    SessionRig rig;
    rig.s().SetUseUDP(1);
    rig.ActivateServer();
    rig.serial().Arrive(B("dgram"));
    EXPECT_EQ(S(rig.sock().el(0).sent), "dgram");
}

TEST(SerialToNetwork, GuardsPacketLoopsAgainstPacketSizeBelowOne)
{
    ServerRig rig(1);
    rig.world.app.globalSettings.PacketSize = 0;
    rig.s().SetWaitForCr(1);
    rig.serial().Arrive(B("abc"));
    EXPECT_EQ(S(rig.sock().el(1).sent), "abc");
}

TEST(SerialToNetwork, FullQueueHoldsThePortInsteadOfLosingBytes)
{
    SessionRig rig;
    rig.s().SetBufferSize(0);  // 1024
    rig.s().SetBufferSerialData(1);
    rig.ActivateServer();
    rig.serial().Arrive(Pattern(3000));
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 1024);
    EXPECT_EQ(rig.serial().received.size(), 3000u - 1024u);
    EXPECT_TRUE(rig.serial().held);
    // A client comes; the next tick flushes, frees room and resumes the port.
    rig.sock().PeerConnects(1);
    rig.Ticks(4);
    EXPECT_FALSE(rig.serial().held);
    rig.serial().Arrive({});
    rig.serial().Arrive({});
    EXPECT_EQ(rig.sock().el(1).sent, Pattern(3000));
}

TEST(SerialToNetwork, ASlowClientQueuesOnItsOwnThenLosesBytesWhileTheOthersGoOn)
{
    ServerRig rig(3);
    rig.world.app.globalSettings.LogErrors = 1;
    rig.sock().el(2).bytesToWrite = Session::kSendQueueLimit;
    rig.serial().Arrive(B("abc"));
    EXPECT_EQ(S(rig.sock().el(1).sent), "abc");
    EXPECT_EQ(S(rig.sock().el(2).sent), "abc");
    rig.sock().el(2).bytesToWrite = SerialToNetwork::kClientQueueLimit;
    for (int tick = 0; tick < ConnectionMonitor::kStallTicks - 1; ++tick) {
        rig.serial().Arrive(B("d"));
        rig.Ticks(1);
    }
    const std::string taken = "abc" + std::string(ConnectionMonitor::kStallTicks - 1, 'd');
    EXPECT_EQ(S(rig.sock().el(1).sent), taken);
    EXPECT_EQ(S(rig.sock().el(3).sent), taken);
    EXPECT_EQ(S(rig.sock().el(2).sent), "abc");
    EXPECT_EQ(rig.s().Counters().dropped, ConnectionMonitor::kStallTicks - 1u);
    EXPECT_FALSE(rig.serial().held);
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 0);

    // Full for 10 s: reset, not closed in order, and logged.
    EXPECT_EQ(rig.sock().el(2).state, kSockConnected);
    rig.Ticks(1);
    EXPECT_EQ(rig.sock().el(2).state, kSockClosed);
    EXPECT_NE(std::find(rig.sock().calls.begin(), rig.sock().calls.end(), "abort 2"),
              rig.sock().calls.end());
    EXPECT_NE(rig.Log().find("Client 10.0.0.2 closed - it took no data for 10 seconds"),
              std::string::npos);
    EXPECT_EQ(rig.s().ClientCount(), 2);
}

TEST(SerialToNetwork, WhenEveryClientIsFullTheSerialSideWaitsAndNothingIsLost)
{
    for (const int clients : {1, 2}) {
        SCOPED_TRACE(clients);
        SessionRig rig;
        rig.s().SetBufferSize(0);  // 1024
        rig.ActivateServer();
        for (int i = 1; i <= clients; ++i) {
            rig.sock().PeerConnects(i);
            rig.sock().el(i).bytesToWrite = Session::kSendQueueLimit;
        }
        rig.serial().Arrive(Pattern(3000));
        EXPECT_TRUE(rig.serial().held);
        EXPECT_TRUE(rig.sock().el(1).sent.empty());
        // One client alone is never dropped for being slow.
        rig.Ticks(clients == 1 ? 2 * ConnectionMonitor::kStallTicks : 8);
        for (int i = 1; i <= clients; ++i)
            rig.sock().Drained(i);
        rig.serial().Arrive({});
        rig.serial().Arrive({});
        for (int i = 1; i <= clients; ++i)
            EXPECT_EQ(rig.sock().el(i).sent, Pattern(3000));
        EXPECT_EQ(rig.s().Counters().dropped, 0u);
    }
}

TEST(SerialToNetwork, VirtualPortWithoutClientLosesBytesAsBefore)
{
    SessionRig rig;
    rig.s().SetCreateVirtualPort(1);
    rig.ActivateServer();
    rig.vport().AppWrites(B("gone"));
    EXPECT_TRUE(rig.vport().fromApp.empty());
    EXPECT_EQ(rig.s().SerialToNetworkQueue().Count(), 0);
    rig.sock().PeerConnects(1);
    rig.vport().AppWrites(B("here"));
    EXPECT_EQ(S(rig.sock().el(1).sent), "here");
}

// ------------------------------------------------ network to serial

TEST(NetworkToSerial, SingleClientModeTurnsSurplusClientsAway)
{
    SessionRig rig;
    rig.world.dialogs.serverAnswer = [](SessionSettings& t) {
        t.AllowMultiConnect = 0;
        return true;
    };
    rig.s().SetTcpOption(1);
    rig.s().OnIoOptionsButton();
    rig.ActivateServer();
    rig.sock().PeerConnects(1);
    rig.sock().PeerConnects(2);
    EXPECT_EQ(rig.sock().rejected, std::vector<long>{2});
    EXPECT_EQ(rig.s().ClientCount(), 1);
    EXPECT_EQ(rig.s().HighestSocketIndex(), 1);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: (1)Connected");
    rig.sock().PeerCloses(1);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Listening...");
    rig.sock().PeerConnects(3);
    EXPECT_EQ(rig.sock().el(1).acceptedRequest, 3);
}

TEST(NetworkToSerial, ClosedElementsAreReusedAndCountsShown)
{
    ServerRig rig;
    rig.sock().PeerCloses(1);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: (2)Connected");
    rig.sock().PeerConnects(4);
    EXPECT_EQ(rig.sock().el(1).acceptedRequest, 4);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: (3)Connected");
    EXPECT_EQ(rig.s().HighestSocketIndex(), 3);
    EXPECT_EQ(rig.sock().el(1).localPort, 4000);
}

TEST(NetworkToSerial, FirstClientOnlyDropsOtherClientsBytes)
{
    ServerRig rig(2);
    rig.world.dialogs.serverAnswer = [](SessionSettings& t) {
        t.AllowMultiConnect = 1;
        t.ServerTCPOptions = 2;
        return true;
    };
    rig.s().OnActivateButton();
    rig.s().OnIoOptionsButton();
    rig.s().OnActivateButton();
    rig.sock().PeerConnects(1);
    rig.sock().PeerConnects(2);
    rig.sock().PeerSends(2, B("no"));
    rig.sock().PeerSends(1, B("yes"));
    EXPECT_EQ(S(rig.serial().transmitted), "yes");
    EXPECT_EQ(rig.sock().BytesAvailable(2), 0);
    rig.sock().PeerCloses(1);
    rig.sock().PeerSends(2, B("now"));
    EXPECT_EQ(S(rig.serial().transmitted), "yesnow");
}

TEST(NetworkToSerial, BytesLeaveInTheEventThatBroughtThemAndAsTheDeviceTakesMore)
{
    ServerRig rig(1);
    rig.serial().transmitBufferSize = 8192;
    rig.sock().PeerSends(1, B("at once"));
    EXPECT_EQ(S(rig.serial().transmitted), "at once");
    // A device that takes one byte per write still gets every byte, in
    // order, one transmit buffer at a time and without a timer.
    rig.serial().transmitted.clear();
    rig.serial().transmitCalls.clear();
    rig.serial().devicePerWrite = 1;
    rig.sock().PeerSends(1, Pattern(20000));
    EXPECT_EQ(rig.serial().transmitCalls, std::vector<int>{8192});
    for (int i = 0; i < 10 && rig.serial().outputWaiting > 0; ++i)
        rig.serial().OutputGone();
    EXPECT_EQ(rig.serial().transmitted, Pattern(20000));
    EXPECT_EQ(rig.serial().transmitCalls, (std::vector<int>{8192, 8192, 3616}));
    EXPECT_FALSE(rig.timer2().enabled && rig.s().form().lamp[1] == LampColour::Green);
}

TEST(NetworkToSerial, FailingCallsLoseNothing)
{
    ServerRig rig(1);
    rig.serial().failTransmitOnCall = 1;
    rig.sock().PeerSends(1, B("kept"));
    EXPECT_TRUE(rig.serial().transmitted.empty());
    EXPECT_EQ(rig.s().NetworkToSerialQueue().Count(), 4);
    rig.sock().PeerSends(1, B("!"));
    EXPECT_EQ(S(rig.serial().transmitted), "kept!");

    rig.serial().failReadOnCall = rig.serial().readCalls + 1;
    rig.serial().Arrive(B("abc"));
    rig.serial().Arrive(B("d"));
    EXPECT_EQ(S(rig.sock().el(1).sent), "abcd");
}

TEST(NetworkToSerial, FullQueueLeavesTcpBytesInTheSocket)
{
    SessionRig rig;
    rig.s().SetBufferSize(0);  // 1024
    rig.ActivateServer();
    rig.sock().PeerConnects(1);
    rig.serial().devicePerWrite = 0;
    rig.sock().PeerSends(1, Pattern(5000));
    // One chunk waits in the port, one fills the queue, the rest stays in
    // the socket so that TCP slows the sender.
    EXPECT_EQ(rig.s().NetworkToSerialQueue().Count(), 1024);
    EXPECT_EQ(rig.sock().BytesAvailable(1), 5000 - 2048);
    for (int i = 0; i < 10 && rig.serial().outputWaiting > 0; ++i)
        rig.serial().OutputGone();
    EXPECT_EQ(rig.serial().transmitted, Pattern(5000));
    EXPECT_EQ(rig.s().NetworkToSerialQueue().Count(), 0);
}

TEST(NetworkToSerial, UdpDatagramsThatDoNotFitAreCut)
{
    SessionRig rig;
    rig.s().SetBufferSize(0);
    rig.s().SetUseUDP(1);
    rig.ActivateServer();
    rig.serial().devicePerWrite = 0;
    rig.sock().Datagram(Pattern(1000));  // handed to the port
    rig.sock().Datagram(Pattern(1000));  // queued
    rig.sock().Datagram(Pattern(100));   // cut to what fits
    EXPECT_EQ(rig.s().NetworkToSerialQueue().Count(), 1024);
    EXPECT_EQ(rig.sock().BytesAvailable(0), 0);
    rig.serial().OutputGone();
    EXPECT_EQ(rig.serial().transmitted.size(), 2024u);
}

TEST(NetworkToSerial, VirtualPortDeliversOnlyToAnOpenApplication)
{
    SessionRig rig;
    rig.s().SetCreateVirtualPort(1);
    rig.ActivateServer();
    rig.sock().PeerConnects(1);
    rig.sock().PeerSends(1, B("dropped"));
    EXPECT_EQ(rig.s().NetworkToSerialQueue().Count(), 0);
    rig.vport().AppOpens(true);
    rig.sock().PeerSends(1, B("kept"));
    EXPECT_EQ(S(rig.vport().toApp), "kept");

    SessionRig buffered;
    buffered.s().SetCreateVirtualPort(1);
    buffered.s().SetBufferSerialData(1);
    buffered.ActivateServer();
    buffered.sock().PeerConnects(1);
    buffered.sock().PeerSends(1, B("waits"));
    EXPECT_TRUE(buffered.vport().toApp.empty());
    buffered.vport().AppOpens(true);
    EXPECT_EQ(S(buffered.vport().toApp), "waits");
}

TEST(NetworkToSerial, SlowApplicationKeepsBytesInTheQueue)
{
    SessionRig rig;
    rig.s().SetCreateVirtualPort(1);
    rig.ActivateServer();
    rig.vport().AppOpens(true);
    rig.vport().appPerWrite = 0;
    rig.sock().PeerConnects(1);
    rig.sock().PeerSends(1, B("first"));
    rig.sock().PeerSends(1, B("later"));
    EXPECT_EQ(S(rig.vport().toApp), "first");
    EXPECT_EQ(rig.s().NetworkToSerialQueue().Count(), 5);
    rig.vport().AppTookAll();
    EXPECT_EQ(S(rig.vport().toApp), "firstlater");
}

// ------------------------------------------------ connections and errors

TEST(Connections, ClientReconnectsAfterThePeerCloses)
{
    SessionRig rig;
    rig.ActivateClient();
    rig.sock().Connected();
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Connected");
    rig.sock().PeerCloses(0);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Closed");
    EXPECT_TRUE(rig.timer1().enabled);
    rig.timer1().Tick();
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Connecting...");
    EXPECT_EQ(rig.sock().calls.back(), "connect 0");
    rig.sock().Connected();
    EXPECT_FALSE(rig.timer1().enabled);
}

TEST(Connections, FailedReconnectionIsShownLoggedAndRetried)
{
    SessionRig rig;
    rig.world.app.globalSettings.LogErrors = 1;
    rig.ActivateClient();
    rig.sock().PeerCloses(0);
    rig.sock().connectFailure = "Invalid operation";
    rig.timer1().Tick();
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Error - Invalid operation");
    EXPECT_EQ(rig.Log(),
              "Velkon Error: Invalid operation, 03-07-2026, 09:05:02, Velkon IP Address: "
              "192.168.1.20, Client Mode, Remote Host: 10.0.0.1, RemotePort: 4000\r\n");
    EXPECT_TRUE(rig.timer1().enabled);
}

TEST(Connections, SocketErrorsAboveTenThousandCloseTheElement)
{
    SessionRig rig;
    rig.world.app.globalSettings.LogErrors = 1;
    rig.ActivateClient();
    rig.sock().Error(0, 380, "Invalid property value");
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Error");
    EXPECT_FALSE(rig.timer1().enabled);
    rig.sock().Error(0, 10061, "Connection is forcefully rejected");
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Closed");
    EXPECT_TRUE(rig.timer1().enabled);
    EXPECT_NE(rig.Log().find("Connection is forcefully rejected, 03-07-2026"), std::string::npos);
    EXPECT_NE(rig.Log().find("Client Mode, Remote Host: 10.0.0.1, RemotePort: 4000"),
              std::string::npos);
}

TEST(Connections, FrameDoubleClickListsConnectedClients)
{
    ServerRig rig(2);
    rig.s().ShowConnectedClients();
    ASSERT_EQ(rig.world.messages.shown.size(), 1u);
    EXPECT_EQ(rig.world.messages.shown[0], "Connected Clients|10.0.0.1\r\n10.0.0.2\r\n");
}

// ------------------------------------------------ error log

TEST(ErrorLog, ProgramStartsEvenWithoutLoggingAndLinesAreUnquoted)
{
    SessionRig rig;
    rig.world.app.globalSettings.OnErrorRunApp = "/usr/bin/notify alarm";
    rig.ActivateServer();
    rig.s().LogError("a, b");
    EXPECT_TRUE(rig.Log().empty());
    EXPECT_EQ(rig.world.launcher.started, std::vector<std::string>{"/usr/bin/notify alarm"});
    rig.world.app.globalSettings.LogErrors = 1;
    rig.s().LogError("a, b");
    rig.s().LogError("a, b");
    EXPECT_EQ(rig.Log(), std::string("Velkon Error: a, b, 03-07-2026, 09:05:02, Velkon IP Address: "
                                     "192.168.1.20, Server Mode, Local Port: 4000\r\n") +
                             "Velkon Error: a, b, 03-07-2026, 09:05:02, Velkon IP Address: "
                             "192.168.1.20, Server Mode, Local Port: 4000\r\n");
    rig.world.files.readOnly = true;  // a log that cannot be written is no failure
    rig.s().LogError("x");
    EXPECT_EQ(rig.world.launcher.started.size(), 4u);
}

// ------------------------------------------------ ping monitoring

struct PingRig : ServerRig {
    explicit PingRig(int frequency) : ServerRig(2)
    {
        world.app.globalSettings.PingEnabled = 1;
        world.app.globalSettings.PingFrequency = frequency;
        world.app.globalSettings.LogErrors = 1;
        world.app.PingTickCounter = 0;
        s().OptionsChanged();
    }
};

TEST(PingMonitoring, PassPeriodFollowsTheFrequency)
{
    for (auto [frequency, ticks] : {std::pair{0, 91}, std::pair{11, 1092}, std::pair{-1, 1}}) {
        PingRig rig(frequency);
        rig.Ticks(ticks - 1);
        EXPECT_TRUE(rig.world.pinger.pending.empty()) << frequency;
        rig.Ticks(1);
        EXPECT_EQ(rig.world.pinger.pending.size(), 2u) << frequency;
    }
}

TEST(PingMonitoring, NoPassWhileSerialBytesWaitOrDataArrives)
{
    PingRig rig(0);
    rig.s().SetBufferSerialData(1);
    // Every client full keeps SerialToNetworkQueue filled.
    rig.sock().el(1).bytesToWrite = Session::kSendQueueLimit;
    rig.sock().el(2).bytesToWrite = Session::kSendQueueLimit;
    rig.serial().Arrive(B("x"));
    rig.Ticks(200);
    EXPECT_TRUE(rig.world.pinger.pending.empty());

    PingRig busy(0);
    for (int i = 0; i < 5; ++i) {
        busy.Ticks(90);
        busy.sock().PeerSends(1, B("."));
    }
    EXPECT_TRUE(busy.world.pinger.pending.empty());
}

TEST(PingMonitoring, FailedPingClosesOnlyThatClientThenLogs)
{
    PingRig rig(0);
    rig.world.pinger.statusFor["10.0.0.2"] = 11010;
    rig.Ticks(91);
    rig.world.pinger.AnswerAll();
    EXPECT_EQ(rig.sock().el(1).state, kSockConnected);
    EXPECT_EQ(rig.sock().el(2).state, kSockClosed);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: (1)Connected");
    EXPECT_NE(rig.Log().find("Velkon Error: Ping Failed - Ping Result = 11010   "
                             "[IP Request Timed Out]"),
              std::string::npos);
}

TEST(PingMonitoring, MissingEchoServiceIsLoggedOnceAndDropsNobody)
{
    PingRig rig(-1);
    rig.world.pinger.statusFor["10.0.0.1"] = Pinger::kUnavailable;
    rig.world.pinger.statusFor["10.0.0.2"] = Pinger::kUnavailable;
    for (int pass = 0; pass < 3; ++pass) {
        rig.Ticks(1);
        rig.world.pinger.AnswerAll();
    }
    EXPECT_EQ(rig.s().ClientCount(), 2);
    EXPECT_EQ(rig.sock().el(1).state, kSockConnected);
    const std::string log = rig.Log();
    EXPECT_EQ(log.find("Ping Failed"), log.rfind("Ping Failed"));
    EXPECT_NE(log.find("Ping Failed"), std::string::npos);
}

TEST(PingMonitoring, UdpNeverPings)
{
    SessionRig rig;
    rig.world.app.globalSettings.PingEnabled = 1;
    rig.world.app.globalSettings.PingFrequency = -1;
    rig.s().SetUseUDP(1);
    rig.ActivateClient();
    rig.sock().el(0).state = kSockConnected;
    rig.Ticks(10);
    EXPECT_TRUE(rig.world.pinger.pending.empty());
    rig.timer1().enabled = true;
    rig.timer1().Tick();
    EXPECT_EQ(rig.sock().calls.back(), "bind 0 4000 ");
}

// ------------------------------------------------ field faults

TEST(FieldFaults, ClientThatTakesNothingForTenSecondsIsClosedAndLogged)
{
    ServerRig rig(2);
    rig.world.app.globalSettings.LogErrors = 1;
    rig.sock().el(1).bytesToWrite = Session::kSendQueueLimit;
    rig.sock().el(2).bytesToWrite = 100;
    rig.serial().Arrive(B("x"));
    ASSERT_TRUE(rig.timer2().enabled);
    // The other client keeps taking data; the stalled one takes nothing.
    for (int i = 0; i < ConnectionMonitor::kStallTicks - 1; ++i) {
        rig.Ticks(1);
        rig.sock().el(2).bytesToWrite = 100;
        rig.sock().Drained(2);
        rig.sock().el(2).bytesToWrite = 100;
    }
    EXPECT_EQ(rig.sock().el(1).state, kSockConnected);
    rig.Ticks(1);
    EXPECT_NE(std::find(rig.sock().calls.begin(), rig.sock().calls.end(), "abort 1"),
              rig.sock().calls.end());
    EXPECT_EQ(rig.sock().el(2).state, kSockConnected);
    EXPECT_NE(rig.Log().find("Client 10.0.0.1 closed - it took no data for 10 seconds"),
              std::string::npos);
    // The queued byte leaves for the remaining client once it has room.
    rig.sock().Drained(2);
    EXPECT_EQ(S(rig.sock().el(2).sent), "x");
}

TEST(FieldFaults, AConnectInProgressIsNotCutShort)
{
    SessionRig rig;
    rig.ActivateClient();
    rig.sock().PeerCloses(0);
    rig.timer1().Tick();
    ASSERT_EQ(rig.sock().el(0).state, kSockConnecting);
    const auto calls = rig.sock().calls.size();
    rig.timer1().Tick();
    EXPECT_EQ(rig.sock().calls.size(), calls);
    EXPECT_EQ(rig.s().form().statusText[1], "TCP/IP Status: Connecting...");
}

TEST(FieldFaults, LostDeviceIsShownLoggedAndTakenBackWithItsBytes)
{
    ServerRig rig(1);
    rig.world.app.globalSettings.LogErrors = 1;
    rig.serial().Unplugged("the device was disconnected");
    EXPECT_EQ(rig.s().form().statusText[0], "COM Status: Error - the device was disconnected");
    EXPECT_NE(rig.Log().find("Velkon Error: the device was disconnected"), std::string::npos);
    EXPECT_TRUE(rig.s().IsActive());
    EXPECT_EQ(rig.sock().el(1).state, kSockConnected);
    rig.sock().PeerSends(1, B("waits"));
    EXPECT_TRUE(rig.serial().transmitted.empty());
    // A return the port cannot open yet changes nothing.
    rig.serial().openFailure = "busy";
    rig.serial().PluggedIn();
    EXPECT_EQ(rig.s().form().statusText[0], "COM Status: Error - the device was disconnected");
    rig.serial().openFailure.clear();
    rig.serial().PluggedIn();
    EXPECT_EQ(rig.s().form().statusText[0], "COM Status: Open");
    EXPECT_EQ(S(rig.serial().transmitted), "waits");
    EXPECT_FALSE(rig.serial().held);
}

TEST(FieldFaults, QuietSessionsRunNoTimer)
{
    ServerRig rig(1);
    EXPECT_FALSE(rig.timer2().enabled);
    rig.sock().PeerSends(1, B("x"));
    EXPECT_TRUE(rig.timer2().enabled);  // the lamp goes out on time
    rig.Ticks(SessionPresenter::kLampTicks);
    EXPECT_EQ(rig.s().form().lamp[1], LampColour::Green);
    EXPECT_FALSE(rig.timer2().enabled);
}

}  // namespace
}  // namespace velkon::test
