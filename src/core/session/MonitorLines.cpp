#include "session/MonitorLines.h"

#include <cstdio>

namespace velkon {

namespace monitor_lines {

namespace {

// "12:34:56.789 " without snprintf on the data path.
void AppendClock(std::string& out, const LocalDateTime& time)
{
    const auto two = [&](int v) {
        out += static_cast<char>('0' + (v / 10) % 10);
        out += static_cast<char>('0' + v % 10);
    };
    two(time.hour);
    out += ':';
    two(time.minute);
    out += ':';
    two(time.second);
    out += '.';
    out += static_cast<char>('0' + (time.millisecond / 100) % 10);
    two(time.millisecond % 100);
}

}  // namespace

std::string ClockText(const LocalDateTime& time)
{
    std::string text;
    AppendClock(text, time);
    return text;
}

const char* DirectionMarker(TrafficDirection direction)
{
    return direction == TrafficDirection::kSerialToNetwork ? "S>N" : "N>S";
}

std::string EventText(const TrafficEvent& event)
{
    switch (event.kind) {
        case TrafficEventKind::kActivated:
            return "activated";
        case TrafficEventKind::kDeactivated:
            return "deactivated";
        case TrafficEventKind::kClientConnected:
            return "client " + event.detail + " connected";
        case TrafficEventKind::kClientLeft:
            return "client " + event.detail + " left";
        case TrafficEventKind::kDeviceLost:
            return event.detail.empty() ? "device lost" : "device lost: " + event.detail;
        case TrafficEventKind::kDeviceBack:
            return "device back";
        case TrafficEventKind::kSessionRemoved:
            return "session removed";
    }
    return {};
}

void AppendData(std::string& out, const TrafficChunk& chunk)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const char* marker = DirectionMarker(chunk.direction);
    const std::size_t size = chunk.bytes.size();
    out.reserve(out.size() + (size / kBytesPerLine + 1) * 18 + size * 4);
    for (std::size_t start = 0; start < size; start += kBytesPerLine) {
        const std::size_t end = std::min(size, start + kBytesPerLine);
        AppendClock(out, chunk.time);
        out += ' ';
        out += marker;
        out += ' ';
        for (std::size_t i = start; i < end; ++i) {
            if (i != start)
                out += ' ';
            out += kHex[chunk.bytes[i] >> 4];
            out += kHex[chunk.bytes[i] & 0x0f];
        }
        out += "  ";
        for (std::size_t i = start; i < end; ++i) {
            const std::uint8_t b = chunk.bytes[i];
            out += (b >= 0x20 && b <= 0x7e) ? static_cast<char>(b) : '.';
        }
        out += '\n';
    }
}

void AppendEvent(std::string& out, const TrafficEvent& event)
{
    AppendClock(out, event.time);
    out += " -- ";
    out += EventText(event);
    out += '\n';
}

void AppendSkipped(std::string& out, const LocalDateTime& time, std::uint64_t bytes)
{
    AppendClock(out, time);
    out += " -- ";
    out += std::to_string(bytes);
    out += " bytes not shown\n";
}

}  // namespace monitor_lines

namespace {

// The text of one data line is at most this long: clock, marker, 16 hex
// pairs with blanks, two blanks, 16 characters, line feed.
constexpr std::size_t kLongestDataLine = 12 + 5 + 47 + 2 + 16 + 1;

}  // namespace

bool MonitorLineBuffer::MakeRoom(const LocalDateTime& time, std::size_t needed, std::size_t limit)
{
    // The skip line itself needs room as well.
    constexpr std::size_t kSkipLine = 48;
    const std::size_t waiting = m_text.size() - m_taken;
    const std::size_t pending = m_skipped > 0 ? kSkipLine : 0;
    if (waiting + pending + needed > limit)
        return false;
    if (m_skipped > 0) {
        monitor_lines::AppendSkipped(m_text, time, m_skipped);
        m_skipped = 0;
    }
    return true;
}

void MonitorLineBuffer::OnTrafficData(const TrafficChunk& chunk)
{
    const std::size_t lines =
        (chunk.bytes.size() + monitor_lines::kBytesPerLine - 1) / monitor_lines::kBytesPerLine;
    if (!MakeRoom(chunk.time, lines * kLongestDataLine, m_limit)) {
        m_skipped += chunk.bytes.size();
        return;
    }
    monitor_lines::AppendData(m_text, chunk);
}

void MonitorLineBuffer::OnTrafficEvent(const TrafficEvent& event)
{
    // Events are few and tell what happened: they may use room beyond the
    // data's limit, so a reader that is behind still learns of them.
    if (!MakeRoom(event.time, 96 + event.detail.size(), 2 * m_limit))
        return;
    monitor_lines::AppendEvent(m_text, event);
}

void MonitorLineBuffer::Consume(std::size_t count)
{
    m_taken = std::min(m_text.size(), m_taken + count);
    if (m_taken == m_text.size()) {
        m_text.clear();
        m_taken = 0;
    } else if (m_taken > m_text.size() / 2) {
        m_text.erase(0, m_taken);
        m_taken = 0;
    }
}

}  // namespace velkon
