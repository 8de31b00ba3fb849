#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "E2eSupport.h"
#include "Version.h"

namespace velkon::test {
namespace {

struct ProgramRun {
    int code = -1;
    QString out;
    QString err;
};

// Runs a program of the build with no display and every folder it could
// use inside home, which starts empty.
struct NoDisplayRig {
    NoDisplayRig()
    {
        env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME",
                                 "XDG_RUNTIME_DIR"}) {
            env.remove(name);
        }
        env.insert("HOME", home.path());
        env.insert("VELKON_HOME", home.path());
        env.insert("VELKON_RUNTIME_DIR", home.path() + "/run");
    }
    ProgramRun Start(const QString& program, const QStringList& args)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(home.path());
        p.start(QString(VELKON_BINARY_DIR) + "/" + program, args);
        ProgramRun run;
        if (!p.waitForFinished(kWaitMs) || p.exitStatus() != QProcess::NormalExit)
            return run;
        run.code = p.exitCode();
        run.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(p.readAllStandardError());
        return run;
    }
    QStringList Left() const
    {
        return QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QTemporaryDir home;
    QProcessEnvironment env;
};

TEST(CommandLine, HelpVersionAndUnknownOptionsTouchNoFileAndNeedNoDisplay)
{
    const QString version = QString("velkon %1\n").arg(kVersionText);
    for (const QString program : {"velkon", "velkon-headless"}) {
        SCOPED_TRACE(program.toStdString());
        NoDisplayRig rig;

        const ProgramRun help = rig.Start(program, {"--help"});
        EXPECT_EQ(help.code, 0);
        EXPECT_TRUE(help.out.startsWith("usage: " + program + " [file.vkc]\n"))
            << help.out.toStdString();
        EXPECT_TRUE(help.out.contains(program + " --help | --version")) << help.out.toStdString();
        EXPECT_EQ(help.err, "");

        const ProgramRun shown = rig.Start(program, {"--version"});
        EXPECT_EQ(shown.code, 0);
        EXPECT_EQ(shown.out, version);
        EXPECT_EQ(shown.err, "");

        const ProgramRun unknown = rig.Start(program, {"--frobnicate", "x.vkc"});
        EXPECT_EQ(unknown.code, 2);
        EXPECT_EQ(unknown.out, "");
        EXPECT_TRUE(unknown.err.startsWith(
            program + ": unknown option --frobnicate\nusage: " + program + " "))
            << unknown.err.toStdString();

        EXPECT_EQ(rig.Left(), QStringList{}) << rig.Left().join(' ').toStdString();
    }

    // The headless program has no client mode; the desktop program's works
    // without a display and says that no instance answers.
    NoDisplayRig rig;
    EXPECT_EQ(rig.Start("velkon-headless", {"--status"}).code, 2);
    const ProgramRun status = rig.Start("velkon", {"--status"});
    EXPECT_EQ(status.code, 3);
    EXPECT_TRUE(status.err.contains("no running instance")) << status.err.toStdString();
    EXPECT_EQ(rig.Start("velkon", {"--send", "COM1", "[ACTIVATE]"}).code, 3);
    EXPECT_EQ(rig.Start("velkon", {"--monitor", "COM1"}).code, 3);
    EXPECT_EQ(rig.Start("velkon-headless", {"--monitor", "COM1"}).code, 2);
}

TEST(CommandLine, AConfigurationNamedWithALeadingDashIsReachable)
{
    const QStringList forms[] = {{"--", "-odd.vkc"}, {"./-odd.vkc"}};
    for (const QStringList& args : forms) {
        SCOPED_TRACE(args.join(' ').toStdString());
        NoDisplayRig rig;
        QFile odd(rig.home.path() + "/-odd.vkc");
        ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
        odd.write("[Velkon]\nNumSessions=3\nMainLeft=4321\n");
        odd.close();

        QProcess program;
        program.setProcessEnvironment(rig.env);
        program.setWorkingDirectory(rig.home.path());
        program.start(QString(VELKON_BINARY_DIR) + "/velkon-headless", args);
        ASSERT_TRUE(WaitFor([&] { return QFile::exists(rig.home.path() + "/run/command"); }))
            << program.readAllStandardError().toStdString();
        program.terminate();
        ASSERT_TRUE(program.waitForFinished(kWaitMs));
        EXPECT_EQ(program.exitCode(), 0);

        // The sessions read from -odd.vkc are saved to default.vkc at exit.
        QFile saved(rig.home.path() + "/default.vkc");
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QByteArray text = saved.readAll();
        EXPECT_TRUE(text.contains("NumSessions=3")) << text.toStdString();
        EXPECT_TRUE(text.contains("MainLeft=4321")) << text.toStdString();
    }

    // After "--" even a name like an option is a file name.
    NoDisplayRig rig;
    const ProgramRun missing = rig.Start("velkon-headless", {"--", "--version"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(
        missing.err.contains("the configuration " + rig.home.path() + "/--version does not exist"))
        << missing.err.toStdString();
}

}  // namespace
}  // namespace velkon::test
