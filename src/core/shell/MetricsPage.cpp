#include "shell/MetricsPage.h"

#include <cstdint>

#include "session/Session.h"

namespace velkon {

namespace {

// Label values: backslash, double quote and line feed are escaped.
void AppendLabel(std::string& out, const char* name, const std::string& value)
{
    out += name;
    out += "=\"";
    for (const char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    out += '"';
}

void AppendHeader(std::string& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void AppendSample(std::string& out, const char* name, const SessionMetrics& s, std::uint64_t value)
{
    out += name;
    out += '{';
    AppendLabel(out, "session", std::to_string(s.number));
    out += ',';
    AppendLabel(out, "topic", s.topic);
    out += "} ";
    out += std::to_string(value);
    out += '\n';
}

struct Family {
    const char* name;
    const char* type;
    const char* help;
    std::uint64_t (*value)(const SessionMetrics&);
};

constexpr Family kFamilies[] = {
    {"velkon_serial_read_bytes_total", "counter",
     "Bytes read from the serial side since the session was activated.",
     [](const SessionMetrics& s) { return s.counters.serialRead; }},
    {"velkon_serial_written_bytes_total", "counter",
     "Bytes written to the serial side since the session was activated.",
     [](const SessionMetrics& s) { return s.counters.serialWritten; }},
    {"velkon_network_received_bytes_total", "counter",
     "Bytes received from network clients since the session was activated.",
     [](const SessionMetrics& s) { return s.counters.networkReceived; }},
    {"velkon_network_sent_bytes_total", "counter",
     "Bytes sent to network clients since the session was activated, summed over the clients.",
     [](const SessionMetrics& s) { return s.counters.networkSent; }},
    {"velkon_dropped_bytes_total", "counter",
     "Bytes taken in but not passed on since the session was activated.",
     [](const SessionMetrics& s) { return s.counters.dropped; }},
    {"velkon_clients", "gauge", "Network clients connected now.",
     [](const SessionMetrics& s) { return static_cast<std::uint64_t>(s.clients); }},
    {"velkon_session_active", "gauge", "1 while the session is active.",
     [](const SessionMetrics& s) { return std::uint64_t{s.active ? 1u : 0u}; }},
};

}  // namespace

std::vector<SessionMetrics> CollectMetrics(const std::vector<std::unique_ptr<Session>>& sessions)
{
    std::vector<SessionMetrics> out;
    out.reserve(sessions.size());
    int number = 0;
    for (const auto& session : sessions) {
        SessionMetrics m;
        m.number = ++number;
        m.topic = session->Topic();
        m.counters = session->Counters();
        m.clients = session->ClientCount();
        m.active = session->IsActive();
        m.serialStatus = session->form().statusText[0];
        m.networkStatus = session->form().statusText[1];
        out.push_back(std::move(m));
    }
    return out;
}

std::string MetricsPage(const std::vector<SessionMetrics>& sessions)
{
    std::string out;
    out.reserve(1024 + sessions.size() * 900);
    for (const Family& family : kFamilies) {
        AppendHeader(out, family.name, family.type, family.help);
        for (const SessionMetrics& s : sessions)
            AppendSample(out, family.name, s, family.value(s));
    }
    AppendHeader(out, "velkon_session_status", "gauge",
                 "The session's serial and network status lines; always 1.");
    for (const SessionMetrics& s : sessions) {
        out += "velkon_session_status{";
        AppendLabel(out, "session", std::to_string(s.number));
        out += ',';
        AppendLabel(out, "topic", s.topic);
        out += ',';
        AppendLabel(out, "serial", s.serialStatus);
        out += ',';
        AppendLabel(out, "network", s.networkStatus);
        out += "} 1\n";
    }
    return out;
}

}  // namespace velkon
