#pragma once

#include <string>

namespace velkon {

class Session;

// What the shell needs from the main window. Geometry is in twips
// (1/1440 inch); the window converts with the screen's real resolution.
class MainWindowView {
public:
    enum State { kNormal = 0, kMinimized = 1, kMaximized = 2 };

    virtual ~MainWindowView() = default;

    virtual void SetGeometryTwips(int left, int top, int width, int height) = 0;
    // The current geometry in twips; unchanged values while the user has not
    // moved or resized the window since they were applied.
    virtual void GeometryTwips(int& left, int& top, int& width, int& height) const = 0;
    // No size is stored: place the window at left/top and let it take the
    // size that shows its first session window whole. A view without such a
    // size takes the classic default.
    virtual void SetFittingGeometry(int left, int top)
    {
        SetGeometryTwips(left, top, kDefaultSizeTwips, kDefaultSizeTwips);
    }
    static constexpr int kDefaultSizeTwips = 7000;
    virtual int WindowState() const = 0;
    virtual void SetWindowState(int state) = 0;

    // A new session to show as a child window, and one that goes.
    virtual void SessionAdded(Session& session) = 0;
    virtual void SessionRemoved(Session& session) = 0;
    // The child window that has the focus, or none.
    virtual Session* ActiveSession() = 0;

    // File dialogs; an empty name when cancelled.
    virtual std::string ShowOpenDialog() = 0;
    virtual std::string ShowSaveDialog() = 0;

    virtual void CloseHelpWindows() = 0;
};

}  // namespace velkon
