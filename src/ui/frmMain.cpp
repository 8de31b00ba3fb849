#include "frmMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QUrl>

#include "LoadResource.h"
#include "system/ProgramEntry.h"
#include "PasswordDialogs.h"
#include "Prompts.h"
#include "frmAbout.h"
#include "frmDocument.h"
#include "frmOptions.h"
#include "frmPing.h"
#include "frmResolve.h"
#include "session/AppState.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

QAction* Entry(QMenu* menu, int textId)
{
    return menu->addAction(QString::number(textId));
}

}  // namespace

frmMain::frmMain(AppState& app, Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_prompts(prompts)
{
    setWindowTitle("Velkon");
    setWindowIcon(QIcon(":/velkon.png"));
    m_mdi = new QMdiArea(this);
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    BuildMenus();
    LocalizeWindow(this, *app.strings);
    m_shell = std::make_unique<Shell>(app, *this);
}

frmMain::~frmMain()
{
    // Sessions go before the windows that show them.
    m_shell.reset();
}

void frmMain::BuildMenus()
{
    mnuFile = menuBar()->addMenu(QString::number(2102));
    mnuFileNew = Entry(mnuFile, 2103);
    mnuFileNew->setShortcut(QKeySequence("Ctrl+N"));
    mnuFileOpen = Entry(mnuFile, 2104);
    mnuFileOpen->setShortcut(QKeySequence("Ctrl+O"));
    mnuFileClose = Entry(mnuFile, 2101);
    mnuFile->addSeparator();
    mnuFileSave = Entry(mnuFile, 2105);
    mnuFileSave->setShortcut(QKeySequence("Ctrl+S"));
    mnuFileSaveAs = Entry(mnuFile, 2106);
    mnuFile->addSeparator();
    mnuOptions = Entry(mnuFile, 2108);
    mPassword = Entry(mnuFile, 2109);
    mnuFile->addSeparator();
    mnuFileExit = Entry(mnuFile, 2107);

    mnuWindow = menuBar()->addMenu(QString::number(2110));
    mnuWindowCascade = Entry(mnuWindow, 2111);
    mnuWindowTileHorizontal = Entry(mnuWindow, 2112);
    mnuWindowTileVertical = Entry(mnuWindow, 2113);
    mnuWindowArrangeIcons = Entry(mnuWindow, 2114);

    MTools = menuBar()->addMenu(QString::number(2122));
    mPingTool = Entry(MTools, 2123);
    mResolve = Entry(MTools, 2124);

    mnuHelp = menuBar()->addMenu(QString::number(2125));
    mnuHelpContents = Entry(mnuHelp, 2126);
    mnuHelpSearch = Entry(mnuHelp, 2129);
    mnuHelpSearch->setVisible(false);
    mnuHelpSearch->setEnabled(false);
    mnuHelp->addSeparator();
    mnuUlmaro = Entry(mnuHelp, 2127);
    mnuHelp->addSeparator();
    mnuHelpAbout = Entry(mnuHelp, 2128);

    // The tray pop-up is a menu of its own, never on the menu bar.
    mnuPopUp = new QMenu("Popup Menu", this);
    mnuOpen = Entry(mnuPopUp, 2130);
    mnuHide = Entry(mnuPopUp, 2131);
    mnuHide->setVisible(false);
    mnuExit = Entry(mnuPopUp, 2132);
    mnuPopUp->addSeparator();
    mnuAbout = Entry(mnuPopUp, 2128);
    mnuPopUp->setDefaultAction(mnuAbout);

    connect(mnuFile, &QMenu::aboutToShow, this, [this] { mnuFile_Click(); });
    connect(mnuFileNew, &QAction::triggered, this, [this] { m_shell->FileNew(); });
    connect(mnuFileOpen, &QAction::triggered, this, [this] { m_shell->FileOpen(); });
    connect(mnuFileClose, &QAction::triggered, this, [this] { m_shell->FileClose(); });
    connect(mnuFileSave, &QAction::triggered, this, [this] { m_shell->FileSave(); });
    connect(mnuFileSaveAs, &QAction::triggered, this, [this] { m_shell->FileSaveAs(); });
    connect(mnuFileExit, &QAction::triggered, this, [this] { close(); });
    connect(mnuOptions, &QAction::triggered, this, [this] { mnuOptions_Click(); });
    connect(mPassword, &QAction::triggered, this, [this] { mPassword_Click(); });
    connect(mPingTool, &QAction::triggered, this, [this] { mPingTool_Click(); });
    connect(mResolve, &QAction::triggered, this, [this] { mResolve_Click(); });
    connect(mnuHelpContents, &QAction::triggered, this, [this] { mnuHelpContents_Click(); });
    connect(mnuUlmaro, &QAction::triggered, this, [this] { mnuUlmaro_Click(); });
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { mnuHelpAbout_Click(); });
    connect(mnuOpen, &QAction::triggered, this, [this] { mnuOpen_Click(); });
    connect(mnuHide, &QAction::triggered, this, [this] { mnuHide_Click(); });
    connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
    connect(mnuAbout, &QAction::triggered, this, [this] { mnuHelpAbout_Click(); });
    connect(mnuWindow, &QMenu::aboutToShow, this, [this] { mnuWindow_Click(); });
    connect(mnuWindowCascade, &QAction::triggered, this, [this] { Arrange(0); });
    connect(mnuWindowTileHorizontal, &QAction::triggered, this, [this] { Arrange(1); });
    connect(mnuWindowTileVertical, &QAction::triggered, this, [this] { Arrange(2); });
    connect(mnuWindowArrangeIcons, &QAction::triggered, this, [this] { Arrange(3); });
}

void frmMain::mnuFile_Click()
{
    mnuFileClose->setEnabled(false);
    if (m_shell->FileCloseEnabled())
        mnuFileClose->setEnabled(true);
}

void frmMain::mnuWindow_Click()
{
    // The list of open session windows at the end of the menu.
    for (QAction* a : m_windowListActions) {
        mnuWindow->removeAction(a);
        a->deleteLater();
    }
    m_windowListActions.clear();
    const auto windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    m_windowListActions << mnuWindow->addSeparator();
    int n = 1;
    for (QMdiSubWindow* w : windows) {
        QAction* a = mnuWindow->addAction(QString("&%1 %2").arg(n++).arg(w->windowTitle()));
        a->setCheckable(true);
        a->setChecked(w == m_mdi->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, w] { m_mdi->setActiveSubWindow(w); });
        m_windowListActions << a;
    }
}

void frmMain::Arrange(int code)
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

double frmMain::TwipsPerPixel() const
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInch() : 96.0;
    return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

void frmMain::SetGeometryTwips(int left, int top, int width, int height)
{
    m_fitPending = false;
    m_twips[0] = left;
    m_twips[1] = top;
    m_twips[2] = width;
    m_twips[3] = height;
    const double tpp = TwipsPerPixel();
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

void frmMain::SetFittingGeometry(int left, int top)
{
    const double tpp = TwipsPerPixel();
    move(qRound(left / tpp), qRound(top / tpp));
    m_fitPending = true;
    m_twips[0] = left;
    m_twips[1] = top;
    m_appliedPos = pos();
    // No size was read that could be written back unchanged.
    m_appliedSize = QSize();
}

void frmMain::FitTo(const QMdiSubWindow& sub)
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

void frmMain::GeometryTwips(int& left, int& top, int& width, int& height) const
{
    const QRect frame = frameGeometry();
    const double tpp = TwipsPerPixel();
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

int frmMain::WindowState() const
{
    if (isMinimized())
        return kMinimized;
    if (isMaximized())
        return kMaximized;
    return kNormal;
}

void frmMain::SetWindowState(int state)
{
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

void frmMain::SessionAdded(Session& session)
{
    auto* document = new frmDocument(session, *m_app.strings, m_connectorTip);
    QMdiSubWindow* sub = m_mdi->addSubWindow(document);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->installEventFilter(this);
    m_windows[&session] = sub;
    sub->show();
    if (m_fitPending)
        FitTo(*sub);
    // The main window shows itself with its first session window.
    if (!isVisible() && !m_exited)
        show();
}

void frmMain::SessionRemoved(Session& session)
{
    auto it = m_windows.find(&session);
    if (it == m_windows.end())
        return;
    QMdiSubWindow* sub = it->second;
    m_windows.erase(it);
    if (auto* document = dynamic_cast<frmDocument*>(sub->widget()))
        document->Detach();
    sub->removeEventFilter(this);
    sub->hide();
    sub->deleteLater();
}

frmDocument* frmMain::DocumentOf(const Session& session) const
{
    auto it = m_windows.find(&session);
    return it == m_windows.end() ? nullptr : static_cast<frmDocument*>(it->second->widget());
}

Session* frmMain::ActiveSession()
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

std::string frmMain::ShowOpenDialog()
{
    return m_prompts.OpenFile(this, Tr(*m_app.strings, 5134)).toStdString();
}

std::string frmMain::ShowSaveDialog()
{
    return m_prompts.SaveFile(this, Tr(*m_app.strings, 5134), "vkc").toStdString();
}

void frmMain::CloseHelpWindows()
{
    // The manual opens in the desktop's own viewer, which the program does
    // not own; there is nothing to close here.
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
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

void frmMain::ExitSequence()
{
    if (m_exited)
        return;
    m_exited = true;
    DeliverBeforeExit(*m_shell, kDeliverBeforeExitMs);
    m_shell->QueryUnload();
    m_shell->Unload();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    ExitSequence();
    if (TrayIconAdded && m_tray)
        m_tray->hide();
    event->accept();
    // The program does not end with its last window (a dialog of the hidden
    // main window may be that); it ends here.
    QCoreApplication::quit();
}

void frmMain::ShowProblem(const QString& text)
{
    statusBar()->showMessage(text);
}

void frmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::setToolEngines(EchoTransport* echo, HostResolver* resolver)
{
    m_echo = echo;
    m_resolver = resolver;
}

// ---------------------------------------------------------------- tray and restore

void frmMain::AddTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = std::make_unique<QSystemTrayIcon>(windowIcon(), this);
    m_tray->setToolTip("Velkon");
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    TrayNotification(0x203);
                if (reason == QSystemTrayIcon::Context)
                    TrayNotification(0x205);
            });
    m_tray->show();
    TrayIconAdded = true;
}

void frmMain::TrayNotification(int message)
{
    if (!isMinimized())
        return;
    if (message == 0x203) {
        auto* about = new frmAbout(*m_app.strings, m_prompts, nullptr);
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->show();
    } else if (message == 0x205) {
        mnuPopUp->popup(QCursor::pos());
    }
}

void frmMain::Form_Resize()
{
    if (isMinimized()) {
        WasMinimized = true;
        if (TrayIconAdded)
            hide();
        return;
    }
    if (InResize)
        return;
    InResize = true;
    if (WasMinimized) {
        if (m_app.globalSettings.Password.empty()) {
            WasMinimized = false;
            InResize = false;
            return;
        }
        hide();
        if (CheckPassword(m_app.globalSettings.Password, *m_app.strings, m_prompts, nullptr)) {
            setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
            WasMinimized = false;
        } else {
            setWindowState(windowState() | Qt::WindowMinimized);
        }
        show();
    }
    if (TrayIconAdded && isMinimized())
        hide();
    InResize = false;
}

void frmMain::mnuOpen_Click()
{
    if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        // A refused password leaves it minimized: hidden while the tray
        // icon stands for it.
        if (!(TrayIconAdded && isMinimized()))
            show();
    } else {
        raise();
        activateWindow();
    }
}

void frmMain::mnuHide_Click()
{
    hide();
}

void frmMain::mnuExit_Click()
{
    if (!CheckPassword(m_app.globalSettings.Password, *m_app.strings, m_prompts, this))
        return;
    close();
}

// ---------------------------------------------------------------- menus

void frmMain::mnuOptions_Click()
{
    frmOptions dialog(m_app.globalSettings, *m_app.strings, m_prompts, this);
    m_prompts.Exec(dialog);
    // Monitoring may have been switched on for sessions that are running.
    for (const auto& session : m_shell->sessions()) session->OptionsChanged();
}

void frmMain::mPassword_Click()
{
    Form1 dialog(m_app.globalSettings.Password, *m_app.strings, m_prompts, this);
    m_prompts.Exec(dialog);
}

void frmMain::mPingTool_Click()
{
    if (!m_echo || !m_resolver)
        return;
    frmPing dialog(*m_echo, *m_resolver, m_app.globalSettings.PingTimeout, *m_app.strings,
                   m_prompts, this);
    m_prompts.Exec(dialog);
}

void frmMain::mResolve_Click()
{
    if (!m_resolver)
        return;
    frmResolve dialog(*m_resolver, *m_app.strings, m_prompts, this);
    m_prompts.Exec(dialog);
}

QString frmMain::HelpFile() const
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

void frmMain::mnuHelpContents_Click()
{
    const QString manual = HelpFile();
    const QUrl url = QUrl::fromLocalFile(manual);
    const bool opened = m_openUrl ? m_openUrl(url) : QDesktopServices::openUrl(url);
    if (!opened) {
        m_prompts.Message(this, Tr(*m_app.strings, 5131) + " " + manual, "Velkon");
    }
}

void frmMain::mnuUlmaro_Click()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QUrl url(frmAbout::kMakerUrl);
    if (m_openUrl) {
        m_openUrl(url);
    } else {
        QDesktopServices::openUrl(url);
    }
    QApplication::restoreOverrideCursor();
}

void frmMain::mnuHelpAbout_Click()
{
    frmAbout dialog(*m_app.strings, m_prompts, this);
    m_prompts.Exec(dialog);
}

}  // namespace velkon
