#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "network/SocketErrors.h"
#include "network/SocketIo.h"
#include "session/ByteQueue.h"

class QObject;
class QSocketNotifier;

namespace velkon {

class TlsStream;

// One connected TCP socket, accepted or made, on a non-blocking descriptor
// watched by the event loop.
//
// Every connection gets keep-alive probes and a user time-out, so that a
// peer that vanished without a word is found within about two minutes,
// whether the connection is idle or has data in flight; the kernel then
// reports 10060 (or 10054) like any other failure. Nagle's delay is off:
// the bridge hands over whole chunks, and request/response peers must not
// wait for a segment to fill.
//
// Receiving: arrived bytes wait here, at most kReceiveLimit of them; beyond
// that nothing more is read from the kernel, so TCP flow control slows the
// sender. `arrived` is reported when new bytes came in, straight from the
// event loop's notification (the owner may destroy the connection in it).
//
// Sending: Send queues everything in order without a limit of its own (the
// session bounds it by what it sees queued); Queued counts the bytes the
// kernel has not taken yet; `progress` is reported whenever queued bytes
// were handed on.
//
// End: when the peer closes or the connection fails, `ended` is reported
// only after every byte that arrived before it has been taken, so no byte is
// lost to a close. A failure drops the bytes still queued for sending.
//
// The receive buffer and the send queue hold memory only while bytes wait.
//
// With TLS (a TlsStream whose handshake is done) the same holds for the
// plain bytes; the notifiers follow what OpenSSL waits for, so a write that
// must first receive, or a read that must first send, goes on when the
// descriptor is ready for that.
class TcpConnection {
public:
    static constexpr std::size_t kReceiveLimit = 64 * 1024;
    // A silent peer is probed after kKeepAliveIdleS, then every
    // kKeepAliveIntervalS; kKeepAliveProbes unanswered probes end the
    // connection: 60 + 6 * 10 = 120 s.
    static constexpr int kKeepAliveIdleS = 60;
    static constexpr int kKeepAliveIntervalS = 10;
    static constexpr int kKeepAliveProbes = 6;
    // Sent data the peer has not acknowledged for this long ends it too.
    static constexpr unsigned kUserTimeoutMs = 120 * 1000;

    struct Events {
        std::function<void()> arrived;
        std::function<void()> progress;
        std::function<void()> ended;
    };

    // Takes ownership of a connected descriptor and of its TLS layer, if any.
    TcpConnection(int fd, Events events, std::unique_ptr<TlsStream> tls = nullptr);
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // The peer's address as text; empty when unknown.
    const std::string& PeerAddress() const { return m_peer; }
    int PeerPort() const { return m_peerPort; }

    void Send(const char* bytes, std::size_t count);
    // Replaces out with at most maxBytes of the waiting bytes.
    void Take(Bytes& out, std::size_t maxBytes);
    // Copies at most maxBytes of the waiting bytes to buffer; the count.
    std::size_t TakeInto(std::uint8_t* buffer, std::size_t maxBytes);
    std::size_t Available() const { return static_cast<std::size_t>(m_in.Count()); }
    std::size_t Queued() const { return static_cast<std::size_t>(m_out.Count()); }

    // The failure that ended the connection; number 0 when it has not failed.
    const SocketFailure& Failure() const { return m_failure; }
    bool Failed() const { return m_failure.number != 0; }

    // For an orderly close: gives up the descriptor (-1 when the connection
    // failed) and the bytes not sent yet (with TLS: encrypted, with the close
    // notice after them).
    int Release(std::string& unsent);

private:
    static void ApplyOptions(int fd);
    void OnReadable();
    void OnWritable();
    // Hands queued bytes to the kernel; true when some were taken.
    bool Flush();
    void Fail(int err);
    void Fail(const SocketFailure& failure);
    IoStep ReceiveStep(char* buffer, std::size_t room);
    IoStep SendStep(const char* bytes, std::size_t count);
    // A step of OpenSSL waits for the other direction; the notifiers follow.
    void Waiting(bool reading);
    // Bytes OpenSSL decrypted beyond the receive limit are read on later.
    void ReadPendingLater();
    void EndIfDrained();
    // After bytes were taken: reading may go on.
    void Took();

    int m_fd;
    Events m_events;
    std::string m_peer;
    int m_peerPort = 0;
    std::unique_ptr<QObject> m_context;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    ByteQueue m_in{static_cast<std::int32_t>(kReceiveLimit)};
    ByteQueue m_out{ByteQueue::kUnlimited};
    // Cleared when the connection is destroyed, also from inside one of its
    // own reports.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    SocketFailure m_failure;
    bool m_peerClosed = false;
    bool m_ended = false;
    std::unique_ptr<TlsStream> m_tls;
    bool m_readWantsWrite = false;
    bool m_writeWantsRead = false;
    bool m_readPosted = false;
};

}  // namespace velkon
