#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/AppState.h"
#include "session/Session.h"
#include "shell/MainWindowView.h"

namespace velkon {

// The program's spine: the list of sessions, the configuration file and the
// File menu. The main window owns one and forwards its events to it.
class Shell {
public:
    // Sessions a configuration may create; a larger NumSessions is cut.
    static constexpr int kMaxSessions = 256;

    Shell(AppState& app, MainWindowView& view);
    ~Shell();

    // Start-up: read the configuration named by the command line (empty:
    // "default.vkc"), reset the virtual ports when no other instance runs,
    // then activate the sessions saved as active, in order.
    void StartApplication(const std::string& commandLine, bool otherInstanceRunning);

    Session& NewSession();
    void CloseSession(Session& session);
    void CloseAllSessions();

    void ReadConfiguration(const std::string& fileName);
    void WriteConfiguration(const std::string& fileName);
    // Empty: "default.vkc" in the program folder.
    std::string ResolveFileName(const std::string& fileName) const;

    void FileNew();
    void FileOpen();
    void FileClose();
    void FileSave();
    void FileSaveAs();
    bool FileCloseEnabled() const { return !m_sessions.empty(); }
    // Exit sequence: the query-close step writes "default.vkc"; the close
    // step releases every session.
    void QueryUnload();
    void Unload();
    // Before the exit sequence: sessions deliver what they took in; what is
    // left after the wait is logged.
    void StopTakingIn();
    std::int64_t BytesInFlight() const;
    // Closes the connections that have delivered everything; with force all.
    void EndConnections(bool force);
    int ClosingConnections() const;
    void LogUndelivered();

    const std::vector<std::unique_ptr<Session>>& sessions() const { return m_sessions; }
    // Session by 1-based number, or none.
    Session* SessionAt(int number) const;
    // The first session answering under a command topic, or none.
    Session* FindByTopic(const std::string& topic) const;

    const std::string& CurrentFileName() const { return m_currentFileName; }
    const std::vector<std::int16_t>& AutoActivateFlags() const { return m_autoActivateFlags; }
    std::string ExePath;

private:
    void ReadSession(const class IniFile& file, int number);
    // A password or a login response is set: the file must be the owner's alone.
    bool HoldsSecret() const;

    AppState& m_app;
    MainWindowView& m_view;
    std::vector<std::unique_ptr<Session>> m_sessions;
    std::string m_currentFileName;
    std::vector<std::int16_t> m_autoActivateFlags = {0, 0};
};

}  // namespace velkon
