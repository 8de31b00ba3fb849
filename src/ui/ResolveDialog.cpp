#include "ResolveDialog.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

#include "DialogParts.h"
#include "Localization.h"
#include "Prompts.h"
#include "shell/StringTable.h"
#include "tools/PingEngine.h"

namespace velkon {

namespace {

constexpr const char* kApplicationTitle = "Velkon";

}  // namespace

ResolveDialog::ResolveDialog(HostResolver& resolver, const StringTable& strings, Prompts& prompts,
                             QWidget* parent)
    : QDialog(parent), m_resolver(resolver), m_strings(strings), m_prompts(prompts)
{
    SetTextId(this, 5051);

    auto* fields = new QGridLayout;
    m_hostNameLabel = new QLabel(this);
    SetTextId(m_hostNameLabel, 5052);
    m_hostNameEdit = new QLineEdit(this);
    SetTipId(m_hostNameEdit, 5124);
    m_hostNameLabel->setBuddy(m_hostNameEdit);
    m_addressLabel = new QLabel(this);
    SetTextId(m_addressLabel, 5053);
    m_addressEdit = new QLineEdit(this);
    // A result to read or copy, not an input.
    m_addressEdit->setReadOnly(true);
    m_addressLabel->setBuddy(m_addressEdit);
    fields->addWidget(m_hostNameLabel, 0, 0);
    fields->addWidget(m_hostNameEdit, 0, 1);
    fields->addWidget(m_addressLabel, 1, 0);
    fields->addWidget(m_addressEdit, 1, 1);
    fields->setColumnStretch(1, 1);

    m_resolveButton = new QPushButton(this);
    SetTextId(m_resolveButton, 5055);
    m_resolveButton->setDefault(true);
    m_helpButton = new QPushButton(this);
    SetTextId(m_helpButton, 5054);
    m_helpButton->setAutoDefault(false);
    // There is no help to show; the button exists but is never shown.
    m_helpButton->setVisible(false);
    m_cancelButton = new QPushButton(this);
    SetTextId(m_cancelButton, 5056);
    m_cancelButton->setAutoDefault(false);
    QHBoxLayout* buttons = ButtonRow({m_resolveButton, m_helpButton, m_cancelButton});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(m_resolveButton, &QPushButton::clicked, this, [this] { onResolveClicked(); });
    connect(m_helpButton, &QPushButton::clicked, this, [this] { onHelpClicked(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { onCancelClicked(); });

    LocalizeWindow(this, strings);
}

void ResolveDialog::onResolveClicked()
{
    // The name goes to the lookup as typed, empty or not.
    const QString name = m_hostNameEdit->text();
    // The lookup blocks the window; say so with the cursor.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string address = ResolveHostAddress(m_resolver, name.toStdString());
    QGuiApplication::restoreOverrideCursor();
    if (!address.empty()) {
        m_addressEdit->setText(QString::fromStdString(address));
        return;
    }
    m_prompts.Message(this, Tr(m_strings, 5115) + " " + name, kApplicationTitle);
}

void ResolveDialog::onHelpClicked() {}

void ResolveDialog::onCancelClicked()
{
    reject();
}

}  // namespace velkon
