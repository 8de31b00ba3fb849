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
    c.MSComm1 = std::make_unique<TermiosSerialPort>(m_programFolder);
    c.VSPort1 = std::make_unique<PtyVirtualPort>();
    c.Winsock1 = std::make_unique<QtSocketArray>();
    c.Timer1 = std::make_unique<QtTimer>(5000);
    c.Timer2 = std::make_unique<QtTimer>(50);
    return c;
}

}  // namespace velkon
