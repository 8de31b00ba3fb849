#pragma once

#include <functional>
#include <memory>
#include <string>

#include "components/Services.h"
#include "ping/IcmpSocket.h"
#include "tools/PingEngine.h"

namespace velkon {

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
