#pragma once

// The ICMP echo services: the blocking transport of the Ping tool, the host
// resolver and the monitoring pinger.

#include "ping/AsyncPinger.h"
#include "ping/IcmpEchoTransport.h"
#include "ping/SystemHostResolver.h"
