#include "session/TelnetComPort.h"

#include <algorithm>
#include <charconv>

#include "components/LineSettings.h"

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

using Parity = LineSettings::Parity;
using StopBits = LineSettings::StopBits;

// RFC 2217 numbers of parity 1..5 and stop size 1..3.
constexpr Parity kParities[] = {Parity::kNone, Parity::kOdd, Parity::kEven, Parity::kMark,
                                Parity::kSpace};
constexpr StopBits kStopSizes[] = {StopBits::kOne, StopBits::kTwo, StopBits::kOneAndHalf};

template <typename T, std::size_t N>
std::uint8_t CodeOf(const T (&values)[N], T value)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (values[i] == value)
            return static_cast<std::uint8_t>(i + 1);
    }
    return 0;
}

}  // namespace

bool ParseComLine(const std::string& text, ComLine& line)
{
    LineSettings settings;
    std::string reason;
    if (!ParseLineSettings(text, settings, reason))
        return false;
    line.baudRate = static_cast<std::uint32_t>(settings.baudRate);
    line.dataSize = static_cast<std::uint8_t>(settings.dataBits);
    line.parity = CodeOf(kParities, settings.parity);
    line.stopSize = CodeOf(kStopSizes, settings.stopBits);
    return true;
}

std::string ComLineText(const ComLine& line)
{
    if (line.parity < 1 || line.parity > 5 || line.dataSize < 5 || line.dataSize > 8 ||
        line.stopSize < 1 || line.stopSize > 3 || line.baudRate < 1 ||
        line.baudRate > static_cast<std::uint32_t>(kMaxLineBaudRate)) {
        return "";
    }
    LineSettings settings;
    settings.baudRate = static_cast<int>(line.baudRate);
    settings.dataBits = line.dataSize;
    settings.parity = kParities[line.parity - 1];
    settings.stopBits = kStopSizes[line.stopSize - 1];
    return LineSettingsText(settings);
}

}  // namespace velkon
