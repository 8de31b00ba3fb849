#include "session/ByteQueue.h"

#include <algorithm>
#include <cstring>

namespace velkon {

namespace {

// Growth starts here and doubles, so a stream costs few reallocations.
constexpr std::size_t kFirstSize = 4 * 1024;

}  // namespace

void ByteQueue::Allocate(std::int32_t capacity)
{
    m_capacity = capacity > 0 ? capacity : 0;
    Clear();
}

void ByteQueue::Clear()
{
    m_head = 0;
    m_tail = 0;
    if (m_size > static_cast<std::size_t>(kKeptWhenEmpty))
        Resize(0);
}

void ByteQueue::Resize(std::size_t size)
{
    std::unique_ptr<std::uint8_t[]> storage;
    const std::size_t count = m_tail - m_head;
    if (size > 0) {
        storage.reset(new std::uint8_t[size]);
        if (count > 0)
            std::memcpy(storage.get(), m_storage.get() + m_head, count);
    }
    m_storage = std::move(storage);
    m_size = size;
    m_head = 0;
    m_tail = count;
}

void ByteQueue::Reserve(std::size_t extra)
{
    if (m_size - m_tail >= extra)
        return;
    const std::size_t count = m_tail - m_head;
    const std::size_t needed = count + extra;
    // Taken bytes leave a gap at the front; reuse it before growing.
    if (needed <= m_size && m_head >= count) {
        std::memcpy(m_storage.get(), m_storage.get() + m_head, count);
        m_head = 0;
        m_tail = count;
        return;
    }
    if (needed <= m_size) {
        std::memmove(m_storage.get(), m_storage.get() + m_head, count);
        m_head = 0;
        m_tail = count;
        return;
    }
    std::size_t size = std::max(kFirstSize, m_size * 2);
    size = std::max(size, needed);
    size = std::min(size, std::max(needed, static_cast<std::size_t>(m_capacity)));
    Resize(size);
}

std::span<std::uint8_t> ByteQueue::Prepare(std::int32_t wanted)
{
    const std::int32_t n = std::min(wanted, Room());
    if (n <= 0)
        return {};
    Reserve(static_cast<std::size_t>(n));
    return {m_storage.get() + m_tail, static_cast<std::size_t>(n)};
}

void ByteQueue::Commit(std::int32_t count)
{
    if (count > 0)
        m_tail = std::min(m_tail + static_cast<std::size_t>(count), m_size);
}

std::int32_t ByteQueue::Add(const std::uint8_t* data, std::int32_t size)
{
    const std::span<std::uint8_t> space = Prepare(size);
    if (space.empty())
        return 0;
    std::memcpy(space.data(), data, space.size());
    Commit(static_cast<std::int32_t>(space.size()));
    return static_cast<std::int32_t>(space.size());
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
    return Bytes(Data(), Data() + n);
}

void ByteQueue::Drop(std::int32_t count)
{
    m_head += static_cast<std::size_t>(std::clamp(count, 0, Count()));
    if (m_head == m_tail)
        Clear();
}

}  // namespace velkon
