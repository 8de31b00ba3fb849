#include "network/TcpListener.h"

#include <cerrno>

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "components/SocketArray.h"
#include "network/SocketAddress.h"
#include "network/SocketErrors.h"
#include "network/SocketIo.h"
#include "network/TlsHandshake.h"
#include "network/TlsStream.h"

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
    m_handshakes.clear();
    m_finished.clear();
    CloseDescriptor(m_fd);
    for (auto& [id, request] : m_requests) {
        request.tls.reset();
        CloseDescriptor(request.fd);
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

TcpListener::Taken TcpListener::Take(long id)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end()) {
        return {};
    }
    Taken taken = std::move(it->second);
    m_requests.erase(it);
    return taken;
}

bool TcpListener::Reject(long id)
{
    Taken taken = Take(id);
    if (taken.fd < 0) {
        return false;
    }
    taken.tls.reset();
    ResetDescriptor(taken.fd);
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
                    m_events.refused(address, kRefusedNotAllowed);
                }
                continue;
            }
        }
        if (m_tls) {
            StartHandshake(fd);
        } else {
            AddRequest(fd, nullptr);
        }
    }
}

void TcpListener::AddRequest(int fd, std::unique_ptr<TlsStream> tls)
{
    const long id = m_events.nextId();
    m_requests.emplace(id, Taken{fd, std::move(tls)});
    if (m_requests.size() > kMaxPendingRequests) {
        Taken& oldest = m_requests.begin()->second;
        oldest.tls.reset();
        ResetDescriptor(oldest.fd);
        m_requests.erase(m_requests.begin());
    }
    m_events.request(id);
}

void TcpListener::StartHandshake(int fd)
{
    if (m_handshakes.size() >= kMaxPendingHandshakes) {
        // Reports and destroys it.
        m_handshakes.begin()->second->Abandon("too many TLS handshakes at once");
    }
    const std::uint64_t key = m_nextHandshake++;
    auto handshake = std::make_unique<TlsHandshake>(
        fd, *m_tls, kHandshakeTimeout,
        [this, key](int done, std::unique_ptr<TlsStream> tls, const std::string& failure) {
            OnHandshakeDone(key, done, std::move(tls), failure);
        });
    TlsHandshake& started = *handshake;
    m_handshakes.emplace(key, std::move(handshake));
    started.Start();
}

void TcpListener::OnHandshakeDone(std::uint64_t key, int fd, std::unique_ptr<TlsStream> tls,
                                  const std::string& failure)
{
    const auto it = m_handshakes.find(key);
    if (it == m_handshakes.end()) {
        return;
    }
    const std::string address = it->second->PeerAddress();
    // Deleted from the event loop: it reports from inside its own callbacks.
    m_finished.push_back(std::move(it->second));
    m_handshakes.erase(it);
    if (m_finished.size() == 1) {
        QMetaObject::invokeMethod(
            m_context.get(), [this] { m_finished.clear(); }, Qt::QueuedConnection);
    }
    if (fd < 0) {
        if (m_events.refused) {
            m_events.refused(address, "TLS handshake failed: " + failure);
        }
        return;
    }
    AddRequest(fd, std::move(tls));
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
