#include "system/QtTimer.h"

#include <QTimer>

namespace velkon {

QtTimer::QtTimer(int intervalMs) : m_timer(std::make_unique<QTimer>())
{
    m_timer->setInterval(intervalMs);
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { raiseTick(); });
}

QtTimer::~QtTimer() = default;

void QtTimer::SetEnabled(bool enabled)
{
    if (enabled) {
        if (!m_timer->isActive())
            m_timer->start();
    } else {
        m_timer->stop();
    }
}

bool QtTimer::Enabled() const
{
    return m_timer->isActive();
}

}  // namespace velkon
