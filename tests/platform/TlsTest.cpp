#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "PlatformTestSupport.h"

#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "network/QtSocketArray.h"
#include "network/TlsContext.h"

namespace velkon {
namespace {

using test::WaitFor;

// The certificates of tests/tls/make_certificates.sh, made once per run.
const std::string& CertificateFolder()
{
    static QTemporaryDir dir;
    static const bool made = std::system(("cd '" + dir.path().toStdString() +
                                          "' && sh '" VELKON_SOURCE_DIR
                                          "/tests/tls/make_certificates.sh' >/dev/null 2>&1")
                                             .c_str()) == 0;
    static const std::string path = made ? dir.path().toStdString() + "/" : std::string();
    return path;
}

TlsOptions Server(const std::string& certificate = "server", const std::string& key = "server")
{
    TlsOptions options;
    options.enabled = true;
    options.certificateFile = CertificateFolder() + certificate + ".pem";
    options.keyFile = CertificateFolder() + key + ".key";
    return options;
}

std::string Refusal(const TlsOptions& options)
{
    std::shared_ptr<const TlsContext> context;
    const Result r = TlsContext::Load(options, context);
    EXPECT_EQ(r.ok(), context != nullptr);
    return r.ok() ? std::string("loaded") : r.description();
}

TEST(TlsContextTest, RefusesFilesThatCannotServeAndSaysWhy)
{
    ASSERT_FALSE(CertificateFolder().empty()) << "openssl could not make the certificates";
    EXPECT_EQ(Refusal(Server()), "loaded");

    EXPECT_NE(Refusal(Server("absent")).find("absent.pem cannot be used: No such file"),
              std::string::npos);
    EXPECT_NE(Refusal(Server("server", "client")).find("client.key does not match"),
              std::string::npos);
    TlsOptions noKey = Server();
    noKey.keyFile.clear();
    EXPECT_NE(Refusal(noKey).find("needs a certificate file and a key file"), std::string::npos);
    TlsOptions notPem = Server();
    notPem.certificateFile = CertificateFolder() + "server.ext";
    EXPECT_NE(Refusal(notPem).find("server.ext cannot be used"), std::string::npos);

    const std::string key = CertificateFolder() + "server.key";
    for (const mode_t mode : {0640, 0644, 0604}) {
        ASSERT_EQ(::chmod(key.c_str(), mode), 0);
        EXPECT_NE(Refusal(Server()).find("may be read by group or others"), std::string::npos)
            << std::oct << mode;
    }
    ASSERT_EQ(::chmod(key.c_str(), 0600), 0);

    // A client needs nothing of its own; an authority it is given must be usable.
    TlsOptions client;
    client.enabled = true;
    client.serverName = "127.0.0.1";
    EXPECT_EQ(Refusal(client), "loaded");
    client.caFile = CertificateFolder() + "nothing.pem";
    EXPECT_NE(Refusal(client).find("nothing.pem cannot be used"), std::string::npos);
}

// One side of a TLS connection pair: records what arrives, taking at most
// maxPerEvent bytes per arrival so that the receive limit is reached.
struct Side {
    QtSocketArray array;
    Bytes received;
    std::vector<long> requests;
    std::vector<std::string> errors;
    std::vector<std::string> refusals;
    bool connected = false;
    bool closed = false;
    int maxPerEvent = 700;

    Side()
    {
        SocketEvents events;
        events.connect = [this](int) { connected = true; };
        events.close = [this](int) { closed = true; };
        events.connectionRequest = [this](int, long id) { requests.push_back(id); };
        events.dataArrival = [this](int i, int) {
            Bytes chunk;
            array.GetData(i, chunk, maxPerEvent);
            received.insert(received.end(), chunk.begin(), chunk.end());
        };
        events.error = [this](int, int number, const std::string& text) {
            errors.push_back(std::to_string(number) + " " + text);
        };
        events.refused = [this](int, const std::string& address, const std::string& reason) {
            refusals.push_back(address + " " + reason);
        };
        array.setEvents(std::move(events));
    }
};

Bytes Random(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(generator());
    return bytes;
}

TEST(TlsSocketArrayTest, BytesPassBothWaysInSmallTakesAndQueuedBytesOutliveTheClose)
{
    ASSERT_FALSE(CertificateFolder().empty());
    Side server;
    TlsOptions serving = Server();
    serving.caFile = CertificateFolder() + "ca.pem";
    ASSERT_TRUE(server.array.SetTls(0, serving).ok());
    ASSERT_TRUE(server.array.Bind(0, 0, "127.0.0.1").ok());
    ASSERT_TRUE(server.array.Listen(0).ok());

    Side client;
    TlsOptions connecting = Server("client", "client");
    connecting.caFile = CertificateFolder() + "ca.pem";
    connecting.serverName = "127.0.0.1";
    ASSERT_TRUE(client.array.SetTls(0, connecting).ok());
    client.array.SetRemoteHost(0, "127.0.0.1");
    client.array.SetRemotePort(0, server.array.LocalPort(0));
    ASSERT_TRUE(client.array.Connect(0).ok());
    ASSERT_TRUE(WaitFor([&] { return client.connected && !server.requests.empty(); }))
        << (client.errors.empty() ? "" : client.errors.front());
    ASSERT_TRUE(server.array.Load(1).ok());
    ASSERT_TRUE(server.array.Accept(1, server.requests.front()).ok());

    // More than the receive limit each way, taken in small pieces: bytes
    // OpenSSL decrypted ahead must not stall.
    const Bytes up = Random(1024 * 1024, 1);
    const Bytes down = Random(1024 * 1024, 2);
    ASSERT_TRUE(client.array.SendData(0, up).ok());
    ASSERT_TRUE(server.array.SendData(1, down).ok());
    ASSERT_TRUE(WaitFor(
        [&] {
            return server.received.size() >= up.size() && client.received.size() >= down.size();
        },
        60000));
    EXPECT_TRUE(server.received == up);
    EXPECT_TRUE(client.received == down);

    // Closed at once with bytes still queued: they follow encrypted, then
    // the close.
    const Bytes last = Random(512 * 1024, 3);
    server.received.clear();
    ASSERT_TRUE(client.array.SendData(0, last).ok());
    ASSERT_TRUE(client.array.Close(0).ok());
    ASSERT_TRUE(WaitFor([&] { return server.closed || !server.errors.empty(); }, 60000));
    EXPECT_TRUE(server.errors.empty()) << server.errors.front();
    EXPECT_TRUE(server.received == last) << server.received.size();
}

}  // namespace
}  // namespace velkon
