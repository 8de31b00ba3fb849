#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>

#include "E2eSupport.h"
#include "shell/IniFile.h"

namespace velkon::test {
namespace {

struct HeadlessRig {
    HeadlessRig()
    {
        env = QProcessEnvironment::systemEnvironment();
        env.insert("VELKON_HOME", home.path());
        env.insert("VELKON_RUNTIME_DIR", home.path() + "/run");
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
    }
    void WriteConfig(const QString& name, const std::string& text)
    {
        QFile f(home.path() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(text));
    }
    std::unique_ptr<QProcess> Run(const QStringList& args = {})
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->start(QString(VELKON_BINARY_DIR) + "/velkon-headless", args);
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }
    QString Link(int com) const { return home.path() + "/run/COM" + QString::number(com); }

    QTemporaryDir home;
    QProcessEnvironment env;
};

std::string ServerConfig(int com, int port)
{
    return "[Velkon]\nNumSessions=2\nMainLeft=4321\n[Session1]\nConnector=" + std::to_string(com) +
           "\nCreateVirtualPort=1\nTCPOption=1\nLocalIP=127.0.0.1\nPortNumber=" +
           std::to_string(port) + "\nBufferSize=6\nAutoActivate=1\n[Session2]\nConnector=0\n";
}

TEST(Headless, BridgesReportsStatusAndSavesOnTerminate)
{
    HeadlessRig rig;
    const int port = FreeTcpPort();
    rig.WriteConfig("default.vkc", ServerConfig(31, port));
    auto program = rig.Run();

    std::unique_ptr<QTcpSocket> client;
    ASSERT_TRUE(WaitFor([&] {
        client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        return client->waitForConnected(200);
    }));
    // Without buffering, serial bytes are dropped until the client is
    // served: the program must have taken the connection, not just the kernel.
    QString out;
    ASSERT_TRUE(WaitFor([&] {
        out += QString::fromUtf8(program->readAllStandardOutput());
        return out.contains("(1)Connected");
    }));
    SerialEnd app;
    ASSERT_TRUE(WaitFor([&] { return app.Open(rig.Link(31).toStdString()); }));

    const QByteArray up = RandomBytes(256 * 1024, 5);
    ASSERT_TRUE(app.WriteAll(up));
    EXPECT_TRUE(ReadTcp(*client, up.size()) == up);
    const QByteArray down = RandomBytes(256 * 1024, 6);
    client->write(down);
    EXPECT_TRUE(app.Read(down.size()) == down);

    program->terminate();
    ASSERT_TRUE(program->waitForFinished(10000));
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 0);
    out += QString::fromUtf8(program->readAllStandardOutput());
    EXPECT_TRUE(out.contains("session 1 COM31 serial: Virtual Port COM31 created"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("session 1 COM31 network: TCP/IP Status: Listening..."))
        << out.toStdString();
    EXPECT_TRUE(out.contains("session 1 COM31 network: TCP/IP Status: (1)Connected"))
        << out.toStdString();

    QFile saved(rig.home.path() + "/default.vkc");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const IniFile file = IniFile::Parse(saved.readAll().toStdString());
    EXPECT_EQ(file.ReadInt("Velkon", "NumSessions", -1), 2);
    EXPECT_EQ(file.ReadInt("Velkon", "MainLeft", -1), 4321);
    EXPECT_EQ(file.ReadInt("Session1", "AutoActivate", -1), 1);
    struct stat st {};
    EXPECT_NE(::lstat(rig.Link(31).toStdString().c_str(), &st), 0);
}

TEST(Headless, BytesTakenInAreDeliveredBeforeTheProgramEnds)
{
    for (const bool appReads : {true, false}) {
        SCOPED_TRACE(appReads);
        HeadlessRig rig;
        const int port = FreeTcpPort();
        rig.WriteConfig("default.vkc",
                        "[Velkon]\nLogErrors=1\n" + ServerConfig(33, port).substr(9));
        auto program = rig.Run();
        std::unique_ptr<QTcpSocket> client;
        ASSERT_TRUE(WaitFor([&] {
            client = std::make_unique<QTcpSocket>();
            client->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            return client->waitForConnected(200);
        }));
        SerialEnd app;
        ASSERT_TRUE(WaitFor([&] { return app.Open(rig.Link(33).toStdString()); }));
        ASSERT_TRUE(WaitFor([&] { return app.WriteAll("h") && client->waitForReadyRead(50); }));

        // The application stops reading; the bytes wait in the program.
        const QByteArray down = RandomBytes(192 * 1024, 8);
        client->write(down);
        ASSERT_TRUE(WaitFor(
            [&] { return client->bytesToWrite() == 0 && !client->waitForBytesWritten(10); }));
        program->terminate();
        if (appReads) {
            EXPECT_TRUE(app.Read(down.size()) == down);
        }
        ASSERT_TRUE(program->waitForFinished(10000));
        EXPECT_EQ(program->exitCode(), 0);

        QFile log(rig.home.path() + "/errorlog.txt");
        const QString text =
            log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
        EXPECT_EQ(text.contains("bytes not delivered before the program ended"), !appReads)
            << text.toStdString();
    }
}

TEST(Headless, RefusesWhatCannotWork)
{
    HeadlessRig rig;
    const int port = FreeTcpPort();
    rig.WriteConfig("default.vkc", ServerConfig(32, port));
    auto first = rig.Run();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(rig.Link(32)); }));

    auto second = rig.Run();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_NE(second->exitCode(), 0);
    EXPECT_TRUE(second->readAllStandardError().contains("another instance"));
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_EQ(first->exitCode(), 0);

    auto missing = rig.Run({rig.home.path() + "/nosuch.vkc"});
    ASSERT_TRUE(missing->waitForFinished(10000));
    EXPECT_EQ(missing->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(missing->exitCode(), 1);
    EXPECT_TRUE(missing->readAllStandardError().contains("does not exist"));

    ASSERT_TRUE(QDir(rig.home.path()).mkdir("folder.vkc"));
    auto folder = rig.Run({rig.home.path() + "/folder.vkc"});
    ASSERT_TRUE(folder->waitForFinished(10000));
    EXPECT_EQ(folder->exitCode(), 1);
    EXPECT_TRUE(folder->readAllStandardError().contains("cannot read"));

    rig.WriteConfig("plainfile", "x");
    rig.env.insert("VELKON_RUNTIME_DIR", rig.home.path() + "/plainfile/run");
    auto noRuntime = rig.Run();
    ASSERT_TRUE(noRuntime->waitForFinished(10000));
    EXPECT_EQ(noRuntime->exitCode(), 1);
    EXPECT_TRUE(noRuntime->readAllStandardError().contains("runtime folder"));
}

}  // namespace
}  // namespace velkon::test
