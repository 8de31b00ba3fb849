#include "session/NetworkConnections.h"

#include <algorithm>

namespace velkon {

bool NetworkConnections::IsConnected(int index) const
{
    return m_sockets.IsLoaded(index) && m_sockets.State(index) == kSockConnected;
}

bool NetworkConnections::AnyConnected() const
{
    for (int i = 0; i <= m_highest; ++i) {
        if (IsConnected(i))
            return true;
    }
    return false;
}

int NetworkConnections::FirstConnectedClient() const
{
    for (int i = 1; i <= m_highest; ++i) {
        if (IsConnected(i))
            return i;
    }
    return m_highest + 1;
}

std::vector<int> NetworkConnections::Connected() const
{
    std::vector<int> indexes;
    for (int i = 0; i <= m_highest; ++i) {
        if (IsConnected(i))
            indexes.push_back(i);
    }
    return indexes;
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
}

}  // namespace velkon
