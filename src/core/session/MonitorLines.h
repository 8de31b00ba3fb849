#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "session/Traffic.h"

namespace velkon {

// The text form of a session's traffic, as the command-line monitor and the
// trace files show it:
//   17:22:28.123 S>N 48 65 6c 6c 6f  Hello
//   17:22:28.125 -- client 127.0.0.1:50312 connected
// One data line per 16 bytes at most. The text column shows "." for every
// byte outside printable ASCII, so no control sequence reaches a terminal.
namespace monitor_lines {

inline constexpr std::size_t kBytesPerLine = 16;

// "17:22:28.123"
std::string ClockText(const LocalDateTime& time);
// "S>N" or "N>S"
const char* DirectionMarker(TrafficDirection direction);
// "client 127.0.0.1:50312 connected", "activated", ...
std::string EventText(const TrafficEvent& event);

void AppendData(std::string& out, const TrafficChunk& chunk);
void AppendEvent(std::string& out, const TrafficEvent& event);
void AppendSkipped(std::string& out, const LocalDateTime& time, std::uint64_t bytes);

}  // namespace monitor_lines

// Monitor lines waiting for a reader that may be slow. It holds at most
// limit bytes of text; a chunk whose lines do not fit is left out and
// counted, and one "-- <n> bytes not shown" line takes its place as soon as
// there is room again. The bridge never waits for the reader.
class MonitorLineBuffer : public TrafficSink {
public:
    explicit MonitorLineBuffer(std::size_t limit) : m_limit(limit) {}

    void OnTrafficData(const TrafficChunk& chunk) override;
    void OnTrafficEvent(const TrafficEvent& event) override;

    // The text the reader has not taken yet.
    std::string_view Pending() const { return std::string_view(m_text).substr(m_taken); }
    // The reader took count bytes of Pending().
    void Consume(std::size_t count);
    std::uint64_t SkippedBytes() const { return m_skipped; }

private:
    bool MakeRoom(const LocalDateTime& time, std::size_t needed, std::size_t limit);

    std::size_t m_limit;
    std::string m_text;
    // Text before this offset was taken by the reader.
    std::size_t m_taken = 0;
    std::uint64_t m_skipped = 0;
};

}  // namespace velkon
