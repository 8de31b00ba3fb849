// The virtual port adapter on real pseudo-terminals; the test plays the
// application that opens the published link.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"

#include "serial/TermiosSerialPort.h"
#include "system/RuntimeDir.h"
#include "virtual/PtyVirtualPort.h"

using velkon::Bytes;
using velkon::PtyVirtualPort;
using velkon::test::AllByteValues;
using velkon::test::AppendAvailable;
using velkon::test::RunPendingEvents;
using velkon::test::WaitFor;
using velkon::test::WriteAll;

namespace {

Bytes ToBytes(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsSymlink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string LinkTarget(const std::string& path)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

// Keeps an environment variable as it was before the test.
class SavedEnv {
public:
    explicit SavedEnv(const char* name) : m_name(name)
    {
        if (const char* value = std::getenv(name)) {
            m_value = value;
        }
    }
    ~SavedEnv()
    {
        if (m_value) {
            ::setenv(m_name, m_value->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    SavedEnv(const SavedEnv&) = delete;
    SavedEnv& operator=(const SavedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_value;
};

class VirtualPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        // Parents that do not exist yet must be created too.
        m_dir = m_temp.path().toStdString() + "/run/velkon";
        ::setenv("VELKON_RUNTIME_DIR", m_dir.c_str(), 1);
    }

    void TearDown() override
    {
        for (int fd : m_fds) {
            ::close(fd);
        }
    }

    std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }

    void MakeDir()
    {
        std::string created;
        const velkon::Result r = velkon::EnsureRuntimeDirectory(created);
        ASSERT_TRUE(r.ok()) << r.description();
    }

    // Opens the port the way an application does, through the link.
    int OpenApp(const std::string& name, int flags = O_RDWR | O_NOCTTY | O_NONBLOCK)
    {
        const int fd = ::open(PathOf(name).c_str(), flags | O_CLOEXEC);
        if (fd >= 0) {
            m_fds.push_back(fd);
        }
        return fd;
    }

    void CloseApp(int fd)
    {
        std::erase(m_fds, fd);
        ::close(fd);
    }

    // An lock held the way a live instance holds it (a separate open file).
    int HoldLock(const std::string& name)
    {
        const int fd =
            ::open((m_dir + "/." + name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        m_fds.push_back(fd);
        return fd;
    }

    // Gathers every byte the port reports into `received`.
    static void CollectArrivals(PtyVirtualPort& port, Bytes& received)
    {
        port.setDataReceivedHandler([&port, &received] {
            Bytes chunk;
            port.ReadBytes(chunk, 4096);
            received.insert(received.end(), chunk.begin(), chunk.end());
        });
    }

    // Notes each open and close as "open@N" or "close@N", N being the bytes
    // received by then.
    static void RecordOpenStates(PtyVirtualPort& port, const Bytes& received,
                                 std::vector<std::string>& order)
    {
        port.setOpenStateChangedHandler([&received, &order](bool opened) {
            order.push_back(std::string(opened ? "open" : "close") + "@" +
                            std::to_string(received.size()));
        });
    }

    SavedEnv m_savedOwn{"VELKON_RUNTIME_DIR"};
    SavedEnv m_savedXdg{"XDG_RUNTIME_DIR"};
    QTemporaryDir m_temp;
    std::string m_dir;
    std::vector<int> m_fds;
};

TEST_F(VirtualPortTest, RuntimeDirectoryFollowsTheEnvironment)
{
    EXPECT_EQ(velkon::RuntimeDirectory(), m_dir);
    ::setenv("VELKON_RUNTIME_DIR", "", 1);
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4321", 1);
    EXPECT_EQ(velkon::RuntimeDirectory(), "/run/user/4321/velkon");
    ::unsetenv("VELKON_RUNTIME_DIR");
    EXPECT_EQ(velkon::RuntimeDirectory(), "/run/user/4321/velkon");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(velkon::RuntimeDirectory(), "/tmp/velkon-" + std::to_string(::getuid()));
}

TEST_F(VirtualPortTest, RuntimeDirectoryIsCreatedPrivate)
{
    std::string path;
    const velkon::Result r = velkon::EnsureRuntimeDirectory(path);
    ASSERT_TRUE(r.ok()) << r.description();
    EXPECT_EQ(path, m_dir);
    struct stat st {};
    ASSERT_EQ(::stat(m_dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat((m_temp.path().toStdString() + "/run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // An existing folder is used as it is.
    ASSERT_EQ(::chmod(m_dir.c_str(), 0755), 0);
    EXPECT_TRUE(velkon::EnsureRuntimeDirectory(path).ok());
    ASSERT_EQ(::stat(m_dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(VirtualPortTest, RuntimeDirectoryIsPrivateWhateverTheUmask)
{
    const mode_t previous = ::umask(0277);
    std::string path;
    const velkon::Result r = velkon::EnsureRuntimeDirectory(path);
    ::umask(previous);
    ASSERT_TRUE(r.ok()) << r.description();
    struct stat st {};
    ASSERT_EQ(::stat(m_dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat((m_temp.path().toStdString() + "/run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(VirtualPortTest, RuntimeDirectoryBlockedByAFileIsAClearFailure)
{
    const std::string blocker = m_temp.path().toStdString() + "/file";
    std::ofstream(blocker) << "x";
    ::setenv("VELKON_RUNTIME_DIR", (blocker + "/velkon").c_str(), 1);
    std::string path;
    const velkon::Result r = velkon::EnsureRuntimeDirectory(path);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.description().find(blocker), std::string::npos) << r.description();

    PtyVirtualPort port;
    EXPECT_FALSE(port.CreatePort("COM3"));
}

TEST_F(VirtualPortTest, CreatePublishesALinkAndDeleteRemovesIt)
{
    PtyVirtualPort port;
    EXPECT_TRUE(port.DeletePort());  // nothing to delete is fine
    ASSERT_TRUE(port.CreatePort("COM3"));
    EXPECT_EQ(port.LinkPath(), PathOf("COM3"));
    ASSERT_TRUE(IsSymlink(PathOf("COM3")));
    struct stat st {};
    ASSERT_EQ(::stat(PathOf("COM3").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_TRUE(Exists(PathOf(".COM3.lock")));
    EXPECT_FALSE(port.IsOpenedByApplication());
    EXPECT_EQ(port.AvailableCount(), 0);
    EXPECT_EQ(port.OutputWaiting(), 0);

    EXPECT_TRUE(port.DeletePort());
    EXPECT_FALSE(Exists(PathOf("COM3")));
    EXPECT_FALSE(Exists(PathOf(".COM3.lock")));
    EXPECT_TRUE(port.LinkPath().empty());
    EXPECT_EQ(port.AvailableCount(), 0);
    EXPECT_FALSE(port.IsOpenedByApplication());
    EXPECT_TRUE(port.DeletePort());
}

TEST_F(VirtualPortTest, DestructionRemovesTheLink)
{
    {
        PtyVirtualPort port;
        ASSERT_TRUE(port.CreatePort("COM4"));
        ASSERT_TRUE(IsSymlink(PathOf("COM4")));
    }
    EXPECT_FALSE(Exists(PathOf("COM4")));
    EXPECT_FALSE(Exists(PathOf(".COM4.lock")));
}

TEST_F(VirtualPortTest, NamesThatAreNotPlainFileNamesAreRefused)
{
    PtyVirtualPort port;
    EXPECT_FALSE(port.CreatePort(""));
    EXPECT_FALSE(port.CreatePort("../COM3"));
    EXPECT_FALSE(port.CreatePort("a/b"));
    EXPECT_FALSE(port.CreatePort(".COM3"));
}

TEST_F(VirtualPortTest, ALivePortCannotBeCreatedTwice)
{
    PtyVirtualPort first;
    PtyVirtualPort second;
    ASSERT_TRUE(first.CreatePort("COM5"));
    const std::string target = LinkTarget(PathOf("COM5"));
    ASSERT_FALSE(target.empty());

    EXPECT_FALSE(second.CreatePort("COM5"));
    EXPECT_EQ(LinkTarget(PathOf("COM5")), target) << "the live link was replaced";
    EXPECT_TRUE(second.LinkPath().empty());

    ASSERT_TRUE(first.DeletePort());
    EXPECT_TRUE(second.CreatePort("COM5"));
    EXPECT_TRUE(IsSymlink(PathOf("COM5")));
}

TEST_F(VirtualPortTest, APortLockedByAnotherInstanceIsLive)
{
    MakeDir();
    ASSERT_EQ(::symlink("/dev/null", PathOf("COM9").c_str()), 0);
    HoldLock("COM9");
    PtyVirtualPort port;
    EXPECT_FALSE(port.CreatePort("COM9"));
    EXPECT_EQ(LinkTarget(PathOf("COM9")), "/dev/null");
    EXPECT_TRUE(Exists(PathOf(".COM9.lock")));
}

TEST_F(VirtualPortTest, AStaleLinkIsReplaced)
{
    MakeDir();
    // Left behind with its (free) lock file, and without one.
    ASSERT_EQ(::symlink("/nonexistent/pts/77", PathOf("COM7").c_str()), 0);
    std::ofstream(PathOf(".COM7.lock")) << "";
    ASSERT_EQ(::symlink("/nonexistent/pts/78", PathOf("COM8").c_str()), 0);

    PtyVirtualPort seven;
    PtyVirtualPort eight;
    ASSERT_TRUE(seven.CreatePort("COM7"));
    ASSERT_TRUE(eight.CreatePort("COM8"));
    EXPECT_EQ(LinkTarget(PathOf("COM7")).rfind("/dev/pts/", 0), 0u) << LinkTarget(PathOf("COM7"));
    EXPECT_EQ(LinkTarget(PathOf("COM8")).rfind("/dev/pts/", 0), 0u) << LinkTarget(PathOf("COM8"));
    EXPECT_NE(LinkTarget(PathOf("COM7")), LinkTarget(PathOf("COM8")));
}

TEST_F(VirtualPortTest, AFileThatIsNotALinkIsLeftAlone)
{
    MakeDir();
    std::ofstream(PathOf("COM10")) << "keep me";
    PtyVirtualPort port;
    EXPECT_FALSE(port.CreatePort("COM10"));
    ASSERT_FALSE(IsSymlink(PathOf("COM10")));
    std::ifstream in(PathOf("COM10"));
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(VirtualPortTest, ResetBusRemovesStaleAndKeepsLivePorts)
{
    PtyVirtualPort live;
    ASSERT_TRUE(live.CreatePort("COM5"));
    const std::string liveTarget = LinkTarget(PathOf("COM5"));
    // Stale: link and free lock; link alone; lock alone.
    ASSERT_EQ(::symlink("/nonexistent/pts/6", PathOf("COM6").c_str()), 0);
    std::ofstream(PathOf(".COM6.lock")) << "";
    ASSERT_EQ(::symlink("/dev/pts/9999", PathOf("COM8").c_str()), 0);
    std::ofstream(PathOf(".COM12.lock")) << "";
    // Live in another instance.
    ASSERT_EQ(::symlink("/nonexistent/pts/11", PathOf("COM11").c_str()), 0);
    HoldLock("COM11");
    // Not ours: files, and a link elsewhere without a lock file.
    std::ofstream(PathOf("notes.txt")) << "x";
    std::ofstream(PathOf("COM13")) << "x";
    ASSERT_EQ(::symlink("/etc/hostname", PathOf("config").c_str()), 0);

    PtyVirtualPort other;
    other.ResetBus();

    EXPECT_FALSE(Exists(PathOf("COM6")));
    EXPECT_FALSE(Exists(PathOf(".COM6.lock")));
    EXPECT_FALSE(Exists(PathOf("COM8")));
    EXPECT_FALSE(Exists(PathOf(".COM8.lock")));
    EXPECT_FALSE(Exists(PathOf(".COM12.lock")));
    EXPECT_EQ(LinkTarget(PathOf("COM5")), liveTarget);
    EXPECT_TRUE(Exists(PathOf(".COM5.lock")));
    EXPECT_TRUE(IsSymlink(PathOf("COM11")));
    EXPECT_TRUE(Exists(PathOf(".COM11.lock")));
    EXPECT_TRUE(Exists(PathOf("notes.txt")));
    EXPECT_TRUE(Exists(PathOf("COM13")));
    EXPECT_TRUE(IsSymlink(PathOf("config")));

    // The live port is still usable and a port's own ResetBus spares it.
    live.ResetBus();
    EXPECT_EQ(LinkTarget(PathOf("COM5")), liveTarget);
    EXPECT_TRUE(live.DeletePort());
    EXPECT_FALSE(Exists(PathOf("COM5")));
}

TEST_F(VirtualPortTest, ResetBusWithoutAFolderDoesNothing)
{
    PtyVirtualPort port;
    port.ResetBus();
    EXPECT_FALSE(Exists(m_dir));
}

TEST_F(VirtualPortTest, OpeningAndClosingByAnApplicationIsReported)
{
    PtyVirtualPort port;
    std::vector<bool> events;
    port.setOpenStateChangedHandler([&](bool opened) { events.push_back(opened); });
    ASSERT_TRUE(port.CreatePort("COM3"));
    EXPECT_FALSE(port.IsOpenedByApplication());

    for (int round = 0; round < 3; ++round) {
        const int app = OpenApp("COM3");
        ASSERT_GE(app, 0) << std::strerror(errno);
        ASSERT_TRUE(WaitFor([&] { return events.size() == 2u * round + 1; }));
        EXPECT_TRUE(events.back()) << "round " << round;
        EXPECT_TRUE(port.IsOpenedByApplication());

        CloseApp(app);
        ASSERT_TRUE(WaitFor([&] { return events.size() == 2u * round + 2; }));
        EXPECT_FALSE(events.back()) << "round " << round;
        EXPECT_FALSE(port.IsOpenedByApplication());
    }
}

TEST_F(VirtualPortTest, TheSlaveIsRawAlsoAfterAnApplicationChangedIt)
{
    PtyVirtualPort port;
    std::vector<bool> events;
    port.setOpenStateChangedHandler([&](bool opened) { events.push_back(opened); });
    ASSERT_TRUE(port.CreatePort("COM3"));

    const auto expectRaw = [](int fd) {
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
    };

    int app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    expectRaw(app);
    ASSERT_TRUE(WaitFor([&] { return events.size() == 1; }));
    // This application turns on line editing and echo, then leaves.
    termios cooked{};
    ASSERT_EQ(::tcgetattr(app, &cooked), 0);
    cooked.c_lflag |= ECHO | ICANON;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_iflag |= ICRNL;
    ASSERT_EQ(::tcsetattr(app, TCSANOW, &cooked), 0);
    CloseApp(app);
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));

    app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    expectRaw(app);
}

TEST_F(VirtualPortTest, BytesPassUnchangedWithoutEcho)
{
    PtyVirtualPort port;
    Bytes received;
    port.setDataReceivedHandler([&] {
        Bytes chunk;
        const int n = port.ReadBytes(chunk, 4096);
        EXPECT_EQ(n, static_cast<int>(chunk.size()));
        received.insert(received.end(), chunk.begin(), chunk.end());
    });
    ASSERT_TRUE(port.CreatePort("COM3"));
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);

    ASSERT_TRUE(WriteAll(app, ToBytes("a\nb\r")));
    ASSERT_TRUE(WaitFor([&] { return received.size() >= 4; }));
    EXPECT_EQ(received, ToBytes("a\nb\r"));

    EXPECT_EQ(port.WriteBytes(ToBytes("x\ny\r")), 4);
    Bytes atApp;
    ASSERT_TRUE(WaitFor([&] {
        AppendAvailable(app, atApp);
        return atApp.size() >= 4;
    }));
    EXPECT_EQ(atApp, ToBytes("x\ny\r"));

    // An echo of "x\ny\r" would reach the port ahead of this marker.
    received.clear();
    ASSERT_TRUE(WriteAll(app, ToBytes("Z")));
    ASSERT_TRUE(WaitFor([&] { return !received.empty(); }));
    EXPECT_EQ(received, ToBytes("Z"));
}

TEST_F(VirtualPortTest, AllByteValuesPassBothWays)
{
    PtyVirtualPort port;
    Bytes received;
    port.setDataReceivedHandler([&] {
        Bytes chunk;
        port.ReadBytes(chunk, 1000);
        received.insert(received.end(), chunk.begin(), chunk.end());
    });
    ASSERT_TRUE(port.CreatePort("COM3"));
    // The application never configures the port.
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);

    const Bytes expected = AllByteValues(64);
    ASSERT_TRUE(WriteAll(app, expected));
    ASSERT_TRUE(WaitFor([&] { return received.size() >= expected.size(); })) << received.size();
    EXPECT_EQ(received, expected);

    EXPECT_EQ(port.WriteBytes(expected), static_cast<int>(expected.size()));
    Bytes atApp;
    ASSERT_TRUE(WaitFor([&] {
        AppendAvailable(app, atApp);
        return atApp.size() >= expected.size();
    })) << atApp.size();
    EXPECT_EQ(atApp, expected);
}

TEST_F(VirtualPortTest, AReaderTakingOneByteAtATimeGetsEverythingInOrderThenDrained)
{
    PtyVirtualPort port;
    ASSERT_TRUE(port.CreatePort("COM3"));
    std::vector<int> waitingAtDrain;
    port.setOutputDrainedHandler([&] { waitingAtDrain.push_back(port.OutputWaiting()); });
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);

    std::mt19937 random(12345);
    Bytes data(256 * 1024);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random());
    }
    const std::size_t half = data.size() / 2;
    EXPECT_EQ(port.WriteBytes(Bytes(data.begin(), data.begin() + half)), static_cast<int>(half));
    EXPECT_EQ(port.WriteBytes(Bytes(data.begin() + half, data.end())),
              static_cast<int>(data.size() - half));
    // A pseudo-terminal holds some kilobytes: the rest waits in the adapter,
    // and the drained event never comes from inside WriteBytes.
    EXPECT_GT(port.OutputWaiting(), 0);
    EXPECT_TRUE(waitingAtDrain.empty());

    Bytes atApp;
    ASSERT_TRUE(WaitFor(
        [&] {
            std::uint8_t byte = 0;
            while (::read(app, &byte, 1) == 1) {
                atApp.push_back(byte);
            }
            return atApp.size() >= data.size() && !waitingAtDrain.empty();
        },
        60000))
        << atApp.size() << " of " << data.size();
    EXPECT_TRUE(atApp == data) << "bytes lost or out of order";
    EXPECT_EQ(waitingAtDrain, std::vector<int>{0});
}

TEST_F(VirtualPortTest, AnOpenLastingAMomentIsReportedWithItsBytes)
{
    PtyVirtualPort port;
    Bytes received;
    std::vector<std::string> order;
    CollectArrivals(port, received);
    RecordOpenStates(port, received, order);
    ASSERT_TRUE(port.CreatePort("COM3"));
    for (int round = 0; round < 3; ++round) {
        // Open, write and close without the event loop running in between.
        const int app = OpenApp("COM3");
        ASSERT_GE(app, 0);
        ASSERT_EQ(::write(app, "hi", 2), 2);
        CloseApp(app);
        ASSERT_TRUE(WaitFor([&] { return order.size() == 2u * round + 2; })) << round;
        EXPECT_FALSE(port.IsOpenedByApplication());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"open@0", "close@2", "open@2", "close@4", "open@4",
                                               "close@6"}));
}

TEST_F(VirtualPortTest, ASecondApplicationFindsThePortBusyUntilTheFirstLeaves)
{
    PtyVirtualPort port;
    std::vector<bool> events;
    port.setOpenStateChangedHandler([&](bool opened) { events.push_back(opened); });
    ASSERT_TRUE(port.CreatePort("COM3"));
    // Before any application, and with the adapter's own descriptor open.
    EXPECT_EQ(velkon::test::OpenWithoutSysAdmin(PathOf("COM3")), 0);
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));

    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    ASSERT_TRUE(WaitFor([&] { return events.size() == 3; }));
    EXPECT_EQ(velkon::test::OpenWithoutSysAdmin(PathOf("COM3")), EBUSY);

    CloseApp(app);
    ASSERT_TRUE(WaitFor([&] { return events.size() == 4; }));
    EXPECT_EQ(velkon::test::OpenWithoutSysAdmin(PathOf("COM3")), 0);
    EXPECT_EQ(events, (std::vector<bool>{true, false, true, false}));
}

TEST_F(VirtualPortTest, BytesWrittenJustBeforeClosingComeBeforeTheClose)
{
    PtyVirtualPort port;
    Bytes received;
    std::vector<std::string> order;
    CollectArrivals(port, received);
    RecordOpenStates(port, received, order);
    ASSERT_TRUE(port.CreatePort("COM3"));
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    ASSERT_TRUE(WaitFor([&] { return order.size() == 1; }));
    ASSERT_TRUE(WriteAll(app, ToBytes("bye")));
    CloseApp(app);
    ASSERT_TRUE(WaitFor([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"open@0", "close@3"}));
    EXPECT_EQ(received, ToBytes("bye"));
}

TEST_F(VirtualPortTest, BytesLeftByAClosedApplicationAreReportedAfterResume)
{
    PtyVirtualPort port;
    Bytes received;
    std::vector<bool> events;
    CollectArrivals(port, received);
    port.setOpenStateChangedHandler([&](bool opened) { events.push_back(opened); });
    ASSERT_TRUE(port.CreatePort("COM3"));
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    ASSERT_TRUE(WaitFor([&] { return events.size() == 1; }));
    port.HoldReceive();
    ASSERT_TRUE(WriteAll(app, ToBytes("left behind")));
    CloseApp(app);
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(port.AvailableCount(), 11);

    port.ResumeReceive();
    ASSERT_TRUE(WaitFor([&] { return received.size() >= 11; }));
    EXPECT_EQ(received, ToBytes("left behind"));
}

TEST_F(VirtualPortTest, BytesForAClosedPortWaitForTheNextApplication)
{
    PtyVirtualPort port;
    ASSERT_TRUE(port.CreatePort("COM3"));
    const Bytes data = AllByteValues(4);
    EXPECT_EQ(port.WriteBytes(data), static_cast<int>(data.size()));
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    Bytes atApp;
    ASSERT_TRUE(WaitFor([&] {
        AppendAvailable(app, atApp);
        return atApp.size() >= data.size();
    }));
    EXPECT_EQ(atApp, data);
}

TEST_F(VirtualPortTest, HoldKeepsBytesInThePortUntilResume)
{
    PtyVirtualPort port;
    int events = 0;
    Bytes received;
    bool opened = false;
    port.setDataReceivedHandler([&] {
        ++events;
        Bytes chunk;
        port.ReadBytes(chunk, 4096);
        received.insert(received.end(), chunk.begin(), chunk.end());
    });
    port.setOpenStateChangedHandler([&](bool state) { opened = state; });
    ASSERT_TRUE(port.CreatePort("COM3"));
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    // From the open event on, arrivals are watched at once.
    ASSERT_TRUE(WaitFor([&] { return opened; }));

    port.HoldReceive();
    const Bytes data = AllByteValues(2);
    ASSERT_TRUE(WriteAll(app, data));
    ASSERT_TRUE(WaitFor([&] { return port.AvailableCount() == static_cast<int>(data.size()); }));
    RunPendingEvents();
    EXPECT_EQ(events, 0) << "an event was raised while receiving was held";

    port.ResumeReceive();
    ASSERT_TRUE(WaitFor([&] { return received.size() >= data.size(); }));
    EXPECT_EQ(received, data);
}

TEST_F(VirtualPortTest, PurgeDropsWhatTheApplicationWrote)
{
    PtyVirtualPort port;
    EXPECT_FALSE(port.PurgeReceived());
    ASSERT_TRUE(port.CreatePort("COM3"));
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    port.HoldReceive();
    ASSERT_TRUE(WriteAll(app, ToBytes("old bytes")));
    ASSERT_TRUE(WaitFor([&] { return port.AvailableCount() == 9; }));
    EXPECT_TRUE(port.PurgeReceived());
    EXPECT_EQ(port.AvailableCount(), 0);

    Bytes received;
    port.setDataReceivedHandler([&] {
        Bytes chunk;
        port.ReadBytes(chunk, 100);
        received.insert(received.end(), chunk.begin(), chunk.end());
    });
    port.ResumeReceive();
    ASSERT_TRUE(WriteAll(app, ToBytes("new")));
    ASSERT_TRUE(WaitFor([&] { return received.size() >= 3; }));
    EXPECT_EQ(received, ToBytes("new"));
}

TEST_F(VirtualPortTest, DeletingWhileAnApplicationHoldsThePortHangsItUp)
{
    PtyVirtualPort port;
    ASSERT_TRUE(port.CreatePort("COM3"));
    const int app = OpenApp("COM3");
    ASSERT_GE(app, 0);
    EXPECT_TRUE(port.DeletePort());
    EXPECT_FALSE(Exists(PathOf("COM3")));
    std::uint8_t byte = 0;
    EXPECT_LT(::write(app, &byte, 1), 0);
    EXPECT_EQ(errno, EIO);
}

TEST_F(VirtualPortTest, TakesEveryRateAPhysicalPortTakes)
{
    // A physical port on a pseudo-terminal, beside the virtual one.
    velkon::test::TestTerminal device;
    ASSERT_TRUE(device.Open());
    const std::string folder = m_temp.path().toStdString();
    std::ofstream(folder + "/ports.ini") << "[Ports]\nCOM3=" << device.slave << "\n";
    velkon::TermiosSerialPort physical(folder);
    ASSERT_TRUE(physical.SetCommPortNumber(3).ok());
    const velkon::Result opened = physical.SetPortOpen(true);
    ASSERT_TRUE(opened.ok()) << opened.description();

    PtyVirtualPort port;
    ASSERT_TRUE(port.CreatePort("COM7"));
    int taken = 0;
    // Standard rates beyond the classic list, and rates without a code.
    for (int rate : {50, 9600, 250000, 500000, 576000, 921600, 1000000, 1500000, 2000000, 3000000,
                     4000000, 7372800}) {
        const std::string text = std::to_string(rate) + ",N,8,2";
        if (!physical.SetLineSettings(text).ok()) {
            continue;  // this machine's terminals do not take it
        }
        ++taken;
        EXPECT_TRUE(port.SetLineSettings(text)) << text;
        EXPECT_EQ(port.LineSettings(), text);
    }
    // The pseudo-terminals here take at least the rates with a code.
    EXPECT_GE(taken, 10);
}

}  // namespace
