#include "session/TrafficFeed.h"

#include <algorithm>

namespace velkon {

TrafficFeed::TrafficFeed(const Clock* clock, AddressOf addressOf)
    : m_clock(clock), m_addressOf(std::move(addressOf))
{
}

void TrafficFeed::Attach(TrafficSink* sink)
{
    if (sink == nullptr || std::find(m_sinks.begin(), m_sinks.end(), sink) != m_sinks.end())
        return;
    m_sinks.push_back(sink);
    ++m_watchers;
}

void TrafficFeed::Detach(TrafficSink* sink)
{
    const auto it = std::find(m_sinks.begin(), m_sinks.end(), sink);
    if (sink == nullptr || it == m_sinks.end())
        return;
    --m_watchers;
    if (m_delivering)
        *it = nullptr;
    else
        m_sinks.erase(it);
}

void TrafficFeed::Reset()
{
    m_counters = {};
    m_clients.clear();
}

LocalDateTime TrafficFeed::Now() const
{
    return m_clock != nullptr ? m_clock->Now() : LocalDateTime{};
}

ClientTraffic& TrafficFeed::Client(int index)
{
    const std::size_t i = static_cast<std::size_t>(std::max(index, 0));
    if (i >= m_clients.size())
        m_clients.resize(i + 1);
    return m_clients[i];
}

void TrafficFeed::SerialRead(const std::uint8_t* data, std::size_t size)
{
    m_counters.serialRead += size;
    if (Watched())
        Deliver(TrafficDirection::kSerialToNetwork, "serial", data, size);
}

void TrafficFeed::NetworkReceived(int index, const std::uint8_t* data, std::size_t size)
{
    m_counters.networkReceived += size;
    Client(index).received += size;
    if (!Watched())
        return;
    const ClientTraffic& client = Client(index);
    const std::string source =
        client.connected ? client.address : (m_addressOf ? m_addressOf(index) : std::string());
    Deliver(TrafficDirection::kNetworkToSerial, source, data, size);
}

void TrafficFeed::NetworkSent(int index, std::size_t size)
{
    m_counters.networkSent += size;
    Client(index).sent += size;
}

void TrafficFeed::ClientConnected(int index)
{
    ClientTraffic& client = Client(index);
    client = {};
    client.connected = true;
    client.address = m_addressOf ? m_addressOf(index) : std::string();
    client.since = Now();
    Event(TrafficEventKind::kClientConnected, client.address);
}

void TrafficFeed::ClientLeft(int index)
{
    ClientTraffic& client = Client(index);
    if (!client.connected)
        return;
    client.connected = false;
    Event(TrafficEventKind::kClientLeft, client.address);
}

void TrafficFeed::Deliver(TrafficDirection direction, std::string_view source,
                          const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    TrafficChunk chunk;
    chunk.time = Now();
    chunk.direction = direction;
    chunk.source = source;
    chunk.bytes = {data, size};
    m_delivering = true;
    for (std::size_t i = 0; i < m_sinks.size(); ++i) {
        if (m_sinks[i] != nullptr)
            m_sinks[i]->OnTrafficData(chunk);
    }
    m_delivering = false;
    std::erase(m_sinks, nullptr);
}

void TrafficFeed::Event(TrafficEventKind kind, std::string detail)
{
    if (!Watched())
        return;
    TrafficEvent event;
    event.time = Now();
    event.kind = kind;
    event.detail = std::move(detail);
    m_delivering = true;
    for (std::size_t i = 0; i < m_sinks.size(); ++i) {
        if (m_sinks[i] != nullptr)
            m_sinks[i]->OnTrafficEvent(event);
    }
    m_delivering = false;
    std::erase(m_sinks, nullptr);
}

}  // namespace velkon
