#include "session/ComPortServer.h"

#include "Version.h"

namespace velkon {

using namespace telnet;

void ComPortServer::Start(int handshake, bool dtr)
{
    m_clients.clear();
    m_handshake = handshake;
    m_dtr = dtr;
    m_rts = true;
    m_break = false;
    m_modemLines = m_port.ModemLines();
    m_port.WatchLines(true);
}

void ComPortServer::Stop()
{
    m_port.WatchLines(false);
    m_clients.clear();
    m_resumed = false;
}

void ComPortServer::Forget(int index)
{
    const auto it = m_clients.find(index);
    if (it == m_clients.end())
        return;
    m_resumed = m_resumed || it->second.suspended;
    m_clients.erase(it);
}

bool ComPortServer::Suspended(int index) const
{
    const auto it = m_clients.find(index);
    return it != m_clients.end() && it->second.suspended;
}

Bytes ComPortServer::FromClient(int index, const Bytes& raw)
{
    Client& client = m_clients[index];
    Bytes data;
    data.reserve(raw.size());
    std::vector<Event> events;
    client.decoder.Feed(raw, data, events);
    for (const Event& e : events)
        Handle(index, client, e);
    return data;
}

void ComPortServer::Handle(int index, Client& client, const Event& event)
{
    if (event.kind != Event::Kind::SubOption) {
        Send(index, client.negotiator.Answer(event));
        return;
    }
    // Sub-options of refused options and empty ones are dropped.
    if (event.option == kComPort && !event.payload.empty()) {
        const Bytes value(event.payload.begin() + 1, event.payload.end());
        Command(index, client, event.payload[0], value);
    }
}

void ComPortServer::Command(int index, Client& client, std::uint8_t command, const Bytes& value)
{
    Bytes answer;
    switch (command) {
        case kSignature:
            // A client's own signature needs no answer.
            if (!value.empty())
                return;
            {
                const std::string text =
                    "Velkon " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor);
                answer.assign(text.begin(), text.end());
            }
            break;
        case kSetBaudRate:
        case kSetDataSize:
        case kSetParity:
        case kSetStopSize:
            answer = SetLine(command, value);
            break;
        case kSetControl:
            if (value.size() != 1)
                return;
            answer = {Control(value[0])};
            break;
        case kNotifyModemState:
            answer = {static_cast<std::uint8_t>(ModemState(0) & client.modemMask)};
            break;
        case kSetLineStateMask:
        case kSetModemStateMask:
            if (value.size() != 1)
                return;
            (command == kSetLineStateMask ? client.lineMask : client.modemMask) = value[0];
            answer = value;
            break;
        case kPurgeData:
            if (value.size() != 1 || value[0] < kPurgeReceive || value[0] > kPurgeBoth)
                return;
            Purge(value[0]);
            answer = value;
            break;
        case kFlowControlSuspend:
        case kFlowControlResume:
            // Not answered: the client waits for data, not for a reply.
            m_resumed = m_resumed || (client.suspended && command == kFlowControlResume);
            client.suspended = command == kFlowControlSuspend;
            return;
        default:
            // Unknown commands: nothing to apply, nothing the client waits for.
            return;
    }
    Send(index, ComPortSubOption(static_cast<std::uint8_t>(command + kServerOffset), answer));
}

Bytes ComPortServer::SetLine(std::uint8_t command, const Bytes& value)
{
    ComLine line;
    ParseComLine(m_port.LineSettings(), line);
    ComLine wanted = line;
    if (command == kSetBaudRate) {
        // Four bytes, or the client learns the rate in force.
        wanted.baudRate = BaudRateFrom(value);
        if (wanted.baudRate == 0)
            wanted.baudRate = line.baudRate;
    } else if (value.size() == 1 && value[0] != 0) {
        std::uint8_t& field = command == kSetDataSize ? wanted.dataSize
                              : command == kSetParity ? wanted.parity
                                                      : wanted.stopSize;
        field = value[0];
    }
    const std::string text = ComLineText(wanted);
    // A refused value leaves the port as it was; the answer says so.
    if (!(wanted == line) && !text.empty() && m_port.SetLineSettings(text).ok())
        line = wanted;
    switch (command) {
        case kSetBaudRate:
            return BaudRateValue(line.baudRate);
        case kSetDataSize:
            return {line.dataSize};
        case kSetParity:
            return {line.parity};
        default:
            return {line.stopSize};
    }
}

std::uint8_t ComPortServer::Control(std::uint8_t value)
{
    switch (value) {
        case kControlFlowNone:
        case kControlFlowXonXoff:
        case kControlFlowHardware:
        case kControlInboundNone:
        case kControlInboundXonXoff:
        case kControlInboundHardware: {
            // One handshake mode serves both directions of the port.
            const int mode = value >= kControlInboundNone ? value - kControlInboundNone
                                                          : value - kControlFlowNone;
            if (m_port.SetHandshakeMode(mode).ok())
                m_handshake = mode;
            return FlowValue(value >= kControlInboundNone ? kControlInboundNone : kControlFlowNone);
        }
        case kControlInboundQuery:
            return FlowValue(kControlInboundNone);
        case kControlBreakOn:
        case kControlBreakOff:
            if (m_port.SetBreak(value == kControlBreakOn).ok())
                m_break = value == kControlBreakOn;
            [[fallthrough]];
        case kControlBreakQuery:
            return m_break ? kControlBreakOn : kControlBreakOff;
        case kControlDtrOn:
        case kControlDtrOff:
            if (m_port.SetDtrEnabled(value == kControlDtrOn).ok())
                m_dtr = value == kControlDtrOn;
            [[fallthrough]];
        case kControlDtrQuery:
            return m_dtr ? kControlDtrOn : kControlDtrOff;
        case kControlRtsOn:
        case kControlRtsOff:
            if (m_port.SetRtsEnabled(value == kControlRtsOn).ok())
                m_rts = value == kControlRtsOn;
            [[fallthrough]];
        case kControlRtsQuery:
            return m_rts ? kControlRtsOn : kControlRtsOff;
        default:
            // The flow control query, and kinds of flow control the port
            // does not have (DCD, DTR, DSR): the one in force.
            return FlowValue(value >= kControlInboundQuery ? kControlInboundNone
                                                           : kControlFlowNone);
    }
}

std::uint8_t ComPortServer::FlowValue(std::uint8_t noneValue) const
{
    return static_cast<std::uint8_t>(noneValue + m_handshake);
}

void ComPortServer::Purge(std::uint8_t value)
{
    if (value & kPurgeReceive)
        m_port.DiscardReceived();
    if (value & kPurgeTransmit)
        m_port.DiscardTransmit();
}

std::uint8_t ComPortServer::ModemState(std::uint8_t changes)
{
    const int lines = m_port.ModemLines();
    std::uint8_t state = changes;
    if (lines > 0) {
        state |= (lines & SerialPort::kLineCts) ? kModemCts : 0;
        state |= (lines & SerialPort::kLineDsr) ? kModemDsr : 0;
        state |= (lines & SerialPort::kLineRi) ? kModemRi : 0;
        state |= (lines & SerialPort::kLineDcd) ? kModemDcd : 0;
    }
    return state;
}

void ComPortServer::LineEvent(int eventCode)
{
    std::uint8_t line = 0;
    std::uint8_t modemChanges = 0;
    switch (eventCode) {
        case SerialPort::kEventBreak:
            line = kLineBreak;
            break;
        case SerialPort::kEventFrame:
            line = kLineFraming;
            break;
        case SerialPort::kEventOverrun:
            line = kLineOverrun;
            break;
        case SerialPort::kEventRxParity:
            line = kLineParity;
            break;
        default: {
            const int now = m_port.ModemLines();
            const int changed = now < 0 || m_modemLines < 0 ? 0 : now ^ m_modemLines;
            m_modemLines = now;
            modemChanges |= (changed & SerialPort::kLineCts) ? kModemDeltaCts : 0;
            modemChanges |= (changed & SerialPort::kLineDsr) ? kModemDeltaDsr : 0;
            modemChanges |= (changed & SerialPort::kLineDcd) ? kModemDeltaDcd : 0;
            // RI is told when the ring ends.
            if ((changed & SerialPort::kLineRi) && !(now & SerialPort::kLineRi))
                modemChanges |= kModemRiTrailingEdge;
            if (modemChanges == 0)
                return;
            break;
        }
    }
    const std::uint8_t modem = modemChanges != 0 ? ModemState(modemChanges) : 0;
    for (const auto& [index, client] : m_clients) {
        // Only a client that took up the option knows what to do with these.
        if (!client.negotiator.PeerWill(kComPort))
            continue;
        if (line & client.lineMask)
            Send(index, ComPortSubOption(kNotifyLineState + kServerOffset,
                                         static_cast<std::uint8_t>(line & client.lineMask)));
        if (modemChanges & client.modemMask)
            Send(index, ComPortSubOption(kNotifyModemState + kServerOffset,
                                         static_cast<std::uint8_t>(modem & client.modemMask)));
    }
}

void ComPortServer::Send(int index, const Bytes& bytes)
{
    if (!bytes.empty())
        m_sockets.SendData(index, bytes);
}

}  // namespace velkon
