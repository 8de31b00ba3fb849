#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "components/Result.h"

class QObject;
class QSocketNotifier;

namespace velkon {

// A TCP server socket and the connection requests waiting on it.
//
// Each incoming connection gets an id from the owner and waits, unanswered,
// until it is taken (accepted onto an element) or rejected; at most
// kMaxPendingRequests wait, the oldest being dropped beyond that. Destroying
// the listener drops the requests never taken.
class TcpListener {
public:
    static constexpr std::size_t kMaxPendingRequests = 64;

    struct Events {
        std::function<long()> nextId;
        std::function<void(long id)> request;
        // A connection from a peer the filter turned away, already reset.
        std::function<void(const std::string& address)> refused;
    };

    explicit TcpListener(Events events);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // localAddress empty: any address, IPv4 and IPv6 alike.
    Result Bind(int port, const std::string& localAddress);
    bool IsBound() const { return m_fd >= 0; }
    // Binds to any address at port first when not bound yet.
    Result Listen(int port);
    int LocalPort() const { return m_localPort; }

    bool HasRequest(long id) const { return m_requests.count(id) != 0; }
    // The descriptor of a waiting request, now the caller's; -1 when none.
    int Take(long id);
    // Resets a waiting request at once; false when none has that id.
    bool Reject(long id);
    // Peers it turns away at accept, before they become requests; empty:
    // anyone.
    void SetPeerFilter(std::function<bool(const std::string& address)> allowed)
    {
        m_allowed = std::move(allowed);
    }

private:
    void OnAcceptable();
    void PauseAccepting();

    Events m_events;
    std::unique_ptr<QObject> m_context;
    QSocketNotifier* m_readNotifier = nullptr;
    int m_fd = -1;
    int m_localPort = 0;
    std::map<long, int> m_requests;
    std::function<bool(const std::string& address)> m_allowed;
};

}  // namespace velkon
