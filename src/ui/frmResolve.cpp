#include "frmResolve.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

#include "DialogParts.h"
#include "LoadResource.h"
#include "Prompts.h"
#include "shell/StringTable.h"
#include "tools/PingCode.h"

namespace velkon {

namespace {

constexpr const char* kApplicationTitle = "Velkon";

}  // namespace

frmResolve::frmResolve(HostResolver& resolver, const StringTable& strings, Prompts& prompts,
                       QWidget* parent)
    : QDialog(parent), m_resolver(resolver), m_strings(strings), m_prompts(prompts)
{
    SetTextId(this, 5051);

    auto* fields = new QGridLayout;
    Label1 = new QLabel(this);
    SetTextId(Label1, 5052);
    txtHostName = new QLineEdit(this);
    SetTipId(txtHostName, 5124);
    Label1->setBuddy(txtHostName);
    Label2 = new QLabel(this);
    SetTextId(Label2, 5053);
    txtIPAddress = new QLineEdit(this);
    // A result to read or copy, not an input.
    txtIPAddress->setReadOnly(true);
    Label2->setBuddy(txtIPAddress);
    fields->addWidget(Label1, 0, 0);
    fields->addWidget(txtHostName, 0, 1);
    fields->addWidget(Label2, 1, 0);
    fields->addWidget(txtIPAddress, 1, 1);
    fields->setColumnStretch(1, 1);

    Command1 = new QPushButton(this);
    SetTextId(Command1, 5055);
    Command1->setDefault(true);
    Command3 = new QPushButton(this);
    SetTextId(Command3, 5054);
    Command3->setAutoDefault(false);
    // There is no help to show; the button exists but is never shown.
    Command3->setVisible(false);
    Command4 = new QPushButton(this);
    SetTextId(Command4, 5056);
    Command4->setAutoDefault(false);
    QHBoxLayout* buttons = ButtonRow({Command1, Command3, Command4});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });

    LocalizeWindow(this, strings);
}

void frmResolve::Command1_Click()
{
    // The name goes to the lookup as typed, empty or not.
    const QString name = txtHostName->text();
    // The lookup blocks the window; say so with the cursor.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string address = ResolveHostAddress(m_resolver, name.toStdString());
    QGuiApplication::restoreOverrideCursor();
    if (!address.empty()) {
        txtIPAddress->setText(QString::fromStdString(address));
        return;
    }
    m_prompts.Message(this, Tr(m_strings, 5115) + " " + name, kApplicationTitle);
}

void frmResolve::Command3_Click() {}

void frmResolve::Command4_Click()
{
    reject();
}

}  // namespace velkon
