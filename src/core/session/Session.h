#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "session/AppState.h"
#include "session/ByteQueue.h"
#include "session/SessionSettings.h"

namespace velkon {

enum class LampColour { Green, Red };

enum class SessionChange {
    Settings,  // a value, the enabled state or the layout of the controls
    Status,    // a status line
    Lamps,
    Caption,   // the window caption
};

// What the session window shows besides the settings.
struct SessionForm {
    std::string caption;
    std::string command1Caption;        // "Activate" or "De-Activate"
    std::string statusText[2];          // serial line, network line
    LampColour lamp[2] = {LampColour::Green, LampColour::Green};
    bool settingsEnabled = true;        // the controls locked while active
    bool serverOptionEnabled = true;    // server mode possible (an address exists)
    bool ipAddressVisible = true;       // client layout shown
    std::string label2;                 // address label
    std::string label3;                 // port label
    std::vector<std::string> localIpItems;
};

class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual void SessionChanged(SessionChange change) = 0;
};

// One bridge between a serial side and a network side, with the logic of its
// window: settings, activation, both data paths, timers and status display.
// All handlers run on the one event thread.
class Session {
public:
    // Bytes a TCP peer may have queued unsent before the serial side is held
    // back, so that a slow reader slows the sender instead of growing memory.
    static constexpr int kSendQueueLimit = 256 * 1024;

    Session(AppState& app, SessionComponents components);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void setObserver(SessionObserver* observer) { m_observer = observer; }

    // Window load: lists, local addresses, initial options; starts Timer2.
    void Load();

    // --- The controls, as the user (or the configuration reader) sets them.
    // Each returns false when the control refuses the value.
    const SessionSettings& settings() const { return m_settings; }
    const SessionForm& form() const { return m_form; }
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
    void SetCaption(const std::string& firstWord);
    // Choosing TCPOption(index): 0 client, 1 server.
    void TCPOption_Click(int index);

    // Texts of the lists as shown.
    std::string ConnectorText() const;
    std::string BaudRateText() const;
    std::string ParityText() const;
    std::string DatabitsText() const;
    std::string StopbitsText() const;
    std::string BufferSizeText() const;
    // "9600,N,8,1"
    std::string SerialSettingsText() const;
    // Command topic: the connector text.
    std::string Topic() const { return ConnectorText(); }
    bool IsActive() const;

    // --- Public operations of the session.
    void Getstatus();
    void UpdateStatus();
    void Command1_Click();
    void Command2_Click();
    void btnLogin_Click();
    void LogErrors(const std::string& description);
    void Frame2_DblClick();
    // Command interface: true when accepted.
    bool ExecuteCommand(const std::string& command);

    // --- Event handlers of the components.
    void MSComm1_CommEvent();
    void VSPort1_DataReceived();
    void VSPort1_OpenStateChanged(bool opened);
    void Winsock1_ConnectionRequest(int index, long requestId);
    void Winsock1_Connect(int index);
    void Winsock1_DataArrival(int index);
    void Winsock1_Close(int index);
    void Winsock1_Error(int index, int number, const std::string& description);
    void Winsock1_SendProgress(int index);
    void Timer1_Timer();
    void Timer2_Timer();

    // --- Run-time state, read by tests and the status display.
    bool UdpFlag() const { return m_udpFlag; }
    int ServerModeFlag() const { return m_serverModeFlag; }
    int ActiveConnector() const { return m_activeConnector; }
    const std::string& LocalAddressText() const { return m_localAddressText; }
    int HighestSocketIndex() const { return m_highestSocketIndex; }
    int ClientCount() const { return m_clientCount; }
    std::int32_t TimeoutTicks() const { return m_timeoutTicks; }
    const ByteQueue& MyBuffer() const { return m_myBuffer; }
    const ByteQueue& SerialOutBuffer() const { return m_serialOutBuffer; }
    std::int32_t Add2MyBuffer(const Bytes& data) { return m_myBuffer.Add(data); }
    Bytes ReadFromMyBuffer(std::int32_t& count) { return m_myBuffer.Read(count); }
    std::int32_t Add2SerialOutBuffer(const Bytes& data) { return m_serialOutBuffer.Add(data); }
    Bytes ReadFromSerialOutBuffer(std::int32_t& count) { return m_serialOutBuffer.Read(count); }

    SerialPort& MSComm1() { return *m_components.MSComm1; }
    VirtualPort& VSPort1() { return *m_components.VSPort1; }
    SocketArray& Winsock1() { return *m_components.Winsock1; }
    Timer& Timer1() { return *m_components.Timer1; }
    Timer& Timer2() { return *m_components.Timer2; }

private:
    // Where serial bytes come from: the physical or the virtual port.
    enum class SerialSource { Physical, Virtual };

    std::string Text(int id) const;
    void Notify(SessionChange change);
    void SetStatus(int line, const std::string& text);     // prefix, blank, text
    void SetStatusRaw(int line, const std::string& text);  // text alone
    void SetLamp(int lamp, LampColour colour);
    void SetSettingsEnabled(bool enabled);
    void SetCommand1Caption(int textId);
    void PortCheck();

    void Activate();
    void Deactivate();
    void ErrorTrap1(const Result& failure);
    void ErrorTrap2(const Result& failure);
    void AllocateQueues();

    bool IgnoresSerialData() const;
    bool IgnoresNetworkData() const;
    bool AnyClientConnected() const;
    int FirstConnectedClient() const;
    // The sockets a TCP piece goes to: every connected one, or the first.
    std::vector<int> DistributionTargets() const;
    bool TargetsHaveRoom() const;
    void Distribute(const Bytes& piece);
    void SerialReceive(SerialSource source);
    int ReadSerialIntoMyBuffer(SerialSource source);
    void SendQueuedPackets(bool waitForTimeout);
    void HoldOrResumeSerial(SerialSource source, bool bytesLeft);
    void ResumeSerialIfRoom();
    void TakeNetworkData(int index);
    void SerialOutput();
    void TimeoutFlush();
    void PingMonitoring();
    std::string ServerCountStatus() const;

    AppState& m_app;
    SessionComponents m_components;
    SessionObserver* m_observer = nullptr;
    SessionSettings m_settings;
    SessionForm m_form;

    bool m_udpFlag = false;
    int m_serverModeFlag = 0;
    int m_activeConnector = 0;
    std::string m_localAddressText;
    int m_highestSocketIndex = 0;
    int m_clientCount = 0;
    bool m_inClose = false;
    std::int32_t m_lampTicks = 0;
    std::int32_t m_timeoutTicks = 0;
    ByteQueue m_myBuffer;
    ByteQueue m_serialOutBuffer;
    // Serial side held back because MyBuffer was full.
    bool m_serialHeld = false;
    // Monitoring pings still out, by socket index, and whether the echo
    // service has been reported missing since the last activation.
    std::set<int> m_pingsOut;
    bool m_pingUnavailableLogged = false;
    // Lets answers that arrive after the session is gone be ignored.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace velkon
