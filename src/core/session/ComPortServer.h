#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "components/SerialPort.h"
#include "components/SocketArray.h"
#include "session/TelnetComPort.h"

namespace velkon {

// The access server's half of RFC 2217 for a physical port: each client's
// Telnet stream is taken apart, its port commands are applied to the one
// port at once (the last client to set a value wins) and answered with the
// value in force, which is the old one when the port refuses. Modem line
// changes and line errors are told to every client within its masks. A
// client that suspends flow control gets no data (answers still go) until it
// resumes; the data waits as it does for a client whose send queue is full.
class ComPortServer {
public:
    ComPortServer(SerialPort& port, SocketArray& sockets) : m_port(port), m_sockets(sockets) {}

    // The port was opened with this handshake mode (0 none, 1 Xon/Xoff,
    // 2 hardware) and DTR state.
    void Start(int handshake, bool dtr);
    void Stop();

    // Bytes from client `index`: returns its data bytes, handles the rest.
    Bytes FromClient(int index, const Bytes& raw);
    void Forget(int index);
    // Client `index` asked for no more data until it resumes.
    bool Suspended(int index) const;
    // True once after a client resumed, or left while suspended.
    bool TakeResumed() { return std::exchange(m_resumed, false); }
    // A modem or line event of the port (SerialPort::kEvent...).
    void LineEvent(int eventCode);

private:
    struct Client {
        telnet::Decoder decoder;
        telnet::Negotiator negotiator;
        std::uint8_t lineMask = 0;
        std::uint8_t modemMask = 0xff;
        bool suspended = false;
    };

    void Handle(int index, Client& client, const telnet::Event& event);
    void Command(int index, Client& client, std::uint8_t command, const Bytes& value);
    // Applies one line value (0 asks only); returns the value in force.
    Bytes SetLine(std::uint8_t command, const Bytes& value);
    std::uint8_t Control(std::uint8_t value);
    std::uint8_t FlowValue(std::uint8_t noneValue) const;
    void Purge(std::uint8_t value);
    // Current modem state byte with the given change bits.
    std::uint8_t ModemState(std::uint8_t changes);
    void Send(int index, const Bytes& bytes);

    SerialPort& m_port;
    SocketArray& m_sockets;
    std::map<int, Client> m_clients;
    int m_handshake = 0;
    bool m_dtr = true;
    bool m_rts = true;
    bool m_break = false;
    int m_modemLines = 0;
    bool m_resumed = false;
};

}  // namespace velkon
