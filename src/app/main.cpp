#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QIcon>

#include "DesktopProgram.h"
#include "Prompts.h"
#include "command/CommandClient.h"
#include "system/ProgramEntry.h"
#include "system/SystemServices.h"

namespace {

bool HasDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

const char* const kUsage =
    "usage: velkon [file.vkc]\n"
    "       velkon -- file.vkc\n"
    "       velkon --send <topic> <command text...>\n"
    "       velkon --status\n"
    "       velkon --monitor <topic>\n"
    "       velkon --help | --version\n"
    "Opens the bridge window with the sessions of the configuration file\n"
    "(default: default.vkc in the program folder). The whole argument text names\n"
    "the file; \"--\" before a name that starts with \"-\".\n"
    "--send sends a command to the running instance's session of that topic\n"
    "(exit 0 accepted, 1 refused, 2 no topic, 3 no instance, 4 error);\n"
    "--status prints the state of the running instance's sessions;\n"
    "--monitor prints that session's traffic as it passes, one line per 16 bytes\n"
    "in hex and text, until the session or the instance ends (exit 0; 2 no topic,\n"
    "3 no instance, 4 error).\n";

}  // namespace

int main(int argc, char** argv)
{
    // Answered before anything else: no display, no files.
    const velkon::CommandLine line = velkon::ParseCommandLine(argc, argv, true);
    if (const int rc = velkon::AnswerInformationOptions(line, "velkon", kUsage); rc >= 0)
        return rc;
    // Client mode: talk to the running instance and end.
    if (line.action == velkon::CommandLine::Action::Send)
        return velkon::RunSendCommand(argc, argv, line.firstArgument);
    if (line.action == velkon::CommandLine::Action::Status) {
        if (argc > line.firstArgument) {
            std::fprintf(stderr, "velkon: --status takes no arguments\n%s", kUsage);
            return velkon::kCommandError;
        }
        return velkon::RunStatusCommand();
    }
    if (line.action == velkon::CommandLine::Action::Monitor)
        return velkon::RunMonitorCommand(argc, argv, line.firstArgument);

    // A relative name is taken from the folder the program was started in,
    // before the program folder becomes the current folder.
    const std::string& commandLine = line.configuration;
    velkon::RaiseDescriptorLimit();

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
    // Made here so the start can work in it; a failure is reported by the
    // program's start, which checks again.
    (void)velkon::PrepareProgramFolder(folder);
    if (::chdir(folder.c_str()) != 0) {
        // Not fatal: every file of the program is addressed by full path.
    }

    velkon::RealPrompts prompts;
    auto program = std::make_unique<velkon::DesktopProgram>(prompts, folder);

    velkon::TerminationSignals termination(
        [&program] {
            // The exit sequence runs even while a modal dialog or message box is
            // open; its nested event loop must not return into a released
            // session, so the program ends right here.
            program->mainWindow().exitSequence();
            std::fflush(nullptr);
            ::_exit(0);
        },
        true);

    program->Start(commandLine);
    const int rc = application.exec();
    program->mainWindow().exitSequence();
    program.reset();
    return rc;
}
