#include "session/RefusalLog.h"

namespace velkon {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

std::string RefusalLog::Text(const std::string& address, const std::string& reason)
{
    return "Client " + address + " refused - " + reason;
}

std::int64_t RefusalLog::Seconds() const
{
    if (m_clock == nullptr)
        return 0;
    const LocalDateTime t = m_clock->Now();
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

void RefusalLog::Refused(const std::string& address, const std::string& reason)
{
    const std::int64_t now = Seconds();
    const auto it = m_lastLogged.find(address);
    // A clock set back counts as a minute gone.
    if (it != m_lastLogged.end() && now >= it->second && now - it->second < kQuietSeconds)
        return;
    // Forget the old ones so that a scan of many addresses cannot grow the map for good.
    if (m_lastLogged.size() >= 4096) {
        for (auto old = m_lastLogged.begin(); old != m_lastLogged.end();) {
            old = now - old->second >= kQuietSeconds ? m_lastLogged.erase(old) : std::next(old);
        }
    }
    m_lastLogged[address] = now;
    m_log(Text(address, reason));
}

}  // namespace velkon
