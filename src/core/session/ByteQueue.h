#pragma once

#include <cstdint>

#include "components/Result.h"

namespace velkon {

// Fixed-capacity first-in first-out byte queue. Queued bytes always lie at
// the front of the storage in arrival order; taking bytes moves the rest down.
// Storage is allocated only by Allocate, never while data flows.
class ByteQueue {
public:
    // Fresh, empty storage of the given capacity (negative counts as 0).
    void Allocate(std::int32_t capacity);
    // Appends as much of data as fits; returns the number of bytes appended.
    std::int32_t Add(const std::uint8_t* data, std::int32_t size);
    std::int32_t Add(const Bytes& data) { return Add(data.data(), static_cast<std::int32_t>(data.size())); }
    // count: wanted on entry (-1 for all), taken on return.
    Bytes Read(std::int32_t& count);
    // Empties the queue in one step; the stored bytes are overwritten later.
    void Clear() { m_count = 0; }

    std::int32_t Count() const { return m_count; }
    std::int32_t Capacity() const { return m_capacity; }
    std::int32_t Room() const { return m_capacity - m_count; }
    const std::uint8_t* Data() const { return m_storage.data(); }

private:
    Bytes m_storage;
    std::int32_t m_capacity = 0;
    std::int32_t m_count = 0;
};

}  // namespace velkon
