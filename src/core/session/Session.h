#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "session/AppState.h"
#include "session/ByteQueue.h"
#include "session/ConnectionMonitor.h"
#include "session/ErrorLog.h"
#include "session/NetworkConnections.h"
#include "session/NetworkToSerial.h"
#include "session/RefusalLog.h"
#include "session/RemoteLineControl.h"
#include "session/Routing.h"
#include "session/SerialSide.h"
#include "session/SerialToNetwork.h"
#include "session/SessionCommand.h"
#include "session/SessionPresenter.h"
#include "session/SessionSettings.h"
#include "session/TrafficFeed.h"

namespace velkon {

// One bridge between a serial side and a network side. The session holds
// the settings, activates and deactivates the bridge, and is the entry point
// of every event of its components; the work is done by its parts: the
// presenter (what the window shows), the serial side (physical or virtual
// port), one part per direction of data, the connection monitor and the
// error log. All handlers run on the one event thread.
class Session {
public:
    static constexpr int kSendQueueLimit = SerialToNetwork::kSendQueueLimit;

    Session(AppState& app, SessionComponents components);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void setObserver(SessionObserver* observer) { m_presenter.setObserver(observer); }

    // Window load: lists, local addresses, initial options.
    void Load();

    // --- The controls, as the user (or the configuration reader) sets them.
    // Each returns false when the control refuses the value.
    const SessionSettings& settings() const { return m_settings; }
    const SessionForm& form() const { return m_presenter.form(); }
    bool SetConnector(int index);
    bool SetBaudRate(int index);
    bool SetParity(int index);
    bool SetDatabits(int index);
    bool SetStopbits(int index);
    bool SetFlowControl(int index);
    bool SetBufferSize(int index);
    bool SetBufferSerialData(int value);
    bool SetCreateVirtualPort(int value);
    bool SetUseUDP(int value);
    bool SetWaitForCr(int value);
    void SetLocalIP(const std::string& text);
    void SetIPAddress(const std::string& text);
    // Runs the port check on every change.
    void SetPortNumber(const std::string& text);
    void SetTimeoutValue(const std::string& text);
    void SetCaption(const std::string& firstWord) { m_presenter.SetCaption(firstWord); }
    // Choosing TCPOption(index): 0 client, 1 server.
    void SetTcpOption(int index);

    // Texts of the lists as shown.
    std::string ConnectorText() const;
    std::string BaudRateText() const { return velkon::BaudRateText(m_settings); }
    std::string ParityText() const;
    std::string DatabitsText() const { return velkon::DatabitsText(m_settings); }
    std::string StopbitsText() const { return velkon::StopbitsText(m_settings); }
    std::string BufferSizeText() const { return velkon::BufferSizeText(m_settings); }
    // "9600,N,8,1"
    std::string SerialSettingsText() const { return velkon::SerialSettingsText(m_settings); }
    // Command topic: the connector text.
    std::string Topic() const { return ConnectorText(); }
    bool IsActive() const { return m_active; }

    // --- Public operations of the session.
    // Takes a whole set of options, as a configuration read gives them; the
    // session's active state stays as it is.
    void ApplySettings(const SessionSettings& settings);
    void OnActivateButton();
    void OnIoOptionsButton();
    void OnLoginButton();
    void LogError(const std::string& description);
    void ShowConnectedClients();
    // The application-wide options changed (monitoring may be on now).
    void OptionsChanged() { ScheduleTicks(); }
    // Command interface: true when accepted; reason says why not.
    bool ExecuteCommand(const std::string& command, std::string* reason = nullptr);

    // --- Event handlers of the components.
    void OnSerialEvent();
    void OnVirtualPortData();
    void OnVirtualPortOpenChanged(bool opened);
    void OnVirtualPortDrained();
    void OnVirtualPortLineSettings();
    void OnConnectionRequest(int index, long requestId);
    void OnConnected(int index);
    void OnNetworkData(int index);
    void OnNetworkClosed(int index);
    void OnNetworkError(int index, int number, const std::string& description);
    void OnSendProgress(int index);
    // The network side turned a peer away before the session saw it.
    void OnNetworkRefused(int index, const std::string& address, const std::string& reason);
    void OnReconnectTick();
    void OnHousekeepingTick();

    // --- Run-time state, read by tests and the status display.
    bool UdpFlag() const { return m_mode.udp; }
    int ServerModeFlag() const { return m_mode.serverMode; }
    int ActiveConnector() const { return m_activeConnector; }
    const std::string& LocalAddressText() const { return m_localAddressText; }
    int HighestSocketIndex() const { return m_connections.Highest(); }
    int ClientCount() const { return m_connections.ClientCount(); }
    std::int32_t TimeoutTicks() const { return m_toNetwork.TimeoutTicks(); }
    const ByteQueue& SerialToNetworkQueue() const { return m_toNetwork.Queue(); }
    const ByteQueue& NetworkToSerialQueue() const { return m_toSerial.Queue(); }
    // The traffic since the last activation, and the sinks that watch it.
    // Sinks still attached when the session goes get kSessionRemoved and
    // must not touch the feed after it.
    TrafficFeed& traffic() { return m_traffic; }
    const TrafficCounters& Counters() const { return m_traffic.Counters(); }
    // Bytes taken in that have not reached the other side yet.
    std::int64_t BytesInFlight();
    // The program ends: take nothing more from the serial side, deliver
    // what was taken.
    void StopTakingIn();
    // Closes each connection whose bytes from the program have all been
    // handed to the network (all of them with force): it then shuts down
    // its sending side and waits for its peer to close.
    void EndConnections(bool force);
    // Logs what could not be delivered before the end, counting what the
    // connections still closing had not delivered, and resets them.
    void LogUndelivered();
    // Datagrams of UDP peers not in the allowed list, dropped unanswered.
    std::int64_t RefusedDatagrams() const { return m_refusedDatagrams; }

    SerialPort& serialPort() { return *m_components.serialPort; }
    VirtualPort& virtualPort() { return *m_components.virtualPort; }
    SocketArray& sockets() { return *m_components.sockets; }
    Timer& reconnectTimer() { return *m_components.reconnectTimer; }
    Timer& housekeepingTimer() { return *m_components.housekeepingTimer; }

private:
    bool SetListIndex(int& field, int index, std::size_t size);
    bool SetCheck(int& field, int value);
    void SetSetting(std::string& field, const std::string& text);
    void PortCheck();
    SerialSide& Serial() { return *m_serial; }
    // The side the settings name: the virtual port or the physical one.
    void ChooseSerialSide();

    void Activate();
    void Deactivate();
    bool StartNetwork(int portNumber);
    // Sets the network side's TLS; false (activation failed) when it cannot.
    bool StartTls();
    void FailActivation(const Result& failure);
    void SetActive(bool active);
    bool ApplyComSettings(const SessionCommand& command, std::string* reason);

    void OpenTrace();
    void CloseTrace();
    // Drops a client the program gives up on: reset, not closed in order.
    void AbortClient(int index);
    void DeviceLost();
    void DeviceBack();
    void SerialReceive();
    std::string ServerCountStatus() const;
    // Runs the timer only while it has something to do.
    void ScheduleTicks();

    AppState& m_app;
    SessionComponents m_components;
    SessionSettings m_settings;
    SessionPresenter m_presenter;
    BridgeMode m_mode;
    NetworkConnections m_connections;
    PhysicalSerialSide m_physical;
    VirtualSerialSide m_virtual;
    SerialSide* m_serial = &m_physical;
    RemoteLineControl m_lineControl;
    TrafficFeed m_traffic;
    std::unique_ptr<TrafficSink> m_trace;
    SerialToNetwork m_toNetwork;
    NetworkToSerial m_toSerial;
    ConnectionMonitor m_monitor;
    ErrorLog m_errorLog;
    RefusalLog m_refusals;
    std::int64_t m_refusedDatagrams = 0;
    // Bytes received from peers that were closed at the end before the
    // session could take them.
    std::int64_t m_lostAtEnd = 0;

    bool m_active = false;
    int m_activeConnector = 0;
    std::string m_localAddressText;
    bool m_inClose = false;
};

}  // namespace velkon
