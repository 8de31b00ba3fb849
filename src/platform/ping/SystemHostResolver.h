#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "components/Services.h"
#include "tools/PingEngine.h"

namespace velkon {

// Host lookup through the system resolver (getaddrinfo, IPv4 only).
class SystemHostResolver : public HostResolver {
public:
    std::optional<std::array<std::uint8_t, 4>> FirstIPv4(const std::string& name) override;
};

}  // namespace velkon
