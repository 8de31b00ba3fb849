#include "DesktopProgram.h"

#include <cstdio>

#include <QFileInfo>
#include <QGuiApplication>
#include <QTranslator>

#include "Localization.h"
#include "Prompts.h"
#include "serial/PortMap.h"
#include "shell/MetricsPage.h"
#include "shell/StringTable.h"

namespace velkon {

DesktopProgram::DesktopProgram(Prompts& prompts, const std::string& programFolder)
{
    m_app.strings = &StringTable::For(
        StringTable::LanguageFromEnvironment([](const char* name) { return std::getenv(name); }));
    m_app.programFolder = programFolder;
    std::string translationError;
    m_qtTranslator = InstallQtTranslations(m_app.strings->language(), translationError);
    if (!translationError.empty())
        std::fprintf(stderr, "velkon: %s\n", translationError.c_str());
    // Only Exit or a signal ends the program: the password question or the
    // About box of a hidden main window is not its last window.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    m_system = std::make_unique<SystemServiceSet>(m_app);
    m_main = std::make_unique<MainWindow>(m_app, prompts);
    QWidget* parent = m_main.get();
    m_messages = std::make_unique<PromptMessageBoxes>(prompts, [parent] { return parent; });
    m_dialogs = std::make_unique<QtSessionDialogs>(m_app, prompts, [parent] { return parent; });

    m_app.services.messages = m_messages.get();
    m_app.services.dialogs = m_dialogs.get();

    const StringTable* strings = m_app.strings;
    m_main->setConnectorTip([programFolder, strings](int number) {
        const std::string device = DeviceForPort(number, programFolder);
        return device.empty() ? QString("COM%1: %2").arg(number).arg(Tr(*strings, 5132))
                              : QString::fromStdString(device);
    });
    m_main->shell().ExePath = ExecutablePath();
    m_main->setToolEngines(&m_echo, &m_resolver);
    Shell* shell = &m_main->shell();
    m_metrics = std::make_unique<MetricsServer>(
        [shell] { return MetricsPage(CollectMetrics(shell->sessions())); },
        [](const std::string& problem) { std::fprintf(stderr, "velkon: %s\n", problem.c_str()); });
    m_app.services.metrics = m_metrics.get();
}

DesktopProgram::~DesktopProgram()
{
    m_commands.reset();
    m_app.services.metrics = nullptr;
    m_metrics.reset();
    // Sessions hold components that reach the services above: they go first.
    m_main.reset();
}

void DesktopProgram::Start(const std::string& commandLine)
{
    const Result folder = PrepareProgramFolder(m_app.programFolder);
    if (!folder)
        ReportProblem(folder.description(), 5130);
    RemoveSaveLeftovers(JoinPath(m_app.programFolder, "default.vkc"));
    if (!commandLine.empty()) {
        // The sessions start without it, as with an unreadable file.
        if (const Result named = CheckConfigurationFile(commandLine); !named)
            ReportProblem(named.description(), 5145);
        else
            RemoveSaveLeftovers(commandLine);
    }

    std::string error;
    const bool firstInstance = m_instance.Acquire(error);
    m_main->addTrayIcon();
    m_main->shell().StartApplication(commandLine, !firstInstance);

    // Other programs drive the sessions through the command socket. A second
    // instance leaves the first one's socket alone and runs without one.
    m_commandTarget = std::make_unique<ShellCommandTarget>(m_main->shell());
    m_commands = std::make_unique<CommandServer>(CommandProtocolHandler(*m_commandTarget));
    std::string commandError;
    if (!m_commands->Start(commandError)) {
        std::fprintf(stderr, "velkon: no command socket: %s\n", commandError.c_str());
        m_commands.reset();
    }
}

void DesktopProgram::ReportProblem(const std::string& detail, int textId)
{
    std::fprintf(stderr, "velkon: %s\n", detail.c_str());
    m_main->showProblem(Tr(*m_app.strings, textId) + " " + QString::fromStdString(detail));
}

}  // namespace velkon
