#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "E2eSupport.h"
#include "Version.h"

namespace velkon::test {
namespace {

// The value of "Key=" in an installed unit or desktop entry.
QString EntryValue(const QString& path, const QString& key)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QRegularExpression line("^" + key + "=(.*)$", QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(f.readAll())).captured(1);
}

// One installation into a temporary prefix, shared by the tests below.
class InstalledCopy : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        root = new QTemporaryDir;
        // A blank in the prefix, as in a folder a user picked.
        prefix = root->path() + "/opt/Velkon Bridge";
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStandardPaths::findExecutable("cmake"),
                      {"--install", VELKON_BINARY_DIR, "--prefix", prefix});
        installed = install.waitForFinished(120000) && install.exitCode() == 0;
        installLog = QString::fromLocal8Bit(install.readAll());
    }
    static void TearDownTestSuite() { delete root; }

    void SetUp() override { ASSERT_TRUE(installed) << installLog.toStdString(); }

    // Runs the installed headless program with a home of its own until it
    // serves its command socket, then ends it with SIGTERM.
    QString RunInstalled(const QProcessEnvironment& env, const QString& runtime)
    {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(prefix + "/bin/velkon-headless", {});
        EXPECT_TRUE(program.waitForStarted(10000));
        EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(runtime + "/command"); }))
            << program.readAllStandardError().toStdString();
        program.terminate();
        EXPECT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitCode(), 0);
        return QString::fromLocal8Bit(program.readAllStandardError());
    }

    QProcessEnvironment HomeEnvironment(const QString& home) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("VELKON_HOME");
        env.remove("XDG_CONFIG_HOME");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("HOME", home);
        env.insert("VELKON_RUNTIME_DIR", home + "/run");
        return env;
    }

    static QTemporaryDir* root;
    static QString prefix;
    static bool installed;
    static QString installLog;
};

QTemporaryDir* InstalledCopy::root = nullptr;
QString InstalledCopy::prefix;
bool InstalledCopy::installed = false;
QString InstalledCopy::installLog;

TEST_F(InstalledCopy, UnitAndMenuEntryStartTheInstalledPrograms)
{
    const QString unit = prefix + "/lib/systemd/system/velkon-headless.service";
    const QString exec = prefix + "/bin/velkon-headless";
    EXPECT_EQ(EntryValue(unit, "ExecStart"), "\"" + exec + "\"");
    EXPECT_TRUE(QFileInfo(exec).isExecutable()) << exec.toStdString();

    const QString entry = prefix + "/share/applications/velkon.desktop";
    EXPECT_EQ(EntryValue(entry, "Exec"), "\"" + prefix + "/bin/velkon\"");
    EXPECT_TRUE(QFileInfo(prefix + "/bin/velkon").isExecutable());

    for (const char* manual : {"velkon.html", "velkon.ja.html"})
        EXPECT_TRUE(QFileInfo::exists(prefix + "/share/doc/velkon/" + manual)) << manual;
    // Manual pages carry the project's version.
    for (const char* page : {"man1/velkon.1", "man8/velkon-headless.8"}) {
        QFile f(prefix + "/share/man/" + page);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << page;
        EXPECT_TRUE(f.readLine().contains(QByteArray("\"Velkon ") + kVersionText + "\"")) << page;
    }
}

TEST_F(InstalledCopy, UnitPassesSystemdChecksAndStaysConfined)
{
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    const QString unit = prefix + "/lib/systemd/system/velkon-headless.service";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Documentation= names the manual page of this prefix.
    env.insert("MANPATH", prefix + "/share/man");
    const auto run = [&](const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(analyze, args);
        const bool done = p.waitForFinished(60000);
        return std::make_pair(done ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll()));
    };

    const auto [verified, messages] = run({"verify", unit});
    EXPECT_EQ(verified, 0) << messages.toStdString();
    EXPECT_EQ(messages, "") << messages.toStdString();

    const auto [rated, table] = run({"security", "--offline=yes", "--no-pager", unit});
    EXPECT_EQ(rated, 0) << table.toStdString();
    const QRegularExpression level("Overall exposure level for \\S+: ([0-9.]+)");
    const QRegularExpressionMatch match = level.match(table);
    ASSERT_TRUE(match.hasMatch()) << table.toStdString();
    EXPECT_LE(match.captured(1).toDouble(), 2.5) << table.toStdString();
}

TEST_F(InstalledCopy, ConfigurationGoesToTheUsersConfigFolder)
{
    // Without XDG_CONFIG_HOME: ~/.config/velkon, private to the user.
    const QString home = root->path() + "/home1";
    QDir().mkpath(home);
    RunInstalled(HomeEnvironment(home), home + "/run");
    const QString folder = home + "/.config/velkon";
    EXPECT_TRUE(QFileInfo::exists(folder + "/default.vkc"));
    struct stat st {};
    ASSERT_EQ(::stat(folder.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(QFileInfo::exists(prefix + "/bin/default.vkc"));

    // With XDG_CONFIG_HOME, the next start finds what the last one saved.
    const QString other = root->path() + "/home2";
    QDir().mkpath(other + "/xdg/velkon");
    QFile saved(other + "/xdg/velkon/default.vkc");
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
    saved.write("[Velkon]\nNumSessions=3\n");
    saved.close();
    QProcessEnvironment env = HomeEnvironment(other);
    env.insert("XDG_CONFIG_HOME", other + "/xdg");
    RunInstalled(env, other + "/run");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("NumSessions=3"));
    EXPECT_FALSE(QFileInfo::exists(other + "/.config/velkon"));
}

TEST_F(InstalledCopy, UnusableConfigFolderIsReportedAndTheProgramRuns)
{
    const QString home = root->path() + "/home3";
    QDir().mkpath(home);
    QFile plain(home + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    QProcessEnvironment env = HomeEnvironment(home);
    env.insert("XDG_CONFIG_HOME", home + "/plain/config");
    const QString errors = RunInstalled(env, home + "/run");
    EXPECT_TRUE(errors.contains(home + "/plain/config/velkon cannot be created: " + home +
                                "/plain is not a folder"))
        << errors.toStdString();
    EXPECT_TRUE(errors.contains("will not be saved")) << errors.toStdString();
}

}  // namespace
}  // namespace velkon::test
