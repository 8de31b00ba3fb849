#pragma once

// Shared by the adapter tests: waiting on the event loop, and test data.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

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

// Opens path read-write in a child process that lacks CAP_SYS_ADMIN (which
// lets root past a terminal's exclusive mode): 0 when the open succeeded,
// else its errno; -1 when the child could not be set up.
inline int OpenWithoutSysAdmin(const std::string& path)
{
    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (::syscall(SYS_capget, &header, data) != 0) {
            ::_exit(255);
        }
        data[0].effective &= ~(1u << CAP_SYS_ADMIN);
        data[0].permitted &= ~(1u << CAP_SYS_ADMIN);
        if (::syscall(SYS_capset, &header, data) != 0) {
            ::_exit(255);
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : (errno & 0x7F));
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace velkon::test
