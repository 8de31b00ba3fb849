#pragma once

#include <string>
#include <vector>

#include "session/AppState.h"

namespace velkon {

class SystemNetworkInfo : public NetworkInfo {
public:
    std::vector<std::string> LocalAddresses() override;
};

}  // namespace velkon
