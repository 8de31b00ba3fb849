#include "network/StreamBuffer.h"

#include <algorithm>

namespace velkon {

void StreamBuffer::append(const char* bytes, std::size_t count)
{
    if (m_head > 0 && m_head >= m_data.size() / 2) {
        compact();
    }
    m_data.append(bytes, count);
}

void StreamBuffer::consume(std::size_t count)
{
    m_head += std::min(count, size());
    if (m_head == m_data.size()) {
        clear();
    } else if (m_head >= m_data.size() / 2 && m_data.capacity() > 4 * size() + kKeptCapacity) {
        // A burst that has mostly left should not keep its memory.
        compact();
    }
}

void StreamBuffer::clear()
{
    if (m_data.capacity() > kKeptCapacity) {
        std::string().swap(m_data);
    } else {
        m_data.clear();
    }
    m_head = 0;
}

std::string StreamBuffer::take()
{
    std::string rest = m_head == 0 ? std::move(m_data) : m_data.substr(m_head);
    m_data = std::string();
    m_head = 0;
    return rest;
}

void StreamBuffer::compact()
{
    m_data.erase(0, m_head);
    m_head = 0;
    if (m_data.capacity() > 2 * m_data.size() + kKeptCapacity) {
        m_data.shrink_to_fit();
    }
}

}  // namespace velkon
