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
class Form1 : public QDialog {
public:
    Form1(std::string& password, const StringTable& strings, Prompts& prompts,
          QWidget* parent = nullptr);
    void Command1_Click();  // OK
    void Command2_Click();  // Cancel

    QLabel* Label1;
    QLineEdit* Text1;
    QLabel* Label2;
    QLineEdit* Text2;
    QPushButton* Command1;
    QPushButton* Command2;

private:
    std::string& m_password;
    const StringTable& m_strings;
    Prompts& m_prompts;
};

// Asks for the application password; EnteredPassword holds the text after OK
// and stays empty after Cancel or any other way of closing.
class Form2 : public QDialog {
public:
    explicit Form2(const StringTable& strings, QWidget* parent = nullptr);
    void Command1_Click();  // OK
    void Command2_Click();  // Cancel

    QLabel* Label1;
    QLineEdit* Text1;
    QPushButton* Command1;
    QPushButton* Command2;
    std::string EnteredPassword;
};

// Passes silently when no password is set; otherwise asks with Form2 through
// the prompts. Only a wrong non-empty entry is reported ("Invalid password").
bool CheckPassword(const std::string& password, const StringTable& strings, Prompts& prompts,
                   QWidget* parent = nullptr);

}  // namespace velkon
