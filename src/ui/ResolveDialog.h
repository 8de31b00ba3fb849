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
class ResolveDialog : public QDialog {
public:
    ResolveDialog(HostResolver& resolver, const StringTable& strings, Prompts& prompts,
                  QWidget* parent = nullptr);

    void onResolveClicked();  // Resolve IP Address
    void onHelpClicked();     // Help...: hidden, no action
    void onCancelClicked();   // Cancel

    QLabel* m_hostNameLabel;
    QLabel* m_addressLabel;
    QLineEdit* m_hostNameEdit;
    QLineEdit* m_addressEdit;
    QPushButton* m_resolveButton;
    QPushButton* m_helpButton;
    QPushButton* m_cancelButton;

private:
    HostResolver& m_resolver;
    const StringTable& m_strings;
    Prompts& m_prompts;
};

}  // namespace velkon
