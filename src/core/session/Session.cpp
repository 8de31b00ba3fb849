#include "session/Session.h"

#include <algorithm>
#include <cstdio>

#include "session/Numbers.h"
#include "shell/StringTable.h"
#include "tools/PingCode.h"

namespace velkon {

namespace {

// Text ids of the session window.
constexpr int kTextComStatus = 5090;
constexpr int kTextNetStatus = 5091;
constexpr int kTextActivate = 5087;
constexpr int kTextDeactivate = 5118;
constexpr int kTextNew = 5119;
constexpr int kTextRs232ToTcpIp = 5120;
constexpr int kTextOpen = 5096;
constexpr int kTextConnecting = 5097;
constexpr int kTextListening = 5098;
constexpr int kTextErrorDash = 5099;
constexpr int kTextClosed = 5100;
constexpr int kTextError = 5103;
constexpr int kTextConnected = 5109;
constexpr int kTextInvalidIp = 5088;
constexpr int kTextInvalidPort = 5089;
constexpr int kTextPortNotAvailable = 5095;
constexpr int kTextVirtualNotClosed = 5084;
constexpr int kTextVirtualClosed = 5085;
constexpr int kTextCannotCreateVirtual = 5092;
constexpr int kTextVirtualPort = 5093;
constexpr int kTextCreated = 5094;
constexpr int kTextPortRange = 5102;
constexpr int kTextRemoteHost = 5104;
constexpr int kTextRemotePort = 5105;
constexpr int kTextLocalIp = 5106;
constexpr int kTextLocalPort = 5107;

constexpr int kTcpOptionClient = 0;

bool InList(int index, std::size_t size)
{
    return index >= -1 && index < static_cast<int>(size);
}

bool IsCheckValue(int value)
{
    return value == 0 || value == 1;
}

template <std::size_t N>
std::string ListText(const std::array<const char*, N>& list, int index)
{
    return index >= 0 && index < static_cast<int>(N) ? list[index] : "";
}

std::string TwoDigits(int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

std::string ToUpper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string TrimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string ConnectorName(int index)
{
    if (index < 1 || index >= kConnectorCount) return "";
    return "COM" + std::to_string(index);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

Session::Session(AppState& app, SessionComponents components)
    : m_app(app), m_components(std::move(components))
{
    m_form.caption = Text(kTextNew) + " - " + Text(kTextRs232ToTcpIp);
    m_form.command1Caption = Text(kTextActivate);
    m_form.statusText[0] = Text(kTextComStatus);
    m_form.statusText[1] = Text(kTextNetStatus);
    // The design texts of the address labels carry a colon; the mode switch
    // replaces them with the plain texts.
    m_form.label2 = Text(kTextRemoteHost) + ":";
    m_form.label3 = Text(kTextRemotePort) + ":";

    m_components.MSComm1->setCommEventHandler([this] { MSComm1_CommEvent(); });
    m_components.VSPort1->setDataReceivedHandler([this] { VSPort1_DataReceived(); });
    m_components.VSPort1->setOpenStateChangedHandler(
        [this](bool opened) { VSPort1_OpenStateChanged(opened); });
    SocketEvents events;
    events.connect = [this](int i) { Winsock1_Connect(i); };
    events.close = [this](int i) { Winsock1_Close(i); };
    events.connectionRequest = [this](int i, long id) { Winsock1_ConnectionRequest(i, id); };
    events.dataArrival = [this](int i, int) { Winsock1_DataArrival(i); };
    events.error = [this](int i, int number, const std::string& description) {
        Winsock1_Error(i, number, description);
    };
    events.sendProgress = [this](int i) { Winsock1_SendProgress(i); };
    m_components.Winsock1->setEvents(std::move(events));
    m_components.Timer1->setTickHandler([this] { Timer1_Timer(); });
    m_components.Timer2->setTickHandler([this] { Timer2_Timer(); });
}

Session::~Session()
{
    *m_alive = false;
    // Components release their ports and sockets as they are destroyed;
    // handlers must not run into a half-destroyed session meanwhile.
    m_components.Timer1->SetEnabled(false);
    m_components.Timer2->SetEnabled(false);
    m_components.MSComm1->setCommEventHandler({});
    m_components.VSPort1->setDataReceivedHandler({});
    m_components.VSPort1->setOpenStateChangedHandler({});
    m_components.Winsock1->setEvents({});
    m_components.Timer1->setTickHandler({});
    m_components.Timer2->setTickHandler({});
}

std::string Session::Text(int id) const
{
    return m_app.strings ? m_app.strings->Text(id) : std::string();
}

void Session::Notify(SessionChange change)
{
    if (m_observer) m_observer->SessionChanged(change);
}

void Session::SetStatus(int line, const std::string& text)
{
    SetStatusRaw(line, Text(line == 0 ? kTextComStatus : kTextNetStatus) + " " + text);
}

void Session::SetStatusRaw(int line, const std::string& text)
{
    m_form.statusText[line] = text;
    Notify(SessionChange::Status);
}

void Session::SetLamp(int lamp, LampColour colour)
{
    if (m_form.lamp[lamp] == colour) return;
    m_form.lamp[lamp] = colour;
    Notify(SessionChange::Lamps);
}

void Session::SetSettingsEnabled(bool enabled)
{
    m_form.settingsEnabled = enabled;
    Notify(SessionChange::Settings);
}

void Session::SetCommand1Caption(int textId)
{
    m_form.command1Caption = Text(textId);
    Notify(SessionChange::Settings);
}

// ---------------------------------------------------------------- window load

void Session::Load()
{
    m_components.MSComm1->SetReceiveThreshold(1);
    m_settings = SessionSettings();
    SetConnector(0);
    if (m_app.services.network) m_form.localIpItems = m_app.services.network->LocalAddresses();
    m_localAddressText = m_components.Winsock1->LocalIP(0);
    if (!m_localAddressText.empty()) {
        m_settings.LocalIP = m_localAddressText;
        m_form.serverOptionEnabled = true;
    } else {
        m_form.serverOptionEnabled = false;
        m_serverModeFlag = 0;
    }
    m_settings.AllowMultiConnect = 1;
    m_settings.ConnectOnVirtualOpen = 1;
    m_components.Timer1->SetEnabled(false);
    m_components.Timer2->SetEnabled(true);
    Notify(SessionChange::Settings);
}

// ---------------------------------------------------------------- controls

bool Session::SetConnector(int index)
{
    if (!InList(index, kConnectorCount)) return false;
    m_settings.Connector = index;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetBaudRate(int index)
{
    if (!InList(index, kBaudRates.size())) return false;
    m_settings.BaudRate = index;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetParity(int index)
{
    if (!InList(index, kParityTextIds.size())) return false;
    m_settings.Parity = index;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetDatabits(int index)
{
    if (!InList(index, kDataBits.size())) return false;
    m_settings.Databits = index;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetStopbits(int index)
{
    if (!InList(index, kStopBits.size())) return false;
    m_settings.Stopbits = index;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetFlowControl(int index)
{
    if (!InList(index, kFlowControlTextIds.size())) return false;
    m_settings.FlowControl = index;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetBufferSize(int index)
{
    if (!InList(index, kBufferSizes.size())) return false;
    m_settings.BufferSize = index;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetBufferSerialData(int value)
{
    if (!IsCheckValue(value)) return false;
    m_settings.BufferSerialData = value;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetCreateVirtualPort(int value)
{
    if (!IsCheckValue(value)) return false;
    m_settings.CreateVirtualPort = value;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetUseUDP(int value)
{
    if (!IsCheckValue(value)) return false;
    m_settings.UseUDP = value;
    Notify(SessionChange::Settings);
    return true;
}

bool Session::SetWaitForCr(int value)
{
    if (!IsCheckValue(value)) return false;
    m_settings.WaitForCr = value;
    Notify(SessionChange::Settings);
    return true;
}

void Session::SetLocalIP(const std::string& text)
{
    m_settings.LocalIP = text;
    Notify(SessionChange::Settings);
}

void Session::SetIPAddress(const std::string& text)
{
    m_settings.IPAddress = text;
    Notify(SessionChange::Settings);
}

void Session::SetPortNumber(const std::string& text)
{
    m_settings.PortNumber = text;
    Notify(SessionChange::Settings);
    PortCheck();
}

void Session::PortCheck()
{
    // The text stays as typed: activation refuses it again.
    if (LeadingNumber(m_settings.PortNumber) > 65535 && m_app.services.messages) {
        m_app.services.messages->Show(Text(kTextPortRange), Text(kTextError));
    }
}

void Session::SetTimeoutValue(const std::string& text)
{
    m_settings.TimeoutValue = text;
    Notify(SessionChange::Settings);
}

void Session::SetCaption(const std::string& firstWord)
{
    m_form.caption = firstWord + " - " + Text(kTextRs232ToTcpIp);
    Notify(SessionChange::Caption);
}

void Session::TCPOption_Click(int index)
{
    m_settings.TCPOption = index == kTcpOptionClient ? 0 : 1;
    const bool server = m_settings.TCPOption == 1;
    m_form.ipAddressVisible = !server;
    m_form.label2 = Text(server ? kTextLocalIp : kTextRemoteHost);
    m_form.label3 = Text(server ? kTextLocalPort : kTextRemotePort);
    Notify(SessionChange::Settings);
}

std::string Session::ConnectorText() const
{
    if (m_settings.Connector == 0) return Text(2205);
    return ConnectorName(m_settings.Connector);
}

std::string Session::BaudRateText() const
{
    return ListText(kBaudRates, m_settings.BaudRate);
}

std::string Session::ParityText() const
{
    const int i = m_settings.Parity;
    return i >= 0 && i < static_cast<int>(kParityTextIds.size()) ? Text(kParityTextIds[i]) : "";
}

std::string Session::DatabitsText() const
{
    return ListText(kDataBits, m_settings.Databits);
}

std::string Session::StopbitsText() const
{
    return ListText(kStopBits, m_settings.Stopbits);
}

std::string Session::BufferSizeText() const
{
    return ListText(kBufferSizes, m_settings.BufferSize);
}

std::string Session::SerialSettingsText() const
{
    const std::string parity = ParityText();
    return BaudRateText() + "," + parity.substr(0, parity.empty() ? 0 : 1) + "," +
           DatabitsText() + "," + StopbitsText();
}

bool Session::IsActive() const
{
    return m_form.command1Caption == Text(kTextDeactivate);
}

// ---------------------------------------------------------------- options

void Session::Getstatus()
{
    SessionOptionsTransfer& t = m_app.transfer;
    t.AllowMultiConnect = m_settings.AllowMultiConnect;
    t.ServerSerialOptions = m_settings.ServerSerialOptions;
    t.ServerTCPOptions = m_settings.ServerTCPOptions;
    t.ClientOptions = m_settings.ClientOptions;
    t.ConnectOnVirtualOpen = m_settings.ConnectOnVirtualOpen;
    t.UserPrompt = m_settings.UserPrompt;
    t.UserPromptResponse = m_settings.UserPromptResponse;
    t.PasswordPrompt = m_settings.PasswordPrompt;
    t.PasswordPromptResponse = m_settings.PasswordPromptResponse;
}

void Session::UpdateStatus()
{
    const SessionOptionsTransfer& t = m_app.transfer;
    m_settings.AllowMultiConnect = t.AllowMultiConnect;
    m_settings.ServerSerialOptions = t.ServerSerialOptions;
    m_settings.ServerTCPOptions = t.ServerTCPOptions;
    m_settings.ClientOptions = t.ClientOptions;
    m_settings.ConnectOnVirtualOpen = t.ConnectOnVirtualOpen;
    m_settings.UserPrompt = t.UserPrompt;
    m_settings.UserPromptResponse = t.UserPromptResponse;
    m_settings.PasswordPrompt = t.PasswordPrompt;
    m_settings.PasswordPromptResponse = t.PasswordPromptResponse;
    Notify(SessionChange::Settings);
}

void Session::Command2_Click()
{
    SessionDialogs* dialogs = m_app.services.dialogs;
    if (!dialogs) return;
    SessionOptionsTransfer& t = m_app.transfer;
    if (m_settings.TCPOption == 1) {
        t.AllowMultiConnect = m_settings.AllowMultiConnect;
        t.ServerSerialOptions = m_settings.ServerSerialOptions;
        t.ServerTCPOptions = m_settings.ServerTCPOptions;
        dialogs->ShowServerOptions(t);
        if (t.AllowMultiConnect != -1) {
            m_settings.AllowMultiConnect = t.AllowMultiConnect;
            m_settings.ServerSerialOptions = t.ServerSerialOptions;
            m_settings.ServerTCPOptions = t.ServerTCPOptions;
        }
    } else {
        t.ClientOptions = m_settings.ClientOptions;
        t.ConnectOnVirtualOpen = m_settings.ConnectOnVirtualOpen;
        dialogs->ShowClientOptions(t);
        if (t.ClientOptions != -1) {
            m_settings.ClientOptions = t.ClientOptions;
            m_settings.ConnectOnVirtualOpen = t.ConnectOnVirtualOpen;
        }
    }
    Notify(SessionChange::Settings);
}

void Session::btnLogin_Click()
{
    SessionDialogs* dialogs = m_app.services.dialogs;
    if (!dialogs) return;
    SessionOptionsTransfer& t = m_app.transfer;
    t.UserPrompt = m_settings.UserPrompt;
    t.UserPromptResponse = m_settings.UserPromptResponse;
    t.PasswordPrompt = m_settings.PasswordPrompt;
    t.PasswordPromptResponse = m_settings.PasswordPromptResponse;
    dialogs->ShowLoginOptions(t, m_app.LoginCancelled);
    if (!m_app.LoginCancelled) {
        m_settings.UserPrompt = t.UserPrompt;
        m_settings.UserPromptResponse = t.UserPromptResponse;
        m_settings.PasswordPrompt = t.PasswordPrompt;
        m_settings.PasswordPromptResponse = t.PasswordPromptResponse;
    }
    Notify(SessionChange::Settings);
}

// ---------------------------------------------------------------- activation

void Session::Command1_Click()
{
    m_udpFlag = m_settings.UseUDP == 1;
    m_app.PingTickCounter = 0;
    m_components.Timer1->SetEnabled(false);
    if (IsActive()) {
        Deactivate();
    } else {
        Activate();
    }
}

void Session::Deactivate()
{
    SocketArray& sock = *m_components.Winsock1;
    if (m_settings.CreateVirtualPort == 1) {
        if (!m_components.VSPort1->DeletePort()) {
            SetStatusRaw(0, Text(kTextVirtualNotClosed));
            return;
        }
        SetStatusRaw(0, Text(kTextVirtualClosed));
    } else {
        if (m_components.MSComm1->IsPortOpen()) m_components.MSComm1->SetPortOpen(false);
        SetStatus(0, Text(kTextClosed));
    }
    for (int i = 0; i <= m_highestSocketIndex; ++i) {
        if (!sock.IsLoaded(i)) continue;
        sock.Close(i);
        sock.SetLocalPort(i, 0);
    }
    m_clientCount = 0;
    sock.SetProtocol(0, SocketArray::kTcp);
    SetStatus(1, Text(kTextClosed));
    m_serialHeld = false;
    m_pingsOut.clear();
    SetSettingsEnabled(true);
    SetCommand1Caption(kTextActivate);
}

void Session::AllocateQueues()
{
    const std::int32_t size = LeadingWholeNumber(BufferSizeText());
    m_myBuffer.Allocate(size);
    m_serialOutBuffer.Allocate(size);
}

void Session::Activate()
{
    SocketArray& sock = *m_components.Winsock1;
    SerialPort& serial = *m_components.MSComm1;

    if (m_form.ipAddressVisible && m_settings.IPAddress.empty()) {
        SetStatus(1, Text(kTextInvalidIp));
        return;
    }
    const double port = LeadingNumber(m_settings.PortNumber);
    if (port < 0 || port > 65535) {
        SetStatus(1, Text(kTextInvalidPort));
        return;
    }
    const int portNumber = RoundHalfEven(port);
    m_activeConnector = m_settings.Connector;
    if (m_activeConnector == 0) {
        SetCaption(Text(kTextNew));
        SetStatusRaw(0, Text(kTextComStatus));
        SetStatusRaw(1, Text(kTextNetStatus));
        return;
    }
    m_serialHeld = false;
    m_pingUnavailableLogged = false;
    m_pingsOut.clear();
    const std::string number = std::to_string(m_activeConnector);

    if (m_settings.CreateVirtualPort == 1) {
        VirtualPort& vport = *m_components.VSPort1;
        vport.DeletePort();
        if (!vport.CreatePort("COM" + number)) {
            SetStatusRaw(0, Text(kTextCannotCreateVirtual) + " COM" + number);
            return;
        }
        vport.SetPortFlag(true);
        vport.ResumeReceive();
        SetStatusRaw(0, Text(kTextVirtualPort) + " COM" + number + " " + Text(kTextCreated));
        AllocateQueues();
    } else {
        if (serial.IsPortOpen()) serial.SetPortOpen(false);
        Result r = serial.SetCommPortNumber(m_activeConnector);
        if (r) r = serial.SetLineSettings(SerialSettingsText());
        if (r) {
            const int flow = m_settings.FlowControl;
            if (flow >= 0 && flow <= 2) {
                r = serial.SetDtrEnabled(true);
                if (r) r = serial.SetHandshakeMode(flow);
            } else if (flow == 3) {
                r = serial.SetHandshakeMode(2);
                if (r) r = serial.SetDtrEnabled(false);
            }
        }
        if (r) r = serial.SetReceiveBufferSize(8192);
        if (r) r = serial.SetTransmitBufferSize(8192);
        if (r) AllocateQueues();
        if (r) r = serial.SetPortOpen(true);
        if (!r) {
            ErrorTrap1(r);
            return;
        }
        if (!serial.IsPortOpen()) {
            SetStatus(0, Text(kTextPortNotAvailable));
            return;
        }
        serial.ResumeReceive();
        SetStatus(0, Text(kTextOpen));
    }

    if (m_udpFlag) {
        sock.SetProtocol(0, SocketArray::kUdp);
    } else {
        sock.Close(0);
        sock.SetProtocol(0, SocketArray::kTcp);
    }

    if (m_settings.TCPOption == kTcpOptionClient) {
        m_serverModeFlag = 0;
        sock.SetRemoteHost(0, m_settings.IPAddress);
        sock.SetRemotePort(0, portNumber);
        const bool waitForApplication =
            m_settings.CreateVirtualPort == 1 && m_settings.ConnectOnVirtualOpen != 0;
        if (!waitForApplication) SetStatus(1, Text(kTextConnecting));
        if (m_udpFlag) {
            // A failed client bind leaves the session active, as it always
            // did, but it is shown instead of passing unnoticed.
            const Result bound = sock.Bind(0, portNumber, "");
            if (!bound) SetStatus(1, Text(kTextErrorDash) + " " + bound.description());
        } else if (!waitForApplication) {
            const Result connected = sock.Connect(0);
            if (!connected) {
                ErrorTrap2(connected);
                return;
            }
        }
    } else {
        m_serverModeFlag = 1;
        sock.SetLocalPort(0, portNumber);
        if (m_udpFlag) sock.SetRemotePort(0, portNumber);
        Result r = sock.Bind(0, portNumber, m_settings.LocalIP);
        if (r && !m_udpFlag) r = sock.Listen(0);
        if (!r) {
            ErrorTrap2(r);
            return;
        }
        SetStatus(1, Text(kTextListening));
    }

    m_form.caption = ConnectorText() + " - " + Text(kTextRs232ToTcpIp);
    Notify(SessionChange::Caption);
    SetSettingsEnabled(false);
    SetCommand1Caption(kTextDeactivate);
}

void Session::ErrorTrap1(const Result& failure)
{
    SerialPort& serial = *m_components.MSComm1;
    if (serial.IsPortOpen()) serial.SetPortOpen(false);
    SetStatus(0, Text(kTextErrorDash) + " " + failure.description());
}

void Session::ErrorTrap2(const Result& failure)
{
    SocketArray& sock = *m_components.Winsock1;
    sock.Close(0);
    sock.SetRemoteHost(0, "");
    sock.SetRemotePort(0, 0);
    SetStatus(1, Text(kTextErrorDash) + " " + failure.description());
    if (m_settings.CreateVirtualPort == 1) {
        if (!m_components.VSPort1->DeletePort()) {
            SetStatusRaw(0, Text(kTextVirtualNotClosed));
            return;
        }
        SetStatusRaw(0, Text(kTextVirtualClosed));
    } else {
        SerialPort& serial = *m_components.MSComm1;
        if (serial.IsPortOpen()) serial.SetPortOpen(false);
        SetStatus(0, Text(kTextClosed));
    }
}

// ---------------------------------------------------------------- error log

void Session::LogErrors(const std::string& description)
{
    const GlobalSettings& g = m_app.globalSettings;
    if (g.LogErrors != 0 && m_app.services.files) {
        const SocketArray& sock = *m_components.Winsock1;
        LocalDateTime now = m_app.services.clock ? m_app.services.clock->Now() : LocalDateTime();
        std::string line = "Velkon Error: " + description + ", " + TwoDigits(now.month) + "-" +
                           TwoDigits(now.day) + "-" + std::to_string(now.year) + ", " +
                           TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" +
                           TwoDigits(now.second) + ", Velkon IP Address: " + m_localAddressText +
                           ", ";
        if (m_serverModeFlag != 0) {
            line += "Server Mode, Local Port: " + std::to_string(sock.LocalPort(0));
        } else {
            line += "Client Mode, Remote Host: " + sock.RemoteHost(0) +
                    ", RemotePort: " + std::to_string(sock.RemotePort(0));
        }
        m_app.services.files->Append(JoinPath(m_app.programFolder, "errorlog.txt"),
                                     line + "\r\n");
    }
    if (!g.OnErrorRunApp.empty() && m_app.services.launcher) {
        m_app.services.launcher->StartDetached(g.OnErrorRunApp);
    }
}

// ---------------------------------------------------------------- serial to network

bool Session::IgnoresSerialData() const
{
    return (m_serverModeFlag == 1 && m_settings.ServerSerialOptions == 1) ||
           (m_serverModeFlag == 0 && m_settings.ClientOptions == 2);
}

bool Session::AnyClientConnected() const
{
    const SocketArray& sock = *m_components.Winsock1;
    for (int i = 0; i <= m_highestSocketIndex; ++i) {
        if (sock.IsLoaded(i) && sock.State(i) == kSockConnected) return true;
    }
    return false;
}

int Session::FirstConnectedClient() const
{
    const SocketArray& sock = *m_components.Winsock1;
    for (int i = 1; i <= m_highestSocketIndex; ++i) {
        if (sock.IsLoaded(i) && sock.State(i) == kSockConnected) return i;
    }
    return m_highestSocketIndex + 1;
}

std::vector<int> Session::DistributionTargets() const
{
    const SocketArray& sock = *m_components.Winsock1;
    std::vector<int> targets;
    for (int i = 0; i <= m_highestSocketIndex; ++i) {
        if (!sock.IsLoaded(i) || sock.State(i) != kSockConnected) continue;
        targets.push_back(i);
        if (m_serverModeFlag == 1 && m_settings.ServerSerialOptions == 2) break;
    }
    return targets;
}

bool Session::TargetsHaveRoom() const
{
    const SocketArray& sock = *m_components.Winsock1;
    for (int i : DistributionTargets()) {
        if (sock.BytesToWrite(i) >= kSendQueueLimit) return false;
    }
    return true;
}

void Session::Distribute(const Bytes& piece)
{
    SocketArray& sock = *m_components.Winsock1;
    for (int i : DistributionTargets()) sock.SendData(i, piece);
}

int Session::ReadSerialIntoMyBuffer(SerialSource source)
{
    // Take only what fits; the rest waits in the port so nothing is lost.
    int taken = 0;
    Bytes buffer;
    for (;;) {
        const int room = m_myBuffer.Room();
        const int waiting = source == SerialSource::Physical
                                ? m_components.MSComm1->ReceiveWaiting()
                                : m_components.VSPort1->AvailableCount();
        if (waiting <= 0 || room <= 0) break;
        const int want = std::min(waiting, room);
        if (source == SerialSource::Physical) {
            if (!m_components.MSComm1->ReadReceived(buffer, want)) break;
        } else {
            m_components.VSPort1->ReadBytes(buffer, want);
        }
        if (buffer.empty()) break;
        taken += m_myBuffer.Add(buffer);
    }
    return taken;
}

void Session::HoldOrResumeSerial(SerialSource source, bool bytesLeft)
{
    if (bytesLeft && !m_serialHeld) {
        m_serialHeld = true;
        if (source == SerialSource::Physical) {
            m_components.MSComm1->HoldReceive();
        } else {
            m_components.VSPort1->HoldReceive();
        }
    }
}

void Session::ResumeSerialIfRoom()
{
    if (!m_serialHeld || m_myBuffer.Room() <= 0) return;
    m_serialHeld = false;
    if (m_settings.CreateVirtualPort == 1) {
        m_components.VSPort1->ResumeReceive();
    } else {
        m_components.MSComm1->ResumeReceive();
    }
}

void Session::SendQueuedPackets(bool waitForTimeout)
{
    SocketArray& sock = *m_components.Winsock1;
    if (m_udpFlag) {
        if (waitForTimeout) {
            const int packet = std::max(1, m_app.globalSettings.PacketSize);
            while (m_myBuffer.Count() >= packet) {
                std::int32_t n = packet;
                sock.SendData(0, m_myBuffer.Read(n));
            }
        } else if (m_myBuffer.Count() > 0) {
            std::int32_t n = -1;
            sock.SendData(0, m_myBuffer.Read(n));
        }
        return;
    }
    if (!(m_settings.BufferSerialData == 0 || AnyClientConnected())) return;
    if (waitForTimeout) {
        // PacketSize below 1 would never empty the queue.
        const int packet = std::max(1, m_app.globalSettings.PacketSize);
        while (m_myBuffer.Count() >= packet && TargetsHaveRoom()) {
            std::int32_t n = packet;
            Distribute(m_myBuffer.Read(n));
        }
    } else if (m_myBuffer.Count() > 0 && TargetsHaveRoom()) {
        std::int32_t n = -1;
        Distribute(m_myBuffer.Read(n));
    }
}

void Session::SerialReceive(SerialSource source)
{
    const bool physical = source == SerialSource::Physical;
    SetLamp(0, LampColour::Red);
    if (IgnoresSerialData()) {
        if (physical) {
            m_components.MSComm1->DiscardReceived();
        } else {
            m_components.VSPort1->PurgeReceived();
        }
        return;
    }
    if (physical) {
        if (m_components.MSComm1->EventCode() != SerialPort::kEventReceive) return;
        if (!m_udpFlag && m_settings.BufferSerialData == 0 && !AnyClientConnected()) {
            m_components.MSComm1->DiscardReceived();
            return;
        }
    }
    const bool waitForTimeout = m_settings.WaitForCr == 1;
    // Read what fits, send what may leave, and go on while that made room.
    for (;;) {
        const int taken = ReadSerialIntoMyBuffer(source);
        const int before = m_myBuffer.Count();
        SendQueuedPackets(waitForTimeout);
        const bool sentSome = m_myBuffer.Count() < before;
        if (taken == 0 || !sentSome) break;
    }
    if (waitForTimeout) m_timeoutTicks = 0;
    const int waiting = physical ? m_components.MSComm1->ReceiveWaiting()
                                 : m_components.VSPort1->AvailableCount();
    HoldOrResumeSerial(source, waiting > 0 && m_myBuffer.Room() == 0);
}

void Session::MSComm1_CommEvent()
{
    SerialReceive(SerialSource::Physical);
}

void Session::VSPort1_DataReceived()
{
    SerialReceive(SerialSource::Virtual);
}

void Session::Winsock1_SendProgress(int)
{
    // A peer took data: queued serial bytes that waited for room may leave.
    if (m_myBuffer.Count() == 0 || m_udpFlag) return;
    if (!AnyClientConnected()) return;
    SendQueuedPackets(m_settings.WaitForCr == 1);
    ResumeSerialIfRoom();
}

// ---------------------------------------------------------------- network

bool Session::IgnoresNetworkData() const
{
    return (m_serverModeFlag == 1 && m_settings.ServerTCPOptions == 1) ||
           (m_serverModeFlag == 0 && m_settings.ClientOptions == 1);
}

std::string Session::ServerCountStatus() const
{
    return Text(kTextNetStatus) + " (" + std::to_string(m_clientCount) + ")" +
           Text(kTextConnected);
}

void Session::Winsock1_ConnectionRequest(int, long requestId)
{
    if (!((m_settings.AllowMultiConnect != 0 || m_clientCount == 0) && m_serverModeFlag == 1)) {
        return;
    }
    SocketArray& sock = *m_components.Winsock1;
    ++m_clientCount;
    int index = 0;
    for (int i = 1; i <= m_highestSocketIndex; ++i) {
        if (sock.IsLoaded(i) && sock.State(i) == kSockClosed) {
            index = i;
            break;
        }
    }
    if (index == 0) {
        if (m_highestSocketIndex >= 32767) return;
        ++m_highestSocketIndex;
        index = m_highestSocketIndex;
        sock.Load(index);
    }
    sock.SetLocalPort(index, sock.LocalPort(0));
    sock.Accept(index, requestId);
    SetStatusRaw(1, ServerCountStatus());
}

void Session::Winsock1_Connect(int)
{
    m_components.Timer1->SetEnabled(false);
    SetStatus(1, Text(kTextConnected));
}

void Session::TakeNetworkData(int index)
{
    SocketArray& sock = *m_components.Winsock1;
    Bytes data;
    bool drop = IgnoresNetworkData();
    if (!drop && !m_udpFlag) {
        drop = index != FirstConnectedClient() && m_serverModeFlag == 1 &&
               m_settings.ServerTCPOptions == 2;
    }
    if (drop) {
        // Read and dropped, so they do not stay waiting in the socket.
        sock.GetData(index, data, -1);
        return;
    }
    if (m_udpFlag) {
        // A datagram that does not fit is cut: datagrams cannot wait.
        sock.GetData(index, data, -1);
        if (!data.empty()) m_serialOutBuffer.Add(data);
        return;
    }
    // TCP: take only what fits; the rest stays in the socket, so TCP flow
    // control slows the sender until the serial side has drained.
    const int room = m_serialOutBuffer.Room();
    if (room <= 0) return;
    sock.GetData(index, data, room);
    if (!data.empty()) m_serialOutBuffer.Add(data);
}

void Session::Winsock1_DataArrival(int index)
{
    m_app.PingTickCounter = 0;
    SetLamp(1, LampColour::Red);
    TakeNetworkData(index);
}

void Session::Winsock1_Close(int index)
{
    if (m_inClose) return;
    m_inClose = true;
    m_components.Winsock1->Close(index);
    m_pingsOut.erase(index);
    m_clientCount = std::max(0, m_clientCount - 1);
    if (m_serverModeFlag == 1) {
        if (m_clientCount != 0) {
            SetStatusRaw(1, ServerCountStatus());
        } else {
            SetStatus(1, Text(kTextListening));
        }
    } else {
        SetStatus(1, Text(kTextClosed));
        m_components.Timer1->SetEnabled(true);
    }
    m_inClose = false;
}

void Session::Winsock1_Error(int index, int number, const std::string& description)
{
    SetStatus(1, Text(kTextError));
    LogErrors(description);
    if (number > 10000) Winsock1_Close(index);
}

void Session::Frame2_DblClick()
{
    if (m_settings.TCPOption == kTcpOptionClient) return;
    const SocketArray& sock = *m_components.Winsock1;
    std::string text;
    for (int i = 0; i <= m_highestSocketIndex; ++i) {
        if (sock.IsLoaded(i) && sock.State(i) == kSockConnected) {
            text += sock.RemoteHostIP(i) + "\r\n";
        }
    }
    if (m_app.services.messages) m_app.services.messages->Show(text, "Connected Clients:");
}

// ---------------------------------------------------------------- virtual port open

void Session::VSPort1_OpenStateChanged(bool opened)
{
    if (m_udpFlag) return;
    if (!(m_settings.CreateVirtualPort == 1 && m_serverModeFlag == 0 &&
          m_settings.ConnectOnVirtualOpen != 0)) {
        return;
    }
    SocketArray& sock = *m_components.Winsock1;
    if (opened) {
        SetStatus(1, Text(kTextConnecting));
        if (sock.State(0) != kSockConnected) sock.Connect(0);
    } else {
        SetStatus(1, Text(kTextClosed));
        if (sock.State(0) == kSockConnected) sock.Close(0);
    }
}

// ---------------------------------------------------------------- timers

void Session::Timer1_Timer()
{
    if (m_udpFlag) return;
    SocketArray& sock = *m_components.Winsock1;
    Result r = sock.SetRemoteHost(0, m_settings.IPAddress);
    if (r) r = sock.SetRemotePort(0, LeadingWholeNumber(m_settings.PortNumber));
    if (r) SetStatus(1, Text(kTextConnecting));
    if (r) r = sock.Connect(0);
    if (!r) {
        sock.Close(0);
        sock.SetRemoteHost(0, "");
        sock.SetRemotePort(0, 0);
        SetStatus(1, Text(kTextErrorDash) + " " + r.description());
        LogErrors(r.description());
    }
}

void Session::Timer2_Timer()
{
    ++m_lampTicks;
    if (m_lampTicks >= 3) {
        SetLamp(0, LampColour::Green);
        SetLamp(1, LampColour::Green);
        m_lampTicks = 0;
    }
    SerialOutput();
    if (m_myBuffer.Count() != 0) {
        TimeoutFlush();
    } else {
        PingMonitoring();
    }
    ResumeSerialIfRoom();
}

void Session::SerialOutput()
{
    const std::int32_t n = m_serialOutBuffer.Count();
    if (n > 0) {
        if (m_settings.CreateVirtualPort == 1) {
            VirtualPort& vport = *m_components.VSPort1;
            if (vport.IsOpenedByApplication()) {
                // Hand over more only when the application has taken what it
                // got, so a slow reader holds bytes here (and then in the
                // network) instead of in an ever-growing queue.
                if (vport.OutputWaiting() < m_serialOutBuffer.Capacity()) {
                    std::int32_t all = n;
                    vport.WriteBytes(m_serialOutBuffer.Read(all));
                }
            } else if (m_settings.BufferSerialData == 0) {
                m_serialOutBuffer.Clear();
            }
        } else {
            SerialPort& serial = *m_components.MSComm1;
            if (serial.IsPortOpen()) {
                const int room = serial.TransmitBufferSize() - serial.TransmitWaiting();
                if (room > 0) {
                    std::int32_t take = n > room ? room : n;
                    serial.QueueTransmit(m_serialOutBuffer.Read(take));
                }
            }
        }
    }
    // Bytes left in the sockets while the queue was full come in now.
    if (!m_udpFlag && m_serialOutBuffer.Room() > 0) {
        const SocketArray& sock = *m_components.Winsock1;
        for (int i = 0; i <= m_highestSocketIndex && m_serialOutBuffer.Room() > 0; ++i) {
            if (sock.IsLoaded(i) && sock.State(i) == kSockConnected && sock.BytesAvailable(i) > 0) {
                TakeNetworkData(i);
            }
        }
    }
}

void Session::TimeoutFlush()
{
    ++m_timeoutTicks;
    if (!(m_timeoutTicks * 50.0 > LeadingNumber(m_settings.TimeoutValue))) return;
    SocketArray& sock = *m_components.Winsock1;
    bool sent = false;
    bool waitingForRoom = false;
    if (m_udpFlag) {
        std::int32_t all = -1;
        sock.SendData(0, m_myBuffer.Read(all));
        sent = true;
    } else if (AnyClientConnected()) {
        if (TargetsHaveRoom()) {
            std::int32_t all = -1;
            Distribute(m_myBuffer.Read(all));
            sent = true;
        } else {
            // A connected peer is still taking earlier data: keep the bytes.
            waitingForRoom = true;
        }
    }
    if ((m_settings.BufferSerialData == 0 && !waitingForRoom) || sent) m_myBuffer.Clear();
    m_timeoutTicks = 0;
}

void Session::PingMonitoring()
{
    if (m_udpFlag || m_app.globalSettings.PingEnabled == 0) return;
    ++m_app.PingTickCounter;
    if (m_app.PingTickCounter < (m_app.globalSettings.PingFrequency + 1) * 91) return;
    m_app.PingTickCounter = 0;
    Pinger* pinger = m_app.services.pinger;
    if (!pinger) return;
    SocketArray& sock = *m_components.Winsock1;
    for (int i = 0; i <= m_highestSocketIndex; ++i) {
        if (!sock.IsLoaded(i) || sock.State(i) != kSockConnected) continue;
        if (m_pingsOut.count(i)) continue;  // the previous answer is still out
        const std::string address = sock.RemoteHostIP(i);
        m_pingsOut.insert(i);
        std::weak_ptr<bool> alive = m_alive;
        pinger->PingAsync(address, [this, alive, i, address](int status) {
            if (alive.expired()) return;
            if (!m_pingsOut.erase(i)) return;  // the connection went meanwhile
            if (status == 0) return;
            if (status == Pinger::kUnavailable) {
                // Pinging is impossible here; that is no reason to drop peers.
                if (!m_pingUnavailableLogged) {
                    m_pingUnavailableLogged = true;
                    LogErrors("Ping Failed - no ICMP echo service available");
                }
                return;
            }
            SocketArray& s = *m_components.Winsock1;
            if (s.State(i) != kSockConnected || s.RemoteHostIP(i) != address) return;
            Winsock1_Close(i);
            LogErrors("Ping Failed - Ping Result = " + PingStatusText(status));
        });
    }
}

// ---------------------------------------------------------------- command interface

bool Session::ExecuteCommand(const std::string& command)
{
    const std::string text = TrimBlanks(ToUpper(command));
    if (text == "[ACTIVATE]") {
        if (m_form.command1Caption != Text(kTextActivate)) return false;
        Command1_Click();
        return true;
    }
    if (text == "[DEACTIVATE]") {
        if (m_form.command1Caption != Text(kTextDeactivate)) return false;
        Command1_Click();
        return true;
    }
    static const std::string kComSettings = "[COMSETTINGS=";
    if (text.compare(0, kComSettings.size(), kComSettings) != 0) return false;

    std::string argument;
    for (char c : text.substr(kComSettings.size())) {
        if (c != ']') argument.push_back(c);
    }
    auto comma = argument.find(',');
    if (comma != std::string::npos) {
        const int baud = LeadingWholeNumber(argument.substr(0, comma));
        for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
            if (std::to_string(baud) == kBaudRates[i]) SetBaudRate(static_cast<int>(i));
        }
        std::string rest = argument.substr(comma + 1);
        comma = rest.find(',');
        if (comma != std::string::npos) {
            const std::string parity = rest.substr(0, comma);
            static const char* const kNames[5][2] = {
                {"NONE", "N"}, {"EVEN", "E"}, {"ODD", "O"}, {"MARK", "M"}, {"SPACE", "S"}};
            for (int i = 0; i < 5; ++i) {
                if (parity == kNames[i][0] || parity == kNames[i][1]) SetParity(i);
            }
            rest = rest.substr(comma + 1);
            comma = rest.find(',');
            if (comma != std::string::npos) {
                const std::string bits = TrimBlanks(rest.substr(0, comma));
                for (std::size_t i = 0; i < kDataBits.size(); ++i) {
                    if (bits == kDataBits[i]) SetDatabits(static_cast<int>(i));
                }
                rest = TrimBlanks(rest.substr(comma + 1));
                if (!rest.empty()) {
                    for (std::size_t i = 0; i < kStopBits.size(); ++i) {
                        if (rest == kStopBits[i]) SetStopbits(static_cast<int>(i));
                    }
                }
            }
        }
    }
    // A refused settings text is shown, never fatal.
    const Result r = m_components.MSComm1->SetLineSettings(SerialSettingsText());
    if (!r && m_components.MSComm1->IsPortOpen()) {
        SetStatus(0, Text(kTextErrorDash) + " " + r.description());
    }
    return true;
}

}  // namespace velkon
