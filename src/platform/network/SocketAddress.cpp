#include "network/SocketAddress.h"

#include <cstdint>
#include <cstring>

#include <QHostAddress>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace velkon {

std::string AddressText(const QHostAddress& address)
{
    if (address.isNull()) {
        return {};
    }
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) {
        return QHostAddress(v4).toString().toStdString();
    }
    return address.toString().toStdString();
}

bool ToSockaddr(const QHostAddress& address, int port, sockaddr_storage& storage, socklen_t& length)
{
    std::memset(&storage, 0, sizeof storage);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&storage);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(static_cast<std::uint16_t>(port));
        sin->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&storage);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = htons(static_cast<std::uint16_t>(port));
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&sin6->sin6_addr, bytes.c, sizeof bytes.c);
        const QString scope = address.scopeId();
        if (!scope.isEmpty()) {
            bool numeric = false;
            const uint id = scope.toUInt(&numeric);
            sin6->sin6_scope_id = numeric ? id : if_nametoindex(scope.toLocal8Bit().constData());
        }
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

int PortOf(const sockaddr_storage& storage)
{
    if (storage.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

QString HostText(const std::string& text)
{
    return QString::fromStdString(text).trimmed();
}

}  // namespace velkon
