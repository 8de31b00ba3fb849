#include "session/SessionPresenter.h"

#include "session/AppState.h"
#include "shell/StringTable.h"

namespace velkon {

SessionPresenter::SessionPresenter(const AppState& app) : m_app(app)
{
    m_form.caption = Text(text::kNew) + " - " + Text(text::kRs232ToTcpIp);
    m_form.activateCaption = Text(text::kActivate);
    m_form.statusText[kSerialLine] = Text(text::kComStatus);
    m_form.statusText[kNetworkLine] = Text(text::kNetStatus);
    // The design texts of the address labels carry a colon; the mode switch
    // replaces them with the plain texts.
    m_form.addressLabel = Text(text::kRemoteHost) + ":";
    m_form.portLabel = Text(text::kRemotePort) + ":";
}

std::string SessionPresenter::Text(int id) const
{
    return m_app.strings ? m_app.strings->Text(id) : std::string();
}

void SessionPresenter::Notify(SessionChange change)
{
    if (m_observer)
        m_observer->SessionChanged(change);
}

void SessionPresenter::SetStatus(int line, const std::string& text)
{
    SetStatusRaw(line,
                 Text(line == kSerialLine ? text::kComStatus : text::kNetStatus) + " " + text);
}

void SessionPresenter::SetStatusRaw(int line, const std::string& text)
{
    m_form.statusText[line] = text;
    Notify(SessionChange::Status);
}

std::string SessionPresenter::LocalDescription(std::string description) const
{
    // The adapters describe failures in English; the known phrases are in
    // the table, so the line reads in the interface language.
    if (!m_app.strings)
        return description;
    for (int id = text::kFirstFailurePhrase; id <= text::kLastFailurePhrase; ++id) {
        const std::string english = StringTable::English().Text(id);
        const std::size_t at = description.find(english);
        if (!english.empty() && at != std::string::npos) {
            description.replace(at, english.size(), Text(id));
            break;
        }
    }
    return description;
}

void SessionPresenter::SetError(int line, const std::string& description)
{
    SetStatus(line, Text(text::kErrorDash) + " " + LocalDescription(description));
}

void SessionPresenter::ResetStatusLines()
{
    SetStatusRaw(kSerialLine, Text(text::kComStatus));
    SetStatusRaw(kNetworkLine, Text(text::kNetStatus));
}

void SessionPresenter::SetCaption(const std::string& firstWord)
{
    m_form.caption = firstWord + " - " + Text(text::kRs232ToTcpIp);
    Notify(SessionChange::Caption);
}

void SessionPresenter::SetActiveLook(bool active)
{
    m_form.settingsEnabled = !active;
    m_form.activateCaption = Text(active ? text::kDeactivate : text::kActivate);
    Notify(SessionChange::Settings);
}

void SessionPresenter::SetLocalAddresses(std::vector<std::string> items, bool serverPossible)
{
    m_form.localIpItems = std::move(items);
    m_form.serverOptionEnabled = serverPossible;
}

void SessionPresenter::ShowMode(bool server)
{
    m_form.ipAddressVisible = !server;
    m_form.addressLabel = Text(server ? text::kLocalIp : text::kRemoteHost);
    m_form.portLabel = Text(server ? text::kLocalPort : text::kRemotePort);
}

void SessionPresenter::Activity(int lamp)
{
    if (m_form.lamp[lamp] == LampColour::Red)
        return;
    m_form.lamp[lamp] = LampColour::Red;
    Notify(SessionChange::Lamps);
}

void SessionPresenter::TickLamps()
{
    if (++m_lampTicks < kLampTicks)
        return;
    m_lampTicks = 0;
    if (!LampsLit())
        return;
    m_form.lamp[0] = m_form.lamp[1] = LampColour::Green;
    Notify(SessionChange::Lamps);
}

bool SessionPresenter::LampsLit() const
{
    return m_form.lamp[0] == LampColour::Red || m_form.lamp[1] == LampColour::Red;
}

}  // namespace velkon
