#pragma once

#include <memory>
#include <string>
#include <vector>

#include "components/SerialPort.h"
#include "components/Services.h"
#include "components/SocketArray.h"
#include "components/Timer.h"
#include "components/VirtualPort.h"
#include "session/SessionSettings.h"
#include "session/Traffic.h"

namespace velkon {

class StringTable;

// Application-wide options; one instance, replaced as a whole by every
// configuration read.
struct GlobalSettings {
    std::string OnErrorRunApp;
    std::string Password;
    int LogErrors = 0;
    int PingEnabled = 0;
    int PingFrequency = 1;
    int PingTimeout = 9;
    int PacketSize = 2000;
    int LoadWithWindows = 0;
    // The metrics page for monitoring systems: its TCP port (0 = off) and
    // the address it listens on.
    int MetricsPort = 0;
    std::string MetricsAddress = "127.0.0.1";
};

// The components one session owns for its whole life.
struct SessionComponents {
    std::unique_ptr<SerialPort> serialPort;
    std::unique_ptr<VirtualPort> virtualPort;
    std::unique_ptr<SocketArray> sockets;
    std::unique_ptr<Timer> reconnectTimer;     // 5000 ms, reconnection
    std::unique_ptr<Timer> housekeepingTimer;  // 50 ms, housekeeping
};

class ComponentFactory {
public:
    virtual ~ComponentFactory() = default;
    virtual SessionComponents CreateSessionComponents() = 0;
};

// The modal dialogs a session opens. Each shows and edits its own fields of
// the session's options and returns true when the user accepted them.
class SessionDialogs {
public:
    virtual ~SessionDialogs() = default;
    virtual bool EditServerOptions(SessionSettings& settings) = 0;
    virtual bool EditClientOptions(SessionSettings& settings) = 0;
    virtual bool EditLoginTexts(SessionSettings& settings) = 0;
};

class NetworkInfo {
public:
    virtual ~NetworkInfo() = default;
    // IPv4 addresses of this computer as dotted texts.
    virtual std::vector<std::string> LocalAddresses() = 0;
};

// Serves the sessions' counts to monitoring systems.
class MetricsService {
public:
    virtual ~MetricsService() = default;
    // The options were read or edited: start, move or stop the service.
    virtual void Follow(const GlobalSettings& settings) = 0;
};

// Everything outside the core that sessions and the shell reach.
struct Services {
    Clock* clock = nullptr;
    ProcessLauncher* launcher = nullptr;
    FileStore* files = nullptr;
    MessageBoxes* messages = nullptr;
    Pinger* pinger = nullptr;
    ComponentFactory* components = nullptr;
    SessionDialogs* dialogs = nullptr;
    NetworkInfo* network = nullptr;
    StartEntry* startEntry = nullptr;
    TraceFiles* traceFiles = nullptr;
    MetricsService* metrics = nullptr;
};

// State shared by every session of the program.
struct AppState {
    GlobalSettings globalSettings;
    // Ticks towards the next ping pass, shared by all sessions.
    std::int32_t PingTickCounter = 0;
    const StringTable* strings = nullptr;
    // Folder of "default.vkc" and "errorlog.txt".
    std::string programFolder;
    Services services;
};

// Joins a folder and a file name with one "/" between them.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace velkon
