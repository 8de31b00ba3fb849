#include "system/PlatformComponentFactory.h"

#include <memory>
#include <utility>

#include "network/QtSocketArray.h"
#include "serial/TermiosSerialPort.h"
#include "system/QtTimer.h"
#include "virtual/PtyVirtualPort.h"

namespace velkon {

PlatformComponentFactory::PlatformComponentFactory(std::string programFolder)
    : m_programFolder(std::move(programFolder))
{
}

SessionComponents PlatformComponentFactory::CreateSessionComponents()
{
    SessionComponents c;
    c.serialPort = std::make_unique<TermiosSerialPort>(m_programFolder);
    c.virtualPort = std::make_unique<PtyVirtualPort>();
    c.sockets = std::make_unique<QtSocketArray>();
    c.reconnectTimer = std::make_unique<QtTimer>(5000);
    c.housekeepingTimer = std::make_unique<QtTimer>(50);
    return c;
}

}  // namespace velkon
