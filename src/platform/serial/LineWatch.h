#pragma once

#include <functional>
#include <memory>

class QTimer;

namespace velkon {

// Watches the input modem lines and the error counters of a serial device
// and reports each change as a SerialPort event code. Polled: TIOCMIWAIT
// would need a thread per port. A device without modem lines (a
// pseudo-terminal) is not polled at all.
class LineWatch {
public:
    static constexpr int kPollMs = 50;

    explicit LineWatch(std::function<void(int eventCode)> onEvent);
    ~LineWatch();

    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;

    void Start(int fd);
    void Stop();

    // The SerialPort::kLine* bits of fd's modem lines, -1 without lines.
    static int ModemLines(int fd);

private:
    struct Counts {
        int frame = 0;
        int overrun = 0;
        int parity = 0;
        int brk = 0;
    };
    void Poll();
    static bool ReadCounts(int fd, Counts& counts);

    std::function<void(int)> m_onEvent;
    std::unique_ptr<QTimer> m_timer;
    int m_fd = -1;
    int m_lines = -1;
    Counts m_counts;
    bool m_haveCounts = false;
};

}  // namespace velkon
