#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "session/PendingTraffic.h"

namespace velkon {

// The rows of a monitor window for one chunk of data:
//   hex:  12:34:56.789 N>S 127.0.0.1:50312       48 65 6c 6c 6f ...  Hello
//   text: 12:34:56.789 N>S 127.0.0.1:50312       Hello
// Bytes outside printable ASCII show as "." in the text column.
namespace traffic_rows {

inline constexpr std::size_t kHexBytesPerRow = 16;
inline constexpr std::size_t kTextBytesPerRow = 64;
// Wide enough for "255.255.255.255:65535"; longer sources push the columns.
inline constexpr std::size_t kSourceWidth = 21;

// "12:34:56.789 N>S source  " in front of every row.
std::string Prefix(const TrafficRecord& record);
std::vector<std::string> HexRows(const TrafficRecord& record);
std::vector<std::string> TextRows(const TrafficRecord& record);

}  // namespace traffic_rows

// Bytes per second over the last few seconds, from samples of a running
// total taken now and then.
class TrafficRate {
public:
    explicit TrafficRate(std::int64_t spanMs = 3000) : m_spanMs(spanMs) {}
    void Add(std::int64_t timeMs, std::uint64_t total);
    // 0 until two samples exist; a total that fell (a new activation)
    // starts the samples again.
    double PerSecond() const;

private:
    std::int64_t m_spanMs;
    std::deque<std::pair<std::int64_t, std::uint64_t>> m_samples;
};

}  // namespace velkon
