#pragma once

// Fake components for driving sessions and the shell without devices,
// sockets, clocks or windows. Everything is synchronous and in memory.

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "components/SerialPort.h"
#include "components/Services.h"
#include "components/SocketArray.h"
#include "components/Timer.h"
#include "components/VirtualPort.h"
#include "session/AppState.h"
#include "shell/MainWindowView.h"

namespace velkon::test {

inline Bytes B(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

inline std::string S(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

class FakeSerialPort : public SerialPort {
public:
    bool IsPortOpen() const override { return open; }
    Result SetPortOpen(bool value) override
    {
        if (value && !openFailure.empty())
            return Result::Fail(openFailure);
        if (value && stayClosed)
            return Result::Ok();
        open = value;
        return Result::Ok();
    }
    Result SetCommPortNumber(int number) override
    {
        portNumber = number;
        return Result::Ok();
    }
    Result SetLineSettings(const std::string& settings) override
    {
        if (!settingsFailure.empty())
            return Result::Fail(settingsFailure);
        if (refusesSettings && refusesSettings(settings))
            return Result::Fail("refused: " + settings);
        lineSettings = settings;
        return Result::Ok();
    }
    std::string LineSettings() const override { return lineSettings; }
    Result SetHandshakeMode(int mode) override
    {
        calls.push_back("handshake=" + std::to_string(mode));
        handshake = mode;
        return Result::Ok();
    }
    Result SetDtrEnabled(bool enabled) override
    {
        calls.push_back(std::string("dtr=") + (enabled ? "1" : "0"));
        dtr = enabled;
        return Result::Ok();
    }
    Result SetRtsEnabled(bool enabled) override
    {
        calls.push_back(std::string("rts=") + (enabled ? "1" : "0"));
        return Result::Ok();
    }
    Result SetBreak(bool on) override
    {
        calls.push_back(std::string("break=") + (on ? "1" : "0"));
        return Result::Ok();
    }
    void DiscardTransmit() override
    {
        calls.push_back("discard transmit");
        outputWaiting = 0;
    }
    int ModemLines() override { return modemLines; }
    void WatchLines(bool on) override { watchingLines = on; }
    // An input modem line changed, or the line reported an error.
    void LineEvent(int code, int lines)
    {
        modemLines = lines;
        eventCode = code;
        raiseCommEvent();
    }
    Result SetReceiveBufferSize(int) override { return Result::Ok(); }
    Result SetTransmitBufferSize(int size) override
    {
        transmitBufferSize = size;
        return Result::Ok();
    }
    int TransmitBufferSize() const override { return transmitBufferSize; }
    void SetReceiveThreshold(int threshold) override { receiveThreshold = threshold; }
    int EventCode() const override { return eventCode; }
    int ReceiveWaiting() override { return static_cast<int>(received.size()); }
    void DiscardReceived() override
    {
        ++discards;
        received.clear();
    }
    Result ReadReceived(Bytes& out, int maxBytes) override
    {
        if (++readCalls == failReadOnCall)
            return Result::Fail("read failed", 5);
        const std::size_t n =
            std::min<std::size_t>(received.size(), static_cast<std::size_t>(maxBytes));
        out.assign(received.begin(), received.begin() + static_cast<long>(n));
        received.erase(received.begin(), received.begin() + static_cast<long>(n));
        return Result::Ok();
    }
    int TransmitWaiting() override { return transmitWaiting; }
    Result QueueTransmit(const Bytes& data) override
    {
        if (++transmitCallCount == failTransmitOnCall)
            return Result::Fail("write failed", 5);
        transmitted.insert(transmitted.end(), data.begin(), data.end());
        transmitCalls.push_back(static_cast<int>(data.size()));
        // What the device does not take at once waits inside the port.
        const int size = static_cast<int>(data.size());
        if (devicePerWrite >= 0 && size > devicePerWrite)
            outputWaiting += size - devicePerWrite;
        return Result::Ok();
    }
    int OutputWaiting() override { return outputWaiting; }
    // The device took everything that waited inside the port.
    void OutputGone()
    {
        outputWaiting = 0;
        eventCode = kEventSend;
        raiseCommEvent();
    }
    // The device went away, or is back.
    void Unplugged(const std::string& reason)
    {
        open = false;
        lossReason = reason;
        eventCode = kEventDeviceLost;
        raiseCommEvent();
    }
    void PluggedIn()
    {
        eventCode = kEventDeviceBack;
        raiseCommEvent();
    }
    std::string DeviceLossReason() const override { return lossReason; }
    void HoldReceive() override { held = true; }
    void ResumeReceive() override { held = false; }

    // Bytes arrive and the port reports them.
    void Arrive(const Bytes& data, int code = kEventReceive)
    {
        received.insert(received.end(), data.begin(), data.end());
        eventCode = code;
        raiseCommEvent();
    }

    bool open = false;
    bool stayClosed = false;
    std::string openFailure;
    std::string settingsFailure;
    // Settings the device refuses, as a pseudo-terminal does with parity.
    std::function<bool(const std::string&)> refusesSettings;
    int modemLines = -1;
    bool watchingLines = false;
    int portNumber = 0;
    std::string lineSettings;
    int handshake = -1;
    bool dtr = false;
    int transmitBufferSize = 8192;
    int transmitWaiting = 0;
    int outputWaiting = 0;
    // Bytes the device takes of each write (-1: all); the rest waits.
    int devicePerWrite = -1;
    // Calls that fail (1-based; 0: none).
    int failReadOnCall = 0;
    int failTransmitOnCall = 0;
    int readCalls = 0;
    int transmitCallCount = 0;
    std::string lossReason;
    int receiveThreshold = 0;
    int eventCode = 0;
    int discards = 0;
    bool held = false;
    std::deque<std::uint8_t> received;
    Bytes transmitted;
    std::vector<int> transmitCalls;
    std::vector<std::string> calls;
};

class FakeVirtualPort : public VirtualPort {
public:
    bool CreatePort(const std::string& name) override
    {
        if (!createSucceeds)
            return false;
        created = name;
        return true;
    }
    bool DeletePort() override
    {
        ++deletes;
        if (!deleteSucceeds)
            return false;
        created.clear();
        return true;
    }
    void SetPortFlag(bool flag) override { portFlag = flag; }
    void ResetBus() override { ++resets; }
    int AvailableCount() override { return static_cast<int>(fromApp.size()); }
    int ReadBytes(Bytes& buf, int count) override
    {
        const std::size_t n =
            std::min<std::size_t>(fromApp.size(), static_cast<std::size_t>(count));
        buf.assign(fromApp.begin(), fromApp.begin() + static_cast<long>(n));
        fromApp.erase(fromApp.begin(), fromApp.begin() + static_cast<long>(n));
        return static_cast<int>(n);
    }
    int WriteBytes(const Bytes& buf) override
    {
        toApp.insert(toApp.end(), buf.begin(), buf.end());
        writeSizes.push_back(static_cast<int>(buf.size()));
        const int size = static_cast<int>(buf.size());
        if (appPerWrite >= 0 && size > appPerWrite)
            outputWaiting += size - appPerWrite;
        return size;
    }
    // The application took everything that waited.
    void AppTookAll()
    {
        outputWaiting = 0;
        raiseOutputDrained();
    }
    bool PurgeReceived() override
    {
        ++purges;
        fromApp.clear();
        return true;
    }
    bool IsOpenedByApplication() override { return openedByApp; }
    int OutputWaiting() override { return outputWaiting; }
    void HoldReceive() override { held = true; }
    void ResumeReceive() override { held = false; }

    void WatchLineSettings(bool on) override { watchingLines = on; }
    std::string LineSettings() override { return lineSettings; }
    int HandshakeMode() override { return handshake; }
    bool SetLineSettings(const std::string& settings) override
    {
        applied.push_back(settings);
        lineSettings = settings;
        return true;
    }
    // The application configured the port.
    void AppSets(const std::string& settings, int handshakeMode = 0)
    {
        lineSettings = settings;
        handshake = handshakeMode;
        raiseLineSettingsChanged();
    }
    void AppWrites(const Bytes& data)
    {
        fromApp.insert(fromApp.end(), data.begin(), data.end());
        raiseDataReceived();
    }
    void AppOpens(bool opened)
    {
        openedByApp = opened;
        raiseOpenStateChanged(opened);
    }

    bool watchingLines = false;
    std::string lineSettings = "38400,N,8,1";
    int handshake = 0;
    std::vector<std::string> applied;
    bool createSucceeds = true;
    bool deleteSucceeds = true;
    std::string created;
    int deletes = 0;
    int resets = 0;
    int purges = 0;
    bool portFlag = false;
    bool openedByApp = false;
    int outputWaiting = 0;
    // Bytes the application takes at once of each write (-1: all).
    int appPerWrite = -1;
    bool held = false;
    std::deque<std::uint8_t> fromApp;
    Bytes toApp;
    std::vector<int> writeSizes;
};

class FakeSocketArray : public SocketArray {
public:
    struct Element {
        int protocol = kTcp;
        std::string remoteHost;
        int remotePort = 0;
        int localPort = 0;
        int state = kSockClosed;
        std::string remoteHostIP;
        std::deque<std::uint8_t> incoming;
        std::deque<Bytes> datagrams;
        Bytes sent;
        std::vector<Bytes> sends;
        int bytesToWrite = 0;
        long acceptedRequest = 0;
    };

    FakeSocketArray() { elements[0] = Element(); }

    Result Load(int index) override
    {
        if (elements.count(index))
            return Result::Fail("already loaded");
        elements[index] = Element();
        return Result::Ok();
    }
    bool IsLoaded(int index) const override { return elements.count(index) != 0; }
    Result SetProtocol(int index, int protocol) override
    {
        el(index).protocol = protocol;
        return Result::Ok();
    }
    int Protocol(int index) const override { return cel(index).protocol; }
    Result SetRemoteHost(int index, const std::string& host) override
    {
        el(index).remoteHost = host;
        return Result::Ok();
    }
    std::string RemoteHost(int index) const override { return cel(index).remoteHost; }
    Result SetRemotePort(int index, int port) override
    {
        el(index).remotePort = port;
        return Result::Ok();
    }
    int RemotePort(int index) const override { return cel(index).remotePort; }
    Result SetLocalPort(int index, int port) override
    {
        el(index).localPort = port;
        return Result::Ok();
    }
    int LocalPort(int index) const override { return cel(index).localPort; }
    std::string LocalIP(int) const override { return localIP; }
    int State(int index) const override { return IsLoaded(index) ? cel(index).state : kSockClosed; }
    std::string RemoteHostIP(int index) const override { return cel(index).remoteHostIP; }
    Result Connect(int index) override
    {
        calls.push_back("connect " + std::to_string(index));
        if (!connectFailure.empty())
            return Result::Fail(connectFailure, 10049);
        el(index).state = kSockConnecting;
        return Result::Ok();
    }
    Result Listen(int index) override
    {
        calls.push_back("listen " + std::to_string(index));
        if (!listenFailure.empty())
            return Result::Fail(listenFailure, 10048);
        el(index).state = kSockListening;
        return Result::Ok();
    }
    Result Bind(int index, int port, const std::string& address) override
    {
        calls.push_back("bind " + std::to_string(index) + " " + std::to_string(port) + " " +
                        address);
        if (!bindFailure.empty())
            return Result::Fail(bindFailure, 10048);
        el(index).state = kSockOpen;
        return Result::Ok();
    }
    Result Accept(int index, long requestId) override
    {
        el(index).state = kSockConnected;
        el(index).acceptedRequest = requestId;
        el(index).remoteHostIP = "10.0.0." + std::to_string(requestId);
        return Result::Ok();
    }
    Result Reject(int, long requestId) override
    {
        rejected.push_back(requestId);
        return Result::Ok();
    }
    Result Close(int index) override
    {
        calls.push_back("close " + std::to_string(index));
        el(index).state = kSockClosed;
        return Result::Ok();
    }
    Result Abort(int index) override
    {
        calls.push_back("abort " + std::to_string(index));
        el(index).state = kSockClosed;
        return Result::Ok();
    }
    Result SetPeerFilter(int, std::function<bool(const std::string&)> allowed) override
    {
        peerFilter = std::move(allowed);
        return Result::Ok();
    }
    Result SendData(int index, const Bytes& data) override
    {
        el(index).sent.insert(el(index).sent.end(), data.begin(), data.end());
        el(index).sends.push_back(data);
        return Result::Ok();
    }
    Result GetData(int index, Bytes& out, int maxBytes) override
    {
        Element& e = el(index);
        if (e.protocol == kUdp || !e.datagrams.empty()) {
            out.clear();
            if (!e.datagrams.empty()) {
                out = e.datagrams.front();
                e.datagrams.pop_front();
            }
            return Result::Ok();
        }
        const std::size_t n =
            maxBytes < 0
                ? e.incoming.size()
                : std::min<std::size_t>(e.incoming.size(), static_cast<std::size_t>(maxBytes));
        out.assign(e.incoming.begin(), e.incoming.begin() + static_cast<long>(n));
        e.incoming.erase(e.incoming.begin(), e.incoming.begin() + static_cast<long>(n));
        return Result::Ok();
    }
    int BytesAvailable(int index) const override
    {
        if (!IsLoaded(index))
            return 0;
        const Element& e = cel(index);
        return e.datagrams.empty() ? static_cast<int>(e.incoming.size())
                                   : static_cast<int>(e.datagrams.front().size());
    }
    int BytesToWrite(int index) const override
    {
        return IsLoaded(index) ? cel(index).bytesToWrite : 0;
    }

    // Test drivers: what the network does.
    void PeerConnects(int requestId) { events().connectionRequest(0, requestId); }
    void Connected()
    {
        el(0).state = kSockConnected;
        el(0).remoteHostIP = "192.168.1.9";
        events().connect(0);
    }
    void PeerSends(int index, const Bytes& data)
    {
        el(index).incoming.insert(el(index).incoming.end(), data.begin(), data.end());
        events().dataArrival(index, static_cast<int>(data.size()));
    }
    void Datagram(const Bytes& data)
    {
        el(0).datagrams.push_back(data);
        events().dataArrival(0, static_cast<int>(data.size()));
    }
    void PeerCloses(int index)
    {
        el(index).state = kSockClosed;
        events().close(index);
    }
    void Error(int index, int number, const std::string& text)
    {
        events().error(index, number, text);
    }
    // The platform turned a peer away, as a filtered listener does.
    void Refuses(const std::string& address)
    {
        if (!peerFilter || peerFilter(address))
            return;
        events().refused(0, address, "not in the allowed list");
    }
    void Drained(int index)
    {
        el(index).bytesToWrite = 0;
        events().sendProgress(index);
    }

    Element& el(int index) { return elements.at(index); }
    const Element& cel(int index) const { return elements.at(index); }

    std::map<int, Element> elements;
    std::string localIP = "192.168.1.20";
    std::string connectFailure;
    std::string listenFailure;
    std::string bindFailure;
    std::vector<std::string> calls;
    std::vector<long> rejected;
    std::function<bool(const std::string&)> peerFilter;
};

class FakeTimer : public Timer {
public:
    void SetEnabled(bool value) override { enabled = value; }
    bool Enabled() const override { return enabled; }
    void Tick()
    {
        if (enabled)
            raiseTick();
    }
    bool enabled = false;
};

class FakeClock : public Clock {
public:
    LocalDateTime Now() const override { return now; }
    LocalDateTime now{2026, 3, 7, 9, 5, 2};
};

class FakeLauncher : public ProcessLauncher {
public:
    bool StartDetached(const std::string& commandLine) override
    {
        started.push_back(commandLine);
        return true;
    }
    std::vector<std::string> started;
};

class FakeFileStore : public FileStore {
public:
    bool Append(const std::string& path, const std::string& text) override
    {
        if (readOnly)
            return false;
        files[path] += text;
        return true;
    }
    bool Read(const std::string& path, std::string& content) override
    {
        auto it = files.find(path);
        if (it == files.end())
            return false;
        content = it->second;
        return true;
    }
    bool Replace(const std::string& path, const std::string& content, bool privateFile) override
    {
        if (readOnly)
            return false;
        files[path] = content;
        privateFiles[path] = privateFile;
        return true;
    }
    // A file never written here counts as readable by others.
    bool MakePrivate(const std::string& path) override
    {
        const bool wasOpen = !privateFiles[path];
        privateFiles[path] = true;
        return wasOpen;
    }
    bool readOnly = false;
    std::map<std::string, std::string> files;
    std::map<std::string, bool> privateFiles;
};

class FakeMessageBoxes : public MessageBoxes {
public:
    void Show(const std::string& text, const std::string& title) override
    {
        shown.push_back(title + "|" + text);
    }
    std::vector<std::string> shown;
};

class FakePinger : public Pinger {
public:
    void PingAsync(const std::string& address, std::function<void(int)> done) override
    {
        pending.push_back({address, std::move(done)});
    }
    // Answers every ping still out with the status the address maps to.
    void AnswerAll()
    {
        auto answering = std::move(pending);
        pending.clear();
        for (auto& p : answering) {
            auto it = statusFor.find(p.first);
            p.second(it == statusFor.end() ? 0 : it->second);
        }
    }
    std::vector<std::pair<std::string, std::function<void(int)>>> pending;
    std::map<std::string, int> statusFor;
};

class FakeDialogs : public SessionDialogs {
public:
    // Without an answer a dialog is accepted unchanged.
    bool EditServerOptions(SessionSettings& settings) override
    {
        ++serverShown;
        return !serverAnswer || serverAnswer(settings);
    }
    bool EditClientOptions(SessionSettings& settings) override
    {
        ++clientShown;
        return !clientAnswer || clientAnswer(settings);
    }
    bool EditLoginTexts(SessionSettings& settings) override
    {
        return !loginAnswer || loginAnswer(settings);
    }
    int serverShown = 0;
    int clientShown = 0;
    std::function<bool(SessionSettings&)> serverAnswer;
    std::function<bool(SessionSettings&)> clientAnswer;
    std::function<bool(SessionSettings&)> loginAnswer;
};

class FakeNetworkInfo : public NetworkInfo {
public:
    std::vector<std::string> LocalAddresses() override { return addresses; }
    std::vector<std::string> addresses = {"192.168.1.20", "10.1.1.1"};
};

class FakeStartEntry : public StartEntry {
public:
    bool SetStartWithWindows(bool on, const std::string& valueName, const std::string& exePath,
                             bool, bool) override
    {
        if (on) {
            entries[valueName] = "\"" + exePath + "\"";
        } else {
            entries.erase(valueName);
        }
        return true;
    }
    std::map<std::string, std::string> entries;
};

// Makes fake components and keeps pointers to them for the test to drive.
class FakeFactory : public ComponentFactory {
public:
    struct Made {
        FakeSerialPort* serial;
        FakeVirtualPort* vport;
        FakeSocketArray* sockets;
        FakeTimer* timer1;
        FakeTimer* timer2;
    };
    SessionComponents CreateSessionComponents() override
    {
        SessionComponents c;
        auto serial = std::make_unique<FakeSerialPort>();
        auto vport = std::make_unique<FakeVirtualPort>();
        auto sockets = std::make_unique<FakeSocketArray>();
        sockets->localIP = localIP;
        auto t1 = std::make_unique<FakeTimer>();
        auto t2 = std::make_unique<FakeTimer>();
        made.push_back({serial.get(), vport.get(), sockets.get(), t1.get(), t2.get()});
        c.serialPort = std::move(serial);
        c.virtualPort = std::move(vport);
        c.sockets = std::move(sockets);
        c.reconnectTimer = std::move(t1);
        c.housekeepingTimer = std::move(t2);
        return c;
    }
    std::vector<Made> made;
    std::string localIP = "192.168.1.20";
};

class FakeMainWindow : public MainWindowView {
public:
    void SetGeometryTwips(int l, int t, int w, int h) override
    {
        left = l;
        top = t;
        width = w;
        height = h;
    }
    void GeometryTwips(int& l, int& t, int& w, int& h) const override
    {
        l = left;
        t = top;
        w = width;
        h = height;
    }
    int WindowState() const override { return state; }
    void SetWindowState(int s) override { state = s; }
    void SessionAdded(Session& s) override { shown.push_back(&s); }
    void SessionRemoved(Session& s) override
    {
        shown.erase(std::remove(shown.begin(), shown.end(), &s), shown.end());
        if (active == &s)
            active = nullptr;
    }
    Session* ActiveSession() override { return active; }
    std::string ShowOpenDialog() override { return openAnswer; }
    std::string ShowSaveDialog() override { return saveAnswer; }
    void CloseHelpWindows() override {}

    int left = 0, top = 0, width = 0, height = 0, state = 0;
    std::vector<Session*> shown;
    Session* active = nullptr;
    std::string openAnswer;
    std::string saveAnswer;
};

// The services of one test program, wired into an AppState.
struct FakeWorld {
    FakeWorld();
    AppState app;
    FakeFactory factory;
    FakeClock clock;
    FakeLauncher launcher;
    FakeFileStore files;
    FakeMessageBoxes messages;
    FakePinger pinger;
    FakeDialogs dialogs;
    FakeNetworkInfo network;
    FakeStartEntry startEntry;
};

}  // namespace velkon::test
