#include "ping/IcmpEchoTransport.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "tools/PingEngine.h"

namespace velkon {

namespace {

using SteadyClock = std::chrono::steady_clock;

int ElapsedMs(SteadyClock::time_point since)
{
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count());
}

}  // namespace

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
        socket.Drain([&](const IcmpMessage& in) {
            if (!socket.Answers(in, sequence, address, data)) {
                return false;
            }
            result.Address = in.from;
            result.RoundTripTime = static_cast<std::uint32_t>(ElapsedMs(start));
            if (in.kind == IcmpMessage::Kind::Reply) {
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

}  // namespace velkon
