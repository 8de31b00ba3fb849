#include "PasswordDialogs.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "DialogParts.h"
#include "LoadResource.h"
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

Form1::Form1(std::string& password, const StringTable& strings, Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_password(password), m_strings(strings), m_prompts(prompts)
{
    SetTextId(this, 5010);
    auto* grid = new QGridLayout(this);
    Label1 = new QLabel(this);
    SetTextId(Label1, 5011);
    Text1 = PasswordBox(this);
    Label2 = new QLabel(this);
    SetTextId(Label2, 5012);
    Text2 = PasswordBox(this);
    Label1->setBuddy(Text1);
    Label2->setBuddy(Text2);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Text1, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(Text2, 1, 1);
    MakeButtons(this, Command1, Command2);
    grid->addLayout(ButtonRow({Command1, Command2}), 2, 0, 1, 2);
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Command1);
    setTabOrder(Command1, Command2);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });

    LocalizeWindow(this, strings);
    Text1->setText(QString::fromStdString(password));
    Text2->setText(QString::fromStdString(password));
    Text1->setFocus();
    CentreOnScreen(this);
}

void Form1::Command1_Click()
{
    if (Text2->text() != Text1->text()) {
        m_prompts.Message(this, Tr(m_strings, 5110), kTitle);
        return;
    }
    m_password = Text1->text().toStdString();
    accept();
}

void Form1::Command2_Click()
{
    reject();
}

Form2::Form2(const StringTable& strings, QWidget* parent) : QDialog(parent)
{
    SetTextId(this, 5010);
    auto* grid = new QGridLayout(this);
    Label1 = new QLabel(this);
    SetTextId(Label1, 5011);
    Text1 = PasswordBox(this);
    Label1->setBuddy(Text1);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Text1, 0, 1);
    MakeButtons(this, Command1, Command2);
    grid->addLayout(ButtonRow({Command1, Command2}), 1, 0, 1, 2);
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });

    LocalizeWindow(this, strings);
    Text1->setFocus();
    CentreOnScreen(this);
}

void Form2::Command1_Click()
{
    EnteredPassword = Text1->text().toStdString();
    accept();
}

void Form2::Command2_Click()
{
    EnteredPassword.clear();
    reject();
}

bool CheckPassword(const std::string& password, const StringTable& strings, Prompts& prompts,
                   QWidget* parent)
{
    if (password.empty())
        return true;
    Form2 dialog(strings, parent);
    prompts.Exec(dialog);
    const std::string entered = dialog.EnteredPassword;
    if (entered == password)
        return true;
    if (!entered.empty())
        prompts.Message(parent, Tr(strings, 5065), kTitle);
    return false;
}

}  // namespace velkon
