#include "serial/LineTermios.h"

#include <gtest/gtest.h>

namespace velkon {
namespace {

using Flow = LineSettings::FlowControl;

LineSettings Line(int rate, char parity, int bits, const char* stop, Flow flow = Flow::kNone)
{
    LineSettings v;
    v.flowControl = flow;
    std::string reason;
    const std::string text =
        std::to_string(rate) + "," + parity + "," + std::to_string(bits) + "," + stop;
    EXPECT_TRUE(ParseLineSettings(text, v, reason)) << text << ": " << reason;
    return v;
}

// What a device would need to be asked for each kind of line, including
// those this machine's pseudo-terminals refuse.
TEST(LineTermios, EveryLineSettingBecomesItsTerminalFlags)
{
    termios2 cooked{};
    cooked.c_iflag = ICRNL | IXON | ISTRIP | INPCK;
    cooked.c_oflag = OPOST;
    cooked.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    cooked.c_cflag = CS8 | PARENB | CRTSCTS | B9600;
    const struct {
        LineSettings line;
        tcflag_t cflag;  // size, parity, stop and hardware handshake bits
        tcflag_t iflag;  // Xon/Xoff
    } cases[] = {
        {Line(9600, 'N', 8, "1"), CS8, 0},
        {Line(9600, 'E', 7, "1"), CS7 | PARENB, 0},
        {Line(9600, 'O', 7, "2"), CS7 | PARENB | PARODD | CSTOPB, 0},
        {Line(9600, 'M', 6, "1", Flow::kXonXoff), CS6 | PARENB | PARODD | CMSPAR, IXON | IXOFF},
        {Line(9600, 'S', 5, "1.5", Flow::kHardware), CS5 | PARENB | CMSPAR | CSTOPB | CRTSCTS, 0},
    };
    const tcflag_t lineBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    for (const auto& c : cases) {
        SCOPED_TRACE(LineSettingsText(c.line));
        const termios2 t = RawLineTermios(cooked, c.line);
        EXPECT_EQ(t.c_cflag & lineBits, c.cflag);
        EXPECT_EQ(t.c_iflag, c.iflag);  // nothing translated or stripped
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
        EXPECT_EQ(t.c_cc[VMIN], 1);
        // Read back, the flags give the same line (1.5 stop bits read as 2).
        LineSettings back = c.line;
        if (back.stopBits == LineSettings::StopBits::kOneAndHalf)
            back.stopBits = LineSettings::StopBits::kTwo;
        EXPECT_EQ(LineOfTermios(t), back);
    }
    // A rate without a code of its own goes through BOTHER, both ways.
    const termios2 odd = RawLineTermios(cooked, Line(250000, 'N', 8, "1"));
    EXPECT_EQ(odd.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(odd.c_ospeed, 250000u);
    EXPECT_EQ(odd.c_ispeed, 250000u);
    EXPECT_EQ(LineOfTermios(odd).baudRate, 250000);
    EXPECT_EQ(RawLineTermios(cooked, Line(19200, 'N', 8, "1")).c_cflag & CBAUD,
              static_cast<tcflag_t>(B19200));
    // Rates with a code of their own at both ends of the table.
    EXPECT_EQ(RawLineTermios(cooked, Line(50, 'N', 8, "1")).c_cflag & CBAUD,
              static_cast<tcflag_t>(B50));
    EXPECT_EQ(RawLineTermios(cooked, Line(4000000, 'N', 8, "1")).c_cflag & CBAUD,
              static_cast<tcflag_t>(B4000000));
}

TEST(LineTermios, WhatADriverDidNotKeepIsNamed)
{
    const LineSettings line = Line(115200, 'M', 7, "2", Flow::kHardware);
    const termios2 asked = RawLineTermios(termios2{}, line);
    EXPECT_EQ(RefusedPart(asked, asked, line), "");

    const struct {
        tcflag_t clearC, setC, clearI;
        speed_t rate;
        const char* refused;
    } cases[] = {
        {CSIZE, CS8, 0, 115200, "7 data bits"},
        {CMSPAR, 0, 0, 115200, "parity M"},  // a UART without mark/space
        {CSTOPB, 0, 0, 115200, "the stop bits"},
        {CRTSCTS, 0, 0, 115200, "hardware handshaking"},
        {0, 0, 0, 111111, "the baud rate 115200"},  // 3.5 % off
        {0, 0, 0, 117000, ""},                      // within a UART's tolerance
    };
    for (const auto& c : cases) {
        termios2 kept = asked;
        kept.c_cflag = (kept.c_cflag & ~c.clearC) | c.setC;
        kept.c_iflag &= ~c.clearI;
        kept.c_ospeed = kept.c_ispeed = c.rate;
        EXPECT_EQ(RefusedPart(asked, kept, line), c.refused);
    }
    const LineSettings xon = Line(9600, 'N', 8, "1", Flow::kXonXoff);
    const termios2 askedXon = RawLineTermios(termios2{}, xon);
    termios2 keptXon = askedXon;
    keptXon.c_iflag &= ~static_cast<tcflag_t>(IXOFF);
    EXPECT_EQ(RefusedPart(askedXon, keptXon, xon), "Xon/Xoff handshaking");
}

}  // namespace
}  // namespace velkon
