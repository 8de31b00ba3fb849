#pragma once

#include <memory>
#include <string>

#include "MainWindow.h"
#include "QtTranslations.h"
#include "UiServices.h"
#include "command/CommandServer.h"
#include "metrics/MetricsServer.h"
#include "ping/IcmpEcho.h"
#include "session/AppState.h"
#include "session/CommandProtocol.h"
#include "system/SystemServices.h"

namespace velkon {

class Prompts;

// The desktop program wired together: real adapters, the main window and its
// shell. Tests build one with their own prompts and program folder.
class DesktopProgram {
public:
    DesktopProgram(Prompts& prompts, const std::string& programFolder);
    ~DesktopProgram();

    // Start-up: reads the configuration (empty: "default.vkc") and starts the
    // sessions saved as active.
    void Start(const std::string& commandLine);

    MainWindow& mainWindow() { return *m_main; }
    Shell& shell() { return m_main->shell(); }
    AppState& app() { return m_app; }
    // The command socket, or none when another instance serves it.
    const CommandServer* commands() const { return m_commands.get(); }

private:
    void ReportProblem(const std::string& detail, int textId);

    AppState m_app;
    std::unique_ptr<QTranslator> m_qtTranslator;
    std::unique_ptr<SystemServiceSet> m_system;
    std::unique_ptr<PromptMessageBoxes> m_messages;
    std::unique_ptr<QtSessionDialogs> m_dialogs;
    IcmpEchoTransport m_echo;
    SystemHostResolver m_resolver;
    InstanceLock m_instance;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<ShellCommandTarget> m_commandTarget;
    std::unique_ptr<CommandServer> m_commands;
    std::unique_ptr<MetricsServer> m_metrics;
};

}  // namespace velkon
