#include "ping/SystemHostResolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace velkon {

std::optional<std::array<std::uint8_t, 4>> SystemHostResolver::FirstIPv4(const std::string& name)
{
    if (name.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    std::optional<std::array<std::uint8_t, 4>> first;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
            sockaddr_in address{};
            std::memcpy(&address, a->ai_addr, sizeof(address));
            std::array<std::uint8_t, 4> bytes{};
            std::memcpy(bytes.data(), &address.sin_addr.s_addr, 4);
            first = bytes;
            break;
        }
    }
    ::freeaddrinfo(found);
    return first;
}

}  // namespace velkon
