#include "session/SessionCommand.h"

#include "session/Numbers.h"
#include "session/SessionSettings.h"

namespace velkon {

namespace {

std::string ToUpper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string TrimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

template <std::size_t N>
std::optional<int> IndexOf(const std::array<const char*, N>& list, const std::string& value)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (value == list[i])
            return static_cast<int>(i);
    }
    return std::nullopt;
}

std::optional<int> ParityIndex(const std::string& value)
{
    static const char* const kNames[5][2] = {
        {"NONE", "N"}, {"EVEN", "E"}, {"ODD", "O"}, {"MARK", "M"}, {"SPACE", "S"}};
    for (int i = 0; i < 5; ++i) {
        if (value == kNames[i][0] || value == kNames[i][1])
            return i;
    }
    return std::nullopt;
}

// The next comma-separated field of rest, which loses it; nullopt when no
// comma follows it.
std::optional<std::string> TakeField(std::string& rest)
{
    const auto comma = rest.find(',');
    if (comma == std::string::npos)
        return std::nullopt;
    std::string field = rest.substr(0, comma);
    rest = rest.substr(comma + 1);
    return field;
}

}  // namespace

SessionCommand ParseSessionCommand(const std::string& command)
{
    SessionCommand parsed;
    const std::string text = TrimBlanks(ToUpper(command));
    if (text == "[ACTIVATE]") {
        parsed.kind = SessionCommand::Kind::Activate;
        return parsed;
    }
    if (text == "[DEACTIVATE]") {
        parsed.kind = SessionCommand::Kind::Deactivate;
        return parsed;
    }
    static const std::string kComSettings = "[COMSETTINGS=";
    if (text.compare(0, kComSettings.size(), kComSettings) != 0)
        return parsed;
    parsed.kind = SessionCommand::Kind::ComSettings;

    std::string rest;
    for (char c : text.substr(kComSettings.size())) {
        if (c != ']')
            rest.push_back(c);
    }
    // Each value counts only when a comma follows it, except the stop bits.
    const auto baud = TakeField(rest);
    if (!baud)
        return parsed;
    parsed.baudRate = IndexOf(kBaudRates, std::to_string(LeadingWholeNumber(*baud)));
    const auto parity = TakeField(rest);
    if (!parity)
        return parsed;
    parsed.parity = ParityIndex(*parity);
    const auto bits = TakeField(rest);
    if (!bits)
        return parsed;
    parsed.databits = IndexOf(kDataBits, TrimBlanks(*bits));
    rest = TrimBlanks(rest);
    if (!rest.empty())
        parsed.stopbits = IndexOf(kStopBits, rest);
    return parsed;
}

}  // namespace velkon
