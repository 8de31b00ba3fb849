#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <QHostAddress>
#include <QString>

#include "network/SocketErrors.h"

class QObject;
class QSocketNotifier;
class QTimer;

namespace velkon {

// One outgoing TCP connection attempt: resolves the host name without
// blocking, then tries its addresses in turn, as a name may stand for
// addresses of which only some accept (::1 and 127.0.0.1 for localhost).
//
// The attempt ends exactly once, by success, by the failure of the last
// address (refused, unreachable, ...) or by its own time-out, which covers
// the whole attempt, name lookup included, and fails with 10060. Nothing
// else cuts it short; destroying the connector abandons it silently.
//
// The outcome may be reported from inside Start (an address that fails at
// once); the owner must be ready for that.
class TcpConnector {
public:
    // fd >= 0: connected, the descriptor is the receiver's; else failed.
    using Done = std::function<void(int fd, const SocketFailure& failure)>;

    TcpConnector(std::chrono::milliseconds timeout, Done done);
    ~TcpConnector();
    TcpConnector(const TcpConnector&) = delete;
    TcpConnector& operator=(const TcpConnector&) = delete;

    // host: a name or an address literal; port 1..65535.
    void Start(const QString& host, int port);
    // True while the host name is being looked up.
    bool Resolving() const { return m_lookupId >= 0; }

private:
    void OnResolved(const QList<QHostAddress>& addresses, bool found, const QString& host);
    void TryNext();
    void OnWritable();
    void Finish(int fd, const SocketFailure& failure);

    std::chrono::milliseconds m_timeout;
    Done m_done;
    std::unique_ptr<QObject> m_context;
    QTimer* m_deadline = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    std::vector<QHostAddress> m_candidates;
    std::size_t m_next = 0;
    int m_port = 0;
    int m_fd = -1;
    int m_lastErrno = 0;
    int m_lookupId = -1;
    bool m_finished = false;
};

}  // namespace velkon
