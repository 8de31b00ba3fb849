#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "session/Routing.h"

namespace velkon {

struct AppState;
class NetworkConnections;

// Watches the session's connections: monitoring pings, and clients that
// take nothing while data waits for them. Both run on the session's timer,
// and only while they have something to watch.
class ConnectionMonitor {
public:
    // Ticks of 50 ms a client may take nothing while data waits: 10 s.
    static constexpr int kStallTicks = 200;

    using CloseFn = std::function<void(int index)>;
    using LogFn = std::function<void(const std::string& description)>;

    ConnectionMonitor(AppState& app, const SessionSettings& settings, const BridgeMode& mode,
                      NetworkConnections& connections, CloseFn close, LogFn log);
    ~ConnectionMonitor();

    void Reset();
    // The connection is gone: forget what was watched of it.
    void Forget(int index);
    // The peer took data.
    void Progress(int index) { m_stallTicks.erase(index); }

    bool PingWanted() const;
    // One tick of the shared ping pacing.
    void PingTick();

    bool StallWatchWanted() const;
    void StallTick();

private:
    void PingAnswered(int index, const std::string& address, int status);

    AppState& m_app;
    const SessionSettings& m_settings;
    const BridgeMode& m_mode;
    NetworkConnections& m_connections;
    CloseFn m_close;
    LogFn m_log;
    // Monitoring pings still out, by socket index, and whether the echo
    // service has been reported missing since the last activation.
    std::set<int> m_pingsOut;
    bool m_pingUnavailableLogged = false;
    // Ticks each client has taken nothing while data waited for it.
    std::map<int, int> m_stallTicks;
    // Lets answers that arrive after the session is gone be ignored.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace velkon
