#pragma once

#include <string>

#include "components/Services.h"

namespace velkon {

// Start at logon: an XDG autostart entry, $XDG_CONFIG_HOME/autostart/velkon.desktop
// (~/.config/autostart without XDG_CONFIG_HOME).
class XdgStartEntry : public StartEntry {
public:
    bool SetStartWithWindows(bool on, const std::string& valueName, const std::string& exePath,
                             bool currentUser, bool runKey) override;
    static std::string EntryPath();
};

}  // namespace velkon
