#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace velkon {

// The modal questions windows ask: message boxes, file choosers and dialogs.
// Tests put their own answers in place of the real ones.
class Prompts {
public:
    virtual ~Prompts() = default;
    // A message box with an OK button.
    virtual void Message(QWidget* parent, const QString& text, const QString& title) = 0;
    // filter in the form "Name (*.EXT)|*.ext|All Files (*.*)|*.*"; the first
    // entry is preselected. Empty when cancelled.
    virtual QString OpenFile(QWidget* parent, const QString& filter) = 0;
    // Appends defaultExt to a name without one; never asks before
    // overwriting. Empty when cancelled.
    virtual QString SaveFile(QWidget* parent, const QString& filter, const QString& defaultExt) = 0;
    // Shows a dialog modally; returns its result code.
    virtual int Exec(QDialog& dialog) = 0;
};

class RealPrompts : public Prompts {
public:
    void Message(QWidget* parent, const QString& text, const QString& title) override;
    QString OpenFile(QWidget* parent, const QString& filter) override;
    QString SaveFile(QWidget* parent, const QString& filter, const QString& defaultExt) override;
    int Exec(QDialog& dialog) override;
};

// "Name (*.EXT)|*.ext|All (*.*)|*.*" as a Qt name filter list.
QString QtFilter(const QString& filter);

}  // namespace velkon
