#include "MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QUrl>

#include "AboutBox.h"
#include "Localization.h"
#include "MonitorWindow.h"
#include "OptionsDialog.h"
#include "PasswordDialogs.h"
#include "PingDialog.h"
#include "Prompts.h"
#include "ResolveDialog.h"
#include "SessionWindow.h"
#include "Version.h"
#include "session/AppState.h"
#include "shell/StringTable.h"
#include "system/ProgramEntry.h"

namespace velkon {

namespace {

QAction* Entry(QMenu* menu, int textId)
{
    return menu->addAction(QString::number(textId));
}

}  // namespace

MainWindow::MainWindow(AppState& app, Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_prompts(prompts)
{
    setWindowTitle("Velkon");
    setWindowIcon(QIcon(":/velkon.png"));
    m_mdi = new QMdiArea(this);
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    buildMenus();
    LocalizeWindow(this, *app.strings);
    m_shell = std::make_unique<Shell>(app, *this);
}

MainWindow::~MainWindow()
{
    // Sessions go before the windows that show them.
    m_shell.reset();
    // Each monitor takes itself out of the list as it goes.
    while (!m_monitors.empty())
        delete m_monitors.begin()->second;
}

void MainWindow::buildMenus()
{
    m_fileMenu = menuBar()->addMenu(QString::number(2102));
    m_newAction = Entry(m_fileMenu, 2103);
    m_newAction->setShortcut(QKeySequence("Ctrl+N"));
    m_openAction = Entry(m_fileMenu, 2104);
    m_openAction->setShortcut(QKeySequence("Ctrl+O"));
    m_closeAction = Entry(m_fileMenu, 2101);
    m_fileMenu->addSeparator();
    m_saveAction = Entry(m_fileMenu, 2105);
    m_saveAction->setShortcut(QKeySequence("Ctrl+S"));
    m_saveAsAction = Entry(m_fileMenu, 2106);
    m_fileMenu->addSeparator();
    m_optionsAction = Entry(m_fileMenu, 2108);
    m_passwordAction = Entry(m_fileMenu, 2109);
    m_fileMenu->addSeparator();
    m_exitAction = Entry(m_fileMenu, 2107);

    m_windowMenu = menuBar()->addMenu(QString::number(2110));
    m_cascadeAction = Entry(m_windowMenu, 2111);
    m_tileHorizontalAction = Entry(m_windowMenu, 2112);
    m_tileVerticalAction = Entry(m_windowMenu, 2113);
    m_arrangeIconsAction = Entry(m_windowMenu, 2114);

    m_toolsMenu = menuBar()->addMenu(QString::number(2122));
    m_pingAction = Entry(m_toolsMenu, 2123);
    m_resolveAction = Entry(m_toolsMenu, 2124);

    m_helpMenu = menuBar()->addMenu(QString::number(2125));
    m_helpContentsAction = Entry(m_helpMenu, 2126);
    m_helpSearchAction = Entry(m_helpMenu, 2129);
    m_helpSearchAction->setVisible(false);
    m_helpSearchAction->setEnabled(false);
    m_helpMenu->addSeparator();
    m_webPageAction = Entry(m_helpMenu, 2127);
    m_webPageAction->setVisible(kHomepage[0] != '\0');
    m_helpMenu->addSeparator();
    m_aboutAction = Entry(m_helpMenu, 2128);

    // The tray pop-up is a menu of its own, never on the menu bar.
    m_trayMenu = new QMenu("Popup Menu", this);
    m_trayOpenAction = Entry(m_trayMenu, 2130);
    m_trayHideAction = Entry(m_trayMenu, 2131);
    m_trayHideAction->setVisible(false);
    m_trayExitAction = Entry(m_trayMenu, 2132);
    m_trayMenu->addSeparator();
    m_trayAboutAction = Entry(m_trayMenu, 2128);
    m_trayMenu->setDefaultAction(m_trayAboutAction);

    connect(m_fileMenu, &QMenu::aboutToShow, this, [this] { onFileMenuAboutToShow(); });
    connect(m_newAction, &QAction::triggered, this, [this] { m_shell->FileNew(); });
    connect(m_openAction, &QAction::triggered, this, [this] { m_shell->FileOpen(); });
    connect(m_closeAction, &QAction::triggered, this, [this] { m_shell->FileClose(); });
    connect(m_saveAction, &QAction::triggered, this, [this] { m_shell->FileSave(); });
    connect(m_saveAsAction, &QAction::triggered, this, [this] { m_shell->FileSaveAs(); });
    connect(m_exitAction, &QAction::triggered, this, [this] { close(); });
    connect(m_optionsAction, &QAction::triggered, this, [this] { onOptionsTriggered(); });
    connect(m_passwordAction, &QAction::triggered, this, [this] { onPasswordTriggered(); });
    connect(m_pingAction, &QAction::triggered, this, [this] { onPingTriggered(); });
    connect(m_resolveAction, &QAction::triggered, this, [this] { onResolveTriggered(); });
    connect(m_helpContentsAction, &QAction::triggered, this, [this] { onHelpContentsTriggered(); });
    connect(m_webPageAction, &QAction::triggered, this, [this] { onWebPageTriggered(); });
    connect(m_aboutAction, &QAction::triggered, this, [this] { onAboutTriggered(); });
    connect(m_trayOpenAction, &QAction::triggered, this, [this] { onTrayOpenTriggered(); });
    connect(m_trayHideAction, &QAction::triggered, this, [this] { onTrayHideTriggered(); });
    connect(m_trayExitAction, &QAction::triggered, this, [this] { onTrayExitTriggered(); });
    connect(m_trayAboutAction, &QAction::triggered, this, [this] { onAboutTriggered(); });
    connect(m_windowMenu, &QMenu::aboutToShow, this, [this] { onWindowMenuAboutToShow(); });
    connect(m_cascadeAction, &QAction::triggered, this, [this] { arrange(0); });
    connect(m_tileHorizontalAction, &QAction::triggered, this, [this] { arrange(1); });
    connect(m_tileVerticalAction, &QAction::triggered, this, [this] { arrange(2); });
    connect(m_arrangeIconsAction, &QAction::triggered, this, [this] { arrange(3); });
}

void MainWindow::onFileMenuAboutToShow()
{
    m_closeAction->setEnabled(false);
    if (m_shell->FileCloseEnabled())
        m_closeAction->setEnabled(true);
}

void MainWindow::onWindowMenuAboutToShow()
{
    // The list of open session windows at the end of the menu.
    for (QAction* a : m_windowListActions) {
        m_windowMenu->removeAction(a);
        a->deleteLater();
    }
    m_windowListActions.clear();
    const auto windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    m_windowListActions << m_windowMenu->addSeparator();
    int n = 1;
    for (QMdiSubWindow* w : windows) {
        QAction* a = m_windowMenu->addAction(QString("&%1 %2").arg(n++).arg(w->windowTitle()));
        a->setCheckable(true);
        a->setChecked(w == m_mdi->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, w] { m_mdi->setActiveSubWindow(w); });
        m_windowListActions << a;
    }
}

void MainWindow::arrange(int code)
{
    const auto windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    switch (code) {
        case 0:
            m_mdi->cascadeSubWindows();
            break;
        case 1:
        case 2: {
            // One row (horizontal) or one column (vertical) per normal window.
            QList<QMdiSubWindow*> normal;
            for (QMdiSubWindow* w : windows) {
                if (!w->isMinimized())
                    normal << w;
            }
            if (normal.isEmpty())
                break;
            const QRect area = m_mdi->viewport()->rect();
            const int count = static_cast<int>(normal.size());
            for (int i = 0; i < count; ++i) {
                normal[i]->showNormal();
                if (code == 1) {
                    const int h = area.height() / count;
                    normal[i]->setGeometry(0, i * h, area.width(), h);
                } else {
                    const int w = area.width() / count;
                    normal[i]->setGeometry(i * w, 0, w, area.height());
                }
            }
            break;
        }
        case 3: {
            // Minimized windows in a row along the bottom edge.
            int x = 0;
            const int bottom = m_mdi->viewport()->height();
            for (QMdiSubWindow* w : windows) {
                if (!w->isMinimized())
                    continue;
                w->move(x, bottom - w->height());
                x += w->width();
            }
            break;
        }
    }
}

double MainWindow::twipsPerPixel() const
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInch() : 96.0;
    return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

void MainWindow::SetGeometryTwips(int left, int top, int width, int height)
{
    m_fitPending = false;
    m_twips[0] = left;
    m_twips[1] = top;
    m_twips[2] = width;
    m_twips[3] = height;
    const double tpp = twipsPerPixel();
    const QRect frame(qRound(left / tpp), qRound(top / tpp), std::max(1, qRound(width / tpp)),
                      std::max(1, qRound(height / tpp)));
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const int extraW = outer.width() - inner.width();
    const int extraH = outer.height() - inner.height();
    move(frame.topLeft());
    resize(std::max(1, frame.width() - extraW), std::max(1, frame.height() - extraH));
    // What the window was told; the frame the window system adds later does
    // not count as a change.
    m_appliedPos = pos();
    m_appliedSize = size();
}

void MainWindow::SetFittingGeometry(int left, int top)
{
    const double tpp = twipsPerPixel();
    move(qRound(left / tpp), qRound(top / tpp));
    m_fitPending = true;
    m_twips[0] = left;
    m_twips[1] = top;
    m_appliedPos = pos();
    // No size was read that could be written back unchanged.
    m_appliedSize = QSize();
}

void MainWindow::fitTo(const QMdiSubWindow& sub)
{
    m_fitPending = false;
    const QSize session = sub.size().expandedTo(sub.sizeHint());
    const int frame = 2 * m_mdi->frameWidth();
    int height = menuBar()->sizeHint().height() + session.height() + frame;
    const auto* bar = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
    if (bar && !bar->isHidden())
        height += bar->sizeHint().height();
    QSize wanted(session.width() + frame, height);
    if (const QScreen* s = screen()) {
        // Never larger than the desktop; scroll bars are the lesser evil there.
        const QRect available = s->availableGeometry();
        const QSize decoration = frameGeometry().size() - size();
        wanted = wanted.boundedTo(available.size() - decoration);
    }
    resize(wanted);
}

void MainWindow::GeometryTwips(int& left, int& top, int& width, int& height) const
{
    const QRect frame = frameGeometry();
    const double tpp = twipsPerPixel();
    if (pos() == m_appliedPos) {
        left = m_twips[0];
        top = m_twips[1];
    } else {
        left = qRound(frame.x() * tpp);
        top = qRound(frame.y() * tpp);
    }
    if (size() == m_appliedSize) {
        width = m_twips[2];
        height = m_twips[3];
    } else {
        width = qRound(frame.width() * tpp);
        height = qRound(frame.height() * tpp);
    }
}

int MainWindow::WindowState() const
{
    if (!m_firstShown)
        return m_startState;
    if (isMinimized())
        return kMinimized;
    if (isMaximized())
        return kMaximized;
    return kNormal;
}

void MainWindow::SetWindowState(int state)
{
    if (!m_firstShown) {
        // A window that is not yet shown loses its minimized state when it is
        // resized (X11), and it is resized to fit its first session window:
        // the state is applied when the window first shows.
        m_startState = state;
        return;
    }
    switch (state) {
        case kMinimized:
            setWindowState(windowState() | Qt::WindowMinimized);
            break;
        case kMaximized:
            setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
            break;
        default:
            setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
            break;
    }
}

void MainWindow::SessionAdded(Session& session)
{
    auto* document = new SessionWindow(session, *m_app.strings, m_connectorTip);
    connect(document->m_monitorButton, &QPushButton::clicked, this,
            [this, &session] { openMonitor(session); });
    QMdiSubWindow* sub = m_mdi->addSubWindow(document);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->installEventFilter(this);
    m_windows[&session] = sub;
    placeAfter(*sub, m_lastSessionWindow);
    m_lastSessionWindow = sub;
    sub->show();
    if (m_fitPending)
        fitTo(*sub);
    // The main window shows itself with its first session window.
    if (m_exited)
        return;
    if (!m_firstShown) {
        m_firstShown = true;
        SetWindowState(m_startState);
    }
    // Minimized with a tray icon, the icon stands for the window.
    if (!isVisible() && !(m_trayIconAdded && isMinimized()))
        show();
}

void MainWindow::SessionRemoved(Session& session)
{
    auto it = m_windows.find(&session);
    if (it == m_windows.end())
        return;
    QMdiSubWindow* sub = it->second;
    m_windows.erase(it);
    if (m_lastSessionWindow == sub)
        m_lastSessionWindow = nullptr;
    if (auto monitor = m_monitors.find(&session); monitor != m_monitors.end()) {
        // The session is still there: the monitor lets go of it now.
        static_cast<MonitorWindow*>(monitor->second->widget())->DetachFromSession();
        monitor->second->hide();
        monitor->second->deleteLater();
        m_monitors.erase(monitor);
    }
    if (auto* document = dynamic_cast<SessionWindow*>(sub->widget()))
        document->Detach();
    sub->removeEventFilter(this);
    sub->hide();
    sub->deleteLater();
}

SessionWindow* MainWindow::sessionWindowOf(const Session& session) const
{
    auto it = m_windows.find(&session);
    return it == m_windows.end() ? nullptr : static_cast<SessionWindow*>(it->second->widget());
}

void MainWindow::placeAfter(QMdiSubWindow& sub, const QMdiSubWindow* previous)
{
    if (!previous)
        return;
    const int step = sub.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &sub) + 4;
    const QSize area = m_mdi->viewport()->size();
    QPoint at = previous->pos() + QPoint(step, step);
    // The corner with the title stays inside; the rest may need scrolling.
    if (at.x() > area.width() - 4 * step)
        at.setX(0);
    if (at.y() > area.height() - 4 * step)
        at.setY(0);
    sub.move(at);
}

MonitorWindow* MainWindow::monitorWindowOf(const Session& session) const
{
    auto it = m_monitors.find(&session);
    return it == m_monitors.end() ? nullptr : static_cast<MonitorWindow*>(it->second->widget());
}

MonitorWindow& MainWindow::openMonitor(Session& session)
{
    if (auto it = m_monitors.find(&session); it != m_monitors.end()) {
        it->second->showNormal();
        m_mdi->setActiveSubWindow(it->second);
        return *static_cast<MonitorWindow*>(it->second->widget());
    }
    auto* monitor = new MonitorWindow(session, *m_app.strings, m_prompts);
    QMdiSubWindow* sub = m_mdi->addSubWindow(monitor);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    m_monitors[&session] = sub;
    // Closing the window ends the watch.
    connect(sub, &QObject::destroyed, this, [this, &session, sub] {
        auto it = m_monitors.find(&session);
        if (it != m_monitors.end() && it->second == sub)
            m_monitors.erase(it);
    });
    auto document = m_windows.find(&session);
    placeAfter(*sub, document == m_windows.end() ? nullptr : document->second);
    sub->resize(sub->sizeHint().expandedTo(QSize(600, 420)));
    sub->show();
    m_mdi->setActiveSubWindow(sub);
    return *monitor;
}

Session* MainWindow::ActiveSession()
{
    QMdiSubWindow* active = m_mdi->activeSubWindow();
    if (!active)
        active = m_mdi->currentSubWindow();
    for (const auto& [session, sub] : m_windows) {
        if (sub == active)
            return const_cast<Session*>(session);
    }
    return nullptr;
}

std::string MainWindow::ShowOpenDialog()
{
    return m_prompts.OpenFile(this, Tr(*m_app.strings, 5134)).toStdString();
}

std::string MainWindow::ShowSaveDialog()
{
    return m_prompts.SaveFile(this, Tr(*m_app.strings, 5134), "vkc").toStdString();
}

void MainWindow::CloseHelpWindows()
{
    // The manual opens in the desktop's own viewer, which the program does
    // not own; there is nothing to close here.
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close) {
        // A session window's close box closes the session, as File > Close.
        for (const auto& [session, sub] : m_windows) {
            if (sub == watched) {
                event->ignore();
                m_shell->CloseSession(*const_cast<Session*>(session));
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::exitSequence()
{
    if (m_exited)
        return;
    m_exited = true;
    DeliverBeforeExit(*m_shell, kDeliverBeforeExitMs);
    m_shell->QueryUnload();
    m_shell->Unload();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    exitSequence();
    if (m_trayIconAdded && m_tray)
        m_tray->hide();
    event->accept();
    // The program does not end with its last window (a dialog of the hidden
    // main window may be that); it ends here.
    QCoreApplication::quit();
}

void MainWindow::showProblem(const QString& text)
{
    statusBar()->showMessage(text);
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        onWindowStateChanged();
}

void MainWindow::setToolEngines(EchoTransport* echo, HostResolver* resolver)
{
    m_echo = echo;
    m_resolver = resolver;
}

// ---------------------------------------------------------------- tray and restore

void MainWindow::addTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = std::make_unique<QSystemTrayIcon>(windowIcon(), this);
    m_tray->setToolTip("Velkon");
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, &MainWindow::onTrayActivated);
    m_tray->show();
    m_trayIconAdded = true;
}

void MainWindow::onTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (!isMinimized())
        return;
    if (reason == QSystemTrayIcon::DoubleClick) {
        auto* about = new AboutBox(*m_app.strings, m_prompts, nullptr);
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->show();
    } else if (reason == QSystemTrayIcon::Context) {
        m_trayMenu->popup(QCursor::pos());
    }
}

void MainWindow::onWindowStateChanged()
{
    if (isMinimized()) {
        m_wasMinimized = true;
        if (m_trayIconAdded)
            hide();
        return;
    }
    if (!m_wasMinimized)
        return;
    if (m_app.globalSettings.Password.empty()) {
        m_wasMinimized = false;
        return;
    }
    // The window system restored it (task bar, window menu). It goes back to
    // minimized at once, through the same state change the window system
    // knows, so that nothing shows and a later restore is a real one; the
    // question comes after this event.
    setWindowState(windowState() | Qt::WindowMinimized);
    if (!m_passwordQueued && !m_askingPassword) {
        m_passwordQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_passwordQueued = false;
            restoreWithPassword();
        });
    }
}

void MainWindow::restoreWithPassword()
{
    if (m_askingPassword || !isMinimized())
        return;
    m_askingPassword = true;
    const bool given =
        checkPassword(m_app.globalSettings.Password, *m_app.strings, m_prompts, nullptr);
    m_askingPassword = false;
    if (!given || m_exited)
        return;
    m_wasMinimized = false;
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    show();
    raise();
    activateWindow();
}

void MainWindow::onTrayOpenTriggered()
{
    if (!isMinimized()) {
        raise();
        activateWindow();
        return;
    }
    if (m_wasMinimized && !m_app.globalSettings.Password.empty()) {
        // Asked while the window stays as it is (hidden or iconic): its
        // state changes only with the right password.
        restoreWithPassword();
        return;
    }
    m_wasMinimized = false;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
}

void MainWindow::onTrayHideTriggered()
{
    hide();
}

void MainWindow::onTrayExitTriggered()
{
    if (!checkPassword(m_app.globalSettings.Password, *m_app.strings, m_prompts, this))
        return;
    close();
}

// ---------------------------------------------------------------- menus

void MainWindow::onOptionsTriggered()
{
    OptionsDialog dialog(m_app.globalSettings, *m_app.strings, m_prompts, this);
    m_prompts.Exec(dialog);
    // Monitoring may have been switched on for sessions that are running.
    for (const auto& session : m_shell->sessions())
        session->OptionsChanged();
    if (m_app.services.metrics)
        m_app.services.metrics->Follow(m_app.globalSettings);
}

void MainWindow::onPasswordTriggered()
{
    SetPasswordDialog dialog(m_app.globalSettings.Password, *m_app.strings, m_prompts, this);
    m_prompts.Exec(dialog);
}

void MainWindow::onPingTriggered()
{
    if (!m_echo || !m_resolver)
        return;
    PingDialog dialog(*m_echo, *m_resolver, m_app.globalSettings.PingTimeout, *m_app.strings,
                      m_prompts, this);
    m_prompts.Exec(dialog);
}

void MainWindow::onResolveTriggered()
{
    if (!m_resolver)
        return;
    ResolveDialog dialog(*m_resolver, *m_app.strings, m_prompts, this);
    m_prompts.Exec(dialog);
}

QString MainWindow::helpFile() const
{
    // Beside the program in a build tree, under share/doc in an installed
    // copy; in the interface language when that manual exists.
    const QString exeDir = QCoreApplication::applicationDirPath();
    QStringList names;
    if (m_app.strings->language() == Language::Japanese)
        names << "velkon.ja.html";
    names << "velkon.html";
    for (const QString& name : names) {
        for (const QString& candidate :
             {exeDir + "/" + name, exeDir + "/../share/doc/velkon/" + name}) {
            if (QFileInfo::exists(candidate))
                return QFileInfo(candidate).absoluteFilePath();
        }
    }
    return exeDir + "/" + names.front();
}

void MainWindow::onHelpContentsTriggered()
{
    const QString manual = helpFile();
    const QUrl url = QUrl::fromLocalFile(manual);
    const bool opened = m_openUrl ? m_openUrl(url) : QDesktopServices::openUrl(url);
    if (!opened) {
        m_prompts.Message(this, Tr(*m_app.strings, 5131) + " " + manual, "Velkon");
    }
}

void MainWindow::onWebPageTriggered()
{
    if (kHomepage[0] == '\0')
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QUrl url(kHomepage);
    if (m_openUrl) {
        m_openUrl(url);
    } else {
        QDesktopServices::openUrl(url);
    }
    QApplication::restoreOverrideCursor();
}

void MainWindow::onAboutTriggered()
{
    AboutBox dialog(*m_app.strings, m_prompts, this);
    m_prompts.Exec(dialog);
}

}  // namespace velkon
