#pragma once

#include <functional>
#include <string>

#include "metrics/MetricsResponder.h"
#include "session/AppState.h"

namespace velkon {

// The program's metrics page while the options ask for one: it follows
// MetricsPort and MetricsAddress. A port that cannot be had is reported and
// the program goes on without the page.
class MetricsServer : public MetricsService {
public:
    using Report = std::function<void(const std::string&)>;

    MetricsServer(MetricsResponder::Page page, Report report);

    void Follow(const GlobalSettings& settings) override;
    const MetricsResponder& responder() const { return m_responder; }

private:
    MetricsResponder m_responder;
    Report m_report;
    int m_port = 0;
    std::string m_address;
};

}  // namespace velkon
