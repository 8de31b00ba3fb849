#include "frmOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "DialogParts.h"
#include "LoadResource.h"
#include "Prompts.h"
#include "session/Numbers.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

constexpr int kPacketSizeFallback = 2000;
constexpr int kPacketSizeMax = 10000;

// Selects entry `index`, or none when the list has no such entry.
void SelectOrNone(QComboBox* box, int index)
{
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

int StateOf(const QCheckBox* box)
{
    return box->isChecked() ? 1 : 0;
}

}  // namespace

frmOptions::frmOptions(GlobalSettings& settings, const StringTable& strings, Prompts& prompts,
                       QWidget* parent)
    : QDialog(parent), m_settings(settings), m_strings(strings), m_prompts(prompts)
{
    SetTextId(this, 5029);
    auto* layout = new QVBoxLayout(this);

    auto* sizeRow = new QHBoxLayout;
    Label2 = new QLabel(this);
    SetTextId(Label2, 5030);
    Combo1 = new QComboBox(this);
    Combo1->setEditable(true);
    // Typed text stays as typed: no completion from the list ("1" must not
    // become "100") and Enter adds nothing to the list.
    Combo1->setCompleter(nullptr);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Label2->setBuddy(Combo1);
    sizeRow->addWidget(Label2);
    sizeRow->addWidget(Combo1);
    sizeRow->addStretch();
    layout->addLayout(sizeRow);

    Check1 = new QCheckBox(this);
    SetTextId(Check1, 5032);
    layout->addWidget(Check1);

    Frame1 = new QGroupBox(this);
    SetTextId(Frame1, 5033);
    auto* runRow = new QHBoxLayout(Frame1);
    Label1 = new QLabel(Frame1);
    SetTextId(Label1, 5034);
    Text1 = new QLineEdit(Frame1);
    Text1->setMinimumWidth(220);
    Label1->setBuddy(Text1);
    Command1 = new QPushButton(Frame1);
    SetTextId(Command1, 5035);
    Command1->setAutoDefault(false);
    runRow->addWidget(Label1);
    runRow->addWidget(Text1, 1);
    runRow->addWidget(Command1);
    layout->addWidget(Frame1);

    Frame2 = new QGroupBox(this);
    SetTextId(Frame2, 5036);
    auto* pingGrid = new QGridLayout(Frame2);
    Check2 = new QCheckBox(Frame2);
    SetTextId(Check2, 5037);
    Label3 = new QLabel(Frame2);
    SetTextId(Label3, 5038);
    Combo2 = new QComboBox(Frame2);
    Label3->setBuddy(Combo2);
    Label4 = new QLabel(Frame2);
    SetTextId(Label4, 5039);
    Combo3 = new QComboBox(Frame2);
    Label4->setBuddy(Combo3);
    pingGrid->addWidget(Check2, 0, 0, 1, 2);
    pingGrid->addWidget(Label3, 1, 0);
    pingGrid->addWidget(Combo2, 1, 1);
    pingGrid->addWidget(Label4, 2, 0);
    pingGrid->addWidget(Combo3, 2, 1);
    pingGrid->setColumnStretch(2, 1);
    layout->addWidget(Frame2);

    chkLoadWithWindows = new QCheckBox(this);
    SetTextId(chkLoadWithWindows, 5031);
    layout->addWidget(chkLoadWithWindows);

    MakeOkCancel(this, Command2, Command3);
    Command3->setAutoDefault(false);
    layout->addLayout(ButtonRow({Command2, Command3}));

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });

    LocalizeWindow(this, strings);

    Text1->setText(QString::fromStdString(settings.OnErrorRunApp));
    Check1->setChecked(settings.LogErrors != 0);
    for (int size : {50, 100, 200, 500, 1000, 2000, 4000})
        Combo1->addItem(QString::number(size));
    // Shown as stored, also when it is not one of the list's sizes.
    Combo1->setEditText(QString::number(settings.PacketSize));
    for (int k = 1; k <= 12; ++k)
        Combo2->addItem(QString::number(k * 5) + " " + Tr(strings, 5142));
    SelectOrNone(Combo2, settings.PingFrequency);
    for (int k = 1; k <= 20; ++k)
        Combo3->addItem(QString::number(k * 100) + " ms");
    SelectOrNone(Combo3, settings.PingTimeout);
    Check2->setChecked(settings.PingEnabled != 0);
    chkLoadWithWindows->setChecked(settings.LoadWithWindows != 0);
}

void frmOptions::Command1_Click()
{
    // Linux programs have no file extension: the first entry shows every file.
    const QString chosen = m_prompts.OpenFile(this, Tr(m_strings, 5147));
    if (!chosen.isEmpty())
        m_fileName = chosen;
    if (m_fileName.isEmpty())
        return;
    // The command line is split into words when it runs: a path with blanks
    // is one word only in quotes.
    QString shown = m_fileName;
    if (shown.contains(' ')) {
        shown.replace('\\', "\\\\").replace('"', "\\\"");
        shown = '"' + shown + '"';
    }
    Text1->setText(shown);
}

void frmOptions::Command2_Click()
{
    GlobalSettings& g = m_settings;
    g.OnErrorRunApp = Text1->text().toStdString();
    g.LogErrors = StateOf(Check1);
    int size = LeadingWholeNumber(Combo1->currentText().toStdString());
    if (size < 1 || size > kPacketSizeMax)
        size = kPacketSizeFallback;
    g.PacketSize = size;
    g.PingEnabled = StateOf(Check2);
    // No selection keeps the stored number (see the class comment).
    if (Combo2->currentIndex() >= 0)
        g.PingFrequency = Combo2->currentIndex();
    if (Combo3->currentIndex() >= 0)
        g.PingTimeout = Combo3->currentIndex();
    g.LoadWithWindows = StateOf(chkLoadWithWindows);
    accept();
}

void frmOptions::Command3_Click()
{
    reject();
}

}  // namespace velkon
