#include "HeadlessHost.h"

#include <algorithm>
#include <cstdio>

#include "shell/Shell.h"

namespace velkon {

// Watches one session and prints each status line that changes.
class HeadlessHost::Reporter : public SessionObserver {
public:
    Reporter(HeadlessHost& host, Session& session) : m_host(host), m_session(session)
    {
        m_last[0] = session.form().statusText[0];
        m_last[1] = session.form().statusText[1];
        session.setObserver(this);
    }
    ~Reporter() override { m_session.setObserver(nullptr); }

    void SessionChanged(SessionChange change) override
    {
        if (change != SessionChange::Status)
            return;
        for (int line = 0; line < 2; ++line) {
            const std::string& text = m_session.form().statusText[line];
            if (text == m_last[line])
                continue;
            m_last[line] = text;
            m_host.Report(m_session, line, text);
        }
    }

    void FailureLogged(const std::string& description) override
    {
        m_host.Report(m_session, kLogLine, description);
    }

private:
    HeadlessHost& m_host;
    Session& m_session;
    std::string m_last[2];
};

HeadlessHost::HeadlessHost(const Clock& clock, std::FILE* out) : m_clock(clock), m_out(out) {}

HeadlessHost::~HeadlessHost() = default;

void HeadlessHost::SetGeometryTwips(int left, int top, int width, int height)
{
    m_geometry[0] = left;
    m_geometry[1] = top;
    m_geometry[2] = width;
    m_geometry[3] = height;
}

void HeadlessHost::GeometryTwips(int& left, int& top, int& width, int& height) const
{
    left = m_geometry[0];
    top = m_geometry[1];
    width = m_geometry[2];
    height = m_geometry[3];
}

void HeadlessHost::SessionAdded(Session& session)
{
    m_reporters[&session] = std::make_unique<Reporter>(*this, session);
}

void HeadlessHost::SessionRemoved(Session& session)
{
    m_reporters.erase(&session);
}

std::string HeadlessHost::StatusLine(const LocalDateTime& t, int number, const std::string& topic,
                                     int line, const std::string& text)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return std::string(stamp) + " session " + std::to_string(number) + " " + topic + " " +
           (line == kSerialLine    ? "serial"
            : line == kNetworkLine ? "network"
                                   : "error") +
           ": " + text;
}

void HeadlessHost::Report(Session& session, int line, const std::string& text)
{
    int number = 0;
    if (m_shell) {
        const auto& list = m_shell->sessions();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].get() == &session)
                number = static_cast<int>(i) + 1;
        }
    }
    const std::string out = StatusLine(m_clock.Now(), number, session.Topic(), line, text);
    std::fprintf(m_out, "%s\n", out.c_str());
    std::fflush(m_out);
}

void StreamMessages::Show(const std::string& text, const std::string& title)
{
    std::fprintf(m_out, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(m_out);
}

}  // namespace velkon
