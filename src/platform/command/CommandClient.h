#pragma once

#include <string>

namespace velkon {

// Exit codes of "velkon --send", "velkon --status" and "velkon --monitor".
inline constexpr int kCommandAccepted = 0;
inline constexpr int kCommandRefused = 1;
inline constexpr int kCommandNoTopic = 2;
inline constexpr int kCommandNoInstance = 3;
// A usage mistake, or the instance answered ERROR (for example permission
// denied, or a command text too long for one request line).
inline constexpr int kCommandError = 4;

// The command socket of this user: RuntimeDirectory() + "/command".
std::string CommandSocketPath();

// Sends one request line (without its line feed) to the running instance and
// reads its whole answer: one line, or for STATUS the lines up to and
// including the closing "." line. An ERROR answer is one line for every
// request. Returns 0 with the answer as received, kCommandNoInstance when no
// instance answers (no socket, a stale socket file, a socket of another user,
// or no complete answer within timeoutMs), or kCommandError for a request
// that holds a line break. error says what went wrong.
int SendCommandRequest(const std::string& request, std::string& answer, std::string& error,
                       int timeoutMs = 5000);

// velkon --send <topic> <command text...>: argv[firstArg] is the topic, the
// arguments after it are joined with single blanks into the command text.
// Prints the answer and returns kCommandAccepted, kCommandRefused,
// kCommandNoTopic, kCommandNoInstance or kCommandError; errors go to stderr.
int RunSendCommand(int argc, char** argv, int firstArg);

// velkon --status: prints one line per session (number, topic, state and the
// two status texts, tab separated) and returns 0, or kCommandNoInstance /
// kCommandError with a message on stderr.
int RunStatusCommand();

// velkon --monitor <topic>: the arguments from argv[firstArg] on, joined with
// single blanks, name the session. Writes the monitor lines that follow
// ACCEPTED to standard output, each as soon as it is in, and returns 0 when
// the instance ends the monitor or nobody reads standard output any more
// (SIGPIPE is ignored from the call on); kCommandNoTopic, kCommandNoInstance
// or kCommandError with a message on stderr.
int RunMonitorCommand(int argc, char** argv, int firstArg);

}  // namespace velkon
