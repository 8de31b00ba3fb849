#pragma once

#include <string>
#include <string_view>

namespace velkon {

// The settings of a serial line. Its text form, as sessions, saved files and
// remote commands carry it, is "baud,parity,data bits,stop bits"
// ("9600,N,8,1"); flow control is chosen apart from that text.
struct LineSettings {
    enum class Parity { kNone, kEven, kOdd, kMark, kSpace };
    enum class StopBits { kOne, kOneAndHalf, kTwo };
    enum class FlowControl { kNone, kXonXoff, kHardware };

    int baudRate = 9600;
    Parity parity = Parity::kNone;
    int dataBits = 8;
    StopBits stopBits = StopBits::kOne;
    FlowControl flowControl = FlowControl::kNone;

    bool operator==(const LineSettings&) const = default;
};

// The highest baud rate the text may name.
inline constexpr int kMaxLineBaudRate = 16'000'000;

// N, E, O, M or S.
char ParityLetter(LineSettings::Parity parity);

// Reads "baud,parity,data bits,stop bits": a baud rate from 1 to
// kMaxLineBaudRate, parity N/E/O/M/S (either case), 5 to 8 data bits, stop
// bits 1, 1.5 (only with 5 data bits, as on a UART) or 2; blanks and tabs
// around the fields are ignored. On success the four values are replaced and
// the flow control is kept; on failure reason says what is wrong and
// settings is left unchanged.
bool ParseLineSettings(std::string_view text, LineSettings& settings, std::string& reason);

// The text form, e.g. "9600,N,8,1" or "300,S,5,1.5".
std::string LineSettingsText(const LineSettings& settings);

}  // namespace velkon
