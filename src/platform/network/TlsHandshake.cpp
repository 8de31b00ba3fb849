#include "network/TlsHandshake.h"

#include <cerrno>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "network/SocketAddress.h"
#include "network/SocketIo.h"
#include "network/TlsContext.h"
#include "network/TlsErrors.h"
#include "network/TlsStream.h"

namespace velkon {

namespace {

std::string PeerOf(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return {};
    return AddressText(QHostAddress(reinterpret_cast<sockaddr*>(&peer)));
}

// Closes with a reset: the peer hears at once that it was turned away, and
// nothing of the connection lingers here.
void ResetConnection(int& fd)
{
    const linger abort{1, 0};
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    CloseDescriptor(fd);
}

}  // namespace

TlsHandshake::TlsHandshake(int fd, const TlsContext& context, std::chrono::milliseconds timeout,
                           Done done)
    : m_fd(fd),
      m_timeout(timeout),
      m_done(std::move(done)),
      m_peer(PeerOf(fd)),
      m_context(std::make_unique<QObject>())
{
    // The handshake's flights are small and each waits for the other side.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (SSL* ssl = context.NewConnection(fd))
        m_stream = std::make_unique<TlsStream>(ssl);
}

TlsHandshake::~TlsHandshake()
{
    m_context.reset();
    m_stream.reset();
    ResetConnection(m_fd);
}

void TlsHandshake::Start()
{
    if (!m_stream) {
        Fail(TlsQueueText("out of memory"));
        return;
    }
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, m_context.get());
    m_readNotifier->setEnabled(false);
    QObject::connect(m_readNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this] { Step(); });
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, m_context.get());
    m_writeNotifier->setEnabled(false);
    QObject::connect(m_writeNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this] { Step(); });
    m_deadline = new QTimer(m_context.get());
    m_deadline->setSingleShot(true);
    QObject::connect(m_deadline, &QTimer::timeout, m_context.get(), [this] {
        Fail("no handshake within " + std::to_string(m_timeout.count() / 1000) + " s");
    });
    m_deadline->start(m_timeout);
    Step();
}

void TlsHandshake::Abandon(const std::string& reason)
{
    Fail(reason);
}

void TlsHandshake::Step()
{
    SSL* ssl = m_stream->Handle();
    ERR_clear_error();
    errno = 0;
    const int result = SSL_do_handshake(ssl);
    if (result == 1) {
        DropNotifier(m_readNotifier);
        DropNotifier(m_writeNotifier);
        m_deadline->stop();
        const int fd = m_fd;
        m_fd = -1;
        // Last: the report may destroy this handshake.
        m_done(fd, std::move(m_stream), {});
        return;
    }
    const int kind = SSL_get_error(ssl, result);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
        m_readNotifier->setEnabled(kind == SSL_ERROR_WANT_READ);
        m_writeNotifier->setEnabled(kind == SSL_ERROR_WANT_WRITE);
        return;
    }
    Fail(TlsCallText(ssl, result));
}

void TlsHandshake::Fail(const std::string& reason)
{
    DropNotifier(m_readNotifier);
    DropNotifier(m_writeNotifier);
    if (m_deadline != nullptr)
        m_deadline->stop();
    m_stream.reset();
    ResetConnection(m_fd);
    // Last: the report may destroy this handshake.
    m_done(-1, nullptr, reason);
}

}  // namespace velkon
