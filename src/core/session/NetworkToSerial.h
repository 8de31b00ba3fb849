#pragma once

#include <cstdint>

#include "session/ByteQueue.h"
#include "session/Routing.h"

namespace velkon {

class NetworkConnections;
class RemoteLineControl;
class SerialSide;
class TrafficFeed;

// Network bytes on their way to the serial side: NetworkToSerialQueue and the
// rules of which bytes are taken. Bytes are written to the serial side in
// the event that brought them; what the device cannot take yet leaves when
// it reports room. While the queue is full nothing more is read from a TCP
// socket, so TCP flow control slows the sender and memory stays bounded.
class NetworkToSerial {
public:
    NetworkToSerial(const SessionSettings& settings, const BridgeMode& mode,
                    NetworkConnections& connections, RemoteLineControl& lineControl,
                    TrafficFeed& traffic);

    ByteQueue& Queue() { return m_queue; }
    const ByteQueue& Queue() const { return m_queue; }

    void Start(std::int32_t capacity) { m_queue.Allocate(capacity); }

    // Element index has bytes: take what the rules let through and pass it on.
    void DataArrival(int index, SerialSide& side);
    // Write what the serial side takes now, and take more from the sockets
    // while that made room. Called whenever the serial side may take more.
    void Pump(SerialSide& side);

private:
    void Take(int index);
    // Moves queued bytes to the serial side while it takes them at once.
    void WriteOut(SerialSide& side);
    // Takes bytes left waiting in the sockets; true when the queue grew.
    bool Refill();

    const SessionSettings& m_settings;
    const BridgeMode& m_mode;
    NetworkConnections& m_connections;
    RemoteLineControl& m_lineControl;
    TrafficFeed& m_traffic;
    ByteQueue m_queue;
};

}  // namespace velkon
