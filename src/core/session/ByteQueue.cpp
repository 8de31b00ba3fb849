#include "session/ByteQueue.h"

#include <algorithm>

namespace velkon {

void ByteQueue::Allocate(std::int32_t capacity)
{
    m_capacity = capacity > 0 ? capacity : 0;
    Clear();
}

void ByteQueue::Clear()
{
    m_storage.clear();
    m_head = 0;
    if (m_storage.capacity() > static_cast<std::size_t>(kKeptWhenEmpty))
        Bytes().swap(m_storage);
}

void ByteQueue::Compact()
{
    if (m_head == 0)
        return;
    m_storage.erase(m_storage.begin(), m_storage.begin() + static_cast<std::ptrdiff_t>(m_head));
    m_head = 0;
}

std::int32_t ByteQueue::Add(const std::uint8_t* data, std::int32_t size)
{
    const std::int32_t free = Room();
    if (free <= 0 || size <= 0)
        return 0;
    const std::int32_t taken = std::min(size, free);
    // Taken bytes leave a gap at the front; reuse it before growing.
    if (m_head > 0 && m_storage.size() + static_cast<std::size_t>(taken) > m_storage.capacity()) {
        Compact();
    }
    m_storage.insert(m_storage.end(), data, data + taken);
    return taken;
}

Bytes ByteQueue::Read(std::int32_t& count)
{
    const std::int32_t queued = Count();
    if (count == 0)
        return {};
    if (count < 0 || count > queued)
        count = queued;
    Bytes out = Peek(count);
    Drop(count);
    return out;
}

Bytes ByteQueue::Peek(std::int32_t count) const
{
    const std::int32_t n = std::clamp(count, 0, Count());
    const auto first = m_storage.begin() + static_cast<std::ptrdiff_t>(m_head);
    return Bytes(first, first + n);
}

void ByteQueue::Drop(std::int32_t count)
{
    m_head += static_cast<std::size_t>(std::clamp(count, 0, Count()));
    if (Count() == 0)
        Clear();
}

}  // namespace velkon
