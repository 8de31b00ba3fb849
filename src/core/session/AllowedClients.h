#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velkon {

// The peers a server session serves: IPv4 and IPv6 addresses and prefixes
// ("192.168.10.0/24 10.1.2.3 fd00::/8"), separated by blanks, commas or both.
// An empty list lets anyone in. An IPv4-mapped IPv6 peer (::ffff:a.b.c.d)
// counts as its IPv4 address.
class AllowedClients {
public:
    struct Parsed;

    // The list, or the first entry that is no address or prefix.
    static Parsed Parse(const std::string& text);

    bool Empty() const { return m_entries.empty(); }
    // address: a peer's address as text; an unreadable one never matches.
    bool Allows(const std::string& address) const;

private:
    struct Entry {
        bool v6 = false;
        std::array<std::uint8_t, 16> bytes{};
        int prefix = 0;
    };
    static bool ReadAddress(const std::string& text, Entry& entry);
    static bool ReadEntry(const std::string& text, Entry& entry);

    std::vector<Entry> m_entries;
};

struct AllowedClients::Parsed {
    bool ok = true;
    AllowedClients list;
    // The entry that was refused, as typed.
    std::string wrongEntry;
};

}  // namespace velkon
