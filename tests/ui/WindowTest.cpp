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
#include "UiTestSupport.h"
#include "frmDocument.h"
#include "shell/IniFile.h"

namespace velkon::test {
namespace {

frmDocument* Document(ProgramRig& rig, int number)
{
    return rig.main().DocumentOf(*rig.shell().SessionAt(number));
}

TEST(SessionWindowUi, NewWindowShowsTheInitialState)
{
    ProgramRig rig;
    rig.Start();
    ASSERT_EQ(rig.shell().sessions().size(), 1u);
    frmDocument* d = Document(rig, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Combo2->currentText(), "None");
    EXPECT_EQ(d->Combo2->count(), 257);
    EXPECT_EQ(d->Combo1[0]->currentText(), "9600");
    EXPECT_EQ(d->Combo1[1]->currentText(), "None");
    EXPECT_EQ(d->Combo1[2]->currentText(), "8");
    EXPECT_EQ(d->Combo1[3]->currentText(), "1");
    EXPECT_EQ(d->Combo1[4]->currentText(), "None");
    EXPECT_EQ(d->Combo1[5]->currentText(), "8192");
    EXPECT_EQ(d->PortNumber->text(), "1000");
    EXPECT_EQ(d->txtTimeoutValue->text(), "150");
    EXPECT_TRUE(d->TCPOption[0]->isChecked());
    EXPECT_FALSE(d->IPAddress->isHidden());
    EXPECT_TRUE(d->IPAddress->text().isEmpty());
    EXPECT_TRUE(d->LocalIP->isHidden());
    for (QCheckBox* box : {d->chkVPort, d->BufferSerData, d->WaitForCr, d->chkUDP}) {
        EXPECT_FALSE(box->isChecked());
    }
    EXPECT_EQ(d->windowTitle(), "New - RS232 to TCP/IP");
    EXPECT_EQ(d->StatusBar1[0]->text(), "COM Status:");
    EXPECT_EQ(d->StatusBar1[1]->text(), "TCP/IP Status:");
    EXPECT_EQ(d->Command1->text(), "Activate");
    EXPECT_EQ(d->Frame1->title(), "Serial Port");
    EXPECT_EQ(d->Label1[6]->text(), "Buffer Size:");
    EXPECT_TRUE(d->btnLogin->isHidden());
}

TEST(SessionWindowUi, ClientServerSwitchChangesLabelsAndVisibility)
{
    ProgramRig rig;
    rig.Start();
    frmDocument* d = Document(rig, 1);
    QTest::mouseClick(d->TCPOption[1], Qt::LeftButton);
    EXPECT_TRUE(d->IPAddress->isHidden());
    EXPECT_FALSE(d->LocalIP->isHidden());
    EXPECT_EQ(d->Label2->text(), "Local IP Address");
    EXPECT_EQ(d->Label3->text(), "Local Port");
    EXPECT_FALSE(d->LocalIP->currentText().isEmpty());
    QTest::mouseClick(d->TCPOption[0], Qt::LeftButton);
    EXPECT_EQ(d->Label2->text(), "Remote Host IP Address");
    EXPECT_EQ(d->Label3->text(), "Remote Port");
    EXPECT_FALSE(d->IPAddress->isHidden());
}

TEST(SessionWindowUi, PortMessageAppearsAtTheFifthDigit)
{
    ProgramRig rig;
    rig.Start();
    frmDocument* d = Document(rig, 1);
    d->PortNumber->clear();
    rig.shell().SessionAt(1)->SetPortNumber("");
    QTest::keyClicks(d->PortNumber, "7000");
    EXPECT_TRUE(rig.prompts.messages.isEmpty());
    QTest::keyClicks(d->PortNumber, "0");
    ASSERT_EQ(rig.prompts.messages.size(), 1);
    EXPECT_EQ(rig.prompts.messages[0], "Error|Port numbers must range between 0 and 65535");
    EXPECT_EQ(d->PortNumber->text(), "70000");
}

TEST(SessionWindowUi, ServerOptionsDialogEditsTheSession)
{
    ProgramRig rig;
    rig.Start();
    frmDocument* d = Document(rig, 1);
    QTest::mouseClick(d->TCPOption[1], Qt::LeftButton);
    rig.prompts.onDialog = [](QDialog& dialog) {
        auto* server = dynamic_cast<frmServerOptions*>(&dialog);
        ASSERT_NE(server, nullptr);
        EXPECT_TRUE(server->OptionSerial[0]->isChecked());
        server->OptionSerial[2]->setChecked(true);
        server->chkMultiClients->setChecked(false);
        server->Command1->click();
    };
    d->Command2->click();
    EXPECT_EQ(rig.prompts.dialogs, 1);
    EXPECT_EQ(rig.shell().SessionAt(1)->settings().ServerSerialOptions, 2);
    EXPECT_EQ(rig.shell().SessionAt(1)->settings().AllowMultiConnect, 0);
    rig.prompts.onDialog = [](QDialog& dialog) {
        auto* server = dynamic_cast<frmServerOptions*>(&dialog);
        ASSERT_NE(server, nullptr);
        EXPECT_TRUE(server->OptionSerial[2]->isChecked());
        server->OptionTCP[1]->setChecked(true);
        server->Command2->click();
    };
    d->Command2->click();
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
    rig.main().mnuFileNew->trigger();
    rig.main().mnuFileNew->trigger();
    ASSERT_EQ(rig.shell().sessions().size(), 3u);
    rig.shell().SessionAt(3)->SetConnector(9);
    auto windows = rig.main().mdiArea()->subWindowList(QMdiArea::CreationOrder);
    rig.main().mdiArea()->setActiveSubWindow(windows[1]);
    emit rig.main().mnuFile->aboutToShow();
    EXPECT_TRUE(rig.main().mnuFileClose->isEnabled());
    rig.main().mnuFileClose->trigger();
    ASSERT_EQ(rig.shell().sessions().size(), 2u);
    rig.prompts.saveAnswer = rig.Path("two.vkc");
    rig.main().mnuFileSave->trigger();
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
    emit rig.main().mnuFile->aboutToShow();
    EXPECT_FALSE(rig.main().mnuFileClose->isEnabled());
}

TEST(MainWindowUi, ExitWritesTheDefaultFileEvenAfterOpeningAnother)
{
    ProgramRig rig;
    rig.WriteFile("other.vkc", "[Velkon]\nNumSessions=2\n[Session1]\nConnector=4\n");
    rig.Start();
    rig.prompts.openAnswer = rig.Path("other.vkc");
    rig.main().mnuFileOpen->trigger();
    ASSERT_EQ(rig.shell().sessions().size(), 2u);
    EXPECT_EQ(Document(rig, 1)->Combo2->currentText(), "COM4");
    rig.main().mnuFileExit->trigger();
    const IniFile saved = IniFile::Parse(rig.ReadFile("default.vkc").toStdString());
    EXPECT_EQ(saved.ReadInt("Velkon", "NumSessions", -1), 2);
    EXPECT_EQ(saved.ReadInt("Session1", "Connector", -1), 4);
    EXPECT_EQ(rig.ReadFile("other.vkc"), "[Velkon]\nNumSessions=2\n[Session1]\nConnector=4\n");
}

TEST(MainWindowUi, WindowMenuListsTheSessions)
{
    ProgramRig rig;
    rig.Start();
    rig.main().mnuFileNew->trigger();
    emit rig.main().mnuWindow->aboutToShow();
    QStringList texts;
    for (QAction* a : rig.main().mnuWindow->actions())
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
    EXPECT_EQ(rig.main().mnuFile->title(), QString::fromUtf8("ファイル(&F)"));
    EXPECT_NE(rig.main().mnuWindow->title(), "&Window");
    frmDocument* d = Document(rig, 1);
    EXPECT_NE(d->Frame1->title(), "Serial Port");
    EXPECT_EQ(d->font().pointSize(), 8);
}

}  // namespace
}  // namespace velkon::test
