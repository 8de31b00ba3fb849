#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QObject;
class QSocketNotifier;
class QTimer;

namespace velkon {

class TlsContext;
class TlsStream;

// The TLS handshake of one fresh connection, driven by the event loop.
//
// It ends exactly once: with the connection's TLS layer and its descriptor,
// or with the reason it failed; a failed connection is reset at once (the
// peer learns that it was turned away, no linger). The time-out covers the
// whole handshake, so a peer that connects and stays silent holds nothing
// for longer. The report may destroy the handshake; destroying it before
// then resets the connection.
class TlsHandshake {
public:
    // stream is null on failure, and fd then -1.
    using Done =
        std::function<void(int fd, std::unique_ptr<TlsStream> stream, const std::string& failure)>;

    // Takes ownership of the connected descriptor fd.
    TlsHandshake(int fd, const TlsContext& context, std::chrono::milliseconds timeout, Done done);
    ~TlsHandshake();
    TlsHandshake(const TlsHandshake&) = delete;
    TlsHandshake& operator=(const TlsHandshake&) = delete;

    // Starts it; may report from inside (OpenSSL without memory).
    void Start();
    // The peer's address as text; empty when unknown.
    const std::string& PeerAddress() const { return m_peer; }
    // Ends it now as failed, for the reason given; reports like any failure.
    void Abandon(const std::string& reason);

private:
    void Step();
    void Fail(const std::string& reason);

    int m_fd;
    std::unique_ptr<TlsStream> m_stream;
    std::chrono::milliseconds m_timeout;
    Done m_done;
    std::string m_peer;
    std::unique_ptr<QObject> m_context;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_deadline = nullptr;
};

}  // namespace velkon
