#pragma once

#include "session/ComPortClient.h"
#include "session/ComPortServer.h"
#include "session/Routing.h"
#include "session/TelnetComPort.h"

namespace velkon {

// Remote line control (RFC 2217) of an active session: off unless the
// session has the option and runs over TCP. While off the data paths do not
// touch it. In server mode with a physical port the clients control the
// port; in client mode with a virtual port the application controls the
// server's port.
class RemoteLineControl {
public:
    RemoteLineControl(SerialPort& port, VirtualPort& virtualPort, SocketArray& sockets)
        : m_server(port, sockets), m_client(virtualPort, sockets)
    {
    }

    bool On() const { return m_role != Role::Off; }

    // At activation, once the serial side is open.
    void Start(const SessionSettings& settings, const BridgeMode& mode);
    void Stop();

    // Network bytes of element index: returns the data bytes among them.
    Bytes FromNetwork(int index, const Bytes& raw);
    // Serial data for the network, Telnet's IAC escaped.
    Bytes ToNetwork(const Bytes& data) const { return telnet::EscapeData(data); }
    void Connected(int index);
    void Closed(int index);
    // The peer on element `index` asked for no data until it resumes.
    bool Suspended(int index) const;
    // True once after a suspended peer resumed or left: held data may go.
    bool TakeResumed();
    // The application changed the virtual port's line settings.
    void ApplicationLineChanged();
    // A modem or line event of the physical port.
    void SerialLineEvent(int eventCode);

private:
    enum class Role { Off, Server, Client };

    Role m_role = Role::Off;
    ComPortServer m_server;
    ComPortClient m_client;
};

// Events of a physical port that RFC 2217 tells the clients about.
bool IsLineEvent(int eventCode);

}  // namespace velkon
