#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QSocketNotifier>

#include "CommandClient.h"
#include "DesktopProgram.h"
#include "Prompts.h"
#include "SystemServices.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    // Nothing else is safe here: the event loop does the work.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

bool HasDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char** argv)
{
    // Client mode: talk to the running instance and end.
    if (argc >= 2 && std::string(argv[1]) == "--send") return velkon::RunSendCommand(argc, argv, 2);
    if (argc == 2 && std::string(argv[1]) == "--status") return velkon::RunStatusCommand();

    // The whole argument text names the configuration file. A relative name
    // is taken from the folder the program was started in, before the
    // program folder becomes the current folder.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    if (!commandLine.empty() && commandLine[0] != '/') {
        commandLine = QDir::current().absoluteFilePath(QString::fromLocal8Bit(commandLine.c_str()))
                          .toLocal8Bit()
                          .toStdString();
    }

    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "velkon: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Run it on a desktop, or under a virtual display:\n"
                     "  xvfb-run -a %s%s%s\n",
                     argv[0], commandLine.empty() ? "" : " ", commandLine.c_str());
        return 2;
    }

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName("Velkon");
    QApplication::setWindowIcon(QIcon(":/velkon.png"));

    const std::string folder = velkon::ProgramFolder();
    if (::chdir(folder.c_str()) != 0) {
        // Not fatal: every file of the program is addressed by full path.
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGHUP, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);

    velkon::RealPrompts prompts;
    auto program = std::make_unique<velkon::DesktopProgram>(prompts, folder);

    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&program] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        // The exit sequence runs even while a modal dialog or message box is
        // open; its nested event loop must not return into a released
        // session, so the program ends right here.
        program->mainWindow().ExitSequence();
        std::fflush(nullptr);
        ::_exit(0);
    });

    program->Start(commandLine);
    QObject::connect(&application, &QApplication::lastWindowClosed, &application,
                     &QApplication::quit);
    const int rc = application.exec();
    program->mainWindow().ExitSequence();
    program.reset();
    return rc;
}
