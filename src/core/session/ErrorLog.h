#pragma once

#include <string>

#include "components/Services.h"

namespace velkon {

struct AppState;

// Failures of a running bridge: a line in "errorlog.txt" when logging is on,
// and the error program when one is set.
class ErrorLog {
public:
    // Where the failing bridge was, for the log line.
    struct Where {
        std::string localAddress;
        bool server = false;
        int localPort = 0;
        std::string remoteHost;
        int remotePort = 0;
        // False for a failure of the program rather than of a bridge.
        bool bridge = true;
    };

    explicit ErrorLog(AppState& app) : m_app(app) {}

    void Log(const std::string& description, const Where& where);

    // The log line, without its line end.
    static std::string Line(const std::string& description, const LocalDateTime& now,
                            const Where& where);

private:
    AppState& m_app;
};

}  // namespace velkon
