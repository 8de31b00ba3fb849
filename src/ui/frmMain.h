#pragma once

#include <functional>
#include <map>
#include <memory>

#include <QMainWindow>
#include <QRect>

#include "shell/MainWindowView.h"
#include "shell/Shell.h"

class QAction;
class QMdiArea;
class QSystemTrayIcon;
class QMdiSubWindow;
class QMenu;

namespace velkon {

class EchoTransport;
class HostResolver;
class Prompts;
class StringTable;
class frmDocument;

// The main window: a parent of session windows with the menus. It shows what
// the shell decides and forwards the menus to it.
class frmMain : public QMainWindow, public MainWindowView {
public:
    frmMain(AppState& app, Prompts& prompts, QWidget* parent = nullptr);
    ~frmMain() override;

    Shell& shell() { return *m_shell; }
    void setConnectorTip(std::function<QString(int)> tip) { m_connectorTip = std::move(tip); }
    // The echo service and host lookup of the Tools menu.
    void setToolEngines(EchoTransport* echo, HostResolver* resolver);
    // How the desktop opens the manual and the maker's page; false on failure.
    void setUrlOpener(std::function<bool(const QUrl&)> open) { m_openUrl = std::move(open); }

    // Adds the tray icon when the desktop has a notification area; records
    // whether it was added.
    void AddTrayIcon();
    // Notification of the tray icon, by mouse message code: 0x203 left
    // double-click, 0x205 right-button release.
    void TrayNotification(int message);
    // The resize handling: hides into the tray when minimized and asks for the
    // password before coming back.
    void Form_Resize();

    // A lasting problem the user should know about, in the status bar.
    void ShowProblem(const QString& text);

    // Runs the exit sequence once: writes "default.vkc" and releases every
    // session. Also used when the program is told to end by a signal.
    void ExitSequence();

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

    frmDocument* DocumentOf(const Session& session) const;
    QMdiArea* mdiArea() const { return m_mdi; }

    QMenu* mnuFile;
    QAction* mnuFileNew;
    QAction* mnuFileOpen;
    QAction* mnuFileClose;
    QAction* mnuFileSave;
    QAction* mnuFileSaveAs;
    QAction* mnuOptions;
    QAction* mPassword;
    QAction* mnuFileExit;
    QMenu* mnuWindow;
    QAction* mnuWindowCascade;
    QAction* mnuWindowTileHorizontal;
    QAction* mnuWindowTileVertical;
    QAction* mnuWindowArrangeIcons;
    QMenu* MTools;
    QAction* mPingTool;
    QAction* mResolve;
    QMenu* mnuHelp;
    QAction* mnuHelpContents;
    QAction* mnuHelpSearch;
    QAction* mnuUlmaro;
    QAction* mnuHelpAbout;
    QMenu* mnuPopUp;
    QAction* mnuOpen;
    QAction* mnuHide;
    QAction* mnuExit;
    QAction* mnuAbout;

    bool TrayIconAdded = false;
    bool WasMinimized = false;
    bool InResize = false;

    void mnuOptions_Click();
    void mPassword_Click();
    void mPingTool_Click();
    void mResolve_Click();
    void mnuHelpContents_Click();
    // The manual: beside the program, else where an installation put it.
    QString HelpFile() const;
    void mnuUlmaro_Click();
    void mnuHelpAbout_Click();
    void mnuOpen_Click();
    void mnuHide_Click();
    void mnuExit_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void mnuFile_Click();
    void mnuWindow_Click();
    void Arrange(int code);
    double TwipsPerPixel() const;
    void FitTo(const QMdiSubWindow& sub);

    AppState& m_app;
    Prompts& m_prompts;
    QMdiArea* m_mdi;
    std::unique_ptr<Shell> m_shell;
    std::map<const Session*, QMdiSubWindow*> m_windows;
    std::function<QString(int)> m_connectorTip;
    QList<QAction*> m_windowListActions;
    // Twips as read from the file, kept until the window really moves.
    int m_twips[4] = {1000, 1000, 7000, 7000};
    QPoint m_appliedPos;
    QSize m_appliedSize;
    bool m_exited = false;
    // The size follows the first session window still to come.
    bool m_fitPending = false;
    EchoTransport* m_echo = nullptr;
    HostResolver* m_resolver = nullptr;
    std::function<bool(const QUrl&)> m_openUrl;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

}  // namespace velkon
