#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velkon {

class EchoTransport;
class HostResolver;
class Prompts;
class StringTable;

// The Ping tool: one echo to an address or host name with the user's text,
// and the fields of the reply. The echo blocks the window for at most the
// ping timeout.
class PingDialog : public QDialog {
public:
    // pingTimeoutIndex is the application's PingTimeout setting, read at each
    // ping so that a changed option applies to the next one.
    PingDialog(EchoTransport& transport, HostResolver& resolver, const int& pingTimeoutIndex,
               const StringTable& strings, Prompts& prompts, QWidget* parent = nullptr);

    void onPingClicked();    // Ping
    void onCancelClicked();  // Cancel

    QLabel* m_addressLabel;
    // m_replyLabels[i] labels m_replyFields[i].
    QLabel* m_replyLabels[5];
    QLabel* m_dataLabel;
    QLineEdit* m_addressEdit;
    QLineEdit* m_dataEdit;
    QPushButton* m_pingButton;
    QPushButton* m_cancelButton;
    QGroupBox* m_replyGroup;
    // Return status, address (signed decimal), round trip time, data size,
    // data returned.
    QLineEdit* m_replyFields[5];

private:
    EchoTransport& m_transport;
    HostResolver& m_resolver;
    const int& m_pingTimeoutIndex;
    const StringTable& m_strings;
    Prompts& m_prompts;
};

}  // namespace velkon
