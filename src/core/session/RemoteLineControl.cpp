#include "session/RemoteLineControl.h"

namespace velkon {

void RemoteLineControl::Start(const SessionSettings& settings, const BridgeMode& mode)
{
    m_role = Role::Off;
    if (settings.RemoteLineControl != 1 || mode.udp)
        return;
    if (mode.serverMode == 1 && settings.CreateVirtualPort == 0) {
        // Opto-RS is hardware handshake without DTR (as the port was opened).
        const int flow = settings.FlowControl;
        m_server.Start(flow == 3 ? 2 : (flow < 0 ? 0 : flow), flow != 3);
        m_role = Role::Server;
    } else if (mode.serverMode == 0 && settings.CreateVirtualPort == 1) {
        m_client.Start();
        m_role = Role::Client;
    }
}

void RemoteLineControl::Stop()
{
    if (m_role == Role::Server)
        m_server.Stop();
    else if (m_role == Role::Client)
        m_client.Stop();
    m_role = Role::Off;
}

Bytes RemoteLineControl::FromNetwork(int index, const Bytes& raw)
{
    if (m_role == Role::Client)
        return m_client.FromServer(raw);
    return m_server.FromClient(index, raw);
}

void RemoteLineControl::Connected(int index)
{
    if (m_role == Role::Client && index == 0)
        m_client.Connected();
}

void RemoteLineControl::ApplicationLineChanged()
{
    if (m_role == Role::Client)
        m_client.ApplicationChanged();
}

void RemoteLineControl::Closed(int index)
{
    if (m_role == Role::Server)
        m_server.Forget(index);
    else if (m_role == Role::Client && index == 0)
        m_client.Closed();
}

bool RemoteLineControl::Suspended(int index) const
{
    if (m_role == Role::Server)
        return m_server.Suspended(index);
    return m_role == Role::Client && index == 0 && m_client.Suspended();
}

bool RemoteLineControl::TakeResumed()
{
    if (m_role == Role::Server)
        return m_server.TakeResumed();
    return m_role == Role::Client && m_client.TakeResumed();
}

void RemoteLineControl::SerialLineEvent(int eventCode)
{
    if (m_role == Role::Server)
        m_server.LineEvent(eventCode);
}

bool IsLineEvent(int eventCode)
{
    switch (eventCode) {
        case SerialPort::kEventCts:
        case SerialPort::kEventDsr:
        case SerialPort::kEventCd:
        case SerialPort::kEventRing:
        case SerialPort::kEventBreak:
        case SerialPort::kEventFrame:
        case SerialPort::kEventOverrun:
        case SerialPort::kEventRxParity:
            return true;
        default:
            return false;
    }
}

}  // namespace velkon
