#include "session/SessionSettings.h"

namespace velkon {

namespace {

template <std::size_t N>
std::string ListText(const std::array<const char*, N>& list, int index)
{
    return index >= 0 && index < static_cast<int>(N) ? list[index] : "";
}

// The first letters of the parity texts, in list order, in every language.
constexpr const char* kParityLetters = "NEOMS";

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
    const int parity = settings.Parity;
    const std::string letter = parity >= 0 && parity < static_cast<int>(kParityTextIds.size())
                                   ? std::string(1, kParityLetters[parity])
                                   : "";
    return BaudRateText(settings) + "," + letter + "," + DatabitsText(settings) + "," +
           StopbitsText(settings);
}

}  // namespace velkon
