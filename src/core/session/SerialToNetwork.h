#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "session/ByteQueue.h"
#include "session/Routing.h"

namespace velkon {

struct GlobalSettings;
class NetworkConnections;
class RemoteLineControl;
class SerialSide;
class TrafficFeed;

// Serial bytes on their way to the network: SerialToNetworkQueue, the packetizer of the
// wait-for-timeout mode, and the distribution to the clients. Bytes move when
// the serial side reports them or a peer takes data; the timer only flushes
// what waited for the line to go quiet.
class SerialToNetwork {
public:
    // Bytes a TCP peer may have queued unsent before it counts as full. When
    // every target is full the serial side is held back, so that slow
    // readers slow the sender instead of growing memory.
    static constexpr int kSendQueueLimit = 256 * 1024;
    // While another target has room, a client that fell behind keeps a
    // queue of its own up to this many bytes (plus the one piece that
    // crossed it); what does not fit is dropped for that client alone. 1 MiB
    // rides out a reader's pause of seconds at serial speeds and keeps 32
    // clients under 40 MiB.
    static constexpr int kClientQueueLimit = 1024 * 1024;
    static constexpr int kTickMs = 50;
    // Bytes read from the serial side per call at most.
    static constexpr int kReadChunk = 64 * 1024;

    SerialToNetwork(const SessionSettings& settings, const BridgeMode& mode,
                    const GlobalSettings& global, NetworkConnections& connections,
                    RemoteLineControl& lineControl, TrafficFeed& traffic);

    ByteQueue& Queue() { return m_queue; }
    const ByteQueue& Queue() const { return m_queue; }
    std::int32_t TimeoutTicks() const { return m_timeoutTicks; }

    void Start(std::int32_t capacity);
    void Stop();

    // The serial side reported received bytes.
    void SerialReceive(SerialSide& side);
    // A peer took data: bytes that waited for room may leave.
    void PeerTookData(SerialSide& side);
    // A timer tick while NeedsTicks().
    void Tick(SerialSide& side);
    // Bytes wait that a tick may send or drop.
    bool NeedsTicks() const;

private:
    std::span<const int> Targets() const;
    // Some target may take more: bytes leave (for a full one they are dropped).
    bool TargetsHaveRoom() const;
    // Sends the oldest count queued bytes to the targets and drops them.
    void Distribute(std::int32_t count);
    void SendToUdp(std::int32_t count);
    int ReadIntoQueue(SerialSide& side);
    void SendQueued();
    void HoldIfFull(SerialSide& side, bool bytesLeft);
    void ResumeIfRoom(SerialSide& side);
    void TimeoutFlush();

    const SessionSettings& m_settings;
    const BridgeMode& m_mode;
    const GlobalSettings& m_global;
    NetworkConnections& m_connections;
    RemoteLineControl& m_lineControl;
    TrafficFeed& m_traffic;
    ByteQueue m_queue;
    std::int32_t m_timeoutTicks = 0;
    // The serial side is held back because the queue was full.
    bool m_held = false;
};

}  // namespace velkon
