#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "components/SocketArray.h"
#include "network/TcpConnection.h"
#include "network/TcpLinger.h"
#include "network/TcpListener.h"
#include "network/UdpEndpoint.h"

class QObject;

namespace velkon {

class TcpConnector;
class TlsHandshake;
struct SocketFailure;

// The session's socket array on Linux: an array of elements that routes the
// session's calls to the socket each element holds (TcpConnector while
// connecting, TcpConnection when connected, TcpListener when bound or
// listening, UdpEndpoint for UDP) and turns what they report into events.
//
// TCP runs on non-blocking kernel sockets watched by the Qt event loop, so
// that every failure keeps its own number (a peer reset is 10054, not a plain
// close); UDP runs on QUdpSocket; host names are resolved with QHostInfo,
// never blocking.
//
// Events are always raised later from the event loop, never from inside a
// call the session made. Events that belong to a connection the program has
// closed meanwhile are dropped.
//
// States: 0 closed, 1 open (bound), 2 listening, 4 resolving host,
// 6 connecting, 7 connected, 8 closing (the peer closed; raised with the close
// event), 9 error (raised with the error event). Elements in 8 or 9 stay so
// until Close, which makes every element 0 and reusable.
//
// Connect ends by the connect event, or by an error event when every address
// failed or when connectTimeout passed (10060). Connect on an element that
// is resolving or connecting fails at once (10037) and leaves the attempt
// alone.
//
// TCP data: dataArrival comes when new bytes arrived and again after a
// GetData that took bytes but left some; the close or error event comes only
// after the session has taken every byte that arrived before it.
// sendProgress comes whenever queued bytes have been handed on. See
// TcpConnection for the limits.
//
// TLS (SetTls on the element before Listen or Connect): a listener's
// clients shake hands before their connection request is raised (see
// TcpListener); those it turns away are reported by the refused event. A
// connect ends with the connect event only after the handshake; a failed one
// is a failed connect (error event 10053 with OpenSSL's reason).
//
// Close is immediate for the session (state 0 at once, reusable, no event).
// The bytes still queued of a connected element are flushed in the
// background (TcpLinger). Closing a listener drops the connection requests
// that were never accepted; Reject resets one of them at once. Abort resets
// a connection: nothing of it stays queued.
//
// A peer filter on a listener or a UDP element turns peers away before
// they become requests or datagrams: refused connections are reset at once,
// refused datagrams dropped, and each raises the refused event.
class QtSocketArray : public SocketArray {
public:
    static constexpr int kMaxIndex = 32767;
    static constexpr int kReceiveLimit = static_cast<int>(TcpConnection::kReceiveLimit);
    static constexpr std::size_t kMaxPendingRequests = TcpListener::kMaxPendingRequests;
    static constexpr std::size_t kMaxDatagrams = UdpEndpoint::kMaxDatagrams;
    static constexpr std::size_t kMaxWaitingDatagrams = UdpEndpoint::kMaxWaitingDatagrams;
    static constexpr int kCloseFlushMs = TcpLinger::kCloseFlushMs;
    static constexpr std::chrono::milliseconds kConnectTimeout{30000};
    // A client's handshake after its connect, on top of kConnectTimeout.
    static constexpr std::chrono::milliseconds kHandshakeTimeout = TcpListener::kHandshakeTimeout;

    explicit QtSocketArray(std::chrono::milliseconds connectTimeout = kConnectTimeout);
    ~QtSocketArray() override;

    QtSocketArray(const QtSocketArray&) = delete;
    QtSocketArray& operator=(const QtSocketArray&) = delete;

    Result Load(int index) override;
    bool IsLoaded(int index) const override;

    Result SetProtocol(int index, int protocol) override;
    int Protocol(int index) const override;
    Result SetRemoteHost(int index, const std::string& host) override;
    std::string RemoteHost(int index) const override;
    Result SetRemotePort(int index, int port) override;
    int RemotePort(int index) const override;
    Result SetLocalPort(int index, int port) override;
    int LocalPort(int index) const override;
    std::string LocalIP(int index) const override;
    int State(int index) const override;
    std::string RemoteHostIP(int index) const override;

    Result SetTls(int index, const TlsOptions& options) override;
    Result Connect(int index) override;
    Result Listen(int index) override;
    Result Bind(int index, int port, const std::string& localAddress) override;
    Result Accept(int index, long requestId) override;
    Result Reject(int index, long requestId) override;
    Result Close(int index) override;
    Result Abort(int index) override;
    Result SetPeerFilter(int index,
                         std::function<bool(const std::string& address)> allowed) override;
    int ClosingConnections() const override;
    std::int64_t ResetClosing() override;
    Result SendData(int index, const Bytes& data) override;
    Result Send(int index, const std::uint8_t* data, std::size_t size) override;
    int Receive(int index, std::uint8_t* buffer, int maxBytes) override;
    Result GetData(int index, Bytes& out, int maxBytes) override;
    int BytesAvailable(int index) const override;
    int BytesToWrite(int index) const override;

private:
    struct Element;

    Element* find(int index) const;
    Result loaded(int index, Element*& element) const;

    // Event delivery through the event loop, dropped when the element was
    // closed in between.
    template <typename Fn>
    void post(Element& el, Fn fn);
    void postData(Element& el);
    void postProgress(Element& el);
    // Reports of a connection's own notifications, delivered at once.
    void deliverData(Element& el);
    void deliverProgress(Element& el);
    void postError(Element& el, const SocketFailure& failure);

    void onConnectDone(Element& el, int fd, const SocketFailure& failure);
    void startConnection(Element& el, int fd, std::unique_ptr<TlsStream> tls = nullptr);
    void startHandshake(Element& el, int fd);
    void onConnectionEnded(Element& el);
    TcpListener& makeListener(Element& el);
    UdpEndpoint& makeUdp(Element& el);
    void postRefused(Element& el, const std::string& address, const std::string& reason);
    // Close, or with reset the connection ends at once (Abort).
    Result closeElement(int index, bool reset);
    TcpListener* listenerWith(long requestId, int preferredIndex) const;

    std::chrono::milliseconds m_connectTimeout;
    std::unique_ptr<QObject> m_context;
    std::map<int, std::unique_ptr<Element>> m_elements;
    TcpLinger m_linger;
    // Finished connectors, deleted from the event loop: they report from
    // inside their own callbacks.
    std::vector<std::unique_ptr<TcpConnector>> m_retired;
    std::vector<std::unique_ptr<TlsHandshake>> m_retiredHandshakes;
    long m_nextRequestId = 0;
};

}  // namespace velkon
