#include "virtual/PtyVirtualPort.h"

#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "components/LineSettings.h"
#include "serial/TerminalLine.h"

namespace velkon {

PtyVirtualPort::PtyVirtualPort()
    : m_channel({.received = [this] { raiseDataReceived(); },
                 .drained = [this] { raiseOutputDrained(); },
                 // The adapter holds both ends, so the master does not fail
                 // while the port exists; should it, the data path stops.
                 .failed = [](int) {},
                 .status = [this](unsigned char status) { OnPacketStatus(status); }})
{
}

PtyVirtualPort::~PtyVirtualPort()
{
    *m_alive = false;
    if (!DeletePort()) {
        // The link could not be removed; the free lock marks it as left over.
        Release();
    }
}

bool PtyVirtualPort::CreatePort(const std::string& name)
{
    if (m_master >= 0 && !DeletePort()) {
        return false;
    }
    // Busy: the port belongs to a live session, here or in another instance.
    if (!m_link.Claim(name)) {
        return false;
    }
    std::string slavePath;
    if (!OpenPair(slavePath) || !m_link.Publish(slavePath)) {
        m_link.Abandon();
        Release();
        return false;
    }
    m_slavePath = slavePath;
    m_appOpens = 0;
    m_channel.Attach(m_master);
    ApplyLineWatch();
    return true;
}

bool PtyVirtualPort::OpenPair(std::string& slavePath)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        return false;
    }
    char slaveName[PATH_MAX] = {};
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, slaveName, sizeof slaveName) != 0) {
        return false;
    }
    // The adapter's own descriptor, opened before the watch starts so that it
    // is never counted as an application.
    m_slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) {
        return false;
    }
    termios raw{};
    if (::tcgetattr(m_slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(m_slave, TCSANOW, &raw);
    }
    const std::shared_ptr<bool> alive = m_alive;
    if (m_slaveWatch.Start(slaveName, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE,
                           [this, alive](std::uint32_t mask, const std::string&) {
                               if (*alive) {
                                   OnSlaveEvent(mask);
                               }
                           }) != 0) {
        return false;
    }
    slavePath = slaveName;
    return true;
}

bool PtyVirtualPort::DeletePort()
{
    if (m_master < 0) {
        return true;
    }
    if (!m_link.Withdraw()) {
        return false;
    }
    Release();
    return true;
}

void PtyVirtualPort::Release()
{
    m_slaveWatch.Stop();
    m_packetMode = false;
    m_channel.SetPacketMode(false);
    m_channel.Detach();
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    m_link.Release();
    m_slavePath.clear();
    m_appOpens = 0;
}

void PtyVirtualPort::SetPortFlag(bool flag)
{
    m_portFlag = flag;
}

void PtyVirtualPort::ResetBus()
{
    PortLinkPublication::RemoveLeftovers(m_link.LockPath());
}

int PtyVirtualPort::AvailableCount()
{
    return m_master < 0 ? 0 : m_channel.Waiting();
}

int PtyVirtualPort::ReadBytes(Bytes& buf, int count)
{
    buf.clear();
    if (m_master < 0 || count <= 0) {
        return 0;
    }
    m_channel.Receive(buf, static_cast<std::size_t>(count));
    return static_cast<int>(buf.size());
}

int PtyVirtualPort::ReadInto(std::uint8_t* buffer, int count)
{
    if (m_master < 0 || count <= 0) {
        return 0;
    }
    std::size_t got = 0;
    m_channel.ReceiveInto(buffer, static_cast<std::size_t>(count), got);
    return static_cast<int>(got);
}

int PtyVirtualPort::WriteBytes(const Bytes& buf)
{
    return Write(buf.data(), buf.size());
}

int PtyVirtualPort::Write(const std::uint8_t* data, std::size_t size)
{
    if (m_master < 0 || m_channel.Send(data, size) != 0) {
        return 0;
    }
    return static_cast<int>(size);
}

bool PtyVirtualPort::PurgeReceived()
{
    if (m_master < 0) {
        return false;
    }
    const bool flushed = ::tcflush(m_master, TCIFLUSH) == 0;
    m_channel.TookBytes();
    return flushed;
}

bool PtyVirtualPort::IsOpenedByApplication()
{
    return m_master >= 0 && m_appOpens > 0;
}

int PtyVirtualPort::OutputWaiting()
{
    return static_cast<int>(m_channel.Queued());
}

void PtyVirtualPort::HoldReceive()
{
    m_channel.Hold();
}

void PtyVirtualPort::ResumeReceive()
{
    m_channel.Resume();
}

void PtyVirtualPort::MakeSlaveRaw() const
{
    termios raw{};
    if (::tcgetattr(m_slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        if (m_watchLines)
            raw.c_lflag |= EXTPROC;
        ::tcsetattr(m_slave, TCSANOW, &raw);
    }
}

void PtyVirtualPort::OnSlaveEvent(std::uint32_t mask)
{
    if (m_master < 0) {
        return;
    }
    // Two applications opening (or closing) back to back may come as one
    // event; the count is kept from going below zero. The exclusive mode
    // makes a second opener rare.
    if ((mask & IN_OPEN) != 0 && ++m_appOpens == 1) {
        ChangeOpenState(true);
    } else if ((mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0 && m_appOpens > 0 &&
               --m_appOpens == 0) {
        // Bytes the application wrote just before closing come first.
        const std::shared_ptr<bool> alive = m_alive;
        m_channel.ReportWaiting();
        if (*alive && m_master >= 0) {
            ChangeOpenState(false);
        }
    }
}

void PtyVirtualPort::WatchLineSettings(bool on)
{
    m_watchLines = on;
    ApplyLineWatch();
}

void PtyVirtualPort::ApplyLineWatch()
{
    // Without the watch the port stays exactly as it always was.
    if (m_master < 0 || (!m_watchLines && !m_packetMode))
        return;
    m_packetMode = m_watchLines;
    int packet = m_watchLines ? 1 : 0;
    ::ioctl(m_master, TIOCPKT, &packet);
    m_channel.SetPacketMode(m_watchLines);
    termios t{};
    if (::tcgetattr(m_slave, &t) == 0) {
        t.c_lflag = m_watchLines ? (t.c_lflag | EXTPROC) : (t.c_lflag & ~EXTPROC);
        ::tcsetattr(m_slave, TCSANOW, &t);
    }
}

void PtyVirtualPort::OnPacketStatus(unsigned char status)
{
    // An application that clears EXTPROC is still reported this once; it
    // is set again so later changes are too.
    if (!(status & (TIOCPKT_IOCTL | TIOCPKT_DOSTOP | TIOCPKT_NOSTOP)))
        return;
    termios t{};
    if (::tcgetattr(m_slave, &t) == 0 && !(t.c_lflag & EXTPROC)) {
        t.c_lflag |= EXTPROC;
        ::tcsetattr(m_slave, TCSANOW, &t);
    }
    raiseLineSettingsChanged();
}

std::string PtyVirtualPort::LineSettings()
{
    velkon::LineSettings line;
    return ReadTerminalLine(m_slave, line) ? LineSettingsText(line) : "";
}

int PtyVirtualPort::HandshakeMode()
{
    velkon::LineSettings line;
    return ReadTerminalLine(m_slave, line) ? static_cast<int>(line.flowControl) : 0;
}

bool PtyVirtualPort::SetLineSettings(const std::string& settings)
{
    velkon::LineSettings line;
    std::string reason;
    return m_slave >= 0 && ParseLineSettings(settings, line, reason) &&
           WriteTerminalRateAndShape(m_slave, line) == 0;
}

void PtyVirtualPort::ChangeOpenState(bool opened)
{
    // The adapter's descriptor is open already, so the exclusive mode only
    // keeps out openers after this application.
    ::ioctl(m_slave, opened ? TIOCEXCL : TIOCNXCL);
    if (!opened) {
        // The next application gets a raw port even if this one changed it.
        MakeSlaveRaw();
    }
    raiseOpenStateChanged(opened);
}

}  // namespace velkon
