#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "components/Services.h"
#include "session/Session.h"
#include "shell/MainWindowView.h"

namespace velkon {

// Stands in for the main window where there is no desktop: keeps the
// geometry and state the configuration holds, so they are written back
// unchanged, and reports every change of a status line as one line of text.
class HeadlessHost : public MainWindowView {
public:
    HeadlessHost(const Clock& clock, std::FILE* out);
    ~HeadlessHost() override;

    void setShell(class Shell* shell) { m_shell = shell; }

    void SetGeometryTwips(int left, int top, int width, int height) override;
    void GeometryTwips(int& left, int& top, int& width, int& height) const override;
    int WindowState() const override { return m_state; }
    void SetWindowState(int state) override { m_state = state; }
    void SessionAdded(Session& session) override;
    void SessionRemoved(Session& session) override;
    Session* ActiveSession() override { return nullptr; }
    std::string ShowOpenDialog() override { return {}; }
    std::string ShowSaveDialog() override { return {}; }
    void CloseHelpWindows() override {}

    // "2026-12-07 10:15:02 session 1 COM3 network: TCP/IP Status: Listening..."
    // A failure written to the error log shows as line kLogLine ("error: ...").
    static constexpr int kLogLine = 2;
    static std::string StatusLine(const LocalDateTime& when, int number, const std::string& topic,
                                  int line, const std::string& text);

private:
    class Reporter;
    void Report(Session& session, int line, const std::string& text);

    const Clock& m_clock;
    std::FILE* m_out;
    class Shell* m_shell = nullptr;
    int m_geometry[4] = {1000, 1000, 7000, 7000};
    int m_state = 0;
    std::map<Session*, std::unique_ptr<Reporter>> m_reporters;
};

// Message boxes without a desktop: the text goes to the error stream.
class StreamMessages : public MessageBoxes {
public:
    explicit StreamMessages(std::FILE* out) : m_out(out) {}
    void Show(const std::string& text, const std::string& title) override;

private:
    std::FILE* m_out;
};

}  // namespace velkon
