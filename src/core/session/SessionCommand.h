#pragma once

#include <optional>
#include <string>

namespace velkon {

// A command text of the command interface, taken apart.
struct SessionCommand {
    enum class Kind { Unknown, Activate, Deactivate, ComSettings };

    Kind kind = Kind::Unknown;
    // [COMSETTINGS=…]: the list indexes of the values it names; a value that
    // is missing or not in its list changes nothing.
    std::optional<int> baudRate;
    std::optional<int> parity;
    std::optional<int> databits;
    std::optional<int> stopbits;
};

// "[ACTIVATE]", "[DEACTIVATE]" or "[COMSETTINGS=baud,parity,data bits,stop bits]",
// in any case, blanks around ignored; parity as a name or its first letter.
SessionCommand ParseSessionCommand(const std::string& command);

}  // namespace velkon
