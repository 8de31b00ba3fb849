#include "system/TraceFileWriter.h"

#include <chrono>
#include <cstring>

#include <QCoreApplication>

#include "session/MonitorLines.h"

namespace velkon {

namespace {

// Formatted text is written in pieces of about this size, so a full buffer
// does not become four times its size in text at once.
constexpr std::size_t kTextPiece = std::size_t{1} << 20;

}  // namespace

TraceFileWriter::TraceFileWriter(const TraceOptions& options, Failed failed,
                                 std::size_t bufferLimit)
    : m_hex(options.hex),
      m_bufferLimit(bufferLimit),
      m_failed(std::move(failed)),
      m_file(options.path, options.maxBytes, options.hex)
{
    if (Result opened = m_file.Open(); !opened) {
        Fail(opened.description());
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

TraceFileWriter::~TraceFileWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    *m_alive = false;
}

void TraceFileWriter::OnTrafficData(const TrafficChunk& chunk)
{
    if (!m_hex) {
        Append(nullptr, chunk.bytes.data(), chunk.bytes.size());
        return;
    }
    const RecordHead head{0, static_cast<std::uint8_t>(chunk.direction), chunk.time,
                          static_cast<std::uint32_t>(chunk.bytes.size())};
    Append(&head, chunk.bytes.data(), chunk.bytes.size());
}

void TraceFileWriter::OnTrafficEvent(const TrafficEvent& event)
{
    if (!m_hex)
        return;
    const RecordHead head{1, static_cast<std::uint8_t>(event.kind), event.time,
                          static_cast<std::uint32_t>(event.detail.size())};
    Append(&head, reinterpret_cast<const std::uint8_t*>(event.detail.data()), event.detail.size());
}

void TraceFileWriter::Append(const RecordHead* head, const std::uint8_t* data, std::size_t size)
{
    if (m_stopped.load(std::memory_order_relaxed))
        return;
    const std::size_t total = size + (head ? sizeof *head : 0);
    bool wake = false;
    bool overflow = false;
    {
        std::lock_guard lock(m_mutex);
        const std::size_t before = m_pending.size();
        overflow = before + total > m_bufferLimit;
        if (overflow) {
            // What waits is dropped too: closing must not wait for it.
            m_pending.clear();
        } else {
            if (head)
                m_pending.append(reinterpret_cast<const char*>(head), sizeof *head);
            m_pending.append(reinterpret_cast<const char*>(data), size);
            // Only the crossing wakes the thread: a wake per chunk would be
            // a system call per chunk.
            wake = before < kWakeBytes && m_pending.size() >= kWakeBytes;
        }
    }
    if (wake)
        m_wake.notify_one();
    if (overflow) {
        Fail("trace file " + m_file.path() + " stopped: more than " +
             std::to_string(m_bufferLimit >> 20) + " MiB of traffic waited for the disk");
    }
}

void TraceFileWriter::Run()
{
    std::string batch;
    for (;;) {
        bool closing = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::seconds(1),
                            [this] { return m_closing || m_pending.size() >= kWakeBytes; });
            batch.swap(m_pending);
            closing = m_closing;
        }
        if (!batch.empty() && !m_stopped.load(std::memory_order_relaxed)) {
            if (Result written = WriteBatch(batch); !written)
                Fail(written.description());
        }
        batch.clear();
        if (closing)
            return;
    }
}

Result TraceFileWriter::WriteBatch(const std::string& batch)
{
    return m_hex ? WriteRecords(batch) : m_file.Write(batch);
}

Result TraceFileWriter::WriteRecords(const std::string& batch)
{
    std::string text;
    text.reserve(kTextPiece + 4096);
    std::size_t at = 0;
    while (at < batch.size()) {
        RecordHead head;
        std::memcpy(&head, batch.data() + at, sizeof head);
        at += sizeof head;
        const char* payload = batch.data() + at;
        at += head.size;
        if (head.isEvent) {
            TrafficEvent event;
            event.time = head.time;
            event.kind = static_cast<TrafficEventKind>(head.code);
            event.detail.assign(payload, head.size);
            monitor_lines::AppendEvent(text, event);
        } else {
            TrafficChunk chunk;
            chunk.time = head.time;
            chunk.direction = static_cast<TrafficDirection>(head.code);
            chunk.bytes = {reinterpret_cast<const std::uint8_t*>(payload), head.size};
            monitor_lines::AppendData(text, chunk);
        }
        if (text.size() >= kTextPiece || at >= batch.size()) {
            if (Result written = m_file.Write(text); !written)
                return written;
            text.clear();
        }
    }
    return Result::Ok();
}

void TraceFileWriter::Fail(const std::string& reason)
{
    if (m_stopped.exchange(true))
        return;
    QMetaObject::invokeMethod(
        &m_context,
        [alive = m_alive, failed = m_failed, reason] {
            if (*alive)
                failed(reason);
        },
        Qt::QueuedConnection);
}

std::unique_ptr<TrafficSink> TraceFileOpener::Open(const TraceOptions& options,
                                                   std::function<void(const std::string&)> failed)
{
    return std::make_unique<TraceFileWriter>(options, std::move(failed));
}

}  // namespace velkon
