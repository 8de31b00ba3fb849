#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "components/Services.h"

namespace velkon {

// Connections and datagrams the network side turned away, logged at most
// once a minute per address: a peer hammering a closed door must not flood
// the log or start the error program a thousand times.
class RefusalLog {
public:
    static constexpr std::int64_t kQuietSeconds = 60;

    using LogFn = std::function<void(const std::string& description)>;

    RefusalLog(Clock* const& clock, LogFn log) : m_clock(clock), m_log(std::move(log)) {}

    void Refused(const std::string& address, const std::string& reason);
    void Reset() { m_lastLogged.clear(); }

    // "Client 10.0.0.9 refused - not in the allowed list"
    static std::string Text(const std::string& address, const std::string& reason);

private:
    // Seconds on the clock's calendar; only differences matter.
    std::int64_t Seconds() const;

    // The application's clock as it is at each refusal (tests set it late).
    Clock* const& m_clock;
    LogFn m_log;
    std::map<std::string, std::int64_t> m_lastLogged;
};

}  // namespace velkon
