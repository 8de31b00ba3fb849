#include <gtest/gtest.h>

#include "session/ByteQueue.h"
#include "session/Numbers.h"

namespace velkon {
namespace {

Bytes Range(int from, int to)
{
    Bytes b;
    for (int i = from; i <= to; ++i)
        b.push_back(static_cast<std::uint8_t>(i));
    return b;
}

TEST(ByteQueue, AddKeepsOnlyWhatFitsAndNeverOverwrites)
{
    ByteQueue q;
    q.Allocate(1024);
    EXPECT_EQ(q.Add(Bytes(1000, 7)), 1000);
    EXPECT_EQ(q.Add(Range(1, 100)), 24);
    EXPECT_EQ(q.Count(), 1024);
    EXPECT_EQ(q.Data()[1000], 1);
    EXPECT_EQ(q.Data()[1023], 24);
    EXPECT_EQ(q.Add(Range(1, 5)), 0);
    EXPECT_EQ(q.Count(), 1024);
    EXPECT_EQ(q.Data()[999], 7);
}

TEST(ByteQueue, ReadTakesFromTheFront)
{
    ByteQueue q;
    q.Allocate(64);
    q.Add(Range(1, 10));
    std::int32_t r = 4;
    EXPECT_EQ(q.Read(r), Range(1, 4));
    EXPECT_EQ(r, 4);
    EXPECT_EQ(q.Count(), 6);
    EXPECT_EQ(q.Data()[0], 5);
    EXPECT_EQ(q.Data()[5], 10);
    // New bytes follow the remaining old ones without a gap.
    q.Add(Range(11, 12));
    r = -1;
    EXPECT_EQ(q.Read(r), Range(5, 12));
    EXPECT_EQ(r, 8);
    EXPECT_EQ(q.Count(), 0);
}

TEST(ByteQueue, ReadCountEdges)
{
    ByteQueue q;
    q.Allocate(64);
    q.Add(Range(1, 10));
    std::int32_t r = 0;
    EXPECT_TRUE(q.Read(r).empty());
    EXPECT_EQ(r, 0);
    EXPECT_EQ(q.Count(), 10);
    r = 20;
    EXPECT_EQ(q.Read(r), Range(1, 10));
    EXPECT_EQ(r, 10);
    r = -1;
    EXPECT_TRUE(q.Read(r).empty());
    EXPECT_EQ(r, 0);
    r = 5;
    EXPECT_TRUE(q.Read(r).empty());
    EXPECT_EQ(r, 0);
}

TEST(ByteQueue, AllocateEmptiesAndClearDropsInOneStep)
{
    ByteQueue q;
    EXPECT_EQ(q.Add(Range(1, 3)), 0);  // no storage before the first activation
    q.Allocate(8);
    q.Add(Range(1, 8));
    q.Clear();
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(q.Add(Range(20, 21)), 2);
    q.Allocate(4);
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(q.Capacity(), 4);
}

TEST(ByteQueue, MemoryFollowsTheBytesInFlight)
{
    ByteQueue q;
    q.Allocate(512 * 1024);
    EXPECT_LE(q.Reserved(), ByteQueue::kKeptWhenEmpty);
    Bytes chunk(100 * 1024);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<std::uint8_t>(i * 7);
    // Interleaved adds and partial reads keep the order across compactions.
    Bytes expected;
    Bytes got;
    for (int round = 0; round < 12; ++round) {
        const std::int32_t added = q.Add(chunk);
        expected.insert(expected.end(), chunk.begin(), chunk.begin() + added);
        std::int32_t n = 30 * 1024 + round;
        const Bytes part = q.Read(n);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_LE(q.Count(), q.Capacity());
    EXPECT_GT(q.Reserved(), 256 * 1024);
    std::int32_t all = -1;
    const Bytes rest = q.Read(all);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, expected);
    EXPECT_LE(q.Reserved(), ByteQueue::kKeptWhenEmpty);
}

TEST(ByteQueue, InPlaceWritesKeepOrderAndNeverPassTheCapacity)
{
    ByteQueue q(1000);
    Bytes expected;
    Bytes got;
    int next = 0;
    for (int round = 0; round < 50; ++round) {
        // Asks for more than fits; fills only part of what it was given.
        const std::span<std::uint8_t> space = q.Prepare(700);
        ASSERT_LE(static_cast<std::int32_t>(space.size()), q.Room());
        const std::int32_t fill = static_cast<std::int32_t>(space.size()) / 2 + 1;
        for (std::int32_t i = 0; i < fill && i < static_cast<std::int32_t>(space.size()); ++i) {
            space[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(next);
            expected.push_back(static_cast<std::uint8_t>(next++));
        }
        q.Commit(std::min<std::int32_t>(fill, static_cast<std::int32_t>(space.size())));
        ASSERT_LE(q.Count(), q.Capacity());
        const std::int32_t take = std::min(q.Count(), 300 + round);
        got.insert(got.end(), q.Data(), q.Data() + take);
        q.Drop(take);
    }
    got.insert(got.end(), q.Data(), q.Data() + q.Count());
    EXPECT_EQ(got, expected);
}

TEST(LeadingNumber, ReadsTheLongestDecimalPrefixIgnoringBlanks)
{
    EXPECT_EQ(LeadingNumber("1 000"), 1000);
    EXPECT_EQ(LeadingNumber("80abc"), 80);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber(" -12\t5"), -125);
    EXPECT_EQ(LeadingNumber("175.5ms"), 175.5);
    EXPECT_EQ(LeadingNumber("1e3x"), 1000);
    EXPECT_EQ(LeadingNumber("2e"), 2);
    EXPECT_EQ(LeadingNumber("+7"), 7);
    EXPECT_EQ(LeadingNumber("-"), 0);
    EXPECT_EQ(LeadingNumber(".5"), 0.5);
    EXPECT_EQ(LeadingNumber("1e999"), std::numeric_limits<double>::max());
}

TEST(LeadingNumber, WholeNumbersRoundHalfToEven)
{
    EXPECT_EQ(LeadingWholeNumber("2.5"), 2);
    EXPECT_EQ(LeadingWholeNumber("3.5"), 4);
    EXPECT_EQ(LeadingWholeNumber("-2.5"), -2);
    EXPECT_EQ(LeadingWholeNumber("2.6"), 3);
    EXPECT_EQ(LeadingWholeNumber("99999999999"), 2147483647);
    EXPECT_EQ(NumberText(175.5), "175.5");
    EXPECT_EQ(NumberText(200), "200");
    EXPECT_EQ(NumberText(-3), "-3");
}

}  // namespace
}  // namespace velkon
