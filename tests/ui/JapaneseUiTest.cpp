#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <QTableWidget>

#include "ClientsDialog.h"
#include "MainWindow.h"
#include "MonitorWindow.h"
#include "SessionWindow.h"
#include "UiTestSupport.h"

namespace velkon::test {
namespace {

// The interface language comes from the environment, as at a real start.
struct JapaneseEnvironment {
    JapaneseEnvironment() : saved(qgetenv("LC_ALL")) { qputenv("LC_ALL", "ja_JP.UTF-8"); }
    ~JapaneseEnvironment() { qputenv("LC_ALL", saved); }
    QByteArray saved;
};

// Latin words of four letters or more that the Japanese table itself does
// not use (product and protocol names like "Velkon" or "Ping" are fine).
QStringList ForeignWords(const QString& text)
{
    static const QSet<QString> allowed = [] {
        QSet<QString> words;
        const StringTable& ja = StringTable::Japanese();
        static const QRegularExpression word("[A-Za-z]{4,}");
        for (int n : ja.Numbers()) {
            auto it = word.globalMatch(QString::fromStdString(ja.Text(n)));
            while (it.hasNext())
                words.insert(it.next().captured());
        }
        return words;
    }();
    static const QRegularExpression word("[A-Za-z]{4,}");
    QStringList found;
    // After a tab comes a shortcut ("Ctrl+Z"), which keeps its key names.
    QString plain = text.section('\t', 0, 0);
    plain.remove('&');
    auto it = word.globalMatch(plain);
    while (it.hasNext()) {
        const QString w = it.next().captured();
        if (!allowed.contains(w))
            found << w;
    }
    return found;
}

void CollectMenu(const QMenu& menu, QStringList& texts)
{
    for (const QAction* action : menu.actions()) {
        texts << action->text() << action->toolTip();
        if (action->menu())
            CollectMenu(*action->menu(), texts);
    }
}

// Every visible caption of a window that carries English words, with the
// widget it sits on. Data the user typed or the maker's address are exempt.
QStringList EnglishCaptions(const QWidget& window, const QList<const QWidget*>& exempt = {})
{
    QStringList texts{window.windowTitle()};
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (exempt.contains(w))
            continue;
        if (const auto* label = qobject_cast<const QLabel*>(w))
            texts << label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            texts << button->text();
        if (const auto* group = qobject_cast<const QGroupBox*>(w))
            texts << group->title();
        if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        }
        if (const auto* sub = qobject_cast<const QMdiSubWindow*>(w))
            texts << sub->windowTitle();
        if (const auto* menu = qobject_cast<const QMenu*>(w))
            CollectMenu(*menu, texts);
        if (const auto* bar = qobject_cast<const QMenuBar*>(w)) {
            for (const QAction* a : bar->actions())
                texts << a->text();
        }
        texts << w->toolTip();
    }
    QStringList english;
    for (const QString& text : texts) {
        // Folder names in file dialogs are the user's.
        if (!text.startsWith('/') && !ForeignWords(text).isEmpty())
            english << text;
    }
    return english;
}

struct JapaneseProgram {
    JapaneseProgram() { rig.Start(); }
    JapaneseEnvironment language;
    ProgramRig rig;
};

TEST(JapaneseInterface, MainAndSessionWindowsShowNoEnglishCaptions)
{
    JapaneseProgram p;
    MainWindow& main = p.rig.main();
    EXPECT_EQ(EnglishCaptions(main).join(" | ").toStdString(), "");
    // The client side shows the login button, the server side other labels.
    SessionWindow* document = main.sessionWindowOf(*p.rig.shell().SessionAt(1));
    document->m_serverRadio->click();
    EXPECT_EQ(EnglishCaptions(*document).join(" | ").toStdString(), "");
    EXPECT_EQ(ForeignWords(document->m_connectorBox->itemData(200, Qt::ToolTipRole).toString())
                  .join(" ")
                  .toStdString(),
              "");
}

TEST(JapaneseInterface, DialogsOfMenusAndSessionsShowNoEnglishCaptions)
{
    JapaneseProgram p;
    MainWindow& main = p.rig.main();
    QStringList seen;
    p.rig.prompts.onDialog = [&](QDialog& dialog) {
        QList<const QWidget*> exempt;
        // The About box's link and contact data are the maker's; only the
        // captions in front of the contacts ("Telephone:") are texts.
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            if (label->textInteractionFlags() == Qt::NoTextInteraction)
                continue;
            exempt << label;
            if (label->textFormat() == Qt::RichText)
                continue;
            for (const QString& line : label->text().split('\n')) {
                if (line.contains(':') && !ForeignWords(line.section(':', 0, 0)).isEmpty())
                    seen << line;
            }
        }
        for (const QString& text : EnglishCaptions(dialog, exempt))
            seen << dialog.metaObject()->className() + QString(": ") + text;
    };
    main.onOptionsTriggered();
    main.onPasswordTriggered();
    main.onPingTriggered();
    main.onResolveTriggered();
    main.onAboutTriggered();
    SessionWindow* document = main.sessionWindowOf(*p.rig.shell().SessionAt(1));
    document->m_ioOptionsButton->click();  // client I/O options
    document->m_loginButton->click();
    document->m_serverRadio->click();
    document->m_ioOptionsButton->click();  // server I/O options
    EXPECT_EQ(p.rig.prompts.dialogs, 8);
    EXPECT_EQ(seen.join(" | ").toStdString(), "");
}

TEST(JapaneseInterface, MonitorClientsCountersAndPortFailuresShowNoEnglish)
{
    JapaneseProgram p;
    MainWindow& main = p.rig.main();
    Session& session = *p.rig.shell().SessionAt(1);
    SessionWindow* document = main.sessionWindowOf(session);
    MonitorWindow& monitor = main.openMonitor(session);
    monitor.m_textRadio->click();
    EXPECT_EQ(EnglishCaptions(monitor).join(" | ").toStdString(), "");
    document->m_clientsButton->click();
    ClientsDialog& clients = document->clientsDialog();
    QStringList headers;
    for (int i = 0; i < clients.m_table->columnCount(); ++i)
        headers << clients.m_table->horizontalHeaderItem(i)->text();
    EXPECT_EQ(EnglishCaptions(clients).join(" | ").toStdString(), "");
    EXPECT_EQ(ForeignWords(headers.join(' ')).join(" ").toStdString(), "");
    // A port that is not there is reported in Japanese, counters included.
    session.SetTcpOption(1);
    session.SetConnector(200);
    session.OnActivateButton();
    document->RefreshCounters();
    EXPECT_NE(document->m_statusLines[0]->text().toStdString(), "");
    EXPECT_EQ(EnglishCaptions(*document).join(" | ").toStdString(), "");
}

TEST(JapaneseInterface, HelpOpensTheJapaneseManualAndReportsInJapanese)
{
    JapaneseProgram p;
    QList<QUrl> opened;
    p.rig.main().setUrlOpener([&](const QUrl& url) {
        opened << url;
        return false;
    });
    p.rig.main().m_helpContentsAction->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].toLocalFile().endsWith("/velkon.ja.html"))
        << opened[0].toString().toStdString();
    ASSERT_EQ(p.rig.prompts.messages.size(), 1);
    const QString failure = QString::fromStdString(StringTable::Japanese().Text(5131));
    EXPECT_TRUE(p.rig.prompts.messages[0].startsWith("Velkon|" + failure + " "));
}

TEST(JapaneseInterface, QtOwnDialogsAndTextBoxMenusFollowTheLanguage)
{
    JapaneseProgram p;
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(EnglishCaptions(box).join(" | ").toStdString(), "");

    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    CollectMenu(*menu, texts);
    QStringList english;
    for (const QString& text : texts)
        english << ForeignWords(text);
    EXPECT_EQ(english.join(" ").toStdString(), "");

    QFileDialog files(&p.rig.main());
    files.setOption(QFileDialog::DontUseNativeDialog);
    EXPECT_EQ(EnglishCaptions(files).join(" | ").toStdString(), "");
}

}  // namespace
}  // namespace velkon::test
