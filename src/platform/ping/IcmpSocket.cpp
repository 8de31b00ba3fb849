#include "ping/IcmpSocket.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "tools/PingEngine.h"

namespace velkon {

std::uint16_t ProcessEchoId()
{
    static const std::uint16_t id = [] {
        std::random_device device;
        return static_cast<std::uint16_t>(device());
    }();
    return id;
}

std::uint16_t NextSequence()
{
    static std::atomic<std::uint16_t> next{static_cast<std::uint16_t>(std::random_device{}())};
    return next.fetch_add(1, std::memory_order_relaxed);
}

int StatusForSendError(int error)
{
    switch (error) {
        case ENETUNREACH:
            return kPingDestNetUnreachable;
        case EHOSTUNREACH:
            return kPingDestHostUnreachable;
        case EMSGSIZE:
            return kPingPacketTooBig;
        case ENOBUFS:
        case ENOMEM:
        case EAGAIN:
            return kPingNoResources;
        default:
            return kPingGeneralFailure;
    }
}

bool IcmpSocket::Open(IcmpSocketKind kind)
{
    Close();
    if (kind != IcmpSocketKind::Raw && OpenDatagram()) {
        return true;
    }
    return kind != IcmpSocketKind::Datagram && OpenRaw();
}

void IcmpSocket::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int IcmpSocket::Send(std::uint32_t address, std::uint16_t sequence, const std::string& data)
{
    // The kernel fills identifier and checksum on datagram sockets.
    const std::vector<std::uint8_t> packet =
        BuildEchoRequest(m_raw ? ProcessEchoId() : 0, sequence, data, m_raw);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    for (;;) {
        const ssize_t sent = ::sendto(m_fd, packet.data(), packet.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        if (sent >= 0) {
            return kPingSuccess;
        }
        if (errno != EINTR) {
            return StatusForSendError(errno);
        }
    }
}

bool IcmpSocket::Answers(const IcmpMessage& in, std::uint16_t sequence, std::uint32_t address,
                         const std::string& data) const
{
    if (in.kind == IcmpMessage::Kind::Other || in.sequence != sequence) {
        return false;
    }
    if (m_raw && in.id != ProcessEchoId()) {
        return false;
    }
    if (in.kind == IcmpMessage::Kind::Reply) {
        return in.payload == data;
    }
    return in.target == address;
}

bool IcmpSocket::OpenDatagram()
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd < 0) {
        return false;
    }
    m_raw = false;
    // ICMP errors about our requests arrive in the socket's error queue.
    const int on = 1;
    ::setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof(on));
    return true;
}

bool IcmpSocket::OpenRaw()
{
    m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd < 0) {
        return false;
    }
    m_raw = true;
    // Only the types that can answer an echo; optional, so failure is fine.
    icmp_filter filter{};
    filter.data =
        ~((1u << kIcmpEchoReply) | (1u << kIcmpDestUnreachable) | (1u << kIcmpSourceQuench) |
          (1u << kIcmpTimeExceeded) | (1u << kIcmpParameterProblem));
    ::setsockopt(m_fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    return true;
}

bool IcmpSocket::ReadErrorQueue(std::uint8_t* buffer, IcmpMessage& in)
{
    if (m_raw) {
        return false;
    }
    sockaddr_in target{};
    alignas(cmsghdr) char control[512];
    iovec iov{buffer, kReceiveBufferSize};
    msghdr msg{};
    msg.msg_name = &target;
    msg.msg_namelen = sizeof(target);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    ssize_t n;
    do {
        n = ::recvmsg(m_fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return false;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) {
            continue;
        }
        sock_extended_err error{};
        std::memcpy(&error, CMSG_DATA(c), sizeof(error));
        if (error.ee_origin != SO_EE_ORIGIN_ICMP) {
            continue;  // local errors quote no request to match
        }
        const int status = StatusForIcmpError(error.ee_type, error.ee_code);
        if (status == kPingSuccess ||
            !ParseQuotedRequest(buffer, static_cast<std::size_t>(n), in)) {
            continue;
        }
        sockaddr_in offender{};
        std::memcpy(&offender, SO_EE_OFFENDER(reinterpret_cast<sock_extended_err*>(CMSG_DATA(c))),
                    sizeof(offender));
        in.kind = IcmpMessage::Kind::Error;
        in.status = status;
        in.from = offender.sin_family == AF_INET ? offender.sin_addr.s_addr : 0;
        in.target = target.sin_addr.s_addr;
        break;
    }
    return true;
}

bool IcmpSocket::ReadPacket(std::uint8_t* buffer, IcmpMessage& in)
{
    sockaddr_in from{};
    socklen_t fromSize = sizeof(from);
    ssize_t n;
    do {
        n = ::recvfrom(m_fd, buffer, kReceiveBufferSize, MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&from), &fromSize);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }
    const auto size = static_cast<std::size_t>(n);
    in = m_raw ? ParseRawPacket(buffer, size)
               : ParseDatagramPacket(buffer, size, from.sin_addr.s_addr);
    return true;
}

}  // namespace velkon
