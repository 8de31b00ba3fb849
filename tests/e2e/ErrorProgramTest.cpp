#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "E2eSupport.h"
#include "system/SystemServices.h"

namespace velkon::test {
namespace {

// A script in a folder with a blank that leaves a marker file named by its
// first argument (or "ran" without one).
struct ScriptRig {
    ScriptRig()
    {
        QDir().mkpath(folder());
        QFile script(Script());
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ntouch \"$(dirname \"$0\")/${1:-ran}\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString folder() const { return dir.path() + "/my tools"; }
    QString Script() const { return folder() + "/alarm"; }
    bool Ran(const QString& marker) const
    {
        return WaitFor([&] { return QFileInfo::exists(folder() + "/" + marker); });
    }

    QTemporaryDir dir;
    std::vector<std::string> reports;
    ShellProcessLauncher launcher{[this](const std::string& text) { reports.push_back(text); }};
};

TEST(ErrorProgram, PathsWithBlanksRunQuotedOrNot)
{
    ScriptRig rig;
    // As Browse... writes it, and as an older configuration holds it.
    EXPECT_TRUE(rig.launcher.StartDetached("\"" + rig.Script().toStdString() + "\" quoted"));
    EXPECT_TRUE(rig.Ran("quoted"));
    EXPECT_TRUE(rig.launcher.StartDetached(rig.Script().toStdString()));
    EXPECT_TRUE(rig.Ran("ran"));
    // Shell syntax still goes through the shell.
    EXPECT_TRUE(rig.launcher.StartDetached("'" + rig.Script().toStdString() + "' single && true"));
    EXPECT_TRUE(rig.Ran("single"));
    EXPECT_TRUE(rig.reports.empty());
}

TEST(ErrorProgram, AProgramThatCannotStartIsReportedOnceWithTheReason)
{
    ScriptRig rig;
    const std::string missing = rig.folder().toStdString() + "/no such program";
    EXPECT_FALSE(rig.launcher.StartDetached(missing));
    EXPECT_FALSE(rig.launcher.StartDetached(missing));
    ASSERT_EQ(rig.reports.size(), 1u);
    EXPECT_NE(rig.reports[0].find(missing), std::string::npos) << rig.reports[0];
    EXPECT_NE(rig.reports[0].find("No such file"), std::string::npos) << rig.reports[0];

    // A file that is not executable has its own reason, reported once too.
    QFile data(rig.folder() + "/notes");
    ASSERT_TRUE(data.open(QIODevice::WriteOnly));
    data.close();
    EXPECT_FALSE(rig.launcher.StartDetached(data.fileName().toStdString()));
    ASSERT_EQ(rig.reports.size(), 2u);
    EXPECT_NE(rig.reports[1].find("ermission"), std::string::npos) << rig.reports[1];
}

}  // namespace
}  // namespace velkon::test
