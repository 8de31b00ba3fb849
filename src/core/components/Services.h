#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Result.h"

namespace velkon {

struct LocalDateTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Wall clock; tests inject a fixed one.
class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime Now() const = 0;
};

// Starts a program without waiting for it.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    virtual bool StartDetached(const std::string& commandLine) = 0;
};

// The few file operations the core needs.
class FileStore {
public:
    virtual ~FileStore() = default;
    // Appends to the file, creating it when missing.
    virtual bool Append(const std::string& path, const std::string& text) = 0;
    // Whole file; false when it cannot be read (missing, a folder, no rights).
    virtual bool Read(const std::string& path, std::string& content) = 0;
    // Replaces the file atomically (temporary file and rename); mode 0600
    // when privateFile is set.
    virtual bool Replace(const std::string& path, const std::string& content, bool privateFile) = 0;
    // Takes every right of group and others away (mode 0600); true when
    // the file had some.
    virtual bool MakePrivate(const std::string& path)
    {
        (void)path;
        return false;
    }
};

// Modal message box with an OK button.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void Show(const std::string& text, const std::string& title) = 0;
};

// One ICMP echo of the connection monitoring, answered later with the
// status code (0 success).
class Pinger {
public:
    // Status given to done when no echo service can be opened at all.
    static constexpr int kUnavailable = -2;

    virtual ~Pinger() = default;
    virtual void PingAsync(const std::string& address, std::function<void(int status)> done) = 0;
};

// The entry that starts the program when the user logs on.
class StartEntry {
public:
    virtual ~StartEntry() = default;
    // on: write the entry, else remove it. exePath is written quoted.
    virtual bool SetStartWithWindows(bool on, const std::string& valueName,
                                     const std::string& exePath, bool currentUser, bool runKey) = 0;
};

}  // namespace velkon
