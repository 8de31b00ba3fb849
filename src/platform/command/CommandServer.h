#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace velkon {

class CommandTarget;
class TrafficFeed;

// What the server does with one request line: the answer, and for a request
// that turns the connection into a monitor, the traffic it streams from then
// on as monitor lines (see MonitorLines.h).
struct CommandReply {
    std::string answer;
    TrafficFeed* monitor = nullptr;
};

// The command socket of a running program: a Unix stream socket named
// "command" in the runtime folder, served on the Qt event loop.
//
// Line based: every request line (without its line feed) goes to the handler
// and its answer is sent back; any number of requests per connection,
// answered in order. A line still unfinished at the peer's end of sending is
// handled as a last request.
//
// Limits, so that a bad client disturbs nobody else:
// - a line longer than kMaxLineLength bytes answers "ERROR line too long" at
//   once; its bytes are dropped up to the next line feed and the connection
//   goes on with the line after it;
// - at most kMaxConnections connections; one more is answered "ERROR too many
//   connections" and closed;
// - a connection whose unsent answers exceed kMaxPendingOutput is not read
//   until the peer takes them, and each wake-up reads at most kReadChunk
//   bytes, so one busy connection cannot starve the others;
// - a connection that moves no byte either way for the idle time-out is
//   closed, so idle callers cannot hold every slot; one whose request is
//   being answered, or waits for another's answer to finish, is not idle.
//
// Monitors: after a reply that names a TrafficFeed the connection only
// streams that traffic; further requests on it are read and ignored. Each
// monitor keeps at most kMonitorTextLimit bytes of lines for its reader and
// replaces what does not fit by one "bytes not shown" line, so a reader that
// stalls never slows the bridge. A monitor is never idle; it ends when the
// peer closes (its sink is detached at once), when the session is removed or
// when the server stops: the lines still held are sent as far as the socket
// takes them without waiting, then the connection closes. Monitors count
// against kMaxConnections like any other connection.
//
// Security: the socket file has mode 0600, and a peer whose user id differs
// from ours (SO_PEERCRED) is answered "ERROR permission denied" and closed.
//
// One server per runtime folder: Start() holds the lock file "command.lock"
// for the server's life, and never removes a socket file something still
// listens on; a socket file nobody listens on (left by a killed process) is
// replaced.
class CommandServer {
public:
    using Handler = std::function<std::string(std::string_view line)>;
    using ReplyHandler = std::function<CommandReply(std::string_view line)>;

    static constexpr std::size_t kMaxLineLength = 4096;
    static constexpr std::size_t kMaxConnections = 32;
    static constexpr std::size_t kMaxPendingOutput = 256 * 1024;
    static constexpr std::size_t kReadChunk = 64 * 1024;
    static constexpr std::chrono::milliseconds kIdleTimeout{30000};
    // The lines of the largest chunk the bridge reads at once (64 KiB, about
    // 330 KB as text) fit with room to spare, so a reader that keeps up sees
    // every chunk, and one that pauses for a moment (a pager, a scrolling
    // terminal) on a serial line misses nothing; 32 stalled monitors hold at
    // most 32 MiB (events may use twice the bound).
    static constexpr std::size_t kMonitorTextLimit = 512 * 1024;

    explicit CommandServer(Handler handler, std::chrono::milliseconds idleTimeout = kIdleTimeout);
    explicit CommandServer(ReplyHandler handler,
                           std::chrono::milliseconds idleTimeout = kIdleTimeout);
    ~CommandServer();
    CommandServer(const CommandServer&) = delete;
    CommandServer& operator=(const CommandServer&) = delete;

    // Creates the runtime folder when missing and listens. False with a
    // readable message when another server owns the socket or it cannot be
    // created; nothing of the other server is touched then.
    bool Start(std::string& error);
    // Closes every connection and removes the socket file. Must not be called
    // from inside the handler.
    void Stop();

    bool IsListening() const { return m_listenFd >= 0; }
    const std::string& SocketPath() const { return m_socketPath; }
    std::size_t ConnectionCount() const { return m_connections.size(); }
    // Applies to the connections open now as well.
    void SetIdleTimeout(std::chrono::milliseconds idleTimeout);

private:
    struct Connection;
    class MonitorStream;

    void AcceptPending();
    // True when a handler is running and the connection must wait for it.
    bool DeferWhileHandling(Connection* c);
    void OnReadable(Connection* c);
    void OnWritable(Connection* c);
    void ProcessInput(Connection* c);
    void HandleLines(Connection* c);
    void HandleLine(Connection* c, std::string_view line);
    void Answer(Connection* c, const std::string& text);
    void StartMonitor(Connection* c, TrafficFeed* feed);
    void DiscardInput(Connection* c);
    void OnMonitorText(Connection* c);
    void OnSessionRemoved(Connection* c);
    // Sends what the socket takes now, then closes.
    void EndMonitor(Connection* c);
    // The count sent without waiting, or -1 when the peer is gone (the
    // connection is closed then).
    long SendNow(Connection* c, std::string_view text);
    void Flush(Connection* c);
    void UpdateNotifiers(Connection* c);
    void CloseConnection(Connection* c);
    void ResumeDeferred();
    void Sweep();
    void CloseIdle();
    void UpdateIdleTimer();
    void ReleaseLock();

    ReplyHandler m_handler;
    std::string m_socketPath;
    std::string m_lockPath;
    int m_listenFd = -1;
    int m_lockFd = -1;
    // The socket file we made, so that Stop removes only that one.
    unsigned long m_socketDev = 0;
    unsigned long m_socketIno = 0;
    std::unique_ptr<QSocketNotifier> m_listenNotifier;
    std::vector<std::unique_ptr<Connection>> m_connections;
    // Closed connections, deleted once no handler call is running: the
    // handler may run a nested event loop that closes the connection it is
    // answering.
    std::vector<std::unique_ptr<Connection>> m_closed;
    std::unique_ptr<QTimer> m_sweepTimer;
    // Runs only while connections exist.
    std::unique_ptr<QTimer> m_idleTimer;
    std::chrono::milliseconds m_idleTimeout;
    int m_handlerDepth = 0;
};

// Serves the command protocol (CommandProtocol.h) for target, with MONITOR
// streaming the session's traffic.
CommandServer::ReplyHandler CommandProtocolHandler(CommandTarget& target);

}  // namespace velkon
