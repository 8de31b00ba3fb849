#include "session/ComPortClient.h"

namespace velkon {

using namespace telnet;

namespace {

constexpr int kElement = 0;

}  // namespace

void ComPortClient::Start()
{
    m_decoder = Decoder();
    m_negotiator = Negotiator();
    m_connected = false;
    m_handshake = -1;
    m_suspended = false;
    m_resumed = false;
    m_port.WatchLineSettings(true);
}

void ComPortClient::Stop()
{
    m_port.WatchLineSettings(false);
    m_connected = false;
    m_suspended = false;
}

void ComPortClient::Closed()
{
    // A suspension ends with its connection.
    m_resumed = m_resumed || m_suspended;
    m_suspended = false;
    m_connected = false;
}

void ComPortClient::Connected()
{
    // A new connection is a new Telnet session.
    m_decoder = Decoder();
    m_negotiator = Negotiator();
    m_connected = true;
    m_suspended = false;
    Send(m_negotiator.Offer(kWill, kComPort));
    SendSettings(true);
}

Bytes ComPortClient::FromServer(const Bytes& raw)
{
    Bytes data;
    data.reserve(raw.size());
    std::vector<Event> events;
    m_decoder.Feed(raw, data, events);
    for (const Event& e : events) {
        if (e.kind != Event::Kind::SubOption)
            Send(m_negotiator.Answer(e));
        else if (e.option == kComPort && !e.payload.empty())
            Answer(e.payload[0], Bytes(e.payload.begin() + 1, e.payload.end()));
    }
    return data;
}

void ComPortClient::ApplicationChanged()
{
    if (m_connected)
        SendSettings(false);
}

void ComPortClient::SendSettings(bool all)
{
    ComLine line;
    if (!ParseComLine(m_port.LineSettings(), line))
        return;
    if (all || line.baudRate != m_line.baudRate)
        Send(ComPortSubOption(kSetBaudRate, BaudRateValue(line.baudRate)));
    if (all || line.dataSize != m_line.dataSize)
        Send(ComPortSubOption(kSetDataSize, line.dataSize));
    if (all || line.parity != m_line.parity)
        Send(ComPortSubOption(kSetParity, line.parity));
    if (all || line.stopSize != m_line.stopSize)
        Send(ComPortSubOption(kSetStopSize, line.stopSize));
    m_line = line;
    const int handshake = m_port.HandshakeMode();
    if (all || handshake != m_handshake) {
        Send(
            ComPortSubOption(kSetControl, static_cast<std::uint8_t>(kControlFlowNone + handshake)));
        m_handshake = handshake;
    }
}

void ComPortClient::Answer(std::uint8_t command, const Bytes& value)
{
    ComLine line = m_line;
    switch (command) {
        case kSetBaudRate + kServerOffset:
            line.baudRate = BaudRateFrom(value);
            break;
        case kSetDataSize + kServerOffset:
        case kSetParity + kServerOffset:
        case kSetStopSize + kServerOffset:
            if (value.size() != 1)
                return;
            (command == kSetDataSize + kServerOffset ? line.dataSize
             : command == kSetParity + kServerOffset ? line.parity
                                                     : line.stopSize) = value[0];
            break;
        case kFlowControlSuspend + kServerOffset:
        case kFlowControlResume + kServerOffset:
            m_resumed =
                m_resumed || (m_suspended && command != kFlowControlSuspend + kServerOffset);
            m_suspended = command == kFlowControlSuspend + kServerOffset;
            return;
        default:
            // Notifications and other answers change nothing here.
            return;
    }
    // The server confirmed what was asked: the application has it already.
    if (line == m_line)
        return;
    const std::string text = ComLineText(line);
    if (line.baudRate == 0 || text.empty())
        return;
    // The application changed its settings since they were sent: the answer
    // to that newer request is on its way, and this older one must not undo it.
    ComLine current;
    if (!ParseComLine(m_port.LineSettings(), current) || !(current == m_line))
        return;
    // Remembered first, so the change this makes is not sent back.
    m_line = line;
    m_port.SetLineSettings(text);
}

void ComPortClient::Send(const Bytes& bytes)
{
    if (!bytes.empty())
        m_sockets.SendData(kElement, bytes);
}

}  // namespace velkon
