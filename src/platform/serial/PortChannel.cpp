#include "serial/PortChannel.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <poll.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace velkon {

namespace {

void Dispose(std::unique_ptr<QSocketNotifier>& notifier, bool deferred)
{
    if (!notifier) {
        return;
    }
    notifier->setEnabled(false);
    QObject::disconnect(notifier.get(), nullptr, nullptr, nullptr);
    if (deferred) {
        notifier.release()->deleteLater();
    } else {
        notifier.reset();
    }
}

}  // namespace

PortChannel::PortChannel(Handlers handlers) : m_handlers(std::move(handlers)) {}

PortChannel::~PortChannel()
{
    *m_alive = false;
    Detach();
}

void PortChannel::Attach(int fd)
{
    Detach();
    m_fd = fd;
    m_holding = false;
    m_stalled = false;
    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, [this] { OnWritable(); });
    Update();
}

void PortChannel::Detach()
{
    const bool deferred = m_dispatchDepth > 0;
    Dispose(m_readNotifier, deferred);
    Dispose(m_writeNotifier, deferred);
    m_fd = -1;
    m_queue.Clear();
    m_holding = false;
    m_stalled = false;
}

int PortChannel::Send(const std::uint8_t* data, std::size_t size)
{
    if (m_fd < 0) {
        return EBADF;
    }
    if (size == 0) {
        return 0;
    }
    std::size_t written = 0;
    // Behind waiting bytes the new ones only queue up, to keep the order.
    while (Queued() == 0 && written < size) {
        const ssize_t n = ::write(m_fd, data + written, size - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            // A short write: the device is full, a retry would only fail.
            if (written < size)
                break;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EAGAIN) {
            return errno;
        } else {
            break;
        }
    }
    if (written == size) {
        return 0;
    }
    m_queue.Add(data + written, static_cast<std::int32_t>(size - written));
    Update();
    return 0;
}

int PortChannel::ReceiveInto(std::uint8_t* buffer, std::size_t maxBytes, std::size_t& got)
{
    got = 0;
    if (m_packetMode) {
        // Status bytes come first in every read: the copying path sorts them.
        Bytes out;
        const int err = ReceivePackets(out, maxBytes);
        std::copy(out.begin(), out.end(), buffer);
        got = out.size();
        return err;
    }
    if (m_fd < 0) {
        return EBADF;
    }
    int err = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(m_fd, buffer + got, maxBytes - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            // A short read: the rest has not arrived yet.
            if (got < maxBytes)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            err = errno;
        }
        break;
    }
    if (got > 0) {
        TookBytes();
        return 0;
    }
    return err;
}

int PortChannel::Receive(Bytes& out, std::size_t maxBytes)
{
    if (m_packetMode) {
        return ReceivePackets(out, maxBytes);
    }
    out.resize(maxBytes);
    std::size_t got = 0;
    const int err = ReceiveInto(out.data(), maxBytes, got);
    out.resize(got);
    return err;
}

int PortChannel::ReceivePackets(Bytes& out, std::size_t maxBytes)
{
    out.clear();
    if (m_fd < 0) {
        return EBADF;
    }
    // Each read brings its status byte first: read one byte further and move
    // the data over it.
    out.resize(maxBytes + 1);
    std::size_t got = 0;
    int err = 0;
    unsigned char status = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(m_fd, out.data() + got, maxBytes + 1 - got);
        if (n > 0) {
            if (out[got] != 0) {
                status |= out[got];
                continue;
            }
            std::copy(out.begin() + static_cast<std::ptrdiff_t>(got) + 1,
                      out.begin() + static_cast<std::ptrdiff_t>(got) + n,
                      out.begin() + static_cast<std::ptrdiff_t>(got));
            got += static_cast<std::size_t>(n) - 1;
            if (n == 1)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            err = errno;
        }
        break;
    }
    out.resize(got);
    if (status != 0)
        ReportStatus(status);
    if (got > 0) {
        TookBytes();
        return 0;
    }
    return err;
}

bool PortChannel::TakeStatus()
{
    // A one-byte read returns a pending status, or only the data marker.
    unsigned char status = 0;
    if (::read(m_fd, &status, 1) != 1 || status == 0)
        return false;
    ReportStatus(status);
    return true;
}

void PortChannel::ReportStatus(unsigned char status)
{
    if (m_handlers.status)
        m_handlers.status(status);
}

void PortChannel::TookBytes()
{
    ++m_takeCount;
    if (m_stalled) {
        m_stalled = false;
        Update();
    }
}

void PortChannel::SetReporting(bool on)
{
    m_reporting = on;
    Update();
}

void PortChannel::Hold()
{
    m_holding = true;
    Update();
}

void PortChannel::Resume()
{
    m_holding = false;
    m_stalled = false;
    // Bytes already waiting are reported at once by the notifier.
    Update();
}

void PortChannel::OnReadable()
{
    int waiting = 0;
    if (::ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting <= 0) {
        if (m_packetMode && TakeStatus())
            return;
        // Readable without bytes: the device hung up (the far end of a
        // pseudo-terminal closed, an adapter was unplugged).
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            const std::shared_ptr<bool> alive = m_alive;
            ++m_dispatchDepth;
            Detach();
            if (m_handlers.failed) {
                m_handlers.failed(0);
            }
            if (*alive) {
                --m_dispatchDepth;
            }
        }
        return;
    }
    DispatchReceived();
}

int PortChannel::Waiting() const
{
    if (m_fd < 0) {
        return 0;
    }
    int waiting = 0;
    if (::ioctl(m_fd, FIONREAD, &waiting) == 0 && waiting > 0) {
        return waiting;
    }
    // A terminal's bytes written just before, say, its far end closed may
    // still sit in the kernel's flip buffer: polling moves them into what
    // FIONREAD counts. Only on an empty count, so reads stay one call.
    pollfd p{m_fd, POLLIN, 0};
    ::poll(&p, 1, 0);
    if (::ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return waiting;
}

void PortChannel::ReportWaiting()
{
    if (m_fd < 0 || !m_reporting || m_holding || m_stalled) {
        return;
    }
    if (Waiting() > 0) {
        DispatchReceived();
    }
}

void PortChannel::DispatchReceived()
{
    const unsigned takenBefore = m_takeCount;
    const std::shared_ptr<bool> alive = m_alive;
    ++m_dispatchDepth;
    if (m_handlers.received) {
        m_handlers.received();
    }
    if (!*alive) {
        return;
    }
    --m_dispatchDepth;
    if (m_fd >= 0 && m_takeCount == takenBefore && !m_holding) {
        m_stalled = true;
        Update();
    }
}

void PortChannel::OnWritable()
{
    const bool hadQueued = Queued() > 0;
    int err = 0;
    const bool ok = Flush(err);
    const std::shared_ptr<bool> alive = m_alive;
    if (!ok) {
        ++m_dispatchDepth;
        Detach();
        if (m_handlers.failed) {
            m_handlers.failed(err);
        }
        if (*alive) {
            --m_dispatchDepth;
        }
        return;
    }
    Update();
    if (hadQueued && Queued() == 0) {
        ++m_dispatchDepth;
        if (m_handlers.drained) {
            m_handlers.drained();
        }
        if (*alive) {
            --m_dispatchDepth;
        }
    }
}

bool PortChannel::Flush(int& err)
{
    while (Queued() > 0) {
        const std::size_t queued = Queued();
        const ssize_t n = ::write(m_fd, m_queue.Data(), queued);
        if (n > 0) {
            m_queue.Drop(static_cast<std::int32_t>(n));
            // A short write: the device is full, a retry would only fail.
            if (static_cast<std::size_t>(n) < queued)
                break;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EAGAIN) {
            err = errno;
            return false;
        } else {
            break;
        }
    }
    return true;
}

void PortChannel::DropQueued()
{
    m_queue.Clear();
    Update();
}

void PortChannel::Update()
{
    if (m_readNotifier) {
        m_readNotifier->setEnabled(m_fd >= 0 && m_reporting && !m_holding && !m_stalled);
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(m_fd >= 0 && Queued() > 0);
    }
}

}  // namespace velkon
