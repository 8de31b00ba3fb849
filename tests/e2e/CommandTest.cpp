#include <gtest/gtest.h>

#include <QProcess>

#include "session/TrafficFeed.h"

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

// A client run that goes on while the test drives the program.
std::unique_ptr<QProcess> StartClient(const QString& runtime, const QString& program,
                                      const QStringList& args)
{
    auto client = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELKON_RUNTIME_DIR", runtime);
    env.insert("PATH", QString(VELKON_BINARY_DIR) + ":" + env.value("PATH"));
    env.remove("DISPLAY");
    client->setProcessEnvironment(env);
    client->start(program, args);
    return client;
}

// The bytes that monitor lines show in each direction, and the events.
struct MonitorView {
    QByteArray toNetwork;
    QByteArray toSerial;
    QStringList events;
};

MonitorView ReadMonitorLines(const QByteArray& text)
{
    MonitorView view;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const QByteArray rest = line.mid(13);
        if (rest.startsWith("-- ")) {
            view.events << QString::fromUtf8(rest.mid(3));
            continue;
        }
        QByteArray& bytes = rest.startsWith("S>N ") ? view.toNetwork : view.toSerial;
        const int gap = rest.indexOf("  ", 4);
        EXPECT_TRUE(line.at(12) == ' ' && gap > 4) << line.toStdString();
        for (const QByteArray& pair : rest.mid(4, gap - 4).split(' '))
            bytes.append(static_cast<char>(pair.toInt(nullptr, 16)));
    }
    return view;
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

TEST(CommandSocket, MonitorShowsEveryByteBothWaysAcrossAReactivation)
{
    ProgramRig rig;
    const int port = FreeTcpPort();
    rig.WriteFile("default.vkc", QString(kTwoSessions).arg(port).toUtf8());
    rig.Start();
    const QString runtime = rig.Path("run");
    EXPECT_EQ(Client(runtime, {"--monitor", "COM9"}).code, 2);

    auto monitor =
        StartClient(runtime, QString(VELKON_BINARY_DIR) + "/velkon", {"--monitor", "com41"});
    Session& session = *rig.shell().SessionAt(1);
    ASSERT_TRUE(WaitFor([&] { return session.traffic().Watched(); }));
    EXPECT_EQ(Client(runtime, {"--send", "COM41", "[ACTIVATE]"}).code, 0);
    SerialEnd app;
    ASSERT_TRUE(app.Open(rig.Path("run/COM41").toStdString()));
    auto client = ConnectTcp(port);
    QByteArray all;
    for (int v = 0; v < 256; ++v)
        all.append(static_cast<char>(v));
    ASSERT_TRUE(app.WriteAll(all));
    EXPECT_EQ(ReadTcp(*client, all.size()), all);
    client->write(all);
    EXPECT_EQ(app.Read(all.size()), all);

    // The lines arrive while the program runs, not at the monitor's end.
    QByteArray out;
    const auto shows = [&](auto condition) {
        return WaitFor([&] {
            out += monitor->readAllStandardOutput();
            return condition(ReadMonitorLines(out));
        });
    };
    ASSERT_TRUE(shows([&](const MonitorView& v) { return v.toSerial.size() >= all.size(); }))
        << out.toStdString();
    MonitorView view = ReadMonitorLines(out);
    EXPECT_EQ(view.toNetwork, all);
    EXPECT_EQ(view.toSerial, all);
    ASSERT_EQ(view.events.size(), 2);
    EXPECT_EQ(view.events[0], "activated");
    EXPECT_TRUE(view.events[1].startsWith("client 127.0.0.1:") &&
                view.events[1].endsWith(" connected"))
        << view.events[1].toStdString();
    // Only printable ASCII and line feeds reach the terminal.
    for (const char c : out)
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7e)) << int(c);

    EXPECT_EQ(Client(runtime, {"--send", "COM41", "[DEACTIVATE]"}).code, 0);
    EXPECT_EQ(Client(runtime, {"--send", "COM41", "[ACTIVATE]"}).code, 0);
    auto again = ConnectTcp(port);
    again->write("again");
    ASSERT_TRUE(shows([&](const MonitorView& v) { return v.toSerial.endsWith("again"); }))
        << out.toStdString();
    view = ReadMonitorLines(out);
    EXPECT_TRUE(view.events.contains("deactivated")) << view.events.join('|').toStdString();
    EXPECT_EQ(view.events.count("activated"), 2);

    // A reader that goes away (head) ends its monitor quietly with 0.
    auto head = StartClient(runtime, "bash",
                            {"-c",
                             "velkon --monitor COM41 | head -n 1 >/dev/null; "
                             "exit ${PIPESTATUS[0]}"});
    // Client events and bytes give it lines until it is done.
    auto third = ConnectTcp(port);
    EXPECT_TRUE(WaitFor([&] {
        third->write("x");
        return head->state() == QProcess::NotRunning;
    }));
    EXPECT_EQ(head->exitCode(), 0);
    EXPECT_EQ(head->readAllStandardError(), "");

    rig.main().close();
    rig.program.reset();
    ASSERT_TRUE(WaitFor([&] { return monitor->state() == QProcess::NotRunning; }));
    EXPECT_EQ(monitor->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor->exitCode(), 0);
    EXPECT_EQ(Client(runtime, {"--monitor", "COM41"}).code, 3);
}

}  // namespace
}  // namespace velkon::test
