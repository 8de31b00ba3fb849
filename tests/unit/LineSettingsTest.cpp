#include "components/LineSettings.h"

#include <string>

#include <gtest/gtest.h>

namespace velkon {
namespace {

using Parity = LineSettings::Parity;
using Stop = LineSettings::StopBits;
using Flow = LineSettings::FlowControl;

LineSettings Made(int rate, Parity parity, int bits, Stop stop)
{
    LineSettings s;
    s.baudRate = rate;
    s.parity = parity;
    s.dataBits = bits;
    s.stopBits = stop;
    return s;
}

TEST(LineSettingsText, AcceptedFormsAreReadAndPrintedInTheirPlainForm)
{
    const struct {
        const char* text;
        LineSettings line;
        const char* printed;
    } cases[] = {
        {"9600,N,8,1", Made(9600, Parity::kNone, 8, Stop::kOne), "9600,N,8,1"},
        {"115200,E,7,2", Made(115200, Parity::kEven, 7, Stop::kTwo), "115200,E,7,2"},
        {"300,S,5,1.5", Made(300, Parity::kSpace, 5, Stop::kOneAndHalf), "300,S,5,1.5"},
        {" 14400 , m , 6 , 1 ", Made(14400, Parity::kMark, 6, Stop::kOne), "14400,M,6,1"},
        {"921600,o,8,1", Made(921600, Parity::kOdd, 8, Stop::kOne), "921600,O,8,1"},
        {"\t1\t,n,8,2", Made(1, Parity::kNone, 8, Stop::kTwo), "1,N,8,2"},
        {"16000000,N,8,1", Made(16000000, Parity::kNone, 8, Stop::kOne), "16000000,N,8,1"},
        {"000009600,N,8,1", Made(9600, Parity::kNone, 8, Stop::kOne), "9600,N,8,1"},
    };
    for (const auto& c : cases) {
        LineSettings line;
        std::string reason;
        ASSERT_TRUE(ParseLineSettings(c.text, line, reason)) << c.text << ": " << reason;
        EXPECT_EQ(line, c.line) << c.text;
        EXPECT_EQ(LineSettingsText(line), c.printed);
        // The printed form reads back to the same settings.
        LineSettings again;
        ASSERT_TRUE(ParseLineSettings(LineSettingsText(line), again, reason)) << reason;
        EXPECT_EQ(again, line);
    }
}

TEST(LineSettingsText, EveryRefusalSaysWhyAndChangesNothing)
{
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"", "expected baud rate, parity, data bits and stop bits"},
        {"abc", "expected baud rate, parity, data bits and stop bits"},
        {"9600,N,8", "expected baud rate, parity, data bits and stop bits"},
        {"9600,N,8,1,1", "expected baud rate, parity, data bits and stop bits"},
        {",N,8,1", "baud rate \"\" is not valid"},
        {"0,N,8,1", "baud rate \"0\" is not valid"},
        {"-9600,N,8,1", "baud rate \"-9600\" is not valid"},
        {"96a0,N,8,1", "baud rate \"96a0\" is not valid"},
        {"16000001,N,8,1", "baud rate \"16000001\" is not valid"},
        {"99999999999,N,8,1", "baud rate \"99999999999\" is not valid"},
        {"9600,X,8,1", "parity \"X\" is not N, E, O, M or S"},
        {"9600,NN,8,1", "parity \"NN\" is not N, E, O, M or S"},
        {"9600,,8,1", "parity \"\" is not N, E, O, M or S"},
        {"9600,N,9,1", "data bits \"9\" are not 5, 6, 7 or 8"},
        {"9600,N,4,1", "data bits \"4\" are not 5, 6, 7 or 8"},
        {"9600,N,88,1", "data bits \"88\" are not 5, 6, 7 or 8"},
        {"9600,N,8,3", "stop bits \"3\" are not 1, 1.5 or 2"},
        {"9600,N,8,", "stop bits \"\" are not 1, 1.5 or 2"},
        {"9600,N,8,1.0", "stop bits \"1.0\" are not 1, 1.5 or 2"},
        {"9600,N,8,1.5", "1.5 stop bits are only possible with 5 data bits"},
        {"9600,N,7,1.5", "1.5 stop bits are only possible with 5 data bits"},
    };
    for (const auto& c : cases) {
        LineSettings line = Made(1234, Parity::kOdd, 6, Stop::kTwo);
        line.flowControl = Flow::kHardware;
        const LineSettings before = line;
        std::string reason;
        EXPECT_FALSE(ParseLineSettings(c.text, line, reason)) << '"' << c.text << '"';
        EXPECT_EQ(reason, c.reason) << '"' << c.text << '"';
        EXPECT_EQ(line, before) << "changed by refused \"" << c.text << '"';
    }
}

TEST(LineSettingsText, FlowControlIsKeptByTheTextAndCountsInComparison)
{
    LineSettings line;
    line.flowControl = Flow::kXonXoff;
    std::string reason;
    ASSERT_TRUE(ParseLineSettings("19200,E,7,1", line, reason)) << reason;
    EXPECT_EQ(line.flowControl, Flow::kXonXoff);
    EXPECT_EQ(LineSettingsText(line), "19200,E,7,1");

    LineSettings other = line;
    EXPECT_EQ(other, line);
    other.flowControl = Flow::kHardware;
    EXPECT_FALSE(other == line);
}

}  // namespace
}  // namespace velkon
