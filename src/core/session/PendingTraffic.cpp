#include "session/PendingTraffic.h"

namespace velkon {

void PendingTraffic::OnTrafficData(const TrafficChunk& chunk)
{
    const std::size_t size = chunk.bytes.size();
    if (size > m_limit - m_bytes) {
        m_skipped += size;
        if (m_records.empty() || m_records.back().kind != TrafficRecord::Kind::kSkipped) {
            TrafficRecord gap;
            gap.kind = TrafficRecord::Kind::kSkipped;
            gap.time = chunk.time;
            m_records.push_back(std::move(gap));
        }
        m_records.back().skipped += size;
        return;
    }
    TrafficRecord record;
    record.time = chunk.time;
    record.direction = chunk.direction;
    record.source.assign(chunk.source);
    record.bytes.assign(chunk.bytes.begin(), chunk.bytes.end());
    m_records.push_back(std::move(record));
    m_bytes += size;
}

void PendingTraffic::OnTrafficEvent(const TrafficEvent& event)
{
    if (event.kind == TrafficEventKind::kSessionRemoved)
        m_removed = true;
    const std::size_t cost = kEventCost + event.detail.size();
    if (cost > m_limit - m_bytes)
        return;
    m_bytes += cost;
    TrafficRecord record;
    record.kind = TrafficRecord::Kind::kEvent;
    record.time = event.time;
    record.event = event.kind;
    record.source = event.detail;
    m_records.push_back(std::move(record));
}

std::vector<TrafficRecord> PendingTraffic::Take()
{
    std::vector<TrafficRecord> taken;
    taken.swap(m_records);
    m_bytes = 0;
    return taken;
}

}  // namespace velkon
