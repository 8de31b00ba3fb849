#include "serial/LineWatch.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <QTimer>

#include "components/SerialPort.h"

namespace velkon {

LineWatch::LineWatch(std::function<void(int)> onEvent) : m_onEvent(std::move(onEvent)) {}

LineWatch::~LineWatch() = default;

int LineWatch::ModemLines(int fd)
{
    int bits = 0;
    if (fd < 0 || ::ioctl(fd, TIOCMGET, &bits) != 0)
        return -1;
    int lines = 0;
    lines |= (bits & TIOCM_CTS) ? SerialPort::kLineCts : 0;
    lines |= (bits & TIOCM_DSR) ? SerialPort::kLineDsr : 0;
    lines |= (bits & TIOCM_RI) ? SerialPort::kLineRi : 0;
    lines |= (bits & TIOCM_CD) ? SerialPort::kLineDcd : 0;
    return lines;
}

bool LineWatch::ReadCounts(int fd, Counts& counts)
{
    serial_icounter_struct c{};
    if (::ioctl(fd, TIOCGICOUNT, &c) != 0)
        return false;
    counts = {c.frame, c.overrun, c.parity, c.brk};
    return true;
}

void LineWatch::Start(int fd)
{
    Stop();
    m_lines = ModemLines(fd);
    m_haveCounts = ReadCounts(fd, m_counts);
    if (m_lines < 0 && !m_haveCounts)
        return;
    m_fd = fd;
    m_timer = std::make_unique<QTimer>();
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { Poll(); });
    m_timer->start(kPollMs);
}

void LineWatch::Stop()
{
    // Stop may come from inside a handler the timer runs.
    if (m_timer)
        m_timer.release()->deleteLater();
    m_fd = -1;
}

void LineWatch::Poll()
{
    const int fd = m_fd;
    std::vector<int> events;
    const int lines = ModemLines(fd);
    if (lines >= 0 && m_lines >= 0) {
        const int changed = lines ^ m_lines;
        if (changed & SerialPort::kLineCts)
            events.push_back(SerialPort::kEventCts);
        if (changed & SerialPort::kLineDsr)
            events.push_back(SerialPort::kEventDsr);
        if (changed & SerialPort::kLineDcd)
            events.push_back(SerialPort::kEventCd);
        if (changed & SerialPort::kLineRi)
            events.push_back(SerialPort::kEventRing);
    }
    m_lines = lines;
    Counts counts;
    if (m_haveCounts && ReadCounts(fd, counts)) {
        if (counts.brk != m_counts.brk)
            events.push_back(SerialPort::kEventBreak);
        if (counts.frame != m_counts.frame)
            events.push_back(SerialPort::kEventFrame);
        if (counts.overrun != m_counts.overrun)
            events.push_back(SerialPort::kEventOverrun);
        if (counts.parity != m_counts.parity)
            events.push_back(SerialPort::kEventRxParity);
        m_counts = counts;
    }
    for (int code : events) {
        if (m_fd != fd)
            return;
        m_onEvent(code);
    }
}

}  // namespace velkon
