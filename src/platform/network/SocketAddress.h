#pragma once

#include <string>

#include <QString>

#include <sys/socket.h>

class QHostAddress;

namespace velkon {

// The address as the session shows it: IPv4-mapped IPv6 as plain IPv4,
// empty for no address.
std::string AddressText(const QHostAddress& address);

// Fills a system socket address; false for an address of no IP family.
bool ToSockaddr(const QHostAddress& address, int port, sockaddr_storage& storage,
                socklen_t& length);

// The port of a bound or connected socket address.
int PortOf(const sockaddr_storage& storage);

// A host text as typed by the user, without surrounding blanks.
QString HostText(const std::string& text);

}  // namespace velkon
