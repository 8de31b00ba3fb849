#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "session/AllowedClients.h"

namespace velkon::test {
namespace {

TEST(AllowedClients, AddressesAndPrefixesOfBothFamiliesMatch)
{
    const auto parsed = AllowedClients::Parse(" 192.168.10.0/24,10.1.2.3 ,, fd00::/8\t::1 ");
    ASSERT_TRUE(parsed.ok) << parsed.wrongEntry;
    const AllowedClients& list = parsed.list;
    for (const char* in : {"192.168.10.0", "192.168.10.255", "10.1.2.3", "::ffff:192.168.10.9",
                           "fd12:3456::1", "::1", "0:0:0:0:0:0:0:1"}) {
        EXPECT_TRUE(list.Allows(in)) << in;
    }
    for (const char* out : {"192.168.11.1", "10.1.2.4", "::ffff:10.1.2.4", "fe80::1", "::2",
                            "127.0.0.1", "", "no address"}) {
        EXPECT_FALSE(list.Allows(out)) << out;
    }
    // Prefix lengths off the byte boundary, and the whole space.
    const auto odd = AllowedClients::Parse("172.16.0.0/12 0.0.0.0/0");
    ASSERT_TRUE(odd.ok);
    EXPECT_TRUE(odd.list.Allows("8.8.8.8"));
    EXPECT_FALSE(odd.list.Allows("2001:db8::1"));
    const auto twelve = AllowedClients::Parse("172.16.0.0/12").list;
    EXPECT_TRUE(twelve.Allows("172.31.255.255"));
    EXPECT_FALSE(twelve.Allows("172.32.0.0"));
    // IPv4-mapped entries stand for their IPv4 address.
    EXPECT_TRUE(AllowedClients::Parse("::ffff:10.0.0.0/8").list.Allows("10.9.9.9"));

    const auto anyone = AllowedClients::Parse(" , ");
    ASSERT_TRUE(anyone.ok);
    EXPECT_TRUE(anyone.list.Empty());
    EXPECT_TRUE(anyone.list.Allows("203.0.113.5"));
}

TEST(AllowedClients, TheFirstWrongEntryIsNamed)
{
    for (const char* wrong :
         {"10.1.2.300", "10.1.2", "10.1.2.3.4", "010.1.2.3", "10.0.0.0/33", "10.0.0.0/",
          "fd00::/129", "1::2::3", "1:2:3:4:5:6:7:8:9", "12345::", "plc.example", "10.0.0.1/8x"}) {
        const auto parsed = AllowedClients::Parse("10.0.0.1, " + std::string(wrong) + " ::1");
        EXPECT_FALSE(parsed.ok) << wrong;
        EXPECT_EQ(parsed.wrongEntry, wrong);
        EXPECT_TRUE(parsed.list.Empty());
    }
}

struct AllowedRig : SessionRig {
    explicit AllowedRig(const std::string& allowed, bool udp = false)
    {
        world.app.globalSettings.LogErrors = 1;
        ChangeOptions(s(), [&](SessionSettings& v) {
            v.AllowedClients = allowed;
            v.UseUDP = udp ? 1 : 0;
        });
        ActivateServer();
    }
    int Lines(const std::string& text)
    {
        int count = 0;
        const std::string log = Log();
        for (std::size_t at = log.find(text); at != std::string::npos;
             at = log.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
};

TEST(AllowedClients, RefusedPeersAreLoggedOnceAMinutePerAddress)
{
    AllowedRig rig("10.0.0.0/8");
    ASSERT_TRUE(rig.s().IsActive());
    for (int i = 0; i < 1000; ++i)
        rig.sock().Refuses("192.0.2.7");
    rig.sock().Refuses("192.0.2.8");
    rig.sock().Refuses("10.0.0.5");  // let through by the filter: nothing to log
    EXPECT_EQ(rig.Lines("Client 192.0.2.7 refused - not in the allowed list"), 1);
    EXPECT_EQ(rig.Lines("Client 192.0.2.8 refused - not in the allowed list"), 1);
    EXPECT_EQ(rig.Lines("refused"), 2);

    rig.world.clock.now.second = 59;
    rig.world.clock.now.minute = 5;  // 57 s later
    rig.sock().Refuses("192.0.2.7");
    EXPECT_EQ(rig.Lines("Client 192.0.2.7 refused"), 1);
    rig.world.clock.now.minute = 6;
    rig.sock().Refuses("192.0.2.7");
    EXPECT_EQ(rig.Lines("Client 192.0.2.7 refused"), 2);
    EXPECT_EQ(rig.s().RefusedDatagrams(), 0);
}

TEST(AllowedClients, UdpServerCountsTheDatagramsItDrops)
{
    AllowedRig rig("192.168.1.0/24", true);
    for (int i = 0; i < 5; ++i)
        rig.sock().Refuses("192.0.2.7");
    EXPECT_EQ(rig.s().RefusedDatagrams(), 5);
    EXPECT_EQ(rig.Lines("Client 192.0.2.7 refused - not in the allowed list"), 1);
}

TEST(AllowedClients, AWrongListKeepsTheServerFromStartingAndEmptyLetsAnyoneIn)
{
    AllowedRig rig("10.0.0.0/8");
    ASSERT_TRUE(rig.sock().peerFilter);
    EXPECT_FALSE(rig.sock().peerFilter("192.0.2.1"));
    EXPECT_TRUE(rig.sock().peerFilter("::ffff:10.2.3.4"));
    rig.s().OnActivateButton();

    ChangeOptions(rig.s(), [](SessionSettings& v) { v.AllowedClients = "10.0.0.0/8 10.0.0.256"; });
    rig.s().OnActivateButton();
    EXPECT_FALSE(rig.s().IsActive());
    EXPECT_EQ(rig.s().form().statusText[kNetworkLine],
              "TCP/IP Status: Error - Not an address or prefix: 10.0.0.256");

    ChangeOptions(rig.s(), [](SessionSettings& v) { v.AllowedClients = ""; });
    rig.s().OnActivateButton();
    ASSERT_TRUE(rig.s().IsActive());
    EXPECT_FALSE(rig.sock().peerFilter);
}

}  // namespace
}  // namespace velkon::test
