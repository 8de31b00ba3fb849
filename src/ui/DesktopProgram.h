#pragma once

#include <memory>
#include <string>

#include "CommandServer.h"
#include "IcmpEcho.h"
#include "session/CommandProtocol.h"
#include "SystemServices.h"
#include "UiServices.h"
#include "frmMain.h"
#include "session/AppState.h"

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

    frmMain& mainWindow() { return *m_main; }
    Shell& shell() { return m_main->shell(); }
    AppState& app() { return m_app; }
    // The command socket, or none when another instance serves it.
    const CommandServer* commands() const { return m_commands.get(); }

private:
    AppState m_app;
    SystemClock m_clock;
    ShellProcessLauncher m_launcher;
    PosixFileStore m_files;
    SystemNetworkInfo m_network;
    XdgStartEntry m_startEntry;
    std::unique_ptr<PlatformComponentFactory> m_factory;
    std::unique_ptr<PromptMessageBoxes> m_messages;
    std::unique_ptr<QtSessionDialogs> m_dialogs;
    std::unique_ptr<Pinger> m_pinger;
    IcmpEchoTransport m_echo;
    SystemHostResolver m_resolver;
    InstanceLock m_instance;
    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<ShellCommandTarget> m_commandTarget;
    std::unique_ptr<CommandServer> m_commands;
};

}  // namespace velkon
