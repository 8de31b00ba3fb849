#include "system/SupportInfo.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QString>
#include <QSysInfo>
#include <QtGlobal>

#include "Version.h"
#include "serial/PortMap.h"
#include "shell/StringTable.h"
#include "system/ProgramFolder.h"
#include "system/RuntimeDir.h"

namespace velkon {

namespace {

constexpr int kHighestPort = 256;
constexpr const char* kStableNames = "/dev/serial/by-id";

std::string Kernel()
{
    utsname names{};
    if (::uname(&names) != 0)
        return std::strerror(errno);
    return std::string(names.sysname) + " " + names.release + " " + names.version + " " +
           names.machine;
}

bool IsDevice(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// The by-id links with the device each leads to, sorted by name.
std::vector<std::string> StableNames()
{
    std::vector<std::string> lines;
    DIR* folder = ::opendir(kStableNames);
    if (!folder)
        return lines;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string link = std::string(kStableNames) + "/" + entry->d_name;
        char target[PATH_MAX];
        std::string line = link;
        if (::realpath(link.c_str(), target))
            line += " -> " + std::string(target);
        lines.push_back(line);
    }
    ::closedir(folder);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

std::string SupportInfo::Text(const Libraries& libraries) const
{
    const auto line = [this](int caption, const std::string& value) {
        return m_strings.Text(caption) + " " + value + "\n";
    };
    const std::string programFolder = ProgramFolder();
    std::string text = "Velkon " + std::string(kVersionText) + "\n";
    text += line(5170, kBuildDate);
    text += line(5180, ExecutablePath());
    text += line(5177, QSysInfo::prettyProductName().toStdString());
    text += line(5178, Kernel());
    text += "Qt " + std::string(qVersion()) + " (" + m_strings.Text(5171) + " " + QT_VERSION_STR +
            ")\n";
    text += line(5179, libraries.qtPlatformPlugin);
    text += libraries.openSslVersion + "\n";
    text += line(5181, programFolder);
    text += line(5182, RuntimeDirectory());
    text += m_strings.Text(5183) + "\n" + SerialDevices(programFolder);
    return text;
}

std::string SupportInfo::SerialDevices(const std::string& programFolder) const
{
    std::string text;
    for (int number = 1; number <= kHighestPort; ++number) {
        const std::string device = DeviceForPort(number, programFolder);
        if (!device.empty() && IsDevice(device))
            text += "    COM" + std::to_string(number) + "  " + device + "\n";
    }
    for (const std::string& name : StableNames())
        text += "    " + name + "\n";
    if (text.empty())
        text = "    " + m_strings.Text(5184) + "\n";
    return text;
}

}  // namespace velkon
