#pragma once

#include <functional>
#include <memory>

#include <QDialog>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "DesktopProgram.h"
#include "Prompts.h"

namespace velkon::test {

// Answers the modal questions of the windows instead of a user.
class FakePrompts : public Prompts {
public:
    void Message(QWidget*, const QString& text, const QString& title) override
    {
        messages << title + "|" + text;
    }
    QString OpenFile(QWidget*, const QString& filter) override
    {
        filters << filter;
        return openAnswer;
    }
    QString SaveFile(QWidget*, const QString& filter, const QString& ext) override
    {
        filters << filter + "|" + ext;
        return saveAnswer;
    }
    int Exec(QDialog& dialog) override
    {
        ++dialogs;
        if (onDialog)
            onDialog(dialog);
        return dialog.result();
    }
    QStringList messages;
    QStringList filters;
    QString openAnswer;
    QString saveAnswer;
    int dialogs = 0;
    std::function<void(QDialog&)> onDialog;
};

// A desktop program with its own program and runtime folders.
struct ProgramRig {
    ProgramRig()
    {
        qputenv("VELKON_RUNTIME_DIR", (dir.path() + "/run").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toLocal8Bit());
    }
    void Start(const std::string& commandLine = "")
    {
        program = std::make_unique<DesktopProgram>(prompts, dir.path().toStdString());
        program->Start(commandLine);
    }
    QString Path(const QString& name) const { return dir.path() + "/" + name; }
    QByteArray ReadFile(const QString& name) const
    {
        QFile f(Path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void WriteFile(const QString& name, const QByteArray& content) const
    {
        QFile f(Path(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(content);
    }
    MainWindow& main() { return program->mainWindow(); }
    Shell& shell() { return program->shell(); }

    QTemporaryDir dir;
    FakePrompts prompts;
    std::unique_ptr<DesktopProgram> program;
};

}  // namespace velkon::test
