#include "session/TelnetComPort.h"

#include <algorithm>
#include <charconv>

namespace velkon {
namespace telnet {

void Decoder::Feed(const Bytes& in, Bytes& data, std::vector<Event>& events)
{
    for (auto it = in.begin(); it != in.end(); ++it) {
        if (m_state == State::Data) {
            // Runs of data are copied whole.
            const auto iac = std::find(it, in.end(), kIac);
            data.insert(data.end(), it, iac);
            if (iac == in.end())
                break;
            it = iac;
        }
        const std::uint8_t b = *it;
        switch (m_state) {
            case State::Data:
                if (b == kIac)
                    m_state = State::Iac;
                else
                    data.push_back(b);
                break;
            case State::SubOptionIac:
                if (b == kIac) {
                    if (m_sub.size() < kMaxSubOption)
                        m_sub.push_back(b);
                    else
                        m_subTooLong = true;
                    m_state = State::SubOptionData;
                    break;
                }
                if (b == kSe) {
                    EndSubOption(events);
                    m_state = State::Data;
                    break;
                }
                // An unterminated sub-option: dropped, and the byte is read
                // as the command it is.
                [[fallthrough]];
            case State::Iac:
                m_state = State::Data;
                if (b == kIac) {
                    data.push_back(b);
                } else if (b >= kWill) {
                    m_verb = b;
                    m_state = State::Verb;
                } else if (b == kSb) {
                    m_state = State::SubOption;
                }
                // Other commands (NOP, GA, a stray SE ...) mean nothing here.
                break;
            case State::Verb: {
                Event e;
                e.kind = m_verb == kWill   ? Event::Kind::Will
                         : m_verb == kWont ? Event::Kind::Wont
                         : m_verb == kDo   ? Event::Kind::Do
                                           : Event::Kind::Dont;
                e.option = b;
                events.push_back(std::move(e));
                m_state = State::Data;
                break;
            }
            case State::SubOption:
                m_option = b;
                m_sub.clear();
                m_subTooLong = false;
                m_state = b == kIac ? State::SubOptionIac : State::SubOptionData;
                break;
            case State::SubOptionData:
                if (b == kIac)
                    m_state = State::SubOptionIac;
                else if (m_sub.size() < kMaxSubOption)
                    m_sub.push_back(b);
                else
                    m_subTooLong = true;
                break;
        }
    }
}

void Decoder::EndSubOption(std::vector<Event>& events)
{
    if (m_subTooLong)
        return;
    Event e;
    e.kind = Event::Kind::SubOption;
    e.option = m_option;
    e.payload = std::move(m_sub);
    m_sub.clear();
    events.push_back(std::move(e));
}

Bytes EscapeData(const Bytes& data)
{
    std::size_t iacs = 0;
    for (const std::uint8_t b : data)
        iacs += b == kIac;
    if (iacs == 0)
        return data;
    Bytes out;
    out.reserve(data.size() + iacs);
    // Runs between IAC bytes are copied whole.
    for (auto it = data.begin(); it != data.end();) {
        const auto iac = std::find(it, data.end(), kIac);
        out.insert(out.end(), it, iac);
        if (iac == data.end())
            break;
        out.push_back(kIac);
        out.push_back(kIac);
        it = iac + 1;
    }
    return out;
}

Bytes Negotiation(std::uint8_t verb, std::uint8_t option)
{
    return {kIac, verb, option};
}

Bytes ComPortSubOption(std::uint8_t command, const Bytes& value)
{
    Bytes out = {kIac, kSb, kComPort, command};
    const Bytes escaped = EscapeData(value);
    out.insert(out.end(), escaped.begin(), escaped.end());
    out.push_back(kIac);
    out.push_back(kSe);
    return out;
}

Bytes ComPortSubOption(std::uint8_t command, std::uint8_t value)
{
    return ComPortSubOption(command, Bytes{value});
}

Bytes BaudRateValue(std::uint32_t rate)
{
    return {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
            static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)};
}

std::uint32_t BaudRateFrom(const Bytes& value)
{
    if (value.size() != 4)
        return 0;
    return static_cast<std::uint32_t>(value[0]) << 24 | static_cast<std::uint32_t>(value[1]) << 16 |
           static_cast<std::uint32_t>(value[2]) << 8 | value[3];
}

namespace {

bool Accepted(std::uint8_t option)
{
    return option == kBinary || option == kComPort;
}

// The answer to a request to turn an option on: yes once, no never repeated
// as a yes.
Bytes TurnOn(bool& state, bool& asked, std::uint8_t yes, std::uint8_t no, std::uint8_t option)
{
    if (!Accepted(option))
        return Negotiation(no, option);
    if (state)
        return {};
    state = true;
    if (asked) {
        asked = false;
        return {};
    }
    return Negotiation(yes, option);
}

Bytes TurnOff(bool& state, bool& asked, std::uint8_t no, std::uint8_t option)
{
    asked = false;
    if (!state)
        return {};
    state = false;
    return Negotiation(no, option);
}

}  // namespace

Bytes Negotiator::Answer(const Event& e)
{
    const std::uint8_t o = e.option;
    switch (e.kind) {
        case Event::Kind::Will:
            return TurnOn(m_peerWill[o], m_askedDo[o], kDo, kDont, o);
        case Event::Kind::Do:
            return TurnOn(m_weWill[o], m_askedWill[o], kWill, kWont, o);
        case Event::Kind::Wont:
            return TurnOff(m_peerWill[o], m_askedDo[o], kDont, o);
        case Event::Kind::Dont:
            return TurnOff(m_weWill[o], m_askedWill[o], kWont, o);
        case Event::Kind::SubOption:
            break;
    }
    return {};
}

Bytes Negotiator::Offer(std::uint8_t verb, std::uint8_t option)
{
    if (verb == kWill)
        m_askedWill[option] = true;
    else if (verb == kDo)
        m_askedDo[option] = true;
    return Negotiation(verb, option);
}

}  // namespace telnet

namespace {

constexpr const char kParityLetters[] = "NOEMS";         // RFC 2217 parity 1..5
constexpr const char* kStopTexts[] = {"1", "2", "1.5"};  // stop size 1..3

std::vector<std::string> SplitFields(const std::string& text)
{
    std::vector<std::string> fields(1);
    for (const char c : text) {
        if (c == ',')
            fields.emplace_back();
        else if (c != ' ')
            fields.back() += c;
    }
    return fields;
}

}  // namespace

bool ParseComLine(const std::string& text, ComLine& line)
{
    const std::vector<std::string> f = SplitFields(text);
    if (f.size() != 4 || f[1].size() != 1 || f[2].size() != 1)
        return false;
    ComLine parsed;
    const auto [end, err] =
        std::from_chars(f[0].data(), f[0].data() + f[0].size(), parsed.baudRate);
    if (err != std::errc() || end != f[0].data() + f[0].size())
        return false;
    const char parity = static_cast<char>(f[1][0] & ~0x20);
    std::uint8_t code = 0;
    for (std::uint8_t i = 0; kParityLetters[i] != '\0'; ++i) {
        if (kParityLetters[i] == parity)
            code = static_cast<std::uint8_t>(i + 1);
    }
    if (code == 0 || f[2][0] < '5' || f[2][0] > '8')
        return false;
    parsed.parity = code;
    parsed.dataSize = static_cast<std::uint8_t>(f[2][0] - '0');
    parsed.stopSize = 0;
    for (std::uint8_t i = 0; i < 3; ++i) {
        if (f[3] == kStopTexts[i])
            parsed.stopSize = static_cast<std::uint8_t>(i + 1);
    }
    if (parsed.stopSize == 0)
        return false;
    line = parsed;
    return true;
}

std::string ComLineText(const ComLine& line)
{
    if (line.parity < 1 || line.parity > 5 || line.dataSize < 5 || line.dataSize > 8 ||
        line.stopSize < 1 || line.stopSize > 3) {
        return "";
    }
    return std::to_string(line.baudRate) + "," + kParityLetters[line.parity - 1] + "," +
           std::to_string(line.dataSize) + "," + kStopTexts[line.stopSize - 1];
}

}  // namespace velkon
