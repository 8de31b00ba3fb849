#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "components/Result.h"

class QObject;
class QSocketNotifier;

namespace velkon {

class TlsContext;
class TlsHandshake;
class TlsStream;

// A TCP server socket and the connection requests waiting on it.
//
// Each incoming connection gets an id from the owner and waits, unanswered,
// until it is taken (accepted onto an element) or rejected; at most
// kMaxPendingRequests wait, the oldest being dropped beyond that. Destroying
// the listener drops the requests never taken.
//
// With TLS a connection becomes a request only after its handshake, so a
// client that never completes one takes no slot of the session. At most
// kMaxPendingHandshakes run at a time (each holds a descriptor and
// OpenSSL's buffers, some 50 KiB); beyond that the oldest is given up, so a
// flood of silent clients cannot keep a quick, good one out. A handshake
// that fails, runs out of time (kHandshakeTimeout) or is given up resets its
// connection and is reported as refused.
class TcpListener {
public:
    static constexpr std::size_t kMaxPendingRequests = 64;
    static constexpr std::size_t kMaxPendingHandshakes = 64;
    static constexpr std::chrono::milliseconds kHandshakeTimeout{10000};

    struct Events {
        std::function<long()> nextId;
        std::function<void(long id)> request;
        // A connection turned away (not allowed, or its handshake failed),
        // already reset.
        std::function<void(const std::string& address, const std::string& reason)> refused;
    };

    // A request taken: its descriptor (-1 when none) and TLS layer, if any.
    struct Taken {
        int fd = -1;
        std::unique_ptr<TlsStream> tls;
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
    // Connections accepted from now on shake hands first (null: plain TCP).
    void SetTls(std::shared_ptr<const TlsContext> tls) { m_tls = std::move(tls); }

    bool HasRequest(long id) const { return m_requests.count(id) != 0; }
    // A waiting request, now the caller's.
    Taken Take(long id);
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
    // A connection accepted, or one whose handshake succeeded, waits.
    void AddRequest(int fd, std::unique_ptr<TlsStream> tls);
    void StartHandshake(int fd);
    void OnHandshakeDone(std::uint64_t key, int fd, std::unique_ptr<TlsStream> tls,
                         const std::string& failure);

    Events m_events;
    std::unique_ptr<QObject> m_context;
    QSocketNotifier* m_readNotifier = nullptr;
    int m_fd = -1;
    int m_localPort = 0;
    std::map<long, Taken> m_requests;
    std::function<bool(const std::string& address)> m_allowed;
    std::shared_ptr<const TlsContext> m_tls;
    std::map<std::uint64_t, std::unique_ptr<TlsHandshake>> m_handshakes;
    std::vector<std::unique_ptr<TlsHandshake>> m_finished;
    std::uint64_t m_nextHandshake = 0;
};

}  // namespace velkon
