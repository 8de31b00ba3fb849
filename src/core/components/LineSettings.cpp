#include "components/LineSettings.h"

#include <cstddef>

namespace velkon {

namespace {

constexpr const char* kFieldsExpected = "expected baud rate, parity, data bits and stop bits";

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// Exactly four comma-separated fields, trimmed.
bool SplitFields(std::string_view text, std::string_view (&fields)[4])
{
    std::size_t count = 0;
    std::string_view rest = text;
    while (true) {
        if (count == 4) {
            return false;
        }
        const std::size_t comma = rest.find(',');
        fields[count++] = Trim(rest.substr(0, comma));
        if (comma == std::string_view::npos) {
            return count == 4;
        }
        rest.remove_prefix(comma + 1);
    }
}

// Digits only, at most nine of them (so no overflow), within the range.
bool ReadBaudRate(std::string_view field, int& rate)
{
    if (field.empty() || field.size() > 9) {
        return false;
    }
    long long value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value <= 0 || value > kMaxLineBaudRate) {
        return false;
    }
    rate = static_cast<int>(value);
    return true;
}

bool ReadParity(std::string_view field, LineSettings::Parity& parity)
{
    if (field.size() != 1) {
        return false;
    }
    switch (field[0]) {
        case 'N':
        case 'n':
            parity = LineSettings::Parity::kNone;
            return true;
        case 'E':
        case 'e':
            parity = LineSettings::Parity::kEven;
            return true;
        case 'O':
        case 'o':
            parity = LineSettings::Parity::kOdd;
            return true;
        case 'M':
        case 'm':
            parity = LineSettings::Parity::kMark;
            return true;
        case 'S':
        case 's':
            parity = LineSettings::Parity::kSpace;
            return true;
        default:
            return false;
    }
}

bool ReadStopBits(std::string_view field, LineSettings::StopBits& stopBits)
{
    if (field == "1") {
        stopBits = LineSettings::StopBits::kOne;
    } else if (field == "1.5") {
        stopBits = LineSettings::StopBits::kOneAndHalf;
    } else if (field == "2") {
        stopBits = LineSettings::StopBits::kTwo;
    } else {
        return false;
    }
    return true;
}

const char* StopBitsText(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
        case LineSettings::StopBits::kOneAndHalf:
            return "1.5";
        case LineSettings::StopBits::kTwo:
            return "2";
        default:
            return "1";
    }
}

}  // namespace

char ParityLetter(LineSettings::Parity parity)
{
    switch (parity) {
        case LineSettings::Parity::kEven:
            return 'E';
        case LineSettings::Parity::kOdd:
            return 'O';
        case LineSettings::Parity::kMark:
            return 'M';
        case LineSettings::Parity::kSpace:
            return 'S';
        default:
            return 'N';
    }
}

bool ParseLineSettings(std::string_view text, LineSettings& settings, std::string& reason)
{
    std::string_view fields[4];
    if (!SplitFields(text, fields)) {
        reason = kFieldsExpected;
        return false;
    }
    LineSettings parsed = settings;
    if (!ReadBaudRate(fields[0], parsed.baudRate)) {
        reason = "baud rate \"" + std::string(fields[0]) + "\" is not valid";
        return false;
    }
    if (!ReadParity(fields[1], parsed.parity)) {
        reason = "parity \"" + std::string(fields[1]) + "\" is not N, E, O, M or S";
        return false;
    }
    const std::string_view data = fields[2];
    if (data.size() != 1 || data[0] < '5' || data[0] > '8') {
        reason = "data bits \"" + std::string(data) + "\" are not 5, 6, 7 or 8";
        return false;
    }
    parsed.dataBits = data[0] - '0';
    if (!ReadStopBits(fields[3], parsed.stopBits)) {
        reason = "stop bits \"" + std::string(fields[3]) + "\" are not 1, 1.5 or 2";
        return false;
    }
    if (parsed.stopBits == LineSettings::StopBits::kOneAndHalf && parsed.dataBits != 5) {
        reason = "1.5 stop bits are only possible with 5 data bits";
        return false;
    }
    settings = parsed;
    return true;
}

std::string LineSettingsText(const LineSettings& settings)
{
    return std::to_string(settings.baudRate) + "," + ParityLetter(settings.parity) + "," +
           std::to_string(settings.dataBits) + "," + StopBitsText(settings.stopBits);
}

}  // namespace velkon
