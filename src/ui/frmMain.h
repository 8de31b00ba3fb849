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
class QMdiSubWindow;
class QMenu;

namespace velkon {

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

    // Runs the exit sequence once: writes "default.vkc" and releases every
    // session. Also used when the program is told to end by a signal.
    void ExitSequence();

    // MainWindowView
    void SetGeometryTwips(int left, int top, int width, int height) override;
    void GeometryTwips(int& left, int& top, int& width, int& height) const override;
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
    QAction* mnuFileExit;
    QMenu* mnuWindow;
    QAction* mnuWindowCascade;
    QAction* mnuWindowTileHorizontal;
    QAction* mnuWindowTileVertical;
    QAction* mnuWindowArrangeIcons;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void mnuFile_Click();
    void mnuWindow_Click();
    void Arrange(int code);
    double TwipsPerPixel() const;

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
};

}  // namespace velkon
