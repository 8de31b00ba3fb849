#pragma once

#include <memory>
#include <string>
#include <vector>

#include "session/Traffic.h"

namespace velkon {

class Session;

// What the metrics page tells of one session.
struct SessionMetrics {
    int number = 0;  // 1-based, as in the configuration file
    std::string topic;
    TrafficCounters counters;
    int clients = 0;
    bool active = false;
    std::string serialStatus;
    std::string networkStatus;
};

std::vector<SessionMetrics> CollectMetrics(const std::vector<std::unique_ptr<Session>>& sessions);

// The Prometheus text exposition (format 0.0.4) of the sessions.
std::string MetricsPage(const std::vector<SessionMetrics>& sessions);

}  // namespace velkon
