#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

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

// Starts the error program on its own, never waited for. A command line that
// names an existing file is that program (a path with blanks, as Browse...
// gives it); one without shell syntax is split into words as a shell would
// and started directly, so a failure has its reason; anything else runs
// through /bin/sh. Each failing command line is reported once.
class ShellProcessLauncher : public ProcessLauncher {
public:
    // report receives the failure text; stderr when none is given.
    explicit ShellProcessLauncher(std::function<void(const std::string&)> report = {});
    bool StartDetached(const std::string& commandLine) override;

    // The program and its arguments for a command line.
    static std::vector<std::string> Plan(const std::string& commandLine);

private:
    std::function<void(const std::string&)> m_report;
    std::set<std::string> m_reported;
};

// Files as the core needs them. Read takes regular files only and never
// blocks on a pipe or device. Replace writes the file a symbolic link points
// to (the link stays), never leaves a file writable by group or others, and
// makes it 0600 when it holds a secret.
class PosixFileStore : public FileStore {
public:
    bool Append(const std::string& path, const std::string& text) override;
    bool Read(const std::string& path, std::string& content) override;
    bool Replace(const std::string& path, const std::string& content, bool privateFile) override;
};

// Whether a configuration file can be read: a missing file fails with
// ENOENT; a folder, device, pipe or socket, or one without read rights,
// fails with a text that says which.
Result CheckConfigurationFile(const std::string& path);

// Removes what interrupted saves of this file left beside it ("<path>.XXXXXX"
// temporary files of this user that no save holds any more). Returns how
// many were removed.
int RemoveSaveLeftovers(const std::string& path);

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

// The user's configuration base: $XDG_CONFIG_HOME when it is an absolute
// path, else ~/.config (the home from $HOME, else from the user database).
std::string ConfigHome();

// The folder of "default.vkc", "errorlog.txt" and "ports.ini": $VELKON_HOME
// when set; else, for an installed copy (the executable lies in a folder
// named "bin"), ConfigHome()/velkon; else the folder of the executable.
std::string ProgramFolderFor(const std::string& exePath);
std::string ProgramFolder();

// Creates the program folder with mode 0700 when it is missing and checks
// that the program can write there; the failure says which folder and why.
Result PrepareProgramFolder(const std::string& folder);
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
