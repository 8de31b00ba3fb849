#pragma once

#include <cstdint>
#include <string>

#include "ping/EchoPacket.h"

namespace velkon {

// Which ICMP socket an echo may use. Any tries the unprivileged datagram
// socket first (allowed by net.ipv4.ping_group_range) and then the raw one
// (root or CAP_NET_RAW).
enum class IcmpSocketKind { Any, Datagram, Raw };

// Identifier of this process's raw-socket echoes; random so that other
// programs (which commonly use their process id) do not share it.
std::uint16_t ProcessEchoId();

// Shared by every socket of the process so that two pingers never wait for
// the same sequence number.
std::uint16_t NextSequence();

// The ping status for a refused send.
int StatusForSendError(int error);

// A nonblocking ICMP socket that sends echo requests and reads what may
// answer them.
class IcmpSocket {
public:
    static constexpr std::size_t kReceiveBufferSize = 4096;
    // Packets handled per wake-up, so that a flood cannot starve the event loop.
    static constexpr int kMaxPacketsPerDrain = 64;

    IcmpSocket() = default;
    ~IcmpSocket() { Close(); }
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    bool Open(IcmpSocketKind kind);
    void Close();

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

    // 0 when the request left, else the status for the refusal.
    int Send(std::uint32_t address, std::uint16_t sequence, const std::string& data);

    // Whether an answer is ours: raw sockets see everybody's echoes, so the
    // identifier counts there; the echoed data must be what was sent.
    bool Answers(const IcmpMessage& in, std::uint16_t sequence, std::uint32_t address,
                 const std::string& data) const;

    // Reads what is waiting without blocking and hands each packet to
    // handle until it returns true. False when reading stopped because
    // nothing more was waiting.
    template <typename Handler>
    bool Drain(Handler&& handle)
    {
        std::uint8_t buffer[kReceiveBufferSize];
        for (int count = 0; count < kMaxPacketsPerDrain; ++count) {
            IcmpMessage in;
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
    bool OpenDatagram();
    bool OpenRaw();

    // False when the error queue is empty (raw sockets never fill it).
    bool ReadErrorQueue(std::uint8_t* buffer, IcmpMessage& in);

    // False when nothing is waiting. A pending socket error (reported once
    // by the kernel) counts as a read of nothing useful.
    bool ReadPacket(std::uint8_t* buffer, IcmpMessage& in);

    int m_fd = -1;
    bool m_raw = false;
};

}  // namespace velkon
