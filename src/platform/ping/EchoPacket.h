#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velkon {

// ICMP echo packets, built and read without any socket.

inline constexpr std::uint8_t kIcmpEchoReply = 0;
inline constexpr std::uint8_t kIcmpDestUnreachable = 3;
inline constexpr std::uint8_t kIcmpSourceQuench = 4;
inline constexpr std::uint8_t kIcmpEcho = 8;
inline constexpr std::uint8_t kIcmpTimeExceeded = 11;
inline constexpr std::uint8_t kIcmpParameterProblem = 12;
inline constexpr std::size_t kIcmpHeaderSize = 8;

// Something read from an ICMP socket that may answer one of our requests.
struct IcmpMessage {
    enum class Kind { Other, Reply, Error };
    Kind kind = Kind::Other;
    std::uint16_t id = 0;
    std::uint16_t sequence = 0;
    std::uint32_t from = 0;    // replier, or sender of the error
    std::uint32_t target = 0;  // errors: destination of the failed request
    int status = 0;            // errors: status code
    std::string payload;       // replies: echoed data
};

// An echo request carrying data. The checksum is filled only when asked
// (datagram sockets have the kernel fill it, and the identifier too).
std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           const std::string& data, bool withChecksum);

// The Internet checksum (RFC 1071) of bytes.
std::uint16_t InternetChecksum(const std::vector<std::uint8_t>& bytes);

// The ping status for an ICMP error type and code; kPingSuccess for types
// that are no error about a request (redirect, ...).
int StatusForIcmpError(int type, int code);

// Reads the ICMP header of our own request as quoted in an error.
bool ParseQuotedRequest(const std::uint8_t* p, std::size_t n, IcmpMessage& out);

// A packet of a raw socket: the IP header first, and any ICMP packet of the
// host (Kind::Other for what answers no echo).
IcmpMessage ParseRawPacket(const std::uint8_t* p, std::size_t n);

// A packet of a datagram socket: only ICMP, from `from`.
IcmpMessage ParseDatagramPacket(const std::uint8_t* p, std::size_t n, std::uint32_t from);

}  // namespace velkon
