#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "components/Result.h"

namespace velkon {

// Telnet (RFC 854/855) with the COM port control option (RFC 2217): the
// bytes on the wire, taken apart and put together. No state of a port here.
namespace telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kComPort = 44;

// Sub-option commands as a client sends them; the server's answer carries
// the same command plus kServerOffset.
inline constexpr std::uint8_t kSignature = 0;
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kNotifyLineState = 6;
inline constexpr std::uint8_t kNotifyModemState = 7;
inline constexpr std::uint8_t kFlowControlSuspend = 8;
inline constexpr std::uint8_t kFlowControlResume = 9;
inline constexpr std::uint8_t kSetLineStateMask = 10;
inline constexpr std::uint8_t kSetModemStateMask = 11;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

// SET-CONTROL values.
inline constexpr std::uint8_t kControlFlowQuery = 0;
inline constexpr std::uint8_t kControlFlowNone = 1;
inline constexpr std::uint8_t kControlFlowXonXoff = 2;
inline constexpr std::uint8_t kControlFlowHardware = 3;
inline constexpr std::uint8_t kControlBreakQuery = 4;
inline constexpr std::uint8_t kControlBreakOn = 5;
inline constexpr std::uint8_t kControlBreakOff = 6;
inline constexpr std::uint8_t kControlDtrQuery = 7;
inline constexpr std::uint8_t kControlDtrOn = 8;
inline constexpr std::uint8_t kControlDtrOff = 9;
inline constexpr std::uint8_t kControlRtsQuery = 10;
inline constexpr std::uint8_t kControlRtsOn = 11;
inline constexpr std::uint8_t kControlRtsOff = 12;
inline constexpr std::uint8_t kControlInboundQuery = 13;
inline constexpr std::uint8_t kControlInboundNone = 14;
inline constexpr std::uint8_t kControlInboundXonXoff = 15;
inline constexpr std::uint8_t kControlInboundHardware = 16;

// Modem state bits (NOTIFY-MODEMSTATE) and line state bits (NOTIFY-LINESTATE).
inline constexpr std::uint8_t kModemDcd = 0x80;
inline constexpr std::uint8_t kModemRi = 0x40;
inline constexpr std::uint8_t kModemDsr = 0x20;
inline constexpr std::uint8_t kModemCts = 0x10;
inline constexpr std::uint8_t kModemDeltaDcd = 0x08;
inline constexpr std::uint8_t kModemRiTrailingEdge = 0x04;
inline constexpr std::uint8_t kModemDeltaDsr = 0x02;
inline constexpr std::uint8_t kModemDeltaCts = 0x01;
inline constexpr std::uint8_t kLineBreak = 0x10;
inline constexpr std::uint8_t kLineFraming = 0x08;
inline constexpr std::uint8_t kLineParity = 0x04;
inline constexpr std::uint8_t kLineOverrun = 0x02;

// PURGE-DATA values.
inline constexpr std::uint8_t kPurgeReceive = 1;
inline constexpr std::uint8_t kPurgeTransmit = 2;
inline constexpr std::uint8_t kPurgeBoth = 3;

// One thing the peer said besides data.
struct Event {
    enum class Kind { Will, Wont, Do, Dont, SubOption };
    Kind kind = Kind::Will;
    std::uint8_t option = 0;
    // SubOption: the bytes after the option number, IAC doubling undone.
    Bytes payload;
};

// Splits a stream from the peer into data bytes and events. Sequences may be
// cut anywhere between reads. Anything malformed is dropped, never passed
// on as data: an unknown command after IAC, a sub-option that never ends
// (cut after kMaxSubOption bytes, its rest up to IAC SE dropped), an IAC SB
// followed by a non-SE command.
class Decoder {
public:
    static constexpr std::size_t kMaxSubOption = 64;

    // Appends the data bytes of `in` to data and the events to events.
    void Feed(const Bytes& in, Bytes& data, std::vector<Event>& events);

private:
    enum class State { Data, Iac, Verb, SubOption, SubOptionData, SubOptionIac };

    void EndSubOption(std::vector<Event>& events);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::uint8_t m_option = 0;
    Bytes m_sub;
    bool m_subTooLong = false;
};

// Data for the wire: every IAC doubled. Returns the input when it has none.
Bytes EscapeData(const Bytes& data);
// IAC <verb> <option>
Bytes Negotiation(std::uint8_t verb, std::uint8_t option);
// IAC SB COM-PORT-OPTION <command> <value, IAC doubled> IAC SE
Bytes ComPortSubOption(std::uint8_t command, const Bytes& value);
Bytes ComPortSubOption(std::uint8_t command, std::uint8_t value);
// A baud rate as the four bytes of SET-BAUDRATE, network order, and back
// (0 when the value is not four bytes).
Bytes BaudRateValue(std::uint32_t rate);
std::uint32_t BaudRateFrom(const Bytes& value);

// Answers the peer's option requests: BINARY and COM-PORT-OPTION are
// accepted both ways, every other option is refused (WILL -> DONT, DO ->
// WONT). A request for the state already in force, or the answer to an offer
// of ours, is not answered again, so two ends never loop (RFC 854).
class Negotiator {
public:
    // What to send back; empty when nothing.
    Bytes Answer(const Event& event);
    // Our own request (WILL or DO an accepted option); the bytes to send.
    Bytes Offer(std::uint8_t verb, std::uint8_t option);
    bool PeerWill(std::uint8_t option) const { return m_peerWill[option]; }

private:
    bool m_peerWill[256] = {};
    bool m_weWill[256] = {};
    bool m_askedDo[256] = {};
    bool m_askedWill[256] = {};
};

}  // namespace telnet

// A port's line settings as RFC 2217 numbers, to and from the settings text
// of the serial control ("9600,N,8,1").
struct ComLine {
    std::uint32_t baudRate = 9600;
    std::uint8_t dataSize = 8;
    std::uint8_t parity = 1;    // 1 none, 2 odd, 3 even, 4 mark, 5 space
    std::uint8_t stopSize = 1;  // 1 one, 2 two, 3 one and a half

    bool operator==(const ComLine&) const = default;
};

// false when the text is not "baud,parity,data bits,stop bits".
bool ParseComLine(const std::string& text, ComLine& line);
// "" when a value has no text form.
std::string ComLineText(const ComLine& line);

}  // namespace velkon
