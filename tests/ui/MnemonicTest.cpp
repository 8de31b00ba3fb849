#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>

#include "SessionWindow.h"
#include "UiTestSupport.h"

namespace velkon::test {
namespace {

struct LanguageEnvironment {
    explicit LanguageEnvironment(const char* locale) : saved(qgetenv("LC_ALL"))
    {
        qputenv("LC_ALL", locale);
    }
    ~LanguageEnvironment() { qputenv("LC_ALL", saved); }
    QByteArray saved;
};

// Pairs of texts in one window (or one menu) that answer the same Alt key.
// Only what the user can reach counts: shown controls, labels with a buddy.
QStringList MnemonicClashes(QWidget& window)
{
    QStringList clashes;
    auto checkGroup = [&](const QString& where, const QStringList& texts) {
        QMap<QString, QString> owner;
        for (const QString& text : texts) {
            const QString key = QKeySequence::mnemonic(text).toString();
            if (key.isEmpty())
                continue;
            if (owner.contains(key))
                clashes << where + ": " + key + " in \"" + owner[key] + "\" and \"" + text + "\"";
            owner.insert(key, text);
        }
    };
    QStringList texts;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window) || qobject_cast<QMenu*>(w))
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            texts << button->text();
        } else if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy()) {
            texts << label->text();
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            texts << group->title();
        } else if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            for (const QAction* a : bar->actions())
                texts << (a->isVisible() ? a->text() : QString());
        }
    }
    checkGroup(window.windowTitle(), texts);
    for (const QMenu* menu : window.findChildren<QMenu*>()) {
        QStringList entries;
        for (const QAction* a : menu->actions())
            entries << (a->isVisible() ? a->text() : QString());
        checkGroup(window.windowTitle() + " > " + menu->title(), entries);
    }
    return clashes;
}

TEST(Mnemonics, NoWindowOrMenuHasTwoControlsOnTheSameAltKeyInEitherLanguage)
{
    for (const char* locale : {"en_US.UTF-8", "ja_JP.UTF-8"}) {
        SCOPED_TRACE(locale);
        LanguageEnvironment language(locale);
        ProgramRig rig;
        rig.Start();
        MainWindow& main = rig.main();
        SessionWindow* session = main.sessionWindowOf(*rig.shell().SessionAt(1));
        ASSERT_NE(session, nullptr);
        QStringList clashes = MnemonicClashes(main);
        // The address labels change with the mode.
        session->m_serverRadio->click();
        clashes << MnemonicClashes(main);

        QStringList dialogs;
        rig.prompts.onDialog = [&](QDialog& dialog) {
            dialogs << dialog.windowTitle();
            clashes << MnemonicClashes(dialog);
        };
        main.m_optionsAction->trigger();
        main.m_passwordAction->trigger();
        main.m_pingAction->trigger();
        main.m_resolveAction->trigger();
        main.m_aboutAction->trigger();
        session->m_ioOptionsButton->click();  // server I/O options
        session->m_clientRadio->click();
        session->m_ioOptionsButton->click();  // client I/O options
        session->m_loginButton->click();
        rig.program->app().globalSettings.Password = "pw";
        main.m_trayExitAction->trigger();  // asks for the password
        EXPECT_EQ(rig.prompts.dialogs, 9) << dialogs.join(", ").toStdString();
        EXPECT_EQ(clashes.join("\n").toStdString(), "");
    }
}

}  // namespace
}  // namespace velkon::test
