// A session's counts and the monitor lines of its traffic.

#include <sstream>

#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "session/MonitorLines.h"

namespace velkon::test {
namespace {

Bytes AllValues(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i);
    return b;
}

struct MonitoredServer : SessionRig {
    MonitoredServer()
    {
        ActivateServer();
        sock().PeerConnects(1);
        sock().PeerConnects(2);
    }
};

// The bytes a set of monitor lines shows, by direction; the lines must have
// the documented shape or the test fails.
struct Rebuilt {
    Bytes toNetwork;
    Bytes toSerial;
    std::vector<std::string> events;
};

Rebuilt Rebuild(std::string_view text)
{
    Rebuilt out;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        EXPECT_EQ(line.size() > 13 && line[2] == ':' && line[5] == ':' && line[8] == '.' &&
                      line[12] == ' ',
                  true)
            << line;
        const std::string rest = line.substr(13);
        if (rest.rfind("-- ", 0) == 0) {
            out.events.push_back(rest.substr(3));
            continue;
        }
        Bytes& target = rest.rfind("S>N ", 0) == 0 ? out.toNetwork : out.toSerial;
        EXPECT_TRUE(rest.rfind("S>N ", 0) == 0 || rest.rfind("N>S ", 0) == 0) << line;
        const std::size_t gap = rest.find("  ", 4);
        if (gap == std::string::npos) {
            ADD_FAILURE() << "no text column: " << line;
            continue;
        }
        std::istringstream hex(rest.substr(4, gap - 4));
        std::string pair;
        std::string shown;
        while (hex >> pair) {
            EXPECT_EQ(pair.size(), 2u) << line;
            const auto b = static_cast<std::uint8_t>(std::stoi(pair, nullptr, 16));
            target.push_back(b);
            shown += (b >= 0x20 && b <= 0x7e) ? static_cast<char>(b) : '.';
        }
        EXPECT_EQ(rest.substr(gap + 2), shown) << line;
    }
    return out;
}

TEST(Traffic, CountsAreExactForEveryDirectionAndClient)
{
    MonitoredServer rig;
    const Bytes mib = AllValues(1 << 20);
    for (std::size_t at = 0; at < mib.size(); at += 4096)
        rig.serial().Arrive(
            Bytes(mib.begin() + static_cast<long>(at), mib.begin() + static_cast<long>(at + 4096)));
    rig.sock().PeerSends(1, Bytes(mib.begin(), mib.begin() + 300000));
    rig.sock().PeerSends(2, Bytes(mib.begin(), mib.begin() + 1000));
    const TrafficCounters& c = rig.s().Counters();
    EXPECT_EQ(c.serialRead, mib.size());
    EXPECT_EQ(c.networkSent, 2 * mib.size());
    EXPECT_EQ(c.networkReceived, 301000u);
    EXPECT_EQ(c.serialWritten, rig.serial().transmitted.size());
    EXPECT_EQ(c.serialWritten, 301000u);
    EXPECT_EQ(c.dropped, 0u);
    EXPECT_EQ(rig.s().traffic().Clients().at(2).received, 1000u);
    EXPECT_EQ(rig.s().traffic().Clients().at(1).sent, mib.size());

    // A client that left still counts; a new activation starts again.
    rig.sock().PeerCloses(1);
    EXPECT_EQ(rig.s().Counters().networkReceived, 301000u);
    rig.s().OnActivateButton();
    rig.s().OnActivateButton();
    EXPECT_EQ(rig.s().Counters().serialRead, 0u);
    EXPECT_EQ(rig.s().Counters().networkSent, 0u);
}

TEST(Traffic, DroppedBytesAreCountedApartFromTheSentOnes)
{
    MonitoredServer rig;
    ChangeOptions(rig.s(), [](SessionSettings& t) { t.ServerTCPOptions = 2; });
    rig.s().OnActivateButton();
    rig.s().OnActivateButton();
    rig.sock().PeerConnects(1);
    rig.sock().PeerConnects(2);
    rig.sock().PeerSends(2, B("ignored"));
    rig.sock().PeerSends(1, B("taken"));
    EXPECT_EQ(rig.s().Counters().networkReceived, 12u);
    EXPECT_EQ(rig.s().Counters().serialWritten, 5u);
    EXPECT_EQ(rig.s().Counters().dropped, 7u);
}

TEST(Traffic, MonitorLinesRebuildEveryByteInBothDirections)
{
    MonitoredServer rig;
    MonitorLineBuffer lines(1 << 20);
    rig.s().traffic().Attach(&lines);
    rig.world.clock.now.millisecond = 7;
    const Bytes all = AllValues(256);
    rig.serial().Arrive(Bytes(all.begin(), all.begin() + 100));
    rig.serial().Arrive(Bytes(all.begin() + 100, all.end()));
    rig.sock().PeerSends(2, all);
    rig.sock().PeerCloses(2);
    rig.s().traffic().Detach(&lines);

    const Rebuilt rebuilt = Rebuild(lines.Pending());
    EXPECT_EQ(rebuilt.toNetwork, all);
    EXPECT_EQ(rebuilt.toSerial, all);
    EXPECT_EQ(rebuilt.events, std::vector<std::string>{"client 10.0.0.2:0 left"});
    EXPECT_EQ(lines.Pending().substr(0, 21), "09:05:02.007 S>N 00 0");
    // Terminal escapes and other control bytes never reach the text column.
    EXPECT_EQ(lines.Pending().find('\x1b'), std::string::npos);
}

TEST(Traffic, ASlowReaderGetsOneSkipLineThatCountsWhatItMissed)
{
    MonitoredServer rig;
    MonitorLineBuffer lines(8192);
    rig.s().traffic().Attach(&lines);
    const Bytes chunk = AllValues(1000);
    for (int i = 0; i < 5; ++i)
        rig.serial().Arrive(chunk);
    // The reader catches up; what follows is shown after the skip line.
    lines.Consume(lines.Pending().size());
    rig.serial().Arrive(B("end"));
    const Rebuilt rebuilt = Rebuild(lines.Pending());
    ASSERT_EQ(rebuilt.events.size(), 1u);
    EXPECT_EQ(rebuilt.events[0], "4000 bytes not shown");
    EXPECT_EQ(S(rebuilt.toNetwork), "end");
    // The bridge passed everything on regardless.
    EXPECT_EQ(rig.sock().el(1).sent.size(), 5003u);
    rig.s().traffic().Detach(&lines);
}

}  // namespace
}  // namespace velkon::test
