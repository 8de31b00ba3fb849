#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include "E2eSupport.h"

namespace velkon::test {
namespace {

// The headless program with certificates of tests/tls/make_certificates.sh
// in <home>/certs; the peers are socat and plain sockets on loopback, each
// refused one from its own address, as refusals are logged per address.
struct TlsRig {
    TlsRig()
    {
        env = IsolatedEnvironment(home.path());
        QProcess make;
        make.setWorkingDirectory(Cert(""));
        QDir().mkpath(Cert(""));
        make.start("sh", {VELKON_SOURCE_DIR "/tests/tls/make_certificates.sh"});
        made = make.waitForFinished(30000) && make.exitCode() == 0;
    }
    QString Cert(const QString& name) const { return home.path() + "/certs/" + name; }
    void Start(const QByteArray& config)
    {
        QFile f(home.path() + "/default.vkc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(config);
        f.close();
        program.setProcessEnvironment(env);
        program.start(QString(VELKON_BINARY_DIR) + "/velkon-headless");
        ASSERT_TRUE(program.waitForStarted(10000));
    }
    // True once the program's output shows text.
    bool Shows(const QString& text)
    {
        return WaitFor([&] {
            out += QString::fromUtf8(program.readAllStandardOutput());
            return out.contains(text);
        });
    }
    QString Log() const
    {
        QFile log(home.path() + "/errorlog.txt");
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }
    bool Logs(const QString& text)
    {
        return WaitFor([&] { return Log().contains(text); });
    }
    QString Link(int com) const { return home.path() + "/run/COM" + QString::number(com); }

    QTemporaryDir home;
    QProcessEnvironment env;
    bool made = false;
    QProcess program;
    QString out;
};

std::unique_ptr<QProcess> Socat(const QString& first, const QString& second)
{
    auto p = std::make_unique<QProcess>();
    p->start("socat", {first, second});
    EXPECT_TRUE(p->waitForStarted(10000));
    return p;
}

QByteArray ReadProcess(QProcess& p, qsizetype count)
{
    QByteArray got;
    (void)WaitFor([&] {
        got += p.readAllStandardOutput();
        return got.size() >= count;
    });
    return got;
}

// Whether something listens on 127.0.0.1:port (from /proc, without
// connecting: socat without fork serves one connection only).
bool Listening(int port)
{
    QFile tcp("/proc/net/tcp");
    if (!tcp.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + " ";
    for (const QByteArray& line : tcp.readAll().split('\n')) {
        if (line.contains(wanted) && line.contains(" 0A "))
            return true;
    }
    return false;
}

QByteArray Section(int number, int com, int port, const QByteArray& rest)
{
    return "[Session" + QByteArray::number(number) + "]\nConnector=" + QByteArray::number(com) +
           "\nCreateVirtualPort=1\nLocalIP=127.0.0.1\nAutoActivate=1\nTls=1\nPortNumber=" +
           QByteArray::number(port) + "\n" + rest;
}

TEST(Tls, ServerSessionServesOnlyClientsOfItsAuthorityWithoutASilentOneHoldingTheSlot)
{
    TlsRig rig;
    ASSERT_TRUE(rig.made) << "openssl could not make the certificates";
    QFile::copy(rig.Cert("server.key"), rig.Cert("loose.key"));
    ::chmod(rig.Cert("loose.key").toLocal8Bit().constData(), 0640);
    const int port = FreeTcpPort();
    const QByteArray files = "TlsCertificate=" + rig.Cert("server.pem").toUtf8() +
                             "\nTlsKey=" + rig.Cert("server.key").toUtf8() + "\n";
    rig.Start("[Velkon]\nNumSessions=3\nLogErrors=1\n" +
              Section(1, 51, port,
                      "TCPOption=1\nAllowMultiConnect=0\nTlsCaFile=" + rig.Cert("ca.pem").toUtf8() +
                          "\n" + files) +
              Section(2, 52, FreeTcpPort(),
                      "TCPOption=1\nTlsCertificate=" + rig.Cert("server.pem").toUtf8() +
                          "\nTlsKey=" + rig.Cert("loose.key").toUtf8() + "\n") +
              Section(3, 53, FreeUdpPort(), "TCPOption=1\nUseUDP=1\n" + files));

    // What cannot be secured does not start, and says why.
    EXPECT_TRUE(rig.Shows("session 2 COM52 network: TCP/IP Status: Error - The TLS key file"))
        << rig.out.toStdString();
    EXPECT_TRUE(rig.out.contains("loose.key may be read by group or others (mode 0640)"));
    EXPECT_TRUE(
        rig.Shows("session 3 COM53 network: TCP/IP Status: Error - TLS cannot be used with UDP"));
    EXPECT_TRUE(rig.Logs("TLS cannot be used with UDP"));

    // A client that connects and says nothing; the session's one slot
    // stays free for the good client below.
    auto silent = ConnectWhenListening(port);
    ASSERT_EQ(silent->state(), QAbstractSocket::ConnectedState);
    QElapsedTimer silentFor;
    silentFor.start();

    QTcpSocket plain;
    plain.bind(QHostAddress("127.0.0.2"));
    plain.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    ASSERT_TRUE(plain.waitForConnected(kWaitMs));
    plain.write("hello\r\n");
    EXPECT_TRUE(WaitFor([&] { return plain.state() == QAbstractSocket::UnconnectedState; }));

    const QString target =
        "OPENSSL:127.0.0.1:" + QString::number(port) + ",cafile=" + rig.Cert("ca.pem") + ",bind=";
    auto anonymous = Socat("-", target + "127.0.0.3");
    auto stranger = Socat("-", target + "127.0.0.4,cert=" + rig.Cert("stranger.pem") +
                                   ",key=" + rig.Cert("stranger.key"));
    EXPECT_TRUE(rig.Logs("Client 127.0.0.2 refused - TLS handshake failed"));
    EXPECT_TRUE(rig.Logs("Client 127.0.0.3 refused - TLS handshake failed"));
    EXPECT_TRUE(
        rig.Logs("Client 127.0.0.4 refused - TLS handshake failed: certificate verify failed"));

    auto good = Socat("-", target + "127.0.0.5,cert=" + rig.Cert("client.pem") +
                               ",key=" + rig.Cert("client.key"));
    ASSERT_TRUE(rig.Shows("session 1 COM51 network: TCP/IP Status: (1)Connected"))
        << rig.out.toStdString() << rig.Log().toStdString();
    SerialEnd app;
    ASSERT_TRUE(app.Open(rig.Link(51).toStdString()));
    const QByteArray up = RandomBytes(96 * 1024, 31);
    ASSERT_TRUE(app.WriteAll(up));
    EXPECT_TRUE(ReadProcess(*good, up.size()) == up);
    const QByteArray down = RandomBytes(96 * 1024, 32);
    good->write(down);
    EXPECT_TRUE(app.Read(down.size()) == down);

    EXPECT_TRUE(WaitFor([&] { return silent->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_GE(silentFor.elapsed(), 9000);
    EXPECT_TRUE(rig.Logs("TLS handshake failed: no handshake within 10 s"));
    const QString log = rig.Log();
    EXPECT_TRUE(log.contains("wrong version number")) << log.toStdString();
    EXPECT_TRUE(log.contains("peer did not return a certificate")) << log.toStdString();
    EXPECT_TRUE(log.contains("unable to get local issuer certificate")) << log.toStdString();
}

TEST(Tls, ClientSessionTrustsOnlyAValidCertificateForItsAddress)
{
    TlsRig rig;
    ASSERT_TRUE(rig.made) << "openssl could not make the certificates";
    const int ports[3] = {FreeTcpPort(), FreeTcpPort(), FreeTcpPort()};
    std::unique_ptr<QProcess> servers[3];
    const char* certificates[3] = {"server", "expired", "misnamed"};
    QByteArray config = "[Velkon]\nNumSessions=3\nLogErrors=1\n";
    for (int i = 0; i < 3; ++i) {
        const QString name = certificates[i];
        servers[i] =
            Socat("OPENSSL-LISTEN:" + QString::number(ports[i]) +
                      ",bind=127.0.0.1,reuseaddr,verify=0,cert=" + rig.Cert(name + ".pem") +
                      ",key=" + rig.Cert(name + ".key"),
                  "-");
        ASSERT_TRUE(WaitFor([&] { return Listening(ports[i]); }));
        config += Section(i + 1, 61 + i, ports[i],
                          "TCPOption=0\nIPAddress=127.0.0.1\nConnectOnVirtualOpen=0\nTlsCaFile=" +
                              rig.Cert("ca.pem").toUtf8() + "\n");
    }
    rig.Start(config);

    ASSERT_TRUE(rig.Shows("session 1 COM61 network: TCP/IP Status: Connected"))
        << rig.out.toStdString() << rig.Log().toStdString();
    SerialEnd app;
    ASSERT_TRUE(app.Open(rig.Link(61).toStdString()));
    const QByteArray up = RandomBytes(96 * 1024, 41);
    ASSERT_TRUE(app.WriteAll(up));
    EXPECT_TRUE(ReadProcess(*servers[0], up.size()) == up);
    const QByteArray down = RandomBytes(96 * 1024, 42);
    servers[0]->write(down);
    EXPECT_TRUE(app.Read(down.size()) == down);

    EXPECT_TRUE(rig.Logs("TLS: certificate verify failed: certificate has expired"))
        << rig.Log().toStdString();
    EXPECT_TRUE(rig.Logs("TLS: certificate verify failed: IP address mismatch"))
        << rig.Log().toStdString();
    EXPECT_FALSE(rig.out.contains("session 2 COM62 network: TCP/IP Status: Connected"));
    EXPECT_FALSE(rig.out.contains("session 3 COM63 network: TCP/IP Status: Connected"));
}

}  // namespace
}  // namespace velkon::test
