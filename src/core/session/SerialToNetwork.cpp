#include "session/SerialToNetwork.h"

#include <algorithm>

#include "session/AppState.h"
#include "session/NetworkConnections.h"
#include "session/Numbers.h"
#include "session/RemoteLineControl.h"
#include "session/SerialSide.h"

namespace velkon {

SerialToNetwork::SerialToNetwork(const SessionSettings& settings, const BridgeMode& mode,
                                 const GlobalSettings& global, NetworkConnections& connections,
                                 RemoteLineControl& lineControl)
    : m_settings(settings),
      m_mode(mode),
      m_global(global),
      m_connections(connections),
      m_lineControl(lineControl)
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

std::vector<int> SerialToNetwork::Targets() const
{
    std::vector<int> targets = m_connections.Connected();
    if (SerialToFirstClientOnly(m_settings, m_mode) && targets.size() > 1)
        targets.resize(1);
    return targets;
}

bool SerialToNetwork::TargetsHaveRoom() const
{
    SocketArray& sockets = m_connections.sockets();
    for (int i : Targets()) {
        if (sockets.BytesToWrite(i) >= kSendQueueLimit || m_lineControl.Suspended(i))
            return false;
    }
    return true;
}

void SerialToNetwork::Distribute(const Bytes& piece)
{
    SocketArray& sockets = m_connections.sockets();
    if (m_lineControl.On()) {
        const Bytes escaped = m_lineControl.ToNetwork(piece);
        for (int i : Targets())
            sockets.SendData(i, escaped);
        return;
    }
    for (int i : Targets())
        sockets.SendData(i, piece);
}

int SerialToNetwork::ReadIntoQueue(SerialSide& side)
{
    // Take only what fits; the rest waits in the port so nothing is lost.
    int taken = 0;
    Bytes buffer;
    for (;;) {
        const int room = m_queue.Room();
        const int waiting = side.Waiting();
        if (waiting <= 0 || room <= 0)
            break;
        if (side.Read(buffer, std::min(waiting, room)) <= 0)
            break;
        taken += m_queue.Add(buffer);
    }
    return taken;
}

void SerialToNetwork::SendQueued()
{
    const bool waitForTimeout = m_settings.WaitForCr == 1;
    // PacketSize below 1 would never empty the queue.
    const int packet = std::max(1, m_global.PacketSize);
    if (m_mode.udp) {
        SocketArray& sockets = m_connections.sockets();
        if (waitForTimeout) {
            while (m_queue.Count() >= packet) {
                std::int32_t n = packet;
                sockets.SendData(0, m_queue.Read(n));
            }
        } else if (m_queue.Count() > 0) {
            std::int32_t n = -1;
            sockets.SendData(0, m_queue.Read(n));
        }
        return;
    }
    if (!(m_settings.BufferSerialData == 0 || m_connections.AnyConnected()))
        return;
    if (waitForTimeout) {
        while (m_queue.Count() >= packet && TargetsHaveRoom()) {
            std::int32_t n = packet;
            Distribute(m_queue.Read(n));
        }
    } else if (m_queue.Count() > 0 && TargetsHaveRoom()) {
        std::int32_t n = -1;
        Distribute(m_queue.Read(n));
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
    HoldIfFull(side, side.Waiting() > 0 && m_queue.Room() == 0);
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
        std::int32_t all = -1;
        m_connections.sockets().SendData(0, m_queue.Read(all));
        sent = true;
    } else if (m_connections.AnyConnected()) {
        if (TargetsHaveRoom()) {
            std::int32_t all = -1;
            Distribute(m_queue.Read(all));
            sent = true;
        } else {
            // A connected peer is still taking earlier data: keep the bytes.
            waitingForRoom = true;
        }
    }
    if ((m_settings.BufferSerialData == 0 && !waitingForRoom) || sent)
        m_queue.Clear();
    m_timeoutTicks = 0;
}

}  // namespace velkon
