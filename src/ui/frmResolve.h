#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velkon {

class HostResolver;
class Prompts;
class StringTable;

// The Resolve tool: the first IPv4 address of a host name.
class frmResolve : public QDialog {
public:
    frmResolve(HostResolver& resolver, const StringTable& strings, Prompts& prompts,
               QWidget* parent = nullptr);

    void Command1_Click();  // Resolve IP Address
    void Command3_Click();  // Help...: hidden, no action
    void Command4_Click();  // Cancel

    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* txtHostName;
    QLineEdit* txtIPAddress;
    QPushButton* Command1;
    QPushButton* Command3;
    QPushButton* Command4;

private:
    HostResolver& m_resolver;
    const StringTable& m_strings;
    Prompts& m_prompts;
};

}  // namespace velkon
