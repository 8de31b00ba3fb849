#include "ping/IcmpEcho.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <vector>

namespace velkon {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint8_t kIcmpEchoReply = 0;
constexpr std::uint8_t kIcmpDestUnreachable = 3;
constexpr std::uint8_t kIcmpSourceQuench = 4;
constexpr std::uint8_t kIcmpEcho = 8;
constexpr std::uint8_t kIcmpTimeExceeded = 11;
constexpr std::uint8_t kIcmpParameterProblem = 12;
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kReceiveBufferSize = 4096;
// Packets handled per wake-up, so that a flood cannot starve the event loop.
constexpr int kMaxPacketsPerDrain = 64;

// Identifier of this process's raw-socket echoes; random so that other
// programs (which commonly use their process id) do not share it.
std::uint16_t ProcessEchoId()
{
    static const std::uint16_t id = [] {
        std::random_device device;
        return static_cast<std::uint16_t>(device());
    }();
    return id;
}

// Shared by every socket of the process so that two pingers never wait for
// the same sequence number.
std::uint16_t NextSequence()
{
    static std::atomic<std::uint16_t> next{static_cast<std::uint16_t>(std::random_device{}())};
    return next.fetch_add(1, std::memory_order_relaxed);
}

std::uint16_t ReadBigEndian16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t ReadStoredAddress(const std::uint8_t* p)
{
    std::uint32_t address = 0;
    std::memcpy(&address, p, 4);
    return address;
}

int StatusForIcmpError(int type, int code)
{
    switch (type) {
        case kIcmpDestUnreachable:
            switch (code) {
                case 0:   // net
                case 6:   // net unknown
                case 9:   // net administratively prohibited
                case 11:  // net unreachable for type of service
                    return kPingDestNetUnreachable;
                case 2:
                    return kPingDestProtUnreachable;
                case 3:
                    return kPingDestPortUnreachable;
                case 4:  // fragmentation needed
                    return kPingPacketTooBig;
                case 5:  // source route failed
                    return kPingBadRoute;
                default:  // the host, one way or another, cannot be reached
                    return kPingDestHostUnreachable;
            }
        case kIcmpTimeExceeded:
            return code == 1 ? kPingTtlExpiredReassembly : kPingTtlExpiredTransit;
        case kIcmpParameterProblem:
            return kPingParameterProblem;
        case kIcmpSourceQuench:
            return kPingSourceQuench;
        default:
            return kPingSuccess;  // not an error about a request (redirect, ...)
    }
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

std::uint16_t InternetChecksum(const std::vector<std::uint8_t>& bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        sum += ReadBigEndian16(&bytes[i]);
    }
    if (bytes.size() % 2 != 0) {
        sum += static_cast<std::uint32_t>(bytes.back()) << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

// Something read from an ICMP socket that may answer one of our requests.
struct Incoming {
    enum class Kind { Other, Reply, Error };
    Kind kind = Kind::Other;
    std::uint16_t id = 0;
    std::uint16_t sequence = 0;
    std::uint32_t from = 0;    // replier, or sender of the error
    std::uint32_t target = 0;  // errors: destination of the failed request
    int status = 0;            // errors: status code
    std::string payload;       // replies: echoed data
};

// Reads the ICMP header of our own request as quoted in an error.
bool ParseQuotedRequest(const std::uint8_t* p, std::size_t n, Incoming& out)
{
    if (n < kIcmpHeaderSize || p[0] != kIcmpEcho) {
        return false;
    }
    out.id = ReadBigEndian16(p + 4);
    out.sequence = ReadBigEndian16(p + 6);
    return true;
}

// Raw sockets deliver the IP header too, and every ICMP packet of the host.
Incoming ParseRawPacket(const std::uint8_t* p, std::size_t n)
{
    Incoming in;
    if (n < 20 || (p[0] >> 4) != 4) {
        return in;
    }
    const std::size_t ipHeader = static_cast<std::size_t>(p[0] & 0x0F) * 4;
    if (ipHeader < 20 || n < ipHeader + kIcmpHeaderSize) {
        return in;
    }
    const std::uint8_t* icmp = p + ipHeader;
    const std::size_t icmpSize = n - ipHeader;
    in.from = ReadStoredAddress(p + 12);
    if (icmp[0] == kIcmpEchoReply) {
        if (icmp[1] != 0) {
            return in;
        }
        in.kind = Incoming::Kind::Reply;
        in.id = ReadBigEndian16(icmp + 4);
        in.sequence = ReadBigEndian16(icmp + 6);
        in.payload.assign(reinterpret_cast<const char*>(icmp + kIcmpHeaderSize),
                          icmpSize - kIcmpHeaderSize);
        return in;
    }
    const int status = StatusForIcmpError(icmp[0], icmp[1]);
    if (status == kPingSuccess) {
        return in;
    }
    // The error quotes the IP header and at least 8 bytes of our request.
    const std::uint8_t* inner = icmp + kIcmpHeaderSize;
    const std::size_t innerSize = icmpSize - kIcmpHeaderSize;
    if (innerSize < 20 || (inner[0] >> 4) != 4 || inner[9] != IPPROTO_ICMP) {
        return in;
    }
    const std::size_t innerHeader = static_cast<std::size_t>(inner[0] & 0x0F) * 4;
    if (innerHeader < 20 || innerSize < innerHeader + kIcmpHeaderSize) {
        return in;
    }
    if (!ParseQuotedRequest(inner + innerHeader, innerSize - innerHeader, in)) {
        return in;
    }
    in.kind = Incoming::Kind::Error;
    in.status = status;
    in.target = ReadStoredAddress(inner + 16);
    return in;
}

// Datagram sockets deliver only ICMP, only echo replies, and only those
// whose identifier the kernel gave this socket.
Incoming ParseDatagramPacket(const std::uint8_t* p, std::size_t n, std::uint32_t from)
{
    Incoming in;
    if (n < kIcmpHeaderSize || p[0] != kIcmpEchoReply || p[1] != 0) {
        return in;
    }
    in.kind = Incoming::Kind::Reply;
    in.from = from;
    in.id = ReadBigEndian16(p + 4);
    in.sequence = ReadBigEndian16(p + 6);
    in.payload.assign(reinterpret_cast<const char*>(p + kIcmpHeaderSize), n - kIcmpHeaderSize);
    return in;
}

class IcmpSocket {
public:
    IcmpSocket() = default;
    ~IcmpSocket() { Close(); }
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    bool Open(IcmpSocketKind kind)
    {
        Close();
        if (kind != IcmpSocketKind::Raw && OpenDatagram()) {
            return true;
        }
        return kind != IcmpSocketKind::Datagram && OpenRaw();
    }

    void Close()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

    // 0 when the request left, else the status for the refusal.
    int Send(std::uint32_t address, std::uint16_t sequence, const std::string& data)
    {
        std::vector<std::uint8_t> packet(kIcmpHeaderSize + data.size());
        packet[0] = kIcmpEcho;
        packet[1] = 0;
        // The kernel fills identifier and checksum on datagram sockets.
        const std::uint16_t id = m_raw ? ProcessEchoId() : 0;
        packet[4] = static_cast<std::uint8_t>(id >> 8);
        packet[5] = static_cast<std::uint8_t>(id);
        packet[6] = static_cast<std::uint8_t>(sequence >> 8);
        packet[7] = static_cast<std::uint8_t>(sequence);
        std::memcpy(packet.data() + kIcmpHeaderSize, data.data(), data.size());
        if (m_raw) {
            const std::uint16_t sum = InternetChecksum(packet);
            packet[2] = static_cast<std::uint8_t>(sum >> 8);
            packet[3] = static_cast<std::uint8_t>(sum);
        }
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

    // Whether an answer is ours: raw sockets see everybody's echoes, so the
    // identifier counts there; the echoed data must be what was sent.
    bool Answers(const Incoming& in, std::uint16_t sequence, std::uint32_t address,
                 const std::string& data) const
    {
        if (in.kind == Incoming::Kind::Other || in.sequence != sequence) {
            return false;
        }
        if (m_raw && in.id != ProcessEchoId()) {
            return false;
        }
        if (in.kind == Incoming::Kind::Reply) {
            return in.payload == data;
        }
        return in.target == address;
    }

    // Reads what is waiting without blocking and hands each packet to
    // handle until it returns true. False when reading stopped because
    // nothing more was waiting.
    template <typename Handler>
    bool Drain(Handler&& handle)
    {
        std::uint8_t buffer[kReceiveBufferSize];
        for (int count = 0; count < kMaxPacketsPerDrain; ++count) {
            Incoming in;
            if (!ReadErrorQueue(buffer, in) && !ReadPacket(buffer, in)) {
                return false;
            }
            if (handle(in)) {
                return true;
            }
        }
        return true;
    }

private:
    bool OpenDatagram()
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

    bool OpenRaw()
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

    // False when the error queue is empty (raw sockets never fill it).
    bool ReadErrorQueue(std::uint8_t* buffer, Incoming& in)
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
            std::memcpy(&offender,
                        SO_EE_OFFENDER(reinterpret_cast<sock_extended_err*>(CMSG_DATA(c))),
                        sizeof(offender));
            in.kind = Incoming::Kind::Error;
            in.status = status;
            in.from = offender.sin_family == AF_INET ? offender.sin_addr.s_addr : 0;
            in.target = target.sin_addr.s_addr;
            break;
        }
        return true;
    }

    // False when nothing is waiting. A pending socket error (reported once
    // by the kernel) counts as a read of nothing useful.
    bool ReadPacket(std::uint8_t* buffer, Incoming& in)
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

    int m_fd = -1;
    bool m_raw = false;
};

int ElapsedMs(SteadyClock::time_point since)
{
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count());
}

}  // namespace

// ---------------------------------------------------------------------------

IcmpEchoTransport::IcmpEchoTransport(IcmpSocketKind kind) : m_kind(kind) {}

bool IcmpEchoTransport::CanOpen(IcmpSocketKind kind)
{
    IcmpSocket socket;
    return socket.Open(kind);
}

bool IcmpEchoTransport::Echo(std::uint32_t address, const std::string& data, int timeoutMs,
                             EchoReply& reply)
{
    IcmpSocket socket;
    if (!socket.Open(m_kind)) {
        return false;
    }
    EchoReply result{};
    if (data.size() > kEchoDataCapacity) {
        result.Status = kPingBufferTooSmall;
        reply = result;
        return true;
    }
    const std::uint16_t sequence = NextSequence();
    const SteadyClock::time_point start = SteadyClock::now();
    const SteadyClock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    result.Status = socket.Send(address, sequence, data);
    bool answered = result.Status != kPingSuccess;
    while (!answered) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        if (left <= 0) {
            result.Status = kPingTimedOut;
            break;
        }
        pollfd watch{socket.fd(), POLLIN, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            result.Status = kPingGeneralFailure;
            break;
        }
        if (ready <= 0) {
            continue;
        }
        socket.Drain([&](const Incoming& in) {
            if (!socket.Answers(in, sequence, address, data)) {
                return false;
            }
            result.Address = in.from;
            result.RoundTripTime = static_cast<std::uint32_t>(ElapsedMs(start));
            if (in.kind == Incoming::Kind::Reply) {
                result.Status = kPingSuccess;
                result.DataSize = static_cast<std::uint32_t>(in.payload.size());
                std::memcpy(result.Data, in.payload.data(), in.payload.size());
            } else {
                result.Status = in.status;
            }
            answered = true;
            return true;
        });
    }
    reply = result;
    return true;
}

// ---------------------------------------------------------------------------

std::optional<std::array<std::uint8_t, 4>> SystemHostResolver::FirstIPv4(const std::string& name)
{
    if (name.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    std::optional<std::array<std::uint8_t, 4>> first;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
            sockaddr_in address{};
            std::memcpy(&address, a->ai_addr, sizeof(address));
            std::array<std::uint8_t, 4> bytes{};
            std::memcpy(bytes.data(), &address.sin_addr.s_addr, 4);
            first = bytes;
            break;
        }
    }
    ::freeaddrinfo(found);
    return first;
}

// ---------------------------------------------------------------------------

struct AsyncPinger::Impl : std::enable_shared_from_this<Impl> {
    struct Request {
        std::uint32_t address = 0;
        std::function<void(int)> done;
        QTimer* timer = nullptr;
    };

    std::function<int()> timeoutIndex;
    IcmpSocketKind kind = IcmpSocketKind::Any;
    IcmpSocket socket;
    // Parent of the notifier and the timers.
    std::unique_ptr<QObject> holder = std::make_unique<QObject>();
    QSocketNotifier* notifier = nullptr;
    std::map<std::uint16_t, Request> pending;
    bool closed = false;
    // Nesting of our own event handlers; objects that may be emitting then
    // are deleted later rather than at once.
    int depth = 0;

    static constexpr char kData[] = "Hello";

    bool EnsureSocket()
    {
        if (socket.isOpen()) {
            return true;
        }
        if (!socket.Open(kind)) {
            return false;
        }
        notifier = new QSocketNotifier(socket.fd(), QSocketNotifier::Read, holder.get());
        const std::weak_ptr<Impl> weak = weak_from_this();
        // A readable socket and a queued error (POLLERR) both activate it.
        QObject::connect(notifier, &QSocketNotifier::activated, holder.get(), [weak] {
            if (const std::shared_ptr<Impl> self = weak.lock()) {
                self->OnReadable();
            }
        });
        return true;
    }

    void AnswerLater(std::function<void(int)> done, int status)
    {
        const std::weak_ptr<Impl> weak = weak_from_this();
        QMetaObject::invokeMethod(
            holder.get(),
            [weak, done = std::move(done), status] {
                const std::shared_ptr<Impl> self = weak.lock();
                if (!self || self->closed) {
                    return;
                }
                ++self->depth;
                done(status);
                --self->depth;
            },
            Qt::QueuedConnection);
    }

    void Start(const std::string& address, std::function<void(int)> done)
    {
        std::uint32_t destination = 0;
        if (!ParseDottedAddress(address, destination)) {
            AnswerLater(std::move(done), kPingBadAddress);
            return;
        }
        if (!EnsureSocket()) {
            AnswerLater(std::move(done), Pinger::kUnavailable);
            return;
        }
        const int timeoutMs = PingTimeoutMs(timeoutIndex ? timeoutIndex() : 0);
        std::uint16_t sequence = NextSequence();
        while (pending.count(sequence) != 0) {
            sequence = NextSequence();
        }
        const int sent = socket.Send(destination, sequence, kData);
        if (sent != kPingSuccess) {
            AnswerLater(std::move(done), sent);
            return;
        }
        auto* timer = new QTimer(holder.get());
        timer->setSingleShot(true);
        const std::weak_ptr<Impl> weak = weak_from_this();
        QObject::connect(timer, &QTimer::timeout, holder.get(), [weak, sequence, timer] {
            if (const std::shared_ptr<Impl> self = weak.lock()) {
                const auto it = self->pending.find(sequence);
                if (it != self->pending.end() && it->second.timer == timer) {
                    self->Finish(sequence, kPingTimedOut);
                }
            }
        });
        pending[sequence] = Request{destination, std::move(done), timer};
        timer->start(timeoutMs);
    }

    void OnReadable()
    {
        if (closed) {
            return;
        }
        ++depth;
        socket.Drain([this](const Incoming& in) {
            const auto it = pending.find(in.sequence);
            if (it != pending.end() && socket.Answers(in, in.sequence, it->second.address, kData)) {
                Finish(in.sequence, in.kind == Incoming::Kind::Reply ? kPingSuccess : in.status);
            }
            return closed;
        });
        --depth;
    }

    void Finish(std::uint16_t sequence, int status)
    {
        const auto it = pending.find(sequence);
        if (it == pending.end()) {
            return;
        }
        Request request = std::move(it->second);
        pending.erase(it);
        request.timer->stop();
        request.timer->deleteLater();
        ++depth;
        request.done(status);
        --depth;
    }

    void Shutdown()
    {
        closed = true;
        for (auto& entry : pending) {
            entry.second.timer->stop();
        }
        pending.clear();
        if (notifier != nullptr) {
            notifier->setEnabled(false);
            notifier = nullptr;
        }
        socket.Close();
        if (depth == 0) {
            holder.reset();
        } else {
            // Inside one of our handlers: the emitting object must outlive it.
            holder.release()->deleteLater();
        }
    }
};

AsyncPinger::AsyncPinger(std::function<int()> pingTimeoutIndex, IcmpSocketKind kind)
    : m_impl(std::make_shared<Impl>())
{
    m_impl->timeoutIndex = std::move(pingTimeoutIndex);
    m_impl->kind = kind;
}

AsyncPinger::~AsyncPinger()
{
    m_impl->Shutdown();
}

void AsyncPinger::PingAsync(const std::string& address, std::function<void(int status)> done)
{
    m_impl->Start(address, std::move(done));
}

}  // namespace velkon
