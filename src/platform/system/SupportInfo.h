#pragma once

#include <string>

namespace velkon {

class StringTable;

// What a request for help needs to know about this installation: program
// version, system, libraries, folders and the serial devices present, as
// text the user can paste into a message.
class SupportInfo {
public:
    // Facts only the layers above can tell: the platform plugin belongs to
    // Qt Gui and OpenSSL is linked by the windows.
    struct Libraries {
        std::string qtPlatformPlugin;
        std::string openSslVersion;
    };

    explicit SupportInfo(const StringTable& strings) : m_strings(strings) {}

    std::string Text(const Libraries& libraries) const;

private:
    // Every COM number whose device exists, then the /dev/serial/by-id links.
    std::string SerialDevices(const std::string& programFolder) const;

    const StringTable& m_strings;
};

}  // namespace velkon
