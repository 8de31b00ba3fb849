#include "shell/Shell.h"

#include <algorithm>

#include "session/Numbers.h"
#include "shell/IniFile.h"
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

std::string Shell::ResolveFileName(const std::string& InFileName) const
{
    if (!InFileName.empty())
        return InFileName;
    return JoinPath(m_app.programFolder, "default.vkc");
}

void Shell::StartApplication(const std::string& commandLine, bool otherInstanceRunning)
{
    m_autoActivateFlags.assign(2, 0);
    getprofilesettings(commandLine);
    if (!otherInstanceRunning && !m_sessions.empty())
        m_sessions.front()->VSPort1().ResetBus();
    for (std::size_t n = 1; n <= m_sessions.size(); ++n) {
        if (n < m_autoActivateFlags.size() && m_autoActivateFlags[n] == 1) {
            m_sessions[n - 1]->Command1_Click();
            m_autoActivateFlags[n] = 0;
        }
    }
}

// ---------------------------------------------------------------- reading

void Shell::getprofilesettings(const std::string& InFileName)
{
    const std::string path = ResolveFileName(InFileName);
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
    m_app.globalSettings = g;

    if (numSessions != 0) {
        m_autoActivateFlags.assign(static_cast<std::size_t>(numSessions) + 2, 0);
        for (int n = 1; n <= numSessions; ++n) {
            NewSession();
            ReadSession(file, n);
        }
    } else {
        NewSession();
    }
}

void Shell::ReadSession(const IniFile& file, int number)
{
    Session& s = *m_sessions[static_cast<std::size_t>(number - 1)];
    const std::string section = SessionSection(number);
    auto readInt = [&](const char* key, int def) { return file.ReadInt(section, key, def); };
    auto readText = [&](const char* key, const char* def) {
        return file.ReadText(section, key, def);
    };

    // Each key is applied as the user's choice; a value a control refuses is
    // skipped and that setting keeps the window's initial value.
    s.SetConnector(readInt("Connector", 0));
    s.SetBaudRate(readInt("BaudRate", 0));
    s.SetParity(readInt("Parity", 0));
    s.SetDatabits(readInt("Databits", 0));
    s.SetStopbits(readInt("Stopbits", 0));
    s.SetFlowControl(readInt("FlowControl", 0));
    s.SetBufferSize(readInt("BufferSize", 2));
    s.SetBufferSerialData(readInt("BufferSerialData", 0));
    s.SetCreateVirtualPort(readInt("CreateVirtualPort", 0));
    s.SetUseUDP(readInt("UseUDP", 0));
    s.SetLocalIP(readText("LocalIP", ""));
    s.SetIPAddress(readText("IPAddress", ""));
    s.SetPortNumber(readText("PortNumber", ""));
    s.TCPOption_Click(readInt("TCPOption", 0) == 0 ? 0 : 1);

    SessionOptionsTransfer& t = m_app.transfer;
    t.AllowMultiConnect = static_cast<std::int16_t>(readInt("AllowMultiConnect", 1));
    t.ServerSerialOptions = static_cast<std::int16_t>(readInt("ServerSerialOptions", 0));
    t.ServerTCPOptions = static_cast<std::int16_t>(readInt("ServerTCPOptions", 0));
    t.ClientOptions = static_cast<std::int16_t>(readInt("ClientOptions", 0));
    t.ConnectOnVirtualOpen = static_cast<std::int16_t>(readInt("ConnectOnVirtualOpen", 1));
    t.RemoteLineControl = static_cast<std::int16_t>(readInt("RemoteLineControl", 0));
    t.UserPrompt = readText("UserPrompt", "Username:");
    t.UserPromptResponse = readText("UserPromptResponse", "");
    t.PasswordPrompt = readText("PasswordPrompt", "Password:");
    t.PasswordPromptResponse = readText("PasswordPromptResponse", "");
    s.UpdateStatus();

    if (readInt("AutoActivate", 0) == 1) {
        m_autoActivateFlags[static_cast<std::size_t>(number)] = 1;
    }
    s.SetWaitForCr(readInt("WaitForCr", 0));
    s.SetTimeoutValue(std::to_string(readInt("TimeoutValue", 150)));
}

// ---------------------------------------------------------------- writing

void Shell::writeprofilesettings(const std::string& InFileName)
{
    const std::string path = ResolveFileName(InFileName);
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

    if (m_app.services.startEntry) {
        m_app.services.startEntry->SetStartWithWindows(g.LoadWithWindows == 1, "Velkon", ExePath,
                                                       true, false);
    }

    // A password or a login response in the file keeps it private to its owner.
    bool secret = !g.Password.empty();
    for (std::size_t n = 1; n <= m_sessions.size(); ++n) {
        WriteSession(file, static_cast<int>(n));
        const SessionOptionsTransfer& t = m_app.transfer;
        secret = secret || !t.UserPromptResponse.empty() || !t.PasswordPromptResponse.empty();
    }
    if (files)
        files->Replace(path, file.Serialize(), secret);
}

void Shell::WriteSession(IniFile& file, int number)
{
    Session& s = *m_sessions[static_cast<std::size_t>(number - 1)];
    const SessionSettings& v = s.settings();
    const std::string section = SessionSection(number);
    auto putInt = [&](const char* key, long long value) {
        file.Write(section, key, std::to_string(value));
    };
    auto put = [&](const char* key, const std::string& value) { file.Write(section, key, value); };

    putInt("Connector", v.Connector);
    putInt("BaudRate", v.BaudRate);
    putInt("Parity", v.Parity);
    putInt("Databits", v.Databits);
    putInt("Stopbits", v.Stopbits);
    putInt("FlowControl", v.FlowControl);
    putInt("BufferSize", v.BufferSize);
    putInt("CreateVirtualPort", v.CreateVirtualPort);
    putInt("UseUDP", v.UseUDP);
    putInt("BufferSerialData", v.BufferSerialData);
    put("LocalIP", v.LocalIP);
    put("IPAddress", v.IPAddress);
    put("PortNumber", v.PortNumber);
    put("TCPOption", v.TCPOption == 1 ? "1" : "0");
    put("AutoActivate", s.IsActive() ? "1" : "0");
    putInt("WaitForCr", v.WaitForCr);
    put("TimeoutValue", NumberText(LeadingNumber(v.TimeoutValue)));
    s.Getstatus();
    const SessionOptionsTransfer& t = m_app.transfer;
    putInt("AllowMultiConnect", t.AllowMultiConnect);
    putInt("ServerSerialOptions", t.ServerSerialOptions);
    putInt("ServerTCPOptions", t.ServerTCPOptions);
    putInt("ClientOptions", t.ClientOptions);
    putInt("ConnectOnVirtualOpen", t.ConnectOnVirtualOpen);
    put("UserPrompt", t.UserPrompt);
    put("UserPromptResponse", t.UserPromptResponse);
    put("PasswordPrompt", t.PasswordPrompt);
    put("PasswordPromptResponse", t.PasswordPromptResponse);
    putInt("RemoteLineControl", t.RemoteLineControl);
}

// ---------------------------------------------------------------- File menu

void Shell::mnuFileNew()
{
    NewSession();
}

void Shell::mnuFileOpen()
{
    const std::string name = m_view.ShowOpenDialog();
    if (name.empty())
        return;
    m_currentFileName = name;
    getprofilesettings(name);
}

void Shell::mnuFileClose()
{
    if (Session* active = m_view.ActiveSession())
        CloseSession(*active);
}

void Shell::mnuFileSave()
{
    if (!m_currentFileName.empty()) {
        writeprofilesettings(m_currentFileName);
    } else {
        mnuFileSaveAs();
    }
}

void Shell::mnuFileSaveAs()
{
    const std::string name = m_view.ShowSaveDialog();
    if (name.empty())
        return;
    m_currentFileName = name;
    writeprofilesettings(name);
}

void Shell::QueryUnload()
{
    m_view.CloseHelpWindows();
    writeprofilesettings("");
}

void Shell::Unload()
{
    CloseAllSessions();
}

void Shell::StopTakingIn()
{
    for (const auto& session : m_sessions) session->StopTakingIn();
}

std::int64_t Shell::BytesInFlight() const
{
    std::int64_t count = 0;
    for (const auto& session : m_sessions) count += session->BytesInFlight();
    return count;
}

void Shell::LogUndelivered()
{
    for (const auto& session : m_sessions) session->LogUndelivered();
}

}  // namespace velkon
