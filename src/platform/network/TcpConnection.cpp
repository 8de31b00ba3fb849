#include "network/TcpConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "network/SocketAddress.h"
#include "network/SocketIo.h"

namespace velkon {

namespace {

void SetOption(int fd, int level, int name, int value)
{
    // Best effort: a connection without them still works.
    ::setsockopt(fd, level, name, &value, sizeof value);
}

std::string PeerOf(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return {};
    }
    return AddressText(QHostAddress(reinterpret_cast<sockaddr*>(&peer)));
}

}  // namespace

TcpConnection::TcpConnection(int fd, Events events)
    : m_fd(fd), m_events(std::move(events)), m_context(std::make_unique<QObject>())
{
    ApplyOptions(fd);
    m_peer = PeerOf(fd);
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
    if (m_out.empty()) {
        // Straight to the kernel when nothing waits before it.
        while (offset < count) {
            const IoStep step = SendSome(m_fd, bytes + offset, count - offset);
            if (step.kind == IoStep::kDone) {
                offset += step.count;
                continue;
            }
            if (step.kind == IoStep::kWouldBlock) {
                break;
            }
            Fail(step.err);
            return;
        }
    }
    if (offset < count) {
        m_out.append(bytes + offset, count - offset);
        m_writeNotifier->setEnabled(true);
    }
}

void TcpConnection::Take(Bytes& out, std::size_t maxBytes)
{
    const std::size_t count = std::min(m_in.size(), maxBytes);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(m_in.data());
    out.assign(bytes, bytes + count);
    m_in.consume(count);
    if (m_readNotifier != nullptr && !m_readNotifier->isEnabled() && m_in.size() < kReceiveLimit) {
        m_readNotifier->setEnabled(true);
    }
    EndIfDrained();
}

int TcpConnection::Release(std::string& unsent)
{
    unsent = m_out.take();
    DropNotifier(m_readNotifier);
    DropNotifier(m_writeNotifier);
    m_in.clear();
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void TcpConnection::OnReadable()
{
    bool arrived = false;
    int err = 0;
    while (m_in.size() < kReceiveLimit) {
        const std::size_t room = std::min(kReceiveLimit - m_in.size(), kReadChunk);
        const IoStep step = ReceiveSome(m_fd, ReadScratch(), room);
        if (step.kind == IoStep::kDone) {
            m_in.append(ReadScratch(), step.count);
            arrived = true;
            continue;
        }
        if (step.kind == IoStep::kEnd) {
            m_peerClosed = true;
            DropNotifier(m_readNotifier);
        } else if (step.kind == IoStep::kFailed) {
            err = step.err;
        }
        break;
    }
    if (m_readNotifier != nullptr && m_in.size() >= kReceiveLimit) {
        // Full: the kernel keeps the rest and TCP slows the sender.
        m_readNotifier->setEnabled(false);
    }
    if (arrived) {
        m_events.arrived();
    }
    if (err != 0) {
        Fail(err);
        return;
    }
    EndIfDrained();
}

void TcpConnection::OnWritable()
{
    if (Flush()) {
        m_events.progress();
    }
}

bool TcpConnection::Flush()
{
    std::size_t written = 0;
    while (!m_out.empty() && m_fd >= 0) {
        const IoStep step = SendSome(m_fd, m_out.data(), m_out.size());
        if (step.kind == IoStep::kDone) {
            m_out.consume(step.count);
            written += step.count;
            continue;
        }
        if (step.kind == IoStep::kFailed) {
            Fail(step.err);
            return written > 0;
        }
        break;
    }
    if (m_writeNotifier != nullptr) {
        m_writeNotifier->setEnabled(!m_out.empty());
    }
    return written > 0;
}

void TcpConnection::Fail(int err)
{
    if (Failed()) {
        return;
    }
    DropNotifier(m_readNotifier);
    DropNotifier(m_writeNotifier);
    CloseDescriptor(m_fd);
    m_out.clear();
    m_failure = FailureFromErrno(err);
    EndIfDrained();
}

void TcpConnection::EndIfDrained()
{
    if (m_ended || !(Failed() || m_peerClosed) || !m_in.empty()) {
        return;
    }
    m_ended = true;
    m_events.ended();
}

}  // namespace velkon
