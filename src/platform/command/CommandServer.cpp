#include "command/CommandServer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QSocketNotifier>
#include <QTimer>

#include "command/CommandClient.h"
#include "session/CommandProtocol.h"
#include "session/MonitorLines.h"
#include "session/TrafficFeed.h"
#include "system/RuntimeDir.h"

namespace velkon {

namespace {

// Enough to let a burst of clients in without letting the loop stall.
constexpr int kAcceptsPerWakeUp = 64;
// After running out of descriptors, the listener rests this long instead of
// waking up again and again for a connection it cannot take.
constexpr int kAcceptPauseMs = 1000;

std::string SystemError(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

bool FillAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Something answers on the socket file: a listening server, even one whose
// queue of waiting connections is full.
enum class Probe { Listening, Stale, Gone, Failed };

Probe ProbeSocket(const sockaddr_un& address, int& err)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        err = errno;
        return Probe::Failed;
    }
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    err = rc == 0 ? 0 : errno;
    ::close(fd);
    if (rc == 0 || err == EAGAIN || err == EINPROGRESS)
        return Probe::Listening;
    if (err == ECONNREFUSED)
        return Probe::Stale;
    if (err == ENOENT)
        return Probe::Gone;
    return Probe::Failed;
}

// Tells a peer we do not serve why, then hangs up.
void RefuseAndClose(int fd, const char* answer)
{
    [[maybe_unused]] const ssize_t sent =
        ::send(fd, answer, std::strlen(answer), MSG_NOSIGNAL | MSG_DONTWAIT);
    // What the peer sent already is read away, so that it sees the end of the
    // stream after the answer rather than a reset.
    char sink[4096];
    for (int i = 0; i < 16; ++i) {
        if (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) <= 0)
            break;
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

}  // namespace

// A monitor connection's lines. New text only wakes the connection's writer:
// the bridge's call returns at once.
class CommandServer::MonitorStream : public MonitorLineBuffer {
public:
    MonitorStream(CommandServer& server, Connection& connection)
        : MonitorLineBuffer(kMonitorTextLimit), m_server(server), m_connection(connection)
    {
    }
    void OnTrafficData(const TrafficChunk& chunk) override
    {
        MonitorLineBuffer::OnTrafficData(chunk);
        m_server.OnMonitorText(&m_connection);
    }
    void OnTrafficEvent(const TrafficEvent& event) override
    {
        MonitorLineBuffer::OnTrafficEvent(event);
        if (event.kind == TrafficEventKind::kSessionRemoved) {
            m_server.OnSessionRemoved(&m_connection);
        } else {
            m_server.OnMonitorText(&m_connection);
        }
    }

private:
    CommandServer& m_server;
    Connection& m_connection;
};

struct CommandServer::Connection {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    // Received bytes not handled yet: at most one unfinished line, plus what
    // one wake-up read while answers were held back.
    std::string input;
    // Inside a line that was too long: dropping bytes up to its line feed.
    bool discarding = false;
    // Answers not sent yet, from outputOffset on.
    std::string output;
    std::size_t outputOffset = 0;
    // The peer has finished sending.
    bool peerDone = false;
    // Woke up while a handler call was running; served after it.
    bool deferred = false;
    // Its request is with the handler now.
    bool answering = false;
    // The last time a byte came in or went out.
    std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
    bool closed = false;
    // Set once the connection streams a session's traffic.
    std::unique_ptr<MonitorStream> monitor;
    // The traffic the monitor is attached to; null once the session is gone.
    TrafficFeed* feed = nullptr;

    std::size_t Pending() const { return output.size() - outputOffset; }
    bool HasTextToSend() const
    {
        return Pending() > 0 || (monitor != nullptr && !monitor->Pending().empty());
    }
};

CommandServer::CommandServer(Handler handler, std::chrono::milliseconds idleTimeout)
    : CommandServer(ReplyHandler([plain = std::move(handler)](std::string_view line) {
                        return CommandReply{plain(line)};
                    }),
                    idleTimeout)
{
}

CommandServer::CommandServer(ReplyHandler handler, std::chrono::milliseconds idleTimeout)
    : m_handler(std::move(handler)),
      m_sweepTimer(std::make_unique<QTimer>()),
      m_idleTimer(std::make_unique<QTimer>()),
      m_idleTimeout(idleTimeout)
{
    m_sweepTimer->setSingleShot(true);
    m_sweepTimer->setInterval(0);
    QObject::connect(m_sweepTimer.get(), &QTimer::timeout, m_sweepTimer.get(), [this] { Sweep(); });
    QObject::connect(m_idleTimer.get(), &QTimer::timeout, m_idleTimer.get(),
                     [this] { CloseIdle(); });
}

void CommandServer::SetIdleTimeout(std::chrono::milliseconds idleTimeout)
{
    m_idleTimeout = idleTimeout;
    m_idleTimer->stop();
    UpdateIdleTimer();
}

void CommandServer::UpdateIdleTimer()
{
    if (m_connections.empty()) {
        m_idleTimer->stop();
    } else if (!m_idleTimer->isActive()) {
        // A connection is closed between one and one and a quarter idle times.
        m_idleTimer->start(std::max(m_idleTimeout / 4, std::chrono::milliseconds(1)));
    }
}

void CommandServer::CloseIdle()
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<Connection*> idle;
    for (const auto& c : m_connections) {
        if (!c->monitor && !c->answering && !c->deferred && now - c->lastActivity >= m_idleTimeout)
            idle.push_back(c.get());
    }
    for (Connection* c : idle)
        CloseConnection(c);
}

CommandServer::~CommandServer()
{
    Stop();
    m_closed.clear();
}

bool CommandServer::Start(std::string& error)
{
    if (IsListening()) {
        error = "the command server is already listening on " + m_socketPath;
        return false;
    }
    std::string folder;
    const Result made = EnsureRuntimeDirectory(folder);
    if (!made) {
        error = made.description();
        return false;
    }
    const std::string socketPath = folder + "/command";
    sockaddr_un address{};
    if (!FillAddress(socketPath, address)) {
        error = "command socket " + socketPath + ": the path is too long for a socket";
        return false;
    }

    // Held for the server's life: two servers starting at once cannot both
    // decide that the socket file is stale and remove each other's.
    const std::string lockPath = folder + "/command.lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0) {
        error = SystemError("command lock " + lockPath, errno);
        return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ReleaseLock();
        error = err == EWOULDBLOCK ? "another instance already serves commands on " + socketPath
                                   : SystemError("command lock " + lockPath, err);
        return false;
    }

    struct stat st {};
    if (::lstat(socketPath.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            ReleaseLock();
            error = "command socket " + socketPath + " exists and is not a socket; left alone";
            return false;
        }
        int err = 0;
        switch (ProbeSocket(address, err)) {
            case Probe::Listening:
                ReleaseLock();
                error = "another program already listens on " + socketPath;
                return false;
            case Probe::Stale:
                // Left by a process that ended without removing it.
                if (::unlink(socketPath.c_str()) != 0 && errno != ENOENT) {
                    const int unlinkErr = errno;
                    ReleaseLock();
                    error = SystemError("cannot remove the stale " + socketPath, unlinkErr);
                    return false;
                }
                break;
            case Probe::Gone:
                break;
            case Probe::Failed:
                ReleaseLock();
                error = SystemError("cannot check the existing " + socketPath, err);
                return false;
        }
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = SystemError("command socket", errno);
        ReleaseLock();
        return false;
    }
    // The file is born without group and other bits: no moment in which
    // someone else could connect.
    const mode_t oldMask = ::umask(0177);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindErr = errno;
    ::umask(oldMask);
    if (bound != 0) {
        ::close(fd);
        ReleaseLock();
        error = bindErr == EADDRINUSE ? "another program already listens on " + socketPath
                                      : SystemError("command socket " + socketPath, bindErr);
        return false;
    }
    if (::chmod(socketPath.c_str(), 0600) != 0 || ::listen(fd, 16) != 0 ||
        ::lstat(socketPath.c_str(), &st) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(socketPath.c_str());
        ReleaseLock();
        error = SystemError("command socket " + socketPath, err);
        return false;
    }

    m_listenFd = fd;
    m_socketPath = socketPath;
    m_lockPath = lockPath;
    m_socketDev = static_cast<unsigned long>(st.st_dev);
    m_socketIno = static_cast<unsigned long>(st.st_ino);
    m_listenNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_listenNotifier.get(), &QSocketNotifier::activated, m_listenNotifier.get(),
                     [this] { AcceptPending(); });
    return true;
}

void CommandServer::Stop()
{
    while (!m_connections.empty()) {
        Connection* c = m_connections.back().get();
        if (c->monitor) {
            EndMonitor(c);
        } else {
            CloseConnection(c);
        }
    }
    if (m_handlerDepth == 0)
        m_closed.clear();

    if (m_listenFd >= 0) {
        m_listenNotifier.reset();
        ::close(m_listenFd);
        m_listenFd = -1;
        // Only the file we made: never one another server put there since.
        struct stat st {};
        if (::lstat(m_socketPath.c_str(), &st) == 0 &&
            static_cast<unsigned long>(st.st_dev) == m_socketDev &&
            static_cast<unsigned long>(st.st_ino) == m_socketIno) {
            ::unlink(m_socketPath.c_str());
        }
    }
    ReleaseLock();
}

void CommandServer::ReleaseLock()
{
    // The lock file stays: removing it would let two servers lock two files.
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}

void CommandServer::AcceptPending()
{
    for (int i = 0; i < kAcceptsPerWakeUp; ++i) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                m_listenNotifier->setEnabled(false);
                QSocketNotifier* notifier = m_listenNotifier.get();
                QTimer::singleShot(kAcceptPauseMs, notifier,
                                   [notifier] { notifier->setEnabled(true); });
            }
            return;
        }

        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            length != sizeof peer || peer.uid != ::geteuid()) {
            RefuseAndClose(fd, "ERROR permission denied\n");
            continue;
        }
        if (m_connections.size() >= kMaxConnections) {
            RefuseAndClose(fd, "ERROR too many connections\n");
            continue;
        }

        auto connection = std::make_unique<Connection>();
        Connection* c = connection.get();
        c->fd = fd;
        c->readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        c->writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        c->writeNotifier->setEnabled(false);
        QObject::connect(c->readNotifier.get(), &QSocketNotifier::activated, c->readNotifier.get(),
                         [this, c] { OnReadable(c); });
        QObject::connect(c->writeNotifier.get(), &QSocketNotifier::activated,
                         c->writeNotifier.get(), [this, c] { OnWritable(c); });
        m_connections.push_back(std::move(connection));
        UpdateIdleTimer();
    }
}

bool CommandServer::DeferWhileHandling(Connection* c)
{
    // A handler runs (perhaps in a nested event loop): this connection waits.
    if (m_handlerDepth == 0)
        return false;
    c->deferred = true;
    UpdateNotifiers(c);
    return true;
}

void CommandServer::OnReadable(Connection* c)
{
    if (c->closed)
        return;
    if (c->monitor) {
        DiscardInput(c);
        if (!c->closed && c->peerDone)
            EndMonitor(c);
        return;
    }
    if (DeferWhileHandling(c))
        return;
    char buffer[16 * 1024];
    std::size_t total = 0;
    while (total < kReadChunk) {
        const ssize_t n = ::recv(c->fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            c->input.append(buffer, static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
            c->lastActivity = std::chrono::steady_clock::now();
            continue;
        }
        if (n == 0) {
            c->peerDone = true;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        CloseConnection(c);
        return;
    }
    ProcessInput(c);
}

void CommandServer::OnWritable(Connection* c)
{
    Flush(c);
    if (!c->closed && !c->monitor)
        ProcessInput(c);
}

void CommandServer::ProcessInput(Connection* c)
{
    if (c->closed || DeferWhileHandling(c))
        return;
    for (;;) {
        HandleLines(c);
        if (c->closed)
            return;
        Flush(c);
        if (c->closed)
            return;
        // Lines still waiting are handled once the peer takes the answers.
        if (c->monitor || c->Pending() >= kMaxPendingOutput)
            break;
        if (c->input.find('\n') == std::string::npos)
            break;
    }

    if (!c->monitor && c->peerDone && c->Pending() < kMaxPendingOutput &&
        c->input.find('\n') == std::string::npos) {
        if (!c->input.empty() && !c->discarding) {
            const std::string last = std::move(c->input);
            c->input.clear();
            HandleLine(c, last);
            if (c->closed)
                return;
        }
        c->input.clear();
        c->discarding = false;
        Flush(c);
        if (c->closed)
            return;
    }

    if (c->monitor && c->peerDone) {
        EndMonitor(c);
    } else if (c->peerDone && c->input.empty() && c->Pending() == 0) {
        CloseConnection(c);
    } else {
        UpdateNotifiers(c);
    }
    if (m_handlerDepth == 0)
        ResumeDeferred();
}

void CommandServer::HandleLines(Connection* c)
{
    std::size_t start = 0;
    while (!c->closed && !c->monitor && c->Pending() < kMaxPendingOutput &&
           start < c->input.size()) {
        const std::size_t end = c->input.find('\n', start);
        if (c->discarding) {
            if (end == std::string::npos) {
                start = c->input.size();
                break;
            }
            c->discarding = false;
            start = end + 1;
            continue;
        }
        if (end == std::string::npos) {
            if (c->input.size() - start > kMaxLineLength) {
                // Answered now, not at its end: the peer may never send one.
                Answer(c, "ERROR line too long\n");
                c->discarding = true;
                start = c->input.size();
            }
            break;
        }
        if (end - start > kMaxLineLength) {
            Answer(c, "ERROR line too long\n");
        } else {
            HandleLine(c, std::string_view(c->input).substr(start, end - start));
        }
        start = end + 1;
    }
    if (c->closed)
        return;
    // A monitor's connection is a stream now: what follows is ignored.
    if (c->monitor) {
        c->input.clear();
    } else {
        c->input.erase(0, std::min(start, c->input.size()));
    }
}

void CommandServer::HandleLine(Connection* c, std::string_view line)
{
    CommandReply reply;
    ++m_handlerDepth;
    c->answering = true;
    try {
        reply = m_handler(line);
    } catch (...) {
        reply = {"ERROR internal error\n", nullptr};
    }
    c->answering = false;
    --m_handlerDepth;
    Answer(c, reply.answer);
    if (reply.monitor != nullptr && !c->closed)
        StartMonitor(c, reply.monitor);
    // Connections closed during a nested event loop wait for this moment.
    if (m_handlerDepth == 0 && !m_closed.empty())
        m_sweepTimer->start();
}

void CommandServer::Answer(Connection* c, const std::string& text)
{
    if (c->closed)
        return;
    // Every request gets a whole line, or its client would wait forever.
    if (text.empty()) {
        c->output += "ERROR internal error\n";
        return;
    }
    c->output += text;
    if (text.back() != '\n')
        c->output += '\n';
}

void CommandServer::StartMonitor(Connection* c, TrafficFeed* feed)
{
    c->monitor = std::make_unique<MonitorStream>(*this, *c);
    c->feed = feed;
    c->input.clear();
    c->discarding = false;
    feed->Attach(c->monitor.get());
}

void CommandServer::DiscardInput(Connection* c)
{
    char buffer[16 * 1024];
    std::size_t total = 0;
    while (total < kReadChunk) {
        const ssize_t n = ::recv(c->fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) {
            c->peerDone = true;
            UpdateNotifiers(c);
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            CloseConnection(c);
        return;
    }
}

void CommandServer::OnMonitorText(Connection* c)
{
    // Sent from the event loop when the socket takes it; a notifier already
    // on is left as it is.
    if (!c->closed)
        c->writeNotifier->setEnabled(true);
}

void CommandServer::OnSessionRemoved(Connection* c)
{
    // The feed goes away with the session: it must not be touched again.
    c->feed = nullptr;
    EndMonitor(c);
}

void CommandServer::EndMonitor(Connection* c)
{
    if (c->closed)
        return;
    Flush(c);
    if (c->closed)
        return;
    // Unread bytes at the close would reach the peer as a reset instead of
    // the end of the stream.
    DiscardInput(c);
    CloseConnection(c);
}

long CommandServer::SendNow(Connection* c, std::string_view text)
{
    for (;;) {
        const ssize_t n = ::send(c->fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            if (n > 0)
                c->lastActivity = std::chrono::steady_clock::now();
            return static_cast<long>(n);
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        // The peer is gone: nothing more to say to it.
        CloseConnection(c);
        return -1;
    }
}

void CommandServer::Flush(Connection* c)
{
    while (!c->closed && c->Pending() > 0) {
        const long n =
            SendNow(c, std::string_view(c->output).substr(c->outputOffset, c->Pending()));
        if (n <= 0)
            break;
        c->outputOffset += static_cast<std::size_t>(n);
    }
    if (c->closed)
        return;
    if (c->Pending() == 0) {
        c->output.clear();
        c->outputOffset = 0;
    } else if (c->outputOffset > c->output.size() / 2) {
        c->output.erase(0, c->outputOffset);
        c->outputOffset = 0;
    }
    // Monitor lines follow the answers, never mix with them.
    while (c->monitor && c->Pending() == 0 && !c->monitor->Pending().empty()) {
        const long n = SendNow(c, c->monitor->Pending());
        if (n <= 0)
            break;
        c->monitor->Consume(static_cast<std::size_t>(n));
    }
    if (c->closed)
        return;
    UpdateNotifiers(c);
}

void CommandServer::UpdateNotifiers(Connection* c)
{
    if (c->closed)
        return;
    c->writeNotifier->setEnabled(c->HasTextToSend());
    c->readNotifier->setEnabled(!c->peerDone && !c->deferred &&
                                (c->monitor != nullptr || c->Pending() < kMaxPendingOutput));
}

void CommandServer::CloseConnection(Connection* c)
{
    if (c->closed)
        return;
    c->closed = true;
    if (c->feed != nullptr) {
        c->feed->Detach(c->monitor.get());
        c->feed = nullptr;
    }
    c->readNotifier->setEnabled(false);
    c->writeNotifier->setEnabled(false);
    ::close(c->fd);
    c->fd = -1;
    auto it = std::find_if(m_connections.begin(), m_connections.end(),
                           [c](const auto& p) { return p.get() == c; });
    if (it != m_connections.end()) {
        m_closed.push_back(std::move(*it));
        m_connections.erase(it);
    }
    UpdateIdleTimer();
    // Deleted later: this may run inside the connection's own notifier.
    m_sweepTimer->start();
}

void CommandServer::ResumeDeferred()
{
    std::vector<Connection*> waiting;
    for (const auto& c : m_connections) {
        if (c->deferred) {
            c->deferred = false;
            waiting.push_back(c.get());
        }
    }
    for (Connection* c : waiting) {
        // Closing one connection never deletes another before the sweep.
        if (!c->closed)
            ProcessInput(c);
    }
    if (!m_closed.empty())
        m_sweepTimer->start();
}

void CommandServer::Sweep()
{
    // A handler still running (in a nested event loop) may be answering one
    // of them; the end of that call starts the sweep again.
    if (m_handlerDepth > 0)
        return;
    m_closed.clear();
}

CommandServer::ReplyHandler CommandProtocolHandler(CommandTarget& target)
{
    return [&target](std::string_view line) {
        int monitored = -1;
        CommandReply reply{HandleCommandLine(target, line, &monitored), nullptr};
        if (monitored >= 0) {
            reply.monitor = target.Traffic(monitored);
            if (reply.monitor == nullptr)
                reply.answer = "ERROR the session has no traffic to monitor\n";
        }
        return reply;
    };
}

}  // namespace velkon
