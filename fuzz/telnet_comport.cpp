// Telnet with the COM port control option (RFC 2217), fed arbitrary network
// bytes: the decoder alone, the access server's half with several clients,
// and the client's half of a virtual port.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Fakes.h"
#include "FuzzCheck.h"
#include "session/ComPortClient.h"
#include "session/ComPortServer.h"
#include "session/TelnetComPort.h"

using namespace velkon;

namespace {

bool SameEvents(const std::vector<telnet::Event>& a, const std::vector<telnet::Event>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].option != b[i].option || a[i].payload != b[i].payload)
            return false;
    }
    return true;
}

// Where reads cut the stream must not change what it says.
void CheckDecoderCuts(FuzzedDataProvider& in)
{
    const Bytes stream = in.ConsumeBytes<std::uint8_t>(in.remaining_bytes() / 2);
    Bytes wholeData;
    std::vector<telnet::Event> wholeEvents;
    telnet::Decoder whole;
    whole.Feed(stream, wholeData, wholeEvents);

    Bytes cutData;
    std::vector<telnet::Event> cutEvents;
    telnet::Decoder cut;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(1, stream.size() - at);
        cut.Feed(Bytes(stream.begin() + static_cast<long>(at),
                       stream.begin() + static_cast<long>(at + n)),
                 cutData, cutEvents);
        at += n;
    }
    FUZZ_CHECK(cutData == wholeData);
    FUZZ_CHECK(SameEvents(cutEvents, wholeEvents));
    for (const telnet::Event& e : wholeEvents)
        FUZZ_CHECK(e.payload.size() <= telnet::Decoder::kMaxSubOption);

    // Escaped data goes through unchanged and alone.
    Bytes data;
    std::vector<telnet::Event> events;
    telnet::Decoder plain;
    plain.Feed(telnet::EscapeData(stream), data, events);
    FUZZ_CHECK(data == stream);
    FUZZ_CHECK(events.empty());
}

void DriveServer(FuzzedDataProvider& in)
{
    test::FakeSerialPort port;
    port.open = true;
    port.lineSettings = "9600,N,8,1";
    test::FakeSocketArray sockets;
    for (int index = 0; index < 4; ++index)
        sockets.Load(index);
    ComPortServer server(port, sockets);
    server.Start(in.ConsumeIntegralInRange(0, 2), in.ConsumeBool());
    while (in.remaining_bytes() > 0) {
        const int client = in.ConsumeIntegralInRange(0, 3);
        switch (in.ConsumeIntegralInRange(0, 7)) {
            case 0:
                server.Forget(client);
                break;
            case 1:
                port.modemLines = in.ConsumeIntegral<int>();
                server.LineEvent(in.PickValueInArray(
                    {SerialPort::kEventCts, SerialPort::kEventDsr, SerialPort::kEventCd,
                     SerialPort::kEventRing, SerialPort::kEventBreak, SerialPort::kEventFrame,
                     SerialPort::kEventOverrun, SerialPort::kEventRxParity}));
                break;
            default: {
                const Bytes raw = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 64));
                const Bytes data = server.FromClient(client, raw);
                FUZZ_CHECK(data.size() <= raw.size());
                server.Suspended(client);
                server.TakeResumed();
            }
        }
    }
    server.Stop();
}

void DriveClient(FuzzedDataProvider& in)
{
    test::FakeVirtualPort port;
    port.lineSettings = "9600,N,8,1";
    test::FakeSocketArray sockets;
    sockets.Load(0);
    ComPortClient client(port, sockets);
    client.Start();
    client.Connected();
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 5)) {
            case 0:
                port.AppSets(in.PickValueInArray({"9600,N,8,1", "115200,E,7,2", "300,S,5,1.5",
                                                  "1,M,6,1", "16000000,O,8,2"}),
                             in.ConsumeIntegralInRange(0, 2));
                break;
            case 1:
                client.Closed();
                client.Connected();
                break;
            default: {
                const Bytes raw = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 64));
                const Bytes data = client.FromServer(raw);
                FUZZ_CHECK(data.size() <= raw.size());
                client.TakeResumed();
            }
        }
    }
    client.Stop();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            CheckDecoderCuts(in);
            break;
        case 1:
            DriveServer(in);
            break;
        default:
            DriveClient(in);
    }
    return 0;
}
