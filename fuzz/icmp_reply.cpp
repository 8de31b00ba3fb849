// Whatever an ICMP socket delivers: raw packets with their IP header,
// datagram replies, and our request as quoted inside an error.

#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "ping/EchoPacket.h"

using namespace velkon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const IcmpMessage raw = ParseRawPacket(data, size);
    FUZZ_CHECK(raw.payload.size() <= size);
    if (raw.kind == IcmpMessage::Kind::Reply) {
        FUZZ_CHECK(size >= 20 + kIcmpHeaderSize);
    }

    const IcmpMessage datagram = ParseDatagramPacket(data, size, 0x7f000001);
    FUZZ_CHECK(datagram.payload.size() <= size);
    if (datagram.kind == IcmpMessage::Kind::Reply) {
        FUZZ_CHECK(datagram.from == 0x7f000001);
        FUZZ_CHECK(datagram.payload.size() + kIcmpHeaderSize == size);
    }

    IcmpMessage quoted;
    if (ParseQuotedRequest(data, size, quoted)) {
        FUZZ_CHECK(size >= kIcmpHeaderSize);
    }
    return 0;
}
