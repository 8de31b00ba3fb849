#pragma once

#include <functional>
#include <string>
#include <vector>

#include "session/Traffic.h"

namespace velkon {

// Counts one session's traffic and hands every chunk and connection event to
// the sinks that watch it. Without sinks a chunk costs a few additions.
class TrafficFeed {
public:
    using AddressOf = std::function<std::string(int index)>;

    // clock may be null (the time is then left at its default);
    // addressOf names a socket element's peer as "address:port".
    TrafficFeed(const Clock* clock, AddressOf addressOf);

    void Attach(TrafficSink* sink);
    void Detach(TrafficSink* sink);
    bool Watched() const { return m_watchers > 0; }

    const TrafficCounters& Counters() const { return m_counters; }
    // By socket element index; entries of elements never connected are
    // default.
    const std::vector<ClientTraffic>& Clients() const { return m_clients; }

    // A new activation: the counts start again.
    void Reset();

    void SerialRead(const std::uint8_t* data, std::size_t size);
    void SerialWritten(std::size_t size) { m_counters.serialWritten += size; }
    void NetworkReceived(int index, const std::uint8_t* data, std::size_t size);
    void NetworkSent(int index, std::size_t size);
    void Dropped(std::size_t size) { m_counters.dropped += size; }

    void ClientConnected(int index);
    void ClientLeft(int index);
    void Event(TrafficEventKind kind, std::string detail = {});

private:
    LocalDateTime Now() const;
    ClientTraffic& Client(int index);
    void Deliver(TrafficDirection direction, std::string_view source, const std::uint8_t* data,
                 std::size_t size);

    const Clock* m_clock;
    AddressOf m_addressOf;
    TrafficCounters m_counters;
    std::vector<ClientTraffic> m_clients;
    // Detached entries become null during a delivery and are removed after.
    std::vector<TrafficSink*> m_sinks;
    int m_watchers = 0;
    bool m_delivering = false;
};

}  // namespace velkon
