// Trace files: complete, ordered, private files that rotate at their limit,
// and a failure that is reported once and stops the trace.

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "session/MonitorLines.h"
#include "system/TraceFileWriter.h"

namespace velkon::test {
namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TraceRig {
    QTemporaryDir dir;
    std::string path = dir.filePath("trace.txt").toStdString();
    std::vector<std::string> failures;
    TraceFileWriter::Failed Failed()
    {
        return [this](const std::string& reason) { failures.push_back(reason); };
    }
    std::unique_ptr<TraceFileWriter> Open(bool hex, std::int64_t maxBytes)
    {
        return std::make_unique<TraceFileWriter>(TraceOptions{path, hex, maxBytes}, Failed());
    }
};

// Chunks of every size from 1 to count bytes, both directions, with an
// event now and then; returns the monitor's text of all of it.
std::string Feed(TrafficSink& sink, int count, std::string* rawBytes = nullptr)
{
    std::string expected;
    for (int n = 1; n <= count; ++n) {
        Bytes data(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(n * 7 + static_cast<int>(i));
        TrafficChunk chunk;
        chunk.time.second = n % 60;
        chunk.direction =
            n % 2 ? TrafficDirection::kSerialToNetwork : TrafficDirection::kNetworkToSerial;
        chunk.bytes = data;
        sink.OnTrafficData(chunk);
        monitor_lines::AppendData(expected, chunk);
        if (rawBytes)
            rawBytes->append(data.begin(), data.end());
        if (n % 10 == 0) {
            const TrafficEvent event{chunk.time, TrafficEventKind::kClientConnected,
                                     "127.0.0.1:" + std::to_string(n)};
            sink.OnTrafficEvent(event);
            monitor_lines::AppendEvent(expected, event);
        }
    }
    return expected;
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

TEST(TraceFile, RotatesAtTheLimitWithWholeLinesAndLosesNothing)
{
    TraceRig rig;
    auto writer = rig.Open(true, 8192);
    const std::string expected = Feed(*writer, 60);
    writer.reset();
    ASSERT_GT(expected.size(), 8192u);
    ASSERT_LT(expected.size(), 2 * 8192u - 100);  // exactly one rotation

    const std::string first = ReadFile(rig.path + ".1");
    const std::string second = ReadFile(rig.path);
    EXPECT_EQ(first + second, expected);
    EXPECT_LE(first.size(), 8192u);
    EXPECT_GT(first.size(), 8192u - 100);  // filled up to the last whole line
    EXPECT_EQ(first.back(), '\n');
    EXPECT_EQ(ModeOf(rig.path), 0600u);
    EXPECT_EQ(ModeOf(rig.path + ".1"), 0600u);
    EXPECT_TRUE(rig.failures.empty());
}

TEST(TraceFile, RawModeAppendsOnlyTheDataBytes)
{
    TraceRig rig;
    {
        std::ofstream(rig.path) << "before|";
    }
    std::string bytes = "before|";
    auto writer = rig.Open(false, 1 << 20);
    Feed(*writer, 40, &bytes);
    writer.reset();
    EXPECT_EQ(ReadFile(rig.path), bytes);
}

TEST(TraceFile, UnusableFileIsReportedOnceAndTracingStops)
{
    TraceRig rig;
    const std::string fifo = rig.dir.filePath("fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {fifo, rig.dir.filePath("missing/trace.txt").toStdString(), std::string("/dev/full")}) {
        rig.failures.clear();
        rig.path = path;
        auto writer = rig.Open(true, 1 << 20);
        EXPECT_TRUE(rig.failures.empty()) << "failed must come from the event loop";
        ASSERT_TRUE(WaitFor([&] { return !rig.failures.empty(); })) << path;
        Feed(*writer, 20);
        RunPendingEvents();
        EXPECT_EQ(rig.failures.size(), 1u) << path;
        EXPECT_NE(rig.failures[0].find(path), std::string::npos) << rig.failures[0];
    }
}

TEST(TraceFile, WriteFailureStopsTheTraceAndNothingIsReportedAfterTheEnd)
{
    TraceRig rig;
    // The rotation cannot replace a folder: the writer thread fails.
    ASSERT_EQ(::mkdir((rig.path + ".1").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((rig.path + ".1/keep").c_str(), 0700), 0);
    auto writer = rig.Open(true, 1024);
    Feed(*writer, 40);
    ASSERT_TRUE(WaitFor([&] { return !rig.failures.empty(); }));
    EXPECT_NE(rig.failures[0].find("rename"), std::string::npos) << rig.failures[0];
    Feed(*writer, 40);
    writer.reset();
    RunPendingEvents();
    EXPECT_EQ(rig.failures.size(), 1u);

    // A failure still queued when the trace ends is not delivered.
    rig.failures.clear();
    rig.path = rig.dir.filePath("missing/trace.txt").toStdString();
    rig.Open(true, 1024).reset();
    RunPendingEvents();
    EXPECT_TRUE(rig.failures.empty());
}

}  // namespace
}  // namespace velkon::test
