#include "session/SessionSettings.h"

#include "components/LineSettings.h"

namespace velkon {

namespace {

template <std::size_t N>
std::string ListText(const std::array<const char*, N>& list, int index)
{
    return index >= 0 && index < static_cast<int>(N) ? list[index] : "";
}

}  // namespace

std::string ConnectorName(int index)
{
    if (index < 1 || index >= kConnectorCount)
        return "";
    return "COM" + std::to_string(index);
}

std::string BaudRateText(const SessionSettings& settings)
{
    return ListText(kBaudRates, settings.BaudRate);
}

std::string DatabitsText(const SessionSettings& settings)
{
    return ListText(kDataBits, settings.Databits);
}

std::string StopbitsText(const SessionSettings& settings)
{
    return ListText(kStopBits, settings.Stopbits);
}

std::string BufferSizeText(const SessionSettings& settings)
{
    return ListText(kBufferSizes, settings.BufferSize);
}

std::string SerialSettingsText(const SessionSettings& settings)
{
    using Parity = LineSettings::Parity;
    using StopBits = LineSettings::StopBits;
    // In list order.
    constexpr Parity kParities[] = {Parity::kNone, Parity::kEven, Parity::kOdd, Parity::kMark,
                                    Parity::kSpace};
    constexpr StopBits kStops[] = {StopBits::kOne, StopBits::kOneAndHalf, StopBits::kTwo};
    const std::string baud = BaudRateText(settings);
    const std::string bits = DatabitsText(settings);
    if (baud.empty() || bits.empty() || settings.Parity < 0 || settings.Parity >= 5 ||
        settings.Stopbits < 0 || settings.Stopbits >= 3) {
        return "";  // a list without a selection: the port refuses it
    }
    LineSettings line;
    line.baudRate = std::stoi(baud);
    line.dataBits = std::stoi(bits);
    line.parity = kParities[settings.Parity];
    line.stopBits = kStops[settings.Stopbits];
    return LineSettingsText(line);
}

}  // namespace velkon
