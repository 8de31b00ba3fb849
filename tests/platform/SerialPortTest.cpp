// The serial adapter against real pseudo-terminals: the test holds the master
// end and ports.ini maps a COM number to the slave, which plays the device.

// Kernel termios2 (to read back custom rates); <termios.h> would clash with it.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"

#include "serial/PortMap.h"
#include "serial/TermiosSerialPort.h"

using velkon::Bytes;
using velkon::DeviceForPort;
using velkon::TermiosSerialPort;
using velkon::test::AllByteValues;
using velkon::test::AppendAvailable;
using velkon::test::RunPendingEvents;
using velkon::test::WaitFor;
using velkon::test::WriteAll;

namespace {

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        ASSERT_NO_FATAL_FAILURE(NewDevice());
        WriteMap("[Ports]\nCOM3=" + m_device.slave + "\n");
    }

    // A fresh pseudo-terminal pair: the test keeps the master, the slave
    // plays the device.
    void NewDevice() { ASSERT_TRUE(m_device.Open()) << std::strerror(errno); }

    // Points the link at path (made aside and renamed, as udev does).
    void PointLink(const std::string& link, const std::string& path)
    {
        const std::string fresh = link + ".new";
        ASSERT_EQ(::symlink(path.c_str(), fresh.c_str()), 0) << std::strerror(errno);
        ASSERT_EQ(::rename(fresh.c_str(), link.c_str()), 0) << std::strerror(errno);
    }

    std::string Folder() const { return m_folder.path().toStdString(); }

    void WriteMap(const std::string& text)
    {
        std::ofstream(Folder() + "/ports.ini", std::ios::binary | std::ios::trunc) << text;
    }

    // A port on COM3 (the pseudo-terminal), opened.
    void OpenPort(TermiosSerialPort& port)
    {
        ASSERT_TRUE(port.SetCommPortNumber(3).ok());
        const velkon::Result opened = port.SetPortOpen(true);
        ASSERT_TRUE(opened.ok()) << opened.description();
        ASSERT_TRUE(port.IsPortOpen());
    }

    // The device's settings as the driver holds them.
    termios2 DeviceSettings() const
    {
        termios2 t{};
        EXPECT_EQ(::ioctl(m_device.master, TCGETS2, &t), 0);
        return t;
    }

    QTemporaryDir m_folder;
    velkon::test::TestTerminal m_device;
};

TEST(PortMapTest, DefaultsWithoutAMapFile)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const std::string folder = empty.path().toStdString();
    EXPECT_EQ(DeviceForPort(1, folder), "/dev/ttyS0");
    EXPECT_EQ(DeviceForPort(32, folder), "/dev/ttyS31");
    EXPECT_EQ(DeviceForPort(33, folder), "/dev/ttyUSB0");
    EXPECT_EQ(DeviceForPort(64, folder), "/dev/ttyUSB31");
    EXPECT_EQ(DeviceForPort(65, folder), "/dev/ttyACM0");
    EXPECT_EQ(DeviceForPort(96, folder), "/dev/ttyACM31");
    EXPECT_EQ(DeviceForPort(97, folder), "");
    EXPECT_EQ(DeviceForPort(256, folder), "");
    EXPECT_EQ(DeviceForPort(0, folder), "");
    EXPECT_EQ(DeviceForPort(-3, folder), "");
    EXPECT_EQ(DeviceForPort(300, folder), "");
}

TEST(PortMapTest, EntriesOverrideTheDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    std::ofstream(folder + "/ports.ini", std::ios::binary)
        << "; serial devices\r\n[Other]\r\nCOM1=/dev/wrong\r\n[Ports]\r\nCOM3=/dev/ttyUSB7\r\n"
           "com200 = /dev/pts/9\r\nCOM5=\r\nCOM257=/dev/ttyX\r\n";
    EXPECT_EQ(DeviceForPort(3, folder), "/dev/ttyUSB7");
    EXPECT_EQ(DeviceForPort(200, folder), "/dev/pts/9");
    EXPECT_EQ(DeviceForPort(5, folder), "/dev/ttyS4");  // empty entry: default
    EXPECT_EQ(DeviceForPort(1, folder), "/dev/ttyS0");  // other sections do not count
    EXPECT_EQ(DeviceForPort(257, folder), "");          // beyond COM256
    // A trailing slash on the folder finds the same file.
    EXPECT_EQ(DeviceForPort(3, folder + "/"), "/dev/ttyUSB7");
}

TEST_F(SerialPortTest, RefusedSettingsNameThePortAndKeepTheOldOnes)
{
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetCommPortNumber(3).ok());
    ASSERT_TRUE(port.SetLineSettings("19200,N,8,2").ok());

    velkon::Result r = port.SetLineSettings("9600,X,8,1");
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.description().find("COM3 (" + m_device.slave + ")"), std::string::npos)
        << r.description();
    EXPECT_NE(r.description().find("parity"), std::string::npos) << r.description();

    r = port.SetLineSettings("abc");
    EXPECT_FALSE(r.ok());
    r = port.SetLineSettings("9600,N,8,1.5");
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.description().find("5 data bits"), std::string::npos) << r.description();
    EXPECT_EQ(port.LineSettings(), "19200,N,8,2");

    EXPECT_FALSE(port.SetHandshakeMode(3).ok());
    EXPECT_FALSE(port.SetHandshakeMode(-1).ok());

    // The kept settings are the ones the opened device gets.
    OpenPort(port);
    EXPECT_EQ(DeviceSettings().c_ospeed, 19200u);

    // This pseudo-terminal refuses 7 data bits and parity: a failure naming
    // the device, with the port and its settings as they were.
    for (const char* refused : {"9600,N,7,1", "9600,E,8,1", "9600,M,8,2"}) {
        r = port.SetLineSettings(refused);
        EXPECT_FALSE(r.ok()) << refused;
        EXPECT_NE(r.description().find("COM3 (" + m_device.slave + "): the device refused"),
                  std::string::npos)
            << r.description();
        EXPECT_TRUE(port.IsPortOpen());
        EXPECT_EQ(port.LineSettings(), "19200,N,8,2");
        EXPECT_EQ(DeviceSettings().c_ospeed, 19200u) << refused;
        EXPECT_NE(DeviceSettings().c_cflag & CSTOPB, 0u) << refused;
    }

    // Stored while closed, refused at opening.
    TermiosSerialPort other(Folder());
    ASSERT_TRUE(other.SetCommPortNumber(3).ok());
    port.SetPortOpen(false);
    ASSERT_TRUE(other.SetLineSettings("9600,O,7,1").ok());
    r = other.SetPortOpen(true);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(other.IsPortOpen());
    EXPECT_NE(r.description().find("refused"), std::string::npos) << r.description();
}

TEST_F(SerialPortTest, OpeningAppliesRawModeAndTheLineSettings)
{
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetCommPortNumber(3).ok());
    ASSERT_TRUE(port.SetLineSettings("28800,N,8,2").ok());
    ASSERT_TRUE(port.SetHandshakeMode(2).ok());
    // A pseudo-terminal has no modem lines: DTR must not make opening fail.
    ASSERT_TRUE(port.SetDtrEnabled(true).ok());
    OpenPort(port);

    termios2 t = DeviceSettings();
    EXPECT_EQ(t.c_ospeed, 28800u);
    EXPECT_EQ(t.c_ispeed, 28800u);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u);

    // While open, new settings apply at once.
    ASSERT_TRUE(port.SetLineSettings("115200,N,8,1").ok());
    t = DeviceSettings();
    EXPECT_EQ(t.c_ospeed, 115200u);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

    ASSERT_TRUE(port.SetHandshakeMode(1).ok());
    t = DeviceSettings();
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

    ASSERT_TRUE(port.SetHandshakeMode(0).ok());
    t = DeviceSettings();
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

    EXPECT_TRUE(port.SetDtrEnabled(false).ok());
    EXPECT_TRUE(port.SetDtrEnabled(true).ok());
}

TEST_F(SerialPortTest, EveryBaudRateOfTheListIsApplied)
{
    TermiosSerialPort port(Folder());
    OpenPort(port);
    const int rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,
                         19200, 28800, 38400, 57600, 115200, 230400, 460800, 921600};
    for (int rate : rates) {
        const std::string text = std::to_string(rate) + ",N,8,1";
        const velkon::Result r = port.SetLineSettings(text);
        ASSERT_TRUE(r.ok()) << text << ": " << r.description();
        EXPECT_EQ(port.LineSettings(), text);
        const termios2 t = DeviceSettings();
        EXPECT_EQ(t.c_ospeed, static_cast<speed_t>(rate)) << text;
        EXPECT_EQ(t.c_ispeed, static_cast<speed_t>(rate)) << text;
    }
}

TEST_F(SerialPortTest, AllByteValuesPassUnchangedBothWays)
{
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetLineSettings("115200,N,8,1").ok());
    OpenPort(port);

    const Bytes expected = AllByteValues(32);
    Bytes received;
    int wrongCodes = 0;
    port.setCommEventHandler([&] {
        if (port.EventCode() != TermiosSerialPort::kEventReceive) {
            ++wrongCodes;
        }
        Bytes chunk;
        ASSERT_TRUE(port.ReadReceived(chunk, 1000).ok());
        EXPECT_LE(chunk.size(), 1000u);
        received.insert(received.end(), chunk.begin(), chunk.end());
    });
    ASSERT_TRUE(WriteAll(m_device.master, expected));
    ASSERT_TRUE(WaitFor([&] { return received.size() >= expected.size(); }))
        << "received " << received.size() << " of " << expected.size();
    EXPECT_EQ(received, expected);
    EXPECT_EQ(wrongCodes, 0);

    ASSERT_TRUE(port.QueueTransmit(expected).ok());
    Bytes sent;
    ASSERT_TRUE(WaitFor([&] {
        AppendAvailable(m_device.master, sent);
        return sent.size() >= expected.size();
    })) << "got "
        << sent.size() << " of " << expected.size();
    EXPECT_EQ(sent, expected);
}

TEST_F(SerialPortTest, TransmitBeyondWhatTheDriverTakesIsKeptInOrder)
{
    TermiosSerialPort port(Folder());
    OpenPort(port);
    EXPECT_EQ(port.TransmitBufferSize(), 8192);
    ASSERT_TRUE(port.SetTransmitBufferSize(4096).ok());
    EXPECT_EQ(port.TransmitBufferSize(), 4096);

    // Far more than a pseudo-terminal holds while nobody reads the other end.
    Bytes data;
    for (int i = 0; i < 256 * 1024; ++i) {
        data.push_back(static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF));
    }
    std::vector<int> waitingAtSend;
    port.setCommEventHandler([&] {
        if (port.EventCode() == TermiosSerialPort::kEventSend) {
            waitingAtSend.push_back(port.OutputWaiting());
        }
    });
    Bytes first(data.begin(), data.begin() + 100'000);
    Bytes second(data.begin() + 100'000, data.end());
    ASSERT_TRUE(port.QueueTransmit(first).ok());
    ASSERT_TRUE(port.QueueTransmit(second).ok());
    EXPECT_GT(port.OutputWaiting(), 0);
    EXPECT_TRUE(waitingAtSend.empty()) << "the send event came from inside QueueTransmit";

    Bytes got;
    ASSERT_TRUE(WaitFor(
        [&] {
            AppendAvailable(m_device.master, got);
            return got.size() >= data.size();
        },
        30000))
        << "got " << got.size() << " of " << data.size();
    EXPECT_EQ(got, data);
    EXPECT_TRUE(WaitFor([&] { return port.TransmitWaiting() == 0; }));
    EXPECT_EQ(waitingAtSend, std::vector<int>{0});
}

TEST_F(SerialPortTest, HoldKeepsBytesInTheDriverUntilResume)
{
    TermiosSerialPort port(Folder());
    OpenPort(port);
    int events = 0;
    Bytes received;
    port.setCommEventHandler([&] {
        ++events;
        Bytes chunk;
        port.ReadReceived(chunk, 4096);
        received.insert(received.end(), chunk.begin(), chunk.end());
    });
    port.HoldReceive();
    const Bytes data = AllByteValues(2);
    ASSERT_TRUE(WriteAll(m_device.master, data));
    ASSERT_TRUE(WaitFor([&] { return port.ReceiveWaiting() == static_cast<int>(data.size()); }));
    RunPendingEvents();
    EXPECT_EQ(events, 0) << "an event was raised while receiving was held";

    port.ResumeReceive();
    ASSERT_TRUE(WaitFor([&] { return received.size() >= data.size(); }));
    EXPECT_EQ(received, data);
    EXPECT_EQ(port.ReceiveWaiting(), 0);
}

TEST_F(SerialPortTest, DiscardDropsWaitingBytes)
{
    TermiosSerialPort port(Folder());
    OpenPort(port);
    port.HoldReceive();
    ASSERT_TRUE(WriteAll(m_device.master, Bytes{1, 2, 3, 4, 5}));
    ASSERT_TRUE(WaitFor([&] { return port.ReceiveWaiting() == 5; }));
    port.DiscardReceived();
    EXPECT_EQ(port.ReceiveWaiting(), 0);

    Bytes received;
    port.setCommEventHandler([&] {
        Bytes chunk;
        port.ReadReceived(chunk, 100);
        received.insert(received.end(), chunk.begin(), chunk.end());
    });
    port.ResumeReceive();
    ASSERT_TRUE(WriteAll(m_device.master, Bytes{9}));
    ASSERT_TRUE(WaitFor([&] { return !received.empty(); }));
    EXPECT_EQ(received, Bytes{9});
}

TEST_F(SerialPortTest, ASecondOpeningReportsThePortInUse)
{
    TermiosSerialPort first(Folder());
    OpenPort(first);

    TermiosSerialPort second(Folder());
    ASSERT_TRUE(second.SetCommPortNumber(3).ok());
    const velkon::Result r = second.SetPortOpen(true);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(second.IsPortOpen());
    EXPECT_EQ(r.description(), "COM3 (" + m_device.slave + "): port is in use by another program");

    // Other programs that do not lock are kept out by the terminal's
    // exclusive mode (which this privileged test can see past).
    int exclusive = 0;
    const int flags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const int peek = ::open(m_device.slave.c_str(), flags);
    if (peek >= 0) {
        EXPECT_EQ(::ioctl(peek, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        ::close(peek);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }

    // Closing releases the port for the next one, and for other programs.
    ASSERT_TRUE(first.SetPortOpen(false).ok());
    EXPECT_FALSE(first.IsPortOpen());
    const int other = ::open(m_device.slave.c_str(), flags);
    ASSERT_GE(other, 0) << std::strerror(errno);
    EXPECT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(other);
    const velkon::Result again = second.SetPortOpen(true);
    EXPECT_TRUE(again.ok()) << again.description();
}

TEST_F(SerialPortTest, DestructionReleasesThePort)
{
    {
        TermiosSerialPort first(Folder());
        OpenPort(first);
    }
    TermiosSerialPort second(Folder());
    OpenPort(second);
}

TEST_F(SerialPortTest, AMissingDeviceIsNamedWithTheReason)
{
    WriteMap("[Ports]\nCOM4=/nonexistent/ttyX9\n");
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetCommPortNumber(4).ok());
    const velkon::Result r = port.SetPortOpen(true);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(port.IsPortOpen());
    EXPECT_EQ(r.description(), "COM4 (/nonexistent/ttyX9): port does not exist");
}

TEST_F(SerialPortTest, AFileThatIsNotATerminalIsRefused)
{
    WriteMap("[Ports]\nCOM6=/dev/null\n");
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetCommPortNumber(6).ok());
    const velkon::Result r = port.SetPortOpen(true);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(port.IsPortOpen());
    EXPECT_EQ(r.description(), "COM6 (/dev/null): not a serial port");
}

TEST_F(SerialPortTest, APortWithoutADeviceIsRefused)
{
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetCommPortNumber(300).ok());
    const velkon::Result r = port.SetPortOpen(true);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(port.IsPortOpen());
    EXPECT_EQ(r.description(), "COM300: no device is mapped to this port (see ports.ini)");
}

TEST_F(SerialPortTest, ClosedPortRefusesTransferAndReportsNothingWaiting)
{
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetCommPortNumber(3).ok());
    EXPECT_FALSE(port.QueueTransmit(Bytes{1}).ok());
    Bytes out{7};
    EXPECT_FALSE(port.ReadReceived(out, 10).ok());
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(port.ReceiveWaiting(), 0);
    EXPECT_EQ(port.TransmitWaiting(), 0);
    EXPECT_TRUE(port.SetPortOpen(false).ok());
}

TEST_F(SerialPortTest, ADeviceThatHangsUpFailsWritesWithItsName)
{
    TermiosSerialPort port(Folder());
    OpenPort(port);
    m_device.Close();
    // The hang-up must not keep the event loop busy or crash it.
    RunPendingEvents();
    const velkon::Result r = port.QueueTransmit(Bytes{1, 2, 3});
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.description().find("COM3 (" + m_device.slave + "): "), std::string::npos)
        << r.description();
    EXPECT_TRUE(port.SetPortOpen(false).ok());
}

TEST_F(SerialPortTest, ALostDeviceComesBackThroughARepointedLinkTenTimes)
{
    const std::string link = Folder() + "/by-id-adapter";
    ASSERT_NO_FATAL_FAILURE(PointLink(link, m_device.slave));
    WriteMap("[Ports]\nCOM3=" + link + "\n");
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetLineSettings("19200,N,8,2").ok());
    OpenPort(port);
    std::vector<int> events;
    Bytes received;
    port.setCommEventHandler([&] {
        events.push_back(port.EventCode());
        if (port.EventCode() == TermiosSerialPort::kEventReceive) {
            Bytes chunk;
            port.ReadReceived(chunk, 100);
            received.insert(received.end(), chunk.begin(), chunk.end());
        }
    });
    const auto count = [&](int code) { return std::count(events.begin(), events.end(), code); };

    for (int round = 1; round <= 10; ++round) {
        // Unplugged: the link goes first, as udev removes it; left dangling
        // it could resolve to a node another process took meanwhile.
        ASSERT_EQ(::unlink(link.c_str()), 0);
        m_device.Close();
        ASSERT_TRUE(WaitFor([&] { return count(TermiosSerialPort::kEventDeviceLost) == round; }))
            << round;
        EXPECT_FALSE(port.IsPortOpen());
        EXPECT_EQ(port.DeviceLossReason(), "the device was disconnected");
        EXPECT_FALSE(port.QueueTransmit(Bytes{1}).ok());

        ASSERT_NO_FATAL_FAILURE(NewDevice());  // plugged in again, on a new node
        ASSERT_NO_FATAL_FAILURE(PointLink(link, m_device.slave));
        ASSERT_TRUE(WaitFor([&] { return count(TermiosSerialPort::kEventDeviceBack) >= round; }))
            << round;
        const velkon::Result reopened = port.SetPortOpen(true);
        ASSERT_TRUE(reopened.ok()) << reopened.description();
        EXPECT_TRUE(port.DeviceLossReason().empty());
        EXPECT_EQ(DeviceSettings().c_ospeed, 19200u) << "stored settings not applied";
        EXPECT_NE(DeviceSettings().c_cflag & CSTOPB, 0u);

        received.clear();
        ASSERT_TRUE(WriteAll(m_device.master, Bytes{static_cast<std::uint8_t>(round)}));
        ASSERT_TRUE(WaitFor([&] { return !received.empty(); })) << round;
        EXPECT_EQ(received, Bytes{static_cast<std::uint8_t>(round)});
        // Each loss is reported once, however many wake-ups it caused.
        EXPECT_EQ(count(TermiosSerialPort::kEventDeviceLost), round);
    }
}

TEST_F(SerialPortTest, AnOpenPortFollowsItsLinkToAnotherDevice)
{
    const std::string link = Folder() + "/by-id-adapter";
    ASSERT_NO_FATAL_FAILURE(PointLink(link, m_device.slave));
    WriteMap("[Ports]\nCOM3=" + link + "\n");
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetLineSettings("19200,N,8,2").ok());
    OpenPort(port);
    std::vector<int> events;
    std::string lossReason;
    // As a session does: a device that is back is reopened.
    port.setCommEventHandler([&] {
        events.push_back(port.EventCode());
        if (port.EventCode() == TermiosSerialPort::kEventDeviceLost) {
            lossReason = port.DeviceLossReason();
        } else if (port.EventCode() == TermiosSerialPort::kEventDeviceBack) {
            port.SetPortOpen(true);
        }
    });
    const auto count = [&](int code) { return std::count(events.begin(), events.end(), code); };

    // The link is renewed to another device while the first one stays.
    velkon::test::TestTerminal first;
    std::swap(first.master, m_device.master);
    ASSERT_NO_FATAL_FAILURE(NewDevice());
    ASSERT_NO_FATAL_FAILURE(PointLink(link, m_device.slave));
    ASSERT_TRUE(WaitFor(
        [&] { return count(TermiosSerialPort::kEventDeviceBack) >= 1 && port.IsPortOpen(); }));
    EXPECT_EQ(count(TermiosSerialPort::kEventDeviceLost), 1);
    EXPECT_EQ(lossReason, "the device path now leads to another device");
    EXPECT_EQ(DeviceSettings().c_ospeed, 19200u) << "settings not applied to the new device";

    const Bytes data{'n', 'e', 'w'};
    ASSERT_TRUE(port.QueueTransmit(data).ok());
    Bytes atNew;
    ASSERT_TRUE(WaitFor([&] {
        AppendAvailable(m_device.master, atNew);
        return atNew.size() >= data.size();
    }));
    EXPECT_EQ(atNew, data);
    Bytes atOld;
    AppendAvailable(first.master, atOld);
    EXPECT_TRUE(atOld.empty()) << atOld.size() << " bytes went to the old device";
    EXPECT_EQ(count(TermiosSerialPort::kEventDeviceLost), 1);
}

}  // namespace
