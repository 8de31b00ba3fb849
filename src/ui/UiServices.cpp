#include "UiServices.h"

#include "IoOptionsDialogs.h"
#include "Prompts.h"

namespace velkon {

PromptMessageBoxes::PromptMessageBoxes(Prompts& prompts, std::function<QWidget*()> parent)
    : m_prompts(prompts), m_parent(std::move(parent))
{
}

void PromptMessageBoxes::Show(const std::string& text, const std::string& title)
{
    m_prompts.Message(m_parent ? m_parent() : nullptr, QString::fromStdString(text),
                      QString::fromStdString(title.empty() ? "Velkon" : title));
}

QtSessionDialogs::QtSessionDialogs(AppState& app, Prompts& prompts,
                                   std::function<QWidget*()> parent)
    : m_app(app), m_prompts(prompts), m_parent(std::move(parent))
{
}

void QtSessionDialogs::ShowServerOptions(SessionOptionsTransfer& transfer)
{
    ServerOptionsDialog dialog(transfer, *m_app.strings, m_parent ? m_parent() : nullptr);
    m_prompts.Exec(dialog);
}

void QtSessionDialogs::ShowClientOptions(SessionOptionsTransfer& transfer)
{
    ClientOptionsDialog dialog(transfer, *m_app.strings, m_parent ? m_parent() : nullptr);
    m_prompts.Exec(dialog);
}

void QtSessionDialogs::ShowLoginOptions(SessionOptionsTransfer& transfer, bool& loginCancelled)
{
    LoginOptionsDialog dialog(transfer, loginCancelled, *m_app.strings,
                              m_parent ? m_parent() : nullptr);
    m_prompts.Exec(dialog);
}

}  // namespace velkon
