#include <gtest/gtest.h>

#include "PlatformTestSupport.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ping/EchoPacket.h"
#include "ping/IcmpEcho.h"
#include "tools/PingEngine.h"

namespace velkon {
namespace {

using test::WaitFor;

constexpr int kLongestTimeoutIndex = 19;  // 2000 ms
constexpr int kWaitLimitMs = 10000;

std::string KindName(IcmpSocketKind kind)
{
    switch (kind) {
        case IcmpSocketKind::Datagram:
            return "Datagram";
        case IcmpSocketKind::Raw:
            return "Raw";
        default:
            return "Any";
    }
}

std::string DataText(const EchoReply& reply)
{
    const auto* begin = reinterpret_cast<const char*>(reply.Data);
    return std::string(begin, strnlen(begin, sizeof(reply.Data)));
}

class IcmpEchoTest : public ::testing::TestWithParam<IcmpSocketKind> {
protected:
    void SetUp() override
    {
        if (!IcmpEchoTransport::CanOpen(GetParam())) {
            GTEST_SKIP() << "no ICMP socket of kind " << KindName(GetParam())
                         << " can be opened here: datagram sockets need the group in "
                            "net.ipv4.ping_group_range, raw ones root or CAP_NET_RAW";
        }
    }
};

TEST_P(IcmpEchoTest, LoopbackEchoReturnsTheData)
{
    IcmpEchoTransport transport(GetParam());
    EchoReply reply{};
    ASSERT_EQ(0, SendEcho(transport, "127.0.0.1", "Testing 123", reply, kLongestTimeoutIndex));
    EXPECT_EQ(0, reply.Status);
    EXPECT_EQ("127.0.0.1", ReplyAddressText(reply));
    EXPECT_EQ(11u, reply.DataSize);
    EXPECT_EQ("Testing 123", DataText(reply));
    EXPECT_EQ(0, reply.Data[11]);
}

TEST_P(IcmpEchoTest, EmptyEchoTextReturnsNoBytes)
{
    IcmpEchoTransport transport(GetParam());
    EchoReply reply{};
    ASSERT_EQ(0, SendEcho(transport, "127.0.0.1", "", reply, kLongestTimeoutIndex));
    EXPECT_EQ(0u, reply.DataSize);
    EXPECT_EQ(0, reply.Data[0]);
    EXPECT_EQ("127.0.0.1", ReplyAddressText(reply));
}

TEST_P(IcmpEchoTest, EveryEchoGetsItsOwnReply)
{
    IcmpEchoTransport transport(GetParam());
    for (const std::string data : {"first", "second echo", "3"}) {
        EchoReply reply{};
        ASSERT_EQ(0, SendEcho(transport, "127.0.0.1", data, reply, kLongestTimeoutIndex));
        EXPECT_EQ(data.size(), reply.DataSize);
        EXPECT_EQ(data, DataText(reply));
    }
}

TEST_P(IcmpEchoTest, EchoDataFillingTheDataAreaComesBack)
{
    IcmpEchoTransport transport(GetParam());
    std::string data(250, 'a');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>('a' + i % 26);
    }
    EchoReply reply{};
    ASSERT_EQ(0, SendEcho(transport, "127.0.0.1", data, reply, kLongestTimeoutIndex));
    EXPECT_EQ(250u, reply.DataSize);
    EXPECT_EQ(0, std::memcmp(reply.Data, data.data(), 250));
}

TEST_P(IcmpEchoTest, EchoDataBeyondTheDataAreaIsRefused)
{
    IcmpEchoTransport transport(GetParam());
    EchoReply reply{};
    EXPECT_EQ(11001,
              SendEcho(transport, "127.0.0.1", std::string(251, 'x'), reply, kLongestTimeoutIndex));
    EXPECT_EQ(0u, reply.DataSize);
}

TEST_P(IcmpEchoTest, AsyncPingAnswersThroughTheEventLoop)
{
    int reads = 0;
    AsyncPinger pinger(
        [&reads] {
            ++reads;
            return kLongestTimeoutIndex;
        },
        GetParam());
    std::vector<int> answers;
    pinger.PingAsync("127.0.0.1", [&answers](int status) { answers.push_back(status); });
    EXPECT_TRUE(answers.empty()) << "answered inside PingAsync";
    ASSERT_TRUE(WaitFor([&] { return !answers.empty(); }));
    EXPECT_EQ(std::vector<int>{0}, answers);
    EXPECT_EQ(1, reads);

    // The timeout setting is read again for the next echo.
    pinger.PingAsync("127.0.0.1", [&answers](int status) { answers.push_back(status); });
    ASSERT_TRUE(WaitFor([&] { return answers.size() == 2; }));
    EXPECT_EQ(0, answers[1]);
    EXPECT_EQ(2, reads);
}

TEST_P(IcmpEchoTest, AsyncPingsInFlightTogetherEachGetOneAnswer)
{
    AsyncPinger pinger([] { return kLongestTimeoutIndex; }, GetParam());
    constexpr int kCount = 5;
    std::vector<std::vector<int>> answers(kCount);
    for (int i = 0; i < kCount; ++i) {
        pinger.PingAsync("127.0.0.1", [&answers, i](int status) { answers[i].push_back(status); });
    }
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& a : answers) {
            if (a.empty()) {
                return false;
            }
        }
        return true;
    }));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(std::vector<int>{0}, answers[i]) << i;
    }
}

TEST_P(IcmpEchoTest, AsyncPingOfBadAddressAnswersLater)
{
    AsyncPinger pinger([] { return kLongestTimeoutIndex; }, GetParam());
    std::vector<int> answers;
    pinger.PingAsync("no.such.address", [&answers](int status) { answers.push_back(status); });
    EXPECT_TRUE(answers.empty()) << "answered inside PingAsync";
    ASSERT_TRUE(WaitFor([&] { return !answers.empty(); }));
    EXPECT_EQ(std::vector<int>{-1}, answers);
}

TEST_P(IcmpEchoTest, DestroyingThePingerInsideAnAnswerStopsTheOthers)
{
    auto pinger = std::make_unique<AsyncPinger>([] { return kLongestTimeoutIndex; }, GetParam());
    std::vector<int> answers;
    for (int i = 0; i < 3; ++i) {
        pinger->PingAsync("127.0.0.1", [&](int status) {
            answers.push_back(status);
            pinger.reset();
        });
    }
    ASSERT_TRUE(WaitFor([&] { return !answers.empty(); }));
    // Give the other replies every chance to arrive; none may be delivered.
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(std::vector<int>{0}, answers);
}

// Runs for the socket kinds this machine cannot open (the others skip).
class UnavailableEchoTest : public ::testing::TestWithParam<IcmpSocketKind> {
protected:
    void SetUp() override
    {
        if (IcmpEchoTransport::CanOpen(GetParam())) {
            GTEST_SKIP() << "an ICMP socket of kind " << KindName(GetParam())
                         << " can be opened here, so its absence cannot be checked";
        }
    }
};

TEST_P(UnavailableEchoTest, EchoWithoutServiceIsGeneralFailure)
{
    IcmpEchoTransport transport(GetParam());
    EchoReply reply{};
    EXPECT_EQ(11050, SendEcho(transport, "127.0.0.1", "Testing 123", reply, 0));
    EXPECT_EQ(11050, reply.Status);
}

TEST_P(UnavailableEchoTest, AsyncPingWithoutServiceSaysUnavailable)
{
    AsyncPinger pinger([] { return 0; }, GetParam());
    std::vector<int> answers;
    pinger.PingAsync("127.0.0.1", [&answers](int status) { answers.push_back(status); });
    EXPECT_TRUE(answers.empty()) << "answered inside PingAsync";
    ASSERT_TRUE(WaitFor([&] { return !answers.empty(); }));
    EXPECT_EQ(std::vector<int>{Pinger::kUnavailable}, answers);
}

std::string ParamName(const ::testing::TestParamInfo<IcmpSocketKind>& info)
{
    return KindName(info.param);
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, IcmpEchoTest,
                         ::testing::Values(IcmpSocketKind::Any, IcmpSocketKind::Datagram,
                                           IcmpSocketKind::Raw),
                         ParamName);

INSTANTIATE_TEST_SUITE_P(SocketKinds, UnavailableEchoTest,
                         ::testing::Values(IcmpSocketKind::Any, IcmpSocketKind::Datagram,
                                           IcmpSocketKind::Raw),
                         ParamName);

TEST(SystemHostResolverTest, LocalhostResolvesToLoopback)
{
    SystemHostResolver resolver;
    EXPECT_EQ("127.0.0.1", ResolveHostAddress(resolver, "localhost"));
}

TEST(SystemHostResolverTest, DottedAddressLooksUpToItself)
{
    SystemHostResolver resolver;
    const auto found = resolver.FirstIPv4("10.0.0.7");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ((std::array<std::uint8_t, 4>{10, 0, 0, 7}), *found);
}

TEST(SystemHostResolverTest, UnknownNameGivesEmptyText)
{
    SystemHostResolver resolver;
    // The .invalid domain never resolves.
    EXPECT_EQ("", ResolveHostAddress(resolver, "nosuchhost.invalid"));
}

// An IPv4 header of 20 bytes from `from` to `to`, protocol ICMP.
std::vector<std::uint8_t> IpHeader(std::uint32_t from, std::uint32_t to)
{
    std::vector<std::uint8_t> header(20, 0);
    header[0] = 0x45;
    header[9] = 1;
    std::memcpy(&header[12], &from, 4);
    std::memcpy(&header[16], &to, 4);
    return header;
}

TEST(EchoPacket, RequestsCarryTheirChecksumAndRepliesAndErrorsAreMatched)
{
    const std::vector<std::uint8_t> request = BuildEchoRequest(0x1234, 0xBEEF, "Hello", true);
    ASSERT_EQ(request.size(), kIcmpHeaderSize + 5);
    EXPECT_EQ(request[0], kIcmpEcho);
    EXPECT_EQ(request[4], 0x12);
    EXPECT_EQ(request[7], 0xEF);
    // A packet that holds its own checksum sums to zero.
    EXPECT_EQ(InternetChecksum(request), 0);
    EXPECT_EQ(BuildEchoRequest(1, 2, "Hello", false)[2], 0);

    const std::uint32_t host = 0x0100007F;
    const std::uint32_t peer = 0x0200000A;
    // The echo reply on a raw socket, behind its IP header.
    std::vector<std::uint8_t> reply = IpHeader(peer, host);
    std::vector<std::uint8_t> icmp = request;
    icmp[0] = kIcmpEchoReply;
    reply.insert(reply.end(), icmp.begin(), icmp.end());
    IcmpMessage got = ParseRawPacket(reply.data(), reply.size());
    EXPECT_EQ(got.kind, IcmpMessage::Kind::Reply);
    EXPECT_EQ(got.id, 0x1234);
    EXPECT_EQ(got.sequence, 0xBEEF);
    EXPECT_EQ(got.from, peer);
    EXPECT_EQ(got.payload, "Hello");
    // The same reply on a datagram socket, without the IP header.
    got = ParseDatagramPacket(icmp.data(), icmp.size(), peer);
    EXPECT_EQ(got.kind, IcmpMessage::Kind::Reply);
    EXPECT_EQ(got.payload, "Hello");

    // Port unreachable from a router, quoting our request.
    std::vector<std::uint8_t> error = IpHeader(peer, host);
    const std::uint8_t unreachable[8] = {kIcmpDestUnreachable, 3, 0, 0, 0, 0, 0, 0};
    error.insert(error.end(), unreachable, unreachable + 8);
    const std::vector<std::uint8_t> quoted = IpHeader(host, 0x0300000A);
    error.insert(error.end(), quoted.begin(), quoted.end());
    error.insert(error.end(), request.begin(), request.begin() + kIcmpHeaderSize);
    got = ParseRawPacket(error.data(), error.size());
    EXPECT_EQ(got.kind, IcmpMessage::Kind::Error);
    EXPECT_EQ(got.status, kPingDestPortUnreachable);
    EXPECT_EQ(got.sequence, 0xBEEF);
    EXPECT_EQ(got.target, 0x0300000Au);

    // Cut short, or not about an echo: nothing to match.
    EXPECT_EQ(ParseRawPacket(error.data(), 30).kind, IcmpMessage::Kind::Other);
    EXPECT_EQ(ParseDatagramPacket(request.data(), request.size(), peer).kind,
              IcmpMessage::Kind::Other);
    const std::uint8_t redirect[8] = {5, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(StatusForIcmpError(redirect[0], redirect[1]), kPingSuccess);
}

}  // namespace
}  // namespace velkon
