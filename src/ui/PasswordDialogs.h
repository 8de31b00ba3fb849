#pragma once

#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velkon {

class Prompts;
class StringTable;

// Sets the application password. OK with equal texts stores the first box
// (empty removes the password); Cancel and closing change nothing.
class SetPasswordDialog : public QDialog {
public:
    SetPasswordDialog(std::string& password, const StringTable& strings, Prompts& prompts,
                      QWidget* parent = nullptr);
    void onOkClicked();      // OK
    void onCancelClicked();  // Cancel

    QLabel* m_passwordLabel;
    QLineEdit* m_passwordEdit;
    QLabel* m_confirmLabel;
    QLineEdit* m_confirmEdit;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;

private:
    std::string& m_password;
    const StringTable& m_strings;
    Prompts& m_prompts;
};

// Asks for the application password; m_enteredPassword holds the text after OK
// and stays empty after Cancel or any other way of closing.
class PasswordDialog : public QDialog {
public:
    explicit PasswordDialog(const StringTable& strings, QWidget* parent = nullptr);
    void onOkClicked();      // OK
    void onCancelClicked();  // Cancel

    QLabel* m_passwordLabel;
    QLineEdit* m_passwordEdit;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
    std::string m_enteredPassword;
};

// Passes silently when no password is set; otherwise asks with PasswordDialog through
// the prompts. Only a wrong non-empty entry is reported ("Invalid password").
bool checkPassword(const std::string& password, const StringTable& strings, Prompts& prompts,
                   QWidget* parent = nullptr);

}  // namespace velkon
