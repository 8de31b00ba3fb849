#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/PingEngine.h"

namespace velkon {
namespace {

std::uint32_t StoredAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t stored = 0;
    std::memcpy(&stored, bytes, 4);
    return stored;
}

struct EchoCall {
    std::uint32_t address = 0;
    std::string data;
    int timeoutMs = 0;
};

// Echo service that records every request and answers as told.
class FakeEchoTransport : public EchoTransport {
public:
    bool available = true;
    EchoReply answer{};
    std::vector<EchoCall> calls;

    bool Echo(std::uint32_t address, const std::string& data, int timeoutMs,
              EchoReply& reply) override
    {
        if (!available) {
            return false;
        }
        calls.push_back({address, data, timeoutMs});
        reply = answer;
        return true;
    }
};

class FakeHostResolver : public HostResolver {
public:
    std::optional<std::array<std::uint8_t, 4>> result;
    std::vector<std::string> names;

    std::optional<std::array<std::uint8_t, 4>> FirstIPv4(const std::string& name) override
    {
        names.push_back(name);
        return result;
    }
};

TEST(PingEngineTest, EchoReplyIsTheFixedRecordAndStartsZeroed)
{
    EXPECT_EQ(278u, sizeof(EchoReply));
    alignas(EchoReply) unsigned char storage[sizeof(EchoReply)];
    std::memset(storage, 0xAB, sizeof(storage));
    auto* reply = new (storage) EchoReply{};
    for (unsigned char byte : storage) {
        ASSERT_EQ(0, byte);
    }
    reply->~EchoReply();
}

TEST(PingEngineTest, StatusTextForEveryCodeOfTheTable)
{
    const std::vector<std::pair<int, std::string>> table = {
        {0, "IP Success"},
        {-1, "Bad IP Format"},
        {11001, "IP Buffer too_small"},
        {11002, "IP Dest Net Unreachable"},
        {11003, "IP Dest Host Unreachable"},
        {11004, "IP Dest Prot Unreachable"},
        {11005, "IP Dest Port Unreachable"},
        {11006, "IP No Resources"},
        {11007, "IP Bad Option"},
        {11008, "IP Hardware Error"},
        {11009, "IP Packet Too Big"},
        {11010, "IP Request Timed Out"},
        {11011, "IP Bad Request"},
        {11012, "IP Bad Route"},
        {11013, "IP TTL Expired Transit"},
        {11014, "IP TTL Expired Reassembly"},
        {11015, "IP Parameter Problem"},
        {11016, "IP Source Quench"},
        {11017, "IP Option Too Big"},
        {11018, "IP Bad Destination"},
        {11019, "IP Address Deleted"},
        {11020, "IP Spec MTU Change"},
        {11021, "IP MTU Changed"},
        {11022, "IP Unload"},
        {11023, "IP Address Added"},
        {11050, "IP General Failure"},
        {11255, "IP Pending"},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(std::to_string(code) + "   [" + text + "]", PingStatusText(code)) << code;
    }
}

TEST(PingEngineTest, StatusTextOfUnknownAndOwnCodes)
{
    EXPECT_EQ("12345   [Unknown Message Returned]", PingStatusText(12345));
    EXPECT_EQ("11024   [Unknown Message Returned]", PingStatusText(11024));
    EXPECT_EQ("-1   [Bad IP Format]", PingStatusText(-1));
    EXPECT_EQ("11010   [IP Request Timed Out]", PingStatusText(11010));
}

TEST(PingEngineTest, AddressBytesPrintZeroAsDigit)
{
    const std::uint8_t tenZeroZeroSeven[4] = {10, 0, 0, 7};
    EXPECT_EQ("10.0.0.7", AddressBytesToText(tenZeroZeroSeven));
    const std::uint8_t zeros[4] = {0, 0, 0, 0};
    EXPECT_EQ("0.0.0.0", AddressBytesToText(zeros));
    const std::uint8_t high[4] = {192, 168, 0, 255};
    EXPECT_EQ("192.168.0.255", AddressBytesToText(high));
}

TEST(PingEngineTest, SignedAddressTakesFirstByteAsLeastSignificant)
{
    EchoReply reply{};
    reply.Address = StoredAddress(192, 168, 0, 1);
    EXPECT_EQ("16820416", SignedAddressText(reply));
    reply.Address = StoredAddress(10, 0, 0, 200);
    EXPECT_EQ("-939524086", SignedAddressText(reply));
    // A high first byte stays positive; only the last byte carries the sign.
    reply.Address = StoredAddress(200, 0, 0, 10);
    EXPECT_EQ("167772360", SignedAddressText(reply));
    reply.Address = StoredAddress(0, 0, 0, 0);
    EXPECT_EQ("0", SignedAddressText(reply));
}

TEST(PingEngineTest, ReplyAddressTextUsesStoredOrder)
{
    EchoReply reply{};
    reply.Address = StoredAddress(127, 0, 0, 1);
    EXPECT_EQ("127.0.0.1", ReplyAddressText(reply));
}

TEST(PingEngineTest, TimeoutFromListPosition)
{
    EXPECT_EQ(1000, PingTimeoutMs(9));
    EXPECT_EQ(100, PingTimeoutMs(0));
    EXPECT_EQ(2000, PingTimeoutMs(19));
    EXPECT_EQ(500, PingTimeoutMs(-1));
    EXPECT_EQ(500, PingTimeoutMs(-7));
}

TEST(PingEngineTest, ParsesNumbersAndDotsForms)
{
    struct Case {
        const char* text;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"10.0.0.7", StoredAddress(10, 0, 0, 7)},
        {"127.0.0.1", StoredAddress(127, 0, 0, 1)},
        {"0.0.0.0", StoredAddress(0, 0, 0, 0)},
        {"255.255.255.254", StoredAddress(255, 255, 255, 254)},
        {"010.0.0.07", StoredAddress(8, 0, 0, 7)},
        {"0x7f.0X0.0.0xA", StoredAddress(127, 0, 0, 10)},
        {"127.1", StoredAddress(127, 0, 0, 1)},
        {"10.1.258", StoredAddress(10, 1, 1, 2)},
        {"2130706433", StoredAddress(127, 0, 0, 1)},
        {"10.0.0.7 trailing", StoredAddress(10, 0, 0, 7)},
    };
    for (const Case& c : cases) {
        std::uint32_t parsed = 0;
        EXPECT_TRUE(ParseDottedAddress(c.text, parsed)) << c.text;
        EXPECT_EQ(c.expected, parsed) << c.text;
    }
}

TEST(PingEngineTest, RefusesWhatDoesNotConvert)
{
    const char* const refused[] = {
        "",          "localhost",  "255.255.255.255", "4294967295", "0xffffffff",
        "1.2.3.256", "256.1.1.1",  "1.2.3.4.5",       "1..2.3",     "1.2.3.",
        ".1.2.3",    "1.2.3.4x",   "08.1.1.1",        "0x",         " 1.2.3.4",
        "1.2.65536", "1.16777216", "4294967296",      "-1.2.3.4",   "host.example",
    };
    for (const char* text : refused) {
        std::uint32_t parsed = 0x12345678;
        EXPECT_FALSE(ParseDottedAddress(text, parsed)) << '"' << text << '"';
    }
    std::uint32_t parsed = 0;
    EXPECT_FALSE(ParseDottedAddress(std::string_view("1.2.3.4\0x", 9), parsed));
}

TEST(PingEngineTest, SendEchoRefusesUnusableAddressesWithoutSending)
{
    FakeEchoTransport transport;
    for (const char* address : {"", "somehost", "255.255.255.255"}) {
        EchoReply reply{};
        reply.Status = 77;
        reply.Data[0] = 'x';
        EXPECT_EQ(-1, SendEcho(transport, address, "data", reply, 9)) << address;
        EXPECT_EQ(77, reply.Status) << address;
        EXPECT_EQ('x', reply.Data[0]) << address;
    }
    EXPECT_TRUE(transport.calls.empty());
}

TEST(PingEngineTest, SendEchoPassesAddressDataAndTimeout)
{
    FakeEchoTransport transport;
    transport.answer.Status = 0;
    transport.answer.Address = StoredAddress(10, 0, 0, 7);
    transport.answer.DataSize = 4;
    std::memcpy(transport.answer.Data, "data", 4);
    EchoReply reply{};
    EXPECT_EQ(0, SendEcho(transport, "10.0.0.7", "data", reply, 3));
    ASSERT_EQ(1u, transport.calls.size());
    EXPECT_EQ(StoredAddress(10, 0, 0, 7), transport.calls[0].address);
    EXPECT_EQ("data", transport.calls[0].data);
    EXPECT_EQ(400, transport.calls[0].timeoutMs);
    EXPECT_EQ(4u, reply.DataSize);
    EXPECT_EQ(0, std::memcmp(reply.Data, "data", 4));

    EXPECT_EQ(0, SendEcho(transport, "10.0.0.7", "data", reply, -1));
    EXPECT_EQ(500, transport.calls[1].timeoutMs);
    EXPECT_EQ(0, SendEcho(transport, "10.0.0.7", "data", reply, 19));
    EXPECT_EQ(2000, transport.calls[2].timeoutMs);
}

TEST(PingEngineTest, SendEchoReturnsTheServiceStatus)
{
    FakeEchoTransport transport;
    for (int status : {11010, 11002, 11003, 11013, 11016}) {
        transport.answer = EchoReply{};
        transport.answer.Status = status;
        EchoReply reply{};
        EXPECT_EQ(status, SendEcho(transport, "192.168.1.20", "x", reply, 0));
        EXPECT_EQ(status, reply.Status);
    }
}

TEST(PingEngineTest, UnavailableEchoServiceIsAGeneralFailure)
{
    FakeEchoTransport transport;
    transport.available = false;
    EchoReply reply{};
    EXPECT_EQ(11050, SendEcho(transport, "10.0.0.7", "data", reply, 9));
    EXPECT_EQ(11050, reply.Status);
    EXPECT_EQ(0u, reply.DataSize);
    EXPECT_EQ(11050, PingAddressOnce(transport, "10.0.0.7", 9));
}

TEST(PingEngineTest, MonitoringPingSendsExactlyHello)
{
    FakeEchoTransport transport;
    transport.answer.Status = 0;
    EXPECT_EQ(0, PingAddressOnce(transport, "172.16.5.9", 2));
    ASSERT_EQ(1u, transport.calls.size());
    EXPECT_EQ(std::string("Hello"), transport.calls[0].data);
    EXPECT_EQ(5u, transport.calls[0].data.size());
    EXPECT_EQ(StoredAddress(172, 16, 5, 9), transport.calls[0].address);
    EXPECT_EQ(300, transport.calls[0].timeoutMs);

    transport.answer.Status = 11010;
    EXPECT_EQ(11010, PingAddressOnce(transport, "172.16.5.9", 2));
    EXPECT_EQ(-1, PingAddressOnce(transport, "not-an-address", 2));
    EXPECT_EQ(2u, transport.calls.size());
}

TEST(PingEngineTest, ResolvingDottedAddressGivesItBack)
{
    FakeHostResolver resolver;
    EXPECT_EQ("10.0.0.7", ResolveHostAddress(resolver, "10.0.0.7"));
    EXPECT_EQ("192.168.100.200", ResolveHostAddress(resolver, "192.168.100.200"));
    EXPECT_TRUE(resolver.names.empty());
}

TEST(PingEngineTest, ResolvingNameGivesFirstAddressOrEmpty)
{
    FakeHostResolver resolver;
    resolver.result = std::array<std::uint8_t, 4>{10, 0, 0, 7};
    EXPECT_EQ("10.0.0.7", ResolveHostAddress(resolver, "server"));
    resolver.result.reset();
    EXPECT_EQ("", ResolveHostAddress(resolver, "nosuchhost"));
    ASSERT_EQ(2u, resolver.names.size());
    EXPECT_EQ("server", resolver.names[0]);
    EXPECT_EQ("nosuchhost", resolver.names[1]);
}

}  // namespace
}  // namespace velkon
