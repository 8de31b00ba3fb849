#include "session/TrafficRows.h"

#include "session/MonitorLines.h"

namespace velkon {

namespace traffic_rows {

namespace {

char Printable(std::uint8_t byte)
{
    return byte >= 0x20 && byte < 0x7f ? static_cast<char>(byte) : '.';
}

template <typename AppendRow>
std::vector<std::string> Rows(const TrafficRecord& record, std::size_t perRow, AppendRow append)
{
    const std::string prefix = Prefix(record);
    std::vector<std::string> rows;
    for (std::size_t start = 0; start < record.bytes.size(); start += perRow) {
        const std::size_t end = std::min(record.bytes.size(), start + perRow);
        std::string row = prefix;
        append(row, start, end);
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

std::string Prefix(const TrafficRecord& record)
{
    std::string out = monitor_lines::ClockText(record.time);
    out += ' ';
    out += monitor_lines::DirectionMarker(record.direction);
    out += ' ';
    out += record.source;
    out.append(record.source.size() < kSourceWidth ? kSourceWidth - record.source.size() : 0, ' ');
    out += "  ";
    return out;
}

std::vector<std::string> HexRows(const TrafficRecord& record)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const auto& bytes = record.bytes;
    return Rows(record, kHexBytesPerRow, [&](std::string& row, std::size_t start, std::size_t end) {
        for (std::size_t i = start; i < end; ++i) {
            row += kHex[bytes[i] >> 4];
            row += kHex[bytes[i] & 0x0f];
            row += ' ';
        }
        // The text column lines up under a short last row.
        row.append((kHexBytesPerRow - (end - start)) * 3 + 1, ' ');
        for (std::size_t i = start; i < end; ++i)
            row += Printable(bytes[i]);
    });
}

std::vector<std::string> TextRows(const TrafficRecord& record)
{
    const auto& bytes = record.bytes;
    return Rows(record, kTextBytesPerRow,
                [&](std::string& row, std::size_t start, std::size_t end) {
                    for (std::size_t i = start; i < end; ++i)
                        row += Printable(bytes[i]);
                });
}

}  // namespace traffic_rows

void TrafficRate::Add(std::int64_t timeMs, std::uint64_t total)
{
    if (!m_samples.empty() && total < m_samples.back().second)
        m_samples.clear();
    m_samples.emplace_back(timeMs, total);
    // One sample older than the span stays, so the span is always covered.
    while (m_samples.size() > 2 && m_samples[1].first <= timeMs - m_spanMs)
        m_samples.pop_front();
}

double TrafficRate::PerSecond() const
{
    if (m_samples.size() < 2)
        return 0;
    const auto& [firstTime, firstTotal] = m_samples.front();
    const auto& [lastTime, lastTotal] = m_samples.back();
    if (lastTime <= firstTime)
        return 0;
    return static_cast<double>(lastTotal - firstTotal) * 1000.0 /
           static_cast<double>(lastTime - firstTime);
}

}  // namespace velkon
