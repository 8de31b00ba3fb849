#pragma once

#include <QDialog>

#include "session/SessionSettings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace velkon {

class StringTable;

// Server I/O options of one session, edited in its options record.
class frmServerOptions : public QDialog {
public:
    frmServerOptions(SessionSettings& settings, const StringTable& strings,
                     QWidget* parent = nullptr);
    void Command1_Click();  // OK
    void Command2_Click();  // Cancel

    QCheckBox* chkMultiClients;
    QCheckBox* chkRemoteLineControl;
    QRadioButton* OptionSerial[3];
    QRadioButton* OptionTCP[3];
    QPushButton* Command1;
    QPushButton* Command2;

private:
    SessionSettings& m_settings;
};

// Client I/O options of one session.
class frmClientOptions : public QDialog {
public:
    frmClientOptions(SessionSettings& settings, const StringTable& strings,
                     QWidget* parent = nullptr);
    void Command1_Click();
    void Command2_Click();

    QRadioButton* Option1[3];
    QCheckBox* chkConnectOnVirtualPort;
    QCheckBox* chkRemoteLineControl;
    QPushButton* Command1;
    QPushButton* Command2;

private:
    SessionSettings& m_settings;
};

// The four login texts of a session.
class frmLogin : public QDialog {
public:
    frmLogin(SessionSettings& settings, const StringTable& strings,
             QWidget* parent = nullptr);
    void btnOK_Click();
    void btnCancel_Click();

    QLineEdit* txtUserPrompt;
    QLineEdit* txtUserPromptResponse;
    QLineEdit* txtPasswordPrompt;
    QLineEdit* txtPasswordPromptResponse;
    QPushButton* btnOK;
    QPushButton* btnCancel;

private:
    SessionSettings& m_settings;
};

}  // namespace velkon
