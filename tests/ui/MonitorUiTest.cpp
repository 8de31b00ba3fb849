// The traffic a session window and its monitor show, over a real virtual
// port and a loopback client.

#include <fcntl.h>
#include <unistd.h>

#include <sstream>

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include "ClientsDialog.h"
#include "MainWindow.h"
#include "MonitorWindow.h"
#include "SessionWindow.h"
#include "UiTestSupport.h"

namespace velkon::test {
namespace {

constexpr int kWaitMs = 20000;

int FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A server session on a virtual port, an application on the port and one
// client on the network side.
struct Bridge {
    explicit Bridge(int connector = 7)
    {
        rig.Start();
        session = rig.shell().SessionAt(1);
        document = rig.main().sessionWindowOf(*session);
        session->SetCreateVirtualPort(1);
        session->SetConnector(connector);
        session->SetTcpOption(1);
        session->SetLocalIP("127.0.0.1");
        session->SetPortNumber(std::to_string(FreePort()));
        session->OnActivateButton();
        EXPECT_TRUE(session->IsActive()) << session->form().statusText[0];
        path = rig.Path("run/COM" + QString::number(connector));
        app = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(app, 0) << path.toStdString();
        client.connectToHost("127.0.0.1",
                             static_cast<quint16>(std::stoi(session->settings().PortNumber)));
        EXPECT_TRUE(QTest::qWaitFor([&] { return session->ClientCount() == 1; }, kWaitMs));
    }
    ~Bridge()
    {
        if (app >= 0)
            ::close(app);
    }
    // Writes from the application's side and waits until the session took it.
    void FromApplication(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(app, bytes.constData() + done,
                                      static_cast<std::size_t>(bytes.size() - done));
            if (n > 0)
                done += n;
            QTest::qWait(n > 0 ? 0 : 5);
        }
        written += static_cast<std::uint64_t>(bytes.size());
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return session->Counters().serialRead == written; }, kWaitMs));
    }
    void FromClient(const QByteArray& bytes)
    {
        const std::uint64_t before = session->Counters().networkReceived;
        client.write(bytes);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return session->Counters().networkReceived == before + bytes.size(); }, kWaitMs));
    }
    QString ClientSource() const { return "127.0.0.1:" + QString::number(client.localPort()); }

    ProgramRig rig;
    Session* session = nullptr;
    SessionWindow* document = nullptr;
    QString path;
    int app = -1;
    std::uint64_t written = 0;
    QTcpSocket client;
};

// The bytes the hex rows of one direction show, and the bytes shown as
// skipped.
struct Shown {
    QByteArray toNetwork;
    QByteArray toSerial;
    std::uint64_t skipped = 0;
};

Shown Parse(const QString& text)
{
    Shown shown;
    for (const QString& row : text.split('\n')) {
        const QStringList words = row.split(' ', Qt::SkipEmptyParts);
        if (words.size() >= 4 && words[1] == "---" && words[3] == "bytes")
            shown.skipped += words[2].toULongLong();
        if (words.size() < 4 || (words[1] != "S>N" && words[1] != "N>S"))
            continue;
        QByteArray& target = words[1] == "S>N" ? shown.toNetwork : shown.toSerial;
        // Hex pairs follow the source until the text column.
        for (int i = 3; i < words.size() && i < 3 + 16; ++i) {
            bool ok = false;
            const int b = words[i].toInt(&ok, 16);
            if (!ok || words[i].size() != 2)
                break;
            target.append(static_cast<char>(b));
        }
    }
    return shown;
}

QColor Colour(const QPlainTextEdit& view, const QString& marker)
{
    for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next()) {
        if (b.text().contains(marker))
            return b.begin().fragment().charFormat().foreground().color();
    }
    return {};
}

TEST(MonitorWindowUi, ShowsEachDirectionWithItsSourceColourAndBytes)
{
    Bridge bridge;
    bridge.document->m_monitorButton->click();
    MonitorWindow* monitor = bridge.rig.main().monitorWindowOf(*bridge.session);
    ASSERT_NE(monitor, nullptr);
    // A window of the main window, as the session windows are.
    EXPECT_TRUE(bridge.rig.main().mdiArea()->subWindowList().contains(
        qobject_cast<QMdiSubWindow*>(monitor->parentWidget())));
    // Opening again brings the same window.
    bridge.document->m_monitorButton->click();
    EXPECT_EQ(bridge.rig.main().monitorWindowOf(*bridge.session), monitor);

    bridge.FromApplication(QByteArray("hello\x01\x1b", 7));
    bridge.FromClient("net side");
    monitor->DrawPending();
    const QString text = monitor->Text();
    const Shown shown = Parse(text);
    EXPECT_EQ(shown.toNetwork, QByteArray("hello\x01\x1b", 7));
    EXPECT_EQ(shown.toSerial, QByteArray("net side"));
    EXPECT_TRUE(text.contains(QRegularExpression("S>N serial +68 65 6c 6c 6f 01 1b +hello\\.\\.")))
        << text.toStdString();
    EXPECT_TRUE(text.contains("N>S " + bridge.ClientSource())) << text.toStdString();
    const QColor out = Colour(*monitor->m_view, "S>N");
    const QColor in = Colour(*monitor->m_view, "N>S");
    EXPECT_TRUE(out.isValid() && in.isValid());
    EXPECT_NE(out, in);

    // As text, the same rows without hex.
    monitor->m_textRadio->click();
    EXPECT_TRUE(monitor->Text().contains(
        QRegularExpression("S>N serial +hello\\.\\.$", QRegularExpression::MultilineOption)));
    EXPECT_FALSE(monitor->Text().contains("68 65 6c"));

    bridge.rig.prompts.saveAnswer = bridge.rig.Path("traffic.txt");
    monitor->m_saveButton->click();
    EXPECT_EQ(QString::fromUtf8(bridge.rig.ReadFile("traffic.txt")), monitor->Text() + "\n");
    monitor->m_copyButton->click();
    EXPECT_EQ(QApplication::clipboard()->text(), monitor->Text());
    monitor->m_clearButton->click();
    EXPECT_TRUE(monitor->Text().isEmpty());
}

TEST(MonitorWindowUi, WhilePausedNothingIsDrawnAndWhatDidNotFitIsCountedExactly)
{
    Bridge bridge;
    MonitorWindow& monitor = bridge.rig.main().openMonitor(*bridge.session);
    monitor.m_pauseButton->click();
    QByteArray data(MonitorWindow::kPendingLimit + 100000, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    bridge.FromApplication(data);
    QTest::qWait(3 * MonitorWindow::kDrawIntervalMs);
    EXPECT_TRUE(monitor.Text().isEmpty());

    monitor.m_pauseButton->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !monitor.Text().isEmpty(); }, kWaitMs));
    const Shown shown = Parse(monitor.Text());
    EXPECT_GT(shown.skipped, 0u);
    EXPECT_EQ(shown.toNetwork.size() + shown.skipped, static_cast<std::uint64_t>(data.size()));
    // What was kept starts with the data, unchanged.
    EXPECT_EQ(shown.toNetwork.left(4096), data.left(4096));
}

TEST(MonitorWindowUi, ClosingTheMonitorOrTheSessionEndsTheWatch)
{
    Bridge bridge;
    MainWindow& main = bridge.rig.main();
    MonitorWindow& monitor = main.openMonitor(*bridge.session);
    EXPECT_TRUE(bridge.session->traffic().Watched());
    monitor.parentWidget()->close();
    QTest::qWait(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(main.monitorWindowOf(*bridge.session), nullptr);
    EXPECT_FALSE(bridge.session->traffic().Watched());

    main.openMonitor(*bridge.session);
    bridge.rig.shell().CloseSession(*bridge.session);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QMdiSubWindow* sub : main.mdiArea()->subWindowList())
        EXPECT_EQ(dynamic_cast<MonitorWindow*>(sub->widget()), nullptr);
}

TEST(SessionWindowUi, CountersClientsAndTheVirtualPortPathFollowTheSession)
{
    Bridge bridge;
    SessionWindow& d = *bridge.document;
    bridge.FromApplication("abcdef");
    bridge.FromClient("xyz");
    d.RefreshCounters();
    const QString counters = d.m_countersLine->text();
    EXPECT_TRUE(counters.contains("read 6 B")) << counters.toStdString();
    EXPECT_TRUE(counters.contains("received 3 B")) << counters.toStdString();
    EXPECT_TRUE(counters.contains("clients connected: 1")) << counters.toStdString();
    EXPECT_FALSE(counters.contains("dropped"));

    d.m_clientsButton->click();
    ClientsDialog& clients = d.clientsDialog();
    EXPECT_TRUE(clients.isVisible());
    ASSERT_EQ(clients.m_table->rowCount(), 1);
    EXPECT_EQ(clients.m_table->item(0, 0)->text(), bridge.ClientSource());
    EXPECT_EQ(clients.m_table->item(0, 2)->text(), "3");
    EXPECT_EQ(clients.m_table->item(0, 3)->text(), "6");
    clients.hide();
    // A double click on the network frame opens the same view.
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(d.m_networkGroup, &click);
    EXPECT_EQ(&d.clientsDialog(), &clients);
    EXPECT_TRUE(clients.isVisible());

    EXPECT_FALSE(d.m_virtualPathLine->isHidden());
    EXPECT_TRUE(d.m_virtualPathLine->text().contains(bridge.path));
    // The counters' timer looks at the port too.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return d.m_virtualPathLine->text().contains("(opened by an application)"); },
        kWaitMs))
        << d.m_virtualPathLine->text().toStdString();
    EXPECT_EQ(d.m_connectorBox->toolTip(), bridge.path);
    EXPECT_EQ(d.m_connectorBox->itemData(7, Qt::ToolTipRole).toString(), bridge.path);
    d.m_copyPathButton->click();
    EXPECT_EQ(QApplication::clipboard()->text(), bridge.path);
}

TEST(SessionWindowUi, LocalAddressesOfferLoopbackAndEveryInterface)
{
    ProgramRig rig;
    rig.Start();
    SessionWindow& d = *rig.main().sessionWindowOf(*rig.shell().SessionAt(1));
    d.m_serverRadio->click();
    QStringList items;
    for (int i = 0; i < d.m_localIpBox->count(); ++i)
        items << d.m_localIpBox->itemText(i);
    EXPECT_TRUE(items.contains("127.0.0.1")) << items.join(' ').toStdString();
    EXPECT_EQ(items.back(), "All interfaces");
    // That entry leaves the address empty, which listens on every interface.
    d.m_localIpBox->setCurrentIndex(d.m_localIpBox->count() - 1);
    emit d.m_localIpBox->activated(d.m_localIpBox->count() - 1);
    EXPECT_EQ(rig.shell().SessionAt(1)->settings().LocalIP, "");
    EXPECT_EQ(d.m_localIpBox->currentText(), "");
}

TEST(MainWindowUi, NewSessionWindowsCascade)
{
    ProgramRig rig;
    rig.Start();
    rig.main().resize(900, 700);
    rig.shell().FileNew();
    rig.shell().FileNew();
    QList<QPoint> corners;
    for (QMdiSubWindow* sub : rig.main().mdiArea()->subWindowList(QMdiArea::CreationOrder))
        corners << sub->pos();
    ASSERT_EQ(corners.size(), 3);
    EXPECT_GT(corners[1].x(), corners[0].x());
    EXPECT_GT(corners[1].y(), corners[0].y());
    EXPECT_EQ(corners[2] - corners[1], corners[1] - corners[0]);
}

}  // namespace
}  // namespace velkon::test
