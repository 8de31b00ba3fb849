#include "OptionsDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "DialogParts.h"
#include "Localization.h"
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

OptionsDialog::OptionsDialog(GlobalSettings& settings, const StringTable& strings, Prompts& prompts,
                             QWidget* parent)
    : QDialog(parent), m_settings(settings), m_strings(strings), m_prompts(prompts)
{
    SetTextId(this, 5029);
    auto* layout = new QVBoxLayout(this);

    auto* sizeRow = new QHBoxLayout;
    m_packetSizeLabel = new QLabel(this);
    SetTextId(m_packetSizeLabel, 5030);
    m_packetSizeBox = new QComboBox(this);
    m_packetSizeBox->setEditable(true);
    // Typed text stays as typed: no completion from the list ("1" must not
    // become "100") and Enter adds nothing to the list.
    m_packetSizeBox->setCompleter(nullptr);
    m_packetSizeBox->setInsertPolicy(QComboBox::NoInsert);
    m_packetSizeLabel->setBuddy(m_packetSizeBox);
    sizeRow->addWidget(m_packetSizeLabel);
    sizeRow->addWidget(m_packetSizeBox);
    sizeRow->addStretch();
    layout->addLayout(sizeRow);

    m_logErrorsCheck = new QCheckBox(this);
    SetTextId(m_logErrorsCheck, 5032);
    layout->addWidget(m_logErrorsCheck);

    m_errorProgramGroup = new QGroupBox(this);
    SetTextId(m_errorProgramGroup, 5033);
    auto* runRow = new QHBoxLayout(m_errorProgramGroup);
    m_errorProgramLabel = new QLabel(m_errorProgramGroup);
    SetTextId(m_errorProgramLabel, 5034);
    m_errorProgramEdit = new QLineEdit(m_errorProgramGroup);
    m_errorProgramEdit->setMinimumWidth(220);
    m_errorProgramLabel->setBuddy(m_errorProgramEdit);
    m_browseButton = new QPushButton(m_errorProgramGroup);
    SetTextId(m_browseButton, 5035);
    m_browseButton->setAutoDefault(false);
    runRow->addWidget(m_errorProgramLabel);
    runRow->addWidget(m_errorProgramEdit, 1);
    runRow->addWidget(m_browseButton);
    layout->addWidget(m_errorProgramGroup);

    m_pingGroup = new QGroupBox(this);
    SetTextId(m_pingGroup, 5036);
    auto* pingGrid = new QGridLayout(m_pingGroup);
    m_pingCheck = new QCheckBox(m_pingGroup);
    SetTextId(m_pingCheck, 5037);
    m_pingFrequencyLabel = new QLabel(m_pingGroup);
    SetTextId(m_pingFrequencyLabel, 5038);
    m_pingFrequencyBox = new QComboBox(m_pingGroup);
    m_pingFrequencyLabel->setBuddy(m_pingFrequencyBox);
    m_pingTimeoutLabel = new QLabel(m_pingGroup);
    SetTextId(m_pingTimeoutLabel, 5039);
    m_pingTimeoutBox = new QComboBox(m_pingGroup);
    m_pingTimeoutLabel->setBuddy(m_pingTimeoutBox);
    pingGrid->addWidget(m_pingCheck, 0, 0, 1, 2);
    pingGrid->addWidget(m_pingFrequencyLabel, 1, 0);
    pingGrid->addWidget(m_pingFrequencyBox, 1, 1);
    pingGrid->addWidget(m_pingTimeoutLabel, 2, 0);
    pingGrid->addWidget(m_pingTimeoutBox, 2, 1);
    pingGrid->setColumnStretch(2, 1);
    layout->addWidget(m_pingGroup);

    m_startAtLogonCheck = new QCheckBox(this);
    SetTextId(m_startAtLogonCheck, 5031);
    layout->addWidget(m_startAtLogonCheck);

    auto* metricsRow = new QHBoxLayout;
    auto* metricsLabel = new QLabel(this);
    SetTextId(metricsLabel, 5266);
    m_metricsPortBox = new QSpinBox(this);
    m_metricsPortBox->setRange(0, 65535);
    metricsLabel->setBuddy(m_metricsPortBox);
    metricsRow->addWidget(metricsLabel);
    metricsRow->addWidget(m_metricsPortBox);
    metricsRow->addStretch();
    layout->addLayout(metricsRow);

    MakeOkCancel(this, m_okButton, m_cancelButton);
    m_cancelButton->setAutoDefault(false);
    layout->addLayout(ButtonRow({m_okButton, m_cancelButton}));

    connect(m_browseButton, &QPushButton::clicked, this, [this] { onBrowseClicked(); });
    connect(m_okButton, &QPushButton::clicked, this, [this] { onOkClicked(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { onCancelClicked(); });

    LocalizeWindow(this, strings);

    m_errorProgramEdit->setText(QString::fromStdString(settings.OnErrorRunApp));
    m_logErrorsCheck->setChecked(settings.LogErrors != 0);
    for (int size : {50, 100, 200, 500, 1000, 2000, 4000})
        m_packetSizeBox->addItem(QString::number(size));
    // Shown as stored, also when it is not one of the list's sizes.
    m_packetSizeBox->setEditText(QString::number(settings.PacketSize));
    for (int k = 1; k <= 12; ++k)
        m_pingFrequencyBox->addItem(QString::number(k * 5) + " " + Tr(strings, 5142));
    SelectOrNone(m_pingFrequencyBox, settings.PingFrequency);
    for (int k = 1; k <= 20; ++k)
        m_pingTimeoutBox->addItem(QString::number(k * 100) + " ms");
    SelectOrNone(m_pingTimeoutBox, settings.PingTimeout);
    m_pingCheck->setChecked(settings.PingEnabled != 0);
    m_startAtLogonCheck->setChecked(settings.LoadWithWindows != 0);
    m_metricsPortBox->setValue(std::clamp(settings.MetricsPort, 0, 65535));
}

void OptionsDialog::onBrowseClicked()
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
    m_errorProgramEdit->setText(shown);
}

void OptionsDialog::onOkClicked()
{
    GlobalSettings& g = m_settings;
    g.OnErrorRunApp = m_errorProgramEdit->text().toStdString();
    g.LogErrors = StateOf(m_logErrorsCheck);
    int size = LeadingWholeNumber(m_packetSizeBox->currentText().toStdString());
    if (size < 1 || size > kPacketSizeMax)
        size = kPacketSizeFallback;
    g.PacketSize = size;
    g.PingEnabled = StateOf(m_pingCheck);
    // No selection keeps the stored number (see the class comment).
    if (m_pingFrequencyBox->currentIndex() >= 0)
        g.PingFrequency = m_pingFrequencyBox->currentIndex();
    if (m_pingTimeoutBox->currentIndex() >= 0)
        g.PingTimeout = m_pingTimeoutBox->currentIndex();
    g.LoadWithWindows = StateOf(m_startAtLogonCheck);
    g.MetricsPort = m_metricsPortBox->value();
    accept();
}

void OptionsDialog::onCancelClicked()
{
    reject();
}

}  // namespace velkon
