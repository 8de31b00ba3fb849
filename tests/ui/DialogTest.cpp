#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "PasswordDialogs.h"
#include "UiTestSupport.h"
#include "Version.h"
#include "frmAbout.h"
#include "frmOptions.h"
#include "shell/StringTable.h"

namespace velkon::test {
namespace {

const StringTable& English()
{
    return StringTable::English();
}

const QString kMismatch =
    "Velkon|Your confirming password does not match your password. Please re-enter.";

// The next widget that Tab moves the focus to.
QWidget* NextTabStop(QWidget* from)
{
    for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled())
            return w;
    }
    return nullptr;
}

// ---- Set-password dialog -------------------------------------------------

TEST(PasswordDialogUi, OpensWithTheCurrentPasswordInBothBoxes)
{
    std::string password = "Secret";
    FakePrompts prompts;
    Form1 dialog(password, English(), prompts);
    EXPECT_EQ(dialog.windowTitle(), "Velkon Password");
    EXPECT_EQ(dialog.Label1->text(), "Enter Password:");
    EXPECT_EQ(dialog.Label2->text(), "Confirm Password");
    EXPECT_EQ(dialog.Command1->text(), "&OK");
    EXPECT_EQ(dialog.Command2->text(), "&Cancel");
    EXPECT_EQ(dialog.Text1->text(), "Secret");
    EXPECT_EQ(dialog.Text2->text(), "Secret");
    EXPECT_TRUE(dialog.Command1->isDefault());
}

TEST(PasswordDialogUi, BoxesShowAStarForEachCharacter)
{
    std::string password = "abc";
    FakePrompts prompts;
    Form1 dialog(password, English(), prompts);
    dialog.show();
    EXPECT_EQ(dialog.Text1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.Text2->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.Text1->displayText(), "***");
    dialog.Text2->setText("hello");
    EXPECT_EQ(dialog.Text2->displayText(), "*****");

    Form2 ask(English());
    ask.show();
    ask.Text1->setText("xy");
    EXPECT_EQ(ask.Text1->displayText(), "**");
}

TEST(PasswordDialogUi, TabOrderRunsThroughTheBoxesThenOkThenCancel)
{
    std::string password;
    FakePrompts prompts;
    Form1 dialog(password, English(), prompts);
    EXPECT_EQ(NextTabStop(dialog.Text1), dialog.Text2);
    EXPECT_EQ(NextTabStop(dialog.Text2), dialog.Command1);
    EXPECT_EQ(NextTabStop(dialog.Command1), dialog.Command2);
    EXPECT_EQ(NextTabStop(dialog.Command2), dialog.Text1);
}

TEST(PasswordDialogUi, IsCentredOnTheScreen)
{
    std::string password;
    FakePrompts prompts;
    QWidget owner;
    owner.setGeometry(10, 10, 200, 100);
    Form1 dialog(password, English(), prompts, &owner);
    const QRect area = owner.screen()->geometry();
    EXPECT_EQ(dialog.x(), area.x() + area.width() / 2 - dialog.width() / 2);
    EXPECT_EQ(dialog.y(), area.y() + area.height() / 2 - dialog.height() / 2);
}

TEST(PasswordDialogUi, MismatchShowsTheMessageAndStaysOpenUnchanged)
{
    std::string password = "Old";
    FakePrompts prompts;
    Form1 dialog(password, English(), prompts);
    dialog.show();
    dialog.Text1->setText("new1");
    dialog.Text2->setText("new2");
    QTest::mouseClick(dialog.Command1, Qt::LeftButton);
    EXPECT_EQ(prompts.messages, QStringList{kMismatch});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Text1->text(), "new1");
    EXPECT_EQ(dialog.Text2->text(), "new2");
    EXPECT_EQ(password, "Old");

    // Equal texts afterwards are taken.
    dialog.Text2->setText("new1");
    QTest::mouseClick(dialog.Command1, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(password, "new1");
    EXPECT_EQ(prompts.messages.size(), 1);
}

TEST(PasswordDialogUi, PasswordsDifferingOnlyInCaseDoNotMatch)
{
    std::string password;
    FakePrompts prompts;
    Form1 dialog(password, English(), prompts);
    dialog.Text1->setText("Secret");
    dialog.Text2->setText("secret");
    dialog.Command1->click();
    EXPECT_EQ(prompts.messages, QStringList{kMismatch});
    EXPECT_EQ(password, "");
}

TEST(PasswordDialogUi, EmptyBoxesAndOkRemoveThePassword)
{
    std::string password = "Secret";
    FakePrompts prompts;
    Form1 dialog(password, English(), prompts);
    dialog.Text1->clear();
    dialog.Text2->clear();
    dialog.Command1->click();
    EXPECT_EQ(password, "");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PasswordDialogUi, OkWithoutChangesKeepsAPresetPassword)
{
    std::string password = "Pa55 word";
    FakePrompts prompts;
    Form1 dialog(password, English(), prompts);
    dialog.Command1->click();
    EXPECT_EQ(password, "Pa55 word");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PasswordDialogUi, CancelAndEscapeChangeNothing)
{
    std::string password = "Secret";
    FakePrompts prompts;
    {
        Form1 dialog(password, English(), prompts);
        dialog.show();
        dialog.Text1->setText("other");
        dialog.Text2->setText("other");
        dialog.Command2->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        Form1 dialog(password, English(), prompts);
        dialog.show();
        dialog.Text1->setText("other");
        dialog.Text2->setText("other");
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_EQ(password, "Secret");
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PasswordDialogUi, EnterPressesOk)
{
    std::string password;
    FakePrompts prompts;
    Form1 dialog(password, English(), prompts);
    dialog.show();
    dialog.Text1->setText("abc");
    dialog.Text2->setText("abc");
    QTest::keyClick(dialog.Text2, Qt::Key_Return);
    EXPECT_EQ(password, "abc");
}

// ---- CheckPassword --------------------------------------------------------

// Answers the enter-password dialog by typing `text` and pressing `button`
// (1 OK, 2 Cancel, 0 closing it otherwise).
std::function<void(QDialog&)> Answer(const QString& text, int button)
{
    return [text, button](QDialog& dialog) {
        auto* ask = dynamic_cast<Form2*>(&dialog);
        ASSERT_NE(ask, nullptr);
        EXPECT_TRUE(ask->Text1->text().isEmpty());
        EXPECT_EQ(ask->Text1->echoMode(), QLineEdit::Password);
        ask->Text1->setText(text);
        if (button == 1)
            ask->Command1->click();
        if (button == 2)
            ask->Command2->click();
        if (button == 0)
            ask->reject();
    };
}

TEST(CheckPasswordUi, EnterPasswordDialogTexts)
{
    Form2 ask(English());
    EXPECT_EQ(ask.windowTitle(), "Velkon Password");
    EXPECT_EQ(ask.Label1->text(), "Enter Password:");
    EXPECT_EQ(ask.Command1->text(), "&OK");
    EXPECT_EQ(ask.Command2->text(), "&Cancel");
    EXPECT_TRUE(ask.Command1->isDefault());
    EXPECT_EQ(NextTabStop(ask.Text1), ask.Command1);
    EXPECT_EQ(NextTabStop(ask.Command1), ask.Command2);
    EXPECT_EQ(NextTabStop(ask.Command2), ask.Text1);
}

TEST(CheckPasswordUi, NoPasswordPassesWithoutAnyDialog)
{
    FakePrompts prompts;
    EXPECT_TRUE(CheckPassword("", English(), prompts));
    EXPECT_EQ(prompts.dialogs, 0);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(CheckPasswordUi, RightPasswordPasses)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("Secret", 1);
    EXPECT_TRUE(CheckPassword("Secret", English(), prompts));
    EXPECT_EQ(prompts.dialogs, 1);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(CheckPasswordUi, WrongCaseFailsWithInvalidPassword)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("secret", 1);
    EXPECT_FALSE(CheckPassword("Secret", English(), prompts));
    EXPECT_EQ(prompts.messages, QStringList{"Velkon|Invalid password"});
}

TEST(CheckPasswordUi, CancelFailsSilentlyEvenAfterTyping)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("wrong", 2);
    EXPECT_FALSE(CheckPassword("Secret", English(), prompts));
    EXPECT_TRUE(prompts.messages.isEmpty());

    prompts.onDialog = Answer("Secret", 2);
    EXPECT_FALSE(CheckPassword("Secret", English(), prompts));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(CheckPasswordUi, ClosingTheDialogOtherwiseFailsSilently)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("Secret", 0);
    EXPECT_FALSE(CheckPassword("Secret", English(), prompts));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(CheckPasswordUi, EmptyEntryFailsSilently)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("", 1);
    EXPECT_FALSE(CheckPassword("Secret", English(), prompts));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(CheckPasswordUi, EachCheckAsksAgain)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("nope", 1);
    EXPECT_FALSE(CheckPassword("Secret", English(), prompts));
    prompts.onDialog = Answer("Secret", 1);
    EXPECT_TRUE(CheckPassword("Secret", English(), prompts));
    EXPECT_EQ(prompts.dialogs, 2);
    EXPECT_EQ(prompts.messages.size(), 1);
}

// ---- General options dialog -----------------------------------------------

int StoredPacketSize(const QString& text)
{
    GlobalSettings settings;
    settings.PacketSize = 1234;
    FakePrompts prompts;
    frmOptions dialog(settings, English(), prompts);
    dialog.Combo1->setEditText(text);
    dialog.Command2->click();
    return settings.PacketSize;
}

TEST(OptionsDialogUi, PacketSizeRules)
{
    EXPECT_EQ(StoredPacketSize("4000"), 4000);
    EXPECT_EQ(StoredPacketSize("10000"), 10000);
    EXPECT_EQ(StoredPacketSize("10001"), 2000);
    EXPECT_EQ(StoredPacketSize("0"), 2000);
    EXPECT_EQ(StoredPacketSize("-5"), 2000);
    EXPECT_EQ(StoredPacketSize("abc"), 2000);
    EXPECT_EQ(StoredPacketSize(""), 2000);
    EXPECT_EQ(StoredPacketSize("1"), 1);
    EXPECT_EQ(StoredPacketSize("2.5"), 2);
    EXPECT_EQ(StoredPacketSize("3.5"), 4);
    EXPECT_EQ(StoredPacketSize("750"), 750);
    EXPECT_EQ(StoredPacketSize(" 1 500 bytes"), 1500);
}

TEST(OptionsDialogUi, TypedPacketSizeIsNotCompletedFromTheList)
{
    GlobalSettings settings;
    FakePrompts prompts;
    frmOptions dialog(settings, English(), prompts);
    dialog.show();
    dialog.Combo1->lineEdit()->clear();
    // A line edit's completer acts only once the box has had the focus.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(dialog.Combo1->lineEdit(), &focusIn);
    QTest::keyClicks(dialog.Combo1->lineEdit(), "1");
    EXPECT_EQ(dialog.Combo1->currentText(), "1");
    QTest::keyClick(dialog.Combo1->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(dialog.Combo1->count(), 7);
    dialog.Command2->click();
    EXPECT_EQ(settings.PacketSize, 1);
}

TEST(OptionsDialogUi, PacketSizeOutsideTheListShowsAtTheNextOpening)
{
    GlobalSettings settings;
    FakePrompts prompts;
    {
        frmOptions dialog(settings, English(), prompts);
        dialog.Combo1->setEditText("750");
        dialog.Command2->click();
    }
    EXPECT_EQ(settings.PacketSize, 750);
    frmOptions again(settings, English(), prompts);
    EXPECT_EQ(again.Combo1->currentText(), "750");
}

TEST(OptionsDialogUi, OpeningShowsTheSettings)
{
    GlobalSettings settings;
    settings.OnErrorRunApp = "/usr/local/bin/alarm --loud";
    settings.LogErrors = 1;
    settings.PingEnabled = 1;
    settings.PingFrequency = 1;
    settings.PingTimeout = 9;
    settings.PacketSize = 4000;
    settings.LoadWithWindows = 1;
    FakePrompts prompts;
    frmOptions dialog(settings, English(), prompts);

    EXPECT_EQ(dialog.windowTitle(), "Velkon Options");
    EXPECT_EQ(dialog.Label2->text(), "Max bytes per TCP/IP packet:");
    EXPECT_EQ(dialog.Check1->text(), "Log all errors to file: errorlog.txt");
    EXPECT_EQ(dialog.Frame1->title(), "Run external program when errors occur:");
    EXPECT_EQ(dialog.Label1->text(), "Command Line:");
    EXPECT_EQ(dialog.Command1->text(), "Browse...");
    EXPECT_EQ(dialog.Frame2->title(), "Ping remote IP Addresses to detect failed connections:");
    EXPECT_EQ(dialog.Check2->text(), "Enable remote pings");
    EXPECT_EQ(dialog.Label3->text(), "Ping frequency (secs):");
    EXPECT_EQ(dialog.Label4->text(), "Ping Timeout (ms):");
    EXPECT_EQ(dialog.Command2->text(), "&OK");
    EXPECT_EQ(dialog.Command3->text(), "&Cancel");
    EXPECT_FALSE(dialog.chkLoadWithWindows->text().isEmpty());

    EXPECT_EQ(dialog.Text1->text(), "/usr/local/bin/alarm --loud");
    EXPECT_TRUE(dialog.Check1->isChecked());
    EXPECT_TRUE(dialog.Check2->isChecked());
    EXPECT_TRUE(dialog.chkLoadWithWindows->isChecked());
    EXPECT_EQ(dialog.Combo1->currentText(), "4000");
    ASSERT_EQ(dialog.Combo1->count(), 7);
    EXPECT_EQ(dialog.Combo1->itemText(0), "50");
    EXPECT_EQ(dialog.Combo1->itemText(6), "4000");
    EXPECT_TRUE(dialog.Combo1->isEditable());
    EXPECT_FALSE(dialog.Combo2->isEditable());
    EXPECT_FALSE(dialog.Combo3->isEditable());
    ASSERT_EQ(dialog.Combo2->count(), 12);
    EXPECT_EQ(dialog.Combo2->itemText(0), "5 Seconds");
    EXPECT_EQ(dialog.Combo2->itemText(11), "60 Seconds");
    ASSERT_EQ(dialog.Combo3->count(), 20);
    EXPECT_EQ(dialog.Combo3->itemText(0), "100 ms");
    EXPECT_EQ(dialog.Combo3->itemText(19), "2000 ms");
    EXPECT_EQ(dialog.Combo2->currentText(), "10 Seconds");
    EXPECT_EQ(dialog.Combo3->currentText(), "1000 ms");
}

TEST(OptionsDialogUi, OkStoresEveryControl)
{
    GlobalSettings settings;
    FakePrompts prompts;
    frmOptions dialog(settings, English(), prompts);
    dialog.Text1->setText("/opt/notify");
    dialog.Check1->setChecked(true);
    dialog.Combo1->setEditText("500");
    dialog.Check2->setChecked(true);
    dialog.Combo2->setCurrentIndex(11);
    dialog.Combo3->setCurrentIndex(0);
    dialog.chkLoadWithWindows->setChecked(true);
    dialog.Command2->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.OnErrorRunApp, "/opt/notify");
    EXPECT_EQ(settings.LogErrors, 1);
    EXPECT_EQ(settings.PacketSize, 500);
    EXPECT_EQ(settings.PingEnabled, 1);
    EXPECT_EQ(settings.PingFrequency, 11);
    EXPECT_EQ(settings.PingTimeout, 0);
    EXPECT_EQ(settings.LoadWithWindows, 1);
    EXPECT_EQ(settings.Password, "");

    frmOptions clear(settings, English(), prompts);
    clear.Check1->setChecked(false);
    clear.Check2->setChecked(false);
    clear.chkLoadWithWindows->setChecked(false);
    clear.Text1->clear();
    clear.Command2->click();
    EXPECT_EQ(settings.LogErrors, 0);
    EXPECT_EQ(settings.PingEnabled, 0);
    EXPECT_EQ(settings.LoadWithWindows, 0);
    EXPECT_EQ(settings.OnErrorRunApp, "");
}

TEST(OptionsDialogUi, NoSelectionStaysMinusOne)
{
    GlobalSettings settings;
    settings.PingFrequency = -1;
    settings.PingTimeout = -1;
    FakePrompts prompts;
    frmOptions dialog(settings, English(), prompts);
    EXPECT_EQ(dialog.Combo2->currentIndex(), -1);
    EXPECT_EQ(dialog.Combo3->currentIndex(), -1);
    EXPECT_EQ(dialog.Combo2->currentText(), "");
    EXPECT_EQ(dialog.Combo3->currentText(), "");
    dialog.Command2->click();
    EXPECT_EQ(settings.PingFrequency, -1);
    EXPECT_EQ(settings.PingTimeout, -1);
}

TEST(OptionsDialogUi, ValuesOutsideTheListsShowNoSelectionAndSurviveOk)
{
    GlobalSettings settings;
    settings.PingFrequency = 30;
    settings.PingTimeout = -7;
    FakePrompts prompts;
    {
        frmOptions dialog(settings, English(), prompts);
        EXPECT_EQ(dialog.Combo2->currentIndex(), -1);
        EXPECT_EQ(dialog.Combo3->currentIndex(), -1);
        dialog.Command2->click();
    }
    EXPECT_EQ(settings.PingFrequency, 30);
    EXPECT_EQ(settings.PingTimeout, -7);
    {
        frmOptions dialog(settings, English(), prompts);
        dialog.Combo2->setCurrentIndex(2);
        dialog.Combo3->setCurrentIndex(4);
        dialog.Command2->click();
    }
    EXPECT_EQ(settings.PingFrequency, 2);
    EXPECT_EQ(settings.PingTimeout, 4);
}

TEST(OptionsDialogUi, CancelAfterChangingEverythingChangesNothing)
{
    GlobalSettings settings;
    settings.OnErrorRunApp = "/bin/true";
    settings.Password = "pw";
    settings.LogErrors = 0;
    settings.PingEnabled = 0;
    settings.PingFrequency = 3;
    settings.PingTimeout = 5;
    settings.PacketSize = 100;
    settings.LoadWithWindows = 0;
    const GlobalSettings before = settings;
    FakePrompts prompts;
    prompts.openAnswer = "/usr/bin/logger";
    frmOptions dialog(settings, English(), prompts);
    dialog.show();
    dialog.Command1->click();
    dialog.Check1->setChecked(true);
    dialog.Combo1->setEditText("4000");
    dialog.Check2->setChecked(true);
    dialog.Combo2->setCurrentIndex(0);
    dialog.Combo3->setCurrentIndex(19);
    dialog.chkLoadWithWindows->setChecked(true);
    dialog.Command3->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(settings.OnErrorRunApp, before.OnErrorRunApp);
    EXPECT_EQ(settings.Password, before.Password);
    EXPECT_EQ(settings.LogErrors, before.LogErrors);
    EXPECT_EQ(settings.PingEnabled, before.PingEnabled);
    EXPECT_EQ(settings.PingFrequency, before.PingFrequency);
    EXPECT_EQ(settings.PingTimeout, before.PingTimeout);
    EXPECT_EQ(settings.PacketSize, before.PacketSize);
    EXPECT_EQ(settings.LoadWithWindows, before.LoadWithWindows);
}

TEST(OptionsDialogUi, BrowseFillsTheCommandLineAndKeepsTheLastName)
{
    GlobalSettings settings;
    settings.OnErrorRunApp = "typed by hand";
    FakePrompts prompts;
    frmOptions dialog(settings, English(), prompts);

    // A cancelled first Browse... leaves the text alone.
    dialog.Command1->click();
    EXPECT_EQ(dialog.Text1->text(), "typed by hand");
    ASSERT_EQ(prompts.filters.size(), 1);
    EXPECT_EQ(prompts.filters[0], "Programs (*)|*|All Files (*.*)|*.*");

    prompts.openAnswer = "/usr/bin/first";
    dialog.Command1->click();
    EXPECT_EQ(dialog.Text1->text(), "/usr/bin/first");

    // Cancelled after a successful one: the earlier name comes back.
    dialog.Text1->setText("edited");
    prompts.openAnswer.clear();
    dialog.Command1->click();
    EXPECT_EQ(dialog.Text1->text(), "/usr/bin/first");

    // A path with blanks is quoted, so it stays one program when it runs.
    prompts.openAnswer = "/opt/my tools/alarm \"now\"";
    dialog.Command1->click();
    EXPECT_EQ(dialog.Text1->text(), "\"/opt/my tools/alarm \\\"now\\\"\"");
    dialog.Command2->click();
    EXPECT_EQ(settings.OnErrorRunApp, "\"/opt/my tools/alarm \\\"now\\\"\"");
}

TEST(OptionsDialogUi, ANewDialogForgetsTheBrowsedName)
{
    GlobalSettings settings;
    FakePrompts prompts;
    {
        prompts.openAnswer = "/usr/bin/first";
        frmOptions dialog(settings, English(), prompts);
        dialog.Command1->click();
        dialog.Command3->click();
    }
    prompts.openAnswer.clear();
    frmOptions dialog(settings, English(), prompts);
    dialog.Command1->click();
    EXPECT_EQ(dialog.Text1->text(), "");
}

// ---- About box --------------------------------------------------------------

struct SysInfoRig {
    QStringList installed;  // names found on the PATH
    bool startWorks = true;
    QStringList lookedUp;
    QStringList started;
    QList<QUrl> opened;

    frmAbout::FindProgram find()
    {
        return [this](const QString& name) {
            lookedUp << name;
            return installed.contains(name) ? "/usr/bin/" + name : QString();
        };
    }
    frmAbout::StartProgram start()
    {
        return [this](const QString& path) {
            started << path;
            return startWorks;
        };
    }
    frmAbout::OpenUrl open()
    {
        return [this](const QUrl& url) {
            opened << url;
            return false;
        };
    }
};

TEST(AboutBoxUi, VersionLabelReadsTheBuildVersion)
{
    FakePrompts prompts;
    SysInfoRig rig;
    frmAbout about(English(), prompts, nullptr, rig.find(), rig.start(), rig.open());
    const QString version =
        QString("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
    EXPECT_EQ(about.lblVersion->text(), "Velkon  Version " + version);
}

TEST(AboutBoxUi, ShowsTitleNoticeAndButtons)
{
    FakePrompts prompts;
    SysInfoRig rig;
    frmAbout about(English(), prompts, nullptr, rig.find(), rig.start(), rig.open());
    EXPECT_EQ(about.windowTitle(), "About Velkon");
    EXPECT_EQ(about.lblTitle->text(), "RS232 to TCP/IP Converter");
    EXPECT_EQ(about.lblDisclaimer->text(), QString::fromStdString(English().Text(1102)));
    EXPECT_EQ(about.cmdOK->text(), "&OK");
    EXPECT_EQ(about.cmdSysInfo->text(), "&System Info...");
    const QStringList lines = about.lblDescription->text().split('\n');
    ASSERT_GE(lines.size(), 5);
    const QString year = QString::number(QDate::currentDate().year());
    EXPECT_EQ(lines[0], "Copyright (C) 2024-" + year + " Ulmaro");
    EXPECT_TRUE(about.lblDescription->text().contains("example.com"));
    EXPECT_TRUE(about.Label4->text().contains(frmAbout::kMakerUrl));
}

TEST(AboutBoxUi, OkCloses)
{
    FakePrompts prompts;
    frmAbout about(English(), prompts);
    about.show();
    about.cmdOK->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(AboutBoxUi, SystemInfoStartsTheFirstProgramFound)
{
    FakePrompts prompts;
    SysInfoRig rig;
    rig.installed = {"kinfocenter", "gnome-system-monitor"};
    frmAbout about(English(), prompts, nullptr, rig.find(), rig.start(), rig.open());
    about.cmdSysInfo->click();
    EXPECT_EQ(rig.started, QStringList{"/usr/bin/gnome-system-monitor"});
    EXPECT_TRUE(prompts.messages.isEmpty());
    // The list is tried in its order, and the search ends at the first find.
    const QStringList order = frmAbout::SysInfoPrograms();
    const int at = order.indexOf("gnome-system-monitor");
    ASSERT_GE(at, 0);
    EXPECT_EQ(rig.lookedUp, order.mid(0, at + 1));
}

TEST(AboutBoxUi, SystemInfoWithoutAnyProgramShowsTheMessage)
{
    FakePrompts prompts;
    SysInfoRig rig;
    frmAbout about(English(), prompts, nullptr, rig.find(), rig.start(), rig.open());
    about.cmdSysInfo->click();
    EXPECT_TRUE(rig.started.isEmpty());
    EXPECT_EQ(rig.lookedUp, frmAbout::SysInfoPrograms());
    EXPECT_EQ(prompts.messages,
              QStringList{"Velkon|System Information Is Unavailable At This Time"});
}

TEST(AboutBoxUi, SystemInfoThatFailsToStartShowsTheMessage)
{
    FakePrompts prompts;
    SysInfoRig rig;
    rig.installed = {"hardinfo"};
    rig.startWorks = false;
    frmAbout about(English(), prompts, nullptr, rig.find(), rig.start(), rig.open());
    about.cmdSysInfo->click();
    EXPECT_EQ(rig.started, QStringList{"/usr/bin/hardinfo"});
    EXPECT_EQ(prompts.messages,
              QStringList{"Velkon|System Information Is Unavailable At This Time"});
}

TEST(AboutBoxUi, TheLinkOpensTheMakersPageAndAFailureSaysNothing)
{
    FakePrompts prompts;
    SysInfoRig rig;
    frmAbout about(English(), prompts, nullptr, rig.find(), rig.start(), rig.open());
    emit about.Label4->linkActivated(frmAbout::kMakerUrl);
    ASSERT_EQ(rig.opened.size(), 1);
    EXPECT_EQ(rig.opened[0], QUrl(frmAbout::kMakerUrl));
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// ---- Japanese ---------------------------------------------------------------

TEST(DialogJapaneseUi, CaptionsComeFromTheJapaneseTable)
{
    const StringTable& ja = StringTable::Japanese();
    FakePrompts prompts;
    std::string password;
    Form1 setPassword(password, ja, prompts);
    EXPECT_EQ(setPassword.windowTitle(), QString::fromStdString(ja.Text(5010)));
    EXPECT_NE(setPassword.windowTitle(), "Velkon Password");
    EXPECT_NE(setPassword.Label2->text(), "Confirm Password");

    GlobalSettings settings;
    frmOptions options(settings, ja, prompts);
    EXPECT_EQ(options.windowTitle(), QString::fromStdString(ja.Text(5029)));
    EXPECT_NE(options.windowTitle(), "Velkon Options");
    EXPECT_EQ(options.Label2->text(), QString::fromStdString(ja.Text(5030)));

    frmAbout about(ja, prompts);
    EXPECT_NE(about.windowTitle(), "About Velkon");
    EXPECT_EQ(about.lblTitle->text(), QString::fromStdString(ja.Text(5058)));

    // Messages follow the table too.
    prompts.onDialog = Answer("wrong", 1);
    EXPECT_FALSE(CheckPassword("Secret", ja, prompts));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "Velkon|" + QString::fromStdString(ja.Text(5065)));
}

}  // namespace
}  // namespace velkon::test
