#include "Fakes.h"

#include "shell/StringTable.h"

namespace velkon::test {

FakeWorld::FakeWorld()
{
    app.strings = &StringTable::English();
    app.programFolder = "/opt/velkon";
    app.services.clock = &clock;
    app.services.launcher = &launcher;
    app.services.files = &files;
    app.services.messages = &messages;
    app.services.pinger = &pinger;
    app.services.components = &factory;
    app.services.dialogs = &dialogs;
    app.services.network = &network;
    app.services.startEntry = &startEntry;
}

}  // namespace velkon::test
