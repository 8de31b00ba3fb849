#include <QTimer>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../LoopbackClient.h"
#include "PlatformTestSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "network/LocalAddresses.h"
#include "network/QtSocketArray.h"
#include "network/SocketErrors.h"

namespace velkon {
namespace {

using test::ConnectFrom;
using test::ConnectLoopback;
using test::WaitFor;

constexpr int kWaitMs = 5000;
constexpr int kLongWaitMs = 60000;

Bytes AllByteValues(int repeats)
{
    Bytes bytes;
    for (int r = 0; r < repeats; ++r) {
        for (int v = 0; v < 256; ++v) {
            bytes.push_back(static_cast<std::uint8_t>(r % 2 == 0 ? v : 255 - v));
        }
    }
    return bytes;
}

Bytes RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(generator));
    }
    return bytes;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// Set while a test is inside a call on an array: no event may come then.
int g_callDepth = 0;

struct InCall {
    InCall() { ++g_callDepth; }
    ~InCall() { --g_callDepth; }
    InCall(const InCall&) = delete;
    InCall& operator=(const InCall&) = delete;
};

// Records the events of one array; optionally takes arriving bytes at once,
// at most maxPerEvent of them (-1: all), as the session does.
struct Recorder {
    QtSocketArray& array;
    std::vector<int> connects;
    std::vector<int> closes;
    std::vector<std::pair<int, long>> requests;
    std::size_t requestsTaken = 0;
    std::vector<std::tuple<int, int, std::string>> errors;
    std::map<int, int> dataEvents;
    std::map<int, int> progressEvents;
    std::map<int, Bytes> received;
    std::map<int, std::vector<Bytes>> datagrams;
    std::vector<std::string> refusals;
    bool autoRead = true;
    int maxPerEvent = -1;

    explicit Recorder(QtSocketArray& a) : array(a)
    {
        SocketEvents events;
        events.connect = [this](int i) {
            EXPECT_EQ(g_callDepth, 0);
            connects.push_back(i);
        };
        events.close = [this](int i) {
            EXPECT_EQ(g_callDepth, 0);
            closes.push_back(i);
        };
        events.connectionRequest = [this](int i, long id) {
            EXPECT_EQ(g_callDepth, 0);
            requests.emplace_back(i, id);
        };
        events.error = [this](int i, int number, const std::string& description) {
            EXPECT_EQ(g_callDepth, 0);
            errors.emplace_back(i, number, description);
        };
        events.sendProgress = [this](int i) {
            EXPECT_EQ(g_callDepth, 0);
            ++progressEvents[i];
        };
        events.refused = [this](int i, const std::string& address, const std::string& reason) {
            EXPECT_EQ(g_callDepth, 0);
            refusals.push_back(std::to_string(i) + " " + address + " " + reason);
        };
        events.dataArrival = [this](int i, int count) {
            EXPECT_EQ(g_callDepth, 0);
            EXPECT_GT(count, 0);
            EXPECT_EQ(count, array.BytesAvailable(i));
            ++dataEvents[i];
            if (autoRead) {
                Take(i, maxPerEvent);
            }
        };
        array.setEvents(events);
    }

    void Take(int i, int maxBytes)
    {
        Bytes chunk;
        {
            InCall call;
            ASSERT_TRUE(array.GetData(i, chunk, maxBytes).ok());
        }
        if (array.Protocol(i) == SocketArray::kUdp) {
            if (!chunk.empty()) {
                datagrams[i].push_back(chunk);
            }
            return;
        }
        if (maxBytes >= 0) {
            EXPECT_LE(chunk.size(), static_cast<std::size_t>(maxBytes));
        }
        received[i].insert(received[i].end(), chunk.begin(), chunk.end());
    }

    int EventCount() const
    {
        int count =
            static_cast<int>(connects.size() + closes.size() + requests.size() + errors.size());
        for (const auto& [i, n] : dataEvents) {
            count += n;
        }
        for (const auto& [i, n] : progressEvents) {
            count += n;
        }
        return count;
    }
};

// A TCP listener on 127.0.0.1 with a free port.
int StartListener(QtSocketArray& server, const std::string& address = "127.0.0.1")
{
    const Result bound = server.Bind(0, 0, address);
    EXPECT_TRUE(bound.ok()) << bound.description();
    const Result listening = server.Listen(0);
    EXPECT_TRUE(listening.ok()) << listening.description();
    EXPECT_EQ(server.State(0), kSockListening);
    EXPECT_GT(server.LocalPort(0), 0);
    return server.LocalPort(0);
}

void ConnectClient(QtSocketArray& client, Recorder& events, const std::string& host, int port)
{
    ASSERT_TRUE(client.SetRemoteHost(0, host).ok());
    ASSERT_TRUE(client.SetRemotePort(0, port).ok());
    Result r;
    {
        InCall call;
        r = client.Connect(0);
    }
    ASSERT_TRUE(r.ok()) << r.description();
    ASSERT_TRUE(WaitFor([&] { return !events.connects.empty() || !events.errors.empty(); }));
    ASSERT_TRUE(events.errors.empty()) << std::get<2>(events.errors.front());
    ASSERT_EQ(events.connects, std::vector<int>{0});
    ASSERT_EQ(client.State(0), kSockConnected);
}

// Waits for the next connection request and accepts it onto element index.
void AcceptNext(QtSocketArray& server, Recorder& events, int index)
{
    ASSERT_TRUE(WaitFor([&] { return events.requests.size() > events.requestsTaken; }));
    if (!server.IsLoaded(index)) {
        ASSERT_TRUE(server.Load(index).ok());
    }
    ASSERT_TRUE(server.SetLocalPort(index, server.LocalPort(0)).ok());
    Result r;
    {
        InCall call;
        r = server.Accept(index, events.requests[events.requestsTaken++].second);
    }
    ASSERT_TRUE(r.ok()) << r.description();
    ASSERT_EQ(server.State(index), kSockConnected);
}

// One server element and one client on loopback.
struct Pair {
    QtSocketArray server;
    QtSocketArray client;
    Recorder serverEvents{server};
    Recorder clientEvents{client};

    void Open()
    {
        const int port = StartListener(server);
        ConnectClient(client, clientEvents, "127.0.0.1", port);
        AcceptNext(server, serverEvents, 1);
    }
};

TEST(SocketArrayTest, ServerAcceptsTwoClientsAndPassesEveryByteValueBothWays)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    const int port = StartListener(server);

    QtSocketArray clientA;
    QtSocketArray clientB;
    Recorder eventsA(clientA);
    Recorder eventsB(clientB);
    ConnectClient(clientA, eventsA, "127.0.0.1", port);
    AcceptNext(server, serverEvents, 1);
    ConnectClient(clientB, eventsB, "127.0.0.1", port);
    AcceptNext(server, serverEvents, 2);

    ASSERT_EQ(serverEvents.requests.size(), 2u);
    EXPECT_EQ(serverEvents.requests[0].first, 0);
    EXPECT_EQ(serverEvents.requests[1].first, 0);
    EXPECT_NE(serverEvents.requests[0].second, serverEvents.requests[1].second);
    EXPECT_EQ(server.RemoteHostIP(1), "127.0.0.1");
    EXPECT_EQ(server.RemoteHostIP(2), "127.0.0.1");
    EXPECT_EQ(clientA.RemoteHostIP(0), "127.0.0.1");
    EXPECT_EQ(server.State(0), kSockListening);

    const Bytes fromA = AllByteValues(4);
    const Bytes fromB = RandomBytes(5000, 7);
    const Bytes toA = RandomBytes(3000, 8);
    Bytes toB = AllByteValues(3);
    std::reverse(toB.begin(), toB.end());
    ASSERT_TRUE(clientA.SendData(0, fromA).ok());
    ASSERT_TRUE(clientB.SendData(0, fromB).ok());
    ASSERT_TRUE(server.SendData(1, toA).ok());
    ASSERT_TRUE(server.SendData(2, toB).ok());

    ASSERT_TRUE(WaitFor([&] {
        return serverEvents.received[1].size() >= fromA.size() &&
               serverEvents.received[2].size() >= fromB.size() &&
               eventsA.received[0].size() >= toA.size() && eventsB.received[0].size() >= toB.size();
    }));
    EXPECT_EQ(serverEvents.received[1], fromA);
    EXPECT_EQ(serverEvents.received[2], fromB);
    EXPECT_EQ(eventsA.received[0], toA);
    EXPECT_EQ(eventsB.received[0], toB);
    EXPECT_TRUE(serverEvents.errors.empty());
    EXPECT_TRUE(serverEvents.closes.empty());
    EXPECT_EQ(server.BytesAvailable(1), 0);
}

TEST(SocketArrayTest, PeerCloseRaisesCloseEventButProgramCloseRaisesNone)
{
    Pair pair;
    pair.Open();

    ASSERT_TRUE(pair.client.Close(0).ok());
    EXPECT_EQ(pair.client.State(0), kSockClosed);
    ASSERT_TRUE(WaitFor([&] { return !pair.serverEvents.closes.empty(); }));
    EXPECT_EQ(pair.serverEvents.closes, std::vector<int>{1});
    EXPECT_EQ(pair.server.State(1), kSockClosing);
    EXPECT_TRUE(pair.serverEvents.errors.empty());
    // Anything the client's own Close had raised was queued before the peer
    // saw the close, so it would have been delivered by now.
    EXPECT_TRUE(pair.clientEvents.closes.empty());
    EXPECT_TRUE(pair.clientEvents.errors.empty());

    ASSERT_TRUE(pair.server.Close(1).ok());
    EXPECT_EQ(pair.server.State(1), kSockClosed);
    // Closing a closed element is harmless.
    EXPECT_TRUE(pair.server.Close(1).ok());
}

TEST(SocketArrayTest, CloseSendsQueuedBytesBeforeTheConnectionEnds)
{
    Pair pair;
    pair.Open();
    const Bytes data = RandomBytes(16 * 1024 * 1024, 11);
    ASSERT_TRUE(pair.client.SendData(0, data).ok());
    // The kernel cannot take it all at once; Close must not lose the rest.
    EXPECT_GT(pair.client.BytesToWrite(0), 0);
    ASSERT_TRUE(pair.client.Close(0).ok());
    EXPECT_EQ(pair.client.State(0), kSockClosed);
    EXPECT_EQ(pair.client.BytesToWrite(0), 0);

    ASSERT_TRUE(WaitFor([&] { return !pair.serverEvents.closes.empty(); }, kLongWaitMs));
    EXPECT_EQ(pair.serverEvents.received[1].size(), data.size());
    EXPECT_TRUE(pair.serverEvents.received[1] == data);
}

TEST(SocketArrayTest, CloseStillSendsQueuedBytesToAHalfClosedPeer)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    const int port = StartListener(server);

    const int raw = ConnectLoopback(port);
    ASSERT_GE(raw, 0) << std::strerror(errno);
    AcceptNext(server, serverEvents, 1);

    // The peer is done sending but still reads.
    ASSERT_EQ(::shutdown(raw, SHUT_WR), 0);
    ASSERT_TRUE(WaitFor([&] { return !serverEvents.closes.empty(); }));
    const Bytes data = RandomBytes(8 * 1024 * 1024, 51);
    ASSERT_TRUE(server.SendData(1, data).ok());
    ASSERT_GT(server.BytesToWrite(1), 0);
    ASSERT_TRUE(server.Close(1).ok());

    Bytes received;
    bool ended = false;
    ASSERT_TRUE(WaitFor(
        [&] {
            std::vector<char> buffer(64 * 1024);
            for (;;) {
                const ssize_t n = ::recv(raw, buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (n > 0) {
                    received.insert(received.end(), buffer.begin(), buffer.begin() + n);
                    continue;
                }
                ended = n == 0;
                return ended || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
            }
        },
        kLongWaitMs));
    ::close(raw);
    EXPECT_TRUE(ended);
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST(SocketArrayTest, ClosedElementIsReusedForTheNextAccept)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    const int port = StartListener(server);

    QtSocketArray clientA;
    Recorder eventsA(clientA);
    ConnectClient(clientA, eventsA, "127.0.0.1", port);
    AcceptNext(server, serverEvents, 1);
    ASSERT_TRUE(server.Close(1).ok());
    EXPECT_EQ(server.State(1), kSockClosed);
    // The program's close reaches the peer as an orderly close.
    ASSERT_TRUE(WaitFor([&] { return !eventsA.closes.empty(); }));
    EXPECT_TRUE(eventsA.errors.empty());

    QtSocketArray clientB;
    Recorder eventsB(clientB);
    ConnectClient(clientB, eventsB, "127.0.0.1", port);
    AcceptNext(server, serverEvents, 1);
    EXPECT_FALSE(server.IsLoaded(2));
    const long usedId = serverEvents.requests.back().second;
    const Result again = server.Accept(1, usedId);
    EXPECT_FALSE(again.ok());
    EXPECT_FALSE(again.description().empty());

    const Bytes up = Text("from B");
    const Bytes down = Text("to B");
    ASSERT_TRUE(clientB.SendData(0, up).ok());
    ASSERT_TRUE(server.SendData(1, down).ok());
    ASSERT_TRUE(WaitFor([&] {
        return serverEvents.received[1].size() >= up.size() &&
               eventsB.received[0].size() >= down.size();
    }));
    EXPECT_EQ(serverEvents.received[1], up);
    EXPECT_EQ(eventsB.received[0], down);
}

TEST(SocketArrayTest, EventsOfAClosedConnectionNeverReachTheReusedElement)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    const int port = StartListener(server);
    QtSocketArray clientA;
    Recorder eventsA(clientA);
    ConnectClient(clientA, eventsA, "127.0.0.1", port);
    AcceptNext(server, serverEvents, 1);

    // The session closes element 1 from its data handler while the peer's
    // close is already known; the close belongs to the old connection.
    server.setEvents(SocketEvents{
        .connect = {},
        .close = [&](int i) { serverEvents.closes.push_back(i); },
        .connectionRequest = [&](int i, long id) { serverEvents.requests.emplace_back(i, id); },
        .dataArrival =
            [&](int i, int) {
                Bytes bytes;
                EXPECT_TRUE(server.GetData(i, bytes, -1).ok());
                serverEvents.received[i].insert(serverEvents.received[i].end(), bytes.begin(),
                                                bytes.end());
                EXPECT_TRUE(server.Close(i).ok());
            },
        .error =
            [&](int i, int number, const std::string& text) {
                serverEvents.errors.emplace_back(i, number, text);
            },
        .sendProgress = {},
        .refused = {},
    });
    ASSERT_TRUE(clientA.SendData(0, Text("last words")).ok());
    ASSERT_TRUE(clientA.Close(0).ok());
    ASSERT_TRUE(WaitFor([&] { return serverEvents.received[1].size() >= 10; }));
    EXPECT_EQ(server.State(1), kSockClosed);

    QtSocketArray clientB;
    Recorder eventsB(clientB);
    ConnectClient(clientB, eventsB, "127.0.0.1", port);
    AcceptNext(server, serverEvents, 1);
    ASSERT_TRUE(clientB.SendData(0, Text("hello")).ok());
    ASSERT_TRUE(WaitFor([&] { return serverEvents.received[1].size() >= 15; }));
    EXPECT_EQ(serverEvents.received[1], Text("last wordshello"));
    EXPECT_TRUE(serverEvents.closes.empty());
    EXPECT_TRUE(serverEvents.errors.empty());
}

TEST(SocketArrayTest, ConnectToClosedPortRaisesRefusedLater)
{
    int port = 0;
    {
        QtSocketArray probe;
        port = StartListener(probe);
    }
    QtSocketArray client;
    Recorder events(client);
    ASSERT_TRUE(client.SetRemoteHost(0, "127.0.0.1").ok());
    ASSERT_TRUE(client.SetRemotePort(0, port).ok());
    ASSERT_TRUE(client.Connect(0).ok());
    // Never from inside the call.
    EXPECT_EQ(events.EventCount(), 0);

    ASSERT_TRUE(WaitFor([&] { return !events.errors.empty(); }));
    EXPECT_EQ(std::get<0>(events.errors.front()), 0);
    EXPECT_EQ(std::get<1>(events.errors.front()), kErrConnectionRefused);
    EXPECT_FALSE(std::get<2>(events.errors.front()).empty());
    EXPECT_TRUE(events.connects.empty());
    EXPECT_EQ(client.State(0), kSockError);
    EXPECT_FALSE(client.Connect(0).ok());

    // After Close the element can try again.
    ASSERT_TRUE(client.Close(0).ok());
    EXPECT_EQ(client.State(0), kSockClosed);
    ASSERT_TRUE(client.Connect(0).ok());
    ASSERT_TRUE(WaitFor([&] { return events.errors.size() == 2; }));
    EXPECT_EQ(std::get<1>(events.errors.back()), kErrConnectionRefused);
}

TEST(SocketArrayTest, ConnectsByHostName)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    const int port = StartListener(server, "127.0.0.1");

    QtSocketArray client;
    Recorder events(client);
    ASSERT_TRUE(client.SetRemoteHost(0, "localhost").ok());
    ASSERT_TRUE(client.SetRemotePort(0, port).ok());
    ASSERT_TRUE(client.Connect(0).ok());
    EXPECT_EQ(client.State(0), kSockResolvingHost);
    ASSERT_TRUE(WaitFor([&] { return !events.connects.empty() || !events.errors.empty(); }));
    ASSERT_TRUE(events.errors.empty()) << std::get<2>(events.errors.front());
    EXPECT_EQ(client.State(0), kSockConnected);
    EXPECT_EQ(client.RemoteHostIP(0), "127.0.0.1");
    AcceptNext(server, serverEvents, 1);
}

TEST(SocketArrayTest, CallsThatCannotBeCarriedOutFailAtOnce)
{
    QtSocketArray array;
    EXPECT_TRUE(array.IsLoaded(0));
    EXPECT_FALSE(array.IsLoaded(1));
    EXPECT_FALSE(array.SendData(1, Text("x")).ok());
    EXPECT_EQ(array.State(1), kSockClosed);
    ASSERT_TRUE(array.Load(1).ok());
    const Result twice = array.Load(1);
    EXPECT_FALSE(twice.ok());
    EXPECT_FALSE(twice.description().empty());
    EXPECT_FALSE(array.Load(-1).ok());
    EXPECT_FALSE(array.Load(QtSocketArray::kMaxIndex + 1).ok());

    EXPECT_FALSE(array.SendData(0, Text("x")).ok());  // not connected
    EXPECT_FALSE(array.SetRemotePort(0, 65536).ok());
    EXPECT_FALSE(array.SetProtocol(0, 2).ok());
    ASSERT_TRUE(array.SetRemoteHost(0, "127.0.0.1").ok());
    ASSERT_TRUE(array.SetRemotePort(0, 0).ok());
    EXPECT_FALSE(array.Connect(0).ok());  // no port
    EXPECT_EQ(array.State(0), kSockClosed);
    EXPECT_FALSE(array.Accept(1, 12345).ok());

    StartListener(array);
    const Result connectWhileListening = array.Connect(0);
    EXPECT_FALSE(connectWhileListening.ok());
    EXPECT_NE(connectWhileListening.description().find("listening"), std::string::npos)
        << connectWhileListening.description();
    EXPECT_FALSE(array.SetProtocol(0, SocketArray::kUdp).ok());
    EXPECT_FALSE(array.Bind(0, 0, "").ok());
}

TEST(SocketArrayTest, BindFailuresCarryClassicNumbers)
{
    QtSocketArray first;
    const int port = StartListener(first);

    QtSocketArray second;
    const Result inUse = second.Bind(0, port, "127.0.0.1");
    EXPECT_FALSE(inUse.ok());
    EXPECT_EQ(inUse.number(), kErrAddressInUse);
    EXPECT_FALSE(inUse.description().empty());
    EXPECT_EQ(second.State(0), kSockClosed);

    const Result anyInUse = second.Bind(0, port, "");
    EXPECT_EQ(anyInUse.number(), kErrAddressInUse);

    const Result foreign = second.Bind(0, 0, "203.0.113.77");
    EXPECT_FALSE(foreign.ok());
    EXPECT_EQ(foreign.number(), kErrAddressNotAvailable);

    const Result notAnAddress = second.Bind(0, 0, "no.such.address");
    EXPECT_EQ(notAnAddress.number(), kErrAddressNotAvailable);

    QtSocketArray udpFirst;
    QtSocketArray udpSecond;
    ASSERT_TRUE(udpFirst.SetProtocol(0, SocketArray::kUdp).ok());
    ASSERT_TRUE(udpSecond.SetProtocol(0, SocketArray::kUdp).ok());
    ASSERT_TRUE(udpFirst.Bind(0, 0, "127.0.0.1").ok());
    const Result udpInUse = udpSecond.Bind(0, udpFirst.LocalPort(0), "127.0.0.1");
    EXPECT_FALSE(udpInUse.ok());
    EXPECT_EQ(udpInUse.number(), kErrAddressInUse);
}

TEST(SocketArrayTest, PeerResetRaisesError10054)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    const int port = StartListener(server);

    const int raw = ConnectLoopback(port);
    ASSERT_GE(raw, 0) << std::strerror(errno);
    AcceptNext(server, serverEvents, 1);

    // Closing with a zero linger time resets the connection.
    const linger abortive{1, 0};
    ASSERT_EQ(::setsockopt(raw, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
    ::close(raw);

    ASSERT_TRUE(WaitFor([&] { return !serverEvents.errors.empty(); }));
    EXPECT_EQ(std::get<0>(serverEvents.errors.front()), 1);
    EXPECT_EQ(std::get<1>(serverEvents.errors.front()), kErrConnectionReset);
    EXPECT_TRUE(serverEvents.closes.empty());
    EXPECT_EQ(server.State(1), kSockError);
    ASSERT_TRUE(server.Close(1).ok());
    EXPECT_EQ(server.State(1), kSockClosed);
}

TEST(SocketArrayTest, ClosingTheListenerDropsUnansweredRequests)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    const int port = StartListener(server);

    QtSocketArray client;
    Recorder events(client);
    ConnectClient(client, events, "127.0.0.1", port);
    ASSERT_TRUE(WaitFor([&] { return !serverEvents.requests.empty(); }));
    const long id = serverEvents.requests.front().second;

    ASSERT_TRUE(server.Close(0).ok());
    EXPECT_EQ(server.State(0), kSockClosed);
    ASSERT_TRUE(WaitFor([&] { return !events.closes.empty() || !events.errors.empty(); }));
    ASSERT_TRUE(server.Load(1).ok());
    EXPECT_FALSE(server.Accept(1, id).ok());
}

TEST(SocketArrayTest, ReaderTakingAThousandBytesPerEventGetsFourMiBExactly)
{
    Pair pair;
    pair.Open();
    pair.serverEvents.maxPerEvent = 1000;
    const Bytes data = RandomBytes(4 * 1024 * 1024, 21);
    ASSERT_TRUE(pair.client.SendData(0, data).ok());

    ASSERT_TRUE(
        WaitFor([&] { return pair.serverEvents.received[1].size() >= data.size(); }, kLongWaitMs));
    EXPECT_EQ(pair.serverEvents.received[1].size(), data.size());
    EXPECT_TRUE(pair.serverEvents.received[1] == data);
    ASSERT_TRUE(WaitFor([&] { return pair.client.BytesToWrite(0) == 0; }));
}

TEST(SocketArrayTest, SlowPollingReaderGetsEveryByteWhileTheBufferStaysBounded)
{
    Pair pair;
    pair.Open();
    // The reader ignores the events and polls now and then, as a session
    // whose output queue is full does.
    pair.serverEvents.autoRead = false;
    const Bytes data = RandomBytes(3 * 1024 * 1024, 31);
    ASSERT_TRUE(pair.client.SendData(0, data).ok());

    Bytes received;
    int largestWaiting = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        largestWaiting = std::max(largestWaiting, pair.server.BytesAvailable(1));
        Bytes chunk;
        ASSERT_TRUE(pair.server.GetData(1, chunk, 48 * 1024).ok());
        received.insert(received.end(), chunk.begin(), chunk.end());
    });
    poll.start(5);
    ASSERT_TRUE(WaitFor([&] { return received.size() >= data.size(); }, kLongWaitMs));
    poll.stop();

    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
    EXPECT_LE(largestWaiting, QtSocketArray::kReceiveLimit);
    EXPECT_GT(largestWaiting, 0);
    EXPECT_GT(pair.serverEvents.dataEvents[1], 0);
}

TEST(SocketArrayTest, BytesToWriteGrowsWhileThePeerDoesNotReadAndProgressFollowsTheDrain)
{
    Pair pair;
    pair.Open();
    pair.serverEvents.autoRead = false;

    const Bytes chunk = RandomBytes(1024 * 1024, 41);
    Bytes sent;
    for (int i = 0; i < 64 && pair.client.BytesToWrite(0) == 0; ++i) {
        ASSERT_TRUE(pair.client.SendData(0, chunk).ok());
        sent.insert(sent.end(), chunk.begin(), chunk.end());
    }
    ASSERT_GT(pair.client.BytesToWrite(0), 0);
    // More data queues behind, in order, without being dropped.
    const int queued = pair.client.BytesToWrite(0);
    ASSERT_TRUE(pair.client.SendData(0, chunk).ok());
    sent.insert(sent.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(pair.client.BytesToWrite(0), queued + static_cast<int>(chunk.size()));
    EXPECT_EQ(pair.clientEvents.progressEvents[0], 0);

    Bytes received;
    ASSERT_TRUE(WaitFor(
        [&] {
            Bytes part;
            EXPECT_TRUE(pair.server.GetData(1, part, -1).ok());
            received.insert(received.end(), part.begin(), part.end());
            return received.size() >= sent.size();
        },
        kLongWaitMs));
    EXPECT_TRUE(received == sent);
    ASSERT_TRUE(WaitFor([&] { return pair.client.BytesToWrite(0) == 0; }));
    EXPECT_GT(pair.clientEvents.progressEvents[0], 0);
}

int PortOf(const sockaddr_storage& address)
{
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

// This process's connected TCP descriptors with one end at the given port:
// how a test finds the descriptors the array holds.
std::vector<int> ConnectedDescriptorsAt(int port)
{
    std::vector<int> found;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return found;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localLength = sizeof local;
        socklen_t peerLength = sizeof peer;
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (fd == ::dirfd(dir) || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 ||
            type != SOCK_STREAM ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
            local.ss_family != AF_INET ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
            continue;
        }
        if (PortOf(local) == port || PortOf(peer) == port) {
            found.push_back(fd);
        }
    }
    ::closedir(dir);
    return found;
}

int IntOption(int fd, int level, int name)
{
    int value = -1;
    socklen_t length = sizeof value;
    EXPECT_EQ(::getsockopt(fd, level, name, &value, &length), 0);
    return value;
}

TEST(SocketArrayTest, AcceptedAndMadeConnectionsFindAVanishedPeerAndSendWithoutDelay)
{
    Pair pair;
    pair.Open();
    const std::vector<int> ends = ConnectedDescriptorsAt(pair.server.LocalPort(0));
    ASSERT_EQ(ends.size(), 2u);
    for (const int fd : ends) {
        EXPECT_EQ(IntOption(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
        const int idle = IntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE);
        const int interval = IntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL);
        const int probes = IntOption(fd, IPPROTO_TCP, TCP_KEEPCNT);
        // A silent peer is given up within about two minutes.
        EXPECT_GT(idle, 0);
        EXPECT_LE(idle + interval * probes, 150);
        const int userTimeout = IntOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT);
        EXPECT_GT(userTimeout, 0);
        EXPECT_LE(userTimeout, 150 * 1000);
        EXPECT_EQ(IntOption(fd, IPPROTO_TCP, TCP_NODELAY), 1);
    }
}

// A listener whose queue of finished connections is full drops new SYNs, so
// a connect to it neither succeeds nor is refused.
struct Unanswering {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int queued = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;

    Unanswering()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(listener, 0), 0);
        EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        port = ntohs(address.sin_port);
        EXPECT_EQ(::connect(queued, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        pollfd ready{listener, POLLIN, 0};
        EXPECT_EQ(::poll(&ready, 1, kWaitMs), 1);
    }
    ~Unanswering()
    {
        ::close(queued);
        ::close(listener);
    }
};

TEST(SocketArrayTest, ConnectEndsByItsOwnTimeOutAndCannotBeRestartedMeanwhile)
{
    Unanswering peer;
    QtSocketArray client(std::chrono::milliseconds(300));
    Recorder events(client);
    ASSERT_TRUE(client.SetRemoteHost(0, "127.0.0.1").ok());
    ASSERT_TRUE(client.SetRemotePort(0, peer.port).ok());
    ASSERT_TRUE(client.Connect(0).ok());
    EXPECT_EQ(client.State(0), kSockConnecting);

    const Result again = client.Connect(0);
    EXPECT_FALSE(again.ok());
    EXPECT_EQ(again.number(), kErrAlreadyInProgress);
    EXPECT_NE(again.description().find("in progress"), std::string::npos) << again.description();
    EXPECT_EQ(client.State(0), kSockConnecting);

    ASSERT_TRUE(WaitFor([&] { return !events.errors.empty(); }));
    EXPECT_EQ(events.errors.size(), 1u);
    EXPECT_EQ(std::get<1>(events.errors.front()), kErrTimedOut);
    EXPECT_FALSE(std::get<2>(events.errors.front()).empty());
    EXPECT_TRUE(events.connects.empty());
    EXPECT_EQ(client.State(0), kSockError);
}

// Reads a raw peer to the end of its connection: 0 end of stream, else the
// errno of the failure (ETIMEDOUT: no end within the wait).
int EndOf(int fd)
{
    int end = ETIMEDOUT;
    WaitFor([&] {
        char sink[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
            if (n > 0)
                continue;
            if (n < 0 && errno == EAGAIN)
                return false;
            end = n == 0 ? 0 : errno;
            return true;
        }
    });
    return end;
}

TEST(SocketArrayTest, DroppedPeersAreResetAndFilteredOnesNeverBecomeRequests)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    ASSERT_TRUE(
        server.SetPeerFilter(0, [](const std::string& a) { return a == "127.0.0.1"; }).ok());
    const int port = StartListener(server);

    const int stranger = ConnectFrom("127.0.0.2", port);
    ASSERT_GE(stranger, 0) << std::strerror(errno);
    EXPECT_EQ(EndOf(stranger), ECONNRESET);
    ::close(stranger);
    ASSERT_TRUE(WaitFor([&] { return !serverEvents.refusals.empty(); }));
    EXPECT_EQ(serverEvents.refusals.front(), "0 127.0.0.2 not in the allowed list");
    EXPECT_TRUE(serverEvents.requests.empty());

    // Aborted with bytes queued for a peer that does not read: nothing of
    // them stays behind, the peer is reset.
    const int peer = ConnectFrom("127.0.0.1", port);
    ASSERT_GE(peer, 0);
    AcceptNext(server, serverEvents, 1);
    const Bytes lots = RandomBytes(8 * 1024 * 1024, 3);
    ASSERT_TRUE(server.SendData(1, lots).ok());
    ASSERT_GT(server.BytesToWrite(1), 0);
    ASSERT_TRUE(server.Abort(1).ok());
    EXPECT_EQ(server.State(1), kSockClosed);
    EXPECT_EQ(server.ClosingConnections(), 0);
    EXPECT_EQ(EndOf(peer), ECONNRESET);
    ::close(peer);
    EXPECT_EQ(serverEvents.refusals.size(), 1u);
}

TEST(SocketArrayTest, RejectedRequestIsResetAtOnce)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    const int port = StartListener(server);
    const int raw = ConnectLoopback(port);
    ASSERT_GE(raw, 0) << std::strerror(errno);
    ASSERT_TRUE(WaitFor([&] { return !serverEvents.requests.empty(); }));
    const long id = serverEvents.requests.front().second;

    ASSERT_TRUE(server.Reject(0, id).ok());
    EXPECT_EQ(EndOf(raw), ECONNRESET);
    ::close(raw);

    EXPECT_FALSE(server.Reject(0, id).ok());
    ASSERT_TRUE(server.Load(1).ok());
    EXPECT_FALSE(server.Accept(1, id).ok());
    EXPECT_EQ(server.State(0), kSockListening);
}

// Two loopback addresses share one port number, as the peers of a UDP
// session do on two machines.
TEST(SocketArrayTest, UdpServerRepliesToTheLatestSenderAndClientsSendToRemoteHost)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    ASSERT_TRUE(server.SetProtocol(0, SocketArray::kUdp).ok());
    ASSERT_TRUE(server.Bind(0, 0, "127.0.0.1").ok());
    EXPECT_EQ(server.State(0), kSockOpen);
    const int port = server.LocalPort(0);
    ASSERT_GT(port, 0);
    ASSERT_TRUE(server.SetRemotePort(0, port).ok());

    // Nobody has sent yet: nowhere to reply, silently dropped.
    EXPECT_TRUE(server.SendData(0, Text("early")).ok());
    EXPECT_EQ(server.BytesToWrite(0), 0);

    QtSocketArray clientA;
    QtSocketArray clientB;
    Recorder eventsA(clientA);
    Recorder eventsB(clientB);
    for (auto* client : {&clientA, &clientB}) {
        ASSERT_TRUE(client->SetProtocol(0, SocketArray::kUdp).ok());
        ASSERT_TRUE(client->SetRemoteHost(0, "127.0.0.1").ok());
        ASSERT_TRUE(client->SetRemotePort(0, port).ok());
    }
    ASSERT_TRUE(clientA.Bind(0, port, "127.0.0.2").ok());
    ASSERT_TRUE(clientB.Bind(0, port, "127.0.0.3").ok());

    const Bytes fromA = AllByteValues(2);
    ASSERT_TRUE(clientA.SendData(0, fromA).ok());
    ASSERT_TRUE(clientA.SendData(0, Text("second")).ok());
    ASSERT_TRUE(WaitFor([&] { return serverEvents.datagrams[0].size() == 2; }));
    EXPECT_EQ(serverEvents.datagrams[0][0], fromA);
    EXPECT_EQ(serverEvents.datagrams[0][1], Text("second"));
    EXPECT_EQ(serverEvents.dataEvents[0], 2);
    EXPECT_EQ(server.RemoteHostIP(0), "127.0.0.2");

    ASSERT_TRUE(server.SendData(0, Text("reply 1")).ok());
    ASSERT_TRUE(WaitFor([&] { return eventsA.datagrams[0].size() == 1; }));

    ASSERT_TRUE(clientB.SendData(0, Text("from B")).ok());
    ASSERT_TRUE(WaitFor([&] { return serverEvents.datagrams[0].size() == 3; }));
    EXPECT_EQ(server.RemoteHostIP(0), "127.0.0.3");
    ASSERT_TRUE(server.SendData(0, Text("reply 2")).ok());
    ASSERT_TRUE(WaitFor([&] { return eventsB.datagrams[0].size() == 1; }));

    ASSERT_TRUE(clientA.SendData(0, Text("A again")).ok());
    ASSERT_TRUE(WaitFor([&] { return serverEvents.datagrams[0].size() == 4; }));
    ASSERT_TRUE(server.SendData(0, Text("reply 3")).ok());
    ASSERT_TRUE(WaitFor([&] { return eventsA.datagrams[0].size() == 2; }));

    EXPECT_EQ(eventsA.datagrams[0], (std::vector<Bytes>{Text("reply 1"), Text("reply 3")}));
    EXPECT_EQ(eventsB.datagrams[0], std::vector<Bytes>{Text("reply 2")});
    EXPECT_EQ(clientA.RemoteHostIP(0), "127.0.0.1");
}

TEST(SocketArrayTest, UdpGetDataTakesOneWholeDatagram)
{
    QtSocketArray receiver;
    Recorder events(receiver);
    events.autoRead = false;
    ASSERT_TRUE(receiver.SetProtocol(0, SocketArray::kUdp).ok());
    ASSERT_TRUE(receiver.Bind(0, 0, "127.0.0.1").ok());

    QtSocketArray sender;
    ASSERT_TRUE(sender.SetProtocol(0, SocketArray::kUdp).ok());
    ASSERT_TRUE(sender.Bind(0, 0, "127.0.0.1").ok());
    ASSERT_TRUE(sender.SetRemoteHost(0, "127.0.0.1").ok());
    ASSERT_TRUE(sender.SetRemotePort(0, receiver.LocalPort(0)).ok());
    ASSERT_TRUE(sender.SendData(0, Text("first datagram")).ok());
    ASSERT_TRUE(sender.SendData(0, Text("2nd")).ok());

    ASSERT_TRUE(WaitFor([&] { return events.dataEvents[0] == 2; }));
    EXPECT_EQ(receiver.BytesAvailable(0), 14);
    Bytes out;
    ASSERT_TRUE(receiver.GetData(0, out, 3).ok());
    EXPECT_EQ(out, Text("first datagram"));
    EXPECT_EQ(receiver.BytesAvailable(0), 3);
    ASSERT_TRUE(receiver.GetData(0, out, -1).ok());
    EXPECT_EQ(out, Text("2nd"));
    EXPECT_EQ(receiver.BytesAvailable(0), 0);
    ASSERT_TRUE(receiver.GetData(0, out, -1).ok());
    EXPECT_TRUE(out.empty());
}

TEST(SocketArrayTest, UdpRemoteHostNameIsResolvedWithoutLosingEarlyDatagrams)
{
    QtSocketArray server;
    Recorder serverEvents(server);
    ASSERT_TRUE(server.SetProtocol(0, SocketArray::kUdp).ok());
    ASSERT_TRUE(server.Bind(0, 0, "127.0.0.1").ok());

    QtSocketArray client;
    Recorder events(client);
    ASSERT_TRUE(client.SetProtocol(0, SocketArray::kUdp).ok());
    ASSERT_TRUE(client.Bind(0, 0, "").ok());
    ASSERT_TRUE(client.SetRemoteHost(0, "localhost").ok());
    ASSERT_TRUE(client.SetRemotePort(0, server.LocalPort(0)).ok());
    const std::vector<Bytes> sent{Text("one"), Text("two"), AllByteValues(1)};
    for (const Bytes& datagram : sent) {
        ASSERT_TRUE(client.SendData(0, datagram).ok());
    }
    EXPECT_GT(client.BytesToWrite(0), 0);  // waiting for the name

    ASSERT_TRUE(WaitFor([&] { return serverEvents.datagrams[0].size() == sent.size(); }));
    EXPECT_EQ(serverEvents.datagrams[0], sent);
    EXPECT_EQ(client.BytesToWrite(0), 0);
    ASSERT_TRUE(WaitFor([&] { return events.progressEvents[0] > 0; }));

    // Once resolved, sends go straight out.
    ASSERT_TRUE(client.SendData(0, Text("four")).ok());
    EXPECT_EQ(client.BytesToWrite(0), 0);
    ASSERT_TRUE(WaitFor([&] { return serverEvents.datagrams[0].size() == sent.size() + 1; }));
    EXPECT_EQ(serverEvents.datagrams[0].back(), Text("four"));
}

TEST(SocketArrayTest, LocalAddressesPutNetworkAddressesFirst)
{
    const auto addresses = ListLocalIPv4Addresses();
    for (const std::string& text : addresses) {
        in_addr parsed{};
        EXPECT_EQ(::inet_pton(AF_INET, text.c_str(), &parsed), 1) << text;
    }
    // Loopback only as the single fallback, and then as 127.0.0.1.
    for (const std::string& text : addresses) {
        if (text.rfind("127.", 0) == 0) {
            EXPECT_EQ(text, "127.0.0.1");
            EXPECT_EQ(addresses.size(), 1u);
        }
    }
    QtSocketArray array;
    EXPECT_EQ(array.LocalIP(0), FirstLocalIPv4Address());
    EXPECT_EQ(FirstLocalIPv4Address(), addresses.empty() ? std::string() : addresses.front());
}

TEST(SocketArrayTest, EveryOfferedLocalAddressCanBeListenedOn)
{
    const auto addresses = ListBindableAddresses();
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(std::count(addresses.begin(), addresses.end(), "127.0.0.1"), 1);
    for (const std::string& address : addresses) {
        QtSocketArray server;
        SCOPED_TRACE(address);
        StartListener(server, address);
    }
}

}  // namespace
}  // namespace velkon
