#include "system/SystemServices.h"

#include "ping/IcmpEcho.h"

namespace velkon {

SystemServiceSet::SystemServiceSet(AppState& app)
    : components(app.programFolder),
      pinger(std::make_unique<AsyncPinger>([&app] { return app.globalSettings.PingTimeout; }))
{
    Services& s = app.services;
    s.clock = &clock;
    s.launcher = &launcher;
    s.files = &files;
    s.network = &network;
    s.startEntry = &startEntry;
    s.components = &components;
    s.traceFiles = &traceFiles;
    s.pinger = pinger.get();
}

SystemServiceSet::~SystemServiceSet() = default;

}  // namespace velkon
