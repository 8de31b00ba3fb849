#include "shell/Shell.h"

#include <algorithm>

#include "session/Numbers.h"
#include "session/SessionKeys.h"
#include "shell/IniFile.h"
#include "shell/SessionSection.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

constexpr const char* kAppSection = "Velkon";
constexpr int kTextNew = 5119;

std::string SessionSection(int number)
{
    return "Session" + std::to_string(number);
}

}  // namespace

Shell::Shell(AppState& app, MainWindowView& view) : m_app(app), m_view(view) {}

Shell::~Shell()
{
    CloseAllSessions();
}

Session& Shell::NewSession()
{
    SessionComponents components = m_app.services.components->CreateSessionComponents();
    m_sessions.push_back(std::make_unique<Session>(m_app, std::move(components)));
    Session& session = *m_sessions.back();
    session.Load();
    session.SetCaption(m_app.strings ? m_app.strings->Text(kTextNew) : "New");
    m_view.SessionAdded(session);
    return session;
}

void Shell::CloseSession(Session& session)
{
    auto it = std::find_if(m_sessions.begin(), m_sessions.end(),
                           [&](const auto& s) { return s.get() == &session; });
    if (it == m_sessions.end())
        return;
    // Out of the list before it goes, so nothing reaches a half-closed window.
    std::unique_ptr<Session> closing = std::move(*it);
    m_sessions.erase(it);
    m_view.SessionRemoved(*closing);
}

void Shell::CloseAllSessions()
{
    while (!m_sessions.empty())
        CloseSession(*m_sessions.back());
}

Session* Shell::SessionAt(int number) const
{
    if (number < 1 || number > static_cast<int>(m_sessions.size()))
        return nullptr;
    return m_sessions[static_cast<std::size_t>(number - 1)].get();
}

Session* Shell::FindByTopic(const std::string& topic) const
{
    for (const auto& s : m_sessions) {
        if (s->Topic() == topic)
            return s.get();
    }
    return nullptr;
}

std::string Shell::ResolveFileName(const std::string& fileName) const
{
    if (!fileName.empty())
        return fileName;
    return JoinPath(m_app.programFolder, "default.vkc");
}

void Shell::StartApplication(const std::string& commandLine, bool otherInstanceRunning)
{
    m_autoActivateFlags.assign(2, 0);
    ReadConfiguration(commandLine);
    if (!otherInstanceRunning && !m_sessions.empty())
        m_sessions.front()->virtualPort().ResetBus();
    for (std::size_t n = 1; n <= m_sessions.size(); ++n) {
        if (n < m_autoActivateFlags.size() && m_autoActivateFlags[n] == 1) {
            m_sessions[n - 1]->OnActivateButton();
            m_autoActivateFlags[n] = 0;
        }
    }
}

// ---------------------------------------------------------------- reading

void Shell::ReadConfiguration(const std::string& fileName)
{
    const std::string path = ResolveFileName(fileName);
    CloseAllSessions();

    std::string content;
    IniFile file;
    if (m_app.services.files && m_app.services.files->Read(path, content)) {
        file = IniFile::Parse(std::move(content));
    }

    int numSessions = file.ReadInt(kAppSection, "NumSessions", 0);
    numSessions = std::clamp(numSessions, 0, kMaxSessions);

    const int left = file.ReadInt(kAppSection, "MainLeft", 1000);
    const int top = file.ReadInt(kAppSection, "MainTop", 1000);
    if (file.HasKey(kAppSection, "MainWidth") || file.HasKey(kAppSection, "MainHeight")) {
        m_view.SetGeometryTwips(
            left, top, file.ReadInt(kAppSection, "MainWidth", MainWindowView::kDefaultSizeTwips),
            file.ReadInt(kAppSection, "MainHeight", MainWindowView::kDefaultSizeTwips));
    } else {
        m_view.SetFittingGeometry(left, top);
    }
    const int state = file.ReadInt(kAppSection, "WindowState", 0);
    if (state >= 0 && state <= 2)
        m_view.SetWindowState(state);

    GlobalSettings g;
    g.OnErrorRunApp = file.ReadText(kAppSection, "OnErrorRunApp", "");
    g.Password = file.ReadText(kAppSection, "Password", "");
    g.LogErrors = file.ReadInt(kAppSection, "LogErrors", 0);
    g.PingEnabled = file.ReadInt(kAppSection, "PingEnabled", 0);
    g.PingFrequency = file.ReadInt(kAppSection, "PingFrequency", 1);
    g.PingTimeout = file.ReadInt(kAppSection, "PingTimeout", 9);
    g.PacketSize = file.ReadInt(kAppSection, "PacketSize", 2000);
    g.LoadWithWindows = file.ReadInt(kAppSection, "LoadWithWindows", 0);
    g.MetricsPort = file.ReadInt(kAppSection, "MetricsPort", 0);
    g.MetricsAddress =
        file.ReadText(kAppSection, "MetricsAddress", GlobalSettings{}.MetricsAddress);
    m_app.globalSettings = g;
    if (m_app.services.metrics)
        m_app.services.metrics->Follow(g);

    if (numSessions != 0) {
        m_autoActivateFlags.assign(static_cast<std::size_t>(numSessions) + 2, 0);
        for (int n = 1; n <= numSessions; ++n) {
            NewSession();
            ReadSession(file, n);
        }
    } else {
        NewSession();
    }
    // A secret readable by others is taken back before anything else runs.
    if (HoldsSecret() && m_app.services.files && m_app.services.files->MakePrivate(path)) {
        ErrorLog::Where where;
        where.bridge = false;
        ErrorLog(m_app).Log(path + " holds a secret and was readable by others; it is now 0600",
                            where);
    }
}

bool Shell::HoldsSecret() const
{
    if (!m_app.globalSettings.Password.empty())
        return true;
    return std::any_of(m_sessions.begin(), m_sessions.end(),
                       [](const auto& s) { return velkon::HoldsSecret(s->settings()); });
}

void Shell::ReadSession(const IniFile& file, int number)
{
    Session& session = *m_sessions[static_cast<std::size_t>(number - 1)];
    // A value the session window would refuse keeps the window's initial
    // value.
    SessionSettings settings = session.settings();
    ReadSessionKeys(file, SessionSection(number), settings);
    session.ApplySettings(settings);
    if (settings.AutoActivate == 1)
        m_autoActivateFlags[static_cast<std::size_t>(number)] = 1;
}

// ---------------------------------------------------------------- writing

void Shell::WriteConfiguration(const std::string& fileName)
{
    const std::string path = ResolveFileName(fileName);
    FileStore* files = m_app.services.files;

    std::string content;
    IniFile file;
    if (files && files->Read(path, content))
        file = IniFile::Parse(std::move(content));

    auto put = [&](const std::string& section, const char* key, const std::string& value) {
        file.Write(section, key, value);
    };
    auto putInt = [&](const std::string& section, const char* key, long long value) {
        file.Write(section, key, std::to_string(value));
    };

    const int state = m_view.WindowState();
    if (state != MainWindowView::kMinimized) {
        int left = 0, top = 0, width = 0, height = 0;
        m_view.GeometryTwips(left, top, width, height);
        putInt(kAppSection, "MainLeft", left);
        putInt(kAppSection, "MainTop", top);
        putInt(kAppSection, "MainWidth", width);
        putInt(kAppSection, "MainHeight", height);
    }
    putInt(kAppSection, "NumSessions", static_cast<long long>(m_sessions.size()));
    putInt(kAppSection, "WindowState", state);
    const GlobalSettings& g = m_app.globalSettings;
    put(kAppSection, "OnErrorRunApp", g.OnErrorRunApp);
    putInt(kAppSection, "LogErrors", g.LogErrors);
    putInt(kAppSection, "LoadWithWindows", g.LoadWithWindows);
    putInt(kAppSection, "PingEnabled", g.PingEnabled);
    putInt(kAppSection, "PingFrequency", g.PingFrequency);
    putInt(kAppSection, "PingTimeout", g.PingTimeout);
    putInt(kAppSection, "PacketSize", g.PacketSize);
    put(kAppSection, "Password", g.Password);
    // Written once used, so the files of earlier versions are written back
    // as they were.
    if (g.MetricsPort != 0 || g.MetricsAddress != GlobalSettings{}.MetricsAddress ||
        file.HasKey(kAppSection, "MetricsPort") || file.HasKey(kAppSection, "MetricsAddress")) {
        putInt(kAppSection, "MetricsPort", g.MetricsPort);
        put(kAppSection, "MetricsAddress", g.MetricsAddress);
    }

    if (m_app.services.startEntry) {
        m_app.services.startEntry->SetStartWithWindows(g.LoadWithWindows == 1, "Velkon", ExePath,
                                                       true, false);
    }

    for (std::size_t n = 1; n <= m_sessions.size(); ++n) {
        WriteSessionKeys(file, SessionSection(static_cast<int>(n)), m_sessions[n - 1]->settings());
    }
    if (files)
        files->Replace(path, file.Serialize(), HoldsSecret());
}

// ---------------------------------------------------------------- File menu

void Shell::FileNew()
{
    NewSession();
}

void Shell::FileOpen()
{
    const std::string name = m_view.ShowOpenDialog();
    if (name.empty())
        return;
    m_currentFileName = name;
    ReadConfiguration(name);
}

void Shell::FileClose()
{
    if (Session* active = m_view.ActiveSession())
        CloseSession(*active);
}

void Shell::FileSave()
{
    if (!m_currentFileName.empty()) {
        WriteConfiguration(m_currentFileName);
    } else {
        FileSaveAs();
    }
}

void Shell::FileSaveAs()
{
    const std::string name = m_view.ShowSaveDialog();
    if (name.empty())
        return;
    m_currentFileName = name;
    WriteConfiguration(name);
}

void Shell::QueryUnload()
{
    m_view.CloseHelpWindows();
    WriteConfiguration("");
}

void Shell::Unload()
{
    CloseAllSessions();
}

void Shell::StopTakingIn()
{
    for (const auto& session : m_sessions)
        session->StopTakingIn();
}

std::int64_t Shell::BytesInFlight() const
{
    std::int64_t count = 0;
    for (const auto& session : m_sessions)
        count += session->BytesInFlight();
    return count;
}

void Shell::EndConnections(bool force)
{
    for (const auto& session : m_sessions)
        session->EndConnections(force);
}

int Shell::ClosingConnections() const
{
    int count = 0;
    for (const auto& session : m_sessions)
        count += session->sockets().ClosingConnections();
    return count;
}

void Shell::LogUndelivered()
{
    for (const auto& session : m_sessions)
        session->LogUndelivered();
}

}  // namespace velkon
