#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "components/Services.h"

namespace velkon {

enum class TrafficDirection { kSerialToNetwork, kNetworkToSerial };

// What one session moved since its last activation. Dropped bytes are those
// the bridge took in but did not pass on (ignore modes, a full queue, a cut
// datagram); they are not in the sent or written counts.
struct TrafficCounters {
    std::uint64_t serialRead = 0;
    std::uint64_t serialWritten = 0;
    std::uint64_t networkReceived = 0;
    // Summed over the clients: a byte sent to two clients counts twice.
    std::uint64_t networkSent = 0;
    std::uint64_t dropped = 0;
};

// One client's share of the traffic while it is connected.
struct ClientTraffic {
    bool connected = false;
    std::string address;  // "address:port"
    LocalDateTime since;
    std::uint64_t received = 0;  // from the client
    std::uint64_t sent = 0;      // to the client
};

// One chunk of data as it passed; the memory is the bridge's and lives only
// for the call.
struct TrafficChunk {
    LocalDateTime time;
    TrafficDirection direction = TrafficDirection::kSerialToNetwork;
    // "serial", or the client's "address:port".
    std::string_view source;
    std::span<const std::uint8_t> bytes;
};

enum class TrafficEventKind {
    kActivated,
    kDeactivated,
    kClientConnected,
    kClientLeft,
    kDeviceLost,
    kDeviceBack,
    // The session is gone; no more traffic follows.
    kSessionRemoved,
};

struct TrafficEvent {
    LocalDateTime time;
    TrafficEventKind kind = TrafficEventKind::kActivated;
    // The client's "address:port", or why a device was lost.
    std::string detail;
};

// A reader of one session's traffic: a monitor window, a command-line
// monitor, a trace file. Calls come on the event thread in the order the
// bytes moved. A sink must not slow the bridge: it keeps what it can and
// counts what it leaves out. A sink may detach itself only outside its calls.
class TrafficSink {
public:
    virtual ~TrafficSink() = default;
    virtual void OnTrafficData(const TrafficChunk& chunk) = 0;
    virtual void OnTrafficEvent(const TrafficEvent& event) = 0;
};

// Opens the trace file of a session. failed is called later, from the
// event loop and never from within the sink's own calls, when the file
// cannot be opened or written; tracing has stopped then. failed may destroy
// the sink, so the opener calls a copy of it, and never after the sink is
// gone.
struct TraceOptions {
    std::string path;
    bool hex = true;
    std::int64_t maxBytes = 10240 * 1024;
};

class TraceFiles {
public:
    virtual ~TraceFiles() = default;
    virtual std::unique_ptr<TrafficSink> Open(const TraceOptions& options,
                                              std::function<void(const std::string&)> failed) = 0;
};

}  // namespace velkon
