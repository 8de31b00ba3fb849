#pragma once

#include <memory>

#include "components/Services.h"
#include "session/AppState.h"
#include "system/ConfigurationFile.h"
#include "system/InstanceLock.h"
#include "system/PlatformComponentFactory.h"
#include "system/PosixFileStore.h"
#include "system/ProgramFolder.h"
#include "system/QtTimer.h"
#include "system/ShellProcessLauncher.h"
#include "system/SystemClock.h"
#include "system/SystemNetworkInfo.h"
#include "system/TraceFileWriter.h"
#include "system/XdgStartEntry.h"

namespace velkon {

// The system services of a program, attached to its state: clock, process
// launcher, files, network information, start entry, the session components,
// the trace files and the monitoring pinger. app.programFolder must be set first.
class SystemServiceSet {
public:
    explicit SystemServiceSet(AppState& app);
    ~SystemServiceSet();

    SystemClock clock;
    ShellProcessLauncher launcher;
    PosixFileStore files;
    SystemNetworkInfo network;
    XdgStartEntry startEntry;
    PlatformComponentFactory components;
    TraceFileOpener traceFiles;
    std::unique_ptr<Pinger> pinger;
};

}  // namespace velkon
