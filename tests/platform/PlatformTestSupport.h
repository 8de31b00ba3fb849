#pragma once

// Shared by the adapter tests: waiting on the event loop, and test data.

#include <cstdint>
#include <functional>

#include <QEventLoop>
#include <QTimer>

#include "components/Result.h"

namespace velkon::test {

// Runs the event loop until done() holds or timeoutMs passes. done() is
// checked every millisecond (QTest::qWaitFor sleeps between rounds, which
// makes long chains of events slow) and may do work such as reading a line.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000)
{
    if (done())
        return true;
    QEventLoop loop;
    bool met = false;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            met = true;
            loop.quit();
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(1);
    deadline.start(timeoutMs);
    loop.exec();
    return met || done();
}

// Every byte value, in order, repeated.
inline Bytes AllByteValues(int rounds)
{
    Bytes bytes;
    for (int r = 0; r < rounds; ++r) {
        for (int v = 0; v < 256; ++v)
            bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

}  // namespace velkon::test
