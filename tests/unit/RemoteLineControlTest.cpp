#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "session/TelnetComPort.h"

namespace velkon::test {
namespace {

using namespace telnet;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes AllByteValues()
{
    Bytes b;
    for (int round = 0; round < 3; ++round) {
        for (int v = 0; v < 256; ++v)
            b.push_back(static_cast<std::uint8_t>(v));
    }
    b.push_back(kIac);  // IAC as the very last byte too
    return b;
}

struct Decoded {
    Bytes data;
    std::vector<Event> events;
};

// Feeds the stream in pieces of `piece` bytes.
Decoded Decode(const Bytes& stream, std::size_t piece)
{
    Decoder decoder;
    Decoded out;
    for (std::size_t i = 0; i < stream.size(); i += piece) {
        const auto end = stream.begin() + static_cast<long>(std::min(stream.size(), i + piece));
        decoder.Feed(Bytes(stream.begin() + static_cast<long>(i), end), out.data, out.events);
    }
    return out;
}

// ------------------------------------------------ the codec

TEST(TelnetCodec, EveryByteValueSurvivesEscapingInAnyPieces)
{
    const Bytes data = AllByteValues();
    const Bytes wire = EscapeData(data);
    EXPECT_EQ(wire.size(), data.size() + 4);  // one more byte per IAC
    for (std::size_t piece : {1u, 2u, 3u, 255u, 100000u}) {
        const Decoded d = Decode(wire, piece);
        EXPECT_EQ(d.data, data) << piece;
        EXPECT_TRUE(d.events.empty()) << piece;
    }
}

TEST(TelnetCodec, CommandsCutAnywhereComeOutWholeAndApartFromData)
{
    const Bytes stream = Cat({B("ab"), Negotiation(kWill, kComPort), B("c"),
                              ComPortSubOption(kSetBaudRate, BaudRateValue(0x00ff4bff)), B("d"),
                              Negotiation(kDont, 7)});
    for (std::size_t piece : {1u, 2u, 5u, 1000u}) {
        SCOPED_TRACE(piece);
        const Decoded d = Decode(stream, piece);
        EXPECT_EQ(S(d.data), "abcd");
        ASSERT_EQ(d.events.size(), 3u);
        EXPECT_EQ(d.events[0].kind, Event::Kind::Will);
        EXPECT_EQ(d.events[0].option, kComPort);
        EXPECT_EQ(d.events[1].kind, Event::Kind::SubOption);
        EXPECT_EQ(d.events[1].payload, Cat({{kSetBaudRate}, BaudRateValue(0x00ff4bff)}));
        EXPECT_EQ(BaudRateFrom(Bytes(d.events[1].payload.begin() + 1, d.events[1].payload.end())),
                  0x00ff4bffu);
        EXPECT_EQ(d.events[2].kind, Event::Kind::Dont);
        EXPECT_EQ(d.events[2].option, 7);
    }
}

TEST(TelnetCodec, MalformedSequencesNeverBecomeData)
{
    const Bytes overlong =
        Cat({{kIac, kSb, kComPort}, Bytes(Decoder::kMaxSubOption + 10, 'x'), {kIac, kSe}});
    const Bytes stream = Cat({B("1"),
                              {kIac, 241},                                             // NOP
                              {kIac, kSe},                                             // stray SE
                              {kIac, kSb, kComPort, kSetDataSize, 7, kIac, kWill, 3},  // cut short
                              B("2"),
                              overlong,
                              B("3"),
                              {kIac, kSb, kComPort, kSetParity, 2}});  // still open at the end
    const Decoded d = Decode(stream, 1);
    EXPECT_EQ(S(d.data), "123");
    // The cut sub-option is dropped; the WILL that cut it counts.
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].kind, Event::Kind::Will);
    EXPECT_EQ(d.events[0].option, 3);
}

TEST(TelnetCodec, LineSettingsTextAndNumbersConvertBothWays)
{
    ComLine line;
    ASSERT_TRUE(ParseComLine("19200,e,5,1.5", line));
    EXPECT_EQ(line, (ComLine{19200, 5, 3, 3}));
    EXPECT_EQ(ComLineText(line), "19200,E,5,1.5");
    EXPECT_EQ(ComLineText(ComLine{16000000, 8, 2, 2}), "16000000,O,8,2");
    // The same rules as every other line settings text: no 1.5 stop bits
    // beside more than 5 data bits, no rate above 16000000.
    for (const char* bad : {"", "9600,N,8", "9600,X,8,1", "96k,N,8,1", "9600,N,9,1", "9600,N,8,3",
                            "9600,N,7,1.5", "16000001,N,8,1"})
        EXPECT_FALSE(ParseComLine(bad, line)) << bad;
    EXPECT_EQ(line, (ComLine{19200, 5, 3, 3}));  // untouched by the failures
    EXPECT_EQ(ComLineText(ComLine{9600, 8, 6, 1}), "");
    EXPECT_EQ(ComLineText(ComLine{4000000000u, 8, 2, 2}), "");
}

// ------------------------------------------------ a server session

// A server on a physical port with remote line control, one client (1).
// The port refuses what a pseudo-terminal refuses, and rates it cannot make.
struct LineServerRig : SessionRig {
    explicit LineServerRig(int option = 1)
    {
        serial().refusesSettings = [](const std::string& s) {
            ComLine line;
            return !ParseComLine(s, line) || line.dataSize != 8 || line.parity != 1 ||
                   line.stopSize == 3 || line.baudRate > 16000000;
        };
        serial().modemLines = SerialPort::kLineDsr;
        ChangeOptions(s(), [&](SessionSettings& v) {
            v.RemoteLineControl = static_cast<std::int16_t>(option);
        });
        ActivateServer();
        sock().PeerConnects(1);
    }
    // What the client sends, and what the session answered to it.
    Bytes Exchange(const Bytes& wire)
    {
        sock().el(1).sent.clear();
        sock().PeerSends(1, wire);
        return sock().el(1).sent;
    }
};

TEST(RemoteLineControlServer, NegotiatesOnlyBinaryAndComPortAndNeverLoops)
{
    LineServerRig rig;
    EXPECT_EQ(rig.Exchange(Cat({Negotiation(kWill, kComPort), Negotiation(kDo, kBinary),
                                Negotiation(kWill, 1), Negotiation(kDo, 3)})),
              Cat({Negotiation(kDo, kComPort), Negotiation(kWill, kBinary), Negotiation(kDont, 1),
                   Negotiation(kWont, 3)}));
    // Asked again for what is in force: no answer.
    EXPECT_TRUE(
        rig.Exchange(Cat({Negotiation(kWill, kComPort), Negotiation(kDo, kBinary)})).empty());
    EXPECT_EQ(rig.Exchange(Negotiation(kDont, kBinary)), Negotiation(kWont, kBinary));
    // A flood of requests is answered, and nothing reaches the port.
    Bytes flood;
    for (int i = 0; i < 2000; ++i)
        flood = Cat({flood, Negotiation(kDo, static_cast<std::uint8_t>(i % 40 + 2))});
    EXPECT_EQ(rig.Exchange(flood).size(), flood.size());
    EXPECT_TRUE(rig.serial().transmitted.empty());
    EXPECT_TRUE(rig.s().IsActive());
}

TEST(RemoteLineControlServer, LineSettingsApplyAtOnceAndAnswerTheValueInForce)
{
    LineServerRig rig;
    struct Case {
        std::uint8_t command;
        Bytes value;
        Bytes answer;
        const char* inForce;
    };
    const Case cases[] = {
        {kSetBaudRate, BaudRateValue(19200), BaudRateValue(19200), "19200,N,8,1"},
        {kSetStopSize, {2}, {2}, "19200,N,8,2"},
        {kSetDataSize, {7}, {8}, "19200,N,8,2"},                                // refused
        {kSetParity, {3}, {1}, "19200,N,8,2"},                                  // refused
        {kSetBaudRate, BaudRateValue(0), BaudRateValue(19200), "19200,N,8,2"},  // asks
        {kSetBaudRate, BaudRateValue(4000000000u), BaudRateValue(19200), "19200,N,8,2"},
        {kSetBaudRate, {1, 2}, BaudRateValue(19200), "19200,N,8,2"},  // malformed
        {kSetStopSize, {9}, {2}, "19200,N,8,2"},                      // no such size
        {kSetStopSize, {3}, {2}, "19200,N,8,2"},                      // 1.5 needs 5 data bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.command));
        EXPECT_EQ(rig.Exchange(ComPortSubOption(c.command, c.value)),
                  ComPortSubOption(static_cast<std::uint8_t>(c.command + kServerOffset), c.answer));
        EXPECT_EQ(rig.serial().lineSettings, c.inForce);
    }
    EXPECT_TRUE(rig.serial().transmitted.empty());
}

TEST(RemoteLineControlServer, ControlsPurgesAndSignatureAreAppliedAndAnswered)
{
    LineServerRig rig;
    rig.serial().calls.clear();
    rig.serial().received = {'o', 'l', 'd'};
    const std::pair<Bytes, Bytes> exchanges[] = {
        {ComPortSubOption(kSetControl, kControlDtrOff), ComPortSubOption(105, kControlDtrOff)},
        {ComPortSubOption(kSetControl, kControlRtsOff), ComPortSubOption(105, kControlRtsOff)},
        {ComPortSubOption(kSetControl, kControlBreakOn), ComPortSubOption(105, kControlBreakOn)},
        {ComPortSubOption(kSetControl, kControlFlowHardware),
         ComPortSubOption(105, kControlFlowHardware)},
        {ComPortSubOption(kSetControl, kControlInboundQuery),
         ComPortSubOption(105, kControlInboundHardware)},
        {ComPortSubOption(kSetControl, kControlDtrQuery), ComPortSubOption(105, kControlDtrOff)},
        {ComPortSubOption(kPurgeData, kPurgeBoth), ComPortSubOption(112, kPurgeBoth)},
        {ComPortSubOption(kPurgeData, 7), {}},  // no such purge
        {ComPortSubOption(99, 1), {}},          // unknown command
        {ComPortSubOption(kSignature, B("client")), {}},
    };
    for (const auto& [request, answer] : exchanges)
        EXPECT_EQ(rig.Exchange(request), answer);
    EXPECT_EQ(rig.serial().calls, (std::vector<std::string>{"dtr=0", "rts=0", "break=1",
                                                            "handshake=2", "discard transmit"}));
    EXPECT_TRUE(rig.serial().received.empty());
    const Bytes signature = rig.Exchange(ComPortSubOption(kSignature, Bytes{}));
    EXPECT_EQ(S(signature).find("Velkon"), 4u);
}

TEST(RemoteLineControlServer, DataPassesEscapedBothWaysAroundCommands)
{
    LineServerRig rig;
    const Bytes data = AllByteValues();
    rig.Exchange(Cat(
        {B("x"), EscapeData(data), ComPortSubOption(kSetBaudRate, BaudRateValue(1200)), B("y")}));
    EXPECT_EQ(rig.serial().transmitted, Cat({B("x"), data, B("y")}));
    EXPECT_EQ(rig.serial().lineSettings, "1200,N,8,1");
    rig.sock().el(1).sent.clear();
    rig.serial().Arrive(data);
    EXPECT_EQ(rig.sock().el(1).sent, EscapeData(data));
}

TEST(RemoteLineControlServer, ModemAndLineChangesReachEachClientWithinItsMasks)
{
    LineServerRig rig;
    rig.sock().PeerConnects(2);
    rig.sock().PeerConnects(3);  // never takes up the option: told nothing
    rig.sock().PeerSends(2, Negotiation(kWill, kComPort));
    rig.Exchange(Cat({Negotiation(kWill, kComPort),
                      ComPortSubOption(kSetModemStateMask, kModemCts | kModemDeltaCts),
                      ComPortSubOption(kSetLineStateMask, kLineBreak)}));
    rig.sock().el(1).sent.clear();
    rig.sock().el(2).sent.clear();
    rig.serial().LineEvent(SerialPort::kEventCts, SerialPort::kLineDsr | SerialPort::kLineCts);
    EXPECT_EQ(rig.sock().el(1).sent, ComPortSubOption(107, kModemCts | kModemDeltaCts));
    // Client 2 keeps the default mask: everything.
    EXPECT_EQ(rig.sock().el(2).sent, ComPortSubOption(107, kModemCts | kModemDsr | kModemDeltaCts));
    rig.sock().el(1).sent.clear();
    rig.sock().el(2).sent.clear();
    rig.serial().LineEvent(SerialPort::kEventDsr, SerialPort::kLineCts);
    EXPECT_TRUE(rig.sock().el(1).sent.empty());  // DSR is outside its mask
    rig.serial().LineEvent(SerialPort::kEventBreak, SerialPort::kLineCts);
    EXPECT_EQ(rig.sock().el(1).sent, ComPortSubOption(106, kLineBreak));
    EXPECT_EQ(rig.sock().el(2).sent, ComPortSubOption(107, kModemCts | kModemDeltaDsr));
    EXPECT_TRUE(rig.sock().el(3).sent.empty());
    EXPECT_TRUE(rig.serial().watchingLines);
    rig.s().OnActivateButton();
    EXPECT_FALSE(rig.serial().watchingLines);
}

TEST(RemoteLineControlServer, ASuspendedClientHoldsTheDataUntilItResumesOrLeaves)
{
    LineServerRig rig;
    rig.sock().PeerConnects(2);
    rig.Exchange(ComPortSubOption(kFlowControlSuspend, Bytes{}));
    EXPECT_TRUE(rig.sock().el(1).sent.empty());  // not answered
    rig.serial().Arrive(B("held"));
    EXPECT_TRUE(rig.sock().el(1).sent.empty());
    // Every client waits for the slowest, as for a full send queue.
    EXPECT_TRUE(rig.sock().el(2).sent.empty());
    // Answers still go while suspended.
    EXPECT_FALSE(rig.Exchange(ComPortSubOption(kSetStopSize, 0)).empty());
    rig.serial().Arrive(B(" back"));
    EXPECT_EQ(rig.Exchange(ComPortSubOption(kFlowControlResume, Bytes{})), B("held back"));
    EXPECT_EQ(rig.sock().el(2).sent, B("held back"));

    rig.Exchange(ComPortSubOption(kFlowControlSuspend, Bytes{}));
    rig.serial().Arrive(B("after"));
    rig.sock().el(2).sent.clear();
    rig.sock().PeerCloses(1);
    EXPECT_EQ(rig.sock().el(2).sent, B("after"));
}

TEST(RemoteLineControlServer, OffPassesTelnetBytesUnchangedBothWays)
{
    LineServerRig rig(0);
    const Bytes wire = Cat({Negotiation(kWill, kComPort),
                            ComPortSubOption(kSetBaudRate, BaudRateValue(300)), AllByteValues()});
    EXPECT_TRUE(rig.Exchange(wire).empty());
    EXPECT_EQ(rig.serial().transmitted, wire);
    rig.serial().Arrive(wire);
    EXPECT_EQ(rig.sock().el(1).sent, wire);
    EXPECT_FALSE(rig.serial().watchingLines);
}

}  // namespace
}  // namespace velkon::test

namespace velkon::test {
namespace {

using namespace telnet;

// A client on a virtual port with remote line control, connected.
struct LineClientRig : SessionRig {
    LineClientRig()
    {
        ChangeOptions(s(), [](SessionSettings& v) {
            v.RemoteLineControl = 1;
            v.ConnectOnVirtualOpen = 0;
        });
        s().SetCreateVirtualPort(1);
        ActivateClient();
        vport().AppOpens(true);
        sock().Connected();
    }
};

TEST(RemoteLineControlClient, ApplicationSettingsGoToTheServerAndItsAnswersToThePort)
{
    LineClientRig rig;
    EXPECT_TRUE(rig.vport().watchingLines);
    // On connecting: the offer and the settings the application has.
    EXPECT_EQ(
        rig.sock().el(0).sent,
        Cat({Negotiation(kWill, kComPort), ComPortSubOption(kSetBaudRate, BaudRateValue(38400)),
             ComPortSubOption(kSetDataSize, 8), ComPortSubOption(kSetParity, 1),
             ComPortSubOption(kSetStopSize, 1), ComPortSubOption(kSetControl, kControlFlowNone)}));
    rig.sock().el(0).sent.clear();
    // Only what changed is sent.
    rig.vport().AppSets("19200,E,7,1", 2);
    EXPECT_EQ(rig.sock().el(0).sent,
              Cat({ComPortSubOption(kSetBaudRate, BaudRateValue(19200)),
                   ComPortSubOption(kSetDataSize, 7), ComPortSubOption(kSetParity, 3),
                   ComPortSubOption(kSetControl, kControlFlowHardware)}));
    // The server keeps 8 data bits and no parity: the application sees so,
    // and that change is not sent back.
    rig.sock().el(0).sent.clear();
    rig.sock().PeerSends(0,
                         Cat({Negotiation(kDo, kComPort), B("da"),
                              ComPortSubOption(kSetBaudRate + kServerOffset, BaudRateValue(19200)),
                              ComPortSubOption(kSetDataSize + kServerOffset, 8),
                              ComPortSubOption(kSetParity + kServerOffset, 1), B("ta"),
                              ComPortSubOption(kNotifyModemState + kServerOffset, 0x30)}));
    EXPECT_EQ(rig.vport().applied, (std::vector<std::string>{"19200,E,8,1", "19200,N,8,1"}));
    rig.vport().AppSets("19200,N,8,1", 2);
    EXPECT_TRUE(rig.sock().el(0).sent.empty());
    EXPECT_EQ(S(rig.vport().toApp), "data");

    // The answer to an older request never undoes a newer setting the
    // application made meanwhile; that one is sent when it is reported.
    rig.vport().AppSets("38400,N,8,1", 2);
    rig.vport().lineSettings = "57600,N,8,1";
    rig.vport().applied.clear();
    rig.sock().PeerSends(0, ComPortSubOption(kSetBaudRate + kServerOffset, BaudRateValue(9600)));
    EXPECT_TRUE(rig.vport().applied.empty());
    EXPECT_EQ(rig.vport().lineSettings, "57600,N,8,1");
}

TEST(RemoteLineControlClient, TheServerCanSuspendTheApplicationsData)
{
    LineClientRig rig;
    rig.sock().el(0).sent.clear();
    rig.sock().PeerSends(0, ComPortSubOption(kFlowControlSuspend + kServerOffset, Bytes{}));
    rig.vport().AppWrites(B("wait"));
    EXPECT_TRUE(rig.sock().el(0).sent.empty());
    rig.sock().PeerSends(0, ComPortSubOption(kFlowControlResume + kServerOffset, Bytes{}));
    EXPECT_EQ(rig.sock().el(0).sent, B("wait"));
}

}  // namespace
}  // namespace velkon::test
