#include "frmPing.h"

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

#include "LoadResource.h"
#include "Prompts.h"
#include "shell/StringTable.h"
#include "tools/PingCode.h"

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

frmPing::frmPing(EchoTransport& transport, HostResolver& resolver, const int& pingTimeoutIndex,
                 const StringTable& strings, Prompts& prompts, QWidget* parent)
    : QDialog(parent),
      m_transport(transport),
      m_resolver(resolver),
      m_pingTimeoutIndex(pingTimeoutIndex),
      m_strings(strings),
      m_prompts(prompts)
{
    SetTextId(this, 5144);

    auto* top = new QGridLayout;
    Label1[0] = new QLabel(this);
    SetTextId(Label1[0], 5041);
    Text1 = new QLineEdit(this);
    SetTipId(Text1, 5122);
    Label1[0]->setBuddy(Text1);
    Label2 = new QLabel(this);
    SetTextId(Label2, 5042);
    Text2 = new QLineEdit("Testing 123", this);
    SetTipId(Text2, 5123);
    Label2->setBuddy(Text2);
    top->addWidget(Label1[0], 0, 0);
    top->addWidget(Text1, 0, 1);
    top->addWidget(Label2, 1, 0);
    top->addWidget(Text2, 1, 1);
    top->setColumnStretch(1, 1);

    Command1 = new QPushButton(this);
    SetTextId(Command1, 5049);
    Command1->setDefault(true);
    Command3 = new QPushButton(this);
    SetTextId(Command3, 5050);
    Command3->setAutoDefault(false);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Command1);
    buttons->addWidget(Command3);
    buttons->addStretch();

    Frame1 = new QGroupBox(this);
    SetTextId(Frame1, 5043);
    auto* results = new QGridLayout(Frame1);
    for (int i = 0; i < 5; ++i) {
        Label1[i + 1] = new QLabel(Frame1);
        SetTextId(Label1[i + 1], 5044 + i);
        Text4[i] = new QLineEdit(Frame1);
        Text4[i]->setReadOnly(true);
        Label1[i + 1]->setBuddy(Text4[i]);
        results->addWidget(Label1[i + 1], i, 0);
        results->addWidget(Text4[i], i, 1);
    }
    results->setColumnStretch(1, 1);

    auto* upper = new QHBoxLayout;
    upper->addLayout(top, 1);
    upper->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(upper);
    layout->addWidget(Frame1);
    setMinimumWidth(420);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });

    LocalizeWindow(this, strings);
}

void frmPing::Command1_Click()
{
    if (Text1->text().isEmpty()) {
        m_prompts.Message(this, Tr(m_strings, 5112), Tr(m_strings, 5113));
        Text1->setFocus();
        return;
    }
    // No socket library needs starting on Linux, so no start-up failure can occur here.
    for (QLineEdit* box : Text4) {
        box->clear();
    }

    EchoReply reply{};
    int status = 0;
    {
        WaitCursor wait;
        const std::string address = ResolveHostAddress(m_resolver, Text1->text().toStdString());
        status =
            SendEcho(m_transport, address, Text2->text().toStdString(), reply, m_pingTimeoutIndex);
    }

    Text4[0]->setText(QString::fromStdString(PingStatusText(status)));
    Text4[1]->setText(QString::fromStdString(SignedAddressText(reply)));
    Text4[2]->setText(QString::number(reply.RoundTripTime) + " ms");
    // The whole 32-bit slot: its reserved high half is zero, so this is the size.
    Text4[3]->setText(QString::number(reply.DataSize) + " " + Tr(m_strings, 5143));
    if (reply.Data[0] != 0) {
        Text4[4]->setText(DataReturnedText(reply));
    }
}

void frmPing::Command3_Click()
{
    reject();
}

}  // namespace velkon
