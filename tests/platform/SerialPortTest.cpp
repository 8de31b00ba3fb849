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

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"

#include "serial/PortMap.h"
#include "serial/TermiosSerialPort.h"

using velkon::Bytes;
using velkon::DeviceForPort;
using velkon::LineSettingsValues;
using velkon::ParseLineSettings;
using velkon::TermiosSerialPort;
using velkon::test::AllByteValues;
using velkon::test::WaitFor;

namespace {

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        ASSERT_NO_FATAL_FAILURE(NewDevice());
        WriteMap("[Ports]\nCOM3=" + m_slave + "\n");
    }

    // A fresh pseudo-terminal pair: the test keeps the master, the slave
    // plays the device.
    void NewDevice()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(::grantpt(m_master), 0);
        ASSERT_EQ(::unlockpt(m_master), 0);
        char name[PATH_MAX] = {};
        ASSERT_EQ(::ptsname_r(m_master, name, sizeof name), 0);
        m_slave = name;
    }

    // Points the link at path (made aside and renamed, as udev does).
    void PointLink(const std::string& link, const std::string& path)
    {
        const std::string fresh = link + ".new";
        ASSERT_EQ(::symlink(path.c_str(), fresh.c_str()), 0) << std::strerror(errno);
        ASSERT_EQ(::rename(fresh.c_str(), link.c_str()), 0) << std::strerror(errno);
    }

    void TearDown() override
    {
        if (m_master >= 0) {
            ::close(m_master);
        }
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

    // Appends whatever the master end can read now.
    void DrainMaster(Bytes& into)
    {
        std::uint8_t chunk[4096];
        while (true) {
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n <= 0) {
                return;
            }
            into.insert(into.end(), chunk, chunk + n);
        }
    }

    // The device's settings as the driver holds them.
    termios2 DeviceSettings() const
    {
        termios2 t{};
        EXPECT_EQ(::ioctl(m_master, TCGETS2, &t), 0);
        return t;
    }

    // Writes all of data to the master end, running the event loop while the
    // device is full.
    bool WriteToMaster(const Bytes& data)
    {
        std::size_t written = 0;
        return WaitFor([&] {
            while (written < data.size()) {
                const ssize_t n = ::write(m_master, data.data() + written, data.size() - written);
                if (n <= 0) {
                    break;
                }
                written += static_cast<std::size_t>(n);
            }
            return written == data.size();
        });
    }

    QTemporaryDir m_folder;
    int m_master = -1;
    std::string m_slave;
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

TEST(LineSettingsTest, ReadsValidTexts)
{
    LineSettingsValues v;
    std::string reason;
    ASSERT_TRUE(ParseLineSettings("9600,N,8,1", v, reason)) << reason;
    EXPECT_EQ(v.baudRate, 9600);
    EXPECT_EQ(v.parity, 'N');
    EXPECT_EQ(v.dataBits, 8);
    EXPECT_EQ(v.stopBits, LineSettingsValues::StopBits::kOne);

    ASSERT_TRUE(ParseLineSettings("115200,E,7,2", v, reason)) << reason;
    EXPECT_EQ(v.baudRate, 115200);
    EXPECT_EQ(v.parity, 'E');
    EXPECT_EQ(v.dataBits, 7);
    EXPECT_EQ(v.stopBits, LineSettingsValues::StopBits::kTwo);

    ASSERT_TRUE(ParseLineSettings("300,S,5,1.5", v, reason)) << reason;
    EXPECT_EQ(v.parity, 'S');
    EXPECT_EQ(v.dataBits, 5);
    EXPECT_EQ(v.stopBits, LineSettingsValues::StopBits::kOneAndHalf);

    ASSERT_TRUE(ParseLineSettings(" 14400 , m , 6 , 1 ", v, reason)) << reason;
    EXPECT_EQ(v.baudRate, 14400);
    EXPECT_EQ(v.parity, 'M');
    EXPECT_EQ(v.dataBits, 6);

    ASSERT_TRUE(ParseLineSettings("921600,o,8,1", v, reason)) << reason;
    EXPECT_EQ(v.baudRate, 921600);
    EXPECT_EQ(v.parity, 'O');
}

TEST(LineSettingsTest, RefusesMalformedTexts)
{
    const char* const bad[] = {
        "abc",          "",           "9600,X,8,1",        "9600,N,8",    "9600,N,8,1,1",
        "9600,N,9,1",   "9600,N,4,1", "0,N,8,1",           "-9600,N,8,1", "96a0,N,8,1",
        "9600,NN,8,1",  "9600,N,8,3", "9600,N,8,",         ",N,8,1",      "9600,N,8,1.5",
        "9600,N,7,1.5", "9600,,8,1",  "99999999999,N,8,1",
    };
    for (const char* text : bad) {
        LineSettingsValues v;
        v.baudRate = 1234;
        std::string reason;
        EXPECT_FALSE(ParseLineSettings(text, v, reason)) << '"' << text << '"';
        EXPECT_FALSE(reason.empty()) << '"' << text << '"';
        EXPECT_EQ(v.baudRate, 1234) << "values changed by refused \"" << text << '"';
    }
    LineSettingsValues v;
    std::string reason;
    EXPECT_FALSE(ParseLineSettings("9600,N,8,1.5", v, reason));
    EXPECT_NE(reason.find("5 data bits"), std::string::npos) << reason;
}

TEST_F(SerialPortTest, RefusedSettingsNameThePortAndKeepTheOldOnes)
{
    TermiosSerialPort port(Folder());
    ASSERT_TRUE(port.SetCommPortNumber(3).ok());
    ASSERT_TRUE(port.SetLineSettings("19200,N,8,2").ok());

    velkon::Result r = port.SetLineSettings("9600,X,8,1");
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.description().find("COM3 (" + m_slave + ")"), std::string::npos) << r.description();
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
        EXPECT_NE(r.description().find("COM3 (" + m_slave + "): the device refused"),
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
    ASSERT_TRUE(WriteToMaster(expected));
    ASSERT_TRUE(WaitFor([&] { return received.size() >= expected.size(); }))
        << "received " << received.size() << " of " << expected.size();
    EXPECT_EQ(received, expected);
    EXPECT_EQ(wrongCodes, 0);

    ASSERT_TRUE(port.QueueTransmit(expected).ok());
    Bytes sent;
    ASSERT_TRUE(WaitFor([&] {
        DrainMaster(sent);
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
            DrainMaster(got);
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
    ASSERT_TRUE(WriteToMaster(data));
    ASSERT_TRUE(WaitFor([&] { return port.ReceiveWaiting() == static_cast<int>(data.size()); }));
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
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
    ASSERT_TRUE(WriteToMaster(Bytes{1, 2, 3, 4, 5}));
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
    ASSERT_TRUE(WriteToMaster(Bytes{9}));
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
    EXPECT_EQ(r.description(), "COM3 (" + m_slave + "): port is in use by another program");

    // Other programs that do not lock are kept out by the terminal's
    // exclusive mode (which this privileged test can see past).
    int exclusive = 0;
    const int flags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const int peek = ::open(m_slave.c_str(), flags);
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
    const int other = ::open(m_slave.c_str(), flags);
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
    ::close(m_master);
    m_master = -1;
    // The hang-up must not keep the event loop busy or crash it.
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    const velkon::Result r = port.QueueTransmit(Bytes{1, 2, 3});
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.description().find("COM3 (" + m_slave + "): "), std::string::npos)
        << r.description();
    EXPECT_TRUE(port.SetPortOpen(false).ok());
}

TEST_F(SerialPortTest, ALostDeviceComesBackThroughARepointedLinkTenTimes)
{
    const std::string link = Folder() + "/by-id-adapter";
    ASSERT_NO_FATAL_FAILURE(PointLink(link, m_slave));
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
        ::close(m_master);
        m_master = -1;
        ASSERT_TRUE(WaitFor([&] { return count(TermiosSerialPort::kEventDeviceLost) == round; }))
            << round;
        EXPECT_FALSE(port.IsPortOpen());
        EXPECT_EQ(port.DeviceLossReason(), "the device was disconnected");
        EXPECT_FALSE(port.QueueTransmit(Bytes{1}).ok());

        ASSERT_NO_FATAL_FAILURE(NewDevice());  // plugged in again, on a new node
        ASSERT_NO_FATAL_FAILURE(PointLink(link, m_slave));
        ASSERT_TRUE(WaitFor([&] { return count(TermiosSerialPort::kEventDeviceBack) >= round; }))
            << round;
        const velkon::Result reopened = port.SetPortOpen(true);
        ASSERT_TRUE(reopened.ok()) << reopened.description();
        EXPECT_TRUE(port.DeviceLossReason().empty());
        EXPECT_EQ(DeviceSettings().c_ospeed, 19200u) << "stored settings not applied";
        EXPECT_NE(DeviceSettings().c_cflag & CSTOPB, 0u);

        received.clear();
        ASSERT_TRUE(WriteToMaster(Bytes{static_cast<std::uint8_t>(round)}));
        ASSERT_TRUE(WaitFor([&] { return !received.empty(); })) << round;
        EXPECT_EQ(received, Bytes{static_cast<std::uint8_t>(round)});
        // Each loss is reported once, however many wake-ups it caused.
        EXPECT_EQ(count(TermiosSerialPort::kEventDeviceLost), round);
    }
}

}  // namespace
