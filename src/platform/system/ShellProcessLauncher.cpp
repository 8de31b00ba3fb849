#include "system/ShellProcessLauncher.h"

#include <cstdio>
#include <utility>

#include <QFileInfo>
#include <QProcess>

namespace velkon {

ShellProcessLauncher::ShellProcessLauncher(std::function<void(const std::string&)> report)
    : m_report(std::move(report))
{
}

std::vector<std::string> ShellProcessLauncher::Plan(const std::string& commandLine)
{
    const QString text = QString::fromStdString(commandLine).trimmed();
    if (QFileInfo(text).isFile())
        return {text.toStdString()};
    static const QString kShellSyntax = "|&;<>()$`*?[]#~=%{}'\\\n";
    bool plain = true;
    for (QChar c : text)
        plain = plain && !kShellSyntax.contains(c);
    QStringList words = plain ? QProcess::splitCommand(text) : QStringList();
    if (words.isEmpty())
        return {"/bin/sh", "-c", commandLine};
    std::vector<std::string> plan;
    for (const QString& word : words)
        plan.push_back(word.toStdString());
    return plan;
}

bool ShellProcessLauncher::StartDetached(const std::string& commandLine)
{
    const std::vector<std::string> plan = Plan(commandLine);
    QProcess process;
    process.setProgram(QString::fromStdString(plan.front()));
    QStringList arguments;
    for (std::size_t i = 1; i < plan.size(); ++i)
        arguments << QString::fromStdString(plan[i]);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (process.startDetached())
        return true;
    if (m_reported.insert(commandLine).second) {
        const std::string text = "cannot start the error program \"" + commandLine +
                                 "\": " + process.errorString().toStdString();
        if (m_report)
            m_report(text);
        else
            std::fprintf(stderr, "velkon: %s\n", text.c_str());
    }
    return false;
}

}  // namespace velkon
