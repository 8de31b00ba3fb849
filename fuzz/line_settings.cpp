// Line settings as remote commands and saved files carry them:
// "[COMSETTINGS=…]" and the other session commands, "9600,N,8,1", and the
// RFC 2217 numbers of the same text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "components/LineSettings.h"
#include "session/SessionCommand.h"
#include "session/TelnetComPort.h"

using namespace velkon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    const SessionCommand command = ParseSessionCommand(text);
    if (command.kind != SessionCommand::Kind::ComSettings) {
        FUZZ_CHECK(!command.baudRate && !command.parity && !command.databits && !command.stopbits);
    }
    for (const auto& index : {command.baudRate, command.parity, command.databits, command.stopbits})
        FUZZ_CHECK(!index || *index >= 0);

    LineSettings settings;
    settings.flowControl = LineSettings::FlowControl::kHardware;
    const LineSettings before = settings;
    std::string reason;
    if (ParseLineSettings(text, settings, reason)) {
        FUZZ_CHECK(settings.flowControl == LineSettings::FlowControl::kHardware);
        FUZZ_CHECK(settings.baudRate >= 1 && settings.baudRate <= kMaxLineBaudRate);
        FUZZ_CHECK(settings.dataBits >= 5 && settings.dataBits <= 8);
        // The text form reads back as the same settings.
        LineSettings again;
        again.flowControl = settings.flowControl;
        std::string why;
        FUZZ_CHECK(ParseLineSettings(LineSettingsText(settings), again, why));
        FUZZ_CHECK(again == settings);
    } else {
        FUZZ_CHECK(settings == before);
        FUZZ_CHECK(!reason.empty());
    }

    ComLine line;
    if (ParseComLine(text, line)) {
        const std::string back = ComLineText(line);
        if (!back.empty()) {
            ComLine again;
            FUZZ_CHECK(ParseComLine(back, again));
            FUZZ_CHECK(again == line);
        }
    }
    return 0;
}
