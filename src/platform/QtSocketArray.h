#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "components/SocketArray.h"

class QObject;

namespace velkon {

// The session's socket array on Linux.
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
// TCP receiving: arrived bytes wait in the element, at most kReceiveLimit of
// them; beyond that nothing more is read from the kernel, so TCP flow control
// slows the sender. dataArrival comes when new bytes arrived and again after a
// GetData that took bytes but left some. When the peer closes or the
// connection fails, the close or error event comes only after the session
// has taken every byte that arrived before it, so no byte is lost to a close.
//
// TCP sending: SendData queues everything in order without a limit of its own
// (the session bounds it by BytesToWrite). BytesToWrite counts the bytes the
// kernel has not taken yet; sendProgress comes whenever queued bytes have
// been handed on.
//
// Close is immediate for the session (state 0 at once, reusable, no event).
// The bytes still queued of a connected element are flushed in the
// background, followed by an orderly shutdown, for at most kCloseFlushMs;
// after that the connection is dropped. Closing a listener drops the
// connection requests that were never accepted.
//
// Connection requests: each incoming connection gets a unique id and waits,
// unanswered, until Accept moves it onto an element; at most
// kMaxPendingRequests wait per listener, the oldest being dropped beyond that.
//
// UDP: Bind opens the datagram socket (port 0: any free port, reported by
// LocalPort). SendData sends one datagram to RemoteHost:RemotePort; with no
// RemoteHost (server mode) to the sender of the latest datagram received, at
// RemotePort. Before any datagram has arrived there is nowhere to send: the
// datagram is dropped and SendData succeeds. A RemoteHost name is resolved
// once (an IPv4 address preferred) and remembered until Close or a new name;
// datagrams sent meanwhile wait, at most kMaxWaitingDatagrams of them, newer
// ones are dropped. When the name cannot be resolved the waiting datagrams
// are dropped and the next SendData fails with 11001 and tries the name
// again. Send failures are reported by SendData only; UDP raises no error
// events, so a stray ICMP message never closes the session's socket.
// Received datagrams wait as whole datagrams, at most kMaxDatagrams, newer
// ones being dropped; one dataArrival per datagram; empty datagrams are not
// queued but still count as the latest sender.
class QtSocketArray : public SocketArray {
public:
    static constexpr int kMaxIndex = 32767;
    static constexpr int kReceiveLimit = 256 * 1024;
    static constexpr std::size_t kMaxPendingRequests = 64;
    static constexpr std::size_t kMaxDatagrams = 1024;
    static constexpr std::size_t kMaxWaitingDatagrams = 64;
    static constexpr int kCloseFlushMs = 10000;

    QtSocketArray();
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

    Result Connect(int index) override;
    Result Listen(int index) override;
    Result Bind(int index, int port, const std::string& localAddress) override;
    Result Accept(int index, long requestId) override;
    Result Reject(int index, long requestId) override;
    Result Close(int index) override;
    Result SendData(int index, const Bytes& data) override;
    Result GetData(int index, Bytes& out, int maxBytes) override;
    int BytesAvailable(int index) const override;
    int BytesToWrite(int index) const override;

private:
    struct Element;
    struct Linger;

    Element* find(int index) const;
    Result loaded(int index, Element*& element) const;

    // Event delivery through the event loop, dropped when the element was
    // closed in between.
    template <typename Fn>
    void post(Element& el, Fn fn);
    void postData(Element& el);
    void postProgress(Element& el);

    // TCP
    Result bindTcp(Element& el, int port, const std::string& localAddress);
    void startConnect(Element& el);
    void connectNext(Element& el);
    void onConnectWritable(Element& el);
    void becomeConnected(Element& el, int fd, bool raiseConnect);
    void onAcceptable(Element& el);
    void onReadable(Element& el);
    void onWritable(Element& el);
    bool flushOutput(Element& el);
    void connectionFailed(Element& el, int number, const std::string& description);
    void finishIfDrained(Element& el);
    void releaseSocket(Element& el);
    void linger(int fd, std::string pendingOutput);
    void endLinger(std::uint64_t id);

    // UDP
    Result bindUdp(Element& el, int port, const std::string& localAddress);
    void onDatagrams(Element& el);
    Result sendDatagram(Element& el, const Bytes& data);
    void startUdpLookup(Element& el);

    std::unique_ptr<QObject> m_context;
    std::map<int, std::unique_ptr<Element>> m_elements;
    std::map<std::uint64_t, std::unique_ptr<Linger>> m_lingering;
    std::uint64_t m_nextLinger = 1;
    long m_nextRequestId = 0;
};

}  // namespace velkon
