#pragma once

#include <vector>

#include "components/SocketArray.h"

namespace velkon {

// The elements of the session's socket array in use: element 0 is the
// session's own socket, 1 up to Highest() are accepted clients.
class NetworkConnections {
public:
    static constexpr int kMaxIndex = 32767;

    explicit NetworkConnections(SocketArray& sockets) : m_sockets(sockets) {}

    SocketArray& sockets() { return m_sockets; }
    int Highest() const { return m_highest; }
    int ClientCount() const { return m_clientCount; }

    bool IsConnected(int index) const;
    bool AnyConnected() const { return !Connected().empty(); }
    // The first connected client, or Highest() + 1 when there is none.
    int FirstConnectedClient() const;
    // Every connected element, lowest index first. Worked out again only
    // after Changed(), not for every send.
    const std::vector<int>& Connected() const;
    // A socket event came: an element may have connected or closed.
    void Changed() { m_connectedKnown = false; }

    // An element for a new client: a closed loaded one, else a new one; 0
    // when the array is full.
    int SlotForClient();
    void ClientCame() { ++m_clientCount; }
    void ClientLeft();
    // Closes every element and forgets the clients.
    void CloseAll();

private:
    SocketArray& m_sockets;
    int m_highest = 0;
    int m_clientCount = 0;
    mutable std::vector<int> m_connected;
    mutable bool m_connectedKnown = false;
};

}  // namespace velkon
