#pragma once

#include "session/SessionSettings.h"

namespace velkon {

// How the active bridge runs, fixed at activation.
struct BridgeMode {
    bool udp = false;    // UdpFlag
    int serverMode = 0;  // ServerModeFlag: 1 server, 0 client
};

// The routing options of a session, as its data paths apply them.
inline bool IgnoresSerialData(const SessionSettings& s, const BridgeMode& m)
{
    return (m.serverMode == 1 && s.ServerSerialOptions == 1) ||
           (m.serverMode == 0 && s.ClientOptions == 2);
}

inline bool IgnoresNetworkData(const SessionSettings& s, const BridgeMode& m)
{
    return (m.serverMode == 1 && s.ServerTCPOptions == 1) ||
           (m.serverMode == 0 && s.ClientOptions == 1);
}

// Serial data goes to the first connected client only.
inline bool SerialToFirstClientOnly(const SessionSettings& s, const BridgeMode& m)
{
    return m.serverMode == 1 && s.ServerSerialOptions == 2;
}

// Only the first connected client's data reaches the serial side.
inline bool NetworkFromFirstClientOnly(const SessionSettings& s, const BridgeMode& m)
{
    return m.serverMode == 1 && s.ServerTCPOptions == 2;
}

}  // namespace velkon
