#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <QObject>

#include "session/Traffic.h"
#include "system/TraceFile.h"

namespace velkon {

// A session's trace: what the monitor shows (hex) or the raw bytes of both
// directions, written by a thread of its own. On the event thread a chunk
// is only copied into a buffer; the thread formats the lines and writes
// them, so neither the formatting nor the disk slows the bridge. (Measured
// on the 2-core build machine with 4 KiB chunks: formatting the hexdump ran
// at 75 MiB/s, copying at 7 GiB/s; formatted on the event thread, a trace
// would cap a session well below what the line and the network carry.)
// The buffer is written once it holds kWakeBytes, and at least once a
// second.
class TraceFileWriter : public TrafficSink {
public:
    using Failed = std::function<void(const std::string&)>;

    // Past this much waiting traffic the disk is slower than the line: the
    // trace stops rather than take the memory.
    static constexpr std::size_t kBufferLimit = std::size_t{64} << 20;
    static constexpr std::size_t kWakeBytes = std::size_t{256} << 10;

    // Opens the file; a file that cannot be opened is reported through
    // failed as a later event, like every other failure, and only once.
    TraceFileWriter(const TraceOptions& options, Failed failed,
                    std::size_t bufferLimit = kBufferLimit);
    // Writes what is buffered, then closes the file.
    ~TraceFileWriter() override;

    void OnTrafficData(const TrafficChunk& chunk) override;
    void OnTrafficEvent(const TrafficEvent& event) override;

private:
    // A hexdump record in the buffer; the payload follows it.
    struct RecordHead {
        std::uint8_t isEvent;
        std::uint8_t code;  // direction or event kind
        LocalDateTime time;
        std::uint32_t size;
    };

    void Append(const RecordHead* head, const std::uint8_t* data, std::size_t size);
    void Run();
    Result WriteBatch(const std::string& batch);
    Result WriteRecords(const std::string& batch);
    // Stops the trace and calls failed later on the event thread.
    void Fail(const std::string& reason);

    const bool m_hex;
    const std::size_t m_bufferLimit;
    const Failed m_failed;
    TraceFile m_file;
    // Posted calls die with it; alive covers the time until then.
    QObject m_context;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::atomic<bool> m_stopped{false};

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_pending;   // guarded by m_mutex
    bool m_closing = false;  // guarded by m_mutex
    std::thread m_thread;
};

// The trace files of the program's sessions.
class TraceFileOpener : public TraceFiles {
public:
    std::unique_ptr<TrafficSink> Open(const TraceOptions& options,
                                      std::function<void(const std::string&)> failed) override;
};

}  // namespace velkon
