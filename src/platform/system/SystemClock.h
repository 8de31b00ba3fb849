#pragma once

#include "components/Services.h"

namespace velkon {

class SystemClock : public Clock {
public:
    LocalDateTime Now() const override;
};

}  // namespace velkon
