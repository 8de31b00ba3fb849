#include "system/XdgStartEntry.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "system/PosixFileStore.h"
#include "system/ProgramFolder.h"

namespace velkon {

std::string XdgStartEntry::EntryPath()
{
    return ConfigHome() + "/autostart/velkon.desktop";
}

bool XdgStartEntry::SetStartWithWindows(bool on, const std::string& valueName,
                                        const std::string& exePath, bool, bool)
{
    const std::string path = EntryPath();
    if (!on) {
        ::unlink(path.c_str());  // a missing entry is no error
        return true;
    }
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    // Exec quoting: the path in double quotes, with \ " ` $ escaped.
    std::string quoted = "\"";
    for (char c : exePath) {
        if (c == '\\' || c == '"' || c == '`' || c == '$')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    const std::string entry = "[Desktop Entry]\nType=Application\nName=" + valueName +
                              "\nComment=RS232 to TCP/IP converter\nExec=" + quoted +
                              "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    PosixFileStore files;
    return files.Replace(path, entry, false);
}

}  // namespace velkon
