#pragma once

#include <functional>

namespace velkon {

// A window timer with a fixed interval; ticks call the handler.
class Timer {
public:
    virtual ~Timer() = default;
    void setTickHandler(std::function<void()> handler) { m_onTick = std::move(handler); }
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;

protected:
    void raiseTick()
    {
        if (m_onTick)
            m_onTick();
    }

private:
    std::function<void()> m_onTick;
};

}  // namespace velkon
