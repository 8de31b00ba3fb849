#include "serial/PortMap.h"

#include <fstream>
#include <iterator>

#include "shell/IniFile.h"

namespace velkon {

namespace {

constexpr int kHighestPort = 256;
constexpr int kPortsPerFamily = 32;

std::string MapFilePath(const std::string& programFolder)
{
    if (programFolder.empty()) {
        return "ports.ini";
    }
    if (programFolder.back() == '/') {
        return programFolder + "ports.ini";
    }
    return programFolder + "/ports.ini";
}

std::string DefaultDevice(int number)
{
    static const char* const kFamilies[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"};
    const int family = (number - 1) / kPortsPerFamily;
    if (family >= static_cast<int>(std::size(kFamilies))) {
        return {};
    }
    return kFamilies[family] + std::to_string((number - 1) % kPortsPerFamily);
}

}  // namespace

std::string DeviceForPort(int number, const std::string& programFolder)
{
    if (number < 1 || number > kHighestPort) {
        return {};
    }
    // Read at every call so that an edited map counts at the next opening.
    std::ifstream in(MapFilePath(programFolder), std::ios::binary);
    if (in) {
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const IniFile map = IniFile::Parse(std::move(content));
        std::string device = map.ReadText("Ports", "COM" + std::to_string(number), "");
        if (!device.empty()) {
            return device;
        }
    }
    return DefaultDevice(number);
}

}  // namespace velkon
