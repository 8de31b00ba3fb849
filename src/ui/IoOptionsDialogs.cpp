#include "IoOptionsDialogs.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "DialogParts.h"
#include "Localization.h"
#include "TlsOptionsBox.h"
#include "session/AllowedClients.h"
#include "session/SessionPresenter.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

// A group of three option buttons, top to bottom in index order. A value
// outside 0..2 selects none.
QGroupBox* OptionGroup(QWidget* parent, int titleId, const int (&ids)[3],
                       QRadioButton* (&buttons)[3], int selected)
{
    auto* group = new QGroupBox(parent);
    SetTextId(group, titleId);
    auto* layout = new QVBoxLayout(group);
    auto* exclusive = new QButtonGroup(group);
    for (int i = 0; i < 3; ++i) {
        buttons[i] = new QRadioButton(group);
        SetTextId(buttons[i], ids[i]);
        exclusive->addButton(buttons[i], i);
        layout->addWidget(buttons[i]);
    }
    if (selected >= 0 && selected < 3)
        buttons[selected]->setChecked(true);
    return group;
}

QCheckBox* RemoteLineControlBox(QWidget* parent, const SessionSettings& settings)
{
    auto* box = new QCheckBox(parent);
    box->setObjectName("remoteLineControlCheck");
    SetTextId(box, 5125);
    box->setChecked(settings.RemoteLineControl == 1);
    return box;
}

QWidget* AllowedClientsBlock(QWidget* parent, const SessionSettings& settings, QLineEdit*& edit,
                             QLabel*& error)
{
    auto* block = new QWidget(parent);
    block->setObjectName("allowedClientsBlock");
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(block);
    SetTextId(label, 5190);
    label->setWordWrap(true);
    edit = new QLineEdit(QString::fromStdString(settings.AllowedClients), block);
    edit->setObjectName("allowedClientsEdit");
    label->setBuddy(edit);
    error = new QLabel(block);
    error->setObjectName("allowedClientsError");
    error->setStyleSheet("color: red");
    error->hide();
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(error);
    return block;
}

}  // namespace

// ---------------------------------------------------------------- trace

namespace {

// One trace file may be 1 KiB to 4 GiB.
constexpr int kTraceMaxKiB = 4 * 1024 * 1024;

}  // namespace

TraceOptionsBox::TraceOptionsBox(const SessionSettings& settings, const StringTable& strings,
                                 QWidget* parent)
    : QGroupBox(parent), m_strings(strings)
{
    setObjectName("traceBox");
    SetTextId(this, 5261);
    auto* grid = new QGridLayout(this);
    auto* fileLabel = new QLabel(this);
    SetTextId(fileLabel, 5262);
    m_fileEdit = new QLineEdit(QString::fromStdString(settings.TraceFile), this);
    m_fileEdit->setMinimumWidth(220);
    fileLabel->setBuddy(m_fileEdit);
    m_browseButton = new QPushButton(this);
    SetTextId(m_browseButton, 5035);
    m_browseButton->setAutoDefault(false);
    m_hexCheck = new QCheckBox(this);
    SetTextId(m_hexCheck, 5263);
    m_hexCheck->setChecked(settings.TraceHex == 1);
    auto* sizeLabel = new QLabel(this);
    SetTextId(sizeLabel, 5264);
    m_maxSizeBox = new QSpinBox(this);
    m_maxSizeBox->setRange(1, kTraceMaxKiB);
    m_maxSizeBox->setValue(std::clamp(settings.TraceMaxSize, 1, kTraceMaxKiB));
    m_maxSizeBox->setSuffix(" KiB");
    sizeLabel->setBuddy(m_maxSizeBox);
    grid->addWidget(fileLabel, 0, 0);
    grid->addWidget(m_fileEdit, 0, 1);
    grid->addWidget(m_browseButton, 0, 2);
    grid->addWidget(m_hexCheck, 1, 0, 1, 3);
    grid->addWidget(sizeLabel, 2, 0);
    grid->addWidget(m_maxSizeBox, 2, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    connect(m_browseButton, &QPushButton::clicked, this, [this] { onBrowseClicked(); });
}

void TraceOptionsBox::Store(SessionSettings& settings) const
{
    settings.TraceFile = m_fileEdit->text().trimmed().toStdString();
    settings.TraceHex = m_hexCheck->isChecked() ? 1 : 0;
    settings.TraceMaxSize = m_maxSizeBox->value();
}

void TraceOptionsBox::onBrowseClicked()
{
    // The trace is appended to: choosing a file that exists is no question.
    const QString chosen =
        QFileDialog::getSaveFileName(this, title(), m_fileEdit->text(), Tr(m_strings, 5265),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty())
        m_fileEdit->setText(chosen);
}

ServerOptionsDialog::ServerOptionsDialog(SessionSettings& settings, const StringTable& strings,
                                         QWidget* parent)
    : QDialog(parent), m_settings(settings), m_strings(strings)
{
    SetTextId(this, 5019);
    auto* layout = new QVBoxLayout(this);
    m_multipleClientsCheck = new QCheckBox(this);
    SetTextId(m_multipleClientsCheck, 5020);
    layout->addWidget(m_multipleClientsCheck);
    layout->addWidget(OptionGroup(this, 5025, {5026, 5027, 5028}, m_serialDataRadios,
                                  settings.ServerSerialOptions));
    layout->addWidget(OptionGroup(this, 5021, {5022, 5023, 5024}, m_networkDataRadios,
                                  settings.ServerTCPOptions));
    m_remoteLineControlCheck = RemoteLineControlBox(this, settings);
    layout->addWidget(m_remoteLineControlCheck);
    layout->addWidget(
        AllowedClientsBlock(this, settings, m_allowedClientsEdit, m_allowedClientsError));
    m_tlsBox = new TlsOptionsBox(settings, strings, this);
    layout->addWidget(m_tlsBox);
    m_traceBox = new TraceOptionsBox(settings, strings, this);
    layout->addWidget(m_traceBox);
    MakeOkCancel(this, m_okButton, m_cancelButton);
    layout->addLayout(ButtonRow({m_okButton, m_cancelButton}));
    m_multipleClientsCheck->setChecked(settings.AllowMultiConnect != 0);
    connect(m_okButton, &QPushButton::clicked, this, [this] { onOkClicked(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { onCancelClicked(); });
    LocalizeWindow(this, strings);
}

void ServerOptionsDialog::onOkClicked()
{
    const std::string allowed = m_allowedClientsEdit->text().trimmed().toStdString();
    const AllowedClients::Parsed parsed = AllowedClients::Parse(allowed);
    if (!parsed.ok) {
        m_allowedClientsError->setText(QString::fromStdString(
            m_strings.Text(text::kNotAnAllowedClient) + " " + parsed.wrongEntry));
        m_allowedClientsError->show();
        m_allowedClientsEdit->setFocus();
        return;
    }
    m_settings.AllowedClients = allowed;
    m_settings.AllowMultiConnect = m_multipleClientsCheck->isChecked() ? 1 : 0;
    m_settings.RemoteLineControl = m_remoteLineControlCheck->isChecked() ? 1 : 0;
    m_tlsBox->Store(m_settings);
    for (int i = 0; i < 3; ++i) {
        if (m_networkDataRadios[i]->isChecked())
            m_settings.ServerTCPOptions = static_cast<std::int16_t>(i);
        if (m_serialDataRadios[i]->isChecked()) {
            m_settings.ServerSerialOptions = static_cast<std::int16_t>(i);
        }
    }
    m_traceBox->Store(m_settings);
    accept();
}

void ServerOptionsDialog::onCancelClicked()
{
    reject();
}

ClientOptionsDialog::ClientOptionsDialog(SessionSettings& settings, const StringTable& strings,
                                         QWidget* parent)
    : QDialog(parent), m_settings(settings)
{
    SetTextId(this, 5013);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        OptionGroup(this, 5014, {5015, 5016, 5017}, m_twoWayRadios, settings.ClientOptions));
    m_connectOnVirtualOpenCheck = new QCheckBox(this);
    SetTextId(m_connectOnVirtualOpenCheck, 5018);
    m_connectOnVirtualOpenCheck->setChecked(settings.ConnectOnVirtualOpen != 0);
    layout->addWidget(m_connectOnVirtualOpenCheck);
    m_remoteLineControlCheck = RemoteLineControlBox(this, settings);
    layout->addWidget(m_remoteLineControlCheck);
    m_tlsBox = new TlsOptionsBox(settings, strings, this);
    layout->addWidget(m_tlsBox);
    m_traceBox = new TraceOptionsBox(settings, strings, this);
    layout->addWidget(m_traceBox);
    MakeOkCancel(this, m_okButton, m_cancelButton);
    layout->addLayout(ButtonRow({m_okButton, m_cancelButton}));
    connect(m_okButton, &QPushButton::clicked, this, [this] { onOkClicked(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { onCancelClicked(); });
    LocalizeWindow(this, strings);
}

void ClientOptionsDialog::onOkClicked()
{
    for (int i = 0; i < 3; ++i) {
        if (m_twoWayRadios[i]->isChecked())
            m_settings.ClientOptions = static_cast<std::int16_t>(i);
    }
    m_settings.ConnectOnVirtualOpen = m_connectOnVirtualOpenCheck->isChecked() ? 1 : 0;
    m_settings.RemoteLineControl = m_remoteLineControlCheck->isChecked() ? 1 : 0;
    m_tlsBox->Store(m_settings);
    m_traceBox->Store(m_settings);
    accept();
}

void ClientOptionsDialog::onCancelClicked()
{
    reject();
}

LoginOptionsDialog::LoginOptionsDialog(SessionSettings& settings, const StringTable& strings,
                                       QWidget* parent)
    : QDialog(parent), m_settings(settings)
{
    SetTextId(this, 5135);
    auto* grid = new QGridLayout(this);
    auto add = [&](int textId, QLineEdit*& box, const std::string& value, int row, int col) {
        auto* label = new QLabel(this);
        SetTextId(label, textId);
        grid->addWidget(label, row, col);
        box = new QLineEdit(QString::fromStdString(value), this);
        grid->addWidget(box, row + 1, col);
    };
    add(5136, m_userPromptEdit, settings.UserPrompt, 0, 0);
    add(5137, m_userResponseEdit, settings.UserPromptResponse, 2, 0);
    add(5138, m_passwordPromptEdit, settings.PasswordPrompt, 0, 1);
    add(5139, m_passwordResponseEdit, settings.PasswordPromptResponse, 2, 1);
    m_okButton = new QPushButton(this);
    SetTextId(m_okButton, 1207);
    m_cancelButton = new QPushButton(this);
    SetTextId(m_cancelButton, 1208);
    // Neither button answers Enter or Escape on its own.
    m_okButton->setAutoDefault(false);
    m_cancelButton->setAutoDefault(false);
    grid->addLayout(ButtonRow({m_okButton, m_cancelButton}), 4, 0, 1, 2);
    setTabOrder(m_userPromptEdit, m_userResponseEdit);
    setTabOrder(m_userResponseEdit, m_passwordPromptEdit);
    setTabOrder(m_passwordPromptEdit, m_passwordResponseEdit);
    setTabOrder(m_passwordResponseEdit, m_okButton);
    setTabOrder(m_okButton, m_cancelButton);
    connect(m_okButton, &QPushButton::clicked, this, [this] { onOkClicked(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { onCancelClicked(); });
    LocalizeWindow(this, strings);
}

void LoginOptionsDialog::onOkClicked()
{
    m_settings.UserPrompt = m_userPromptEdit->text().toStdString();
    m_settings.UserPromptResponse = m_userResponseEdit->text().toStdString();
    m_settings.PasswordPrompt = m_passwordPromptEdit->text().toStdString();
    m_settings.PasswordPromptResponse = m_passwordResponseEdit->text().toStdString();
    accept();
}

void LoginOptionsDialog::onCancelClicked()
{
    reject();
}

}  // namespace velkon
