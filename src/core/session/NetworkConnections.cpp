#include "session/NetworkConnections.h"

#include <algorithm>

namespace velkon {

bool NetworkConnections::IsConnected(int index) const
{
    return m_sockets.IsLoaded(index) && m_sockets.State(index) == kSockConnected;
}

int NetworkConnections::FirstConnectedClient() const
{
    for (int i : Connected()) {
        if (i >= 1)
            return i;
    }
    return m_highest + 1;
}

const std::vector<int>& NetworkConnections::Connected() const
{
    if (m_connectedKnown)
        return m_connected;
    m_connected.clear();
    for (int i = 0; i <= m_highest; ++i) {
        if (IsConnected(i))
            m_connected.push_back(i);
    }
    m_connectedKnown = true;
    return m_connected;
}

int NetworkConnections::SlotForClient()
{
    for (int i = 1; i <= m_highest; ++i) {
        if (m_sockets.IsLoaded(i) && m_sockets.State(i) == kSockClosed)
            return i;
    }
    if (m_highest >= kMaxIndex)
        return 0;
    ++m_highest;
    m_sockets.Load(m_highest);
    Changed();
    return m_highest;
}

void NetworkConnections::ClientLeft()
{
    m_clientCount = std::max(0, m_clientCount - 1);
}

void NetworkConnections::CloseAll()
{
    for (int i = 0; i <= m_highest; ++i) {
        if (!m_sockets.IsLoaded(i))
            continue;
        m_sockets.Close(i);
        m_sockets.SetLocalPort(i, 0);
    }
    m_clientCount = 0;
    Changed();
}

}  // namespace velkon
