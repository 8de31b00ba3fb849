#include "metrics/MetricsServer.h"

namespace velkon {

MetricsServer::MetricsServer(MetricsResponder::Page page, Report report)
    : m_responder(std::move(page)), m_report(std::move(report))
{
}

void MetricsServer::Follow(const GlobalSettings& settings)
{
    // Unchanged options keep the page, and do not repeat a failure.
    if (settings.MetricsPort == m_port && settings.MetricsAddress == m_address)
        return;
    m_port = settings.MetricsPort;
    m_address = settings.MetricsAddress;
    m_responder.Close();
    if (m_port == 0)
        return;
    if (Result listening = m_responder.Listen(m_address, m_port); !listening) {
        m_report("no metrics page on " + m_address + ":" + std::to_string(m_port) + ": " +
                 listening.description());
    }
}

}  // namespace velkon
