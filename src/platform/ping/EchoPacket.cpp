#include "ping/EchoPacket.h"

#include <cstring>

#include "tools/PingEngine.h"

namespace velkon {

namespace {

constexpr std::uint8_t kIpProtocolIcmp = 1;

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

}  // namespace

std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           const std::string& data, bool withChecksum)
{
    std::vector<std::uint8_t> packet(kIcmpHeaderSize + data.size());
    packet[0] = kIcmpEcho;
    packet[1] = 0;
    packet[4] = static_cast<std::uint8_t>(id >> 8);
    packet[5] = static_cast<std::uint8_t>(id);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    std::memcpy(packet.data() + kIcmpHeaderSize, data.data(), data.size());
    if (withChecksum) {
        const std::uint16_t sum = InternetChecksum(packet);
        packet[2] = static_cast<std::uint8_t>(sum >> 8);
        packet[3] = static_cast<std::uint8_t>(sum);
    }
    return packet;
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

bool ParseQuotedRequest(const std::uint8_t* p, std::size_t n, IcmpMessage& out)
{
    if (n < kIcmpHeaderSize || p[0] != kIcmpEcho) {
        return false;
    }
    out.id = ReadBigEndian16(p + 4);
    out.sequence = ReadBigEndian16(p + 6);
    return true;
}

// Raw sockets deliver the IP header too, and every ICMP packet of the host.
IcmpMessage ParseRawPacket(const std::uint8_t* p, std::size_t n)
{
    IcmpMessage in;
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
        in.kind = IcmpMessage::Kind::Reply;
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
    if (innerSize < 20 || (inner[0] >> 4) != 4 || inner[9] != kIpProtocolIcmp) {
        return in;
    }
    const std::size_t innerHeader = static_cast<std::size_t>(inner[0] & 0x0F) * 4;
    if (innerHeader < 20 || innerSize < innerHeader + kIcmpHeaderSize) {
        return in;
    }
    if (!ParseQuotedRequest(inner + innerHeader, innerSize - innerHeader, in)) {
        return in;
    }
    in.kind = IcmpMessage::Kind::Error;
    in.status = status;
    in.target = ReadStoredAddress(inner + 16);
    return in;
}

// Datagram sockets deliver only ICMP, only echo replies, and only those
// whose identifier the kernel gave this socket.
IcmpMessage ParseDatagramPacket(const std::uint8_t* p, std::size_t n, std::uint32_t from)
{
    IcmpMessage in;
    if (n < kIcmpHeaderSize || p[0] != kIcmpEchoReply || p[1] != 0) {
        return in;
    }
    in.kind = IcmpMessage::Kind::Reply;
    in.from = from;
    in.id = ReadBigEndian16(p + 4);
    in.sequence = ReadBigEndian16(p + 6);
    in.payload.assign(reinterpret_cast<const char*>(p + kIcmpHeaderSize), n - kIcmpHeaderSize);
    return in;
}

}  // namespace velkon
