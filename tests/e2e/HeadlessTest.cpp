#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "E2eSupport.h"
#include "shell/IniFile.h"

namespace velkon::test {
namespace {

struct HeadlessRig {
    HeadlessRig() { env = IsolatedEnvironment(home.path()); }
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

    auto client = ConnectWhenListening(port);
    ASSERT_EQ(client->state(), QAbstractSocket::ConnectedState);
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
        auto client = ConnectWhenListening(port);
        ASSERT_EQ(client->state(), QAbstractSocket::ConnectedState);
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

// Starts the program, waits until it serves commands, and ends it with
// SIGTERM, which saves default.vkc.
void RunUntilServing(HeadlessRig& rig, const QStringList& args = {})
{
    auto program = rig.Run(args);
    EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(rig.home.path() + "/run/command"); }))
        << program->readAllStandardError().toStdString();
    program->terminate();
    ASSERT_TRUE(program->waitForFinished(10000));
    EXPECT_EQ(program->exitCode(), 0);
}

mode_t ModeOf(const QString& path)
{
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

struct OpenUmask {
    OpenUmask() : saved(::umask(0)) {}
    ~OpenUmask() { ::umask(saved); }
    mode_t saved;
};

TEST(HeadlessFiles, SavesStayPrivateAndALinkedConfigurationStaysALink)
{
    OpenUmask openUmask;
    HeadlessRig fresh;
    RunUntilServing(fresh);
    EXPECT_EQ(ModeOf(fresh.home.path() + "/default.vkc"), 0644u);

    // A login response is a secret; default.vkc links to the real file.
    HeadlessRig rig;
    ASSERT_TRUE(QDir(rig.home.path()).mkdir("real"));
    rig.WriteConfig("real/bridges.vkc",
                    "[Velkon]\nNumSessions=1\n[Session1]\nPasswordPromptResponse=hunter2\n");
    QFile(rig.home.path() + "/real/bridges.vkc").setPermissions(QFileDevice::Permissions(0x6666));
    ASSERT_TRUE(QFile::link("real/bridges.vkc", rig.home.path() + "/default.vkc"));
    RunUntilServing(rig);
    EXPECT_TRUE(QFileInfo(rig.home.path() + "/default.vkc").isSymLink());
    QFile target(rig.home.path() + "/real/bridges.vkc");
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    const QByteArray saved = target.readAll();
    EXPECT_TRUE(saved.contains("PasswordPromptResponse=hunter2"));
    EXPECT_TRUE(saved.contains("AutoActivate=0"));  // written by this save
    EXPECT_EQ(ModeOf(target.fileName()), 0600u);
}

TEST(HeadlessFiles, StartRemovesOnlyItsOwnUnusedSaveLeftovers)
{
    HeadlessRig rig;
    rig.WriteConfig("default.vkc", "[Velkon]\nNumSessions=1\n");
    for (const char* name : {"default.vkc.Ab3dE9", "default.vkc.x1", "other.vkc.Ab3dE9",
                             "default.vkc.InUse1", "notes.txt"}) {
        rig.WriteConfig(name, "left");
    }
    // A save in progress elsewhere holds its temporary file locked.
    const QByteArray busy = (rig.home.path() + "/default.vkc.InUse1").toLocal8Bit();
    const int fd = ::open(busy.constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    RunUntilServing(rig);
    ::close(fd);
    const QStringList left = QDir(rig.home.path()).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(left, (QStringList{"default.vkc", "default.vkc.InUse1", "default.vkc.x1", "notes.txt",
                                 "other.vkc.Ab3dE9"}));
}

TEST(HeadlessFiles, ANamedConfigurationThatIsNoFileIsRefusedAtOnce)
{
    HeadlessRig rig;
    const QString fifo = rig.home.path() + "/pipe.vkc";
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QDir(rig.home.path()).mkdir("folder.vkc"));
    const std::pair<QString, QString> cases[] = {
        {fifo, "named pipe"}, {"/dev/zero", "device"}, {rig.home.path() + "/folder.vkc", "folder"}};
    for (const auto& [path, reason] : cases) {
        auto program = rig.Run({path});
        ASSERT_TRUE(program->waitForFinished(10000)) << path.toStdString();
        EXPECT_EQ(program->exitCode(), 1) << path.toStdString();
        const QString errors = QString::fromLocal8Bit(program->readAllStandardError());
        EXPECT_TRUE(errors.contains(path + " is a " + reason)) << errors.toStdString();
    }
}

}  // namespace
}  // namespace velkon::test
