#pragma once

#include <functional>
#include <map>
#include <memory>

#include <QMainWindow>
#include <QRect>
#include <QSystemTrayIcon>

#include "shell/MainWindowView.h"
#include "shell/Shell.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace velkon {

class EchoTransport;
class HostResolver;
class Prompts;
class StringTable;
class MonitorWindow;
class SessionWindow;

// The main window: a parent of session windows with the menus. It shows what
// the shell decides and forwards the menus to it.
class MainWindow : public QMainWindow, public MainWindowView {
public:
    MainWindow(AppState& app, Prompts& prompts, QWidget* parent = nullptr);
    ~MainWindow() override;

    Shell& shell() { return *m_shell; }
    void setConnectorTip(std::function<QString(int)> tip) { m_connectorTip = std::move(tip); }
    // The echo service and host lookup of the Tools menu.
    void setToolEngines(EchoTransport* echo, HostResolver* resolver);
    // How the desktop opens the manual and the web page; false on failure.
    void setUrlOpener(std::function<bool(const QUrl&)> open) { m_openUrl = std::move(open); }

    // Adds the tray icon when the desktop has a notification area; records
    // whether it was added.
    void addTrayIcon();
    // A double click on the tray icon shows the about box, the context click
    // the tray menu; both only while minimized.
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    // Hides into the tray when minimized; a restore with a password set
    // leaves the window minimized until the password is given.
    void onWindowStateChanged();

    // A lasting problem the user should know about, in the status bar.
    void showProblem(const QString& text);

    // Runs the exit sequence once: writes "default.vkc" and releases every
    // session. Also used when the program is told to end by a signal.
    void exitSequence();

    // MainWindowView
    void SetGeometryTwips(int left, int top, int width, int height) override;
    void GeometryTwips(int& left, int& top, int& width, int& height) const override;
    void SetFittingGeometry(int left, int top) override;
    int WindowState() const override;
    void SetWindowState(int state) override;
    void SessionAdded(Session& session) override;
    void SessionRemoved(Session& session) override;
    Session* ActiveSession() override;
    std::string ShowOpenDialog() override;
    std::string ShowSaveDialog() override;
    void CloseHelpWindows() override;

    SessionWindow* sessionWindowOf(const Session& session) const;
    // Opens the session's traffic monitor, or brings the open one forward.
    MonitorWindow& openMonitor(Session& session);
    MonitorWindow* monitorWindowOf(const Session& session) const;
    QMdiArea* mdiArea() const { return m_mdi; }

    QMenu* m_fileMenu;
    QAction* m_newAction;
    QAction* m_openAction;
    QAction* m_closeAction;
    QAction* m_saveAction;
    QAction* m_saveAsAction;
    QAction* m_optionsAction;
    QAction* m_passwordAction;
    QAction* m_exitAction;
    QMenu* m_windowMenu;
    QAction* m_cascadeAction;
    QAction* m_tileHorizontalAction;
    QAction* m_tileVerticalAction;
    QAction* m_arrangeIconsAction;
    QMenu* m_toolsMenu;
    QAction* m_pingAction;
    QAction* m_resolveAction;
    QMenu* m_helpMenu;
    QAction* m_helpContentsAction;
    QAction* m_helpSearchAction;
    QAction* m_webPageAction;
    QAction* m_aboutAction;
    QMenu* m_trayMenu;
    QAction* m_trayOpenAction;
    QAction* m_trayHideAction;
    QAction* m_trayExitAction;
    QAction* m_trayAboutAction;

    bool m_trayIconAdded = false;
    bool m_wasMinimized = false;

    void onOptionsTriggered();
    void onPasswordTriggered();
    void onPingTriggered();
    void onResolveTriggered();
    void onHelpContentsTriggered();
    // The manual: beside the program, else where an installation put it.
    QString helpFile() const;
    // The project's web page; the entry is hidden when there is none.
    void onWebPageTriggered();
    void onAboutTriggered();
    void onTrayOpenTriggered();
    void onTrayHideTriggered();
    void onTrayExitTriggered();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    // Asks for the password; the right one restores the window to normal,
    // anything else leaves it as it is.
    void restoreWithPassword();
    void onFileMenuAboutToShow();
    void onWindowMenuAboutToShow();
    void arrange(int code);
    double twipsPerPixel() const;
    void fitTo(const QMdiSubWindow& sub);
    // A new window goes down and right of the last one, back to the edge
    // when it would leave the area.
    void placeAfter(QMdiSubWindow& sub, const QMdiSubWindow* previous);

    AppState& m_app;
    Prompts& m_prompts;
    QMdiArea* m_mdi;
    std::unique_ptr<Shell> m_shell;
    std::map<const Session*, QMdiSubWindow*> m_windows;
    std::map<const Session*, QMdiSubWindow*> m_monitors;
    QMdiSubWindow* m_lastSessionWindow = nullptr;
    std::function<QString(int)> m_connectorTip;
    QList<QAction*> m_windowListActions;
    // Twips as read from the file, kept until the window really moves.
    int m_twips[4] = {1000, 1000, 7000, 7000};
    QPoint m_appliedPos;
    QSize m_appliedSize;
    bool m_exited = false;
    // The state read before the window first showed, applied when it does.
    bool m_firstShown = false;
    int m_startState = kNormal;
    bool m_askingPassword = false;
    bool m_passwordQueued = false;
    // The size follows the first session window still to come.
    bool m_fitPending = false;
    EchoTransport* m_echo = nullptr;
    HostResolver* m_resolver = nullptr;
    std::function<bool(const QUrl&)> m_openUrl;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

}  // namespace velkon
