#pragma once

#include <string>

namespace velkon {

// How a virtual port is published: a symbolic link named after the port
// (COM3) in RuntimeDirectory() to the pseudo-terminal slave, beside a lock
// file (.COM3.lock) held locked (flock) for the port's lifetime, so that a
// link whose lock nobody holds is known to be left over.
class PortLinkPublication {
public:
    PortLinkPublication() = default;
    ~PortLinkPublication() { Release(); }

    PortLinkPublication(const PortLinkPublication&) = delete;
    PortLinkPublication& operator=(const PortLinkPublication&) = delete;

    // Takes the lock of name. False when the name is not a plain file name
    // (letters, digits, '_' and '-'), the runtime folder cannot be made, or
    // a live port, here or in another instance, holds the name.
    bool Claim(const std::string& name);
    // Points the link at target (made aside and renamed, so the name never
    // points nowhere). A link left over is replaced; false when the name is
    // taken by something that is not a link.
    bool Publish(const std::string& target);
    // Removes the link (only while it still points at the target published)
    // and the lock file, then lets go of the lock. False, with everything
    // kept, when the link could not be removed.
    bool Withdraw();
    // Gives up a claim that was not published: the lock file goes.
    void Abandon();
    // Lets go of the lock and removes nothing: the link is then left over.
    void Release();

    bool Claimed() const { return m_lockFd >= 0; }
    // The published link, empty while there is none.
    const std::string& LinkPath() const { return m_published ? m_linkPath : kNone; }
    const std::string& LockPath() const { return m_lockPath; }

    // Removes the links and lock files in the runtime folder that no live
    // port holds, leaving the one locked at ownLockPath alone.
    static void RemoveLeftovers(const std::string& ownLockPath);

private:
    static inline const std::string kNone;

    int m_lockFd = -1;
    bool m_published = false;
    std::string m_folder;
    std::string m_name;
    std::string m_linkPath;
    std::string m_lockPath;
    std::string m_target;
};

}  // namespace velkon
