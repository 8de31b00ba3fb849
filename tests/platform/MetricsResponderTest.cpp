// The metrics page over HTTP, read by the Prometheus client's own parser.

#include <QProcess>
#include <QTcpServer>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "metrics/MetricsServer.h"
#include "shell/MetricsPage.h"

namespace velkon::test {
namespace {

// The system's Python, which has the Debian packages.
constexpr const char* kPython = "/usr/bin/python3";

// Fetches /metrics and prints every sample as "type name labels value",
// then the status of a wrong path and of a wrong method.
const char* const kScrape = R"(
import sys, urllib.request, urllib.error
from prometheus_client.parser import text_string_to_metric_families
base = sys.argv[1]
def fetch(method, path):
    try:
        with urllib.request.urlopen(urllib.request.Request(base + path, method=method), timeout=5) as r:
            return r.status, r.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, ''
code, body = fetch('GET', '/metrics')
print(code)
for family in text_string_to_metric_families(body):
    for s in family.samples:
        labels = ','.join(k + '=' + v for k, v in sorted(s.labels.items()))
        print(family.type, s.name, labels, int(s.value))
print(fetch('GET', '/other')[0])
print(fetch('POST', '/metrics')[0])
)";

bool HasPrometheusClient()
{
    return QProcess::execute(kPython, {"-c", "import prometheus_client"}) == 0;
}

// Runs the script while the event loop serves the page.
std::string RunScrape(int port)
{
    QProcess python;
    python.start(kPython, {"-c", kScrape, QString("http://127.0.0.1:%1").arg(port)});
    EXPECT_TRUE(WaitFor([&] { return python.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return python.readAllStandardOutput().toStdString();
}

TEST(MetricsResponder, PrometheusReadsThePageAndOtherRequestsAreRefused)
{
    if (!HasPrometheusClient())
        GTEST_SKIP()
            << "/usr/bin/python3 with prometheus_client (python3-prometheus-client) is missing";
    SessionMetrics s;
    s.number = 2;
    s.topic = "COM\"7\\";
    s.counters.networkSent = 4096;
    s.clients = 2;
    s.serialStatus = "open";
    s.networkStatus = "2 clients";
    MetricsResponder responder([&] { return MetricsPage({s}); });
    ASSERT_TRUE(responder.Listen("127.0.0.1", 0).ok());

    const std::string out = RunScrape(responder.Port());
    const std::string labels = "session=2,topic=COM\"7\\";
    EXPECT_EQ(out.rfind("200\n", 0), 0u) << out;
    EXPECT_NE(out.find("counter velkon_network_sent_bytes_total " + labels + " 4096\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("counter velkon_dropped_bytes_total " + labels + " 0\n"), std::string::npos);
    EXPECT_NE(out.find("gauge velkon_clients " + labels + " 2\n"), std::string::npos);
    EXPECT_NE(
        out.find("gauge velkon_session_status network=2 clients,serial=open," + labels + " 1\n"),
        std::string::npos)
        << out;
    EXPECT_EQ(out.substr(out.size() - 8), "404\n405\n");
}

TEST(MetricsResponder, OversizedRequestIsAnsweredAndClosed)
{
    MetricsResponder responder([] { return std::string("x"); });
    ASSERT_TRUE(responder.Listen("127.0.0.1", 0).ok());
    const int fd = ConnectLoopback(responder.Port());
    ASSERT_GE(fd, 0);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    // One write, so all of it is read before the answer closes the connection.
    ASSERT_TRUE(WriteAll(fd, Bytes(MetricsResponder::kMaxRequestBytes + 1, 'a')));
    Bytes answer;
    bool closed = false;
    EXPECT_TRUE(WaitFor([&] {
        AppendAvailable(fd, answer);
        std::uint8_t probe;
        const ssize_t n = ::read(fd, &probe, 1);
        closed = closed || n == 0 || (n < 0 && errno != EAGAIN);
        return closed;
    }));
    ::close(fd);
    const std::string text(answer.begin(), answer.end());
    EXPECT_EQ(text.rfind("HTTP/1.1 431 ", 0), 0u) << text;
}

TEST(MetricsServer, FollowsTheOptionsAndReportsABusyPortOnce)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    std::vector<std::string> reports;
    MetricsServer server([] { return std::string(); },
                         [&](const std::string& r) { reports.push_back(r); });
    GlobalSettings options;
    options.MetricsPort = taken.serverPort();
    server.Follow(options);
    server.Follow(options);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("127.0.0.1:" + std::to_string(options.MetricsPort)),
              std::string::npos)
        << reports[0];
    EXPECT_FALSE(server.responder().IsListening());

    taken.close();
    options.MetricsAddress = "127.0.0.2";
    server.Follow(options);
    EXPECT_TRUE(server.responder().IsListening());
    options.MetricsPort = 0;
    server.Follow(options);
    EXPECT_FALSE(server.responder().IsListening());
    EXPECT_EQ(reports.size(), 1u);
}

}  // namespace
}  // namespace velkon::test
