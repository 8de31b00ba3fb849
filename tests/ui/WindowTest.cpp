#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "IoOptionsDialogs.h"
#include "SessionWindow.h"
#include "TlsOptionsBox.h"
#include "UiTestSupport.h"
#include "shell/IniFile.h"

namespace velkon::test {
namespace {

SessionWindow* Document(ProgramRig& rig, int number)
{
    return rig.main().sessionWindowOf(*rig.shell().SessionAt(number));
}

TEST(SessionWindowUi, NewWindowShowsTheInitialState)
{
    ProgramRig rig;
    rig.Start();
    ASSERT_EQ(rig.shell().sessions().size(), 1u);
    SessionWindow* d = Document(rig, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->m_connectorBox->currentText(), "None");
    EXPECT_EQ(d->m_connectorBox->count(), 257);
    EXPECT_EQ(d->m_baudRateBox->currentText(), "9600");
    EXPECT_EQ(d->m_parityBox->currentText(), "None");
    EXPECT_EQ(d->m_dataBitsBox->currentText(), "8");
    EXPECT_EQ(d->m_stopBitsBox->currentText(), "1");
    EXPECT_EQ(d->m_flowControlBox->currentText(), "None");
    EXPECT_EQ(d->m_bufferSizeBox->currentText(), "8192");
    EXPECT_EQ(d->m_portEdit->text(), "1000");
    EXPECT_EQ(d->m_timeoutEdit->text(), "150");
    EXPECT_TRUE(d->m_clientRadio->isChecked());
    EXPECT_FALSE(d->m_remoteHostEdit->isHidden());
    EXPECT_TRUE(d->m_remoteHostEdit->text().isEmpty());
    EXPECT_TRUE(d->m_localIpBox->isHidden());
    for (QCheckBox* box :
         {d->m_virtualPortCheck, d->m_bufferDataCheck, d->m_waitForTimeoutCheck, d->m_udpCheck}) {
        EXPECT_FALSE(box->isChecked());
    }
    EXPECT_EQ(d->windowTitle(), "New - RS232 to TCP/IP");
    EXPECT_EQ(d->m_statusLines[0]->text(), "COM Status:");
    EXPECT_EQ(d->m_statusLines[1]->text(), "TCP/IP Status:");
    EXPECT_EQ(d->m_activateButton->text(), "Activate");
    EXPECT_EQ(d->m_serialGroup->title(), "Serial Port");
    EXPECT_EQ(d->m_bufferSizeLabel->text(), "Buffer Size:");
    EXPECT_TRUE(d->m_loginButton->isHidden());
}

TEST(SessionWindowUi, ClientServerSwitchChangesLabelsAndVisibility)
{
    ProgramRig rig;
    rig.Start();
    SessionWindow* d = Document(rig, 1);
    QTest::mouseClick(d->m_serverRadio, Qt::LeftButton);
    EXPECT_TRUE(d->m_remoteHostEdit->isHidden());
    EXPECT_FALSE(d->m_localIpBox->isHidden());
    EXPECT_EQ(d->m_hostLabel->text(), "Local IP Address");
    EXPECT_EQ(d->m_portLabel->text(), "Local Port");
    EXPECT_FALSE(d->m_localIpBox->currentText().isEmpty());
    QTest::mouseClick(d->m_clientRadio, Qt::LeftButton);
    EXPECT_EQ(d->m_hostLabel->text(), "Remote Host IP Address");
    EXPECT_EQ(d->m_portLabel->text(), "Remote Port");
    EXPECT_FALSE(d->m_remoteHostEdit->isHidden());
}

TEST(SessionWindowUi, PortMessageAppearsAtTheFifthDigit)
{
    ProgramRig rig;
    rig.Start();
    SessionWindow* d = Document(rig, 1);
    d->m_portEdit->clear();
    rig.shell().SessionAt(1)->SetPortNumber("");
    QTest::keyClicks(d->m_portEdit, "7000");
    EXPECT_TRUE(rig.prompts.messages.isEmpty());
    QTest::keyClicks(d->m_portEdit, "0");
    ASSERT_EQ(rig.prompts.messages.size(), 1);
    EXPECT_EQ(rig.prompts.messages[0], "Error|Port numbers must range between 0 and 65535");
    EXPECT_EQ(d->m_portEdit->text(), "70000");
}

TEST(SessionWindowUi, ServerOptionsDialogEditsTheSession)
{
    ProgramRig rig;
    rig.Start();
    SessionWindow* d = Document(rig, 1);
    QTest::mouseClick(d->m_serverRadio, Qt::LeftButton);
    rig.prompts.onDialog = [](QDialog& dialog) {
        auto* server = dynamic_cast<ServerOptionsDialog*>(&dialog);
        ASSERT_NE(server, nullptr);
        EXPECT_TRUE(server->m_serialDataRadios[0]->isChecked());
        server->m_serialDataRadios[2]->setChecked(true);
        server->m_multipleClientsCheck->setChecked(false);
        // A wrong entry is named and OK refused until it is put right.
        server->m_allowedClientsEdit->setText("10.0.0.0/8, 10.0.0.300");
        server->m_okButton->click();
        EXPECT_FALSE(server->m_allowedClientsError->isHidden());
        EXPECT_EQ(server->m_allowedClientsError->text(), "Not an address or prefix: 10.0.0.300");
        EXPECT_EQ(server->result(), QDialog::Rejected);
        server->m_allowedClientsEdit->setText(" 10.0.0.0/8, fd00::/8 ");
        EXPECT_EQ(server->m_tlsBox->m_enabledCheck->text(), "Encrypt connections (TLS)");
        server->m_tlsBox->m_enabledCheck->setChecked(true);
        server->m_tlsBox->m_certificateEdit->setText(" /etc/velkon/server.pem ");
        server->m_tlsBox->m_keyEdit->setText("/etc/velkon/server.key");
        server->m_okButton->click();
    };
    d->m_ioOptionsButton->click();
    EXPECT_EQ(rig.prompts.dialogs, 1);
    const SessionSettings& edited = rig.shell().SessionAt(1)->settings();
    EXPECT_EQ(edited.ServerSerialOptions, 2);
    EXPECT_EQ(edited.AllowMultiConnect, 0);
    EXPECT_EQ(edited.Tls, 1);
    EXPECT_EQ(edited.TlsCertificate, "/etc/velkon/server.pem");
    EXPECT_EQ(edited.TlsKey, "/etc/velkon/server.key");
    EXPECT_EQ(edited.TlsCaFile, "");
    EXPECT_EQ(edited.AllowedClients, "10.0.0.0/8, fd00::/8");
    rig.prompts.onDialog = [](QDialog& dialog) {
        auto* server = dynamic_cast<ServerOptionsDialog*>(&dialog);
        ASSERT_NE(server, nullptr);
        EXPECT_TRUE(server->m_serialDataRadios[2]->isChecked());
        server->m_networkDataRadios[1]->setChecked(true);
        server->m_cancelButton->click();
    };
    d->m_ioOptionsButton->click();
    EXPECT_EQ(rig.shell().SessionAt(1)->settings().ServerTCPOptions, 0);
}

TEST(MainWindowUi, FirstStartShowsTheWholeSessionWindowInBothLanguages)
{
    for (const char* language : {"en_US.UTF-8", "ja_JP.UTF-8"}) {
        SCOPED_TRACE(language);
        const QByteArray saved = qgetenv("LC_ALL");
        qputenv("LC_ALL", language);
        ProgramRig rig;
        rig.Start();
        qputenv("LC_ALL", saved);
        ASSERT_EQ(rig.main().mdiArea()->subWindowList().size(), 1);
        EXPECT_TRUE(rig.main().isVisible());
        const QMdiSubWindow* sub = rig.main().mdiArea()->subWindowList().front();
        EXPECT_TRUE(rig.main().mdiArea()->viewport()->rect().contains(sub->geometry()))
            << sub->geometry().width() << "x" << sub->geometry().height() << " in "
            << rig.main().mdiArea()->viewport()->width() << "x"
            << rig.main().mdiArea()->viewport()->height();
        rig.main().close();
        const IniFile file = IniFile::Parse(rig.ReadFile("default.vkc").toStdString());
        EXPECT_EQ(file.ReadInt("Velkon", "MainLeft", -1), 1000);
        EXPECT_EQ(file.ReadInt("Velkon", "MainTop", -1), 1000);
        EXPECT_GT(file.ReadInt("Velkon", "MainWidth", -1), 0);
        EXPECT_GT(file.ReadInt("Velkon", "MainHeight", -1), 0);
        EXPECT_EQ(file.ReadInt("Velkon", "NumSessions", -1), 1);
    }
}

TEST(MainWindowUi, StoredGeometryIsKeptExactlyAcrossASave)
{
    ProgramRig rig;
    rig.WriteFile("default.vkc",
                  "[Velkon]\nMainLeft=1234\nMainTop=567\nMainWidth=8901\n"
                  "MainHeight=6543\nNumSessions=1\n");
    rig.Start();
    rig.main().close();
    const IniFile file = IniFile::Parse(rig.ReadFile("default.vkc").toStdString());
    EXPECT_EQ(file.ReadInt("Velkon", "MainLeft", -1), 1234);
    EXPECT_EQ(file.ReadInt("Velkon", "MainTop", -1), 567);
    EXPECT_EQ(file.ReadInt("Velkon", "MainWidth", -1), 8901);
    EXPECT_EQ(file.ReadInt("Velkon", "MainHeight", -1), 6543);
}

TEST(MainWindowUi, CloseTheSecondOfThreeAndSaveWritesTwo)
{
    ProgramRig rig;
    rig.Start();
    rig.main().m_newAction->trigger();
    rig.main().m_newAction->trigger();
    ASSERT_EQ(rig.shell().sessions().size(), 3u);
    rig.shell().SessionAt(3)->SetConnector(9);
    auto windows = rig.main().mdiArea()->subWindowList(QMdiArea::CreationOrder);
    rig.main().mdiArea()->setActiveSubWindow(windows[1]);
    emit rig.main().m_fileMenu->aboutToShow();
    EXPECT_TRUE(rig.main().m_closeAction->isEnabled());
    rig.main().m_closeAction->trigger();
    ASSERT_EQ(rig.shell().sessions().size(), 2u);
    rig.prompts.saveAnswer = rig.Path("two.vkc");
    rig.main().m_saveAction->trigger();
    const IniFile file = IniFile::Parse(rig.ReadFile("two.vkc").toStdString());
    EXPECT_EQ(file.ReadInt("Velkon", "NumSessions", -1), 2);
    EXPECT_EQ(file.ReadInt("Session2", "Connector", -1), 9);
    EXPECT_TRUE(rig.prompts.filters.last().startsWith("Velkon Files (*.VKC)|*.vkc"));
    EXPECT_TRUE(rig.prompts.filters.last().endsWith("|vkc"));
}

TEST(MainWindowUi, CloseEntryIsDisabledWithoutSessions)
{
    ProgramRig rig;
    rig.Start();
    auto windows = rig.main().mdiArea()->subWindowList();
    windows[0]->close();  // the window's close box closes the session
    EXPECT_TRUE(rig.shell().sessions().empty());
    emit rig.main().m_fileMenu->aboutToShow();
    EXPECT_FALSE(rig.main().m_closeAction->isEnabled());
}

TEST(MainWindowUi, ExitWritesTheDefaultFileEvenAfterOpeningAnother)
{
    ProgramRig rig;
    rig.WriteFile("other.vkc", "[Velkon]\nNumSessions=2\n[Session1]\nConnector=4\n");
    rig.Start();
    rig.prompts.openAnswer = rig.Path("other.vkc");
    rig.main().m_openAction->trigger();
    ASSERT_EQ(rig.shell().sessions().size(), 2u);
    EXPECT_EQ(Document(rig, 1)->m_connectorBox->currentText(), "COM4");
    rig.main().m_exitAction->trigger();
    const IniFile saved = IniFile::Parse(rig.ReadFile("default.vkc").toStdString());
    EXPECT_EQ(saved.ReadInt("Velkon", "NumSessions", -1), 2);
    EXPECT_EQ(saved.ReadInt("Session1", "Connector", -1), 4);
    EXPECT_EQ(rig.ReadFile("other.vkc"), "[Velkon]\nNumSessions=2\n[Session1]\nConnector=4\n");
}

TEST(MainWindowUi, WindowMenuListsTheSessions)
{
    ProgramRig rig;
    rig.Start();
    rig.main().m_newAction->trigger();
    emit rig.main().m_windowMenu->aboutToShow();
    QStringList texts;
    for (QAction* a : rig.main().m_windowMenu->actions())
        texts << a->text();
    EXPECT_TRUE(texts.contains("&1 New - RS232 to TCP/IP"));
    EXPECT_TRUE(texts.contains("&2 New - RS232 to TCP/IP"));
    EXPECT_EQ(texts[0], "&Cascade");
}

TEST(Localization, JapaneseLocaleSwitchesMenusAndFont)
{
    qputenv("LANG", "ja_JP.UTF-8");
    ProgramRig rig;
    rig.Start();
    qunsetenv("LANG");
    EXPECT_EQ(rig.main().m_fileMenu->title(), QString::fromUtf8("ファイル(&F)"));
    EXPECT_NE(rig.main().m_windowMenu->title(), "&Window");
    SessionWindow* d = Document(rig, 1);
    EXPECT_NE(d->m_serialGroup->title(), "Serial Port");
    EXPECT_EQ(d->font().pointSize(), 8);
}

}  // namespace
}  // namespace velkon::test
