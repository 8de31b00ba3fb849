#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "system/FileWatch.h"

class QTimer;

namespace velkon {

// Watches the configured path of a serial device (such as
// /dev/serial/by-id/...), through its symbolic links, by inotify events on
// the folders on the way; nothing is polled while the path stays as it is.
//
// While the port is open (Follow) it reports the open node's removal and a
// path that now leads to another device (a link re-pointed while the old
// node still exists). After a loss (AwaitReturn) it reports when the path
// leads to a device again; a node that outlived the loss is retried now and
// then, since no event says when it works again.
//
// Handlers run from the event loop and may call any member, Stop included.
class DeviceWatch {
public:
    struct Handlers {
        std::function<void()> removed;     // following: the open node was removed
        std::function<void()> redirected;  // following: the path leads elsewhere
        std::function<void()> back;        // awaiting: the path leads to a device
    };

    explicit DeviceWatch(Handlers handlers);
    ~DeviceWatch();

    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // The port is open on fd, reached through path.
    void Follow(const std::string& path, int fd);
    // The device at path (node lostDevice/lostInode) was lost; reports back
    // at once when the path already leads to a device again.
    void AwaitReturn(const std::string& path, std::uint64_t lostDevice, std::uint64_t lostInode);
    void Stop();

private:
    enum class State { kIdle, kFollowing, kAwaiting };

    void WatchFolders();
    void CheckFollowed();
    void CheckBack();
    void StartRetry();
    void StopRetry();

    Handlers m_handlers;
    State m_state = State::kIdle;
    std::string m_path;
    int m_fd = -1;
    std::uint64_t m_device = 0;  // following: the open device; awaiting: the lost one
    std::uint64_t m_inode = 0;
    bool m_seenMissing = false;
    FileWatch m_nodeWatch;
    std::vector<std::string> m_watchedFolders;
    std::vector<std::unique_ptr<FileWatch>> m_folderWatches;
    std::unique_ptr<QTimer> m_retryTimer;
};

}  // namespace velkon
