#pragma once

#include <QDialog>
#include <QString>

#include "session/AppState.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velkon {

class Prompts;
class StringTable;

// The application-wide options. OK stores the controls into the settings in
// memory, Cancel stores nothing; no file is written here.
//
// A stored PingFrequency or PingTimeout without a list entry (-1, or a
// hand-edited value such as 30 or -7) shows as no selection, and OK keeps the
// stored number unless an entry has been chosen; so -1 stays -1.
class frmOptions : public QDialog {
public:
    frmOptions(GlobalSettings& settings, const StringTable& strings, Prompts& prompts,
               QWidget* parent = nullptr);
    void Command1_Click();  // Browse...
    void Command2_Click();  // OK
    void Command3_Click();  // Cancel

    QLabel* Label2;
    QComboBox* Combo1;  // packet size, editable
    QCheckBox* Check1;  // log errors
    QGroupBox* Frame1;
    QLabel* Label1;
    QLineEdit* Text1;  // error program command line
    QPushButton* Command1;
    QGroupBox* Frame2;
    QCheckBox* Check2;  // ping enabled
    QLabel* Label3;
    QComboBox* Combo2;  // ping frequency
    QLabel* Label4;
    QComboBox* Combo3;  // ping timeout
    QCheckBox* chkLoadWithWindows;
    QPushButton* Command2;
    QPushButton* Command3;

private:
    GlobalSettings& m_settings;
    const StringTable& m_strings;
    Prompts& m_prompts;
    // The file chooser's name: kept while the dialog is open, so a cancelled
    // Browse... after a successful one puts the earlier name back.
    QString m_fileName;
};

}  // namespace velkon
