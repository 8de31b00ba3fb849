// The metrics page: exact counts, escaped labels, every family declared.

#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "shell/MetricsPage.h"

namespace velkon::test {
namespace {

bool Has(const std::string& page, const std::string& line)
{
    return page.find("\n" + line + "\n") != std::string::npos;
}

TEST(MetricsPage, LabelsAreEscapedAndCountsAreExact)
{
    SessionMetrics odd;
    odd.number = 12;
    odd.topic = "a\"b\\c\nd";
    odd.counters.serialRead = 18446744073709551615u;  // beyond a double's exact range
    odd.counters.dropped = 7;
    odd.clients = 3;
    odd.active = true;
    odd.serialStatus = "COM3 \"open\"";
    odd.networkStatus = "Listening";
    const std::string page = MetricsPage({odd, SessionMetrics{}});

    const std::string labels = R"({session="12",topic="a\"b\\c\nd"})";
    EXPECT_TRUE(Has(page, "velkon_serial_read_bytes_total" + labels + " 18446744073709551615"));
    EXPECT_TRUE(Has(page, "velkon_dropped_bytes_total" + labels + " 7"));
    EXPECT_TRUE(Has(page, "velkon_clients" + labels + " 3"));
    EXPECT_TRUE(Has(page, "velkon_session_active" + labels + " 1"));
    EXPECT_TRUE(Has(page, "velkon_session_active{session=\"0\",topic=\"\"} 0"));
    EXPECT_TRUE(Has(page, R"(velkon_session_status{session="12",topic="a\"b\\c\nd",)"
                          R"(serial="COM3 \"open\"",network="Listening"} 1)"));
    for (const char* family :
         {"velkon_serial_written_bytes_total counter",
          "velkon_network_received_bytes_total counter", "velkon_network_sent_bytes_total counter",
          "velkon_clients gauge", "velkon_session_status gauge"})
        EXPECT_TRUE(Has(page, std::string("# TYPE ") + family)) << family;
    // Every line is a comment or a sample, and the page ends with a line.
    EXPECT_EQ(page.back(), '\n');
    EXPECT_EQ(page.find("\n\n"), std::string::npos);
}

TEST(MetricsPage, CollectsWhatTheSessionsMoved)
{
    SessionRig rig;
    rig.ActivateServer();
    rig.sock().PeerConnects(1);
    rig.serial().Arrive(B("hello"));
    rig.sock().PeerSends(1, B("abc"));
    std::vector<std::unique_ptr<Session>> sessions;
    sessions.push_back(std::move(rig.session));

    const std::vector<SessionMetrics> metrics = CollectMetrics(sessions);
    ASSERT_EQ(metrics.size(), 1u);
    const SessionMetrics& m = metrics[0];
    EXPECT_EQ(m.number, 1);
    EXPECT_EQ(m.topic, sessions[0]->Topic());
    EXPECT_EQ(m.counters.serialRead, 5u);
    EXPECT_EQ(m.counters.networkSent, 5u);
    EXPECT_EQ(m.counters.networkReceived, 3u);
    EXPECT_EQ(m.clients, 1);
    EXPECT_TRUE(m.active);
    EXPECT_EQ(m.networkStatus, sessions[0]->form().statusText[1]);
    EXPECT_FALSE(m.networkStatus.empty());
}

}  // namespace
}  // namespace velkon::test
