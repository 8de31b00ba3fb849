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

bool QtSessionDialogs::EditServerOptions(SessionSettings& settings)
{
    ServerOptionsDialog dialog(settings, *m_app.strings, m_parent ? m_parent() : nullptr);
    return m_prompts.Exec(dialog) == QDialog::Accepted;
}

bool QtSessionDialogs::EditClientOptions(SessionSettings& settings)
{
    ClientOptionsDialog dialog(settings, *m_app.strings, m_parent ? m_parent() : nullptr);
    return m_prompts.Exec(dialog) == QDialog::Accepted;
}

bool QtSessionDialogs::EditLoginTexts(SessionSettings& settings)
{
    LoginOptionsDialog dialog(settings, *m_app.strings, m_parent ? m_parent() : nullptr);
    return m_prompts.Exec(dialog) == QDialog::Accepted;
}

}  // namespace velkon
