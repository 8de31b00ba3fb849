#include "system/SystemNetworkInfo.h"

#include "network/LocalAddresses.h"

namespace velkon {

std::vector<std::string> SystemNetworkInfo::LocalAddresses()
{
    return ListBindableAddresses();
}

}  // namespace velkon
