#pragma once

#include <string>

namespace velkon {

// Held for the life of the program: tells whether another instance with the
// same runtime folder runs already.
class InstanceLock {
public:
    InstanceLock();
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    // True when this instance holds the lock, false when another one does.
    bool Acquire(std::string& error);

private:
    int m_fd = -1;
};

}  // namespace velkon
