// The command socket on a real Unix socket in a private runtime folder; the
// test plays the clients, the server runs on the Qt event loop.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"

#include "command/CommandClient.h"
#include "command/CommandServer.h"
#include "session/CommandProtocol.h"
#include "session/TrafficFeed.h"

using velkon::CommandServer;
using velkon::test::FillEveryCommandSlot;
using velkon::test::ListenLocal;
using velkon::test::WaitFor;
using Client = velkon::test::LocalClient;

namespace {

constexpr int kWaitMs = 10000;

// A runtime folder of our own for one test, short enough for a socket path.
class RuntimeFolder {
public:
    RuntimeFolder() : m_dir("/tmp/vk-cmd-XXXXXX")
    {
        const char* old = std::getenv("VELKON_RUNTIME_DIR");
        if (old != nullptr)
            m_old = old;
        ::setenv("VELKON_RUNTIME_DIR", path().c_str(), 1);
    }
    ~RuntimeFolder()
    {
        if (m_old) {
            ::setenv("VELKON_RUNTIME_DIR", m_old->c_str(), 1);
        } else {
            ::unsetenv("VELKON_RUNTIME_DIR");
        }
    }
    std::string path() const { return m_dir.path().toStdString(); }
    std::string socket() const { return path() + "/command"; }

private:
    QTemporaryDir m_dir;
    std::optional<std::string> m_old;
};

// Answers "got:<line>" and remembers every line.
struct EchoServer {
    EchoServer()
        : server([this](std::string_view line) {
              lines.emplace_back(line);
              return "got:" + std::string(line) + "\n";
          })
    {
    }
    bool Start()
    {
        std::string error;
        const bool ok = server.Start(error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    std::vector<std::string> lines;
    CommandServer server;
};

class FakeTarget : public velkon::CommandTarget {
public:
    int SessionCount() const override { return 2; }
    std::string Topic(int index) const override { return index == 0 ? "COM3" : "None"; }
    bool IsActive(int index) const override { return index == 0; }
    std::string StatusText(int index, int line) const override
    {
        return "S" + std::to_string(index + 1) + (line == 0 ? " serial" : " network");
    }
    bool Execute(int index, const std::string& command, std::string&) override
    {
        commands.push_back(std::to_string(index) + ":" + command);
        return command == "[ACTIVATE]";
    }
    // Only COM3 has traffic to watch; reset() plays its removal.
    velkon::TrafficFeed* Traffic(int index) override { return index == 0 ? feed.get() : nullptr; }
    std::vector<std::string> commands;
    std::unique_ptr<velkon::TrafficFeed> feed =
        std::make_unique<velkon::TrafficFeed>(nullptr, nullptr);
};

// Serves target's protocol, MONITOR included.
struct ProtocolServer {
    explicit ProtocolServer(FakeTarget& target) : server(velkon::CommandProtocolHandler(target)) {}
    bool Start()
    {
        std::string error;
        const bool ok = server.Start(error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    CommandServer server;
};

void SerialSends(velkon::TrafficFeed& feed, const std::string& text)
{
    feed.SerialRead(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// What monitor lines show: the data bytes in order (both directions) and the
// texts after "--". Every line must have the monitor's shape.
struct Shown {
    std::string bytes;
    std::vector<std::string> events;
};

Shown ParseMonitorLines(const std::string& text)
{
    Shown shown;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 17 || line[12] != ' ') {
            ADD_FAILURE() << "not a monitor line: " << line;
            continue;
        }
        const std::string rest = line.substr(13);
        if (rest.rfind("-- ", 0) == 0) {
            shown.events.push_back(rest.substr(3));
            continue;
        }
        std::istringstream hex(rest.substr(4, rest.find("  ") - 4));
        std::string pair;
        while (hex >> pair)
            shown.bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return shown;
}

// The count in a "<n> bytes not shown" event, or -1.
long long SkippedCount(const std::string& event)
{
    const std::size_t blank = event.find(' ');
    if (blank == std::string::npos || event.substr(blank) != " bytes not shown")
        return -1;
    return std::stoll(event.substr(0, blank));
}

const char* const kStatusAnswer =
    "1\tCOM3\tactive\tS1 serial\tS1 network\tplain\t0\t0\t0\t0\t0\n2\tNone\tinactive\tS2 "
    "serial\tS2 network\tplain\t0\t0\t0\t0\t0\n.\n";

// Runs a blocking client call on another thread while the event loop serves.
template <typename F>
auto RunBeside(F call)
{
    std::atomic<bool> done{false};
    decltype(call()) result{};
    std::thread worker([&] {
        result = call();
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 30000));
    worker.join();
    return result;
}

TEST(CommandServer, SeveralRequestsOnOneConnectionAreAnsweredInOrder)
{
    RuntimeFolder folder;
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    EXPECT_EQ(echo.server.SocketPath(), folder.socket());

    Client c(folder.socket());
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.Send("one\ntwo\r\nthree\nfo"));
    ASSERT_TRUE(c.WaitForLines(3));
    ASSERT_TRUE(c.Send("ur\n\n"));
    ASSERT_TRUE(c.WaitForLines(5));
    EXPECT_EQ(c.received, "got:one\ngot:two\r\ngot:three\ngot:four\ngot:\n");
    EXPECT_FALSE(c.ended);
}

TEST(CommandServer, TwoConnectionsAtOnceAreServedIndependently)
{
    RuntimeFolder folder;
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    Client a(folder.socket());
    Client b(folder.socket());
    ASSERT_TRUE(a.Send("half of a"));
    ASSERT_TRUE(b.Send("from b\n"));
    ASSERT_TRUE(b.WaitForLines(1));
    EXPECT_EQ(b.received, "got:from b\n");
    ASSERT_TRUE(a.Send(" line\n"));
    ASSERT_TRUE(a.WaitForLines(1));
    EXPECT_EQ(a.received, "got:half of a line\n");
    EXPECT_EQ(echo.server.ConnectionCount(), 2u);
}

TEST(CommandServer, LongLinesAnswerAnErrorAndTheConnectionGoesOn)
{
    RuntimeFolder folder;
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    Client a(folder.socket());
    Client b(folder.socket());

    const std::string longest(CommandServer::kMaxLineLength, 'y');
    ASSERT_TRUE(a.Send(std::string(5000, 'x') + "\nafter\n" + longest + "\n"));
    ASSERT_TRUE(b.Send("ping\n"));
    ASSERT_TRUE(b.WaitForLines(1));
    EXPECT_EQ(b.received, "got:ping\n");
    ASSERT_TRUE(a.WaitForLines(3));
    EXPECT_EQ(a.received, "ERROR line too long\ngot:after\ngot:" + longest + "\n");

    // Without a line feed for a long time: one error, then the next line.
    a.received.clear();
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(a.Send(std::string(10000, 'z')));
    ASSERT_TRUE(a.Send("\nok\n"));
    ASSERT_TRUE(a.WaitForLines(2));
    EXPECT_EQ(a.received, "ERROR line too long\ngot:ok\n");
    for (const std::string& line : echo.lines) {
        EXPECT_LE(line.size(), CommandServer::kMaxLineLength);
    }
}

TEST(CommandServer, BinaryGarbageDisturbsNoOtherConnection)
{
    RuntimeFolder folder;
    FakeTarget target;
    CommandServer server(
        [&](std::string_view line) { return velkon::HandleCommandLine(target, line); });
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;

    Client bad(folder.socket());
    Client good(folder.socket());
    std::mt19937 random(7);
    std::string garbage(200000, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random() & 0xff);
    // Sent in pieces, each followed by a request of the other connection.
    for (std::size_t at = 0; at < garbage.size(); at += 20000) {
        ASSERT_TRUE(bad.Send(garbage.substr(at, 20000)));
        good.received.clear();
        ASSERT_TRUE(good.Send("STATUS\n"));
        ASSERT_TRUE(good.WaitForLines(3));
        EXPECT_EQ(good.received, kStatusAnswer);
        bad.Drain();
    }
    // The garbage connection still works after a line feed.
    ASSERT_TRUE(bad.Send("\nEXECUTE COM3 [ACTIVATE]\n"));
    ASSERT_TRUE(WaitFor(
        [&] {
            bad.Drain();
            return bad.ended || bad.received.find("\nACCEPTED\n") != std::string::npos;
        },
        kWaitMs));
    EXPECT_FALSE(bad.ended);
    ASSERT_FALSE(target.commands.empty());
    EXPECT_EQ(target.commands.back(), "0:[ACTIVATE]");
}

TEST(CommandServer, AClientThatDoesNotReadIsHeldBackAndLosesNothing)
{
    RuntimeFolder folder;
    CommandServer server([](std::string_view line) {
        return std::string(line) + ":" + std::string(200, '.') + "\n";
    });
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;

    Client slow(folder.socket());
    Client other(folder.socket());
    // Far more answers than the server keeps for one connection plus what
    // the socket holds.
    const int count = 5000;
    std::string requests;
    for (int i = 0; i < count; ++i)
        requests += std::to_string(i) + "\n";
    ASSERT_TRUE(slow.Send(requests));
    ASSERT_TRUE(other.Send("x\n"));
    ASSERT_TRUE(other.WaitForLines(1));
    EXPECT_EQ(other.received, "x:" + std::string(200, '.') + "\n");

    ASSERT_TRUE(slow.WaitForLines(count));
    std::string expected;
    for (int i = 0; i < count; ++i)
        expected += std::to_string(i) + ":" + std::string(200, '.') + "\n";
    EXPECT_EQ(slow.received, expected);
}

TEST(CommandServer, UnfinishedLastLineIsHandledWhenThePeerStopsSending)
{
    RuntimeFolder folder;
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    Client c(folder.socket());
    ASSERT_TRUE(c.Send("first\nlast"));
    c.ShutdownWrite();
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_EQ(c.received, "got:first\ngot:last\n");
    ASSERT_TRUE(WaitFor([&] { return echo.server.ConnectionCount() == 0; }, kWaitMs));
}

TEST(CommandServer, AHandlerRunningANestedEventLoopKeepsTheOrder)
{
    RuntimeFolder folder;
    std::vector<std::string> seen;
    CommandServer server([&](std::string_view line) {
        seen.emplace_back(line);
        if (line == "nest") {
            // As a modal dialog would: events go on while the handler runs.
            [[maybe_unused]] const bool never = WaitFor([] { return false; }, 200);
        }
        return "got:" + std::string(line) + "\n";
    });
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;

    Client a(folder.socket());
    Client b(folder.socket());
    Client gone(folder.socket());
    ASSERT_TRUE(b.Send("b1\n"));
    ASSERT_TRUE(b.WaitForLines(1));
    ASSERT_TRUE(gone.Send("g1\n"));
    ASSERT_TRUE(gone.WaitForLines(1));
    ASSERT_TRUE(a.Send("nest\nafter\n"));
    ASSERT_TRUE(b.Send("b2\n"));
    gone.Close();
    ASSERT_TRUE(a.WaitForLines(2));
    ASSERT_TRUE(b.WaitForLines(2));
    EXPECT_EQ(a.received, "got:nest\ngot:after\n");
    EXPECT_EQ(b.received, "got:b1\ngot:b2\n");
    ASSERT_TRUE(WaitFor([&] { return server.ConnectionCount() == 2; }, kWaitMs));
    // Within one connection the order holds, whatever the nested loop did.
    std::vector<std::string> ofA;
    for (const auto& line : seen) {
        if (line == "nest" || line == "after")
            ofA.push_back(line);
    }
    EXPECT_EQ(ofA, (std::vector<std::string>{"nest", "after"}));
}

TEST(CommandServer, TooManyConnectionsAreTurnedAwayUntilOneCloses)
{
    RuntimeFolder folder;
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    const auto clients = FillEveryCommandSlot(folder.socket(), echo.server);
    ASSERT_FALSE(clients.empty());

    Client extra(folder.socket());
    ASSERT_TRUE(extra.WaitForEnd());
    EXPECT_EQ(extra.received, "ERROR too many connections\n");

    clients.front()->Close();
    ASSERT_TRUE(WaitFor(
        [&] { return echo.server.ConnectionCount() < CommandServer::kMaxConnections; }, kWaitMs));
    Client again(folder.socket());
    ASSERT_TRUE(again.Send("hello\n"));
    ASSERT_TRUE(again.WaitForLines(1));
    EXPECT_EQ(again.received, "got:hello\n");
    // The idle ones were never disturbed.
    ASSERT_TRUE(clients.back()->Send("still here\n"));
    ASSERT_TRUE(clients.back()->WaitForLines(1));
    EXPECT_EQ(clients.back()->received, "got:still here\n");
}

TEST(CommandServer, IdleConnectionsHoldingEverySlotAreClosedAndANewCallerIsServed)
{
    RuntimeFolder folder;
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    const auto idle = FillEveryCommandSlot(folder.socket(), echo.server);
    ASSERT_FALSE(idle.empty());
    Client early(folder.socket());
    ASSERT_TRUE(early.WaitForEnd());
    EXPECT_EQ(early.received, "ERROR too many connections\n");

    echo.server.SetIdleTimeout(std::chrono::milliseconds(100));
    ASSERT_TRUE(WaitFor([&] { return echo.server.ConnectionCount() == 0; }, kWaitMs));
    for (const auto& c : idle) {
        ASSERT_TRUE(c->WaitForEnd());
        EXPECT_TRUE(c->received.empty());
    }
    echo.server.SetIdleTimeout(CommandServer::kIdleTimeout);
    Client late(folder.socket());
    ASSERT_TRUE(late.Send("hello\n"));
    ASSERT_TRUE(late.WaitForLines(1));
    EXPECT_EQ(late.received, "got:hello\n");
}

TEST(CommandServer, AConnectionWhoseRequestIsBeingAnsweredIsNotIdle)
{
    RuntimeFolder folder;
    CommandServer* self = nullptr;
    CommandServer server([&](std::string_view line) {
        // The answer takes many idle times, events going on meanwhile.
        self->SetIdleTimeout(std::chrono::milliseconds(20));
        [[maybe_unused]] const bool never = WaitFor([] { return false; }, 300);
        return "got:" + std::string(line) + "\n";
    });
    self = &server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    Client waiting(folder.socket());
    Client silent(folder.socket());
    ASSERT_TRUE(waiting.Send("slow\n"));
    ASSERT_TRUE(waiting.WaitForLines(1));
    EXPECT_EQ(waiting.received, "got:slow\n");
    // The silent one waits for nobody's answer: closed meanwhile.
    ASSERT_TRUE(silent.WaitForEnd());
}

TEST(CommandServer, SocketFileHasNoGroupOrOtherBitsAndGoesAtStop)
{
    RuntimeFolder folder;
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    struct stat st {};
    ASSERT_EQ(::lstat(folder.socket().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
    EXPECT_EQ(st.st_uid, ::geteuid());

    Client c(folder.socket());
    ASSERT_TRUE(c.Send("x\n"));
    ASSERT_TRUE(c.WaitForLines(1));
    echo.server.Stop();
    EXPECT_FALSE(echo.server.IsListening());
    EXPECT_NE(::lstat(folder.socket().c_str(), &st), 0);
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_EQ(echo.server.ConnectionCount(), 0u);
}

TEST(CommandServer, MissingRuntimeFolderIsCreatedPrivate)
{
    RuntimeFolder parent;
    const std::string inner = parent.path() + "/run";
    ::setenv("VELKON_RUNTIME_DIR", inner.c_str(), 1);
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    struct stat st {};
    ASSERT_EQ(::stat(inner.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(echo.server.SocketPath(), inner + "/command");
}

TEST(CommandServer, SecondServerFailsAndTheFirstKeepsWorking)
{
    RuntimeFolder folder;
    EchoServer first;
    ASSERT_TRUE(first.Start());
    struct stat before {};
    ASSERT_EQ(::lstat(folder.socket().c_str(), &before), 0);
    {
        CommandServer second([](std::string_view) { return std::string("second\n"); });
        std::string error;
        EXPECT_FALSE(second.Start(error));
        EXPECT_FALSE(second.IsListening());
        EXPECT_NE(error.find(folder.socket()), std::string::npos) << error;
    }
    struct stat after {};
    ASSERT_EQ(::lstat(folder.socket().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    Client c(folder.socket());
    ASSERT_TRUE(c.Send("still first\n"));
    ASSERT_TRUE(c.WaitForLines(1));
    EXPECT_EQ(c.received, "got:still first\n");
}

TEST(CommandServer, AnotherProgramListeningOnTheSocketIsLeftAlone)
{
    RuntimeFolder folder;
    const int other = ListenLocal(folder.socket());
    ASSERT_GE(other, 0) << std::strerror(errno);

    CommandServer server([](std::string_view) { return std::string("x\n"); });
    std::string error;
    EXPECT_FALSE(server.Start(error));
    EXPECT_FALSE(error.empty());
    struct stat st {};
    EXPECT_EQ(::lstat(folder.socket().c_str(), &st), 0);
    // Still reachable: the file was not replaced.
    Client c(folder.socket());
    EXPECT_TRUE(c.connected());
    ::close(other);
}

TEST(CommandServer, AFileThatIsNoSocketIsLeftAlone)
{
    RuntimeFolder folder;
    const int fd = ::open(folder.socket().c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    CommandServer server([](std::string_view) { return std::string("x\n"); });
    std::string error;
    EXPECT_FALSE(server.Start(error));
    struct stat st {};
    ASSERT_EQ(::lstat(folder.socket().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

// A socket file whose process died without removing it.
void LeaveStaleSocket(const std::string& path)
{
    const int fd = ListenLocal(path);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ::close(fd);
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    ASSERT_TRUE(S_ISSOCK(st.st_mode));
}

TEST(CommandServer, StaleSocketFileIsReplaced)
{
    RuntimeFolder folder;
    LeaveStaleSocket(folder.socket());
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    Client c(folder.socket());
    ASSERT_TRUE(c.Send("fresh\n"));
    ASSERT_TRUE(c.WaitForLines(1));
    EXPECT_EQ(c.received, "got:fresh\n");
}

TEST(CommandClient, SendCommandRequestTalksToTheRunningServer)
{
    RuntimeFolder folder;
    FakeTarget target;
    CommandServer server(
        [&](std::string_view line) { return velkon::HandleCommandLine(target, line); });
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    EXPECT_EQ(velkon::CommandSocketPath(), folder.socket());

    struct Reply {
        int rc = -1;
        std::string answer;
        std::string error;
    };
    auto send = [](const std::string& request) {
        return RunBeside([request] {
            Reply r;
            r.rc = velkon::SendCommandRequest(request, r.answer, r.error);
            return r;
        });
    };
    Reply r = send("STATUS");
    EXPECT_EQ(r.rc, 0) << r.error;
    EXPECT_EQ(r.answer, kStatusAnswer);
    r = send("EXECUTE COM3  [ACTIVATE]");
    EXPECT_EQ(r.rc, 0) << r.error;
    EXPECT_EQ(r.answer, "REFUSED\n");
    r = send("EXECUTE none [ACTIVATE]");
    EXPECT_EQ(r.answer, "ACCEPTED\n");
    EXPECT_EQ(target.commands, (std::vector<std::string>{"0: [ACTIVATE]", "1:[ACTIVATE]"}));
    r = send("bogus");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.answer.rfind("ERROR ", 0), 0u);
    r = send("STATUS\nSTATUS");
    EXPECT_EQ(r.rc, velkon::kCommandError);
}

TEST(CommandClient, SendAndStatusCommandLinesGiveTheirExitCodes)
{
    RuntimeFolder folder;
    FakeTarget target;
    CommandServer server(
        [&](std::string_view line) { return velkon::HandleCommandLine(target, line); });
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;

    auto runSend = [](std::vector<std::string> args) {
        return RunBeside([args]() mutable {
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            return velkon::RunSendCommand(static_cast<int>(argv.size()), argv.data(), 2);
        });
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(runSend({"velkon", "--send", "COM3", "[ACTIVATE]"}), velkon::kCommandAccepted);
    EXPECT_EQ(runSend({"velkon", "--send", "None", "[COMSETTINGS=9600,", "N,8,1]"}),
              velkon::kCommandRefused);
    EXPECT_EQ(runSend({"velkon", "--send", "COM9", "[ACTIVATE]"}), velkon::kCommandNoTopic);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ACCEPTED\nREFUSED\nNO TOPIC\n");
    EXPECT_EQ(target.commands,
              (std::vector<std::string>{"0:[ACTIVATE]", "1:[COMSETTINGS=9600, N,8,1]"}));

    EXPECT_EQ(runSend({"velkon", "--send", "COM3"}), velkon::kCommandError);
    EXPECT_EQ(runSend({"velkon", "--send", "COM3", std::string(5000, 'x')}), velkon::kCommandError);
    EXPECT_EQ(target.commands.size(), 2u);

    testing::internal::CaptureStdout();
    EXPECT_EQ(RunBeside([] { return velkon::RunStatusCommand(); }), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "1\tCOM3\tactive\tS1 serial\tS1 network\tplain\t0\t0\t0\t0\t0\n2\tNone\tinactive\tS2 "
              "serial\tS2 network\tplain\t0\t0\t0\t0\t0\n");
}

TEST(CommandClient, NoInstanceAnswersGivesThree)
{
    RuntimeFolder folder;
    std::string answer;
    std::string error;
    EXPECT_EQ(velkon::SendCommandRequest("STATUS", answer, error), velkon::kCommandNoInstance);
    EXPECT_FALSE(error.empty());
    char arg0[] = "velkon", arg1[] = "--send", arg2[] = "COM3", arg3[] = "[ACTIVATE]";
    char* argv[] = {arg0, arg1, arg2, arg3};
    EXPECT_EQ(velkon::RunSendCommand(4, argv, 2), velkon::kCommandNoInstance);
    EXPECT_EQ(velkon::RunStatusCommand(), velkon::kCommandNoInstance);

    LeaveStaleSocket(folder.socket());
    EXPECT_EQ(velkon::SendCommandRequest("STATUS", answer, error), velkon::kCommandNoInstance);
    EXPECT_NE(error.find("stale"), std::string::npos) << error;
    EXPECT_EQ(velkon::RunStatusCommand(), velkon::kCommandNoInstance);
}

TEST(CommandServer, AClientOfAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a client as another user";
    RuntimeFolder folder;
    EchoServer echo;
    ASSERT_TRUE(echo.Start());
    // Reachable for the other user only inside this test: the folder can be
    // passed through and the socket opened, so the credential check is what
    // refuses.
    ASSERT_EQ(::chmod(folder.path().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(folder.socket().c_str(), 0666), 0);

    const sockaddr_un address = velkon::test::LocalSocketAddress(folder.socket());
    static const char kExpected[] = "ERROR permission denied\n";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only system calls from here on.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(10);
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 ||
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::_exit(11);
        }
        const char request[] = "STATUS\n";
        // The server may have answered and closed before the request: the
        // answer still waits to be read.
        if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) < 0 && errno != EPIPE &&
            errno != ECONNRESET)
            ::_exit(12);
        char buffer[256];
        std::size_t got = 0;
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                ::_exit(13);
            const ssize_t n = ::recv(fd, buffer + got, sizeof buffer - got, 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
            if (got == sizeof buffer)
                break;
        }
        const bool same = got == sizeof kExpected - 1 && std::memcmp(buffer, kExpected, got) == 0;
        ::_exit(same ? 0 : 14);
    }

    int status = 0;
    pid_t ended = 0;
    const bool finished = WaitFor(
        [&] {
            ended = ::waitpid(child, &status, WNOHANG);
            return ended != 0;
        },
        20000);
    if (!finished) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ::chmod(folder.socket().c_str(), 0600);
    ::chmod(folder.path().c_str(), 0700);
    ASSERT_TRUE(finished);
    ASSERT_EQ(ended, child);
    ASSERT_TRUE(WIFEXITED(status));
    // 10: could not switch user, 11: could not connect, 13: no answer,
    // 14: another answer.
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(echo.lines.empty());
    ASSERT_TRUE(WaitFor([&] { return echo.server.ConnectionCount() == 0; }, kWaitMs));

    // Our own user is still served.
    Client c(folder.socket());
    ASSERT_TRUE(c.Send("mine\n"));
    ASSERT_TRUE(c.WaitForLines(1));
    EXPECT_EQ(c.received, "got:mine\n");
}

TEST(CommandServer, AMonitorStreamsItsSessionUntilTheClientLeavesAndIsNeverIdle)
{
    RuntimeFolder folder;
    FakeTarget target;
    ProtocolServer protocol(target);
    ASSERT_TRUE(protocol.Start());
    Client monitor(folder.socket());
    // The request after MONITOR is not answered: the connection is a stream.
    ASSERT_TRUE(monitor.Send("MONITOR com3\nSTATUS\n"));
    ASSERT_TRUE(monitor.WaitForLines(1));
    ASSERT_TRUE(WaitFor([&] { return target.feed->Watched(); }, kWaitMs));

    protocol.server.SetIdleTimeout(std::chrono::milliseconds(20));
    Client idle(folder.socket());
    ASSERT_TRUE(idle.WaitForEnd());
    SerialSends(*target.feed, "Hi\x1b[2J");
    target.feed->Event(velkon::TrafficEventKind::kDeactivated);
    target.feed->Event(velkon::TrafficEventKind::kActivated);
    const std::uint8_t fromClient[] = {0x00, 0xff};
    target.feed->NetworkReceived(0, fromClient, sizeof fromClient);
    ASSERT_TRUE(monitor.WaitForLines(5));
    EXPECT_EQ(monitor.received,
              "ACCEPTED\n"
              "00:00:00.000 S>N 48 69 1b 5b 32 4a  Hi.[2J\n"
              "00:00:00.000 -- deactivated\n"
              "00:00:00.000 -- activated\n"
              "00:00:00.000 N>S 00 ff  ..\n");
    EXPECT_FALSE(monitor.ended);

    monitor.Close();
    ASSERT_TRUE(WaitFor([&] { return !target.feed->Watched(); }, kWaitMs));
    ASSERT_TRUE(WaitFor([&] { return protocol.server.ConnectionCount() == 0; }, kWaitMs));
    // Nothing is left that would reach the closed connection.
    SerialSends(*target.feed, "after");
}

TEST(CommandServer, AMonitorWhoseReaderStallsMissesChunksAndIsToldTheExactCount)
{
    RuntimeFolder folder;
    FakeTarget target;
    ProtocolServer protocol(target);
    ASSERT_TRUE(protocol.Start());
    Client monitor(folder.socket());
    ASSERT_TRUE(monitor.Send("MONITOR COM3\n"));
    ASSERT_TRUE(monitor.WaitForLines(1));
    ASSERT_EQ(monitor.received, "ACCEPTED\n");
    monitor.received.clear();

    // The reader takes nothing while the server runs: the socket fills, then
    // the monitor's own bound, and the rest is left out.
    std::string chunk(1024, '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>(i * 7);
    std::uint64_t pushed = 0;
    for (int i = 0; i < 1024; ++i) {
        SerialSends(*target.feed, chunk);
        pushed += chunk.size();
        QCoreApplication::processEvents();
    }
    // Reading again: the next chunk that fits follows the skip line.
    ASSERT_TRUE(WaitFor(
        [&] {
            monitor.Drain();
            if (monitor.received.find("  end\n") != std::string::npos)
                return true;
            SerialSends(*target.feed, "end");
            pushed += 3;
            return false;
        },
        kWaitMs));

    // Whole chunks in order, one skip line, then only what came after.
    const std::size_t skipEnd = monitor.received.find(" bytes not shown\n");
    ASSERT_NE(skipEnd, std::string::npos);
    const std::size_t split = monitor.received.rfind('\n', skipEnd) + 1;
    const Shown before = ParseMonitorLines(monitor.received.substr(0, split));
    const Shown after = ParseMonitorLines(monitor.received.substr(split));
    EXPECT_TRUE(before.events.empty());
    ASSERT_EQ(after.events.size(), 1u);
    const long long skipped = SkippedCount(after.events[0]);
    EXPECT_GT(skipped, 0);
    EXPECT_EQ(before.bytes.size() + after.bytes.size() + static_cast<std::uint64_t>(skipped),
              pushed);
    ASSERT_GT(before.bytes.size(), 0u);
    EXPECT_EQ(before.bytes.size() % chunk.size(), 0u);
    for (std::size_t at = 0; at < before.bytes.size(); at += chunk.size())
        EXPECT_EQ(before.bytes.compare(at, chunk.size(), chunk), 0) << at;
    EXPECT_FALSE(after.bytes.empty());
    for (std::size_t at = 0; at < after.bytes.size(); at += 3)
        EXPECT_EQ(after.bytes.substr(at, 3), "end");
}

TEST(CommandServer, AHundredMonitorsGetTheFreeSlotsAndStopClosesThem)
{
    RuntimeFolder folder;
    FakeTarget target;
    ProtocolServer protocol(target);
    ASSERT_TRUE(protocol.Start());
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 100; ++i)
        clients.push_back(std::make_unique<Client>(folder.socket()));
    std::vector<Client*> served;
    for (const auto& c : clients) {
        ASSERT_TRUE(WaitFor(
            [&] {
                c->Drain();
                return c->ended || protocol.server.ConnectionCount() >= served.size() + 1;
            },
            kWaitMs));
        if (c->ended) {
            EXPECT_EQ(c->received, "ERROR too many connections\n");
        } else {
            served.push_back(c.get());
        }
    }
    ASSERT_EQ(served.size(), CommandServer::kMaxConnections);
    for (Client* c : served) {
        ASSERT_TRUE(c->Send("MONITOR COM3\n"));
        ASSERT_TRUE(c->WaitForLines(1));
    }
    SerialSends(*target.feed, "x");
    for (Client* c : served) {
        ASSERT_TRUE(c->WaitForLines(2));
        EXPECT_EQ(c->received, "ACCEPTED\n00:00:00.000 S>N 78  x\n");
    }

    // Lines not yet sent still go out before the close.
    SerialSends(*target.feed, "y");
    protocol.server.Stop();
    EXPECT_FALSE(target.feed->Watched());
    for (Client* c : served) {
        ASSERT_TRUE(c->WaitForEnd());
        EXPECT_EQ(c->received, "ACCEPTED\n00:00:00.000 S>N 78  x\n00:00:00.000 S>N 79  y\n");
    }
}

TEST(CommandServer, AMonitorEndsWithItsSessionAndOnlyASessionWithTrafficIsMonitored)
{
    RuntimeFolder folder;
    FakeTarget target;
    ProtocolServer protocol(target);
    ASSERT_TRUE(protocol.Start());
    Client none(folder.socket());
    ASSERT_TRUE(none.Send("MONITOR None\nSTATUS\n"));
    ASSERT_TRUE(none.WaitForLines(4));
    EXPECT_EQ(none.received.rfind("ERROR ", 0), 0u) << none.received;
    EXPECT_EQ(none.received.substr(none.received.find('\n') + 1), kStatusAnswer);

    Client monitor(folder.socket());
    ASSERT_TRUE(monitor.Send("MONITOR COM3\n"));
    ASSERT_TRUE(monitor.WaitForLines(1));
    ASSERT_TRUE(WaitFor([&] { return target.feed->Watched(); }, kWaitMs));
    // As a session does when it goes: the event, then the feed is gone.
    SerialSends(*target.feed, "z");
    target.feed->Event(velkon::TrafficEventKind::kSessionRemoved);
    target.feed.reset();
    ASSERT_TRUE(monitor.WaitForEnd());
    EXPECT_EQ(monitor.received,
              "ACCEPTED\n00:00:00.000 S>N 7a  z\n00:00:00.000 -- session removed\n");
    ASSERT_TRUE(WaitFor([&] { return protocol.server.ConnectionCount() == 1; }, kWaitMs));
}

}  // namespace
