#include "frmDocument.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "LoadResource.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

void Select(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index >= -1 && index < combo->count() ? index : -1);
}

void SetTextIfChanged(QLineEdit* edit, const std::string& text)
{
    const QString value = QString::fromStdString(text);
    if (edit->text() != value)
        edit->setText(value);
}

}  // namespace

frmDocument::frmDocument(Session& session, const StringTable& strings,
                         std::function<QString(int)> connectorTip, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_strings(strings),
      m_connectorTip(std::move(connectorTip))
{
    // Set before the controls exist, so that none of them sees a font change.
    setFont(InterfaceFont(this, strings));
    Build();
    LocalizeWindow(this, strings);
    RefreshSettings();
    RefreshStatus();
    RefreshLamps();
    RefreshCaption();
    Connect();
    m_session.setObserver(this);
}

frmDocument::~frmDocument()
{
    Detach();
}

void frmDocument::Detach()
{
    if (m_attached)
        m_session.setObserver(nullptr);
    m_attached = false;
}

QAbstractItemModel* frmDocument::ConnectorModel()
{
    // 257 entries are the same in every session window: one list serves them
    // all, so hundreds of sessions do not hold hundreds of copies.
    static QPointer<QStandardItemModel> shared;
    if (shared)
        return shared;
    shared = new QStandardItemModel(0, 1, QCoreApplication::instance());
    shared->appendRow(new QStandardItem(Tr(m_strings, 2205)));
    for (int n = 1; n < kConnectorCount; ++n) {
        auto* item = new QStandardItem(QString::fromStdString(ConnectorName(n)));
        if (m_connectorTip)
            item->setToolTip(m_connectorTip(n));
        shared->appendRow(item);
    }
    return shared;
}

void frmDocument::Build()
{
    auto* layout = new QVBoxLayout(this);

    Frame1 = new QGroupBox(this);
    SetTextId(Frame1, 5000);
    auto* serial = new QGridLayout(Frame1);
    static const int kLabelIds[7] = {2202, 2204, 2210, 2211, 2212, 2203, 2217};
    for (int i = 0; i < 7; ++i) {
        Label1[i] = new QLabel(Frame1);
        SetTextId(Label1[i], kLabelIds[i]);
    }
    Combo2 = new QComboBox(Frame1);
    Combo2->setModel(ConnectorModel());
    for (auto& combo : Combo1)
        combo = new QComboBox(Frame1);
    for (const char* rate : kBaudRates)
        Combo1[0]->addItem(rate);
    for (int id : kParityTextIds)
        Combo1[1]->addItem(Tr(m_strings, id));
    for (const char* bits : kDataBits)
        Combo1[2]->addItem(bits);
    for (const char* bits : kStopBits)
        Combo1[3]->addItem(bits);
    for (int id : kFlowControlTextIds)
        Combo1[4]->addItem(Tr(m_strings, id));
    for (const char* size : kBufferSizes)
        Combo1[5]->addItem(size);
    // Rows: connector, baud rate, parity, data bits, stop bits, flow control, buffer size.
    QWidget* rows[7][2] = {{Label1[0], Combo2},    {Label1[5], Combo1[0]}, {Label1[1], Combo1[1]},
                           {Label1[2], Combo1[2]}, {Label1[3], Combo1[3]}, {Label1[4], Combo1[4]},
                           {Label1[6], Combo1[5]}};
    for (int r = 0; r < 7; ++r) {
        serial->addWidget(rows[r][0], r, 0);
        serial->addWidget(rows[r][1], r, 1);
        static_cast<QLabel*>(rows[r][0])->setBuddy(rows[r][1]);
    }
    chkVPort = new QCheckBox(Frame1);
    SetTextId(chkVPort, 5002);
    BufferSerData = new QCheckBox(Frame1);
    SetTextId(BufferSerData, 5003);
    WaitForCr = new QCheckBox(Frame1);
    SetTextId(WaitForCr, 5004);
    Label4 = new QLabel(Frame1);
    SetTextId(Label4, 5005);
    txtTimeoutValue = new QLineEdit(Frame1);
    serial->addWidget(chkVPort, 7, 0, 1, 2);
    serial->addWidget(BufferSerData, 8, 0, 1, 2);
    serial->addWidget(WaitForCr, 9, 0, 1, 2);
    serial->addWidget(Label4, 10, 0);
    serial->addWidget(txtTimeoutValue, 10, 1);

    Frame2 = new QGroupBox(this);
    SetTextId(Frame2, 5001);
    Frame2->installEventFilter(this);
    auto* net = new QGridLayout(Frame2);
    TCPOption[0] = new QRadioButton(Frame2);
    TCPOption[1] = new QRadioButton(Frame2);
    SetTextId(TCPOption[0], 5006);
    SetTextId(TCPOption[1], 5007);
    Label2 = new QLabel(Frame2);
    Label3 = new QLabel(Frame2);
    IPAddress = new QLineEdit(Frame2);
    IPAddress->setMaxLength(50);
    LocalIP = new QComboBox(Frame2);
    LocalIP->setEditable(true);
    PortNumber = new QLineEdit(Frame2);
    PortNumber->setMaxLength(5);
    chkUDP = new QCheckBox(Frame2);
    SetTextId(chkUDP, 5140);
    btnLogin = new QPushButton(Frame2);
    SetTextId(btnLogin, 5141);
    btnLogin->setVisible(false);
    net->addWidget(TCPOption[0], 0, 0, 1, 2);
    net->addWidget(TCPOption[1], 1, 0, 1, 2);
    net->addWidget(Label2, 2, 0);
    net->addWidget(IPAddress, 2, 1);
    // One of the two address fields shows at a time, in the same place.
    net->addWidget(LocalIP, 2, 1);
    net->addWidget(Label3, 3, 0);
    net->addWidget(PortNumber, 3, 1);
    net->addWidget(chkUDP, 4, 0, 1, 2);
    net->addWidget(btnLogin, 5, 0);
    net->setRowStretch(6, 1);

    auto* columns = new QHBoxLayout;
    columns->addWidget(Frame1);
    columns->addWidget(Frame2, 1);
    layout->addLayout(columns);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    Command2 = new QPushButton(this);
    SetTextId(Command2, 5008);
    Command1 = new QPushButton(this);
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);
    layout->addLayout(buttons);

    for (int i = 0; i < 2; ++i) {
        auto* row = new QHBoxLayout;
        Shape1[i] = new QFrame(this);
        Shape1[i]->setFixedSize(12, 12);
        Shape1[i]->setFrameShape(QFrame::Box);
        Shape1[i]->setAutoFillBackground(true);
        StatusBar1[i] = new QLabel(this);
        StatusBar1[i]->setFrameShape(QFrame::StyledPanel);
        StatusBar1[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row->addWidget(Shape1[i]);
        row->addWidget(StatusBar1[i], 1);
        layout->addLayout(row);
    }
}

void frmDocument::Connect()
{
    Session& s = m_session;
    connect(Combo2, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int i) {
        if (!m_refreshing)
            m_session.SetConnector(i);
    });
    auto list = [this](QComboBox* combo, std::function<bool(int)> set) {
        connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this, [this, set](int i) {
            if (!m_refreshing)
                set(i);
        });
    };
    list(Combo1[0], [&s](int i) { return s.SetBaudRate(i); });
    list(Combo1[1], [&s](int i) { return s.SetParity(i); });
    list(Combo1[2], [&s](int i) { return s.SetDatabits(i); });
    list(Combo1[3], [&s](int i) { return s.SetStopbits(i); });
    list(Combo1[4], [&s](int i) { return s.SetFlowControl(i); });
    list(Combo1[5], [&s](int i) { return s.SetBufferSize(i); });
    auto check = [this](QCheckBox* box, std::function<bool(int)> set) {
        connect(box, &QCheckBox::toggled, this, [this, set](bool on) {
            if (!m_refreshing)
                set(on ? 1 : 0);
        });
    };
    check(chkVPort, [&s](int v) { return s.SetCreateVirtualPort(v); });
    check(BufferSerData, [&s](int v) { return s.SetBufferSerialData(v); });
    check(WaitForCr, [&s](int v) { return s.SetWaitForCr(v); });
    check(chkUDP, [&s](int v) { return s.SetUseUDP(v); });
    connect(txtTimeoutValue, &QLineEdit::textEdited, this,
            [&s](const QString& t) { s.SetTimeoutValue(t.toStdString()); });
    connect(IPAddress, &QLineEdit::textEdited, this,
            [&s](const QString& t) { s.SetIPAddress(t.toStdString()); });
    connect(PortNumber, &QLineEdit::textEdited, this,
            [&s](const QString& t) { s.SetPortNumber(t.toStdString()); });
    connect(LocalIP, &QComboBox::editTextChanged, this, [this](const QString& t) {
        if (!m_refreshing)
            m_session.SetLocalIP(t.toStdString());
    });
    for (int i = 0; i < 2; ++i) {
        connect(TCPOption[i], &QRadioButton::clicked, this, [&s, i] { s.SetTcpOption(i); });
    }
    connect(Command1, &QPushButton::clicked, this, [&s] { s.OnActivateButton(); });
    connect(Command2, &QPushButton::clicked, this, [&s] { s.OnIoOptionsButton(); });
    connect(btnLogin, &QPushButton::clicked, this, [&s] { s.OnLoginButton(); });
}

bool frmDocument::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Frame2 && event->type() == QEvent::MouseButtonDblClick && m_attached) {
        m_session.ShowConnectedClients();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmDocument::SessionChanged(SessionChange change)
{
    switch (change) {
        case SessionChange::Settings:
            RefreshSettings();
            break;
        case SessionChange::Status:
            RefreshStatus();
            break;
        case SessionChange::Lamps:
            RefreshLamps();
            break;
        case SessionChange::Caption:
            RefreshCaption();
            break;
    }
}

void frmDocument::RefreshSettings()
{
    m_refreshing = true;
    const SessionSettings& v = m_session.settings();
    const SessionForm& f = m_session.form();
    {
        QSignalBlocker b1(Combo2);
        Select(Combo2, v.Connector);
        Select(Combo1[0], v.BaudRate);
        Select(Combo1[1], v.Parity);
        Select(Combo1[2], v.Databits);
        Select(Combo1[3], v.Stopbits);
        Select(Combo1[4], v.FlowControl);
        Select(Combo1[5], v.BufferSize);
    }
    chkVPort->setChecked(v.CreateVirtualPort == 1);
    BufferSerData->setChecked(v.BufferSerialData == 1);
    WaitForCr->setChecked(v.WaitForCr == 1);
    chkUDP->setChecked(v.UseUDP == 1);
    SetTextIfChanged(txtTimeoutValue, v.TimeoutValue);
    SetTextIfChanged(IPAddress, v.IPAddress);
    SetTextIfChanged(PortNumber, v.PortNumber);
    if (LocalIP->count() != static_cast<int>(f.localIpItems.size())) {
        LocalIP->clear();
        for (const auto& a : f.localIpItems)
            LocalIP->addItem(QString::fromStdString(a));
    }
    if (LocalIP->currentText().toStdString() != v.LocalIP) {
        LocalIP->setEditText(QString::fromStdString(v.LocalIP));
    }
    TCPOption[0]->setChecked(v.TCPOption == 0);
    TCPOption[1]->setChecked(v.TCPOption == 1);
    IPAddress->setVisible(f.ipAddressVisible);
    LocalIP->setVisible(!f.ipAddressVisible);
    Label2->setText(QString::fromStdString(f.addressLabel));
    Label3->setText(QString::fromStdString(f.portLabel));

    const bool enabled = f.settingsEnabled;
    for (QWidget* w : std::initializer_list<QWidget*>{
             Combo2, Combo1[0], Combo1[1], Combo1[2], Combo1[3], Combo1[4], Combo1[5], Command2,
             TCPOption[0], IPAddress, PortNumber, LocalIP, chkVPort, chkUDP}) {
        w->setEnabled(enabled);
    }
    TCPOption[1]->setEnabled(enabled && f.serverOptionEnabled);
    Command1->setText(QString::fromStdString(f.activateCaption));
    m_refreshing = false;
}

void frmDocument::RefreshStatus()
{
    for (int i = 0; i < 2; ++i) {
        StatusBar1[i]->setText(QString::fromStdString(m_session.form().statusText[i]));
    }
}

void frmDocument::RefreshLamps()
{
    for (int i = 0; i < 2; ++i) {
        const bool red = m_session.form().lamp[i] == LampColour::Red;
        QPalette p = Shape1[i]->palette();
        p.setColor(QPalette::Window, red ? QColor(255, 0, 0) : QColor(0, 255, 0));
        Shape1[i]->setPalette(p);
    }
}

void frmDocument::RefreshCaption()
{
    setWindowTitle(QString::fromStdString(m_session.form().caption));
}

}  // namespace velkon
