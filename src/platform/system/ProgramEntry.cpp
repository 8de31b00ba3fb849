#include "system/ProgramEntry.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include <QDir>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include "Version.h"
#include "shell/Shell.h"

namespace velkon {

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    // Nothing else is safe here: the event loop does the work.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

std::string ConfigurationArgument(int argc, char** argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    if (text.empty() || text[0] == '/')
        return text;
    return QDir::current()
        .absoluteFilePath(QString::fromLocal8Bit(text.c_str()))
        .toLocal8Bit()
        .toStdString();
}

CommandLine ParseCommandLine(int argc, char** argv, bool clientOptions)
{
    CommandLine line;
    const std::string first = argc >= 2 ? argv[1] : "";
    if (first == "--") {
        // Everything after it is the file name, even a name that starts with "-".
        line.configuration = ConfigurationArgument(argc - 1, argv + 1);
    } else if (first == "--help" || first == "-h") {
        line.action = CommandLine::Action::Help;
    } else if (first == "--version") {
        line.action = CommandLine::Action::Version;
    } else if (clientOptions && first == "--send") {
        line.action = CommandLine::Action::Send;
        line.firstArgument = 2;
    } else if (clientOptions && first == "--status") {
        line.action = CommandLine::Action::Status;
        line.firstArgument = 2;
    } else if (clientOptions && first == "--monitor") {
        line.action = CommandLine::Action::Monitor;
        line.firstArgument = 2;
    } else if (first.rfind("--", 0) == 0) {
        line.action = CommandLine::Action::UnknownOption;
        line.option = first;
    } else {
        line.configuration = ConfigurationArgument(argc, argv);
    }
    return line;
}

int AnswerInformationOptions(const CommandLine& line, const char* program, const char* usage)
{
    switch (line.action) {
        case CommandLine::Action::Help:
            std::fputs(usage, stdout);
            return 0;
        case CommandLine::Action::Version:
            std::printf("velkon %s\n", kVersionText);
            return 0;
        case CommandLine::Action::UnknownOption:
            std::fprintf(stderr, "%s: unknown option %s\n%s", program, line.option.c_str(), usage);
            return 2;
        default:
            return -1;
    }
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal, bool hangUp)
    : m_onSignal(std::move(onSignal))
{
    ::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    if (hangUp)
        sigaction(SIGHUP, &action, nullptr);
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        m_onSignal();
    });
}

TerminationSignals::~TerminationSignals() = default;

void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

void DeliverBeforeExit(Shell& shell, int limitMs)
{
    shell.StopTakingIn();
    // Each connection is closed in order once it has what the program sent
    // it (its sending side shut down, what the peer still sends read and
    // dropped until the peer closes), so that it ends with all its bytes
    // and no reset. The first check comes after the events already waiting,
    // bytes that arrived before the end among them.
    {
        QEventLoop loop;
        QTimer check;
        // Quiet for a few checks in a row: bytes between the kernel and the
        // next event do not show in the count for a moment.
        int quietChecks = 0;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            shell.EndConnections(false);
            const bool quiet = shell.BytesInFlight() == 0 && shell.ClosingConnections() == 0;
            quietChecks = quiet ? quietChecks + 1 : 0;
            if (quietChecks >= 3)
                loop.quit();
        });
        check.start(10);
        QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    shell.LogUndelivered();
}

}  // namespace velkon
