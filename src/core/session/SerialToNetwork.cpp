#include "session/SerialToNetwork.h"

#include <algorithm>

#include "session/AppState.h"
#include "session/NetworkConnections.h"
#include "session/Numbers.h"
#include "session/RemoteLineControl.h"
#include "session/SerialSide.h"
#include "session/TrafficFeed.h"

namespace velkon {

SerialToNetwork::SerialToNetwork(const SessionSettings& settings, const BridgeMode& mode,
                                 const GlobalSettings& global, NetworkConnections& connections,
                                 RemoteLineControl& lineControl, TrafficFeed& traffic)
    : m_settings(settings),
      m_mode(mode),
      m_global(global),
      m_connections(connections),
      m_lineControl(lineControl),
      m_traffic(traffic)
{
}

void SerialToNetwork::Start(std::int32_t capacity)
{
    m_queue.Allocate(capacity);
    m_timeoutTicks = 0;
    m_held = false;
}

void SerialToNetwork::Stop()
{
    m_held = false;
}

std::span<const int> SerialToNetwork::Targets() const
{
    const std::vector<int>& connected = m_connections.Connected();
    std::span<const int> targets(connected);
    if (SerialToFirstClientOnly(m_settings, m_mode) && targets.size() > 1)
        return targets.first(1);
    return targets;
}

bool SerialToNetwork::TargetsHaveRoom() const
{
    const std::span<const int> targets = Targets();
    // A client that asked for a pause (remote line control) holds everyone,
    // as a shared line would: its bytes must not be lost.
    if (std::any_of(targets.begin(), targets.end(),
                    [this](int i) { return m_lineControl.Suspended(i); })) {
        return false;
    }
    if (targets.empty())
        return true;
    SocketArray& sockets = m_connections.sockets();
    return std::any_of(targets.begin(), targets.end(),
                       [&sockets](int i) { return sockets.BytesToWrite(i) < kSendQueueLimit; });
}

void SerialToNetwork::Distribute(std::int32_t count)
{
    SocketArray& sockets = m_connections.sockets();
    const std::uint8_t* bytes = m_queue.Data();
    std::size_t size = static_cast<std::size_t>(count);
    Bytes escaped;
    if (m_lineControl.On()) {
        escaped = m_lineControl.ToNetwork(Bytes(bytes, bytes + size));
        bytes = escaped.data();
        size = escaped.size();
    }
    // A copy: a failed send may close a client and change the list.
    const std::span<const int> targets = Targets();
    const bool several = targets.size() > 1;
    const auto send = [&](int i) {
        // A client far behind loses this piece; the others go on.
        if (several && sockets.BytesToWrite(i) >= kClientQueueLimit) {
            m_traffic.Dropped(static_cast<std::size_t>(count));
            return;
        }
        if (sockets.Send(i, bytes, size))
            m_traffic.NetworkSent(i, static_cast<std::size_t>(count));
        else
            m_traffic.Dropped(static_cast<std::size_t>(count));
    };
    if (targets.size() == 1) {
        send(targets.front());
    } else {
        const std::vector<int> copy(targets.begin(), targets.end());
        for (int i : copy)
            send(i);
    }
    m_queue.Drop(count);
}

int SerialToNetwork::ReadIntoQueue(SerialSide& side)
{
    // Take only what fits; the rest waits in the port so nothing is lost.
    // A short read means the port has nothing more for now.
    int taken = 0;
    for (;;) {
        const std::span<std::uint8_t> space = m_queue.Prepare(kReadChunk);
        if (space.empty())
            break;
        const int n = side.ReadInto(space.data(), static_cast<int>(space.size()));
        if (n <= 0)
            break;
        m_queue.Commit(n);
        m_traffic.SerialRead(space.data(), static_cast<std::size_t>(n));
        taken += n;
        if (n < static_cast<int>(space.size()))
            break;
    }
    return taken;
}

void SerialToNetwork::SendToUdp(std::int32_t count)
{
    if (m_connections.sockets().Send(0, m_queue.Data(), static_cast<std::size_t>(count)))
        m_traffic.NetworkSent(0, static_cast<std::size_t>(count));
    else
        m_traffic.Dropped(static_cast<std::size_t>(count));
    m_queue.Drop(count);
}

void SerialToNetwork::SendQueued()
{
    const bool waitForTimeout = m_settings.WaitForCr == 1;
    // PacketSize below 1 would never empty the queue.
    const int packet = std::max(1, m_global.PacketSize);
    if (m_mode.udp) {
        if (waitForTimeout) {
            while (m_queue.Count() >= packet)
                SendToUdp(packet);
        } else if (m_queue.Count() > 0) {
            SendToUdp(m_queue.Count());
        }
        return;
    }
    if (!(m_settings.BufferSerialData == 0 || m_connections.AnyConnected()))
        return;
    if (waitForTimeout) {
        while (m_queue.Count() >= packet && TargetsHaveRoom())
            Distribute(packet);
    } else if (m_queue.Count() > 0 && TargetsHaveRoom()) {
        Distribute(m_queue.Count());
    }
}

void SerialToNetwork::SerialReceive(SerialSide& side)
{
    if (IgnoresSerialData(m_settings, m_mode)) {
        side.Discard();
        return;
    }
    if (!m_mode.udp && m_settings.BufferSerialData == 0 && !m_connections.AnyConnected()) {
        // Nobody to send to and nothing to keep.
        side.Discard();
        return;
    }
    // Read what fits, send what may leave, and go on while that made room.
    for (;;) {
        const int taken = ReadIntoQueue(side);
        const int before = m_queue.Count();
        SendQueued();
        if (taken == 0 || m_queue.Count() >= before)
            break;
    }
    if (m_settings.WaitForCr == 1)
        m_timeoutTicks = 0;
    // Only a full queue makes it worth asking whether more waits.
    HoldIfFull(side, m_queue.Room() == 0 && side.Waiting() > 0);
}

void SerialToNetwork::HoldIfFull(SerialSide& side, bool bytesLeft)
{
    if (bytesLeft && !m_held) {
        m_held = true;
        side.Hold();
    } else if (!bytesLeft) {
        ResumeIfRoom(side);
    }
}

void SerialToNetwork::ResumeIfRoom(SerialSide& side)
{
    if (!m_held || m_queue.Room() <= 0)
        return;
    m_held = false;
    side.Resume();
}

void SerialToNetwork::PeerTookData(SerialSide& side)
{
    if (m_queue.Count() == 0 || m_mode.udp || !m_connections.AnyConnected())
        return;
    SendQueued();
    ResumeIfRoom(side);
}

bool SerialToNetwork::NeedsTicks() const
{
    if (m_queue.Count() == 0)
        return false;
    return m_mode.udp || m_settings.BufferSerialData == 0 || m_connections.AnyConnected();
}

void SerialToNetwork::Tick(SerialSide& side)
{
    if (m_queue.Count() != 0)
        TimeoutFlush();
    ResumeIfRoom(side);
}

void SerialToNetwork::TimeoutFlush()
{
    ++m_timeoutTicks;
    if (!(m_timeoutTicks * static_cast<double>(kTickMs) > LeadingNumber(m_settings.TimeoutValue)))
        return;
    bool sent = false;
    bool waitingForRoom = false;
    if (m_mode.udp) {
        SendToUdp(m_queue.Count());
        sent = true;
    } else if (m_connections.AnyConnected()) {
        if (TargetsHaveRoom()) {
            Distribute(m_queue.Count());
            sent = true;
        } else {
            // A connected peer is still taking earlier data: keep the bytes.
            waitingForRoom = true;
        }
    }
    if ((m_settings.BufferSerialData == 0 && !waitingForRoom) || sent) {
        m_traffic.Dropped(static_cast<std::size_t>(m_queue.Count()));
        m_queue.Clear();
    }
    m_timeoutTicks = 0;
}

}  // namespace velkon
