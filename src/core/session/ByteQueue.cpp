#include "session/ByteQueue.h"

#include <cstring>

namespace velkon {

void ByteQueue::Allocate(std::int32_t capacity)
{
    m_capacity = capacity > 0 ? capacity : 0;
    m_storage.assign(static_cast<std::size_t>(m_capacity), 0);
    m_count = 0;
}

std::int32_t ByteQueue::Add(const std::uint8_t* data, std::int32_t size)
{
    const std::int32_t free = m_capacity - m_count;
    if (free <= 0 || size <= 0) return 0;
    const std::int32_t taken = size > free ? free : size;
    std::memcpy(m_storage.data() + m_count, data, static_cast<std::size_t>(taken));
    m_count += taken;
    return taken;
}

Bytes ByteQueue::Read(std::int32_t& count)
{
    if (count == 0) return {};
    if (m_count == 0) {
        count = 0;
        return {};
    }
    if (count < 0 || count > m_count) count = m_count;
    Bytes out(m_storage.begin(), m_storage.begin() + count);
    if (count == m_count) {
        m_count = 0;
    } else {
        m_count -= count;
        std::memmove(m_storage.data(), m_storage.data() + count, static_cast<std::size_t>(m_count));
    }
    return out;
}

}  // namespace velkon
