#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/Traffic.h"

namespace velkon {

// One entry of a monitor view: a chunk of data, a connection event, or the
// place where bytes were left out.
struct TrafficRecord {
    enum class Kind { kData, kEvent, kSkipped };
    Kind kind = Kind::kData;
    LocalDateTime time;
    TrafficDirection direction = TrafficDirection::kSerialToNetwork;
    TrafficEventKind event = TrafficEventKind::kActivated;
    // The chunk's source, or the event's detail.
    std::string source;
    std::vector<std::uint8_t> bytes;
    // Bytes left out at this place (kSkipped).
    std::uint64_t skipped = 0;
};

// What a monitor window has not shown yet. The bridge only copies into it;
// once limit bytes wait, further chunks are left out and counted in one
// kSkipped entry at the place they were lost, so the bridge never waits for
// the window. Events count as kEventCost bytes each and are dropped
// (uncounted) when there is no room.
class PendingTraffic : public TrafficSink {
public:
    static constexpr std::size_t kEventCost = 64;

    explicit PendingTraffic(std::size_t limit) : m_limit(limit) {}

    void OnTrafficData(const TrafficChunk& chunk) override;
    void OnTrafficEvent(const TrafficEvent& event) override;

    // Hands over everything waiting, in order; the buffer is empty after.
    std::vector<TrafficRecord> Take();
    bool Empty() const { return m_records.empty(); }
    // Left out since the sink was made.
    std::uint64_t SkippedBytes() const { return m_skipped; }
    // The session is gone: the sink must not touch its feed any more.
    bool SessionRemoved() const { return m_removed; }

private:
    std::size_t m_limit;
    std::vector<TrafficRecord> m_records;
    std::size_t m_bytes = 0;
    std::uint64_t m_skipped = 0;
    bool m_removed = false;
};

}  // namespace velkon
