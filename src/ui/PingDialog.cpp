#include "PingDialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>
#include <string>

#include "Localization.h"
#include "Prompts.h"
#include "shell/StringTable.h"
#include "tools/PingEngine.h"

namespace velkon {

namespace {

// The echoed data up to its first NUL byte. A data area without any NUL is
// shown whole (all 250 bytes) rather than read past its end.
QString DataReturnedText(const EchoReply& reply)
{
    const void* nul = std::memchr(reply.Data, '\0', kEchoDataCapacity);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - reply.Data)
            : kEchoDataCapacity;
    return QString::fromUtf8(reinterpret_cast<const char*>(reply.Data),
                             static_cast<qsizetype>(length));
}

// The window does not answer while the echo blocks; say so with the cursor.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

PingDialog::PingDialog(EchoTransport& transport, HostResolver& resolver,
                       const int& pingTimeoutIndex, const StringTable& strings, Prompts& prompts,
                       QWidget* parent)
    : QDialog(parent),
      m_transport(transport),
      m_resolver(resolver),
      m_pingTimeoutIndex(pingTimeoutIndex),
      m_strings(strings),
      m_prompts(prompts)
{
    SetTextId(this, 5144);

    auto* top = new QGridLayout;
    m_addressLabel = new QLabel(this);
    SetTextId(m_addressLabel, 5041);
    m_addressEdit = new QLineEdit(this);
    SetTipId(m_addressEdit, 5122);
    m_addressLabel->setBuddy(m_addressEdit);
    m_dataLabel = new QLabel(this);
    SetTextId(m_dataLabel, 5042);
    m_dataEdit = new QLineEdit("Testing 123", this);
    SetTipId(m_dataEdit, 5123);
    m_dataLabel->setBuddy(m_dataEdit);
    top->addWidget(m_addressLabel, 0, 0);
    top->addWidget(m_addressEdit, 0, 1);
    top->addWidget(m_dataLabel, 1, 0);
    top->addWidget(m_dataEdit, 1, 1);
    top->setColumnStretch(1, 1);

    m_pingButton = new QPushButton(this);
    SetTextId(m_pingButton, 5049);
    m_pingButton->setDefault(true);
    m_cancelButton = new QPushButton(this);
    SetTextId(m_cancelButton, 5050);
    m_cancelButton->setAutoDefault(false);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_pingButton);
    buttons->addWidget(m_cancelButton);
    buttons->addStretch();

    m_replyGroup = new QGroupBox(this);
    SetTextId(m_replyGroup, 5043);
    auto* results = new QGridLayout(m_replyGroup);
    for (int i = 0; i < 5; ++i) {
        m_replyLabels[i] = new QLabel(m_replyGroup);
        SetTextId(m_replyLabels[i], 5044 + i);
        m_replyFields[i] = new QLineEdit(m_replyGroup);
        m_replyFields[i]->setReadOnly(true);
        m_replyLabels[i]->setBuddy(m_replyFields[i]);
        results->addWidget(m_replyLabels[i], i, 0);
        results->addWidget(m_replyFields[i], i, 1);
    }
    results->setColumnStretch(1, 1);

    auto* upper = new QHBoxLayout;
    upper->addLayout(top, 1);
    upper->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(upper);
    layout->addWidget(m_replyGroup);
    setMinimumWidth(420);

    connect(m_pingButton, &QPushButton::clicked, this, [this] { onPingClicked(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { onCancelClicked(); });

    LocalizeWindow(this, strings);
}

void PingDialog::onPingClicked()
{
    if (m_addressEdit->text().isEmpty()) {
        m_prompts.Message(this, Tr(m_strings, 5112), Tr(m_strings, 5113));
        m_addressEdit->setFocus();
        return;
    }
    // No socket library needs starting on Linux, so no start-up failure can occur here.
    for (QLineEdit* box : m_replyFields) {
        box->clear();
    }

    EchoReply reply{};
    int status = 0;
    {
        WaitCursor wait;
        const std::string address =
            ResolveHostAddress(m_resolver, m_addressEdit->text().toStdString());
        status = SendEcho(m_transport, address, m_dataEdit->text().toStdString(), reply,
                          m_pingTimeoutIndex);
    }

    m_replyFields[0]->setText(QString::fromStdString(PingStatusText(status)));
    m_replyFields[1]->setText(QString::fromStdString(SignedAddressText(reply)));
    m_replyFields[2]->setText(QString::number(reply.RoundTripTime) + " ms");
    // The whole 32-bit slot: its reserved high half is zero, so this is the size.
    m_replyFields[3]->setText(QString::number(reply.DataSize) + " " + Tr(m_strings, 5143));
    if (reply.Data[0] != 0) {
        m_replyFields[4]->setText(DataReturnedText(reply));
    }
}

void PingDialog::onCancelClicked()
{
    reject();
}

}  // namespace velkon
