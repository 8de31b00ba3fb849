#pragma once

#include <cstdint>

#include "components/Result.h"

namespace velkon {

// First-in first-out byte queue with a fixed capacity limit. Memory follows
// the bytes in flight: storage grows as bytes wait, up to the capacity, and
// is given back when the queue drains, so an idle queue costs a few KiB at
// most whatever its capacity.
class ByteQueue {
public:
    // Storage an empty queue may keep for the next bytes; more is given back.
    static constexpr std::int32_t kKeptWhenEmpty = 16 * 1024;

    // Empties the queue and sets its capacity (negative counts as 0).
    void Allocate(std::int32_t capacity);
    // Appends as much of data as fits; returns the number of bytes appended.
    std::int32_t Add(const std::uint8_t* data, std::int32_t size);
    std::int32_t Add(const Bytes& data)
    {
        return Add(data.data(), static_cast<std::int32_t>(data.size()));
    }
    // count: wanted on entry (-1 for all), taken on return.
    Bytes Read(std::int32_t& count);
    // A copy of the oldest count bytes (fewer when fewer wait), left queued.
    Bytes Peek(std::int32_t count) const;
    // Removes the oldest count bytes.
    void Drop(std::int32_t count);
    // Empties the queue in one step.
    void Clear();

    std::int32_t Count() const { return static_cast<std::int32_t>(m_storage.size() - m_head); }
    std::int32_t Capacity() const { return m_capacity; }
    std::int32_t Room() const { return m_capacity - Count(); }
    // The queued bytes, oldest first.
    const std::uint8_t* Data() const { return m_storage.data() + m_head; }
    // Bytes of memory the queue holds now.
    std::int64_t Reserved() const { return static_cast<std::int64_t>(m_storage.capacity()); }

private:
    void Compact();

    Bytes m_storage;
    // Queued bytes lie in m_storage from m_head to the end.
    std::size_t m_head = 0;
    std::int32_t m_capacity = 0;
};

}  // namespace velkon
