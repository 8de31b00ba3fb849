#include "session/ErrorLog.h"

#include <cstdio>

#include "session/AppState.h"

namespace velkon {

namespace {

std::string TwoDigits(int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

}  // namespace

std::string ErrorLog::Line(const std::string& description, const LocalDateTime& now,
                           const Where& where)
{
    std::string line = "Velkon Error: " + description + ", " + TwoDigits(now.month) + "-" +
                       TwoDigits(now.day) + "-" + std::to_string(now.year) + ", " +
                       TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" +
                       TwoDigits(now.second);
    if (!where.bridge)
        return line;
    line += ", Velkon IP Address: " + where.localAddress + ", ";
    if (where.server) {
        line += "Server Mode, Local Port: " + std::to_string(where.localPort);
    } else {
        line += "Client Mode, Remote Host: " + where.remoteHost +
                ", RemotePort: " + std::to_string(where.remotePort);
    }
    return line;
}

void ErrorLog::Log(const std::string& description, const Where& where)
{
    const GlobalSettings& g = m_app.globalSettings;
    const Services& services = m_app.services;
    if (g.LogErrors != 0 && services.files) {
        const LocalDateTime now = services.clock ? services.clock->Now() : LocalDateTime();
        services.files->Append(JoinPath(m_app.programFolder, "errorlog.txt"),
                               Line(description, now, where) + "\r\n");
    }
    if (!g.OnErrorRunApp.empty() && services.launcher)
        services.launcher->StartDetached(g.OnErrorRunApp);
}

}  // namespace velkon
