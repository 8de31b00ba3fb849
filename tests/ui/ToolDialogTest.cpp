#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PingDialog.h"
#include "ResolveDialog.h"
#include "UiTestSupport.h"
#include "ping/IcmpEcho.h"
#include "shell/StringTable.h"
#include "tools/PingEngine.h"

namespace velkon::test {
namespace {

std::uint32_t StoredAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, 4);
    return address;
}

// An echo service that answers as told and records every request.
class FakeEchoTransport : public EchoTransport {
public:
    struct Request {
        std::uint32_t address;
        std::string data;
        int timeoutMs;
    };
    enum class Answer { EchoBack, TimedOut, Unreachable, NulInData, NoNul, Unavailable };

    bool Echo(std::uint32_t address, const std::string& data, int timeoutMs,
              EchoReply& reply) override
    {
        requests.push_back({address, data, timeoutMs});
        switch (answer) {
            case Answer::EchoBack:
                reply.Status = kPingSuccess;
                reply.Address = address;
                reply.RoundTripTime = 3;
                reply.DataSize = static_cast<std::uint32_t>(data.size());
                std::memcpy(reply.Data, data.data(), std::min(data.size(), kEchoDataCapacity));
                return true;
            case Answer::TimedOut:
                reply.Status = kPingTimedOut;
                return true;
            case Answer::Unreachable:
                // The router 10.0.0.200 answers for the lost host.
                reply.Status = kPingDestHostUnreachable;
                reply.Address = StoredAddress(10, 0, 0, 200);
                reply.RoundTripTime = 7;
                return true;
            case Answer::NulInData: {
                static const char kData[] = "abc\0def";
                reply.Status = kPingSuccess;
                reply.Address = address;
                reply.DataSize = 7;
                std::memcpy(reply.Data, kData, 7);
                return true;
            }
            case Answer::NoNul:
                reply.Status = kPingSuccess;
                reply.Address = address;
                reply.DataSize = kEchoDataCapacity;
                std::memset(reply.Data, 'x', kEchoDataCapacity);
                return true;
            case Answer::Unavailable:
                return false;
        }
        return false;
    }

    Answer answer = Answer::EchoBack;
    std::vector<Request> requests;
};

// A host lookup from a fixed list that records the names asked for.
class FakeHostResolver : public HostResolver {
public:
    std::optional<std::array<std::uint8_t, 4>> FirstIPv4(const std::string& name) override
    {
        asked.push_back(name);
        const auto it = hosts.find(name);
        if (it == hosts.end())
            return std::nullopt;
        return it->second;
    }

    std::map<std::string, std::array<std::uint8_t, 4>> hosts;
    std::vector<std::string> asked;
};

QStringList Results(const PingDialog& window)
{
    QStringList texts;
    for (const QLineEdit* box : window.m_replyFields)
        texts << box->text();
    return texts;
}

constexpr const char* kMissingAddressMessage =
    "Ping Error - Missing or invalid IP Address|Please enter an IP Address or host name for "
    "the computer or device that you want to ping.";

// Runs the ping through the button, as a user would.
void Ping(PingDialog& window, const QString& address, const QString& data = "Testing 123")
{
    window.m_addressEdit->setText(address);
    window.m_dataEdit->setText(data);
    window.m_pingButton->click();
}

// The real echo service, or the reason why the test cannot use it.
std::optional<std::string> WhyNoEchoService()
{
    if (IcmpEchoTransport::CanOpen(IcmpSocketKind::Any))
        return std::nullopt;
    return "no ICMP socket can be opened here (ping_group_range excludes this user and there "
           "is no CAP_NET_RAW)";
}

struct PingRig {
    FakeEchoTransport transport;
    FakeHostResolver resolver;
    FakePrompts prompts;
    int timeoutIndex = 9;
    PingDialog window{transport, resolver, timeoutIndex, StringTable::English(), prompts};
};

TEST(PingTool, OpensWithTheDesignedTexts)
{
    PingRig rig;
    PingDialog& w = rig.window;
    EXPECT_EQ(w.windowTitle(), "Ping IP Address");
    EXPECT_EQ(w.m_addressLabel->text(), "IP Address:");
    EXPECT_EQ(w.m_dataLabel->text(), "Echo Data:");
    EXPECT_EQ(w.m_pingButton->text(), "&Ping");
    EXPECT_EQ(w.m_cancelButton->text(), "&Cancel");
    EXPECT_EQ(w.m_replyGroup->title(), "Ping Results:");
    EXPECT_EQ(w.m_replyLabels[0]->text(), "Return Status:");
    EXPECT_EQ(w.m_replyLabels[1]->text(), "Address (dec):");
    EXPECT_EQ(w.m_replyLabels[2]->text(), "Round Trip Time:");
    EXPECT_EQ(w.m_replyLabels[3]->text(), "Data Packet Size:");
    EXPECT_EQ(w.m_replyLabels[4]->text(), "Data Returned:");
    EXPECT_EQ(w.m_addressEdit->toolTip(),
              "Enter the IP Address of the computer that you want to ping.");
    EXPECT_EQ(w.m_dataEdit->toolTip(),
              "Enter the data string that you want to ping the computer with.");
    EXPECT_EQ(w.m_addressEdit->text(), "");
    EXPECT_EQ(w.m_dataEdit->text(), "Testing 123");
    for (const QLineEdit* box : w.m_replyFields) {
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->text(), "");
    }
}

TEST(PingTool, JapaneseTableGivesOtherCaptions)
{
    FakeEchoTransport transport;
    FakeHostResolver resolver;
    FakePrompts prompts;
    const int timeoutIndex = 9;
    PingDialog english(transport, resolver, timeoutIndex, StringTable::English(), prompts);
    PingDialog japanese(transport, resolver, timeoutIndex, StringTable::Japanese(), prompts);
    EXPECT_NE(japanese.m_pingButton->text(), english.m_pingButton->text());
    EXPECT_EQ(japanese.m_pingButton->text(),
              QString::fromStdString(StringTable::Japanese().Text(5049)));
}

TEST(PingTool, EmptyAddressShowsTheMessageAndKeepsTheResults)
{
    PingRig rig;
    rig.window.show();
    Ping(rig.window, "127.0.0.1");
    const QStringList before = Results(rig.window);
    ASSERT_EQ(before[0], "0   [IP Success]");

    rig.window.m_pingButton->setFocus();
    Ping(rig.window, "");
    EXPECT_EQ(rig.prompts.messages, QStringList{kMissingAddressMessage});
    EXPECT_EQ(Results(rig.window), before);
    EXPECT_EQ(rig.transport.requests.size(), 1u);
    EXPECT_TRUE(rig.resolver.asked.empty());
    EXPECT_EQ(rig.window.focusWidget(), rig.window.m_addressEdit);
}

TEST(PingTool, LoopbackPingShowsTheReply)
{
    if (auto why = WhyNoEchoService())
        GTEST_SKIP() << *why;
    IcmpEchoTransport transport;
    SystemHostResolver resolver;
    FakePrompts prompts;
    const int timeoutIndex = 19;
    PingDialog window(transport, resolver, timeoutIndex, StringTable::English(), prompts);
    Ping(window, "127.0.0.1", "Testing 123");
    EXPECT_EQ(window.m_replyFields[0]->text(), "0   [IP Success]");
    EXPECT_EQ(window.m_replyFields[1]->text(), "16777343");
    EXPECT_TRUE(QRegularExpression("^[0-9]+ ms$").match(window.m_replyFields[2]->text()).hasMatch())
        << window.m_replyFields[2]->text().toStdString();
    EXPECT_EQ(window.m_replyFields[3]->text(), "11 bytes");
    EXPECT_EQ(window.m_replyFields[4]->text(), "Testing 123");
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PingTool, LoopbackPingWithEmptyEchoTextShowsNoData)
{
    if (auto why = WhyNoEchoService())
        GTEST_SKIP() << *why;
    IcmpEchoTransport transport;
    SystemHostResolver resolver;
    FakePrompts prompts;
    const int timeoutIndex = 19;
    PingDialog window(transport, resolver, timeoutIndex, StringTable::English(), prompts);
    Ping(window, "127.0.0.1", "Testing 123");
    ASSERT_EQ(window.m_replyFields[4]->text(), "Testing 123");
    Ping(window, "127.0.0.1", "");
    EXPECT_EQ(window.m_replyFields[0]->text(), "0   [IP Success]");
    EXPECT_EQ(window.m_replyFields[3]->text(), "0 bytes");
    EXPECT_EQ(window.m_replyFields[4]->text(), "");
}

TEST(PingTool, TimeoutShowsItsStatusAndClearsTheEarlierData)
{
    PingRig rig;
    Ping(rig.window, "127.0.0.1");
    ASSERT_EQ(rig.window.m_replyFields[4]->text(), "Testing 123");
    rig.transport.answer = FakeEchoTransport::Answer::TimedOut;
    Ping(rig.window, "127.0.0.2");
    EXPECT_EQ(Results(rig.window),
              (QStringList{"11010   [IP Request Timed Out]", "0", "0 ms", "0 bytes", ""}));
    ASSERT_EQ(rig.transport.requests.size(), 2u);
    EXPECT_EQ(rig.transport.requests[1].address, StoredAddress(127, 0, 0, 2));
    EXPECT_EQ(rig.transport.requests[1].data, "Testing 123");
}

TEST(PingTool, UnreachableShowsTheRouterAddressSigned)
{
    PingRig rig;
    rig.transport.answer = FakeEchoTransport::Answer::Unreachable;
    Ping(rig.window, "127.0.0.9");
    EXPECT_EQ(Results(rig.window), (QStringList{"11003   [IP Dest Host Unreachable]", "-939524086",
                                                "7 ms", "0 bytes", ""}));
}

TEST(PingTool, UnresolvableNameShowsBadFormatAndSendsNothing)
{
    PingRig rig;
    Ping(rig.window, "nosuchhost");
    EXPECT_EQ(Results(rig.window),
              (QStringList{"-1   [Bad IP Format]", "0", "0 ms", "0 bytes", ""}));
    EXPECT_TRUE(rig.transport.requests.empty());
    EXPECT_EQ(rig.resolver.asked, std::vector<std::string>{"nosuchhost"});
    EXPECT_TRUE(rig.prompts.messages.isEmpty());
}

TEST(PingTool, HostNameIsPingedAtItsResolvedAddress)
{
    PingRig rig;
    rig.resolver.hosts["loophost"] = {127, 0, 0, 5};
    Ping(rig.window, "loophost");
    ASSERT_EQ(rig.transport.requests.size(), 1u);
    EXPECT_EQ(rig.transport.requests[0].address, StoredAddress(127, 0, 0, 5));
    EXPECT_EQ(rig.window.m_replyFields[0]->text(), "0   [IP Success]");
    // 127.0.0.5 with its first byte least significant.
    EXPECT_EQ(rig.window.m_replyFields[1]->text(), "83886207");
}

TEST(PingTool, DataReturnedStopsAtTheFirstNul)
{
    PingRig rig;
    rig.transport.answer = FakeEchoTransport::Answer::NulInData;
    Ping(rig.window, "127.0.0.1");
    EXPECT_EQ(rig.window.m_replyFields[3]->text(), "7 bytes");
    EXPECT_EQ(rig.window.m_replyFields[4]->text(), "abc");
}

TEST(PingTool, DataAreaWithoutNulIsShownWhole)
{
    PingRig rig;
    rig.transport.answer = FakeEchoTransport::Answer::NoNul;
    Ping(rig.window, "127.0.0.1");
    EXPECT_EQ(rig.window.m_replyFields[4]->text(), QString(250, 'x'));
    EXPECT_EQ(rig.window.m_replyFields[3]->text(), "250 bytes");
}

TEST(PingTool, NoEchoServiceIsShownAsAFailure)
{
    PingRig rig;
    rig.transport.answer = FakeEchoTransport::Answer::Unavailable;
    Ping(rig.window, "127.0.0.1");
    EXPECT_EQ(Results(rig.window),
              (QStringList{"11050   [IP General Failure]", "0", "0 ms", "0 bytes", ""}));
}

TEST(PingTool, ReadsTheTimeoutSettingAtEachPing)
{
    PingRig rig;
    rig.timeoutIndex = 9;
    Ping(rig.window, "127.0.0.1");
    rig.timeoutIndex = 19;
    Ping(rig.window, "127.0.0.1");
    rig.timeoutIndex = -1;
    Ping(rig.window, "127.0.0.1");
    ASSERT_EQ(rig.transport.requests.size(), 3u);
    EXPECT_EQ(rig.transport.requests[0].timeoutMs, 1000);
    EXPECT_EQ(rig.transport.requests[1].timeoutMs, 2000);
    EXPECT_EQ(rig.transport.requests[2].timeoutMs, 500);
}

TEST(PingTool, CancelClosesTheWindow)
{
    PingRig rig;
    rig.window.show();
    ASSERT_TRUE(rig.window.isVisible());
    rig.window.m_cancelButton->click();
    EXPECT_FALSE(rig.window.isVisible());
    EXPECT_EQ(rig.window.result(), QDialog::Rejected);
    EXPECT_TRUE(rig.transport.requests.empty());
}

struct ResolveRig {
    ResolveRig() { resolver.hosts["gateway"] = {192, 168, 0, 1}; }
    FakeHostResolver resolver;
    FakePrompts prompts;
    ResolveDialog window{resolver, StringTable::English(), prompts};
};

void Resolve(ResolveDialog& window, const QString& name)
{
    window.m_hostNameEdit->setText(name);
    window.m_resolveButton->click();
}

TEST(ResolveTool, OpensWithTheDesignedTexts)
{
    ResolveRig rig;
    ResolveDialog& w = rig.window;
    EXPECT_EQ(w.windowTitle(), "Resolve IP Address from Host Name:");
    EXPECT_EQ(w.m_hostNameLabel->text(), "Host Name:");
    EXPECT_EQ(w.m_addressLabel->text(), "IP Address:");
    EXPECT_EQ(w.m_resolveButton->text(), "Resolve IP Address");
    EXPECT_EQ(w.m_helpButton->text(), "Help...");
    EXPECT_EQ(w.m_cancelButton->text(), "Cancel");
    EXPECT_EQ(w.m_hostNameEdit->toolTip(),
              "Enter the Workstation Name or the URL for the computer that you want to find the "
              "IP Address of");
    EXPECT_EQ(w.m_hostNameEdit->text(), "");
    EXPECT_EQ(w.m_addressEdit->text(), "");
}

TEST(ResolveTool, JapaneseTableGivesAnotherCaption)
{
    FakeHostResolver resolver;
    FakePrompts prompts;
    ResolveDialog english(resolver, StringTable::English(), prompts);
    ResolveDialog japanese(resolver, StringTable::Japanese(), prompts);
    EXPECT_NE(japanese.m_resolveButton->text(), english.m_resolveButton->text());
    EXPECT_EQ(japanese.m_resolveButton->text(),
              QString::fromStdString(StringTable::Japanese().Text(5055)));
    EXPECT_EQ(japanese.windowTitle(), QString::fromStdString(StringTable::Japanese().Text(5051)));
}

TEST(ResolveTool, DottedAddressComesBackUnchanged)
{
    ResolveRig rig;
    Resolve(rig.window, "10.0.0.7");
    EXPECT_EQ(rig.window.m_addressEdit->text(), "10.0.0.7");
    EXPECT_TRUE(rig.prompts.messages.isEmpty());
    EXPECT_TRUE(rig.resolver.asked.empty());
}

TEST(ResolveTool, HostNameShowsItsAddress)
{
    ResolveRig rig;
    Resolve(rig.window, "gateway");
    EXPECT_EQ(rig.window.m_addressEdit->text(), "192.168.0.1");
    EXPECT_EQ(rig.resolver.asked, std::vector<std::string>{"gateway"});
    EXPECT_TRUE(rig.prompts.messages.isEmpty());
}

TEST(ResolveTool, FailedLookupKeepsTheEarlierAddress)
{
    ResolveRig rig;
    Resolve(rig.window, "gateway");
    ASSERT_EQ(rig.window.m_addressEdit->text(), "192.168.0.1");
    Resolve(rig.window, "nosuchhost");
    EXPECT_EQ(rig.window.m_addressEdit->text(), "192.168.0.1");
    EXPECT_EQ(rig.prompts.messages,
              QStringList{"Velkon|Cannot resolve the IP Address for host name: nosuchhost"});
}

TEST(ResolveTool, EmptyNameGoesToTheLookupUnchanged)
{
    ResolveRig rig;
    Resolve(rig.window, "");
    EXPECT_EQ(rig.resolver.asked, std::vector<std::string>{""});
    EXPECT_EQ(rig.prompts.messages,
              QStringList{"Velkon|Cannot resolve the IP Address for host name: "});
}

TEST(ResolveTool, HelpButtonIsHiddenAndDoesNothing)
{
    ResolveRig rig;
    rig.window.show();
    Resolve(rig.window, "gateway");
    EXPECT_FALSE(rig.window.m_helpButton->isVisible());
    EXPECT_TRUE(rig.window.m_helpButton->isHidden());
    rig.window.m_helpButton->click();
    rig.window.onHelpClicked();
    EXPECT_TRUE(rig.window.isVisible());
    EXPECT_FALSE(rig.window.m_helpButton->isVisible());
    EXPECT_EQ(rig.window.m_addressEdit->text(), "192.168.0.1");
    EXPECT_EQ(rig.window.m_hostNameEdit->text(), "gateway");
    EXPECT_TRUE(rig.prompts.messages.isEmpty());
    EXPECT_EQ(rig.resolver.asked.size(), 1u);
}

TEST(ResolveTool, CancelClosesTheWindow)
{
    ResolveRig rig;
    rig.window.show();
    ASSERT_TRUE(rig.window.isVisible());
    rig.window.m_cancelButton->click();
    EXPECT_FALSE(rig.window.isVisible());
    EXPECT_EQ(rig.window.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace velkon::test
