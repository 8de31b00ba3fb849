#pragma once

#include <memory>
#include <string>

#include "components/Services.h"
#include "components/Timer.h"
#include "session/AppState.h"

class QTimer;

namespace velkon {

// A window timer on the Qt event loop.
class QtTimer : public Timer {
public:
    explicit QtTimer(int intervalMs);
    ~QtTimer() override;
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;

private:
    std::unique_ptr<QTimer> m_timer;
};

class SystemClock : public Clock {
public:
    LocalDateTime Now() const override;
};

// Starts the command line through /bin/sh, so quoting works as in a shell;
// the program runs on its own and is never waited for.
class ShellProcessLauncher : public ProcessLauncher {
public:
    bool StartDetached(const std::string& commandLine) override;
};

class PosixFileStore : public FileStore {
public:
    bool Append(const std::string& path, const std::string& text) override;
    bool Read(const std::string& path, std::string& content) override;
    bool Replace(const std::string& path, const std::string& content, bool privateFile) override;
};

class SystemNetworkInfo : public NetworkInfo {
public:
    std::vector<std::string> LocalAddresses() override;
};

// The real serial, virtual port and socket components of a session.
class PlatformComponentFactory : public ComponentFactory {
public:
    explicit PlatformComponentFactory(std::string programFolder);
    SessionComponents CreateSessionComponents() override;

private:
    std::string m_programFolder;
};

// Start at logon: an XDG autostart entry, $XDG_CONFIG_HOME/autostart/velkon.desktop
// (~/.config/autostart without XDG_CONFIG_HOME).
class XdgStartEntry : public StartEntry {
public:
    bool SetStartWithWindows(bool on, const std::string& valueName, const std::string& exePath,
                             bool currentUser, bool runKey) override;
    static std::string EntryPath();
};

// The folder of "default.vkc", "errorlog.txt", "ports.ini" and the manual:
// $VELKON_HOME when set, else the folder of the running program.
std::string ProgramFolder();
// The real path of the running program.
std::string ExecutablePath();

// Held for the life of the program: tells whether another instance with the
// same runtime folder runs already.
class InstanceLock {
public:
    InstanceLock();
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    // True when this instance holds the lock, false when another one does.
    bool Acquire(std::string& error);

private:
    int m_fd = -1;
};

// The system services of a program, attached to its state: clock, process
// launcher, files, network information, start entry, the session components
// and the monitoring pinger. app.programFolder must be set first.
class SystemServiceSet {
public:
    explicit SystemServiceSet(AppState& app);
    ~SystemServiceSet();

    SystemClock clock;
    ShellProcessLauncher launcher;
    PosixFileStore files;
    SystemNetworkInfo network;
    XdgStartEntry startEntry;
    PlatformComponentFactory components;
    std::unique_ptr<Pinger> pinger;
};

}  // namespace velkon
