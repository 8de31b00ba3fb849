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
class QSpinBox;

namespace velkon {

class Prompts;
class StringTable;

// The application-wide options. OK stores the controls into the settings in
// memory, Cancel stores nothing; no file is written here.
//
// A stored PingFrequency or PingTimeout without a list entry (-1, or a
// hand-edited value such as 30 or -7) shows as no selection, and OK keeps the
// stored number unless an entry has been chosen; so -1 stays -1.
class OptionsDialog : public QDialog {
public:
    OptionsDialog(GlobalSettings& settings, const StringTable& strings, Prompts& prompts,
                  QWidget* parent = nullptr);
    void onBrowseClicked();  // Browse...
    void onOkClicked();      // OK
    void onCancelClicked();  // Cancel

    QLabel* m_packetSizeLabel;
    QComboBox* m_packetSizeBox;   // packet size, editable
    QCheckBox* m_logErrorsCheck;  // log errors
    QGroupBox* m_errorProgramGroup;
    QLabel* m_errorProgramLabel;
    QLineEdit* m_errorProgramEdit;  // error program command line
    QPushButton* m_browseButton;
    QGroupBox* m_pingGroup;
    QCheckBox* m_pingCheck;  // ping enabled
    QLabel* m_pingFrequencyLabel;
    QComboBox* m_pingFrequencyBox;  // ping frequency
    QLabel* m_pingTimeoutLabel;
    QComboBox* m_pingTimeoutBox;  // ping timeout
    QCheckBox* m_startAtLogonCheck;
    QSpinBox* m_metricsPortBox;  // 0 = no metrics page
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;

private:
    GlobalSettings& m_settings;
    const StringTable& m_strings;
    Prompts& m_prompts;
    // The file chooser's name: kept while the dialog is open, so a cancelled
    // Browse... after a successful one puts the earlier name back.
    QString m_fileName;
};

}  // namespace velkon
