#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include "AboutBox.h"
#include "OptionsDialog.h"
#include "PasswordDialogs.h"
#include "SystemInfoDialog.h"
#include "UiTestSupport.h"
#include "Version.h"
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

TEST(SetPasswordDialogUi, OpensWithTheCurrentPasswordInBothBoxes)
{
    std::string password = "Secret";
    FakePrompts prompts;
    SetPasswordDialog dialog(password, English(), prompts);
    EXPECT_EQ(dialog.windowTitle(), "Velkon Password");
    EXPECT_EQ(dialog.m_passwordLabel->text(), "Enter Password:");
    EXPECT_EQ(dialog.m_confirmLabel->text(), "Confirm Password");
    EXPECT_EQ(dialog.m_okButton->text(), "&OK");
    EXPECT_EQ(dialog.m_cancelButton->text(), "&Cancel");
    EXPECT_EQ(dialog.m_passwordEdit->text(), "Secret");
    EXPECT_EQ(dialog.m_confirmEdit->text(), "Secret");
    EXPECT_TRUE(dialog.m_okButton->isDefault());
}

TEST(SetPasswordDialogUi, BoxesShowAStarForEachCharacter)
{
    std::string password = "abc";
    FakePrompts prompts;
    SetPasswordDialog dialog(password, English(), prompts);
    dialog.show();
    EXPECT_EQ(dialog.m_passwordEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.m_confirmEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.m_passwordEdit->displayText(), "***");
    dialog.m_confirmEdit->setText("hello");
    EXPECT_EQ(dialog.m_confirmEdit->displayText(), "*****");

    PasswordDialog ask(English());
    ask.show();
    ask.m_passwordEdit->setText("xy");
    EXPECT_EQ(ask.m_passwordEdit->displayText(), "**");
}

TEST(SetPasswordDialogUi, TabOrderRunsThroughTheBoxesThenOkThenCancel)
{
    std::string password;
    FakePrompts prompts;
    SetPasswordDialog dialog(password, English(), prompts);
    EXPECT_EQ(NextTabStop(dialog.m_passwordEdit), dialog.m_confirmEdit);
    EXPECT_EQ(NextTabStop(dialog.m_confirmEdit), dialog.m_okButton);
    EXPECT_EQ(NextTabStop(dialog.m_okButton), dialog.m_cancelButton);
    EXPECT_EQ(NextTabStop(dialog.m_cancelButton), dialog.m_passwordEdit);
}

TEST(SetPasswordDialogUi, IsCentredOnTheScreen)
{
    std::string password;
    FakePrompts prompts;
    QWidget owner;
    owner.setGeometry(10, 10, 200, 100);
    SetPasswordDialog dialog(password, English(), prompts, &owner);
    const QRect area = owner.screen()->geometry();
    EXPECT_EQ(dialog.x(), area.x() + area.width() / 2 - dialog.width() / 2);
    EXPECT_EQ(dialog.y(), area.y() + area.height() / 2 - dialog.height() / 2);
}

TEST(SetPasswordDialogUi, MismatchShowsTheMessageAndStaysOpenUnchanged)
{
    std::string password = "Old";
    FakePrompts prompts;
    SetPasswordDialog dialog(password, English(), prompts);
    dialog.show();
    dialog.m_passwordEdit->setText("new1");
    dialog.m_confirmEdit->setText("new2");
    QTest::mouseClick(dialog.m_okButton, Qt::LeftButton);
    EXPECT_EQ(prompts.messages, QStringList{kMismatch});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.m_passwordEdit->text(), "new1");
    EXPECT_EQ(dialog.m_confirmEdit->text(), "new2");
    EXPECT_EQ(password, "Old");

    // Equal texts afterwards are taken.
    dialog.m_confirmEdit->setText("new1");
    QTest::mouseClick(dialog.m_okButton, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(password, "new1");
    EXPECT_EQ(prompts.messages.size(), 1);
}

TEST(SetPasswordDialogUi, PasswordsDifferingOnlyInCaseDoNotMatch)
{
    std::string password;
    FakePrompts prompts;
    SetPasswordDialog dialog(password, English(), prompts);
    dialog.m_passwordEdit->setText("Secret");
    dialog.m_confirmEdit->setText("secret");
    dialog.m_okButton->click();
    EXPECT_EQ(prompts.messages, QStringList{kMismatch});
    EXPECT_EQ(password, "");
}

TEST(SetPasswordDialogUi, EmptyBoxesAndOkRemoveThePassword)
{
    std::string password = "Secret";
    FakePrompts prompts;
    SetPasswordDialog dialog(password, English(), prompts);
    dialog.m_passwordEdit->clear();
    dialog.m_confirmEdit->clear();
    dialog.m_okButton->click();
    EXPECT_EQ(password, "");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(SetPasswordDialogUi, OkWithoutChangesKeepsAPresetPassword)
{
    std::string password = "Pa55 word";
    FakePrompts prompts;
    SetPasswordDialog dialog(password, English(), prompts);
    dialog.m_okButton->click();
    EXPECT_EQ(password, "Pa55 word");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(SetPasswordDialogUi, CancelAndEscapeChangeNothing)
{
    std::string password = "Secret";
    FakePrompts prompts;
    {
        SetPasswordDialog dialog(password, English(), prompts);
        dialog.show();
        dialog.m_passwordEdit->setText("other");
        dialog.m_confirmEdit->setText("other");
        dialog.m_cancelButton->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        SetPasswordDialog dialog(password, English(), prompts);
        dialog.show();
        dialog.m_passwordEdit->setText("other");
        dialog.m_confirmEdit->setText("other");
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_EQ(password, "Secret");
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(SetPasswordDialogUi, EnterPressesOk)
{
    std::string password;
    FakePrompts prompts;
    SetPasswordDialog dialog(password, English(), prompts);
    dialog.show();
    dialog.m_passwordEdit->setText("abc");
    dialog.m_confirmEdit->setText("abc");
    QTest::keyClick(dialog.m_confirmEdit, Qt::Key_Return);
    EXPECT_EQ(password, "abc");
}

// ---- checkPassword --------------------------------------------------------

// Answers the enter-password dialog by typing `text` and pressing `button`
// (1 OK, 2 Cancel, 0 closing it otherwise).
std::function<void(QDialog&)> Answer(const QString& text, int button)
{
    return [text, button](QDialog& dialog) {
        auto* ask = dynamic_cast<PasswordDialog*>(&dialog);
        ASSERT_NE(ask, nullptr);
        EXPECT_TRUE(ask->m_passwordEdit->text().isEmpty());
        EXPECT_EQ(ask->m_passwordEdit->echoMode(), QLineEdit::Password);
        ask->m_passwordEdit->setText(text);
        if (button == 1)
            ask->m_okButton->click();
        if (button == 2)
            ask->m_cancelButton->click();
        if (button == 0)
            ask->reject();
    };
}

TEST(PasswordQuestionUi, EnterPasswordDialogTexts)
{
    PasswordDialog ask(English());
    EXPECT_EQ(ask.windowTitle(), "Velkon Password");
    EXPECT_EQ(ask.m_passwordLabel->text(), "Enter Password:");
    EXPECT_EQ(ask.m_okButton->text(), "&OK");
    EXPECT_EQ(ask.m_cancelButton->text(), "&Cancel");
    EXPECT_TRUE(ask.m_okButton->isDefault());
    EXPECT_EQ(NextTabStop(ask.m_passwordEdit), ask.m_okButton);
    EXPECT_EQ(NextTabStop(ask.m_okButton), ask.m_cancelButton);
    EXPECT_EQ(NextTabStop(ask.m_cancelButton), ask.m_passwordEdit);
}

TEST(PasswordQuestionUi, NoPasswordPassesWithoutAnyDialog)
{
    FakePrompts prompts;
    EXPECT_TRUE(checkPassword("", English(), prompts));
    EXPECT_EQ(prompts.dialogs, 0);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PasswordQuestionUi, RightPasswordPasses)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("Secret", 1);
    EXPECT_TRUE(checkPassword("Secret", English(), prompts));
    EXPECT_EQ(prompts.dialogs, 1);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PasswordQuestionUi, WrongCaseFailsWithInvalidPassword)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("secret", 1);
    EXPECT_FALSE(checkPassword("Secret", English(), prompts));
    EXPECT_EQ(prompts.messages, QStringList{"Velkon|Invalid password"});
}

TEST(PasswordQuestionUi, CancelFailsSilentlyEvenAfterTyping)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("wrong", 2);
    EXPECT_FALSE(checkPassword("Secret", English(), prompts));
    EXPECT_TRUE(prompts.messages.isEmpty());

    prompts.onDialog = Answer("Secret", 2);
    EXPECT_FALSE(checkPassword("Secret", English(), prompts));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PasswordQuestionUi, ClosingTheDialogOtherwiseFailsSilently)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("Secret", 0);
    EXPECT_FALSE(checkPassword("Secret", English(), prompts));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PasswordQuestionUi, EmptyEntryFailsSilently)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("", 1);
    EXPECT_FALSE(checkPassword("Secret", English(), prompts));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(PasswordQuestionUi, EachCheckAsksAgain)
{
    FakePrompts prompts;
    prompts.onDialog = Answer("nope", 1);
    EXPECT_FALSE(checkPassword("Secret", English(), prompts));
    prompts.onDialog = Answer("Secret", 1);
    EXPECT_TRUE(checkPassword("Secret", English(), prompts));
    EXPECT_EQ(prompts.dialogs, 2);
    EXPECT_EQ(prompts.messages.size(), 1);
}

// ---- General options dialog -----------------------------------------------

int StoredPacketSize(const QString& text)
{
    GlobalSettings settings;
    settings.PacketSize = 1234;
    FakePrompts prompts;
    OptionsDialog dialog(settings, English(), prompts);
    dialog.m_packetSizeBox->setEditText(text);
    dialog.m_okButton->click();
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
    OptionsDialog dialog(settings, English(), prompts);
    dialog.show();
    dialog.m_packetSizeBox->lineEdit()->clear();
    // A line edit's completer acts only once the box has had the focus.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(dialog.m_packetSizeBox->lineEdit(), &focusIn);
    QTest::keyClicks(dialog.m_packetSizeBox->lineEdit(), "1");
    EXPECT_EQ(dialog.m_packetSizeBox->currentText(), "1");
    QTest::keyClick(dialog.m_packetSizeBox->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(dialog.m_packetSizeBox->count(), 7);
    dialog.m_okButton->click();
    EXPECT_EQ(settings.PacketSize, 1);
}

TEST(OptionsDialogUi, PacketSizeOutsideTheListShowsAtTheNextOpening)
{
    GlobalSettings settings;
    FakePrompts prompts;
    {
        OptionsDialog dialog(settings, English(), prompts);
        dialog.m_packetSizeBox->setEditText("750");
        dialog.m_okButton->click();
    }
    EXPECT_EQ(settings.PacketSize, 750);
    OptionsDialog again(settings, English(), prompts);
    EXPECT_EQ(again.m_packetSizeBox->currentText(), "750");
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
    OptionsDialog dialog(settings, English(), prompts);

    EXPECT_EQ(dialog.windowTitle(), "Velkon Options");
    EXPECT_EQ(dialog.m_packetSizeLabel->text(), "Max bytes per TCP/IP packet:");
    EXPECT_EQ(dialog.m_logErrorsCheck->text(), "Log all errors to file: errorlog.txt");
    EXPECT_EQ(dialog.m_errorProgramGroup->title(), "Run external program when errors occur:");
    EXPECT_EQ(dialog.m_errorProgramLabel->text(), "Command Line:");
    EXPECT_EQ(dialog.m_browseButton->text(), "Browse...");
    EXPECT_EQ(dialog.m_pingGroup->title(),
              "Ping remote IP Addresses to detect failed connections:");
    EXPECT_EQ(dialog.m_pingCheck->text(), "Enable remote pings");
    EXPECT_EQ(dialog.m_pingFrequencyLabel->text(), "Ping frequency (secs):");
    EXPECT_EQ(dialog.m_pingTimeoutLabel->text(), "Ping Timeout (ms):");
    EXPECT_EQ(dialog.m_okButton->text(), "&OK");
    EXPECT_EQ(dialog.m_cancelButton->text(), "&Cancel");
    EXPECT_FALSE(dialog.m_startAtLogonCheck->text().isEmpty());

    EXPECT_EQ(dialog.m_errorProgramEdit->text(), "/usr/local/bin/alarm --loud");
    EXPECT_TRUE(dialog.m_logErrorsCheck->isChecked());
    EXPECT_TRUE(dialog.m_pingCheck->isChecked());
    EXPECT_TRUE(dialog.m_startAtLogonCheck->isChecked());
    EXPECT_EQ(dialog.m_packetSizeBox->currentText(), "4000");
    ASSERT_EQ(dialog.m_packetSizeBox->count(), 7);
    EXPECT_EQ(dialog.m_packetSizeBox->itemText(0), "50");
    EXPECT_EQ(dialog.m_packetSizeBox->itemText(6), "4000");
    EXPECT_TRUE(dialog.m_packetSizeBox->isEditable());
    EXPECT_FALSE(dialog.m_pingFrequencyBox->isEditable());
    EXPECT_FALSE(dialog.m_pingTimeoutBox->isEditable());
    ASSERT_EQ(dialog.m_pingFrequencyBox->count(), 12);
    EXPECT_EQ(dialog.m_pingFrequencyBox->itemText(0), "5 Seconds");
    EXPECT_EQ(dialog.m_pingFrequencyBox->itemText(11), "60 Seconds");
    ASSERT_EQ(dialog.m_pingTimeoutBox->count(), 20);
    EXPECT_EQ(dialog.m_pingTimeoutBox->itemText(0), "100 ms");
    EXPECT_EQ(dialog.m_pingTimeoutBox->itemText(19), "2000 ms");
    EXPECT_EQ(dialog.m_pingFrequencyBox->currentText(), "10 Seconds");
    EXPECT_EQ(dialog.m_pingTimeoutBox->currentText(), "1000 ms");
}

TEST(OptionsDialogUi, OkStoresEveryControl)
{
    GlobalSettings settings;
    FakePrompts prompts;
    OptionsDialog dialog(settings, English(), prompts);
    dialog.m_errorProgramEdit->setText("/opt/notify");
    dialog.m_logErrorsCheck->setChecked(true);
    dialog.m_packetSizeBox->setEditText("500");
    dialog.m_pingCheck->setChecked(true);
    dialog.m_pingFrequencyBox->setCurrentIndex(11);
    dialog.m_pingTimeoutBox->setCurrentIndex(0);
    dialog.m_startAtLogonCheck->setChecked(true);
    dialog.m_okButton->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.OnErrorRunApp, "/opt/notify");
    EXPECT_EQ(settings.LogErrors, 1);
    EXPECT_EQ(settings.PacketSize, 500);
    EXPECT_EQ(settings.PingEnabled, 1);
    EXPECT_EQ(settings.PingFrequency, 11);
    EXPECT_EQ(settings.PingTimeout, 0);
    EXPECT_EQ(settings.LoadWithWindows, 1);
    EXPECT_EQ(settings.Password, "");

    OptionsDialog clear(settings, English(), prompts);
    clear.m_logErrorsCheck->setChecked(false);
    clear.m_pingCheck->setChecked(false);
    clear.m_startAtLogonCheck->setChecked(false);
    clear.m_errorProgramEdit->clear();
    clear.m_okButton->click();
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
    OptionsDialog dialog(settings, English(), prompts);
    EXPECT_EQ(dialog.m_pingFrequencyBox->currentIndex(), -1);
    EXPECT_EQ(dialog.m_pingTimeoutBox->currentIndex(), -1);
    EXPECT_EQ(dialog.m_pingFrequencyBox->currentText(), "");
    EXPECT_EQ(dialog.m_pingTimeoutBox->currentText(), "");
    dialog.m_okButton->click();
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
        OptionsDialog dialog(settings, English(), prompts);
        EXPECT_EQ(dialog.m_pingFrequencyBox->currentIndex(), -1);
        EXPECT_EQ(dialog.m_pingTimeoutBox->currentIndex(), -1);
        dialog.m_okButton->click();
    }
    EXPECT_EQ(settings.PingFrequency, 30);
    EXPECT_EQ(settings.PingTimeout, -7);
    {
        OptionsDialog dialog(settings, English(), prompts);
        dialog.m_pingFrequencyBox->setCurrentIndex(2);
        dialog.m_pingTimeoutBox->setCurrentIndex(4);
        dialog.m_okButton->click();
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
    OptionsDialog dialog(settings, English(), prompts);
    dialog.show();
    dialog.m_browseButton->click();
    dialog.m_logErrorsCheck->setChecked(true);
    dialog.m_packetSizeBox->setEditText("4000");
    dialog.m_pingCheck->setChecked(true);
    dialog.m_pingFrequencyBox->setCurrentIndex(0);
    dialog.m_pingTimeoutBox->setCurrentIndex(19);
    dialog.m_startAtLogonCheck->setChecked(true);
    dialog.m_cancelButton->click();
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
    OptionsDialog dialog(settings, English(), prompts);

    // A cancelled first Browse... leaves the text alone.
    dialog.m_browseButton->click();
    EXPECT_EQ(dialog.m_errorProgramEdit->text(), "typed by hand");
    ASSERT_EQ(prompts.filters.size(), 1);
    EXPECT_EQ(prompts.filters[0], "Programs (*)|*|All Files (*.*)|*.*");

    prompts.openAnswer = "/usr/bin/first";
    dialog.m_browseButton->click();
    EXPECT_EQ(dialog.m_errorProgramEdit->text(), "/usr/bin/first");

    // Cancelled after a successful one: the earlier name comes back.
    dialog.m_errorProgramEdit->setText("edited");
    prompts.openAnswer.clear();
    dialog.m_browseButton->click();
    EXPECT_EQ(dialog.m_errorProgramEdit->text(), "/usr/bin/first");

    // A path with blanks is quoted, so it stays one program when it runs.
    prompts.openAnswer = "/opt/my tools/alarm \"now\"";
    dialog.m_browseButton->click();
    EXPECT_EQ(dialog.m_errorProgramEdit->text(), "\"/opt/my tools/alarm \\\"now\\\"\"");
    dialog.m_okButton->click();
    EXPECT_EQ(settings.OnErrorRunApp, "\"/opt/my tools/alarm \\\"now\\\"\"");
}

TEST(OptionsDialogUi, ANewDialogForgetsTheBrowsedName)
{
    GlobalSettings settings;
    FakePrompts prompts;
    {
        prompts.openAnswer = "/usr/bin/first";
        OptionsDialog dialog(settings, English(), prompts);
        dialog.m_browseButton->click();
        dialog.m_cancelButton->click();
    }
    prompts.openAnswer.clear();
    OptionsDialog dialog(settings, English(), prompts);
    dialog.m_browseButton->click();
    EXPECT_EQ(dialog.m_errorProgramEdit->text(), "");
}

// ---- About box --------------------------------------------------------------

struct LinkRig {
    QList<QUrl> opened;

    AboutBox::OpenUrl open()
    {
        return [this](const QUrl& url) {
            opened << url;
            return false;
        };
    }
};

// The target of the first link in a label's rich text.
QString Href(const QLabel* label)
{
    const QRegularExpressionMatch match =
        QRegularExpression("href=\"([^\"]*)\"").match(label->text());
    return match.hasMatch() ? match.captured(1) : QString();
}

TEST(AboutBoxUi, VersionLabelReadsTheBuildVersion)
{
    FakePrompts prompts;
    AboutBox about(English(), prompts);
    const QString version =
        QString("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
    EXPECT_EQ(about.m_versionLabel->text(), "Velkon  Version " + version);
}

TEST(AboutBoxUi, NamesBuildLibrariesLicenseAndWhereToReport)
{
    FakePrompts prompts;
    AboutBox about(English(), prompts);
    const QStringList lines = about.m_descriptionLabel->text().split('\n');
    EXPECT_TRUE(lines.contains(QString("Build date: ") + kBuildDate))
        << lines.join('|').toStdString();
    EXPECT_TRUE(lines.contains(QString("Qt %1 (built with %2)").arg(qVersion(), QT_VERSION_STR)));
    EXPECT_EQ(lines.filter(QRegularExpression("^OpenSSL \\d+\\.\\d+")).size(), 1);
    EXPECT_TRUE(lines.contains(QString("Copyright (C) ") + kCopyrightHolder));
    const bool licensed = kLicense[0] != '\0';
    EXPECT_TRUE(lines.contains(licensed ? QString("License: ") + kLicense
                                        : "License: none chosen yet; all rights reserved by "
                                          "the copyright holders"));
    EXPECT_EQ(about.m_disclaimerLabel->isHidden(), licensed);
    EXPECT_TRUE(about.m_reportLabel->text().startsWith("Report problems to: "));
    EXPECT_TRUE(about.m_reportLabel->text().contains(kReportAddress));
    EXPECT_EQ(about.m_webLinkLabel->isHidden(), kHomepage[0] == '\0');
}

TEST(AboutBoxUi, OkCloses)
{
    FakePrompts prompts;
    AboutBox about(English(), prompts);
    about.show();
    about.m_okButton->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(AboutBoxUi, SystemInfoShowsTheSupportTextAndCopiesItWhole)
{
    FakePrompts prompts;
    AboutBox about(English(), prompts);
    QString shown;
    bool copiedShown = false;
    prompts.onDialog = [&](QDialog& dialog) {
        auto* info = dynamic_cast<SystemInfoDialog*>(&dialog);
        ASSERT_NE(info, nullptr);
        EXPECT_TRUE(info->m_copiedLabel->isHidden());
        info->m_copyButton->click();
        shown = info->m_textView->toPlainText();
        copiedShown = !info->m_copiedLabel->isHidden();
    };
    about.m_systemInfoButton->click();
    EXPECT_EQ(prompts.dialogs, 1);
    EXPECT_TRUE(shown.startsWith(QString("Velkon ") + kVersionText + "\n")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("Kernel: ")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("Qt platform plugin: offscreen\n")) << shown.toStdString();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shown);
    EXPECT_TRUE(copiedShown);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(AboutBoxUi, TheReportLinkOpensItsAddressAndAFailureSaysNothing)
{
    FakePrompts prompts;
    LinkRig rig;
    AboutBox about(English(), prompts, nullptr, rig.open());
    emit about.m_reportLabel->linkActivated(Href(about.m_reportLabel));
    ASSERT_EQ(rig.opened.size(), 1);
    EXPECT_EQ(rig.opened[0], AboutBox::reportUrl());
    EXPECT_EQ(rig.opened[0].scheme() == "mailto", !QString(kReportAddress).contains("://"));
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// ---- Japanese ---------------------------------------------------------------

TEST(DialogJapaneseUi, CaptionsComeFromTheJapaneseTable)
{
    const StringTable& ja = StringTable::Japanese();
    FakePrompts prompts;
    std::string password;
    SetPasswordDialog setPassword(password, ja, prompts);
    EXPECT_EQ(setPassword.windowTitle(), QString::fromStdString(ja.Text(5010)));
    EXPECT_NE(setPassword.windowTitle(), "Velkon Password");
    EXPECT_NE(setPassword.m_confirmLabel->text(), "Confirm Password");

    GlobalSettings settings;
    OptionsDialog options(settings, ja, prompts);
    EXPECT_EQ(options.windowTitle(), QString::fromStdString(ja.Text(5029)));
    EXPECT_NE(options.windowTitle(), "Velkon Options");
    EXPECT_EQ(options.m_packetSizeLabel->text(), QString::fromStdString(ja.Text(5030)));

    AboutBox about(ja, prompts);
    EXPECT_NE(about.windowTitle(), "About Velkon");
    EXPECT_EQ(about.m_titleLabel->text(), QString::fromStdString(ja.Text(5058)));

    // Messages follow the table too.
    prompts.onDialog = Answer("wrong", 1);
    EXPECT_FALSE(checkPassword("Secret", ja, prompts));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], "Velkon|" + QString::fromStdString(ja.Text(5065)));
}

}  // namespace
}  // namespace velkon::test
