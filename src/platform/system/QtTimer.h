#pragma once

#include <memory>

#include "components/Timer.h"

class QTimer;

namespace velkon {

// A window timer on the Qt event loop.
class QtTimer : public Timer {
public:
    explicit QtTimer(int intervalMs);
    ~QtTimer() override;
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;

private:
    std::unique_ptr<QTimer> m_timer;
};

}  // namespace velkon
