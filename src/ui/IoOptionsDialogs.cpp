#include "IoOptionsDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "DialogParts.h"
#include "LoadResource.h"
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
    box->setObjectName("chkRemoteLineControl");
    SetTextId(box, 5125);
    box->setChecked(settings.RemoteLineControl == 1);
    return box;
}

}  // namespace

frmServerOptions::frmServerOptions(SessionSettings& settings, const StringTable& strings,
                                   QWidget* parent)
    : QDialog(parent), m_settings(settings)
{
    SetTextId(this, 5019);
    auto* layout = new QVBoxLayout(this);
    chkMultiClients = new QCheckBox(this);
    SetTextId(chkMultiClients, 5020);
    layout->addWidget(chkMultiClients);
    layout->addWidget(
        OptionGroup(this, 5025, {5026, 5027, 5028}, OptionSerial, settings.ServerSerialOptions));
    layout->addWidget(
        OptionGroup(this, 5021, {5022, 5023, 5024}, OptionTCP, settings.ServerTCPOptions));
    chkRemoteLineControl = RemoteLineControlBox(this, settings);
    layout->addWidget(chkRemoteLineControl);
    MakeOkCancel(this, Command1, Command2);
    layout->addLayout(ButtonRow({Command1, Command2}));
    chkMultiClients->setChecked(settings.AllowMultiConnect != 0);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    LocalizeWindow(this, strings);
}

void frmServerOptions::Command1_Click()
{
    m_settings.AllowMultiConnect = chkMultiClients->isChecked() ? 1 : 0;
    m_settings.RemoteLineControl = chkRemoteLineControl->isChecked() ? 1 : 0;
    for (int i = 0; i < 3; ++i) {
        if (OptionTCP[i]->isChecked())
            m_settings.ServerTCPOptions = static_cast<std::int16_t>(i);
        if (OptionSerial[i]->isChecked()) {
            m_settings.ServerSerialOptions = static_cast<std::int16_t>(i);
        }
    }
    accept();
}

void frmServerOptions::Command2_Click()
{
    reject();
}

frmClientOptions::frmClientOptions(SessionSettings& settings, const StringTable& strings,
                                   QWidget* parent)
    : QDialog(parent), m_settings(settings)
{
    SetTextId(this, 5013);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(OptionGroup(this, 5014, {5015, 5016, 5017}, Option1, settings.ClientOptions));
    chkConnectOnVirtualPort = new QCheckBox(this);
    SetTextId(chkConnectOnVirtualPort, 5018);
    chkConnectOnVirtualPort->setChecked(settings.ConnectOnVirtualOpen != 0);
    layout->addWidget(chkConnectOnVirtualPort);
    chkRemoteLineControl = RemoteLineControlBox(this, settings);
    layout->addWidget(chkRemoteLineControl);
    MakeOkCancel(this, Command1, Command2);
    layout->addLayout(ButtonRow({Command1, Command2}));
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    LocalizeWindow(this, strings);
}

void frmClientOptions::Command1_Click()
{
    for (int i = 0; i < 3; ++i) {
        if (Option1[i]->isChecked())
            m_settings.ClientOptions = static_cast<std::int16_t>(i);
    }
    m_settings.ConnectOnVirtualOpen = chkConnectOnVirtualPort->isChecked() ? 1 : 0;
    m_settings.RemoteLineControl = chkRemoteLineControl->isChecked() ? 1 : 0;
    accept();
}

void frmClientOptions::Command2_Click()
{
    reject();
}

frmLogin::frmLogin(SessionSettings& settings,
                   const StringTable& strings, QWidget* parent)
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
    add(5136, txtUserPrompt, settings.UserPrompt, 0, 0);
    add(5137, txtUserPromptResponse, settings.UserPromptResponse, 2, 0);
    add(5138, txtPasswordPrompt, settings.PasswordPrompt, 0, 1);
    add(5139, txtPasswordPromptResponse, settings.PasswordPromptResponse, 2, 1);
    btnOK = new QPushButton(this);
    SetTextId(btnOK, 1207);
    btnCancel = new QPushButton(this);
    SetTextId(btnCancel, 1208);
    // Neither button answers Enter or Escape on its own.
    btnOK->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    grid->addLayout(ButtonRow({btnOK, btnCancel}), 4, 0, 1, 2);
    setTabOrder(txtUserPrompt, txtUserPromptResponse);
    setTabOrder(txtUserPromptResponse, txtPasswordPrompt);
    setTabOrder(txtPasswordPrompt, txtPasswordPromptResponse);
    setTabOrder(txtPasswordPromptResponse, btnOK);
    setTabOrder(btnOK, btnCancel);
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOK_Click(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancel_Click(); });
    LocalizeWindow(this, strings);
}

void frmLogin::btnOK_Click()
{
    m_settings.UserPrompt = txtUserPrompt->text().toStdString();
    m_settings.UserPromptResponse = txtUserPromptResponse->text().toStdString();
    m_settings.PasswordPrompt = txtPasswordPrompt->text().toStdString();
    m_settings.PasswordPromptResponse = txtPasswordPromptResponse->text().toStdString();
    accept();
}

void frmLogin::btnCancel_Click()
{
    reject();
}

}  // namespace velkon
