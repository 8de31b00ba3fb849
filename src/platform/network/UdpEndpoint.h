#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include "components/Result.h"

class QObject;
class QUdpSocket;

namespace velkon {

// The datagram socket of a UDP element.
//
// Bind opens it (port 0: any free port, reported by LocalPort). Send sends
// one datagram to the remote host and port; with no remote host (server
// mode) to the sender of the latest datagram received, at the remote port
// (or the sender's port when that is 0). Before any datagram has arrived
// there is nowhere to send: the datagram is dropped and Send succeeds.
//
// A remote host name is resolved once (an IPv4 address preferred) and
// remembered while the endpoint lives or until another name is given;
// datagrams sent meanwhile wait, at most kMaxWaitingDatagrams of them, newer
// ones are dropped. When the name cannot be resolved the waiting datagrams
// are dropped and the next Send fails with 11001 and tries the name again.
// Send failures are reported by Send only: there are no error events, so a
// stray ICMP message never closes the session's socket.
//
// Received datagrams wait whole, at most kMaxDatagrams, newer ones being
// dropped; `arrived` is reported once per datagram queued. Empty datagrams
// are not queued but still count as the latest sender.
class UdpEndpoint {
public:
    static constexpr std::size_t kMaxDatagrams = 1024;
    static constexpr std::size_t kMaxWaitingDatagrams = 64;

    struct Events {
        std::function<void()> arrived;
        // Datagrams that waited for the name lookup have left or were dropped.
        std::function<void()> progress;
        // A datagram from a sender the filter turned away, dropped unanswered.
        std::function<void(const std::string& address)> refused;
    };

    explicit UdpEndpoint(Events events);
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    // localAddress empty: any address.
    Result Bind(int port, const std::string& localAddress);
    int LocalPort() const;

    Result Send(const Bytes& data, const std::string& remoteHost, int remotePort);
    // Size of the oldest waiting datagram; 0 when none waits.
    std::size_t NextSize() const;
    // Replaces out with the oldest waiting datagram (empty when none).
    void Take(Bytes& out);
    // Bytes of datagrams waiting for the remote host's name.
    std::size_t WaitingBytes() const { return m_waitingBytes; }
    std::string LatestSender() const;
    // Senders whose datagrams are taken; empty: anyone.
    void SetPeerFilter(std::function<bool(const std::string& address)> allowed)
    {
        m_allowed = std::move(allowed);
    }

private:
    enum class Lookup { kNone, kPending, kDone, kFailed };

    void OnReadyRead();
    Result Write(const QByteArray& payload, const QHostAddress& address, int port);
    Result SendToName(const QByteArray& payload, const QString& host, int port);
    void StartLookup(int port);
    void DropWaiting();

    Events m_events;
    std::unique_ptr<QObject> m_context;
    QUdpSocket* m_socket = nullptr;
    std::deque<QByteArray> m_received;
    QHostAddress m_latestSender;
    int m_latestSenderPort = 0;
    Lookup m_lookup = Lookup::kNone;
    int m_lookupId = -1;
    QString m_lookupName;
    QHostAddress m_lookupAddress;
    std::deque<QByteArray> m_waiting;
    std::size_t m_waitingBytes = 0;
    std::function<bool(const std::string& address)> m_allowed;
};

}  // namespace velkon
