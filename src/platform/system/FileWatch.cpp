#include "system/FileWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <QSocketNotifier>

namespace velkon {

namespace {

// The shared inotify instance. It exists while at least one watch does.
class Hub {
public:
    static Hub* Get(int& err)
    {
        if (s_hub == nullptr) {
            const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (fd < 0) {
                err = errno;
                return nullptr;
            }
            s_hub = new Hub(fd);
        }
        return s_hub;
    }
    static Hub* Existing() { return s_hub; }

    std::uint64_t Add(const std::string& path, std::uint32_t mask, FileWatch::Handler handler,
                      int& err)
    {
        // Watches of one file by several owners share the kernel's watch,
        // whose mask grows to cover all of them; each owner filters its own.
        const int wd = ::inotify_add_watch(m_fd, path.c_str(), mask | IN_MASK_ADD);
        if (wd < 0) {
            err = errno;
            ReleaseIfUnused();
            return 0;
        }
        const std::uint64_t id = ++m_lastId;
        m_watches[id] = Watch{wd, mask, std::move(handler)};
        ++m_users[wd];
        return id;
    }

    void Remove(std::uint64_t id)
    {
        const auto it = m_watches.find(id);
        if (it == m_watches.end()) {
            return;
        }
        const int wd = it->second.wd;
        m_watches.erase(it);
        const auto users = m_users.find(wd);
        if (users != m_users.end() && --users->second == 0) {
            m_users.erase(users);
            ::inotify_rm_watch(m_fd, wd);
        }
        ReleaseIfUnused();
    }

private:
    struct Watch {
        int wd;
        std::uint32_t mask;
        FileWatch::Handler handler;
    };

    explicit Hub(int fd)
        : m_fd(fd), m_notifier(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read))
    {
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
    }

    ~Hub() { ::close(m_fd); }

    void ReleaseIfUnused()
    {
        if (!m_watches.empty()) {
            return;
        }
        if (m_dispatching) {
            m_releaseAfterDispatch = true;
            return;
        }
        s_hub = nullptr;
        delete this;
    }

    void OnReadable()
    {
        alignas(inotify_event) char buffer[16384];
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0) {
            return;
        }
        m_dispatching = true;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const std::string name = event->len > 0 ? std::string(event->name) : std::string();
            if ((event->mask & IN_IGNORED) != 0) {
                // The kernel dropped the watch (the file is gone); its owners
                // hear of it as a removal of the file itself.
                m_users.erase(event->wd);
            }
            Dispatch(event->wd, event->mask, name);
        }
        m_dispatching = false;
        if (m_releaseAfterDispatch) {
            m_releaseAfterDispatch = false;
            if (m_watches.empty()) {
                // Deleting the notifier inside its own signal is left to the loop.
                m_notifier->setEnabled(false);
                QObject::disconnect(m_notifier.get(), nullptr, nullptr, nullptr);
                m_notifier.release()->deleteLater();
                s_hub = nullptr;
                delete this;
            }
        }
    }

    void Dispatch(int wd, std::uint32_t mask, const std::string& name)
    {
        // Owners may stop or start watches from their handler: collect first,
        // then call each owner still registered.
        std::vector<std::uint64_t> owners;
        for (const auto& [id, watch] : m_watches) {
            const bool overflow = (mask & IN_Q_OVERFLOW) != 0;
            if (overflow || (watch.wd == wd && (watch.mask & mask) != 0) ||
                (watch.wd == wd && (mask & IN_IGNORED) != 0)) {
                owners.push_back(id);
            }
        }
        for (std::uint64_t id : owners) {
            const auto it = m_watches.find(id);
            if (it == m_watches.end()) {
                continue;
            }
            const FileWatch::Handler handler = it->second.handler;
            if ((mask & IN_IGNORED) != 0) {
                it->second.wd = -1;
            }
            handler(mask, name);
        }
    }

    static inline Hub* s_hub = nullptr;

    int m_fd;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::map<std::uint64_t, Watch> m_watches;
    std::map<int, int> m_users;
    std::uint64_t m_lastId = 0;
    bool m_dispatching = false;
    bool m_releaseAfterDispatch = false;
};

}  // namespace

int FileWatch::Start(const std::string& path, std::uint32_t mask, Handler handler)
{
    Stop();
    int err = 0;
    Hub* hub = Hub::Get(err);
    if (hub == nullptr) {
        return err;
    }
    m_id = hub->Add(path, mask, std::move(handler), err);
    return m_id != 0 ? 0 : err;
}

void FileWatch::Stop()
{
    if (m_id == 0) {
        return;
    }
    const std::uint64_t id = m_id;
    m_id = 0;
    if (Hub* hub = Hub::Existing()) {
        hub->Remove(id);
    }
}

}  // namespace velkon
