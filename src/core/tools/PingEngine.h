#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velkon {

// The reply record of one ICMP echo: the echo service's 28-byte reply header
// followed by a 250-byte data area. Packed because 278 is not a multiple of
// the 32-bit fields' alignment and the size is part of the contract.
#pragma pack(push, 1)
struct EchoReply {
    // Address of the replier; its bytes in memory are the address bytes in
    // network order.
    std::uint32_t Address = 0;
    std::int32_t Status = 0;
    std::uint32_t RoundTripTime = 0;  // milliseconds
    // Low 16 bits: number of echoed data bytes; high 16 bits reserved, zero.
    std::uint32_t DataSize = 0;
    // The service's data pointer and request option fields; never read.
    std::uint8_t Reserved[12] = {};
    // Echoed data, padded with NUL bytes.
    std::uint8_t Data[250] = {};
};
#pragma pack(pop)

static_assert(sizeof(EchoReply) == 278);
static_assert(offsetof(EchoReply, Status) == 4);
static_assert(offsetof(EchoReply, RoundTripTime) == 8);
static_assert(offsetof(EchoReply, DataSize) == 12);
static_assert(offsetof(EchoReply, Data) == 28);

// Status codes of the echo service, and the engine's own -1.
inline constexpr int kPingBadAddress = -1;
inline constexpr int kPingSuccess = 0;
inline constexpr int kPingBufferTooSmall = 11001;
inline constexpr int kPingDestNetUnreachable = 11002;
inline constexpr int kPingDestHostUnreachable = 11003;
inline constexpr int kPingDestProtUnreachable = 11004;
inline constexpr int kPingDestPortUnreachable = 11005;
inline constexpr int kPingNoResources = 11006;
inline constexpr int kPingPacketTooBig = 11009;
inline constexpr int kPingTimedOut = 11010;
inline constexpr int kPingBadRoute = 11012;
inline constexpr int kPingTtlExpiredTransit = 11013;
inline constexpr int kPingTtlExpiredReassembly = 11014;
inline constexpr int kPingParameterProblem = 11015;
inline constexpr int kPingSourceQuench = 11016;
inline constexpr int kPingGeneralFailure = 11050;

// Size of the reply's data area: the most echo data a reply can carry.
inline constexpr std::size_t kEchoDataCapacity = sizeof(EchoReply::Data);

// The ICMP echo service: sends one echo request and waits for its answer.
class EchoTransport {
public:
    virtual ~EchoTransport() = default;
    // Sends data to the IPv4 address (its bytes in memory in network order)
    // and waits at most timeoutMs for the answer. Fills the whole reply:
    // Status 0 for an echo reply, 11010 when nothing came in time, another
    // code of the status table for an error. Returns false, sending nothing
    // and leaving the reply alone, when no echo service can be opened at all.
    virtual bool Echo(std::uint32_t address, const std::string& data, int timeoutMs,
                      EchoReply& reply) = 0;
};

// Host name lookup.
class HostResolver {
public:
    virtual ~HostResolver() = default;
    // First IPv4 address of the name, bytes in network order; none when the
    // name cannot be resolved.
    virtual std::optional<std::array<std::uint8_t, 4>> FirstIPv4(const std::string& name) = 0;
};

// Echo timeout in milliseconds for the position of the chosen timeout entry:
// (index + 1) * 100, or 500 when that is 0 or less.
int PingTimeoutMs(int pingTimeoutIndex);

// The code in signed decimal, three blanks and the text in square brackets.
std::string PingStatusText(int status);

// The four bytes in their stored order as dotted decimal text.
std::string AddressBytesToText(const std::uint8_t bytes[4]);

// Numbers-and-dots conversion as the classic inet_addr does it: one to four
// parts, each decimal, octal (leading 0) or hex (0x), the last part filling
// the remaining bytes; whitespace ends the address. False for anything else,
// including the all-ones result that inet_addr cannot tell from an error.
// networkOrder's bytes in memory are the address bytes in network order.
bool ParseDottedAddress(std::string_view text, std::uint32_t& networkOrder);

// One echo of data to the dotted address with the timeout of the index.
// Returns the reply's Status; -1 without sending and without touching the
// reply for an address that does not convert; 11050 (also stored in the
// reply's Status) when no echo service can be opened.
int SendEcho(EchoTransport& transport, const std::string& address, const std::string& data,
             EchoReply& reply, int pingTimeoutIndex);

// First IPv4 address of the name as dotted text; a dotted address gives
// itself without a lookup; the empty text when the name cannot be resolved.
std::string ResolveHostAddress(HostResolver& resolver, const std::string& name);

// One monitoring ping: the data "Hello" to the dotted address. Returns the
// status (0 only when the peer answered).
int PingAddressOnce(EchoTransport& transport, const std::string& address, int pingTimeoutIndex);

// The reply's Address as a signed 32-bit decimal number whose least
// significant byte is the first stored byte (192.168.0.1 gives 16820416).
std::string SignedAddressText(const EchoReply& reply);

// The dotted text of the reply's Address.
std::string ReplyAddressText(const EchoReply& reply);

}  // namespace velkon
