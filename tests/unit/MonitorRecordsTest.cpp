// What a monitor window keeps of a session's traffic and the rows it shows.

#include <sstream>

#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "session/PendingTraffic.h"
#include "session/TrafficRows.h"

namespace velkon::test {
namespace {

Bytes Counting(std::size_t n, std::size_t from = 0)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(from + i);
    return b;
}

struct WatchedServer : SessionRig {
    WatchedServer()
    {
        ActivateServer();
        sock().PeerConnects(1);
    }
};

TEST(PendingTraffic, AFullBufferCountsEverySkippedByteAtThePlaceItWasLost)
{
    WatchedServer rig;
    PendingTraffic pending(1000);
    rig.s().traffic().Attach(&pending);
    rig.serial().Arrive(Counting(600));
    rig.sock().PeerSends(1, Counting(300));
    rig.serial().Arrive(Counting(150));      // does not fit
    rig.serial().Arrive(Counting(120));      // nor does this
    rig.sock().PeerSends(1, Counting(100));  // fills the buffer exactly
    rig.serial().Arrive(Counting(1));

    EXPECT_EQ(pending.SkippedBytes(), 271u);
    const auto records = pending.Take();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].bytes, Counting(600));
    EXPECT_EQ(records[1].source, "10.0.0.1:0");
    EXPECT_EQ(records[2].kind, TrafficRecord::Kind::kSkipped);
    EXPECT_EQ(records[2].skipped, 270u);
    EXPECT_EQ(records[3].direction, TrafficDirection::kNetworkToSerial);
    EXPECT_EQ(records[3].bytes, Counting(100));
    EXPECT_EQ(records[4].skipped, 1u);

    // Taken: there is room again, and the bridge passed everything on.
    rig.serial().Arrive(Counting(999));
    EXPECT_EQ(pending.Take().at(0).bytes.size(), 999u);
    EXPECT_EQ(rig.sock().el(1).sent.size(), 600u + 150 + 120 + 1 + 999);
    rig.s().traffic().Detach(&pending);
}

TEST(PendingTraffic, EventsKeepTheirOrderAndTheSessionsEndIsSeen)
{
    auto rig = std::make_unique<WatchedServer>();
    PendingTraffic pending(1 << 20);
    rig->s().traffic().Attach(&pending);
    rig->serial().Arrive(B("abc"));
    rig->sock().PeerCloses(1);
    EXPECT_FALSE(pending.SessionRemoved());
    rig.reset();
    EXPECT_TRUE(pending.SessionRemoved());
    const auto records = pending.Take();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[0].kind, TrafficRecord::Kind::kData);
    EXPECT_EQ(records[1].event, TrafficEventKind::kClientLeft);
    EXPECT_EQ(records[1].source, "10.0.0.1:0");
    EXPECT_EQ(records.back().event, TrafficEventKind::kSessionRemoved);
}

// The bytes the hex column of a set of rows names; each row's text column
// must show the same bytes.
Bytes FromHexRows(const std::vector<std::string>& rows, std::size_t prefixSize)
{
    Bytes out;
    for (const std::string& row : rows) {
        const std::size_t textAt = prefixSize + traffic_rows::kHexBytesPerRow * 3 + 1;
        std::istringstream hex(row.substr(prefixSize, textAt - prefixSize));
        std::string shown;
        std::string pair;
        while (hex >> pair) {
            const auto b = static_cast<std::uint8_t>(std::stoi(pair, nullptr, 16));
            out.push_back(b);
            shown += b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.';
        }
        EXPECT_EQ(row.substr(textAt), shown) << row;
    }
    return out;
}

TEST(TrafficRows, HexAndTextRowsShowEveryByteOfAChunk)
{
    TrafficRecord record;
    record.time.hour = 17;
    record.time.minute = 2;
    record.time.second = 9;
    record.time.millisecond = 45;
    record.direction = TrafficDirection::kNetworkToSerial;
    record.source = "192.168.1.20:50312";
    record.bytes = Counting(300, 250);  // wraps through 0, every value once or twice

    const std::string prefix = traffic_rows::Prefix(record);
    EXPECT_EQ(prefix.substr(0, 36), "17:02:09.045 N>S 192.168.1.20:50312 ");
    const auto hex = traffic_rows::HexRows(record);
    EXPECT_EQ(hex.size(), 19u);
    EXPECT_EQ(FromHexRows(hex, prefix.size()), record.bytes);

    std::string text;
    for (const std::string& row : traffic_rows::TextRows(record)) {
        ASSERT_EQ(row.substr(0, prefix.size()), prefix);
        text += row.substr(prefix.size());
    }
    ASSERT_EQ(text.size(), record.bytes.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t b = record.bytes[i];
        EXPECT_EQ(text[i], b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.') << i;
    }
}

TEST(TrafficRate, BytesPerSecondOverTheLastSpanAndAgainAfterAReset)
{
    TrafficRate rate(3000);
    EXPECT_EQ(rate.PerSecond(), 0);
    rate.Add(0, 0);
    rate.Add(1000, 5000);
    EXPECT_DOUBLE_EQ(rate.PerSecond(), 5000);
    // A quiet span lets the rate fall to what the last seconds moved.
    rate.Add(2000, 5000);
    rate.Add(5000, 5000);
    rate.Add(6000, 5300);
    EXPECT_DOUBLE_EQ(rate.PerSecond(), 75);  // 300 bytes since 2000
    // The counts started again.
    rate.Add(7000, 10);
    EXPECT_EQ(rate.PerSecond(), 0);
    rate.Add(7500, 510);
    EXPECT_DOUBLE_EQ(rate.PerSecond(), 1000);
}

}  // namespace
}  // namespace velkon::test
