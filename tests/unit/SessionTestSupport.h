#pragma once

#include <memory>

#include "Fakes.h"
#include "session/Session.h"

namespace velkon::test {

// One session over fake components, loaded like a new window.
struct SessionRig {
    SessionRig()
    {
        session = std::make_unique<Session>(world.app, world.factory.CreateSessionComponents());
        parts = world.factory.made.back();
        session->Load();
    }
    Session& s() { return *session; }
    FakeSerialPort& serial() { return *parts.serial; }
    FakeVirtualPort& vport() { return *parts.vport; }
    FakeSocketArray& sock() { return *parts.sockets; }
    FakeTimer& timer1() { return *parts.timer1; }
    FakeTimer& timer2() { return *parts.timer2; }

    // Activates a TCP server on a physical port (COM1) at port 4000.
    void ActivateServer()
    {
        s().SetConnector(1);
        s().SetTcpOption(1);
        s().SetPortNumber("4000");
        s().OnActivateButton();
    }
    // Activates a TCP client on a physical port (COM1) to 10.0.0.1:4000.
    void ActivateClient()
    {
        s().SetConnector(1);
        s().SetIPAddress("10.0.0.1");
        s().SetPortNumber("4000");
        s().OnActivateButton();
    }
    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            timer2().Tick();
    }
    std::string Log() { return world.files.files["/opt/velkon/errorlog.txt"]; }

    FakeWorld world;
    std::unique_ptr<Session> session;
    FakeFactory::Made parts{};
};

// Changes a session's options as a configuration read would.
template <typename Change>
void ChangeOptions(Session& session, Change change)
{
    SessionSettings settings = session.settings();
    change(settings);
    session.ApplySettings(settings);
}

}  // namespace velkon::test
