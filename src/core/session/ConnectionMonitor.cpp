#include "session/ConnectionMonitor.h"

#include "session/AppState.h"
#include "session/NetworkConnections.h"
#include "tools/PingEngine.h"

namespace velkon {

ConnectionMonitor::ConnectionMonitor(AppState& app, const SessionSettings& settings,
                                     const BridgeMode& mode, NetworkConnections& connections,
                                     CloseFn close, LogFn log)
    : m_app(app),
      m_settings(settings),
      m_mode(mode),
      m_connections(connections),
      m_close(std::move(close)),
      m_log(std::move(log))
{
}

ConnectionMonitor::~ConnectionMonitor()
{
    *m_alive = false;
}

void ConnectionMonitor::Reset()
{
    m_pingsOut.clear();
    m_stallTicks.clear();
    m_pingUnavailableLogged = false;
}

void ConnectionMonitor::Forget(int index)
{
    m_pingsOut.erase(index);
    m_stallTicks.erase(index);
}

bool ConnectionMonitor::PingWanted() const
{
    return !m_mode.udp && m_app.globalSettings.PingEnabled != 0 && m_connections.AnyConnected();
}

void ConnectionMonitor::PingTick()
{
    if (m_mode.udp || m_app.globalSettings.PingEnabled == 0)
        return;
    ++m_app.PingTickCounter;
    if (m_app.PingTickCounter < (m_app.globalSettings.PingFrequency + 1) * 91)
        return;
    m_app.PingTickCounter = 0;
    Pinger* pinger = m_app.services.pinger;
    if (!pinger)
        return;
    SocketArray& sockets = m_connections.sockets();
    // A copy: answers and closes change the list.
    const std::vector<int> connected = m_connections.Connected();
    for (int i : connected) {
        if (m_pingsOut.count(i))
            continue;  // the previous answer is still out
        const std::string address = sockets.RemoteHostIP(i);
        m_pingsOut.insert(i);
        std::weak_ptr<bool> alive = m_alive;
        pinger->PingAsync(address, [this, alive, i, address](int status) {
            if (alive.expired())
                return;
            PingAnswered(i, address, status);
        });
    }
}

void ConnectionMonitor::PingAnswered(int index, const std::string& address, int status)
{
    if (!m_pingsOut.erase(index))
        return;  // the connection went meanwhile
    if (status == 0)
        return;
    if (status == Pinger::kUnavailable) {
        // Pinging is impossible here; that is no reason to drop peers.
        if (!m_pingUnavailableLogged) {
            m_pingUnavailableLogged = true;
            m_log("Ping Failed - no ICMP echo service available");
        }
        return;
    }
    if (!m_connections.IsConnected(index) || m_connections.sockets().RemoteHostIP(index) != address)
        return;
    m_close(index);
    m_log("Ping Failed - Ping Result = " + PingStatusText(status));
}

bool ConnectionMonitor::StallWatchWanted() const
{
    // Only where one client could hold back others: all clients get the data.
    if (m_mode.udp || m_mode.serverMode != 1 || SerialToFirstClientOnly(m_settings, m_mode))
        return false;
    const std::vector<int>& connected = m_connections.Connected();
    if (connected.size() < 2)
        return false;
    for (int i : connected) {
        if (m_connections.sockets().BytesToWrite(i) > 0)
            return true;
    }
    return false;
}

void ConnectionMonitor::StallTick()
{
    if (!StallWatchWanted()) {
        m_stallTicks.clear();
        return;
    }
    SocketArray& sockets = m_connections.sockets();
    // A copy: closing a client changes the list.
    const std::vector<int> connected = m_connections.Connected();
    for (int i : connected) {
        if (sockets.BytesToWrite(i) == 0) {
            m_stallTicks.erase(i);
            continue;
        }
        if (++m_stallTicks[i] < kStallTicks)
            continue;
        const std::string address = sockets.RemoteHostIP(i);
        m_close(i);
        m_log("Client " + address + " closed - it took no data for 10 seconds");
    }
}

}  // namespace velkon
