#pragma once

#include <string>

#include "components/Services.h"
#include "ping/IcmpSocket.h"
#include "tools/PingEngine.h"

namespace velkon {

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

}  // namespace velkon
