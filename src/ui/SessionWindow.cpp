#include "SessionWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
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
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "ClientsDialog.h"
#include "Localization.h"
#include "shell/StringTable.h"
#include "system/RuntimeDir.h"

namespace velkon {

namespace {

namespace ids {
constexpr int kMonitor = 5300;
constexpr int kClients = 5301;
constexpr int kSerialCounts = 5302;
constexpr int kNetworkCounts = 5303;
constexpr int kDropped = 5304;
constexpr int kVirtualPath = 5305;
constexpr int kOpenedByApplication = 5306;
constexpr int kNotOpened = 5307;
constexpr int kCopyPath = 5308;
constexpr int kAllInterfaces = 5331;
}  // namespace ids

// The counters change often; a few redraws a second are enough to read.
constexpr int kCountersIntervalMs = 500;

// "512 B", "12.3 KiB", "4.0 MiB"
QString ByteText(double bytes)
{
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 10240 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    return unit == 0 ? QString("%1 B").arg(qRound64(bytes))
                     : QString("%1 %2").arg(bytes, 0, 'f', 1).arg(kUnits[unit]);
}

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

SessionWindow::SessionWindow(Session& session, const StringTable& strings,
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
    RefreshCounters();
    Connect();
    m_session.setObserver(this);
}

SessionWindow::~SessionWindow()
{
    Detach();
}

void SessionWindow::Detach()
{
    if (m_attached)
        m_session.setObserver(nullptr);
    m_attached = false;
    m_countersTimer->stop();
    delete m_clientsDialog;
}

void SessionWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_attached)
        return;
    RefreshCounters();
    m_countersTimer->start();
}

void SessionWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_countersTimer->stop();
}

ClientsDialog& SessionWindow::clientsDialog()
{
    if (!m_clientsDialog)
        m_clientsDialog = new ClientsDialog(m_session, m_strings, this);
    return *m_clientsDialog;
}

void SessionWindow::onClientsClicked()
{
    if (!m_attached)
        return;
    ClientsDialog& dialog = clientsDialog();
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

void SessionWindow::onCopyPathClicked()
{
    const QString path = VirtualPortPath();
    if (!path.isEmpty())
        QApplication::clipboard()->setText(path);
}

void SessionWindow::RefreshCounters()
{
    const TrafficCounters& c = m_session.Counters();
    const std::int64_t now = m_clock.elapsed();
    const std::uint64_t totals[] = {c.serialRead, c.serialWritten, c.networkReceived,
                                    c.networkSent};
    QString rates[4];
    for (int i = 0; i < 4; ++i) {
        m_rates[i].Add(now, totals[i]);
        rates[i] = ByteText(m_rates[i].PerSecond());
    }
    int clients = 0;
    for (const ClientTraffic& client : m_session.traffic().Clients())
        clients += client.connected ? 1 : 0;
    // Always two lines, so the window keeps its size.
    QString text = Tr(m_strings, ids::kSerialCounts)
                       .arg(ByteText(static_cast<double>(c.serialRead)), rates[0],
                            ByteText(static_cast<double>(c.serialWritten)), rates[1]);
    text += '\n' + Tr(m_strings, ids::kNetworkCounts)
                       .arg(ByteText(static_cast<double>(c.networkReceived)), rates[2],
                            ByteText(static_cast<double>(c.networkSent)), rates[3],
                            QString::number(clients));
    if (c.dropped != 0)
        text += ", " + Tr(m_strings, ids::kDropped).arg(ByteText(static_cast<double>(c.dropped)));
    if (m_countersLine->text() != text)
        m_countersLine->setText(text);
}

QString SessionWindow::VirtualPortPath()
{
    const SessionSettings& v = m_session.settings();
    if (v.CreateVirtualPort != 1)
        return {};
    const std::string published = m_session.virtualPort().DevicePath();
    if (!published.empty())
        return QString::fromStdString(published);
    // Not created yet: where it will be.
    if (v.Connector <= 0)
        return {};
    return QString::fromStdString(RuntimeDirectory() + "/" + ConnectorName(v.Connector));
}

void SessionWindow::RefreshVirtualPort()
{
    if (!m_attached)
        return;
    const std::string published = m_session.virtualPort().DevicePath();
    const bool shown = m_session.IsActive() && !published.empty();
    if (shown) {
        const QString state = Tr(m_strings, m_session.virtualPort().IsOpenedByApplication()
                                                ? ids::kOpenedByApplication
                                                : ids::kNotOpened);
        const QString text =
            Tr(m_strings, ids::kVirtualPath).arg(QString::fromStdString(published), state);
        if (m_virtualPathLine->text() != text)
            m_virtualPathLine->setText(text);
    }
    m_virtualPathLine->setVisible(shown);
    m_copyPathButton->setVisible(shown);
    const QString path = VirtualPortPath();
    m_connectorBox->setToolTip(path);
    m_statusLines[kSerialLine]->setToolTip(path);
}

QAbstractItemModel* SessionWindow::ConnectorModel(bool virtualPorts)
{
    // 257 entries are the same in every session window: one list serves them
    // all, so hundreds of sessions do not hold hundreds of copies. Sessions
    // that create virtual ports share a second list whose tips name the path
    // an application opens instead of the device.
    static QPointer<QStandardItemModel> shared[2];
    QPointer<QStandardItemModel>& model = shared[virtualPorts ? 1 : 0];
    if (model)
        return model;
    model = new QStandardItemModel(0, 1, QCoreApplication::instance());
    model->appendRow(new QStandardItem(Tr(m_strings, 2205)));
    const std::string folder = virtualPorts ? RuntimeDirectory() + "/" : std::string();
    for (int n = 1; n < kConnectorCount; ++n) {
        const std::string name = ConnectorName(n);
        auto* item = new QStandardItem(QString::fromStdString(name));
        if (virtualPorts)
            item->setToolTip(QString::fromStdString(folder + name));
        else if (m_connectorTip)
            item->setToolTip(m_connectorTip(n));
        model->appendRow(item);
    }
    return model;
}

void SessionWindow::Build()
{
    auto* layout = new QVBoxLayout(this);

    m_serialGroup = new QGroupBox(this);
    SetTextId(m_serialGroup, 5000);
    auto* serial = new QGridLayout(m_serialGroup);
    // Rows: connector, baud rate, parity, data bits, stop bits, flow control, buffer size.
    const struct {
        int textId;
        QLabel*& label;
        QComboBox*& box;
    } rows[] = {
        {2202, m_connectorLabel, m_connectorBox},  {2203, m_baudRateLabel, m_baudRateBox},
        {2204, m_parityLabel, m_parityBox},        {2210, m_dataBitsLabel, m_dataBitsBox},
        {2211, m_stopBitsLabel, m_stopBitsBox},    {2212, m_flowControlLabel, m_flowControlBox},
        {2217, m_bufferSizeLabel, m_bufferSizeBox}};
    int r = 0;
    for (const auto& row : rows) {
        row.label = new QLabel(m_serialGroup);
        SetTextId(row.label, row.textId);
        row.box = new QComboBox(m_serialGroup);
        row.label->setBuddy(row.box);
        serial->addWidget(row.label, r, 0);
        serial->addWidget(row.box, r, 1);
        ++r;
    }
    m_connectorBox->setModel(ConnectorModel(false));
    for (const char* rate : kBaudRates)
        m_baudRateBox->addItem(rate);
    for (int id : kParityTextIds)
        m_parityBox->addItem(Tr(m_strings, id));
    for (const char* bits : kDataBits)
        m_dataBitsBox->addItem(bits);
    for (const char* bits : kStopBits)
        m_stopBitsBox->addItem(bits);
    for (int id : kFlowControlTextIds)
        m_flowControlBox->addItem(Tr(m_strings, id));
    for (const char* size : kBufferSizes)
        m_bufferSizeBox->addItem(size);
    m_virtualPortCheck = new QCheckBox(m_serialGroup);
    SetTextId(m_virtualPortCheck, 5002);
    m_bufferDataCheck = new QCheckBox(m_serialGroup);
    SetTextId(m_bufferDataCheck, 5003);
    m_waitForTimeoutCheck = new QCheckBox(m_serialGroup);
    SetTextId(m_waitForTimeoutCheck, 5004);
    m_timeoutLabel = new QLabel(m_serialGroup);
    SetTextId(m_timeoutLabel, 5005);
    m_timeoutEdit = new QLineEdit(m_serialGroup);
    serial->addWidget(m_virtualPortCheck, 7, 0, 1, 2);
    serial->addWidget(m_bufferDataCheck, 8, 0, 1, 2);
    serial->addWidget(m_waitForTimeoutCheck, 9, 0, 1, 2);
    serial->addWidget(m_timeoutLabel, 10, 0);
    serial->addWidget(m_timeoutEdit, 10, 1);

    m_networkGroup = new QGroupBox(this);
    SetTextId(m_networkGroup, 5001);
    m_networkGroup->installEventFilter(this);
    auto* net = new QGridLayout(m_networkGroup);
    m_clientRadio = new QRadioButton(m_networkGroup);
    m_serverRadio = new QRadioButton(m_networkGroup);
    SetTextId(m_clientRadio, 5006);
    SetTextId(m_serverRadio, 5007);
    m_hostLabel = new QLabel(m_networkGroup);
    m_portLabel = new QLabel(m_networkGroup);
    m_remoteHostEdit = new QLineEdit(m_networkGroup);
    m_remoteHostEdit->setMaxLength(50);
    m_localIpBox = new QComboBox(m_networkGroup);
    m_localIpBox->setEditable(true);
    m_portEdit = new QLineEdit(m_networkGroup);
    m_portEdit->setMaxLength(5);
    m_udpCheck = new QCheckBox(m_networkGroup);
    SetTextId(m_udpCheck, 5140);
    m_loginButton = new QPushButton(m_networkGroup);
    SetTextId(m_loginButton, 5141);
    m_loginButton->setVisible(false);
    net->addWidget(m_clientRadio, 0, 0, 1, 2);
    net->addWidget(m_serverRadio, 1, 0, 1, 2);
    net->addWidget(m_hostLabel, 2, 0);
    net->addWidget(m_remoteHostEdit, 2, 1);
    // One of the two address fields shows at a time, in the same place.
    net->addWidget(m_localIpBox, 2, 1);
    net->addWidget(m_portLabel, 3, 0);
    net->addWidget(m_portEdit, 3, 1);
    net->addWidget(m_udpCheck, 4, 0, 1, 2);
    net->addWidget(m_loginButton, 5, 0);
    net->setRowStretch(6, 1);

    auto* columns = new QHBoxLayout;
    columns->addWidget(m_serialGroup);
    columns->addWidget(m_networkGroup, 1);
    layout->addLayout(columns);

    auto* buttons = new QHBoxLayout;
    m_monitorButton = new QPushButton(this);
    SetTextId(m_monitorButton, ids::kMonitor);
    m_clientsButton = new QPushButton(this);
    SetTextId(m_clientsButton, ids::kClients);
    buttons->addWidget(m_monitorButton);
    buttons->addWidget(m_clientsButton);
    buttons->addStretch();
    m_ioOptionsButton = new QPushButton(this);
    SetTextId(m_ioOptionsButton, 5008);
    m_activateButton = new QPushButton(this);
    buttons->addWidget(m_ioOptionsButton);
    buttons->addWidget(m_activateButton);
    layout->addLayout(buttons);

    for (int i = 0; i < 2; ++i) {
        auto* row = new QHBoxLayout;
        m_lamps[i] = new QFrame(this);
        m_lamps[i]->setFixedSize(12, 12);
        m_lamps[i]->setFrameShape(QFrame::Box);
        m_lamps[i]->setAutoFillBackground(true);
        m_statusLines[i] = new QLabel(this);
        m_statusLines[i]->setFrameShape(QFrame::StyledPanel);
        m_statusLines[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row->addWidget(m_lamps[i]);
        row->addWidget(m_statusLines[i], 1);
        layout->addLayout(row);
    }
    auto* pathRow = new QHBoxLayout;
    m_virtualPathLine = new QLabel(this);
    m_virtualPathLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_copyPathButton = new QToolButton(this);
    SetTextId(m_copyPathButton, ids::kCopyPath);
    pathRow->addWidget(m_virtualPathLine, 1);
    pathRow->addWidget(m_copyPathButton);
    layout->addLayout(pathRow);
    // The row keeps its place while hidden, so the window does not grow when
    // a virtual port appears.
    for (QWidget* w : std::initializer_list<QWidget*>{m_virtualPathLine, m_copyPathButton}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
        w->hide();
    }
    m_countersLine = new QLabel(this);
    m_countersLine->setFrameShape(QFrame::StyledPanel);
    layout->addWidget(m_countersLine);
    m_countersTimer = new QTimer(this);
    m_countersTimer->setInterval(kCountersIntervalMs);
    m_clock.start();
}

void SessionWindow::Connect()
{
    Session& s = m_session;
    connect(m_connectorBox, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int i) {
        if (!m_refreshing)
            m_session.SetConnector(i);
    });
    auto list = [this](QComboBox* combo, std::function<bool(int)> set) {
        connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this, [this, set](int i) {
            if (!m_refreshing)
                set(i);
        });
    };
    list(m_baudRateBox, [&s](int i) { return s.SetBaudRate(i); });
    list(m_parityBox, [&s](int i) { return s.SetParity(i); });
    list(m_dataBitsBox, [&s](int i) { return s.SetDatabits(i); });
    list(m_stopBitsBox, [&s](int i) { return s.SetStopbits(i); });
    list(m_flowControlBox, [&s](int i) { return s.SetFlowControl(i); });
    list(m_bufferSizeBox, [&s](int i) { return s.SetBufferSize(i); });
    auto check = [this](QCheckBox* box, std::function<bool(int)> set) {
        connect(box, &QCheckBox::toggled, this, [this, set](bool on) {
            if (!m_refreshing)
                set(on ? 1 : 0);
        });
    };
    check(m_virtualPortCheck, [&s](int v) { return s.SetCreateVirtualPort(v); });
    check(m_bufferDataCheck, [&s](int v) { return s.SetBufferSerialData(v); });
    check(m_waitForTimeoutCheck, [&s](int v) { return s.SetWaitForCr(v); });
    check(m_udpCheck, [&s](int v) { return s.SetUseUDP(v); });
    connect(m_timeoutEdit, &QLineEdit::textEdited, this,
            [&s](const QString& t) { s.SetTimeoutValue(t.toStdString()); });
    connect(m_remoteHostEdit, &QLineEdit::textEdited, this,
            [&s](const QString& t) { s.SetIPAddress(t.toStdString()); });
    connect(m_portEdit, &QLineEdit::textEdited, this,
            [&s](const QString& t) { s.SetPortNumber(t.toStdString()); });
    connect(m_localIpBox, &QComboBox::editTextChanged, this, [this](const QString& t) {
        if (!m_refreshing)
            m_session.SetLocalIP(t.toStdString());
    });
    connect(m_clientRadio, &QRadioButton::clicked, this, [&s] { s.SetTcpOption(0); });
    connect(m_serverRadio, &QRadioButton::clicked, this, [&s] { s.SetTcpOption(1); });
    connect(m_activateButton, &QPushButton::clicked, this, [&s] { s.OnActivateButton(); });
    connect(m_ioOptionsButton, &QPushButton::clicked, this, [&s] { s.OnIoOptionsButton(); });
    connect(m_loginButton, &QPushButton::clicked, this, [&s] { s.OnLoginButton(); });
    connect(m_clientsButton, &QPushButton::clicked, this, [this] { onClientsClicked(); });
    connect(m_copyPathButton, &QToolButton::clicked, this, [this] { onCopyPathClicked(); });
    connect(m_countersTimer, &QTimer::timeout, this, [this] {
        RefreshCounters();
        RefreshVirtualPort();
    });
    // The entry for every interface puts an empty text in the box.
    connect(m_localIpBox, qOverload<int>(&QComboBox::activated), this, [this](int i) {
        if (m_localIpBox->itemData(i).toBool())
            m_localIpBox->setEditText(QString());
    });
}

bool SessionWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_networkGroup && event->type() == QEvent::MouseButtonDblClick && m_attached) {
        onClientsClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SessionWindow::SessionChanged(SessionChange change)
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

void SessionWindow::RefreshSettings()
{
    m_refreshing = true;
    const SessionSettings& v = m_session.settings();
    const SessionForm& f = m_session.form();
    {
        QSignalBlocker b1(m_connectorBox);
        QAbstractItemModel* connectors = ConnectorModel(v.CreateVirtualPort == 1);
        if (m_connectorBox->model() != connectors)
            m_connectorBox->setModel(connectors);
        Select(m_connectorBox, v.Connector);
        Select(m_baudRateBox, v.BaudRate);
        Select(m_parityBox, v.Parity);
        Select(m_dataBitsBox, v.Databits);
        Select(m_stopBitsBox, v.Stopbits);
        Select(m_flowControlBox, v.FlowControl);
        Select(m_bufferSizeBox, v.BufferSize);
    }
    m_virtualPortCheck->setChecked(v.CreateVirtualPort == 1);
    m_bufferDataCheck->setChecked(v.BufferSerialData == 1);
    m_waitForTimeoutCheck->setChecked(v.WaitForCr == 1);
    m_udpCheck->setChecked(v.UseUDP == 1);
    SetTextIfChanged(m_timeoutEdit, v.TimeoutValue);
    SetTextIfChanged(m_remoteHostEdit, v.IPAddress);
    SetTextIfChanged(m_portEdit, v.PortNumber);
    if (m_localIpBox->count() != static_cast<int>(f.localIpItems.size()) + 1) {
        m_localIpBox->clear();
        for (const auto& a : f.localIpItems)
            m_localIpBox->addItem(QString::fromStdString(a));
        m_localIpBox->addItem(Tr(m_strings, ids::kAllInterfaces), true);
        m_localIpBox->lineEdit()->setPlaceholderText(Tr(m_strings, ids::kAllInterfaces));
    }
    if (m_localIpBox->currentText().toStdString() != v.LocalIP) {
        m_localIpBox->setEditText(QString::fromStdString(v.LocalIP));
    }
    m_clientRadio->setChecked(v.TCPOption == 0);
    m_serverRadio->setChecked(v.TCPOption == 1);
    m_remoteHostEdit->setVisible(f.ipAddressVisible);
    m_localIpBox->setVisible(!f.ipAddressVisible);
    m_hostLabel->setText(QString::fromStdString(f.addressLabel));
    m_portLabel->setText(QString::fromStdString(f.portLabel));

    const bool enabled = f.settingsEnabled;
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_connectorBox, m_baudRateBox, m_parityBox, m_dataBitsBox, m_stopBitsBox,
             m_flowControlBox, m_bufferSizeBox, m_ioOptionsButton, m_clientRadio, m_remoteHostEdit,
             m_portEdit, m_localIpBox, m_virtualPortCheck, m_udpCheck}) {
        w->setEnabled(enabled);
    }
    m_serverRadio->setEnabled(enabled && f.serverOptionEnabled);
    RefreshVirtualPort();
    m_activateButton->setText(QString::fromStdString(f.activateCaption));
    m_refreshing = false;
}

void SessionWindow::RefreshStatus()
{
    for (int i = 0; i < 2; ++i) {
        m_statusLines[i]->setText(QString::fromStdString(m_session.form().statusText[i]));
    }
    RefreshVirtualPort();
}

void SessionWindow::RefreshLamps()
{
    for (int i = 0; i < 2; ++i) {
        const bool red = m_session.form().lamp[i] == LampColour::Red;
        QPalette p = m_lamps[i]->palette();
        p.setColor(QPalette::Window, red ? QColor(255, 0, 0) : QColor(0, 255, 0));
        m_lamps[i]->setPalette(p);
    }
}

void SessionWindow::RefreshCaption()
{
    setWindowTitle(QString::fromStdString(m_session.form().caption));
}

}  // namespace velkon
