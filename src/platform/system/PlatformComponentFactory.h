#pragma once

#include <string>

#include "session/AppState.h"

namespace velkon {

// The real serial, virtual port and socket components of a session.
class PlatformComponentFactory : public ComponentFactory {
public:
    explicit PlatformComponentFactory(std::string programFolder);
    SessionComponents CreateSessionComponents() override;

private:
    std::string m_programFolder;
};

}  // namespace velkon
