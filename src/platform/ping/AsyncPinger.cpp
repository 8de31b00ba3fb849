#include "ping/AsyncPinger.h"

#include <map>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include "tools/PingEngine.h"

namespace velkon {

struct AsyncPinger::Impl : std::enable_shared_from_this<Impl> {
    struct Request {
        std::uint32_t address = 0;
        std::function<void(int)> done;
        QTimer* timer = nullptr;
    };

    std::function<int()> timeoutIndex;
    IcmpSocketKind kind = IcmpSocketKind::Any;
    IcmpSocket socket;
    // Parent of the notifier and the timers.
    std::unique_ptr<QObject> holder = std::make_unique<QObject>();
    QSocketNotifier* notifier = nullptr;
    std::map<std::uint16_t, Request> pending;
    bool closed = false;
    // Nesting of our own event handlers; objects that may be emitting then
    // are deleted later rather than at once.
    int depth = 0;

    static constexpr char kData[] = "Hello";

    bool EnsureSocket()
    {
        if (socket.isOpen()) {
            return true;
        }
        if (!socket.Open(kind)) {
            return false;
        }
        notifier = new QSocketNotifier(socket.fd(), QSocketNotifier::Read, holder.get());
        const std::weak_ptr<Impl> weak = weak_from_this();
        // A readable socket and a queued error (POLLERR) both activate it.
        QObject::connect(notifier, &QSocketNotifier::activated, holder.get(), [weak] {
            if (const std::shared_ptr<Impl> self = weak.lock()) {
                self->OnReadable();
            }
        });
        return true;
    }

    void AnswerLater(std::function<void(int)> done, int status)
    {
        const std::weak_ptr<Impl> weak = weak_from_this();
        QMetaObject::invokeMethod(
            holder.get(),
            [weak, done = std::move(done), status] {
                const std::shared_ptr<Impl> self = weak.lock();
                if (!self || self->closed) {
                    return;
                }
                ++self->depth;
                done(status);
                --self->depth;
            },
            Qt::QueuedConnection);
    }

    void Start(const std::string& address, std::function<void(int)> done)
    {
        std::uint32_t destination = 0;
        if (!ParseDottedAddress(address, destination)) {
            AnswerLater(std::move(done), kPingBadAddress);
            return;
        }
        if (!EnsureSocket()) {
            AnswerLater(std::move(done), Pinger::kUnavailable);
            return;
        }
        const int timeoutMs = PingTimeoutMs(timeoutIndex ? timeoutIndex() : 0);
        std::uint16_t sequence = NextSequence();
        while (pending.count(sequence) != 0) {
            sequence = NextSequence();
        }
        const int sent = socket.Send(destination, sequence, kData);
        if (sent != kPingSuccess) {
            AnswerLater(std::move(done), sent);
            return;
        }
        auto* timer = new QTimer(holder.get());
        timer->setSingleShot(true);
        const std::weak_ptr<Impl> weak = weak_from_this();
        QObject::connect(timer, &QTimer::timeout, holder.get(), [weak, sequence, timer] {
            if (const std::shared_ptr<Impl> self = weak.lock()) {
                const auto it = self->pending.find(sequence);
                if (it != self->pending.end() && it->second.timer == timer) {
                    self->Finish(sequence, kPingTimedOut);
                }
            }
        });
        pending[sequence] = Request{destination, std::move(done), timer};
        timer->start(timeoutMs);
    }

    void OnReadable()
    {
        if (closed) {
            return;
        }
        ++depth;
        socket.Drain([this](const IcmpMessage& in) {
            const auto it = pending.find(in.sequence);
            if (it != pending.end() && socket.Answers(in, in.sequence, it->second.address, kData)) {
                Finish(in.sequence, in.kind == IcmpMessage::Kind::Reply ? kPingSuccess : in.status);
            }
            return closed;
        });
        --depth;
    }

    void Finish(std::uint16_t sequence, int status)
    {
        const auto it = pending.find(sequence);
        if (it == pending.end()) {
            return;
        }
        Request request = std::move(it->second);
        pending.erase(it);
        request.timer->stop();
        request.timer->deleteLater();
        ++depth;
        request.done(status);
        --depth;
    }

    void Shutdown()
    {
        closed = true;
        for (auto& entry : pending) {
            entry.second.timer->stop();
        }
        pending.clear();
        if (notifier != nullptr) {
            notifier->setEnabled(false);
            notifier = nullptr;
        }
        socket.Close();
        if (depth == 0) {
            holder.reset();
        } else {
            // Inside one of our handlers: the emitting object must outlive it.
            holder.release()->deleteLater();
        }
    }
};

AsyncPinger::AsyncPinger(std::function<int()> pingTimeoutIndex, IcmpSocketKind kind)
    : m_impl(std::make_shared<Impl>())
{
    m_impl->timeoutIndex = std::move(pingTimeoutIndex);
    m_impl->kind = kind;
}

AsyncPinger::~AsyncPinger()
{
    m_impl->Shutdown();
}

void AsyncPinger::PingAsync(const std::string& address, std::function<void(int status)> done)
{
    m_impl->Start(address, std::move(done));
}

}  // namespace velkon
