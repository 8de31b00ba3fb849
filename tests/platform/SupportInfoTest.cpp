#include "system/SupportInfo.h"

#include <sys/utsname.h>

#include <fstream>

#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include "shell/StringTable.h"

namespace velkon {
namespace {

// The folders and the port map are this test's own, so the text must name
// them and list a device that only the map can lead to.
TEST(SupportInfo, NamesTheKernelTheFoldersAndTheMappedDevices)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const std::string folder = home.path().toStdString();
    const std::string runtime = folder + "/run";
    qputenv("VELKON_HOME", folder.c_str());
    qputenv("VELKON_RUNTIME_DIR", runtime.c_str());
    std::ofstream(folder + "/ports.ini") << "[Ports]\nCOM200=/dev/null\nCOM201=/dev/missing\n";

    const std::string text =
        SupportInfo(StringTable::English()).Text({"offscreen", "OpenSSL 9.9.9"});
    qunsetenv("VELKON_HOME");
    qunsetenv("VELKON_RUNTIME_DIR");

    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_NE(text.find(std::string("Kernel: Linux ") + names.release), std::string::npos) << text;
    EXPECT_NE(text.find("Program folder: " + folder + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Runtime folder: " + runtime + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Qt platform plugin: offscreen\n"), std::string::npos) << text;
    EXPECT_NE(text.find("OpenSSL 9.9.9\n"), std::string::npos) << text;
    EXPECT_NE(text.find("COM200  /dev/null\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("COM201"), std::string::npos) << text;
}

}  // namespace
}  // namespace velkon
