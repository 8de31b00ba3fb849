#pragma once

#include <string>
#include <string_view>

#include "session/Traffic.h"

namespace velkon {

class Shell;
class TrafficFeed;

// What the command protocol needs of the program: the sessions in order,
// each with its topic, state and status lines, and a way to hand one a
// command. Indexes are 0-based; the protocol shows them 1-based.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    virtual int SessionCount() const = 0;
    virtual std::string Topic(int index) const = 0;
    virtual bool IsActive(int index) const = 0;
    // line 0: serial status line, 1: network status line.
    virtual std::string StatusText(int index, int line) const = 0;
    // The session has remote line control (RFC 2217) on.
    virtual bool RemoteLineControl(int) const { return false; }
    // The session's counts since its last activation, and its clients now.
    virtual TrafficCounters Counters(int) const { return {}; }
    virtual int ClientCount(int) const { return 0; }
    // The session's traffic, for a monitor to attach to; null when none.
    virtual TrafficFeed* Traffic(int) { return nullptr; }
    // True when the session accepts the command; reason may say why not.
    virtual bool Execute(int index, const std::string& command, std::string& reason) = 0;
};

// The sessions of a running program.
class ShellCommandTarget : public CommandTarget {
public:
    explicit ShellCommandTarget(Shell& shell) : m_shell(shell) {}
    int SessionCount() const override;
    std::string Topic(int index) const override;
    bool IsActive(int index) const override;
    std::string StatusText(int index, int line) const override;
    bool RemoteLineControl(int index) const override;
    TrafficCounters Counters(int index) const override;
    int ClientCount(int index) const override;
    TrafficFeed* Traffic(int index) override;
    bool Execute(int index, const std::string& command, std::string& reason) override;

private:
    Shell& m_shell;
};

// Answers one request line of the command protocol; every answer line ends
// with "\n". The line comes without its line feed; one trailing carriage
// return is ignored, so CRLF clients work.
//
//   EXECUTE <topic> <command text>  ->  ACCEPTED | REFUSED [reason] | NO TOPIC
//   STATUS                          ->  one line per session, then "."
//   MONITOR <topic>                 ->  ACCEPTED | NO TOPIC; after ACCEPTED
//                                       the caller streams the session's
//                                       monitor lines (see MonitorLines.h)
//   anything else                   ->  ERROR <reason>
//
// The request words are upper case exactly ("status" is an error, so a typo
// shows instead of half working). Blanks are spaces and tabs; blanks before
// the request word are ignored. The topic is the first word after EXECUTE;
// the command text is the rest of the line after the one blank that ends the
// topic, passed on unchanged (a text that is empty after that blank is passed
// on, and refused by the session; no blank at all after the topic is an
// error). Topics compare without regard to ASCII case, as DDE topic names
// did. A session topic that itself holds blanks (a localized "None" may) is
// matched as a whole before the first-word rule, so every session can be
// reached. Of several sessions under one topic the first in order answers.
//
// A STATUS line is: number, topic, "active" or "inactive", serial status text,
// network status text, "rfc2217" or "plain" (remote line control on or
// off), then the counts since the last activation: bytes read from the serial
// side, written to it, received from the network, sent to it (summed over
// clients), and the clients connected now. Fields are separated by tabs and
// new ones only ever go at the end, so readers of the first ones keep
// working; tabs, carriage returns and line feeds inside the texts become
// blanks so that the fields and lines stay apart.
//
// monitored: where a MONITOR request puts the index of the session to
// watch; a caller that cannot stream passes null and MONITOR is an error.
std::string HandleCommandLine(CommandTarget& target, std::string_view line,
                              int* monitored = nullptr);

}  // namespace velkon
