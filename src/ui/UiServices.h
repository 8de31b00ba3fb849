#pragma once

#include <functional>

#include <QWidget>

#include "components/Services.h"
#include "session/AppState.h"

namespace velkon {

class Prompts;

// Message boxes of the core, shown through the prompts over a parent window.
class PromptMessageBoxes : public MessageBoxes {
public:
    PromptMessageBoxes(Prompts& prompts, std::function<QWidget*()> parent);
    void Show(const std::string& text, const std::string& title) override;

private:
    Prompts& m_prompts;
    std::function<QWidget*()> m_parent;
};

// The session dialogs as modal windows.
class QtSessionDialogs : public SessionDialogs {
public:
    QtSessionDialogs(AppState& app, Prompts& prompts, std::function<QWidget*()> parent);
    bool EditServerOptions(SessionSettings& settings) override;
    bool EditClientOptions(SessionSettings& settings) override;
    bool EditLoginTexts(SessionSettings& settings) override;

private:
    AppState& m_app;
    Prompts& m_prompts;
    std::function<QWidget*()> m_parent;
};

}  // namespace velkon
