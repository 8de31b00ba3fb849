#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "Result.h"
#include "TlsOptions.h"

namespace velkon {

// Socket states as the session reads them.
enum SocketState : int {
    kSockClosed = 0,
    kSockOpen = 1,
    kSockListening = 2,
    kSockConnectionPending = 3,
    kSockResolvingHost = 4,
    kSockHostResolved = 5,
    kSockConnecting = 6,
    kSockConnected = 7,
    kSockClosing = 8,
    kSockError = 9,
};

// Classic socket error numbers carried by error events and failures.
enum SocketError : int {
    kErrAddressInUse = 10048,
    kErrAddressNotAvailable = 10049,
    kErrNetworkDown = 10050,
    kErrNetworkUnreachable = 10051,
    kErrConnectionAborted = 10053,
    kErrConnectionReset = 10054,
    kErrTimedOut = 10060,
    kErrConnectionRefused = 10061,
    kErrHostUnreachable = 10065,
    kErrHostNotFound = 11001,
};

// The reason a refused event gives for a peer outside the allowed list.
inline constexpr const char* kRefusedNotAllowed = "not in the allowed list";

// Events of the socket array; each carries the element index.
struct SocketEvents {
    std::function<void(int)> connect;
    std::function<void(int)> close;
    std::function<void(int, long)> connectionRequest;
    std::function<void(int, int)> dataArrival;
    std::function<void(int, int, const std::string&)> error;
    // Bytes waiting in the element's send queue were handed to the network.
    std::function<void(int)> sendProgress;
    // A connection or datagram the network side turned away before the
    // session saw it (not in the allowed list, a failed TLS handshake...).
    std::function<void(int index, const std::string& address, const std::string& reason)> refused;
};

// The session's socket array (sockets). Element 0 is the session's own
// socket; elements 1 and up are accepted clients, loaded on demand.
class SocketArray {
public:
    static constexpr int kTcp = 0;
    static constexpr int kUdp = 1;

    virtual ~SocketArray() = default;

    void setEvents(SocketEvents events) { m_events = std::move(events); }

    virtual Result Load(int index) = 0;
    virtual bool IsLoaded(int index) const = 0;

    virtual Result SetProtocol(int index, int protocol) = 0;
    virtual int Protocol(int index) const = 0;
    virtual Result SetRemoteHost(int index, const std::string& host) = 0;
    virtual std::string RemoteHost(int index) const = 0;
    virtual Result SetRemotePort(int index, int port) = 0;
    virtual int RemotePort(int index) const = 0;
    virtual Result SetLocalPort(int index, int port) = 0;
    virtual int LocalPort(int index) const = 0;
    // This machine's address as text (empty when it has none).
    virtual std::string LocalIP(int index) const = 0;
    virtual int State(int index) const = 0;
    virtual std::string RemoteHostIP(int index) const = 0;

    // TLS for the element's connections, set on element 0 before Listen or
    // Connect; accepted clients inherit it. Fails with a readable reason when
    // the files cannot be used.
    virtual Result SetTls(int /*index*/, const TlsOptions& options)
    {
        return options.enabled ? Result::Fail("TLS is not available") : Result::Ok();
    }

    virtual Result Connect(int index) = 0;
    virtual Result Listen(int index) = 0;
    // localAddress empty: any address.
    virtual Result Bind(int index, int port, const std::string& localAddress) = 0;
    virtual Result Accept(int index, long requestId) = 0;
    // Closes a waiting connection request without serving it, so the peer
    // learns at once that it is not served.
    virtual Result Reject(int index, long requestId) = 0;
    virtual Result Close(int index) = 0;
    // Ends the connection at once with a reset: nothing queued for it stays
    // behind and the peer learns at once. For peers the program drops.
    virtual Result Abort(int index) { return Close(index); }
    // Who may connect to element 0 (TCP) or send to it (UDP), set before
    // Listen or Bind; accepted clients are checked before they take a slot.
    // Empty: anyone.
    virtual Result SetPeerFilter(int index, std::function<bool(const std::string& address)> allowed)
    {
        (void)index;
        (void)allowed;
        return Result::Ok();
    }
    // Connections given up by Close that still deliver their last bytes or
    // wait for their peer to close.
    virtual int ClosingConnections() const { return 0; }
    // Resets the connections still closing (the program ends); the bytes
    // they had not delivered: queued, or sent and not acknowledged.
    virtual std::int64_t ResetClosing() { return 0; }
    virtual Result SendData(int index, const Bytes& data) = 0;
    // SendData from memory the caller keeps.
    virtual Result Send(int index, const std::uint8_t* data, std::size_t size)
    {
        return SendData(index, Bytes(data, data + size));
    }
    // Takes at most maxBytes of the bytes that have arrived (-1: all).
    virtual Result GetData(int index, Bytes& out, int maxBytes) = 0;
    // Takes at most maxBytes into buffer; the count taken. Unlike GetData,
    // bytes left waiting raise no new arrival: the caller asks again.
    virtual int Receive(int index, std::uint8_t* buffer, int maxBytes)
    {
        Bytes out;
        if (!GetData(index, out, maxBytes))
            return 0;
        std::copy(out.begin(), out.end(), buffer);
        return static_cast<int>(out.size());
    }
    // Bytes that have arrived and wait to be taken.
    virtual int BytesAvailable(int index) const = 0;
    // Bytes handed to SendData that are not yet given to the network.
    virtual int BytesToWrite(int index) const = 0;

protected:
    const SocketEvents& events() const { return m_events; }

private:
    SocketEvents m_events;
};

}  // namespace velkon
