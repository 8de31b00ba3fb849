#include "system/ProgramEntry.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

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
    if (shell.BytesInFlight() > 0) {
        QEventLoop loop;
        QTimer check;
        // Quiet for a few checks in a row: bytes between the kernel and the
        // next event do not show in the count for a moment.
        int quietChecks = 0;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            quietChecks = shell.BytesInFlight() == 0 ? quietChecks + 1 : 0;
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
