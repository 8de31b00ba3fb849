#include "session/AllowedClients.h"

#include <algorithm>
#include <cctype>

namespace velkon {

namespace {

bool IsSeparator(char c)
{
    return c == ',' || std::isspace(static_cast<unsigned char>(c));
}

// A whole decimal number of at most maxDigits digits.
bool ReadNumber(const std::string& text, int maxDigits, int& value)
{
    if (text.empty() || static_cast<int>(text.size()) > maxDigits)
        return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool ReadIPv4(const std::string& text, std::uint8_t* out)
{
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.', start) : text.size();
        if (dot == std::string::npos)
            return false;
        int value = 0;
        const std::string digits = text.substr(start, dot - start);
        // No leading zeros: "010" reads as octal elsewhere.
        if (!ReadNumber(digits, 3, value) || value > 255 || (digits.size() > 1 && digits[0] == '0'))
            return false;
        out[part] = static_cast<std::uint8_t>(value);
        start = dot + 1;
    }
    return true;
}

bool ReadHexGroup(const std::string& text, std::uint16_t& value)
{
    if (text.empty() || text.size() > 4)
        return false;
    value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    return true;
}

// The groups of one side of "::", an embedded IPv4 address allowed last.
bool ReadGroups(const std::string& text, bool last, std::vector<std::uint16_t>& groups)
{
    if (text.empty())
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        const std::string group = text.substr(start, colon - start);
        if (colon == std::string::npos && last && group.find('.') != std::string::npos) {
            std::uint8_t v4[4];
            if (!ReadIPv4(group, v4))
                return false;
            groups.push_back(static_cast<std::uint16_t>(v4[0] << 8 | v4[1]));
            groups.push_back(static_cast<std::uint16_t>(v4[2] << 8 | v4[3]));
            return true;
        }
        std::uint16_t value = 0;
        if (!ReadHexGroup(group, value))
            return false;
        groups.push_back(value);
        if (colon == std::string::npos)
            return true;
        start = colon + 1;
    }
}

bool ReadIPv6(const std::string& text, std::uint8_t* out)
{
    const std::size_t gap = text.find("::");
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    if (gap == std::string::npos) {
        if (!ReadGroups(text, true, head) || head.size() != 8)
            return false;
    } else {
        if (text.find("::", gap + 1) != std::string::npos)
            return false;
        if (!ReadGroups(text.substr(0, gap), false, head) ||
            !ReadGroups(text.substr(gap + 2), true, tail) || head.size() + tail.size() > 7) {
            return false;
        }
    }
    std::vector<std::uint16_t> groups = head;
    groups.resize(8 - tail.size(), 0);
    groups.insert(groups.end(), tail.begin(), tail.end());
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(groups[static_cast<std::size_t>(i)] >> 8);
        out[2 * i + 1] = static_cast<std::uint8_t>(groups[static_cast<std::size_t>(i)] & 0xff);
    }
    return true;
}

bool SamePrefix(const std::uint8_t* a, const std::uint8_t* b, int bits)
{
    const int whole = bits / 8;
    if (!std::equal(a, a + whole, b))
        return false;
    const int rest = bits % 8;
    if (rest == 0)
        return true;
    const std::uint8_t mask = static_cast<std::uint8_t>(0xff << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

bool AllowedClients::ReadAddress(const std::string& text, Entry& entry)
{
    if (text.find(':') == std::string::npos) {
        entry.v6 = false;
        return ReadIPv4(text, entry.bytes.data());
    }
    entry.v6 = true;
    if (!ReadIPv6(text, entry.bytes.data()))
        return false;
    // ::ffff:a.b.c.d is an IPv4 peer seen through a dual-stack socket.
    static const std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(kMapped, kMapped + 12, entry.bytes.begin())) {
        std::copy(entry.bytes.begin() + 12, entry.bytes.end(), entry.bytes.begin());
        entry.v6 = false;
    }
    return true;
}

bool AllowedClients::ReadEntry(const std::string& text, Entry& entry)
{
    const std::size_t slash = text.find('/');
    if (!ReadAddress(text.substr(0, slash), entry))
        return false;
    const int width = entry.v6 ? 128 : 32;
    entry.prefix = width;
    if (slash == std::string::npos)
        return true;
    int prefix = 0;
    if (!ReadNumber(text.substr(slash + 1), 3, prefix) || prefix > width)
        return false;
    entry.prefix = prefix;
    return true;
}

AllowedClients::Parsed AllowedClients::Parse(const std::string& text)
{
    Parsed parsed;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSeparator(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        const std::string item = text.substr(i, end - i);
        Entry entry;
        if (!ReadEntry(item, entry)) {
            parsed.ok = false;
            parsed.wrongEntry = item;
            parsed.list.m_entries.clear();
            return parsed;
        }
        parsed.list.m_entries.push_back(entry);
        i = end;
    }
    return parsed;
}

bool AllowedClients::Allows(const std::string& address) const
{
    if (m_entries.empty())
        return true;
    Entry peer;
    // A scope (fe80::1%eth0) does not change the address.
    if (!ReadAddress(address.substr(0, address.find('%')), peer))
        return false;
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.v6 == peer.v6 && SamePrefix(e.bytes.data(), peer.bytes.data(), e.prefix);
    });
}

}  // namespace velkon
