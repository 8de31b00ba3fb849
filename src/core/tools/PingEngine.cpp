#include "tools/PingEngine.h"

#include <climits>
#include <cstring>

namespace velkon {

namespace {

constexpr char kEchoMonitorData[] = "Hello";

struct StatusEntry {
    int code;
    const char* text;
};

constexpr StatusEntry kStatusTexts[] = {
    {0, "IP Success"},
    {-1, "Bad IP Format"},
    {11001, "IP Buffer too_small"},
    {11002, "IP Dest Net Unreachable"},
    {11003, "IP Dest Host Unreachable"},
    {11004, "IP Dest Prot Unreachable"},
    {11005, "IP Dest Port Unreachable"},
    {11006, "IP No Resources"},
    {11007, "IP Bad Option"},
    {11008, "IP Hardware Error"},
    {11009, "IP Packet Too Big"},
    {11010, "IP Request Timed Out"},
    {11011, "IP Bad Request"},
    {11012, "IP Bad Route"},
    {11013, "IP TTL Expired Transit"},
    {11014, "IP TTL Expired Reassembly"},
    {11015, "IP Parameter Problem"},
    {11016, "IP Source Quench"},
    {11017, "IP Option Too Big"},
    {11018, "IP Bad Destination"},
    {11019, "IP Address Deleted"},
    {11020, "IP Spec MTU Change"},
    {11021, "IP MTU Changed"},
    {11022, "IP Unload"},
    {11023, "IP Address Added"},
    {11050, "IP General Failure"},
    {11255, "IP Pending"},
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The C locale's isspace set, which ends an address.
bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void AddressToBytes(std::uint32_t networkOrder, std::uint8_t bytes[4])
{
    std::memcpy(bytes, &networkOrder, 4);
}

}  // namespace

int PingTimeoutMs(int pingTimeoutIndex)
{
    // 64-bit so that an absurd index from a configuration file cannot overflow.
    const long long ms = (static_cast<long long>(pingTimeoutIndex) + 1) * 100;
    if (ms <= 0) {
        return 500;
    }
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::string PingStatusText(int status)
{
    const char* text = "Unknown Message Returned";
    for (const StatusEntry& entry : kStatusTexts) {
        if (entry.code == status) {
            text = entry.text;
            break;
        }
    }
    return std::to_string(status) + "   [" + text + "]";
}

std::string AddressBytesToText(const std::uint8_t bytes[4])
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            text += '.';
        }
        text += std::to_string(static_cast<unsigned>(bytes[i]));
    }
    return text;
}

bool ParseDottedAddress(std::string_view text, std::uint32_t& networkOrder)
{
    std::uint64_t parts[4] = {};
    int partCount = 0;
    std::size_t pos = 0;
    const auto at = [&](std::size_t i) { return i < text.size() ? text[i] : '\0'; };

    for (;;) {
        char c = at(pos);
        if (!IsDigit(c)) {
            return false;
        }
        std::uint64_t value = 0;
        unsigned base = 10;
        bool digit = false;
        if (c == '0') {
            c = at(++pos);
            if (c == 'x' || c == 'X') {
                base = 16;
                c = at(++pos);
            } else {
                base = 8;
                digit = true;
            }
        }
        for (;;) {
            int v = -1;
            if (IsDigit(c)) {
                v = c - '0';
                if (base == 8 && v > 7) {
                    return false;
                }
            } else if (base == 16) {
                v = HexValue(c);
            }
            if (v < 0) {
                break;
            }
            value = value * base + static_cast<unsigned>(v);
            if (value > 0xFFFFFFFFu) {
                return false;
            }
            digit = true;
            c = at(++pos);
        }
        if (!digit) {
            return false;
        }
        if (partCount == 3 && c == '.') {
            return false;
        }
        parts[partCount++] = value;
        if (c != '.') {
            // Whitespace ends the address; anything else spoils it.
            if (c != '\0' && !IsSpace(c)) {
                return false;
            }
            if (c == '\0' && pos < text.size()) {
                return false;  // embedded NUL
            }
            break;
        }
        ++pos;
    }

    // The leading parts are single bytes; the last fills what remains.
    std::uint64_t host = 0;
    for (int i = 0; i < partCount - 1; ++i) {
        if (parts[i] > 0xFF) {
            return false;
        }
        host |= parts[i] << (24 - 8 * i);
    }
    const std::uint64_t last = parts[partCount - 1];
    const int lastBits = 32 - 8 * (partCount - 1);
    if (lastBits < 32 && last >= (std::uint64_t{1} << lastBits)) {
        return false;
    }
    host |= last;
    if (host == 0xFFFFFFFFu) {
        return false;
    }
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(host >> 24), static_cast<std::uint8_t>(host >> 16),
        static_cast<std::uint8_t>(host >> 8), static_cast<std::uint8_t>(host)};
    std::memcpy(&networkOrder, bytes, 4);
    return true;
}

int SendEcho(EchoTransport& transport, const std::string& address, const std::string& data,
             EchoReply& reply, int pingTimeoutIndex)
{
    const int timeoutMs = PingTimeoutMs(pingTimeoutIndex);
    std::uint32_t destination = 0;
    if (!ParseDottedAddress(address, destination)) {
        return kPingBadAddress;
    }
    if (!transport.Echo(destination, data, timeoutMs, reply)) {
        // Nothing could be sent: a failure, never a success.
        reply.Status = kPingGeneralFailure;
        return kPingGeneralFailure;
    }
    return reply.Status;
}

std::string ResolveHostAddress(HostResolver& resolver, const std::string& name)
{
    std::uint8_t bytes[4] = {};
    std::uint32_t dotted = 0;
    if (ParseDottedAddress(name, dotted)) {
        AddressToBytes(dotted, bytes);
        return AddressBytesToText(bytes);
    }
    const std::optional<std::array<std::uint8_t, 4>> found = resolver.FirstIPv4(name);
    if (!found) {
        return {};
    }
    return AddressBytesToText(found->data());
}

int PingAddressOnce(EchoTransport& transport, const std::string& address, int pingTimeoutIndex)
{
    EchoReply reply{};
    return SendEcho(transport, address, kEchoMonitorData, reply, pingTimeoutIndex);
}

std::string SignedAddressText(const EchoReply& reply)
{
    std::uint8_t bytes[4] = {};
    AddressToBytes(reply.Address, bytes);
    const std::uint32_t value =
        static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
        (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    // Two's complement reading, as the 32-bit field is shown signed.
    return std::to_string(static_cast<std::int32_t>(value));
}

std::string ReplyAddressText(const EchoReply& reply)
{
    std::uint8_t bytes[4] = {};
    AddressToBytes(reply.Address, bytes);
    return AddressBytesToText(bytes);
}

}  // namespace velkon
