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
class frmPing : public QDialog {
public:
    // pingTimeoutIndex is the application's PingTimeout setting, read at each
    // ping so that a changed option applies to the next one.
    frmPing(EchoTransport& transport, HostResolver& resolver, const int& pingTimeoutIndex,
            const StringTable& strings, Prompts& prompts, QWidget* parent = nullptr);

    void Command1_Click();  // Ping
    void Command3_Click();  // Cancel

    // Label1[0] labels Text1; Label1[1..5] label Text4[0..4].
    QLabel* Label1[6];
    QLabel* Label2;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QPushButton* Command1;
    QPushButton* Command3;
    QGroupBox* Frame1;
    // Return status, address (signed decimal), round trip time, data size,
    // data returned.
    QLineEdit* Text4[5];

private:
    EchoTransport& m_transport;
    HostResolver& m_resolver;
    const int& m_pingTimeoutIndex;
    const StringTable& m_strings;
    Prompts& m_prompts;
};

}  // namespace velkon
