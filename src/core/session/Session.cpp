#include "session/Session.h"

#include <algorithm>

#include "session/AllowedClients.h"
#include "session/Numbers.h"
#include "session/SessionCommand.h"
#include "session/SessionKeys.h"

namespace velkon {

namespace {

constexpr int kTcpOptionClient = 0;

bool IsCheckValue(int value)
{
    return value == 0 || value == 1;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

Session::Session(AppState& app, SessionComponents components)
    : m_app(app),
      m_components(std::move(components)),
      m_presenter(app),
      m_connections(*m_components.sockets),
      m_physical(*m_components.serialPort, m_presenter),
      m_virtual(*m_components.virtualPort, m_presenter, m_settings),
      m_lineControl(*m_components.serialPort, *m_components.virtualPort, *m_components.sockets),
      m_traffic(app.services.clock,
                [this](int i) {
                    const SocketArray& sockets = *m_components.sockets;
                    return sockets.RemoteHostIP(i) + ":" + std::to_string(sockets.RemotePort(i));
                }),
      m_toNetwork(m_settings, m_mode, app.globalSettings, m_connections, m_lineControl, m_traffic),
      m_toSerial(m_settings, m_mode, m_connections, m_lineControl, m_traffic),
      m_monitor(
          app, m_settings, m_mode, m_connections, [this](int i) { AbortClient(i); },
          [this](const std::string& text) { LogError(text); }),
      m_errorLog(app),
      m_refusals(app.services.clock, [this](const std::string& text) { LogError(text); })
{
    m_components.serialPort->setCommEventHandler([this] { OnSerialEvent(); });
    VirtualPort& vport = *m_components.virtualPort;
    vport.setDataReceivedHandler([this] { OnVirtualPortData(); });
    vport.setOpenStateChangedHandler([this](bool opened) { OnVirtualPortOpenChanged(opened); });
    vport.setOutputDrainedHandler([this] { OnVirtualPortDrained(); });
    vport.setLineSettingsChangedHandler([this] { OnVirtualPortLineSettings(); });
    SocketEvents events;
    events.connect = [this](int i) { OnConnected(i); };
    events.close = [this](int i) { OnNetworkClosed(i); };
    events.connectionRequest = [this](int i, long id) { OnConnectionRequest(i, id); };
    events.dataArrival = [this](int i, int) { OnNetworkData(i); };
    events.error = [this](int i, int number, const std::string& description) {
        OnNetworkError(i, number, description);
    };
    events.sendProgress = [this](int i) { OnSendProgress(i); };
    events.refused = [this](int i, const std::string& address, const std::string& reason) {
        OnNetworkRefused(i, address, reason);
    };
    m_components.sockets->setEvents(std::move(events));
    m_components.reconnectTimer->setTickHandler([this] { OnReconnectTick(); });
    m_components.housekeepingTimer->setTickHandler([this] { OnHousekeepingTick(); });
}

Session::~Session()
{
    // Components release their ports and sockets as they are destroyed;
    // handlers must not run into a half-destroyed session meanwhile.
    m_components.reconnectTimer->SetEnabled(false);
    m_components.housekeepingTimer->SetEnabled(false);
    m_components.serialPort->setCommEventHandler({});
    m_components.virtualPort->setDataReceivedHandler({});
    m_components.virtualPort->setOpenStateChangedHandler({});
    m_components.virtualPort->setOutputDrainedHandler({});
    m_components.virtualPort->setLineSettingsChangedHandler({});
    m_components.sockets->setEvents({});
    m_components.reconnectTimer->setTickHandler({});
    m_components.housekeepingTimer->setTickHandler({});
    CloseTrace();
    m_traffic.Event(TrafficEventKind::kSessionRemoved);
}

void Session::ChooseSerialSide()
{
    m_serial = m_settings.CreateVirtualPort == 1 ? static_cast<SerialSide*>(&m_virtual)
                                                 : static_cast<SerialSide*>(&m_physical);
}

// ---------------------------------------------------------------- window load

void Session::Load()
{
    m_components.serialPort->SetReceiveThreshold(1);
    m_settings = SessionSettings();
    ChooseSerialSide();
    SetConnector(0);
    std::vector<std::string> addresses;
    if (m_app.services.network)
        addresses = m_app.services.network->LocalAddresses();
    m_localAddressText = m_components.sockets->LocalIP(0);
    if (!m_localAddressText.empty())
        m_settings.LocalIP = m_localAddressText;
    else
        m_mode.serverMode = 0;
    m_presenter.SetLocalAddresses(std::move(addresses), !m_localAddressText.empty());
    m_settings.AllowMultiConnect = 1;
    m_settings.ConnectOnVirtualOpen = 1;
    m_components.reconnectTimer->SetEnabled(false);
    m_components.housekeepingTimer->SetEnabled(false);
    m_presenter.Notify(SessionChange::Settings);
}

// ---------------------------------------------------------------- controls

bool Session::SetListIndex(int& field, int index, std::size_t size)
{
    if (index < -1 || index >= static_cast<int>(size))
        return false;
    field = index;
    m_presenter.Notify(SessionChange::Settings);
    return true;
}

bool Session::SetCheck(int& field, int value)
{
    if (!IsCheckValue(value))
        return false;
    field = value;
    m_presenter.Notify(SessionChange::Settings);
    return true;
}

void Session::SetSetting(std::string& field, const std::string& text)
{
    field = text;
    m_presenter.Notify(SessionChange::Settings);
}

bool Session::SetConnector(int index)
{
    return SetListIndex(m_settings.Connector, index, kConnectorCount);
}
bool Session::SetBaudRate(int index)
{
    return SetListIndex(m_settings.BaudRate, index, kBaudRates.size());
}
bool Session::SetParity(int index)
{
    return SetListIndex(m_settings.Parity, index, kParityTextIds.size());
}
bool Session::SetDatabits(int index)
{
    return SetListIndex(m_settings.Databits, index, kDataBits.size());
}
bool Session::SetStopbits(int index)
{
    return SetListIndex(m_settings.Stopbits, index, kStopBits.size());
}
bool Session::SetFlowControl(int index)
{
    return SetListIndex(m_settings.FlowControl, index, kFlowControlTextIds.size());
}
bool Session::SetBufferSize(int index)
{
    return SetListIndex(m_settings.BufferSize, index, kBufferSizes.size());
}
bool Session::SetBufferSerialData(int value)
{
    return SetCheck(m_settings.BufferSerialData, value);
}
bool Session::SetCreateVirtualPort(int value)
{
    const bool set = SetCheck(m_settings.CreateVirtualPort, value);
    ChooseSerialSide();
    return set;
}
bool Session::SetUseUDP(int value)
{
    return SetCheck(m_settings.UseUDP, value);
}
bool Session::SetWaitForCr(int value)
{
    return SetCheck(m_settings.WaitForCr, value);
}
void Session::SetLocalIP(const std::string& text)
{
    SetSetting(m_settings.LocalIP, text);
}
void Session::SetIPAddress(const std::string& text)
{
    SetSetting(m_settings.IPAddress, text);
}
void Session::SetTimeoutValue(const std::string& text)
{
    SetSetting(m_settings.TimeoutValue, text);
}

void Session::SetPortNumber(const std::string& text)
{
    SetSetting(m_settings.PortNumber, text);
    PortCheck();
}

void Session::PortCheck()
{
    // The text stays as typed: activation refuses it again.
    if (LeadingNumber(m_settings.PortNumber) > 65535 && m_app.services.messages) {
        m_app.services.messages->Show(m_presenter.Text(text::kPortRange),
                                      m_presenter.Text(text::kError));
    }
}

void Session::SetTcpOption(int index)
{
    m_settings.TCPOption = index == kTcpOptionClient ? 0 : 1;
    m_presenter.ShowMode(m_settings.TCPOption == 1);
    m_presenter.Notify(SessionChange::Settings);
}

std::string Session::ConnectorText() const
{
    if (m_settings.Connector == 0)
        return m_presenter.Text(text::kNone);
    return ConnectorName(m_settings.Connector);
}

std::string Session::ParityText() const
{
    const int i = m_settings.Parity;
    return i >= 0 && i < static_cast<int>(kParityTextIds.size())
               ? m_presenter.Text(kParityTextIds[i])
               : "";
}

// ---------------------------------------------------------------- options

void Session::ApplySettings(const SessionSettings& settings)
{
    const int autoActivate = m_settings.AutoActivate;
    m_settings = settings;
    m_settings.AutoActivate = autoActivate;
    ChooseSerialSide();
    m_presenter.ShowMode(m_settings.TCPOption == 1);
    m_presenter.Notify(SessionChange::Settings);
    PortCheck();
}

void Session::OnIoOptionsButton()
{
    SessionDialogs* dialogs = m_app.services.dialogs;
    if (!dialogs)
        return;
    SessionSettings edited = m_settings;
    // Only the dialog's own fields come back: a command may have changed the
    // line settings while it was open.
    if (m_settings.TCPOption == 1) {
        if (dialogs->EditServerOptions(edited))
            CopyEditedKeys(kServerOptionsEditor, edited, m_settings);
    } else {
        if (dialogs->EditClientOptions(edited))
            CopyEditedKeys(kClientOptionsEditor, edited, m_settings);
    }
    m_presenter.Notify(SessionChange::Settings);
}

void Session::OnLoginButton()
{
    SessionDialogs* dialogs = m_app.services.dialogs;
    if (!dialogs)
        return;
    SessionSettings edited = m_settings;
    if (dialogs->EditLoginTexts(edited))
        CopyEditedKeys(kLoginEditor, edited, m_settings);
    m_presenter.Notify(SessionChange::Settings);
}

// ---------------------------------------------------------------- activation

void Session::OnActivateButton()
{
    m_mode.udp = m_settings.UseUDP == 1;
    m_app.PingTickCounter = 0;
    m_components.reconnectTimer->SetEnabled(false);
    if (IsActive()) {
        Deactivate();
    } else {
        Activate();
    }
    ScheduleTicks();
}

void Session::SetActive(bool active)
{
    m_active = active;
    m_settings.AutoActivate = active ? 1 : 0;
    m_presenter.SetActiveLook(active);
}

void Session::Deactivate()
{
    m_connections.Changed();
    if (!Serial().Close())
        return;
    for (int i : m_connections.Connected())
        m_traffic.ClientLeft(i);
    m_connections.CloseAll();
    m_components.sockets->SetProtocol(0, SocketArray::kTcp);
    m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kClosed));
    m_toNetwork.Stop();
    m_lineControl.Stop();
    m_monitor.Reset();
    SetActive(false);
    m_traffic.Event(TrafficEventKind::kDeactivated);
    CloseTrace();
}

void Session::Activate()
{
    if (form().ipAddressVisible && m_settings.IPAddress.empty()) {
        m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kInvalidIp));
        return;
    }
    const double port = LeadingNumber(m_settings.PortNumber);
    if (port < 0 || port > 65535) {
        m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kInvalidPort));
        return;
    }
    m_activeConnector = m_settings.Connector;
    if (m_activeConnector == 0) {
        m_presenter.SetCaption(m_presenter.Text(text::kNew));
        m_presenter.ResetStatusLines();
        return;
    }
    m_monitor.Reset();
    m_connections.Changed();
    m_traffic.Reset();
    if (!Serial().Open(m_settings, m_activeConnector))
        return;
    const std::int32_t capacity = LeadingWholeNumber(BufferSizeText());
    m_toNetwork.Start(capacity);
    m_toSerial.Start(capacity);
    if (!StartNetwork(RoundHalfEven(port)))
        return;
    m_lineControl.Start(m_settings, m_mode);
    m_presenter.SetCaption(ConnectorText());
    SetActive(true);
    OpenTrace();
    m_traffic.Event(TrafficEventKind::kActivated);
}

void Session::OpenTrace()
{
    CloseTrace();
    TraceFiles* files = m_app.services.traceFiles;
    if (files == nullptr || m_settings.TraceFile.empty())
        return;
    TraceOptions options;
    options.path = m_settings.TraceFile;
    options.hex = m_settings.TraceHex != 0;
    options.maxBytes = static_cast<std::int64_t>(std::max(m_settings.TraceMaxSize, 1)) * 1024;
    m_trace = files->Open(options, [this](const std::string& reason) {
        LogError(reason);
        CloseTrace();
    });
    m_traffic.Attach(m_trace.get());
}

void Session::CloseTrace()
{
    if (!m_trace)
        return;
    m_traffic.Detach(m_trace.get());
    // Writes what is buffered before the file closes.
    m_trace.reset();
}

bool Session::StartNetwork(int portNumber)
{
    SocketArray& sock = *m_components.sockets;
    if (m_mode.udp) {
        sock.SetProtocol(0, SocketArray::kUdp);
    } else {
        sock.Close(0);
        sock.SetProtocol(0, SocketArray::kTcp);
    }
    if (!StartTls())
        return false;
    if (m_settings.TCPOption == kTcpOptionClient) {
        m_mode.serverMode = 0;
        sock.SetPeerFilter(0, {});
        sock.SetRemoteHost(0, m_settings.IPAddress);
        sock.SetRemotePort(0, portNumber);
        const bool waitForApplication =
            m_settings.CreateVirtualPort == 1 && m_settings.ConnectOnVirtualOpen != 0;
        if (!waitForApplication)
            m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kConnecting));
        if (m_mode.udp) {
            // A failed client bind leaves the session active, as it always
            // did, but it is shown instead of passing unnoticed.
            const Result bound = sock.Bind(0, portNumber, "");
            if (!bound)
                m_presenter.SetError(kNetworkLine, bound.description());
        } else if (!waitForApplication) {
            const Result connected = sock.Connect(0);
            if (!connected) {
                FailActivation(connected);
                return false;
            }
        }
        return true;
    }
    m_mode.serverMode = 1;
    const AllowedClients::Parsed allowed = AllowedClients::Parse(m_settings.AllowedClients);
    if (!allowed.ok) {
        FailActivation(
            Result::Fail(m_presenter.Text(text::kNotAnAllowedClient) + " " + allowed.wrongEntry));
        return false;
    }
    std::function<bool(const std::string&)> filter;
    if (!allowed.list.Empty()) {
        filter = [list = allowed.list](const std::string& address) { return list.Allows(address); };
    }
    sock.SetPeerFilter(0, std::move(filter));
    m_refusals.Reset();
    sock.SetLocalPort(0, portNumber);
    if (m_mode.udp)
        sock.SetRemotePort(0, portNumber);
    Result r = sock.Bind(0, portNumber, m_settings.LocalIP);
    if (r && !m_mode.udp)
        r = sock.Listen(0);
    if (!r) {
        FailActivation(r);
        return false;
    }
    m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kListening));
    return true;
}

bool Session::StartTls()
{
    TlsOptions tls;
    tls.enabled = m_settings.Tls == 1;
    tls.certificateFile = m_settings.TlsCertificate;
    tls.keyFile = m_settings.TlsKey;
    tls.caFile = m_settings.TlsCaFile;
    if (m_settings.TCPOption == kTcpOptionClient)
        tls.serverName = m_settings.IPAddress;
    // No DTLS: datagrams would go out in the clear although TLS was asked for.
    // The files are read now, so that replaced ones count from this activation.
    const Result r = tls.enabled && m_mode.udp ? Result::Fail(m_presenter.Text(text::kTlsNeedsTcp))
                                               : m_components.sockets->SetTls(0, tls);
    if (!r) {
        FailActivation(r);
        LogError(r.description());
    }
    return r.ok();
}

void Session::FailActivation(const Result& failure)
{
    SocketArray& sock = *m_components.sockets;
    sock.Close(0);
    m_connections.Changed();
    sock.SetRemoteHost(0, "");
    sock.SetRemotePort(0, 0);
    m_presenter.SetError(kNetworkLine, failure.description());
    Serial().Close();
}

// ---------------------------------------------------------------- error log

void Session::LogError(const std::string& description)
{
    const SocketArray& sock = *m_components.sockets;
    ErrorLog::Where where;
    where.localAddress = m_localAddressText;
    where.server = m_mode.serverMode != 0;
    where.localPort = sock.LocalPort(0);
    where.remoteHost = sock.RemoteHost(0);
    where.remotePort = sock.RemotePort(0);
    m_errorLog.Log(description, where);
    m_presenter.FailureLogged(description);
}

// ---------------------------------------------------------------- serial side

void Session::SerialReceive()
{
    m_presenter.Activity(kSerialLine);
    m_toNetwork.SerialReceive(Serial());
}

void Session::OnSerialEvent()
{
    const int code = m_components.serialPort->EventCode();
    if (m_lineControl.On() && IsLineEvent(code))
        m_lineControl.SerialLineEvent(code);
    switch (code) {
        case SerialPort::kEventReceive:
            SerialReceive();
            break;
        case SerialPort::kEventSend:
            m_toSerial.Pump(m_physical);
            break;
        case SerialPort::kEventDeviceLost:
            DeviceLost();
            break;
        case SerialPort::kEventDeviceBack:
            DeviceBack();
            break;
        default:
            // Other events of the line show activity, and drop what an
            // ignoring session never reads.
            m_presenter.Activity(kSerialLine);
            if (IgnoresSerialData(m_settings, m_mode))
                m_physical.Discard();
            break;
    }
    ScheduleTicks();
}

void Session::DeviceLost()
{
    if (!IsActive() || m_settings.CreateVirtualPort == 1)
        return;
    m_physical.Lost();
    const std::string reason = m_components.serialPort->DeviceLossReason();
    m_traffic.Event(TrafficEventKind::kDeviceLost, reason);
    LogError(reason);
}

void Session::DeviceBack()
{
    if (!IsActive() || m_settings.CreateVirtualPort == 1 || !m_physical.IsLost())
        return;
    // The bytes that waited for the device leave now.
    if (m_physical.Reopen()) {
        m_traffic.Event(TrafficEventKind::kDeviceBack);
        m_toSerial.Pump(m_physical);
    }
}

void Session::OnVirtualPortData()
{
    SerialReceive();
    ScheduleTicks();
}

void Session::OnVirtualPortLineSettings()
{
    m_lineControl.ApplicationLineChanged();
}

void Session::OnVirtualPortDrained()
{
    m_toSerial.Pump(m_virtual);
    ScheduleTicks();
}

void Session::OnVirtualPortOpenChanged(bool opened)
{
    // Bytes kept for an application leave as soon as one is there.
    if (opened && IsActive())
        m_toSerial.Pump(m_virtual);
    if (m_mode.udp)
        return;
    if (!(m_settings.CreateVirtualPort == 1 && m_mode.serverMode == 0 &&
          m_settings.ConnectOnVirtualOpen != 0)) {
        return;
    }
    SocketArray& sock = *m_components.sockets;
    m_connections.Changed();
    if (opened) {
        m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kConnecting));
        if (sock.State(0) != kSockConnected)
            sock.Connect(0);
    } else {
        m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kClosed));
        // A connect still under way is given up too: it would leave the
        // session connected with no application there.
        if (sock.State(0) != kSockClosed)
            sock.Close(0);
    }
    ScheduleTicks();
}

// ---------------------------------------------------------------- network

std::string Session::ServerCountStatus() const
{
    return m_presenter.Text(text::kNetStatus) + " (" + std::to_string(m_connections.ClientCount()) +
           ")" + m_presenter.Text(text::kConnected);
}

void Session::OnConnectionRequest(int index, long requestId)
{
    SocketArray& sock = *m_components.sockets;
    m_connections.Changed();
    if (!((m_settings.AllowMultiConnect != 0 || m_connections.ClientCount() == 0) &&
          m_mode.serverMode == 1)) {
        // Told at once rather than left waiting unserved.
        sock.Reject(index, requestId);
        return;
    }
    const int slot = m_connections.SlotForClient();
    if (slot == 0) {
        sock.Reject(index, requestId);
        return;
    }
    m_connections.ClientCame();
    sock.SetLocalPort(slot, sock.LocalPort(0));
    sock.Accept(slot, requestId);
    m_connections.Changed();
    m_traffic.ClientConnected(slot);
    m_presenter.SetStatusRaw(kNetworkLine, ServerCountStatus());
    ScheduleTicks();
}

void Session::OnConnected(int index)
{
    m_connections.Changed();
    m_lineControl.Connected(index);
    m_traffic.ClientConnected(index);
    m_components.reconnectTimer->SetEnabled(false);
    m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kConnected));
    ScheduleTicks();
}

void Session::OnNetworkData(int index)
{
    m_app.PingTickCounter = 0;
    m_presenter.Activity(kNetworkLine);
    m_toSerial.DataArrival(index, Serial());
    if (m_lineControl.TakeResumed())
        m_toNetwork.PeerTookData(Serial());
    ScheduleTicks();
}

void Session::OnSendProgress(int index)
{
    m_monitor.Progress(index);
    m_toNetwork.PeerTookData(Serial());
    ScheduleTicks();
}

void Session::OnNetworkClosed(int index)
{
    if (m_inClose)
        return;
    m_inClose = true;
    m_traffic.ClientLeft(index);
    m_components.sockets->Close(index);
    m_connections.Changed();
    m_monitor.Forget(index);
    m_lineControl.Closed(index);
    m_connections.ClientLeft();
    if (m_mode.serverMode == 1) {
        if (m_connections.ClientCount() != 0) {
            m_presenter.SetStatusRaw(kNetworkLine, ServerCountStatus());
        } else {
            m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kListening));
        }
    } else {
        m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kClosed));
        m_components.reconnectTimer->SetEnabled(true);
    }
    // A peer that left while suspended no longer holds the others' data.
    if (m_lineControl.TakeResumed())
        m_toNetwork.PeerTookData(Serial());
    m_inClose = false;
    ScheduleTicks();
}

void Session::AbortClient(int index)
{
    m_components.sockets->Abort(index);
    OnNetworkClosed(index);
}

void Session::OnNetworkRefused(int /*index*/, const std::string& address, const std::string& reason)
{
    if (m_mode.udp)
        ++m_refusedDatagrams;
    m_refusals.Refused(address, reason);
}

void Session::OnNetworkError(int index, int number, const std::string& description)
{
    m_connections.Changed();
    m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kError));
    LogError(description);
    if (number > 10000)
        OnNetworkClosed(index);
}

void Session::ShowConnectedClients()
{
    if (m_settings.TCPOption == kTcpOptionClient)
        return;
    std::string text;
    for (int i : m_connections.Connected())
        text += m_components.sockets->RemoteHostIP(i) + "\r\n";
    if (m_app.services.messages)
        m_app.services.messages->Show(text, m_presenter.Text(text::kConnectedClients));
}

// ---------------------------------------------------------------- timers

void Session::OnReconnectTick()
{
    if (m_mode.udp)
        return;
    SocketArray& sock = *m_components.sockets;
    // A connect still in progress ends by itself: success, refusal or its
    // own time-out.
    const int state = sock.State(0);
    if (state == kSockConnecting || state == kSockResolvingHost || state == kSockHostResolved)
        return;
    m_connections.Changed();
    Result r = sock.SetRemoteHost(0, m_settings.IPAddress);
    if (r)
        r = sock.SetRemotePort(0, LeadingWholeNumber(m_settings.PortNumber));
    if (r)
        m_presenter.SetStatus(kNetworkLine, m_presenter.Text(text::kConnecting));
    if (r)
        r = sock.Connect(0);
    if (!r) {
        sock.Close(0);
        m_presenter.SetError(kNetworkLine, r.description());
        LogError(r.description());
        // Logged with the host and port it failed for, then forgotten.
        sock.SetRemoteHost(0, "");
        sock.SetRemotePort(0, 0);
    }
}

void Session::OnHousekeepingTick()
{
    m_presenter.TickLamps();
    if (m_toNetwork.Queue().Count() != 0) {
        m_toNetwork.Tick(Serial());
    } else {
        m_monitor.PingTick();
    }
    m_monitor.StallTick();
    ScheduleTicks();
}

void Session::ScheduleTicks()
{
    bool wanted = m_presenter.LampsLit();
    if (IsActive()) {
        wanted = wanted || m_toNetwork.NeedsTicks() || m_monitor.PingWanted() ||
                 m_monitor.StallWatchWanted();
    }
    Timer& timer = *m_components.housekeepingTimer;
    if (timer.Enabled() != wanted)
        timer.SetEnabled(wanted);
}

std::int64_t Session::BytesInFlight()
{
    std::int64_t count =
        m_toNetwork.Queue().Count() + m_toSerial.Queue().Count() + Serial().OutputWaiting();
    const SocketArray& sockets = *m_components.sockets;
    for (int i : m_connections.Connected())
        count += sockets.BytesToWrite(i) + sockets.BytesAvailable(i);
    return count;
}

void Session::StopTakingIn()
{
    // Bytes the network sent were acknowledged and keep coming in; the
    // serial side is held so that its driver keeps what was not read.
    if (IsActive())
        Serial().Hold();
    // No new connection in the last moments.
    m_components.reconnectTimer->SetEnabled(false);
}

void Session::EndConnections(bool force)
{
    if (!IsActive() || m_mode.udp)
        return;
    SocketArray& sockets = *m_components.sockets;
    if (m_mode.serverMode == 1 && sockets.State(0) == kSockListening)
        sockets.Close(0);
    const bool ownQueueEmpty = m_toNetwork.Queue().Count() == 0;
    // A copy: closing changes the list.
    const std::vector<int> connected = m_connections.Connected();
    for (int i : connected) {
        // Bytes that arrived before the end are delivered first.
        const bool delivered =
            ownQueueEmpty && sockets.BytesToWrite(i) == 0 && sockets.BytesAvailable(i) == 0;
        if (!force && !delivered)
            continue;
        m_lostAtEnd += sockets.BytesAvailable(i);
        sockets.Close(i);
        m_connections.Changed();
    }
}

void Session::LogUndelivered()
{
    if (!IsActive())
        return;
    EndConnections(true);
    const std::int64_t count = BytesInFlight() + m_lostAtEnd + m_components.sockets->ResetClosing();
    if (count > 0)
        LogError(std::to_string(count) + " bytes not delivered before the program ended");
}

// ---------------------------------------------------------------- command interface

bool Session::ExecuteCommand(const std::string& command, std::string* reason)
{
    const SessionCommand parsed = ParseSessionCommand(command);
    switch (parsed.kind) {
        case SessionCommand::Kind::Activate:
        case SessionCommand::Kind::Deactivate:
            if (IsActive() != (parsed.kind == SessionCommand::Kind::Deactivate))
                return false;
            OnActivateButton();
            return true;
        case SessionCommand::Kind::ComSettings:
            return ApplyComSettings(parsed, reason);
        case SessionCommand::Kind::Unknown:
            break;
    }
    return false;
}

bool Session::ApplyComSettings(const SessionCommand& command, std::string* reason)
{
    SessionSettings wanted = m_settings;
    if (command.baudRate)
        wanted.BaudRate = *command.baudRate;
    if (command.parity)
        wanted.Parity = *command.parity;
    if (command.databits)
        wanted.Databits = *command.databits;
    if (command.stopbits)
        wanted.Stopbits = *command.stopbits;
    SerialPort& port = *m_components.serialPort;
    const Result r = port.SetLineSettings(velkon::SerialSettingsText(wanted));
    if (!r && port.IsPortOpen()) {
        // The open port refused: the port, the selections and the saved
        // file keep what is in force.
        m_presenter.SetError(kSerialLine, r.description());
        if (reason)
            *reason = r.description();
        return false;
    }
    SetBaudRate(wanted.BaudRate);
    SetParity(wanted.Parity);
    SetDatabits(wanted.Databits);
    SetStopbits(wanted.Stopbits);
    return true;
}

}  // namespace velkon
