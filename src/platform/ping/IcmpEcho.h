#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "components/Services.h"
#include "tools/PingCode.h"

namespace velkon {

// Which ICMP socket an echo may use. Any tries the unprivileged datagram
// socket first (allowed by net.ipv4.ping_group_range) and then the raw one
// (root or CAP_NET_RAW).
enum class IcmpSocketKind { Any, Datagram, Raw };

// Blocking echo service over an ICMP socket: one request per echo, waiting
// at most the timeout for its answer. Used by the Ping tool.
class IcmpEchoTransport : public EchoTransport {
public:
    explicit IcmpEchoTransport(IcmpSocketKind kind = IcmpSocketKind::Any);

    // True when a socket of that kind can be opened on this machine.
    static bool CanOpen(IcmpSocketKind kind);

    // Echo data longer than the reply's 250-byte data area is not sent and
    // gives 11001; a send refused by the system gives its nearest status.
    bool Echo(std::uint32_t address, const std::string& data, int timeoutMs,
              EchoReply& reply) override;

private:
    IcmpSocketKind m_kind;
};

// Host lookup through the system resolver (getaddrinfo, IPv4 only).
class SystemHostResolver : public HostResolver {
public:
    std::optional<std::array<std::uint8_t, 4>> FirstIPv4(const std::string& name) override;
};

// Monitoring echoes ("Hello") that never block the event loop: one
// nonblocking ICMP socket watched by the event loop and one timer per
// request. Every answer comes through done from the event loop, never from
// inside PingAsync: the reply status, 11010 on timeout, -1 for an address
// that does not convert, Pinger::kUnavailable when no ICMP socket can be
// opened (the session must not drop peers for that). Requests
// still pending when the pinger is destroyed are dropped without an answer.
// Needs a Qt event loop in the calling thread.
class AsyncPinger : public Pinger {
public:
    // pingTimeoutIndex is read at every echo (timeout per PingTimeoutMs).
    explicit AsyncPinger(std::function<int()> pingTimeoutIndex,
                         IcmpSocketKind kind = IcmpSocketKind::Any);
    ~AsyncPinger() override;
    AsyncPinger(const AsyncPinger&) = delete;
    AsyncPinger& operator=(const AsyncPinger&) = delete;

    void PingAsync(const std::string& address, std::function<void(int status)> done) override;

private:
    struct Impl;
    std::shared_ptr<Impl> m_impl;
};

}  // namespace velkon
