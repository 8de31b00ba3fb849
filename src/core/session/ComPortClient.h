#pragma once

#include <utility>

#include "components/SocketArray.h"
#include "components/VirtualPort.h"
#include "session/TelnetComPort.h"

namespace velkon {

// The client's half of RFC 2217 for a virtual port: the line settings the
// application sets on the virtual port go to the access server at once, and
// the values the server answers (those really in force) are put on the
// virtual port, so the application reads what the far port uses.
class ComPortClient {
public:
    ComPortClient(VirtualPort& port, SocketArray& sockets) : m_port(port), m_sockets(sockets) {}

    void Start();
    void Stop();

    // The connection to the server is up: offer the option, send the settings.
    void Connected();
    // Bytes from the server: returns the data bytes, handles the rest.
    Bytes FromServer(const Bytes& raw);
    // The application changed the virtual port's settings.
    void ApplicationChanged();
    // The server asked for no more data until it resumes.
    bool Suspended() const { return m_suspended; }
    // True once after the server resumed, or the connection ended suspended.
    bool TakeResumed() { return std::exchange(m_resumed, false); }
    void Closed();

private:
    void Answer(std::uint8_t command, const Bytes& value);
    // Sends the settings that differ from what was sent (all when `all`).
    void SendSettings(bool all);
    void Send(const Bytes& bytes);

    VirtualPort& m_port;
    SocketArray& m_sockets;
    telnet::Decoder m_decoder;
    telnet::Negotiator m_negotiator;
    bool m_connected = false;
    // What the server was last asked for, or last said is in force.
    ComLine m_line;
    int m_handshake = -1;
    bool m_suspended = false;
    bool m_resumed = false;
};

}  // namespace velkon
