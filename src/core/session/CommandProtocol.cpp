#include "session/CommandProtocol.h"

#include <cstddef>

#include "session/Session.h"
#include "shell/Shell.h"

namespace velkon {

namespace {

constexpr std::string_view kExecute = "EXECUTE";
constexpr std::string_view kStatus = "STATUS";
constexpr std::string_view kMonitor = "MONITOR";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameTopic(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

bool HasBlank(std::string_view text)
{
    for (char c : text) {
        if (IsBlank(c))
            return true;
    }
    return false;
}

std::string_view SkipBlanks(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return text.substr(i);
}

std::size_t WordLength(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && !IsBlank(text[i]))
        ++i;
    return i;
}

// One field of a STATUS line: nothing in it may split fields or lines.
std::string Field(std::string text)
{
    for (char& c : text) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    }
    return text;
}

std::string Error(const std::string& reason)
{
    return "ERROR " + reason + "\n";
}

// The session that rest begins with, or -1; topicLength is the length of the
// topic in rest (also when no session has it).
int FindTopic(CommandTarget& target, std::string_view rest, std::size_t& topicLength)
{
    const int count = target.SessionCount();
    int index = -1;
    topicLength = 0;
    // A topic with blanks in it would never be the first word; try it whole.
    for (int i = 0; i < count; ++i) {
        const std::string topic = target.Topic(i);
        if (topic.empty() || !HasBlank(topic) || topic.size() <= topicLength)
            continue;
        if (rest.size() < topic.size() || !SameTopic(rest.substr(0, topic.size()), topic))
            continue;
        if (rest.size() > topic.size() && !IsBlank(rest[topic.size()]))
            continue;
        index = i;
        topicLength = topic.size();
    }
    if (index < 0) {
        topicLength = WordLength(rest);
        const std::string_view word = rest.substr(0, topicLength);
        for (int i = 0; i < count && index < 0; ++i) {
            if (SameTopic(target.Topic(i), word))
                index = i;
        }
    }
    return index;
}

// rest: the text after EXECUTE and its blanks, starting with the topic.
std::string Execute(CommandTarget& target, std::string_view rest)
{
    std::size_t topicLength = 0;
    const int index = FindTopic(target, rest, topicLength);
    if (rest.size() == topicLength)
        return Error("missing command text");
    if (index < 0)
        return "NO TOPIC\n";
    const std::string command(rest.substr(topicLength + 1));
    std::string reason;
    if (target.Execute(index, command, reason))
        return "ACCEPTED\n";
    return reason.empty() ? "REFUSED\n" : "REFUSED " + Field(reason) + "\n";
}

// rest: the text after MONITOR and its blanks: the topic alone.
std::string Monitor(CommandTarget& target, std::string_view rest, int* monitored)
{
    if (monitored == nullptr)
        return Error("MONITOR is not served here");
    while (!rest.empty() && IsBlank(rest.back()))
        rest.remove_suffix(1);
    std::size_t topicLength = 0;
    const int index = FindTopic(target, rest, topicLength);
    if (topicLength != rest.size())
        return Error("MONITOR takes one topic");
    if (index < 0)
        return "NO TOPIC\n";
    *monitored = index;
    return "ACCEPTED\n";
}

std::string Status(CommandTarget& target)
{
    std::string answer;
    const int count = target.SessionCount();
    for (int i = 0; i < count; ++i) {
        const TrafficCounters counts = target.Counters(i);
        answer += std::to_string(i + 1) + '\t' + Field(target.Topic(i)) + '\t' +
                  (target.IsActive(i) ? "active" : "inactive") + '\t' +
                  Field(target.StatusText(i, 0)) + '\t' + Field(target.StatusText(i, 1)) + '\t' +
                  (target.RemoteLineControl(i) ? "rfc2217" : "plain") + '\t' +
                  std::to_string(counts.serialRead) + '\t' + std::to_string(counts.serialWritten) +
                  '\t' + std::to_string(counts.networkReceived) + '\t' +
                  std::to_string(counts.networkSent) + '\t' +
                  std::to_string(target.ClientCount(i)) + '\n';
    }
    return answer + ".\n";
}

}  // namespace

int ShellCommandTarget::SessionCount() const
{
    return static_cast<int>(m_shell.sessions().size());
}

std::string ShellCommandTarget::Topic(int index) const
{
    return m_shell.sessions().at(static_cast<std::size_t>(index))->Topic();
}

bool ShellCommandTarget::IsActive(int index) const
{
    return m_shell.sessions().at(static_cast<std::size_t>(index))->IsActive();
}

std::string ShellCommandTarget::StatusText(int index, int line) const
{
    if (line < 0 || line > 1)
        return "";
    return m_shell.sessions().at(static_cast<std::size_t>(index))->form().statusText[line];
}

bool ShellCommandTarget::RemoteLineControl(int index) const
{
    return m_shell.sessions().at(static_cast<std::size_t>(index))->settings().RemoteLineControl ==
           1;
}

TrafficCounters ShellCommandTarget::Counters(int index) const
{
    return m_shell.sessions().at(static_cast<std::size_t>(index))->Counters();
}

int ShellCommandTarget::ClientCount(int index) const
{
    return m_shell.sessions().at(static_cast<std::size_t>(index))->ClientCount();
}

TrafficFeed* ShellCommandTarget::Traffic(int index)
{
    return &m_shell.sessions().at(static_cast<std::size_t>(index))->traffic();
}

bool ShellCommandTarget::Execute(int index, const std::string& command, std::string& reason)
{
    return m_shell.sessions().at(static_cast<std::size_t>(index))->ExecuteCommand(command, &reason);
}

std::string HandleCommandLine(CommandTarget& target, std::string_view line, int* monitored)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);

    const std::string_view request = SkipBlanks(line);
    if (request.empty())
        return Error("empty request");
    const std::size_t wordLength = WordLength(request);
    const std::string_view word = request.substr(0, wordLength);
    const std::string_view rest = SkipBlanks(request.substr(wordLength));

    if (word == kExecute) {
        if (rest.empty())
            return Error("missing topic");
        return Execute(target, rest);
    }
    if (word == kStatus) {
        if (!rest.empty())
            return Error("STATUS takes no arguments");
        return Status(target);
    }
    if (word == kMonitor) {
        if (rest.empty())
            return Error("missing topic");
        return Monitor(target, rest, monitored);
    }
    return Error("unknown request (expected EXECUTE, STATUS or MONITOR)");
}

}  // namespace velkon
