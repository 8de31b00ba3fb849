#include "session/NetworkToSerial.h"

#include <algorithm>

#include "session/NetworkConnections.h"
#include "session/RemoteLineControl.h"
#include "session/SerialSide.h"
#include "session/TrafficFeed.h"

namespace velkon {

NetworkToSerial::NetworkToSerial(const SessionSettings& settings, const BridgeMode& mode,
                                 NetworkConnections& connections, RemoteLineControl& lineControl,
                                 TrafficFeed& traffic)
    : m_settings(settings),
      m_mode(mode),
      m_connections(connections),
      m_lineControl(lineControl),
      m_traffic(traffic)
{
}

void NetworkToSerial::Take(int index)
{
    SocketArray& sockets = m_connections.sockets();
    Bytes data;
    bool drop = IgnoresNetworkData(m_settings, m_mode);
    if (!drop && !m_mode.udp) {
        drop = NetworkFromFirstClientOnly(m_settings, m_mode) &&
               index != m_connections.FirstConnectedClient();
    }
    if (drop) {
        // Read and dropped, so they do not stay waiting in the socket; the
        // port commands among them still count.
        sockets.GetData(index, data, -1);
        m_traffic.NetworkReceived(index, data.data(), data.size());
        m_traffic.Dropped(data.size());
        if (m_lineControl.On())
            m_lineControl.FromNetwork(index, data);
        return;
    }
    if (m_mode.udp) {
        // A datagram that does not fit is cut: datagrams cannot wait.
        sockets.GetData(index, data, -1);
        m_traffic.NetworkReceived(index, data.data(), data.size());
        if (!data.empty())
            m_traffic.Dropped(data.size() - static_cast<std::size_t>(m_queue.Add(data)));
        return;
    }
    // TCP: take only what fits; the rest stays in the socket.
    const int room = m_queue.Room();
    if (room <= 0)
        return;
    if (m_lineControl.On()) {
        sockets.GetData(index, data, room);
        // Decoding only shrinks the bytes, so they still fit.
        const Bytes decoded = m_lineControl.FromNetwork(index, data);
        m_traffic.NetworkReceived(index, decoded.data(), decoded.size());
        m_queue.Add(decoded);
        return;
    }
    // Straight into the queue's free space.
    const int wanted = std::min(room, std::max(sockets.BytesAvailable(index), 1));
    const std::span<std::uint8_t> space = m_queue.Prepare(wanted);
    const int n = sockets.Receive(index, space.data(), static_cast<int>(space.size()));
    m_queue.Commit(n);
    m_traffic.NetworkReceived(index, space.data(), static_cast<std::size_t>(std::max(n, 0)));
}

void NetworkToSerial::DataArrival(int index, SerialSide& side)
{
    Take(index);
    Pump(side);
}

void NetworkToSerial::Pump(SerialSide& side)
{
    for (;;) {
        WriteOut(side);
        if (m_mode.udp || m_queue.Room() <= 0 || !Refill())
            break;
    }
}

void NetworkToSerial::WriteOut(SerialSide& side)
{
    while (m_queue.Count() > 0) {
        if (!side.Writable()) {
            if (!side.KeepsBytesForLater()) {
                m_traffic.Dropped(static_cast<std::size_t>(m_queue.Count()));
                m_queue.Clear();
            }
            return;
        }
        // The side still holds bytes: it reports when they are gone.
        if (side.OutputWaiting() > 0)
            return;
        const std::int32_t n = std::min(m_queue.Count(), side.ChunkSize());
        // Bytes a failed write did not take stay queued for the next try.
        if (!side.Write(m_queue.Data(), n))
            return;
        m_traffic.SerialWritten(static_cast<std::size_t>(n));
        m_queue.Drop(n);
    }
}

bool NetworkToSerial::Refill()
{
    const std::int32_t before = m_queue.Count();
    SocketArray& sockets = m_connections.sockets();
    for (int i : m_connections.Connected()) {
        if (m_queue.Room() <= 0)
            break;
        if (sockets.BytesAvailable(i) > 0)
            Take(i);
    }
    return m_queue.Count() > before;
}

}  // namespace velkon
