#include "network/TcpConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <tuple>

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "network/SocketAddress.h"
#include "network/SocketIo.h"
#include "network/TlsErrors.h"
#include "network/TlsStream.h"

namespace velkon {

namespace {

void SetOption(int fd, int level, int name, int value)
{
    // Best effort: a connection without them still works.
    ::setsockopt(fd, level, name, &value, sizeof value);
}

// The peer's address text and port; empty and 0 when unknown.
std::pair<std::string, int> PeerOf(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return {};
    }
    const int port = peer.ss_family == AF_INET6
                         ? ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port)
                         : ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
    return {AddressText(QHostAddress(reinterpret_cast<sockaddr*>(&peer))), port};
}

}  // namespace

TcpConnection::TcpConnection(int fd, Events events, std::unique_ptr<TlsStream> tls)
    : m_fd(fd),
      m_events(std::move(events)),
      m_context(std::make_unique<QObject>()),
      m_tls(std::move(tls))
{
    ApplyOptions(fd);
    std::tie(m_peer, m_peerPort) = PeerOf(fd);
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, m_context.get());
    QObject::connect(m_readNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this] { OnReadable(); });
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, m_context.get());
    m_writeNotifier->setEnabled(false);
    QObject::connect(m_writeNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this] { OnWritable(); });
}

TcpConnection::~TcpConnection()
{
    *m_alive = false;
    m_context.reset();
    CloseDescriptor(m_fd);
}

void TcpConnection::ApplyOptions(int fd)
{
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleS);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
    SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUserTimeoutMs));
}

void TcpConnection::Send(const char* bytes, std::size_t count)
{
    if (count == 0 || m_fd < 0) {
        // A broken connection drops it; its end is reported already or soon.
        return;
    }
    std::size_t offset = 0;
    if (m_out.Empty()) {
        // Straight to the kernel when nothing waits before it.
        while (offset < count) {
            const IoStep step = SendStep(bytes + offset, count - offset);
            if (step.kind == IoStep::kDone) {
                offset += step.count;
                // A short send: the socket buffer is full, a retry would fail.
                // (OpenSSL stops after each record instead.)
                if (offset < count && !m_tls) {
                    break;
                }
                continue;
            }
            if (step.kind == IoStep::kWouldBlock) {
                if (m_tls && !m_tls->WantsWrite()) {
                    Waiting(false);
                }
                break;
            }
            Fail(step.err);
            return;
        }
    }
    if (offset < count) {
        m_out.Add(reinterpret_cast<const std::uint8_t*>(bytes) + offset,
                  static_cast<std::int32_t>(count - offset));
        m_writeNotifier->setEnabled(!m_writeWantsRead);
    }
}

void TcpConnection::Take(Bytes& out, std::size_t maxBytes)
{
    const std::size_t count = std::min(Available(), maxBytes);
    out.assign(m_in.Data(), m_in.Data() + count);
    m_in.Drop(static_cast<std::int32_t>(count));
    Took();
}

std::size_t TcpConnection::TakeInto(std::uint8_t* buffer, std::size_t maxBytes)
{
    const std::size_t count = std::min(Available(), maxBytes);
    std::copy_n(m_in.Data(), count, buffer);
    m_in.Drop(static_cast<std::int32_t>(count));
    Took();
    return count;
}

void TcpConnection::Took()
{
    if (m_readNotifier != nullptr && !m_readNotifier->isEnabled() && Available() < kReceiveLimit &&
        !m_readWantsWrite) {
        m_readNotifier->setEnabled(true);
        if (m_tls && m_tls->HasPending()) {
            ReadPendingLater();
        }
    }
    EndIfDrained();
}

void TcpConnection::ReadPendingLater()
{
    if (m_readPosted) {
        return;
    }
    m_readPosted = true;
    // From the event loop: the owner takes bytes from inside its reports.
    QMetaObject::invokeMethod(
        m_context.get(),
        [this] {
            m_readPosted = false;
            if (m_readNotifier != nullptr && m_readNotifier->isEnabled()) {
                OnReadable();
            }
        },
        Qt::QueuedConnection);
}

IoStep TcpConnection::ReceiveStep(char* buffer, std::size_t room)
{
    return m_tls ? m_tls->Receive(buffer, room) : ReceiveSome(m_fd, buffer, room);
}

IoStep TcpConnection::SendStep(const char* bytes, std::size_t count)
{
    return m_tls ? m_tls->Send(bytes, count) : SendSome(m_fd, bytes, count);
}

void TcpConnection::Waiting(bool reading)
{
    if (m_readNotifier == nullptr || m_writeNotifier == nullptr) {
        return;
    }
    if (reading) {
        m_readWantsWrite = true;
        m_readNotifier->setEnabled(false);
        m_writeNotifier->setEnabled(true);
    } else {
        m_writeWantsRead = true;
        m_writeNotifier->setEnabled(false);
    }
}

int TcpConnection::Release(std::string& unsent)
{
    if (m_tls && m_fd >= 0) {
        unsent = m_tls->Seal(reinterpret_cast<const char*>(m_out.Data()), Queued());
    } else {
        unsent.assign(reinterpret_cast<const char*>(m_out.Data()), Queued());
    }
    m_out.Clear();
    DropNotifier(m_readNotifier);
    DropNotifier(m_writeNotifier);
    m_in.Clear();
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void TcpConnection::OnReadable()
{
    if (m_writeWantsRead) {
        m_writeWantsRead = false;
        const std::shared_ptr<bool> alive = m_alive;
        OnWritable();
        if (!*alive || m_readNotifier == nullptr) {
            return;
        }
    }
    bool arrived = false;
    int err = 0;
    // A small first read keeps short messages from taking much memory.
    std::int32_t chunk = ByteQueue::kKeptWhenEmpty;
    for (;;) {
        // Straight into the buffer: no copy on the way.
        const std::span<std::uint8_t> space = m_in.Prepare(chunk);
        chunk = static_cast<std::int32_t>(kReadChunk);
        if (space.empty())
            break;
        const IoStep step = ReceiveStep(reinterpret_cast<char*>(space.data()), space.size());
        if (step.kind == IoStep::kDone) {
            m_in.Commit(static_cast<std::int32_t>(step.count));
            arrived = true;
            // OpenSSL gives a record at a time: only a blocked read says
            // that the kernel has nothing more.
            if (step.count < space.size() && !m_tls)
                break;
            continue;
        }
        if (step.kind == IoStep::kWouldBlock && m_tls && m_tls->WantsWrite()) {
            Waiting(true);
        }
        if (step.kind == IoStep::kEnd) {
            m_peerClosed = true;
            DropNotifier(m_readNotifier);
        } else if (step.kind == IoStep::kFailed) {
            err = step.err;
        }
        break;
    }
    if (m_readNotifier != nullptr && Available() >= kReceiveLimit) {
        // Full: the kernel keeps the rest and TCP slows the sender.
        m_readNotifier->setEnabled(false);
    }
    if (arrived) {
        const std::shared_ptr<bool> alive = m_alive;
        m_events.arrived();
        if (!*alive) {
            return;
        }
    }
    if (err != 0) {
        Fail(err);
        return;
    }
    EndIfDrained();
}

void TcpConnection::OnWritable()
{
    if (m_readWantsWrite) {
        m_readWantsWrite = false;
        m_writeNotifier->setEnabled(!m_out.Empty() && !m_writeWantsRead);
        if (m_readNotifier != nullptr) {
            m_readNotifier->setEnabled(Available() < kReceiveLimit);
        }
        const std::shared_ptr<bool> alive = m_alive;
        OnReadable();
        if (!*alive || m_fd < 0) {
            return;
        }
    }
    if (Flush()) {
        m_events.progress();
    }
}

bool TcpConnection::Flush()
{
    std::size_t written = 0;
    while (!m_out.Empty() && m_fd >= 0) {
        const std::size_t queued = Queued();
        const IoStep step = SendStep(reinterpret_cast<const char*>(m_out.Data()), queued);
        if (step.kind == IoStep::kDone) {
            m_out.Drop(static_cast<std::int32_t>(step.count));
            written += step.count;
            // A short send: the socket buffer is full, a retry would fail.
            if (step.count < queued && !m_tls) {
                break;
            }
            continue;
        }
        if (step.kind == IoStep::kFailed) {
            Fail(step.err);
            return written > 0;
        }
        if (m_tls && !m_tls->WantsWrite()) {
            m_writeWantsRead = true;
        }
        break;
    }
    if (m_writeNotifier != nullptr) {
        m_writeNotifier->setEnabled(m_readWantsWrite || (!m_out.Empty() && !m_writeWantsRead));
    }
    return written > 0;
}

void TcpConnection::Fail(int err)
{
    Fail(err < 0 && m_tls ? TlsFailure(m_tls->FailureText()) : FailureFromErrno(err));
}

void TcpConnection::Fail(const SocketFailure& failure)
{
    if (Failed()) {
        return;
    }
    DropNotifier(m_readNotifier);
    DropNotifier(m_writeNotifier);
    CloseDescriptor(m_fd);
    m_out.Clear();
    m_failure = failure;
    EndIfDrained();
}

void TcpConnection::EndIfDrained()
{
    if (m_ended || !(Failed() || m_peerClosed) || !m_in.Empty()) {
        return;
    }
    m_ended = true;
    m_events.ended();
}

}  // namespace velkon
