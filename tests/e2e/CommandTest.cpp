#include <gtest/gtest.h>

#include <QProcess>

#include "E2eSupport.h"

namespace velkon::test {
namespace {

// Runs "velkon ARGS" as a client of the instance in the given runtime folder.
struct ClientRun {
    int code = -1;
    QString out;
};

ClientRun Client(const QString& runtime, const QStringList& args)
{
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELKON_RUNTIME_DIR", runtime);
    env.remove("DISPLAY");
    client.setProcessEnvironment(env);
    client.start(QString(VELKON_BINARY_DIR) + "/velkon", args);
    ClientRun run;
    // The instance runs on this thread's event loop in some tests: keep it going.
    if (!WaitFor([&] { return client.state() == QProcess::NotRunning; }))
        return run;
    run.code = client.exitCode();
    run.out = QString::fromUtf8(client.readAllStandardOutput());
    return run;
}

const char* const kTwoSessions =
    "[Velkon]\nNumSessions=2\n[Session1]\nConnector=41\nCreateVirtualPort=1\nTCPOption=1\n"
    "LocalIP=127.0.0.1\nPortNumber=%1\n[Session2]\nConnector=0\n";

TEST(CommandSocket, DrivesTheSessionsOfARunningDesktopProgram)
{
    ProgramRig rig;
    const int port = FreeTcpPort();
    rig.WriteFile("default.vkc", QString(kTwoSessions).arg(port).toUtf8());
    rig.Start();
    ASSERT_NE(rig.program->commands(), nullptr);
    const QString runtime = rig.Path("run");

    ClientRun status = Client(runtime, {"--status"});
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(status.out,
              "1\tCOM41\tinactive\tCOM Status:\tTCP/IP Status:\tplain\t0\t0\t0\t0\t0\n"
              "2\tNone\tinactive\tCOM Status:\tTCP/IP Status:\tplain\t0\t0\t0\t0\t0\n");

    EXPECT_EQ(Client(runtime, {"--send", "COM41", "[ACTIVATE]"}).code, 0);
    EXPECT_TRUE(rig.shell().SessionAt(1)->IsActive());
    auto client = ConnectTcp(port);
    EXPECT_EQ(client->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(Client(runtime, {"--send", "COM41", "[ACTIVATE]"}).code, 1);
    EXPECT_EQ(Client(runtime, {"--send", "COM41", "[COMSETTINGS=19200,", "E,7,2]"}).code, 0);
    // The words join with one blank: the blank before E keeps the parity.
    EXPECT_EQ(rig.shell().SessionAt(1)->SerialSettingsText(), "19200,N,7,2");
    EXPECT_EQ(Client(runtime, {"--send", "COM9", "[ACTIVATE]"}).code, 2);
    EXPECT_EQ(Client(runtime, {"--send", "None", "[ACTIVATE]"}).code, 0);
    // Bytes from the client wait for an application on the virtual port;
    // they count as received, not yet as written.
    client->write("hello");
    const QString active =
        "1\tCOM41\tactive\tVirtual Port COM41 created\tTCP/IP Status: (1)Connected\tplain"
        "\t0\t0\t5\t0\t1\n";
    for (int i = 0; i < 100 && !status.out.startsWith(active); ++i) {
        client->waitForBytesWritten(100);
        QTest::qWait(50);
        status = Client(runtime, {"--status"});
    }
    EXPECT_TRUE(status.out.startsWith(active)) << status.out.toStdString();
    EXPECT_EQ(Client(runtime, {"--send", "COM41", "[DEACTIVATE]"}).code, 0);
    EXPECT_FALSE(rig.shell().SessionAt(1)->IsActive());

    rig.main().close();
    rig.program.reset();
    EXPECT_EQ(Client(runtime, {"--status"}).code, 3);
}

TEST(CommandSocket, HeadlessProgramAnswersOverTheSocketAndASecondDesktopLeavesItAlone)
{
    QTemporaryDir home;
    const int port = FreeTcpPort();
    {
        QFile f(home.path() + "/default.vkc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QString(kTwoSessions).arg(port).toUtf8());
    }
    QProcess headless;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELKON_HOME", home.path());
    env.insert("VELKON_RUNTIME_DIR", home.path() + "/run");
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    headless.setProcessEnvironment(env);
    headless.start(QString(VELKON_BINARY_DIR) + "/velkon-headless", {});
    ASSERT_TRUE(headless.waitForStarted(10000));
    const QString runtime = home.path() + "/run";
    ASSERT_TRUE(WaitFor([&] { return Client(runtime, {"--status"}).code == 0; }));

    // A desktop program on the same runtime folder starts without a socket.
    {
        qputenv("VELKON_RUNTIME_DIR", runtime.toLocal8Bit());
        FakePrompts prompts;
        QTemporaryDir desktopHome;
        DesktopProgram second(prompts, desktopHome.path().toStdString());
        second.Start("");
        EXPECT_EQ(second.commands(), nullptr);
    }

    EXPECT_EQ(Client(runtime, {"--send", "COM41", "[ACTIVATE]"}).code, 0);
    auto client = ConnectTcp(port);
    EXPECT_EQ(client->state(), QAbstractSocket::ConnectedState);
    EXPECT_TRUE(Client(runtime, {"--status"}).out.contains("1\tCOM41\tactive\t"));

    headless.terminate();
    ASSERT_TRUE(headless.waitForFinished(10000));
    EXPECT_EQ(headless.exitCode(), 0);
}

}  // namespace
}  // namespace velkon::test
