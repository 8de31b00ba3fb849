#include "network/TcpLinger.h"

#include <algorithm>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>

#include "network/SocketIo.h"
#include "session/ByteQueue.h"

namespace velkon {

namespace {

// Bytes discarded per notification at most, so that one busy peer cannot
// starve the event loop.
constexpr std::size_t kDiscardPerWake = 1024 * 1024;

}  // namespace

struct TcpLinger::Entry {
    int fd = -1;
    ByteQueue out{ByteQueue::kUnlimited};
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    QTimer* deadline = nullptr;
    bool peerDone = false;
    // The sending side is shut down: the FIN counts as one byte in SIOCOUTQ.
    bool finQueued = false;
};

TcpLinger::TcpLinger() : m_context(std::make_unique<QObject>()) {}

TcpLinger::~TcpLinger()
{
    m_context.reset();
    for (auto& [id, entry] : m_entries) {
        CloseDescriptor(entry->fd);
    }
}

void TcpLinger::Add(int fd, std::string unsent)
{
    const std::uint64_t id = m_nextId++;
    auto entry = std::make_unique<Entry>();
    entry->fd = fd;
    entry->out.Add(reinterpret_cast<const std::uint8_t*>(unsent.data()),
                   static_cast<std::int32_t>(unsent.size()));
    unsent = std::string();
    if (entry->out.Empty()) {
        ::shutdown(fd, SHUT_WR);
        entry->finQueued = true;
    }

    entry->readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, m_context.get());
    QObject::connect(entry->readNotifier, &QSocketNotifier::activated, m_context.get(),
                     [this, id] { OnReadable(id); });
    if (!entry->out.Empty()) {
        entry->writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, m_context.get());
        QObject::connect(entry->writeNotifier, &QSocketNotifier::activated, m_context.get(),
                         [this, id] { OnWritable(id); });
    }
    entry->deadline = new QTimer(m_context.get());
    entry->deadline->setSingleShot(true);
    QObject::connect(entry->deadline, &QTimer::timeout, m_context.get(), [this, id] { End(id); });
    entry->deadline->start(kCloseFlushMs);
    m_entries.emplace(id, std::move(entry));
}

void TcpLinger::OnReadable(std::uint64_t id)
{
    const auto it = m_entries.find(id);
    if (it == m_entries.end()) {
        return;
    }
    Entry& entry = *it->second;
    std::size_t discarded = 0;
    while (discarded < kDiscardPerWake) {
        const IoStep step = ReceiveSome(entry.fd, ReadScratch(), kReadChunk);
        if (step.kind == IoStep::kDone) {
            discarded += step.count;
            continue;
        }
        if (step.kind == IoStep::kWouldBlock) {
            return;
        }
        if (step.kind == IoStep::kEnd && !entry.out.Empty()) {
            // A half-closed peer may still read what is left to send.
            entry.peerDone = true;
            DropNotifier(entry.readNotifier);
            return;
        }
        End(id);  // the peer closed too, or the connection broke
        return;
    }
}

void TcpLinger::OnWritable(std::uint64_t id)
{
    const auto it = m_entries.find(id);
    if (it == m_entries.end()) {
        return;
    }
    Entry& entry = *it->second;
    while (!entry.out.Empty()) {
        const IoStep step = SendSome(entry.fd, reinterpret_cast<const char*>(entry.out.Data()),
                                     static_cast<std::size_t>(entry.out.Count()));
        if (step.kind == IoStep::kDone) {
            entry.out.Drop(static_cast<std::int32_t>(step.count));
            continue;
        }
        if (step.kind == IoStep::kWouldBlock) {
            return;
        }
        End(id);
        return;
    }
    ::shutdown(entry.fd, SHUT_WR);
    entry.finQueued = true;
    if (entry.peerDone) {
        End(id);
        return;
    }
    entry.writeNotifier->setEnabled(false);
}

std::int64_t TcpLinger::ResetAll()
{
    std::int64_t undelivered = 0;
    while (!m_entries.empty()) {
        Entry& entry = *m_entries.begin()->second;
        const std::int64_t unacknowledged =
            static_cast<std::int64_t>(UnacknowledgedBytes(entry.fd)) - (entry.finQueued ? 1 : 0);
        const std::int64_t left = entry.out.Count() + std::max<std::int64_t>(unacknowledged, 0);
        if (left > 0) {
            ResetDescriptor(entry.fd);
        } else {
            // All delivered, only the peer's close is missing: closing with
            // unread input would reset it, so that is read first.
            while (ReceiveSome(entry.fd, ReadScratch(), kReadChunk).kind == IoStep::kDone) {
            }
        }
        undelivered += left;
        End(m_entries.begin()->first);
    }
    return undelivered;
}

void TcpLinger::End(std::uint64_t id)
{
    const auto it = m_entries.find(id);
    if (it == m_entries.end()) {
        return;
    }
    Entry& entry = *it->second;
    DropNotifier(entry.readNotifier);
    DropNotifier(entry.writeNotifier);
    entry.deadline->stop();
    entry.deadline->disconnect();
    entry.deadline->deleteLater();
    CloseDescriptor(entry.fd);
    m_entries.erase(it);
}

}  // namespace velkon
