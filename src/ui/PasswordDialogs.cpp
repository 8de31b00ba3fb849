#include "PasswordDialogs.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "DialogParts.h"
#include "Localization.h"
#include "Prompts.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

constexpr const char* kTitle = "Velkon";

// The style's own mask character differs between styles (often a bullet);
// the program shows "*" for each typed character.
QLineEdit* PasswordBox(QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setEchoMode(QLineEdit::Password);
    box->setStyleSheet("lineedit-password-character: 42");
    return box;
}

void MakeButtons(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel)
{
    MakeOkCancel(dialog, ok, cancel);
    cancel->setAutoDefault(false);
}

// Centred on the whole screen, not over the owner window.
void CentreOnScreen(QWidget* window)
{
    window->adjustSize();
    QScreen* screen = window->parentWidget() ? window->parentWidget()->screen()
                                             : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    window->move(area.x() + area.width() / 2 - window->width() / 2,
                 area.y() + area.height() / 2 - window->height() / 2);
}

}  // namespace

SetPasswordDialog::SetPasswordDialog(std::string& password, const StringTable& strings,
                                     Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_password(password), m_strings(strings), m_prompts(prompts)
{
    SetTextId(this, 5010);
    auto* grid = new QGridLayout(this);
    m_passwordLabel = new QLabel(this);
    SetTextId(m_passwordLabel, 5011);
    m_passwordEdit = PasswordBox(this);
    m_confirmLabel = new QLabel(this);
    SetTextId(m_confirmLabel, 5012);
    m_confirmEdit = PasswordBox(this);
    m_passwordLabel->setBuddy(m_passwordEdit);
    m_confirmLabel->setBuddy(m_confirmEdit);
    grid->addWidget(m_passwordLabel, 0, 0);
    grid->addWidget(m_passwordEdit, 0, 1);
    grid->addWidget(m_confirmLabel, 1, 0);
    grid->addWidget(m_confirmEdit, 1, 1);
    MakeButtons(this, m_okButton, m_cancelButton);
    grid->addLayout(ButtonRow({m_okButton, m_cancelButton}), 2, 0, 1, 2);
    setTabOrder(m_passwordEdit, m_confirmEdit);
    setTabOrder(m_confirmEdit, m_okButton);
    setTabOrder(m_okButton, m_cancelButton);
    connect(m_okButton, &QPushButton::clicked, this, [this] { onOkClicked(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { onCancelClicked(); });

    LocalizeWindow(this, strings);
    m_passwordEdit->setText(QString::fromStdString(password));
    m_confirmEdit->setText(QString::fromStdString(password));
    m_passwordEdit->setFocus();
    CentreOnScreen(this);
}

void SetPasswordDialog::onOkClicked()
{
    if (m_confirmEdit->text() != m_passwordEdit->text()) {
        m_prompts.Message(this, Tr(m_strings, 5110), kTitle);
        return;
    }
    m_password = m_passwordEdit->text().toStdString();
    accept();
}

void SetPasswordDialog::onCancelClicked()
{
    reject();
}

PasswordDialog::PasswordDialog(const StringTable& strings, QWidget* parent) : QDialog(parent)
{
    SetTextId(this, 5010);
    auto* grid = new QGridLayout(this);
    m_passwordLabel = new QLabel(this);
    SetTextId(m_passwordLabel, 5011);
    m_passwordEdit = PasswordBox(this);
    m_passwordLabel->setBuddy(m_passwordEdit);
    grid->addWidget(m_passwordLabel, 0, 0);
    grid->addWidget(m_passwordEdit, 0, 1);
    MakeButtons(this, m_okButton, m_cancelButton);
    grid->addLayout(ButtonRow({m_okButton, m_cancelButton}), 1, 0, 1, 2);
    setTabOrder(m_passwordEdit, m_okButton);
    setTabOrder(m_okButton, m_cancelButton);
    connect(m_okButton, &QPushButton::clicked, this, [this] { onOkClicked(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { onCancelClicked(); });

    LocalizeWindow(this, strings);
    m_passwordEdit->setFocus();
    CentreOnScreen(this);
}

void PasswordDialog::onOkClicked()
{
    m_enteredPassword = m_passwordEdit->text().toStdString();
    accept();
}

void PasswordDialog::onCancelClicked()
{
    m_enteredPassword.clear();
    reject();
}

bool checkPassword(const std::string& password, const StringTable& strings, Prompts& prompts,
                   QWidget* parent)
{
    if (password.empty())
        return true;
    PasswordDialog dialog(strings, parent);
    prompts.Exec(dialog);
    const std::string entered = dialog.m_enteredPassword;
    if (entered == password)
        return true;
    if (!entered.empty())
        prompts.Message(parent, Tr(strings, 5065), kTitle);
    return false;
}

}  // namespace velkon
