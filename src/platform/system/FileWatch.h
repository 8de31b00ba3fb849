#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velkon {

// Watches one file or folder for inotify events. All watches of the process
// share one inotify instance (the kernel allows few instances per user, and
// there may be hundreds of ports), read through one notifier of the event
// loop, so a watch costs nothing while nothing happens.
//
// The handler gets the event mask and, for a folder, the name of the entry.
// It may stop or start any watch, its own included.
class FileWatch {
public:
    using Handler = std::function<void(std::uint32_t mask, const std::string& name)>;

    FileWatch() = default;
    ~FileWatch() { Stop(); }

    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Watches path for the events in mask (IN_* flags), replacing an earlier
    // watch; 0 or the errno why the kernel refused.
    int Start(const std::string& path, std::uint32_t mask, Handler handler);
    void Stop();
    bool active() const { return m_id != 0; }

private:
    std::uint64_t m_id = 0;
};

}  // namespace velkon
