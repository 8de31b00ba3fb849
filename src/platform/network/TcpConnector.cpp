#include "network/TcpConnector.h"

#include <cerrno>

#include <QHostInfo>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include "network/SocketAddress.h"
#include "network/SocketIo.h"

namespace velkon {

TcpConnector::TcpConnector(std::chrono::milliseconds timeout, Done done)
    : m_timeout(timeout), m_done(std::move(done)), m_context(std::make_unique<QObject>())
{
}

TcpConnector::~TcpConnector()
{
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
    }
    // Notifiers, timer and lookup callbacks go with their context.
    m_context.reset();
    CloseDescriptor(m_fd);
}

void TcpConnector::Start(const QString& host, int port)
{
    m_port = port;
    m_deadline = new QTimer(m_context.get());
    m_deadline->setSingleShot(true);
    QObject::connect(m_deadline, &QTimer::timeout, m_context.get(),
                     [this] { Finish(-1, FailureFromErrno(ETIMEDOUT)); });
    m_deadline->start(m_timeout);

    QHostAddress literal;
    if (literal.setAddress(host)) {
        m_candidates.push_back(literal);
        TryNext();
        return;
    }
    m_lookupId = QHostInfo::lookupHost(host, m_context.get(), [this, host](const QHostInfo& info) {
        m_lookupId = -1;
        OnResolved(info.addresses(), info.error() == QHostInfo::NoError, host);
    });
}

void TcpConnector::OnResolved(const QList<QHostAddress>& addresses, bool found, const QString& host)
{
    if (m_finished) {
        return;
    }
    if (!found || addresses.isEmpty()) {
        Finish(-1, {kErrHostNotFound, "Host not found: " + host.toStdString()});
        return;
    }
    m_candidates.assign(addresses.begin(), addresses.end());
    TryNext();
}

void TcpConnector::TryNext()
{
    while (m_next < m_candidates.size()) {
        sockaddr_storage storage{};
        socklen_t length = 0;
        if (!ToSockaddr(m_candidates[m_next++], m_port, storage, length)) {
            continue;
        }
        int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            m_lastErrno = errno;
            continue;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0) {
            Finish(fd, {});
            return;
        }
        if (errno == EINPROGRESS || errno == EINTR) {
            m_fd = fd;
            m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, m_context.get());
            QObject::connect(m_writeNotifier, &QSocketNotifier::activated, m_context.get(),
                             [this] { OnWritable(); });
            return;
        }
        m_lastErrno = errno;
        CloseDescriptor(fd);
    }
    Finish(-1, FailureFromErrno(m_lastErrno != 0 ? m_lastErrno : ECONNREFUSED));
}

void TcpConnector::OnWritable()
{
    int err = 0;
    socklen_t length = sizeof err;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0) {
        err = errno;
    }
    DropNotifier(m_writeNotifier);
    if (err == 0) {
        const int fd = m_fd;
        m_fd = -1;
        Finish(fd, {});
        return;
    }
    CloseDescriptor(m_fd);
    m_lastErrno = err;
    TryNext();
}

void TcpConnector::Finish(int fd, const SocketFailure& failure)
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_deadline->stop();
    DropNotifier(m_writeNotifier);
    CloseDescriptor(m_fd);
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_done(fd, failure);
}

}  // namespace velkon
