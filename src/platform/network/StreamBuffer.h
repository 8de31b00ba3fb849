#pragma once

#include <cstddef>
#include <string>

namespace velkon {

// Byte stream buffer with cheap removal from the front. Its memory follows the bytes
// waiting in it: drained, it keeps at most kKeptCapacity; mostly consumed, it
// moves the rest to the front and gives the surplus back.
class StreamBuffer {
public:
    static constexpr std::size_t kKeptCapacity = 4 * 1024;

    std::size_t size() const { return m_data.size() - m_head; }
    bool empty() const { return size() == 0; }
    const char* data() const { return m_data.data() + m_head; }
    // Memory held, for tests and diagnostics.
    std::size_t capacity() const { return m_data.capacity(); }

    void append(const char* bytes, std::size_t count);
    void consume(std::size_t count);
    void clear();
    // Everything waiting, leaving the queue empty.
    std::string take();

private:
    void compact();

    std::string m_data;
    std::size_t m_head = 0;
};

}  // namespace velkon
