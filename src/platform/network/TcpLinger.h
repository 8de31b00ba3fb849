#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class QObject;

namespace velkon {

// Connections the program has closed while bytes were still queued for them.
//
// Each one sends what was queued, then shuts down in order and discards
// whatever the peer still sends, all within kCloseFlushMs; after that it is
// dropped. Closing at once with unread input would reset the connection and
// could destroy bytes the peer has not read yet.
class TcpLinger {
public:
    static constexpr int kCloseFlushMs = 10000;

    TcpLinger();
    ~TcpLinger();
    TcpLinger(const TcpLinger&) = delete;
    TcpLinger& operator=(const TcpLinger&) = delete;

    // Takes ownership of a connected descriptor.
    void Add(int fd, std::string unsent);
    std::size_t Count() const { return m_entries.size(); }
    // Resets every connection still here; the bytes they had not delivered
    // (queued here, or in the kernel and not acknowledged).
    std::int64_t ResetAll();

private:
    struct Entry;

    void OnReadable(std::uint64_t id);
    void OnWritable(std::uint64_t id);
    void End(std::uint64_t id);

    std::unique_ptr<QObject> m_context;
    std::map<std::uint64_t, std::unique_ptr<Entry>> m_entries;
    std::uint64_t m_nextId = 1;
};

}  // namespace velkon
