#include "command/CommandClient.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "system/RuntimeDir.h"

namespace velkon {

namespace {

// More than any STATUS answer of the largest configuration.
constexpr std::size_t kMaxAnswer = 4 * 1024 * 1024;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The answer is complete: one line, or for STATUS the line ".".
bool AnswerComplete(const std::string& answer, bool status)
{
    const std::size_t firstEnd = answer.find('\n');
    if (firstEnd == std::string::npos)
        return false;
    if (!status || StartsWith(answer, "ERROR"))
        return true;
    return answer == ".\n" ||
           (answer.size() >= 3 && answer.compare(answer.size() - 3, 3, "\n.\n") == 0);
}

bool IsStatusRequest(const std::string& request)
{
    std::string word = request;
    while (!word.empty() && (word.back() == ' ' || word.back() == '\t' || word.back() == '\r')) {
        word.pop_back();
    }
    const std::size_t first = word.find_first_not_of(" \t");
    return first != std::string::npos && word.substr(first) == "STATUS";
}

void PrintError(const std::string& text)
{
    std::fprintf(stderr, "velkon: %s\n", text.c_str());
}

// A topic as one request word can carry it.
bool CheckTopic(const std::string& topic)
{
    if (topic.empty() || topic.find_first_of("\t\r\n") != std::string::npos ||
        topic.front() == ' ') {
        PrintError("not a topic: \"" + topic + "\"");
        return false;
    }
    return true;
}

std::string JoinArguments(int argc, char** argv, int first)
{
    std::string text;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            text += ' ';
        text += argv[i];
    }
    return text;
}

// Writes all of text to standard output; false when nobody reads it any more.
bool WriteOut(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string CommandSocketPath()
{
    return RuntimeDirectory() + "/command";
}

namespace {

// Connects to the running instance and sends the request line. 0, or
// kCommandNoInstance with error saying why.
int OpenRequest(const std::string& request, Clock::time_point deadline, int timeoutMs,
                Descriptor& fd, std::string& error)
{
    const std::string path = CommandSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "no running instance: the socket path " + path + " is too long";
        return kCommandNoInstance;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return kCommandNoInstance;
    }
    // A connect to a server whose queue is full waits; not for ever.
    timeval limit{};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        if (err == ENOENT || err == ECONNREFUSED) {
            error = "no running instance answers on " + path +
                    (err == ECONNREFUSED ? " (stale socket file)" : "");
        } else {
            error = "no running instance answers on " + path + ": " + std::strerror(err);
        }
        return kCommandNoInstance;
    }

    // Our requests go to our own program only.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        peer.uid != ::geteuid()) {
        error = "the socket " + path + " belongs to another user";
        return kCommandNoInstance;
    }

    const std::string line = request + "\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
        pollfd p{fd.get(), POLLOUT, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            error = "the running instance did not take the request in time";
            return kCommandNoInstance;
        }
        const ssize_t n =
            ::send(fd.get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n < 0) {
            // The server may have refused us and hung up: its answer says why.
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

int SendCommandRequest(const std::string& request, std::string& answer, std::string& error,
                       int timeoutMs)
{
    answer.clear();
    error.clear();
    if (request.find('\n') != std::string::npos) {
        error = "a request must not hold a line break";
        return kCommandError;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Descriptor fd(-1);
    if (const int rc = OpenRequest(request, deadline, timeoutMs, fd, error); rc != 0)
        return rc;

    const bool status = IsStatusRequest(request);
    char buffer[16 * 1024];
    while (!AnswerComplete(answer, status)) {
        pollfd p{fd.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            error = "the running instance did not answer in time";
            return kCommandNoInstance;
        }
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0) {
            error = "the running instance closed the connection before answering";
            return kCommandNoInstance;
        }
        answer.append(buffer, static_cast<std::size_t>(n));
        if (answer.size() > kMaxAnswer) {
            error = "the answer is too long";
            return kCommandError;
        }
    }
    return 0;
}

int RunSendCommand(int argc, char** argv, int firstArg)
{
    static const char* const kUsage = "usage: velkon --send <topic> <command text...>";
    if (firstArg < 0 || firstArg + 1 >= argc) {
        PrintError(kUsage);
        return kCommandError;
    }
    const std::string topic = argv[firstArg];
    if (!CheckTopic(topic))
        return kCommandError;
    const std::string text = JoinArguments(argc, argv, firstArg + 1);

    std::string answer;
    std::string error;
    const int rc = SendCommandRequest("EXECUTE " + topic + " " + text, answer, error);
    if (rc != 0) {
        PrintError(error);
        return rc;
    }
    const std::string first = answer.substr(0, answer.find('\n'));
    if (StartsWith(first, "ERROR")) {
        PrintError(first);
        return kCommandError;
    }
    std::printf("%s\n", first.c_str());
    std::fflush(stdout);
    if (first == "ACCEPTED")
        return kCommandAccepted;
    if (first == "REFUSED" || StartsWith(first, "REFUSED "))
        return kCommandRefused;
    if (first == "NO TOPIC")
        return kCommandNoTopic;
    PrintError("unexpected answer");
    return kCommandError;
}

int RunStatusCommand()
{
    std::string answer;
    std::string error;
    const int rc = SendCommandRequest("STATUS", answer, error);
    if (rc != 0) {
        PrintError(error);
        return rc;
    }
    if (StartsWith(answer, "ERROR")) {
        PrintError(answer.substr(0, answer.find('\n')));
        return kCommandError;
    }
    // Everything but the closing "." line.
    answer.resize(answer.size() - 2);
    std::fputs(answer.c_str(), stdout);
    std::fflush(stdout);
    return 0;
}

namespace {

// Reads the answer line of a request into first and leaves what came after
// it in received. 0, or kCommandNoInstance with a message on stderr.
int ReadAnswerLine(int fd, Clock::time_point deadline, std::string& received, std::string& first)
{
    char buffer[16 * 1024];
    std::size_t lineEnd = std::string::npos;
    while ((lineEnd = received.find('\n')) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            PrintError("the running instance did not answer in time");
            return kCommandNoInstance;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0) {
            PrintError("the running instance closed the connection before answering");
            return kCommandNoInstance;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    first = received.substr(0, lineEnd);
    received.erase(0, lineEnd + 1);
    return 0;
}

// Copies the stream to standard output, whole lines as soon as they are in,
// until the instance ends it or nobody reads standard output any more.
int CopyLinesToOutput(int fd, std::string received)
{
    char buffer[16 * 1024];
    pollfd watch[2] = {{fd, POLLIN, 0}, {STDOUT_FILENO, 0, 0}};
    for (;;) {
        const std::size_t whole = received.rfind('\n');
        if (whole != std::string::npos) {
            if (!WriteOut(std::string_view(received).substr(0, whole + 1)))
                return 0;
            received.erase(0, whole + 1);
        }
        const int ready = ::poll(watch, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            PrintError(std::string("poll: ") + std::strerror(errno));
            return kCommandError;
        }
        // Asked for no events, standard output reports only its reader's
        // end: a closed pipe ends the monitor even while no traffic flows.
        if (watch[1].revents & (POLLERR | POLLHUP))
            return 0;
        if (watch[1].revents & POLLNVAL)
            watch[1].fd = -1;
        if (watch[0].revents == 0)
            continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0) {
            // The instance ended the monitor (a reset is an end as well).
            WriteOut(received);
            return 0;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

int RunMonitorCommand(int argc, char** argv, int firstArg)
{
    if (firstArg < 0 || firstArg >= argc) {
        PrintError("usage: velkon --monitor <topic>");
        return kCommandError;
    }
    const std::string topic = JoinArguments(argc, argv, firstArg);
    if (!CheckTopic(topic))
        return kCommandError;
    // A reader that went away (| head) shows as EPIPE and ends us quietly.
    ::signal(SIGPIPE, SIG_IGN);

    constexpr int kAnswerTimeoutMs = 5000;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    Descriptor fd(-1);
    std::string error;
    if (const int rc = OpenRequest("MONITOR " + topic, deadline, kAnswerTimeoutMs, fd, error);
        rc != 0) {
        PrintError(error);
        return rc;
    }
    std::string received;
    std::string first;
    if (const int rc = ReadAnswerLine(fd.get(), deadline, received, first); rc != 0)
        return rc;
    if (first == "NO TOPIC") {
        PrintError("no session has the topic \"" + topic + "\"");
        return kCommandNoTopic;
    }
    if (first != "ACCEPTED") {
        PrintError(StartsWith(first, "ERROR") ? first : "unexpected answer: " + first);
        return kCommandError;
    }
    return CopyLinesToOutput(fd.get(), std::move(received));
}

}  // namespace velkon
