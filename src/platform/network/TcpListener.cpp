#include "network/TcpListener.h"

#include <cerrno>

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "network/SocketAddress.h"
#include "network/SocketErrors.h"
#include "network/SocketIo.h"

namespace velkon {

namespace {

// Enough to let a burst of clients in without stalling the event loop.
constexpr int kAcceptsPerWake = 64;
// Out of descriptors, the listener rests this long instead of waking up again
// and again for a connection it cannot take.
constexpr int kAcceptRetryMs = 200;

}  // namespace

TcpListener::TcpListener(Events events)
    : m_events(std::move(events)), m_context(std::make_unique<QObject>())
{
}

TcpListener::~TcpListener()
{
    m_context.reset();
    CloseDescriptor(m_fd);
    for (auto& [id, fd] : m_requests) {
        CloseDescriptor(fd);
    }
}

Result TcpListener::Bind(int port, const std::string& localAddress)
{
    const QString text = HostText(localAddress);
    sockaddr_storage storage{};
    socklen_t length = 0;
    int fd = -1;
    if (text.isEmpty()) {
        // Any address: one dual-stack socket takes IPv4 and IPv6 clients.
        fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            const int off = 0;
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            ToSockaddr(QHostAddress::AnyIPv6, port, storage, length);
        } else {
            ToSockaddr(QHostAddress::AnyIPv4, port, storage, length);
        }
    } else {
        QHostAddress address;
        if (!address.setAddress(text) || !ToSockaddr(address, port, storage, length)) {
            return Result::Fail("Address not available: " + localAddress, kErrAddressNotAvailable);
        }
    }
    if (fd < 0) {
        fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return FailureFromErrno(errno).ToResult();
        }
    }
    // A server restarted at once must get its port back from connections
    // still in TIME_WAIT; a port held by a live socket is still refused.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        const int err = errno;
        CloseDescriptor(fd);
        return FailureFromErrno(err).ToResult();
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    // Port 0 took a free port: report the real one.
    m_localPort = ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0
                      ? PortOf(bound)
                      : port;
    m_fd = fd;
    return Result::Ok();
}

Result TcpListener::Listen(int port)
{
    if (m_fd < 0) {
        if (Result r = Bind(port, std::string()); !r) {
            return r;
        }
    }
    if (::listen(m_fd, SOMAXCONN) != 0) {
        return FailureFromErrno(errno).ToResult();
    }
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, m_context.get());
    QObject::connect(m_readNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this] { OnAcceptable(); });
    return Result::Ok();
}

int TcpListener::Take(long id)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end()) {
        return -1;
    }
    const int fd = it->second;
    m_requests.erase(it);
    return fd;
}

bool TcpListener::Reject(long id)
{
    int fd = Take(id);
    if (fd < 0) {
        return false;
    }
    ResetDescriptor(fd);
    return true;
}

void TcpListener::OnAcceptable()
{
    for (int i = 0; i < kAcceptsPerWake; ++i) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        int fd = ::accept4(m_fd, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            if (err == EINTR || err == ECONNABORTED || err == EPROTO) {
                continue;
            }
            if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                PauseAccepting();
            }
            return;
        }
        if (m_allowed) {
            const std::string address =
                AddressText(QHostAddress(reinterpret_cast<const sockaddr*>(&peer)));
            if (!m_allowed(address)) {
                ResetDescriptor(fd);
                if (m_events.refused) {
                    m_events.refused(address);
                }
                continue;
            }
        }
        const long id = m_events.nextId();
        m_requests.emplace(id, fd);
        if (m_requests.size() > kMaxPendingRequests) {
            ResetDescriptor(m_requests.begin()->second);
            m_requests.erase(m_requests.begin());
        }
        m_events.request(id);
    }
}

void TcpListener::PauseAccepting()
{
    m_readNotifier->setEnabled(false);
    QTimer::singleShot(kAcceptRetryMs, m_context.get(), [this] {
        if (m_readNotifier != nullptr) {
            m_readNotifier->setEnabled(true);
        }
    });
}

}  // namespace velkon
