#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "components/Services.h"

namespace velkon {

// Starts the error program on its own, never waited for. A command line that
// names an existing file is that program (a path with blanks, as Browse...
// gives it); one without shell syntax is split into words as a shell would
// and started directly, so a failure has its reason; anything else runs
// through /bin/sh. Each failing command line is reported once.
class ShellProcessLauncher : public ProcessLauncher {
public:
    // report receives the failure text; stderr when none is given.
    explicit ShellProcessLauncher(std::function<void(const std::string&)> report = {});
    bool StartDetached(const std::string& commandLine) override;

    // The program and its arguments for a command line.
    static std::vector<std::string> Plan(const std::string& commandLine);

private:
    std::function<void(const std::string&)> m_report;
    std::set<std::string> m_reported;
};

}  // namespace velkon
