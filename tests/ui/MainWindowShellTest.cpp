#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include "AboutBox.h"
#include "OptionsDialog.h"
#include "PasswordDialogs.h"
#include "UiTestSupport.h"
#include "Version.h"
#include "shell/IniFile.h"
#include "shell/StringTable.h"

namespace velkon::test {
namespace {

// Answers the enter-password dialog with a text, or cancels it.
std::function<void(QDialog&)> TypePassword(const QString& text, bool cancel = false)
{
    return [text, cancel](QDialog& dialog) {
        auto* form = dynamic_cast<PasswordDialog*>(&dialog);
        ASSERT_NE(form, nullptr);
        form->m_passwordEdit->setText(text);
        if (cancel) {
            form->m_cancelButton->click();
        } else {
            form->m_okButton->click();
        }
    };
}

struct RestoreRig : ProgramRig {
    RestoreRig()
    {
        Start();
        main().m_trayIconAdded = true;  // the test desktop has no tray; act as if it had one
    }
    void Minimize() { main().SetWindowState(MainWindowView::kMinimized); }
};

TEST(RestoreHandling, WithoutPasswordTheWindowComesBackAtOnce)
{
    RestoreRig rig;
    rig.Minimize();
    EXPECT_TRUE(rig.main().m_wasMinimized);
    EXPECT_FALSE(rig.main().isVisible());
    rig.main().onTrayOpenTriggered();
    EXPECT_EQ(rig.main().WindowState(), MainWindowView::kNormal);
    EXPECT_TRUE(rig.main().isVisible());
    EXPECT_FALSE(rig.main().m_wasMinimized);
    EXPECT_EQ(rig.prompts.dialogs, 0);
}

TEST(RestoreHandling, PasswordDecidesWhetherTheWindowComesBack)
{
    RestoreRig rig;
    rig.program->app().globalSettings.Password = "Secret";
    rig.Minimize();

    rig.prompts.onDialog = TypePassword("secret");
    rig.main().onTrayOpenTriggered();
    EXPECT_EQ(rig.main().WindowState(), MainWindowView::kMinimized);
    EXPECT_TRUE(rig.main().m_wasMinimized);
    ASSERT_EQ(rig.prompts.messages.size(), 1);
    EXPECT_EQ(rig.prompts.messages[0], "Velkon|Invalid password");

    rig.prompts.onDialog = TypePassword("", true);
    rig.main().onTrayOpenTriggered();
    EXPECT_EQ(rig.main().WindowState(), MainWindowView::kMinimized);
    EXPECT_EQ(rig.prompts.messages.size(), 1);

    rig.prompts.onDialog = TypePassword("Secret");
    rig.main().onTrayOpenTriggered();
    EXPECT_EQ(rig.main().WindowState(), MainWindowView::kNormal);
    EXPECT_TRUE(rig.main().isVisible());
    EXPECT_FALSE(rig.main().m_wasMinimized);
    EXPECT_EQ(rig.prompts.dialogs, 3);

    // Resizing after a restore asks nothing until the next minimize.
    rig.main().SetWindowState(MainWindowView::kMaximized);
    rig.main().SetWindowState(MainWindowView::kNormal);
    EXPECT_EQ(rig.prompts.dialogs, 3);
}

// The window system's restore (task bar, window menu): the platform window
// changes state and reports it, as the window manager's restore does.
void RestoreByWindowSystem(MainWindow& window)
{
    window.windowHandle()->setWindowStates(window.windowState() & ~Qt::WindowMinimized);
}

// Answers the password question and notes whether the window was still
// minimized, and unmapped when it should be, while it was asked.
struct PasswordAnswers {
    PasswordAnswers(ProgramRig& rig) : rig(rig) {}
    void Next(const QString& text, bool cancel = false)
    {
        rig.prompts.onDialog = [this, text, cancel](QDialog& dialog) {
            minimizedWhileAsked = minimizedWhileAsked && rig.main().isMinimized();
            visibleWhileAsked = visibleWhileAsked || rig.main().isVisible();
            // Modal as with the real prompts: the window system's reports
            // arrive while the question is open.
            QTimer::singleShot(0, &dialog,
                               [&dialog, text, cancel] { TypePassword(text, cancel)(dialog); });
            dialog.exec();
        };
    }
    bool Asked(int count) const
    {
        return QTest::qWaitFor([&] { return rig.prompts.dialogs >= count; }, 10000) &&
               rig.prompts.dialogs == count;
    }
    ProgramRig& rig;
    bool minimizedWhileAsked = true;
    bool visibleWhileAsked = false;
};

TEST(RestoreHandling, AWindowSystemRestoreShowsTheWindowOnlyAfterTheRightPassword)
{
    ProgramRig rig;
    rig.WriteFile("default.vkc", "[Velkon]\nPassword=pw\n");
    rig.Start();
    MainWindow& window = rig.main();
    PasswordAnswers answers(rig);
    // Every try after a cancelled or wrong one must still be able to restore.
    for (int round = 0; round < 2; ++round) {
        window.SetWindowState(MainWindowView::kMinimized);
        ASSERT_TRUE(window.isMinimized());
        answers.Next("", true);
        RestoreByWindowSystem(window);
        ASSERT_TRUE(answers.Asked(3 * round + 1));
        EXPECT_EQ(window.WindowState(), MainWindowView::kMinimized);
        answers.Next("wrong");
        RestoreByWindowSystem(window);
        ASSERT_TRUE(answers.Asked(3 * round + 2));
        EXPECT_EQ(window.WindowState(), MainWindowView::kMinimized);
        answers.Next("pw");
        RestoreByWindowSystem(window);
        ASSERT_TRUE(answers.Asked(3 * round + 3));
        EXPECT_EQ(window.WindowState(), MainWindowView::kNormal);
        EXPECT_TRUE(window.isVisible());
    }
    EXPECT_TRUE(answers.minimizedWhileAsked);
    EXPECT_EQ(rig.prompts.messages.size(), 2);  // "Invalid password" for each wrong one
}

TEST(RestoreHandling, AConfigurationSavedMinimizedStartsMinimizedAndAsksOnlyOnRestore)
{
    for (const bool tray : {false, true}) {
        SCOPED_TRACE(tray ? "with tray icon" : "without tray icon");
        ProgramRig rig;
        rig.WriteFile("default.vkc", "[Velkon]\nPassword=pw\nWindowState=1\n");
        rig.program = std::make_unique<DesktopProgram>(rig.prompts, rig.dir.path().toStdString());
        rig.main().m_trayIconAdded = tray;
        rig.program->Start("");
        MainWindow& window = rig.main();
        QTest::qWait(200);  // a question at start would come within the first events
        EXPECT_EQ(rig.prompts.dialogs, 0);
        EXPECT_TRUE(window.isMinimized());
        EXPECT_EQ(window.isVisible(), !tray);  // the tray icon stands for a hidden window

        PasswordAnswers answers(rig);
        answers.Next("pw");
        if (tray) {
            window.m_trayOpenAction->trigger();
        } else {
            RestoreByWindowSystem(window);
        }
        ASSERT_TRUE(answers.Asked(1));
        EXPECT_TRUE(answers.minimizedWhileAsked);
        // From the tray, nothing of the window is mapped before the password.
        if (tray) {
            EXPECT_FALSE(answers.visibleWhileAsked);
        }
        EXPECT_EQ(window.WindowState(), MainWindowView::kNormal);
        EXPECT_TRUE(window.isVisible());
    }
}

// Runs steps inside the application's event loop, as the program runs; true
// when the loop was still running after the last step (nothing had ended it).
bool StillRunningAfter(const std::function<void()>& steps)
{
    QTimer::singleShot(0, [steps] {
        steps();
        // A quit requested by the steps is handled before this timer fires.
        QTimer::singleShot(100, [] { QCoreApplication::exit(7); });
    });
    return QCoreApplication::exec() == 7;
}

// Runs the dialog modally as the real prompts do, answering from inside.
std::function<void(QDialog&)> ShowAndType(const QString& text, bool cancel = false)
{
    return [text, cancel](QDialog& dialog) {
        QTimer::singleShot(0, &dialog,
                           [&dialog, text, cancel] { TypePassword(text, cancel)(dialog); });
        dialog.exec();
    };
}

TEST(ProgramEnd, PasswordAnswersAndTheAboutBoxNeverEndTheProgram)
{
    RestoreRig rig;
    rig.program->app().globalSettings.Password = "Secret";
    rig.Minimize();
    ASSERT_FALSE(rig.main().isVisible());

    EXPECT_TRUE(StillRunningAfter([&] {
        rig.prompts.onDialog = ShowAndType("wrong");
        rig.main().onTrayOpenTriggered();
        rig.prompts.onDialog = ShowAndType("", true);
        rig.main().onTrayOpenTriggered();
    }));
    EXPECT_FALSE(rig.main().isVisible());
    EXPECT_EQ(rig.shell().sessions().size(), 1u);

    EXPECT_TRUE(StillRunningAfter([&] {
        rig.main().onTrayActivated(QSystemTrayIcon::DoubleClick);
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* about = qobject_cast<QDialog*>(w); about && about->isVisible())
                about->close();
        }
    }));
    EXPECT_EQ(rig.shell().sessions().size(), 1u);

    EXPECT_TRUE(StillRunningAfter([&] {
        rig.prompts.onDialog = ShowAndType("Secret");
        rig.main().onTrayOpenTriggered();
    }));
    EXPECT_TRUE(rig.main().isVisible());

    // Exit is what ends it.
    QTimer::singleShot(0, [&] { rig.main().m_exitAction->trigger(); });
    QTimer::singleShot(30000, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(rig.shell().sessions().empty());
}

TEST(RestoreHandling, TrayNotificationsActOnlyWhileMinimized)
{
    RestoreRig rig;
    rig.main().onTrayActivated(QSystemTrayIcon::Context);
    EXPECT_FALSE(rig.main().m_trayMenu->isVisible());
    EXPECT_EQ(rig.main().m_trayMenu->defaultAction(), rig.main().m_trayAboutAction);
    EXPECT_FALSE(rig.main().m_trayHideAction->isVisible());
    EXPECT_EQ(rig.main().m_trayOpenAction->text(), "&Open Velkon");
}

TEST(TrayExit, PasswordGuardsTheTrayExitButNotFileExit)
{
    RestoreRig rig;
    rig.program->app().globalSettings.Password = "pw";
    rig.prompts.onDialog = TypePassword("", true);
    rig.main().onTrayExitTriggered();
    EXPECT_EQ(rig.shell().sessions().size(), 1u);  // still running
    EXPECT_TRUE(rig.ReadFile("default.vkc").isEmpty());
    EXPECT_TRUE(rig.prompts.messages.isEmpty());

    rig.prompts.onDialog = TypePassword("pw");
    rig.main().onTrayExitTriggered();
    EXPECT_TRUE(rig.shell().sessions().empty());
    const IniFile file = IniFile::Parse(rig.ReadFile("default.vkc").toStdString());
    EXPECT_EQ(file.ReadText("Velkon", "Password", "?"), "pw");
    EXPECT_EQ(QFile(rig.Path("default.vkc")).permissions() &
                  (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              QFile::Permissions());
}

TEST(StartEntryUi, SavesWriteRenewAndRemoveTheAutostartEntry)
{
    ProgramRig rig;
    rig.Start();
    const QString entry = rig.Path("config/autostart/velkon.desktop");
    rig.prompts.onDialog = [](QDialog& dialog) {
        auto* options = dynamic_cast<OptionsDialog*>(&dialog);
        ASSERT_NE(options, nullptr);
        options->m_startAtLogonCheck->setChecked(true);
        options->m_okButton->click();
    };
    rig.main().m_optionsAction->trigger();
    EXPECT_FALSE(QFile::exists(entry));  // only a save writes it
    rig.prompts.saveAnswer = rig.Path("a.vkc");
    rig.main().m_saveAsAction->trigger();
    ASSERT_TRUE(QFile::exists(entry));
    QFile::remove(entry);  // the desktop used it up
    rig.main().m_saveAction->trigger();
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("Exec=\"" + QByteArray::fromStdString(rig.shell().ExePath) + "\"\n"))
        << text.constData();
    file.close();

    rig.program->app().globalSettings.LoadWithWindows = 0;
    rig.main().m_saveAction->trigger();
    EXPECT_FALSE(QFile::exists(entry));
    rig.main().m_saveAction->trigger();  // removing a missing entry is harmless
    EXPECT_FALSE(QFile::exists(entry));
}

TEST(ProgramFolderUi, AFolderThatCannotBeMadeIsShownAndTheProgramRuns)
{
    ProgramRig rig;
    rig.WriteFile("plain", "x");
    const QString folder = rig.Path("plain/velkon");
    DesktopProgram program(rig.prompts, folder.toStdString());
    program.Start("");
    const QString shown = program.mainWindow().statusBar()->currentMessage();
    EXPECT_TRUE(shown.startsWith(QString::fromStdString(StringTable::English().Text(5130))))
        << shown.toStdString();
    EXPECT_TRUE(
        shown.contains(folder + " cannot be created: " + rig.Path("plain") + " is not a folder"))
        << shown.toStdString();
    EXPECT_EQ(program.shell().sessions().size(), 1u);
    EXPECT_TRUE(rig.prompts.messages.isEmpty());
}

TEST(ProgramFolderUi, ANamedConfigurationThatIsADeviceIsReportedAndNotRead)
{
    ProgramRig rig;
    rig.Start("/dev/zero");
    const QString shown = rig.main().statusBar()->currentMessage();
    EXPECT_TRUE(shown.startsWith(QString::fromStdString(StringTable::English().Text(5145))))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains("/dev/zero is a device")) << shown.toStdString();
    EXPECT_EQ(rig.shell().sessions().size(), 1u);
}

TEST(HelpMenu, ContentsOpensTheManualAndAFailureIsShown)
{
    ProgramRig rig;
    rig.Start();
    QList<QUrl> opened;
    bool works = true;
    rig.main().setUrlOpener([&](const QUrl& url) {
        opened << url;
        return works;
    });
    rig.main().m_helpContentsAction->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_TRUE(opened[0].toLocalFile().endsWith("velkon.html"));
    EXPECT_TRUE(rig.prompts.messages.isEmpty());
    works = false;
    rig.main().m_helpContentsAction->trigger();
    ASSERT_EQ(rig.prompts.messages.size(), 1);
    EXPECT_TRUE(rig.prompts.messages[0].startsWith("Velkon|"));
    // The web entry stands only when the project has a page, and reports nothing.
    const bool hasPage = kHomepage[0] != '\0';
    EXPECT_EQ(rig.main().m_webPageAction->isVisible(), hasPage);
    rig.main().m_webPageAction->trigger();
    EXPECT_EQ(rig.prompts.messages.size(), 1);
    ASSERT_EQ(opened.size(), hasPage ? 3 : 2);
    if (hasPage) {
        EXPECT_EQ(opened.last(), QUrl(kHomepage));
    }
    EXPECT_FALSE(rig.main().m_helpSearchAction->isVisible());
}

TEST(MainMenus, EnglishCaptionsOfEveryMenu)
{
    ProgramRig rig;
    rig.Start();
    EXPECT_EQ(rig.main().m_fileMenu->title(), "&File");
    EXPECT_EQ(rig.main().m_windowMenu->title(), "&Window");
    EXPECT_EQ(rig.main().m_toolsMenu->title(), "&Tools");
    EXPECT_EQ(rig.main().m_helpMenu->title(), "&Help");
    EXPECT_EQ(rig.main().m_pingAction->text(), "&Ping IP Address...");
    EXPECT_EQ(rig.main().m_passwordAction->text(), "Password...");
    EXPECT_EQ(rig.main().m_trayMenu->title(), "Popup Menu");
    EXPECT_EQ(rig.main().windowTitle(), "Velkon");
}

}  // namespace
}  // namespace velkon::test
