// "ports.ini": the map from port numbers to device paths, edited by hand.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "FuzzCheck.h"
#include "serial/PortMap.h"

namespace {

std::string Folder()
{
    static const std::string folder = [] {
        char name[] = "/tmp/velkon-fuzz-ports-XXXXXX";
        const char* made = mkdtemp(name);
        FUZZ_CHECK(made != nullptr);
        return std::string(made);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string folder = Folder();
    {
        std::ofstream out(folder + "/ports.ini", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (int number : {0, 1, 3, 33, 96, 97, 256, 257}) {
        const std::string device = velkon::DeviceForPort(number, folder);
        if (number < 1 || number > 256) {
            FUZZ_CHECK(device.empty());
        } else if (number <= 96) {
            FUZZ_CHECK(!device.empty());
        }
        // A device path is one line of at most the reader's length.
        FUZZ_CHECK(device.size() <= 199);
        FUZZ_CHECK(device.find('\n') == std::string::npos);
    }
    return 0;
}
