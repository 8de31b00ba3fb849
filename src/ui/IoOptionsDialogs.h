#pragma once

#include <QDialog>
#include <QGroupBox>

#include "session/SessionSettings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace velkon {

class StringTable;
class TlsOptionsBox;

// The trace options of a session, in both I/O options dialogs: the file
// ("" = no trace), hexdump lines or raw bytes, and the size of one file.
class TraceOptionsBox : public QGroupBox {
public:
    TraceOptionsBox(const SessionSettings& settings, const StringTable& strings, QWidget* parent);
    void Store(SessionSettings& settings) const;
    void onBrowseClicked();

    QLineEdit* m_fileEdit;
    QPushButton* m_browseButton;
    QCheckBox* m_hexCheck;
    QSpinBox* m_maxSizeBox;

private:
    const StringTable& m_strings;
};

// Server I/O options of one session, edited through the settings record.
class ServerOptionsDialog : public QDialog {
public:
    ServerOptionsDialog(SessionSettings& settings, const StringTable& strings,
                        QWidget* parent = nullptr);
    void onOkClicked();      // OK
    void onCancelClicked();  // Cancel

    QCheckBox* m_multipleClientsCheck;
    QCheckBox* m_remoteLineControlCheck;
    QRadioButton* m_serialDataRadios[3];
    QRadioButton* m_networkDataRadios[3];
    // Who may connect; a wrong entry is named below it and OK refused.
    QLineEdit* m_allowedClientsEdit;
    QLabel* m_allowedClientsError;
    TlsOptionsBox* m_tlsBox;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
    TraceOptionsBox* m_traceBox;

private:
    SessionSettings& m_settings;
    const StringTable& m_strings;
};

// Client I/O options of one session.
class ClientOptionsDialog : public QDialog {
public:
    ClientOptionsDialog(SessionSettings& settings, const StringTable& strings,
                        QWidget* parent = nullptr);
    void onOkClicked();
    void onCancelClicked();

    QRadioButton* m_twoWayRadios[3];
    QCheckBox* m_connectOnVirtualOpenCheck;
    QCheckBox* m_remoteLineControlCheck;
    TlsOptionsBox* m_tlsBox;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
    TraceOptionsBox* m_traceBox;

private:
    SessionSettings& m_settings;
};

// The four login texts of a session.
class LoginOptionsDialog : public QDialog {
public:
    LoginOptionsDialog(SessionSettings& settings, const StringTable& strings,
                       QWidget* parent = nullptr);
    void onOkClicked();
    void onCancelClicked();

    QLineEdit* m_userPromptEdit;
    QLineEdit* m_userResponseEdit;
    QLineEdit* m_passwordPromptEdit;
    QLineEdit* m_passwordResponseEdit;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;

private:
    SessionSettings& m_settings;
};

}  // namespace velkon
