// The request lines of the command socket, against a fake target and
// against real sessions of a shell.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Fakes.h"
#include "session/CommandProtocol.h"
#include "shell/Shell.h"
#include "shell/StringTable.h"

namespace velkon::test {
namespace {

struct FakeEntry {
    FakeEntry(std::string t, bool a = false,
              std::string s = "COM Status:", std::string n = "TCP/IP Status:")
        : topic(std::move(t)), active(a), serial(std::move(s)), network(std::move(n))
    {
    }
    std::string topic;
    bool active;
    std::string serial;
    std::string network;
    bool accepts = true;
    std::string refusal;
    TrafficCounters counts;
    int clients = 0;
    std::vector<std::string> received;
};

class FakeTarget : public CommandTarget {
public:
    int SessionCount() const override { return static_cast<int>(entries.size()); }
    std::string Topic(int index) const override { return entries.at(index).topic; }
    bool IsActive(int index) const override { return entries.at(index).active; }
    std::string StatusText(int index, int line) const override
    {
        return line == 0 ? entries.at(index).serial : entries.at(index).network;
    }
    TrafficCounters Counters(int index) const override { return entries.at(index).counts; }
    int ClientCount(int index) const override { return entries.at(index).clients; }
    bool Execute(int index, const std::string& command, std::string& reason) override
    {
        entries.at(index).received.push_back(command);
        reason = entries.at(index).refusal;
        return entries.at(index).accepts;
    }
    int CommandsReceived() const
    {
        int n = 0;
        for (const auto& e : entries)
            n += static_cast<int>(e.received.size());
        return n;
    }
    std::vector<FakeEntry> entries;
};

FakeTarget TwoPorts()
{
    FakeTarget t;
    t.entries.push_back({"COM3"});
    t.entries.push_back({"COM4"});
    return t;
}

TEST(CommandProtocol, ExecutePassesTheCommandTextUnchanged)
{
    FakeTarget t = TwoPorts();
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM4 [COMSETTINGS=9600, N,8,1]  "), "ACCEPTED\n");
    ASSERT_EQ(t.entries[1].received.size(), 1u);
    EXPECT_EQ(t.entries[1].received[0], "[COMSETTINGS=9600, N,8,1]  ");
    EXPECT_TRUE(t.entries[0].received.empty());

    // Blanks before the topic go; of those after it only the first.
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE   COM3   [ACTIVATE] "), "ACCEPTED\n");
    ASSERT_EQ(t.entries[0].received.size(), 1u);
    EXPECT_EQ(t.entries[0].received[0], "  [ACTIVATE] ");

    // A tab ends the topic like a space.
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE\tCOM3\t[DEACTIVATE]"), "ACCEPTED\n");
    EXPECT_EQ(t.entries[0].received.back(), "[DEACTIVATE]");
}

TEST(CommandProtocol, EmptyTextAfterTheBlankIsPassedOn)
{
    FakeTarget t = TwoPorts();
    t.entries[0].accepts = false;
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM3 "), "REFUSED\n");
    ASSERT_EQ(t.entries[0].received.size(), 1u);
    EXPECT_EQ(t.entries[0].received[0], "");
}

TEST(CommandProtocol, RefusedAndNoTopic)
{
    FakeTarget t = TwoPorts();
    t.entries[1].accepts = false;
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM4 [ACTIVATE]"), "REFUSED\n");
    // A reason stays on the answer line.
    t.entries[1].refusal = "device refused\r\n7 data bits";
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM4 [COMSETTINGS=9600,N,7,1]"),
              "REFUSED device refused  7 data bits\n");
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM5 [ACTIVATE]"), "NO TOPIC\n");
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM [ACTIVATE]"), "NO TOPIC\n");
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM33 [ACTIVATE]"), "NO TOPIC\n");
    EXPECT_EQ(t.CommandsReceived(), 2);

    FakeTarget empty;
    EXPECT_EQ(HandleCommandLine(empty, "EXECUTE COM3 [ACTIVATE]"), "NO TOPIC\n");
}

TEST(CommandProtocol, TopicsCompareWithoutAsciiCase)
{
    FakeTarget t;
    t.entries.push_back({"None"});
    t.entries.push_back({"COM3"});
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE none [ACTIVATE]"), "ACCEPTED\n");
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE com3 [ACTIVATE]"), "ACCEPTED\n");
    EXPECT_EQ(t.entries[0].received.size(), 1u);
    EXPECT_EQ(t.entries[1].received.size(), 1u);
}

TEST(CommandProtocol, SeveralSessionsUnderOneTopicTheFirstAnswers)
{
    FakeTarget t;
    t.entries.push_back({"COM1"});
    t.entries.push_back({"COM2"});
    t.entries.push_back({"COM2"});
    t.entries[1].accepts = false;
    // The first one answers even when it refuses; the next is not asked.
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM2 [ACTIVATE]"), "REFUSED\n");
    EXPECT_EQ(t.entries[1].received.size(), 1u);
    EXPECT_TRUE(t.entries[2].received.empty());
}

TEST(CommandProtocol, TopicWithBlanksIsMatchedWhole)
{
    FakeTarget t;
    t.entries.push_back({"COM1"});
    t.entries.push_back({"None (x y)"});
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE None (x y) [ACTIVATE] now"), "ACCEPTED\n");
    ASSERT_EQ(t.entries[1].received.size(), 1u);
    EXPECT_EQ(t.entries[1].received[0], "[ACTIVATE] now");
    // Only the whole topic, ended by a blank, names it.
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE None [ACTIVATE]"), "NO TOPIC\n");
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE None (x y)z [ACTIVATE]"), "NO TOPIC\n");
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE None (x y)"), "ERROR missing command text\n");
    EXPECT_EQ(t.entries[1].received.size(), 1u);
    EXPECT_TRUE(t.entries[0].received.empty());
}

TEST(CommandProtocol, StatusListsEverySessionInOrderThenADot)
{
    FakeTarget t;
    t.entries.push_back({"COM3", true, "COM Status: Open", "TCP/IP Status: Listening..."});
    t.entries.push_back({"None", false, "COM\tStatus:", "Error -\r\nlost"});
    t.entries[0].counts = {11, 22, 33, 4444444444, 5};
    t.entries[0].clients = 2;
    // The counts follow in their order: serial read, serial written,
    // network received, network sent, clients now (dropped is not a field).
    EXPECT_EQ(HandleCommandLine(t, "STATUS"),
              "1\tCOM3\tactive\tCOM Status: Open\tTCP/IP Status: Listening...\tplain"
              "\t11\t22\t33\t4444444444\t2\n"
              "2\tNone\tinactive\tCOM Status:\tError -  lost\tplain\t0\t0\t0\t0\t0\n"
              ".\n");
    EXPECT_EQ(t.CommandsReceived(), 0);

    FakeTarget empty;
    EXPECT_EQ(HandleCommandLine(empty, "STATUS"), ".\n");
}

TEST(CommandProtocol, MalformedLinesAnswerOneErrorLineAndDoNothing)
{
    FakeTarget t = TwoPorts();
    const std::vector<std::string> bad = {
        "",
        "   ",
        "\r",
        "HELLO",
        "status",
        "Execute COM3 [ACTIVATE]",
        "EXECUTE",
        "EXECUTE   ",
        "EXECUTE COM3",
        "STATUS now",
        "EXECUTECOM3 [ACTIVATE]",
        "STATUSX",
        std::string("\0\x01\xff", 3),
    };
    for (const std::string& line : bad) {
        const std::string answer = HandleCommandLine(t, line);
        EXPECT_EQ(answer.rfind("ERROR ", 0), 0u) << "line: " << line << " answer: " << answer;
        EXPECT_EQ(answer.find('\n'), answer.size() - 1) << "line: " << line;
        EXPECT_GT(answer.size(), std::string("ERROR \n").size()) << "line: " << line;
    }
    EXPECT_EQ(t.CommandsReceived(), 0);
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE"), "ERROR missing topic\n");
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM3"), "ERROR missing command text\n");
}

TEST(CommandProtocol, TrailingCarriageReturnIsIgnored)
{
    FakeTarget t = TwoPorts();
    EXPECT_EQ(HandleCommandLine(t, "STATUS\r"), HandleCommandLine(t, "STATUS"));
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM3 [ACTIVATE]\r"), "ACCEPTED\n");
    ASSERT_EQ(t.entries[0].received.size(), 1u);
    EXPECT_EQ(t.entries[0].received[0], "[ACTIVATE]");
    // Only the one that ends the line: others belong to the text.
    EXPECT_EQ(HandleCommandLine(t, "EXECUTE COM3 a\rb\r"), "ACCEPTED\n");
    EXPECT_EQ(t.entries[0].received[1], "a\rb");
}

// --- Real sessions of a shell.

struct ShellRig {
    ShellRig() : shell(world.app, window), target(shell) {}
    Session& Add(int connector)
    {
        Session& s = shell.NewSession();
        s.SetConnector(connector);
        s.SetTcpOption(1);
        s.SetPortNumber("4000");
        return s;
    }
    FakeWorld world;
    FakeMainWindow window;
    Shell shell;
    ShellCommandTarget target;
};

TEST(ShellCommands, SameTopicTwiceTheFirstSessionAnswers)
{
    ShellRig rig;
    Session& first = rig.Add(3);
    Session& second = rig.Add(3);
    EXPECT_EQ(HandleCommandLine(rig.target, "EXECUTE COM3 [ACTIVATE]"), "ACCEPTED\n");
    EXPECT_TRUE(first.IsActive());
    EXPECT_FALSE(second.IsActive());
    // Still the first, which is active now: refused, the second untouched.
    EXPECT_EQ(HandleCommandLine(rig.target, "EXECUTE COM3 [activate]"), "REFUSED\n");
    EXPECT_FALSE(second.IsActive());
    EXPECT_EQ(HandleCommandLine(rig.target, "EXECUTE COM3  [DEACTIVATE] "), "ACCEPTED\n");
    EXPECT_FALSE(first.IsActive());
}

TEST(ShellCommands, SessionWithoutConnectorAnswersUnderNone)
{
    ShellRig rig;
    rig.Add(2);
    Session& none = rig.Add(0);
    EXPECT_EQ(HandleCommandLine(rig.target, "EXECUTE None [ACTIVATE]"), "ACCEPTED\n");
    EXPECT_FALSE(none.IsActive());
    EXPECT_EQ(HandleCommandLine(rig.target, "EXECUTE COM1 [ACTIVATE]"), "NO TOPIC\n");
}

TEST(ShellCommands, LocalizedNoneWithABlankCanBeReached)
{
    ShellRig rig;
    rig.world.app.strings = &StringTable::Japanese();
    Session& none = rig.Add(0);
    const std::string topic = none.Topic();
    ASSERT_NE(topic.find(' '), std::string::npos) << topic;
    EXPECT_EQ(HandleCommandLine(rig.target, "EXECUTE " + topic + " [COMSETTINGS=19200,E,7,2]"),
              "ACCEPTED\n");
    EXPECT_EQ(none.SerialSettingsText(), "19200,E,7,2");
}

TEST(ShellCommands, ComSettingsReachesTheSessionAndItsPort)
{
    ShellRig rig;
    rig.Add(1);
    Session& s = rig.Add(2);
    EXPECT_EQ(HandleCommandLine(rig.target, "EXECUTE COM2 [comsettings=19200,e,7,2]"),
              "ACCEPTED\n");
    EXPECT_EQ(s.SerialSettingsText(), "19200,E,7,2");
    EXPECT_EQ(rig.world.factory.made[1].serial->lineSettings, "19200,E,7,2");
    EXPECT_NE(rig.shell.SessionAt(1)->SerialSettingsText(), "19200,E,7,2");
}

TEST(ShellCommands, StatusShowsTheSessionsAsTheWindowsDo)
{
    ShellRig rig;
    Session& a = rig.Add(3);
    rig.Add(0);
    ASSERT_EQ(HandleCommandLine(rig.target, "EXECUTE COM3 [ACTIVATE]"), "ACCEPTED\n");
    ASSERT_TRUE(a.IsActive());
    const std::string serial = a.form().statusText[0];
    const std::string network = a.form().statusText[1];
    ASSERT_NE(serial, network);
    EXPECT_EQ(network, "TCP/IP Status: Listening...");
    EXPECT_EQ(HandleCommandLine(rig.target, "STATUS"),
              "1\tCOM3\tactive\t" + serial + "\t" + network + "\tplain\t0\t0\t0\t0\t0\n" +
                  "2\tNone\tinactive\tCOM Status:\tTCP/IP Status:\tplain\t0\t0\t0\t0\t0\n.\n");
}

}  // namespace
}  // namespace velkon::test
