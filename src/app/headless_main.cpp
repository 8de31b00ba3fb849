// velkon-headless: the sessions of a configuration file without a desktop.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <QCoreApplication>
#include <QDir>

#include "HeadlessHost.h"
#include "command/CommandServer.h"
#include "metrics/MetricsServer.h"
#include "ping/IcmpEcho.h"
#include "session/CommandProtocol.h"
#include "shell/MetricsPage.h"
#include "shell/Shell.h"
#include "shell/StringTable.h"
#include "system/ProgramEntry.h"
#include "system/RuntimeDir.h"
#include "system/SystemServices.h"

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "velkon-headless: %s\n", message.c_str());
    return 1;
}

const char* const kUsage =
    "usage: velkon-headless [file.vkc]\n"
    "       velkon-headless -- file.vkc\n"
    "       velkon-headless --help | --version\n"
    "Runs the sessions of the configuration file (default: default.vkc in the\n"
    "program folder) without a desktop. The whole argument text names the file;\n"
    "\"--\" before a name that starts with \"-\". Status changes go to standard\n"
    "output; SIGTERM or SIGINT writes default.vkc and ends the program.\n";

}  // namespace

int main(int argc, char** argv)
{
    using namespace velkon;

    // Answered before anything else: no files, no runtime folder.
    const CommandLine line = ParseCommandLine(argc, argv, false);
    if (const int rc = AnswerInformationOptions(line, "velkon-headless", kUsage); rc >= 0)
        return rc;
    const std::string& commandLine = line.configuration;
    RaiseDescriptorLimit();

    // Qt's own event dispatcher: the GLib one wakes itself with a write each
    // time a descriptor's watch is switched on or off, which the data path
    // does for every chunk that has to wait.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    const std::string folder = ProgramFolder();
    if (const Result prepared = PrepareProgramFolder(folder); !prepared) {
        std::fprintf(stderr, "velkon-headless: %s; the configuration will not be saved\n",
                     prepared.description().c_str());
    }

    // Refuse what cannot work before anything is opened.
    std::string runtime;
    const Result made = EnsureRuntimeDirectory(runtime);
    if (!made)
        return Fail("cannot create the runtime folder: " + made.description());
    InstanceLock instance;
    std::string lockError;
    if (!instance.Acquire(lockError))
        return Fail(lockError);
    const std::string configPath =
        commandLine.empty() ? JoinPath(folder, "default.vkc") : commandLine;
    const Result usable = CheckConfigurationFile(configPath);
    // Missing, also when a folder on its path is missing or not a folder.
    const bool exists = usable || (usable.number() != ENOENT && usable.number() != ENOTDIR);
    if (exists && !usable)
        return Fail("cannot read the configuration: " + usable.description());
    if (!exists && !commandLine.empty()) {
        return Fail("the configuration " + configPath + " does not exist");
    }
    if (!exists) {
        std::fprintf(stderr, "velkon-headless: %s does not exist; starting with one new session\n",
                     configPath.c_str());
    }
    RemoveSaveLeftovers(JoinPath(folder, "default.vkc"));
    if (!commandLine.empty())
        RemoveSaveLeftovers(commandLine);
    if (::chdir(folder.c_str()) != 0) {
        // Not fatal: every file of the program is addressed by full path.
    }

    AppState app;
    app.strings = &StringTable::For(
        StringTable::LanguageFromEnvironment([](const char* name) { return std::getenv(name); }));
    app.programFolder = folder;
    SystemServiceSet system(app);
    StreamMessages messages(stderr);
    app.services.messages = &messages;

    HeadlessHost host(system.clock, stdout);
    auto shell = std::make_unique<Shell>(app, host);
    host.setShell(shell.get());
    shell->ExePath = ExecutablePath();
    MetricsServer metrics([&shell] { return MetricsPage(CollectMetrics(shell->sessions())); },
                          [](const std::string& problem) {
                              std::fprintf(stderr, "velkon-headless: %s\n", problem.c_str());
                          });
    app.services.metrics = &metrics;

    TerminationSignals termination([] { QCoreApplication::exit(0); }, false);
    if (!termination.ok())
        return Fail(std::string("cannot set up signal handling: ") + std::strerror(errno));

    ShellCommandTarget target(*shell);
    CommandServer commands(CommandProtocolHandler(target));
    std::string commandError;
    if (!commands.Start(commandError)) {
        return Fail("cannot serve the command socket: " + commandError);
    }
    shell->StartApplication(commandLine, false);
    const int rc = application.exec();
    commands.Stop();
    DeliverBeforeExit(*shell, kDeliverBeforeExitMs);
    shell->QueryUnload();
    shell->Unload();
    app.services.metrics = nullptr;
    return rc;
}
