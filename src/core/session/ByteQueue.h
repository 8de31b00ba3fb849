#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "components/Result.h"

namespace velkon {

// First-in first-out byte queue with a capacity limit, the one byte FIFO of
// the program. Memory follows the bytes in flight: storage grows as bytes
// wait, up to the capacity, and is given back when the queue drains, so an
// idle queue costs a few KiB at most whatever its capacity.
//
// Bytes can be written in place (Prepare, then Commit) and read in place
// (Data, then Drop), so a read() can fill it and a write() empty it without
// a copy in between.
class ByteQueue {
public:
    // Storage an empty queue may keep for the next bytes; more is given back.
    static constexpr std::int32_t kKeptWhenEmpty = 16 * 1024;
    static constexpr std::int32_t kUnlimited = 0x7fffffff;

    explicit ByteQueue(std::int32_t capacity = 0) { Allocate(capacity); }
    ByteQueue(const ByteQueue&) = delete;
    ByteQueue& operator=(const ByteQueue&) = delete;

    // Empties the queue and sets its capacity (negative counts as 0).
    void Allocate(std::int32_t capacity);
    // Appends as much of data as fits; returns the number of bytes appended.
    std::int32_t Add(const std::uint8_t* data, std::int32_t size);
    std::int32_t Add(const Bytes& data)
    {
        return Add(data.data(), static_cast<std::int32_t>(data.size()));
    }
    // Space for up to wanted more bytes at the end (less when less fits),
    // to be filled and then made part of the queue by Commit.
    std::span<std::uint8_t> Prepare(std::int32_t wanted);
    // Appends count bytes written into the space Prepare gave.
    void Commit(std::int32_t count);
    // count: wanted on entry (-1 for all), taken on return.
    Bytes Read(std::int32_t& count);
    // A copy of the oldest count bytes (fewer when fewer wait), left queued.
    Bytes Peek(std::int32_t count) const;
    // Removes the oldest count bytes.
    void Drop(std::int32_t count);
    // Empties the queue in one step.
    void Clear();

    std::int32_t Count() const { return static_cast<std::int32_t>(m_tail - m_head); }
    bool Empty() const { return m_tail == m_head; }
    std::int32_t Capacity() const { return m_capacity; }
    std::int32_t Room() const { return m_capacity - Count(); }
    // The queued bytes, oldest first.
    const std::uint8_t* Data() const { return m_storage.get() + m_head; }
    // Bytes of memory the queue holds now.
    std::int64_t Reserved() const { return static_cast<std::int64_t>(m_size); }

private:
    // Makes room for extra bytes after the tail.
    void Reserve(std::size_t extra);
    void Resize(std::size_t size);

    std::unique_ptr<std::uint8_t[]> m_storage;
    std::size_t m_size = 0;
    // Queued bytes lie in m_storage from m_head up to m_tail.
    std::size_t m_head = 0;
    std::size_t m_tail = 0;
    std::int32_t m_capacity = 0;
};

}  // namespace velkon
