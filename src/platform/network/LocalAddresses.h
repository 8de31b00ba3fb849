#pragma once

#include <string>
#include <vector>

namespace velkon {

// IPv4 addresses of the interfaces that are up, as dotted text: the
// non-loopback ones first in interface order; 127.0.0.1 only when there is no
// other (a machine without a network still has an address to show).
std::vector<std::string> ListLocalIPv4Addresses();

// Every address a server may listen on, as the Local IP list offers them:
// the interfaces' IPv4 addresses, their global IPv6 addresses (link-local
// ones need an interface name and are left out), then 127.0.0.1 and ::1.
std::vector<std::string> ListBindableAddresses();

// The first of ListLocalIPv4Addresses; empty when there is none.
std::string FirstLocalIPv4Address();

}  // namespace velkon
