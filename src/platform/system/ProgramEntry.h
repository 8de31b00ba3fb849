#pragma once

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace velkon {

class Shell;

// The whole argument text names the configuration file. A relative name is
// taken from the folder the program was started in, before the program
// folder becomes the current folder.
std::string ConfigurationArgument(int argc, char** argv);

// What the command line asks for. Options count only as the first argument,
// so the rest of the text stays a file name; "--" ends the options.
struct CommandLine {
    enum class Action { Run, Help, Version, Send, Status, Monitor, UnknownOption };
    Action action = Action::Run;
    // Run: the configuration file (absolute, or empty for default.vkc).
    std::string configuration;
    // Send, Monitor: the index of the topic in argv. UnknownOption: the
    // option.
    int firstArgument = 0;
    std::string option;
};

// clientOptions: the desktop program also takes --send, --status and
// --monitor.
CommandLine ParseCommandLine(int argc, char** argv, bool clientOptions);

// Handles --help, --version and an unknown option: prints what they ask for
// and returns the exit status, or -1 when the program has more to do.
int AnswerInformationOptions(const CommandLine& line, const char* program, const char* usage);

// Runs onSignal on the event loop when SIGTERM, SIGINT or (with hangUp)
// SIGHUP arrives; SIGPIPE is ignored. One per program.
class TerminationSignals {
public:
    TerminationSignals(std::function<void()> onSignal, bool hangUp);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;
    // False when the signals could not be set up.
    bool ok() const { return m_notifier != nullptr; }

private:
    std::function<void()> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Raises the soft limit of open descriptors to the hard one: every session
// holds several (port, lock, sockets), and the usual 1024 is soon reached.
void RaiseDescriptorLimit();

// Lets the sessions deliver the bytes they have taken in for at most limitMs
// before the program ends, then logs what is left.
void DeliverBeforeExit(Shell& shell, int limitMs);
inline constexpr int kDeliverBeforeExitMs = 2000;

}  // namespace velkon
