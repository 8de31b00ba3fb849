#include "shell/IniFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace velkon {
namespace {

using namespace std::string_literals;

const std::string kSampleConfig =
    "; saved by Velkon\n"
    "[Velkon]\n"
    "MainLeft=1000\n"
    "MainTop=1000\n"
    "NumSessions=2\n"
    "OnErrorRunApp=\"/usr/bin/notify-send\" error\n"
    "Password=\n"
    "\n"
    "[Session1]\n"
    "Connector=0\n"
    "BaudRate=5\n"
    "IPAddress=192.168.1.20\n"
    "UserPrompt=Username:\n"
    "\n"
    "[Session2]\n"
    "# edited by hand\n"
    "Connector = 1\n"
    "TimeoutValue=150\n";

const std::string kSamplePorts =
    "[Ports]\r\n"
    "Count=2\r\n"
    "Port1=/dev/ttyS0\r\n"
    "Port2=/dev/ttyUSB0 ; adapter\r\n";

std::string ToCrLf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

std::string RoundTrip(const std::string& text)
{
    return IniFile::Parse(text).Serialize();
}

std::string AfterWrite(const std::string& text, std::string_view section, std::string_view key,
                       std::string_view value)
{
    IniFile file = IniFile::Parse(text);
    file.Write(section, key, value);
    return file.Serialize();
}

std::string RandomBlob(std::mt19937& rng, std::size_t maxSize)
{
    std::uniform_int_distribution<std::size_t> size(0, maxSize);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string blob(size(rng), '\0');
    for (char& c : blob) {
        c = static_cast<char>(byte(rng));
    }
    return blob;
}

// Random text built from the pieces INI lines are made of, so that sections and keys
// with the names the fuzz test reads and writes actually occur.
std::string RandomIniText(std::mt19937& rng)
{
    static const std::vector<std::string> pieces = {
        "[",       "]",        "=",        " ",
        "\t",      ";",        "#",        "\r",
        "\n",      "\r\n",     "\n",       std::string(1, '\0'),
        "\"",      "'",        "x",        "1",
        "-7",      "Velkon",   "session1", "SESSION2",
        "s",       "A",        "a",        "baudrate",
        "K",       "\xC3\xA9", "\xE2\x82", "\n[Velkon]\n",
        "\nA=1\n", "\n\n"};
    std::uniform_int_distribution<std::size_t> count(0, 60);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string text;
    for (std::size_t n = count(rng); n > 0; --n) {
        text += pieces[pick(rng)];
    }
    return text;
}

std::string Mutate(std::string text, std::mt19937& rng)
{
    static const std::string special = "[]=;# \t\r\n\"'x\xC3\0"s;
    std::uniform_int_distribution<int> operation(0, 5);
    std::uniform_int_distribution<int> edits(1, 8);
    for (int n = edits(rng); n > 0; --n) {
        std::uniform_int_distribution<std::size_t> at(0, text.size());
        const std::size_t pos = at(rng);
        const char c =
            special[std::uniform_int_distribution<std::size_t>(0, special.size() - 1)(rng)];
        switch (operation(rng)) {
            case 0:
                text.insert(pos, 1, c);
                break;
            case 1:
                if (pos < text.size()) {
                    text[pos] = c;
                }
                break;
            case 2:
                text.erase(pos, std::uniform_int_distribution<std::size_t>(0, 12)(rng));
                break;
            case 3:
                text.resize(pos);
                break;
            case 4:
                text.insert(pos,
                            text.substr(0, std::uniform_int_distribution<std::size_t>(0, 40)(rng)));
                break;
            default:
                if (pos < text.size()) {
                    text[pos] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
                }
                break;
        }
    }
    return text;
}

// ---------------------------------------------------------------------------------------
// Round trip

TEST(IniFileRoundTrip, EdgeInputsComeBackUnchanged)
{
    const std::vector<std::string> inputs = {
        "",
        "\n",
        "\r",
        "\r\n",
        "\n\r",
        "\r\r\n",
        "\r\n\r\n\n",
        "a",
        "a\r",
        "[",
        "]",
        "=",
        "[A]",
        "[A]\n=",
        "[A]\nk=v",
        "[A]\nk=v\r",
        "[A]\r\nk=v\r\r\n",
        "[A\0]\nk\0=\0v\0"s,
        "\0"s,
        "\xFF\xFE\0\x80"s,
        "   \t  \n\t\n",
        "[A]\n[A]\nk=1\nk=2\n",
        kSampleConfig,
        ToCrLf(kSampleConfig),
        kSamplePorts,
    };
    for (const std::string& input : inputs) {
        EXPECT_EQ(RoundTrip(input), input);
    }
}

TEST(IniFileRoundTrip, RandomBinaryBlobs)
{
    std::mt19937 rng(20240611);
    for (int n = 0; n < 2000; ++n) {
        const std::string blob = RandomBlob(rng, 300);
        ASSERT_EQ(RoundTrip(blob), blob);
        const std::string text = RandomIniText(rng);
        ASSERT_EQ(RoundTrip(text), text);
    }
}

TEST(IniFileRoundTrip, MutatedConfigFiles)
{
    std::mt19937 rng(7);
    const std::vector<std::string> samples = {kSampleConfig, ToCrLf(kSampleConfig), kSamplePorts};
    for (int n = 0; n < 3000; ++n) {
        const std::string text = Mutate(samples[static_cast<std::size_t>(n) % samples.size()], rng);
        ASSERT_EQ(RoundTrip(text), text);
    }
}

// ---------------------------------------------------------------------------------------
// Reading

TEST(IniFileRead, NamesIgnoreAsciiCaseOnly)
{
    const IniFile file = IniFile::Parse(
        "[Session1]\nBaudRate=5\n[\xC3\x84rger]\nK=umlaut\n[SESSION2]\nipaddress=host\n");
    EXPECT_EQ(file.ReadInt("session1", "baudrate", -1), 5);
    EXPECT_EQ(file.ReadInt("SESSION1", "BAUDRATE", -1), 5);
    EXPECT_EQ(file.ReadText("Session2", "IPAddress", "none"), "host");
    EXPECT_EQ(file.ReadText("\xC3\x84rger", "k", "none"), "umlaut");
    // Only ASCII letters fold: the lower-case umlaut is a different name.
    EXPECT_EQ(file.ReadText("\xC3\xA4rger", "k", "none"), "none");
}

TEST(IniFileRead, SectionAndKeyNamesAreTrimmed)
{
    const IniFile file = IniFile::Parse(
        "  [  Session1 \t]  trailing words\n"
        "\t BaudRate \t=  5\n"
        "[Open section\t\n"
        "Key=in open\n"
        "[Two] ] [x]\n"
        "k=two\n");
    EXPECT_EQ(file.ReadInt("Session1", "BaudRate", -1), 5);
    EXPECT_EQ(file.ReadInt(" Session1\t", "\tBaudRate  ", -1), 5);
    EXPECT_EQ(file.ReadText("Open section", "Key", "none"), "in open");
    EXPECT_EQ(file.ReadText("Two", "k", "none"), "two");
    EXPECT_FALSE(file.HasKey("Two] ] [x", "k"));
}

TEST(IniFileRead, TextValuesAreTrimmedAndLoseOneMatchingQuotePair)
{
    const IniFile file = IniFile::Parse(
        "[S]\n"
        "plain= \t hello world \t \n"
        "double=\"quoted value\"\n"
        "single= 'quoted value' \n"
        "inside=\"  keeps blanks  \"\n"
        "mixed=\"mismatched'\n"
        "open=\"only at start\n"
        "close=only at end\"\n"
        "one=\"\n"
        "empty=\"\"\n"
        "twice=\"\"twice\"\"\n"
        "command=\"/usr/bin/app\" --flag\n"
        "equals=a=b=c\n"
        "nothing=\n");
    EXPECT_EQ(file.ReadText("S", "plain", "d"), "hello world");
    EXPECT_EQ(file.ReadText("S", "double", "d"), "quoted value");
    EXPECT_EQ(file.ReadText("S", "single", "d"), "quoted value");
    EXPECT_EQ(file.ReadText("S", "inside", "d"), "  keeps blanks  ");
    EXPECT_EQ(file.ReadText("S", "mixed", "d"), "\"mismatched'");
    EXPECT_EQ(file.ReadText("S", "open", "d"), "\"only at start");
    EXPECT_EQ(file.ReadText("S", "close", "d"), "only at end\"");
    EXPECT_EQ(file.ReadText("S", "one", "d"), "\"");
    EXPECT_EQ(file.ReadText("S", "empty", "d"), "");
    EXPECT_EQ(file.ReadText("S", "twice", "d"), "\"twice\"");
    EXPECT_EQ(file.ReadText("S", "command", "d"), "\"/usr/bin/app\" --flag");
    EXPECT_EQ(file.ReadText("S", "equals", "d"), "a=b=c");
    EXPECT_EQ(file.ReadText("S", "nothing", "d"), "");
}

TEST(IniFileRead, TextIsCutAt199BytesWithoutSplittingUtf8)
{
    const std::string euro = "\xE2\x82\xAC";       // 3 bytes
    const std::string eAcute = "\xC3\xA9";         // 2 bytes
    const std::string smile = "\xF0\x9F\x98\x80";  // 4 bytes
    const std::string ascii250(250, 'a');
    const std::string exact199(199, 'b');
    const std::string cases[][2] = {
        {ascii250, std::string(199, 'a')},
        {exact199, exact199},
        {"\"" + exact199 + "\"", exact199},  // quotes go before counting
        {"  " + exact199 + "z  ", exact199},
        {std::string(198, 'c') + eAcute + "tail", std::string(198, 'c')},
        {std::string(197, 'c') + eAcute + "tail", std::string(197, 'c') + eAcute},
        {std::string(197, 'd') + euro + "tail", std::string(197, 'd')},
        {std::string(198, 'd') + euro + "tail", std::string(198, 'd')},
        {std::string(196, 'd') + euro + "tail", std::string(196, 'd') + euro},
        {std::string(196, 'e') + smile + "tail", std::string(196, 'e')},
        {std::string(195, 'e') + smile + "tail", std::string(195, 'e') + smile},
        {std::string(250, '\x80'), std::string(199, '\x80')},  // not UTF-8: plain cut
    };
    for (const auto& [stored, expected] : cases) {
        const IniFile file = IniFile::Parse("[S]\nk=" + stored + "\n");
        EXPECT_EQ(file.ReadText("S", "k", "d"), expected) << stored;
    }
}

TEST(IniFileRead, IntegersTakeTheLeadingNumber)
{
    const IniFile file = IniFile::Parse(
        "[S]\n"
        "plain=42\n"
        "negative=-1\n"
        "plus=+7\n"
        "blanks= \t 12 \n"
        "suffix=200ms\n"
        "fraction=150.75\n"
        "letters=abc\n"
        "empty=\n"
        "sign=-\n"
        "spaced=- 5\n"
        "quoted=\"5\"\n"
        "max=2147483647\n"
        "min=-2147483648\n"
        "above=2147483648\n"
        "below=-2147483649\n"
        "huge=99999999999999999999999999999\n"
        "hugeNegative=-99999999999999999999999999999\n"
        "wraps=18446744073709551621\n"  // 2^64 + 5
        "wrapsNegative=-18446744073709551621\n"
        "zeros=000000000000000000000000000012\n");
    EXPECT_EQ(file.ReadInt("S", "plain", -9), 42);
    EXPECT_EQ(file.ReadInt("S", "negative", -9), -1);
    EXPECT_EQ(file.ReadInt("S", "plus", -9), 7);
    EXPECT_EQ(file.ReadInt("S", "blanks", -9), 12);
    EXPECT_EQ(file.ReadInt("S", "suffix", -9), 200);
    EXPECT_EQ(file.ReadInt("S", "fraction", -9), 150);
    EXPECT_EQ(file.ReadInt("S", "letters", -9), 0);
    EXPECT_EQ(file.ReadInt("S", "empty", -9), 0);
    EXPECT_EQ(file.ReadInt("S", "sign", -9), 0);
    EXPECT_EQ(file.ReadInt("S", "spaced", -9), 0);
    EXPECT_EQ(file.ReadInt("S", "quoted", -9), 0);
    EXPECT_EQ(file.ReadInt("S", "max", -9), INT_MAX);
    EXPECT_EQ(file.ReadInt("S", "min", -9), INT_MIN);
    EXPECT_EQ(file.ReadInt("S", "above", -9), INT_MAX);
    EXPECT_EQ(file.ReadInt("S", "below", -9), INT_MIN);
    EXPECT_EQ(file.ReadInt("S", "huge", -9), INT_MAX);
    EXPECT_EQ(file.ReadInt("S", "hugeNegative", -9), INT_MIN);
    EXPECT_EQ(file.ReadInt("S", "wraps", -9), INT_MAX);
    EXPECT_EQ(file.ReadInt("S", "wrapsNegative", -9), INT_MIN);
    EXPECT_EQ(file.ReadInt("S", "zeros", -9), 12);
}

TEST(IniFileRead, MissingFileSectionOrKeyGivesDefault)
{
    const IniFile none;
    EXPECT_EQ(none.ReadInt("Velkon", "NumSessions", 3), 3);
    EXPECT_EQ(none.ReadText("Velkon", "Password", "secret"), "secret");
    EXPECT_FALSE(none.HasKey("Velkon", "NumSessions"));

    const IniFile file = IniFile::Parse(
        "Early=1\n"
        "[Velkon]\n"
        "; Hidden=1\n"
        "  # Also=1\n"
        "NoEquals\n"
        "=5\n"
        " \t=6\n"
        "Present=\n"
        "[Session1]\n"
        "OnlyHere=1\n");
    EXPECT_EQ(file.ReadInt("Velkon", "Early", 9), 9);  // before any section
    EXPECT_EQ(file.ReadInt("Velkon", "Hidden", 9), 9);
    EXPECT_EQ(file.ReadInt("Velkon", "; Hidden", 9), 9);
    EXPECT_EQ(file.ReadInt("Velkon", "Also", 9), 9);
    EXPECT_EQ(file.ReadInt("Velkon", "NoEquals", 9), 9);
    EXPECT_EQ(file.ReadInt("Velkon", "", 9), 9);  // empty key names are ignored
    EXPECT_EQ(file.ReadInt("Velkon", "OnlyHere", 9), 9);
    EXPECT_EQ(file.ReadInt("Session2", "OnlyHere", 9), 9);
    EXPECT_EQ(file.ReadText("Nowhere", "Present", "def"), "def");
    EXPECT_FALSE(file.HasKey("Velkon", "Early"));
    EXPECT_FALSE(file.HasKey("Velkon", ""));
    // A present but empty value is not a missing key.
    EXPECT_TRUE(file.HasKey("Velkon", "Present"));
    EXPECT_EQ(file.ReadText("Velkon", "Present", "def"), "");
    EXPECT_EQ(file.ReadInt("Velkon", "Present", 9), 0);
    EXPECT_EQ(file.ReadInt("Session1", "OnlyHere", 9), 1);
}

TEST(IniFileRead, FirstOfRepeatedSectionOrKeyCounts)
{
    const IniFile file = IniFile::Parse(
        "[Session1]\n"
        "BaudRate=1\n"
        "baudrate=2\n"
        "[Other]\n"
        "x=1\n"
        "[SESSION1]\n"
        "BaudRate=3\n"
        "Extra=4\n");
    EXPECT_EQ(file.ReadInt("Session1", "BaudRate", -1), 1);
    EXPECT_EQ(file.ReadInt("Session1", "Extra", -1), -1);
    EXPECT_FALSE(file.HasKey("session1", "extra"));
}

TEST(IniFileRead, LineEndsAndOddBytes)
{
    const IniFile crlf = IniFile::Parse("[S]\r\nk= v \r\nn=12\r\n");
    EXPECT_EQ(crlf.ReadText("S", "k", "d"), "v");
    EXPECT_EQ(crlf.ReadInt("S", "n", -1), 12);

    const IniFile odd = IniFile::Parse("[S]\nlone=a\rb\nend=x\r\r\nnul=a\0b\nlast=7"s);
    EXPECT_EQ(odd.ReadText("S", "lone", "d"), "a\rb");
    EXPECT_EQ(odd.ReadText("S", "end", "d"), "x\r");
    EXPECT_EQ(odd.ReadText("S", "nul", "d"), "a\0b"s);
    EXPECT_EQ(odd.ReadInt("S", "last", -1), 7);

    // A lone CR does not end a line, so it does not open a section either.
    const IniFile joined = IniFile::Parse("[A]\nk=1\r[B]\nj=2\n");
    EXPECT_EQ(joined.ReadText("A", "k", "d"), "1\r[B]");
    EXPECT_EQ(joined.ReadInt("A", "j", -1), 2);
    EXPECT_FALSE(joined.HasKey("B", "j"));
}

// ---------------------------------------------------------------------------------------
// Writing

TEST(IniFileWrite, ReplacesExistingValueInPlace)
{
    const std::string before =
        "; head\n"
        "Key=prelude\n"
        "[Other]\n"
        "BaudRate=other\n"
        "[Session1]\n"
        "odd line without equals\n"
        "  baudRATE \t=  3 ; note\n"
        "# BaudRate=9\n"
        "Tail=x\n";
    const std::string expected =
        "; head\n"
        "Key=prelude\n"
        "[Other]\n"
        "BaudRate=other\n"
        "[Session1]\n"
        "odd line without equals\n"
        "baudRATE=7\n"
        "# BaudRate=9\n"
        "Tail=x\n";
    EXPECT_EQ(AfterWrite(before, "session1", "BaudRate", "7"), expected);

    // The last line keeps having no line end.
    EXPECT_EQ(AfterWrite("[A]\nx=1", "A", "x", "5"), "[A]\nx=5");
    EXPECT_EQ(AfterWrite("[A]\r\nx=1\r\ny=2\r\n", "a", "X", ""), "[A]\r\nx=\r\ny=2\r\n");
}

TEST(IniFileWrite, AppendsAfterLastNonBlankLineOfSection)
{
    EXPECT_EQ(AfterWrite("[A]\nx=1\n\n \t\n[B]\ny=2\n", "A", "z", "3"),
              "[A]\nx=1\nz=3\n\n \t\n[B]\ny=2\n");
    EXPECT_EQ(AfterWrite("[A]\nx=1\n; end of A\n\n[B]\n", "A", "z", "3"),
              "[A]\nx=1\n; end of A\nz=3\n\n[B]\n");
    EXPECT_EQ(AfterWrite("[A]\n\n[B]\n", "a", "z", "3"), "[A]\nz=3\n\n[B]\n");
    EXPECT_EQ(AfterWrite("[A]\nx=1\n\n\n", "A", "z", "3"), "[A]\nx=1\nz=3\n\n\n");
    EXPECT_EQ(AfterWrite("[A]\nx=1\n  ", "A", "z", "3"), "[A]\nx=1\nz=3\n  ");
    // A key only before the first section is not the section's key.
    EXPECT_EQ(AfterWrite("z=0\n[A]\n", "A", "z", "3"), "z=0\n[A]\nz=3\n");
    // A new key takes the caller's spelling.
    EXPECT_EQ(AfterWrite("[A]\n", "A", "  NewKey\t", "v"), "[A]\nNewKey=v\n");
}

TEST(IniFileWrite, AppendsMissingSectionAtEndOfFile)
{
    EXPECT_EQ(AfterWrite("[A]\nx=1\n", "B", "y", "2"), "[A]\nx=1\n[B]\ny=2\n");
    EXPECT_EQ(AfterWrite("[A]\nx=1\n\n", "B", "y", "2"), "[A]\nx=1\n\n[B]\ny=2\n");
    EXPECT_EQ(AfterWrite("; only a comment\n", " Session2 ", "y", "2"),
              "; only a comment\n[Session2]\ny=2\n");
    EXPECT_EQ(AfterWrite("[A]\n[B]\n", "C", "k", "v"), "[A]\n[B]\n[C]\nk=v\n");
}

TEST(IniFileWrite, NewFileFromNothing)
{
    IniFile file;
    file.Write("Velkon", "A", "1");
    EXPECT_EQ(file.Serialize(), "[Velkon]\nA=1\n");
    file.Write("Velkon", "B", "2");
    file.Write("Session1", "C", "x");
    file.Write("velkon", "a", "5");
    EXPECT_EQ(file.Serialize(), "[Velkon]\nA=5\nB=2\n[Session1]\nC=x\n");

    EXPECT_EQ(AfterWrite("", "Velkon", "A", "1"), "[Velkon]\nA=1\n");
}

TEST(IniFileWrite, NewLinesFollowTheFirstLineEnd)
{
    IniFile crlf = IniFile::Parse("[A]\r\nx=1\r\n\r\n[B]\r\n");
    crlf.Write("A", "x", "2");
    crlf.Write("A", "y", "3");
    crlf.Write("C", "z", "4");
    EXPECT_EQ(crlf.Serialize(), "[A]\r\nx=2\r\ny=3\r\n\r\n[B]\r\n[C]\r\nz=4\r\n");

    EXPECT_EQ(AfterWrite("[A]\nx=1\r\n", "A", "y", "2"), "[A]\nx=1\r\ny=2\n");
    EXPECT_EQ(AfterWrite("[A]\r\nx=1\n", "A", "y", "2"), "[A]\r\nx=1\ny=2\r\n");
    // A lone CR is no line end.
    EXPECT_EQ(AfterWrite("[A]\rx\n", "B", "y", "2"), "[A]\rx\n[B]\ny=2\n");
}

TEST(IniFileWrite, FileWithoutFinalLineEndGetsOneBeforeAppending)
{
    EXPECT_EQ(AfterWrite("[A]\nx=1", "A", "y", "2"), "[A]\nx=1\ny=2\n");
    EXPECT_EQ(AfterWrite("[A]\nx=1", "B", "y", "2"), "[A]\nx=1\n[B]\ny=2\n");
    EXPECT_EQ(AfterWrite("[A]\r\nx=1", "B", "y", "2"), "[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
    EXPECT_EQ(AfterWrite("[A]", "A", "k", "v"), "[A]\nk=v\n");
    EXPECT_EQ(AfterWrite("junk", "A", "k", "v"), "junk\n[A]\nk=v\n");
    // Only appending at the very end touches the last line.
    EXPECT_EQ(AfterWrite("[A]\nx=1\n[B]\ny=2", "A", "k", "v"), "[A]\nx=1\nk=v\n[B]\ny=2");
    EXPECT_EQ(AfterWrite("[A]\nx=1\n\t", "A", "k", "v"), "[A]\nx=1\nk=v\n\t");

    // The added LF makes a trailing CR part of a CRLF line end.
    IniFile trailingCr = IniFile::Parse("[A]\nx=1\r");
    EXPECT_EQ(trailingCr.ReadText("A", "x", "d"), "1\r");
    trailingCr.Write("B", "y", "2");
    EXPECT_EQ(trailingCr.Serialize(), "[A]\nx=1\r\n[B]\ny=2\n");
    EXPECT_EQ(trailingCr.ReadText("A", "x", "d"), "1");
    // ...and when it is the file's first line end, the file is a CRLF file from then on.
    EXPECT_EQ(AfterWrite("x\r", "A", "k", "v"), "x\r\n[A]\r\nk=v\r\n");
    IniFile header = IniFile::Parse("[A\r");
    header.Write("A", "k", "v");
    EXPECT_EQ(header.Serialize(), "[A\r\nk=v\r\n");
    EXPECT_EQ(header.ReadText("A", "k", "d"), "v");
}

TEST(IniFileWrite, ValuesAreWrittenAsGivenOnOneLine)
{
    EXPECT_EQ(AfterWrite("[A]\n", "A", "k", "\"quoted\" ; not a comment"),
              "[A]\nk=\"quoted\" ; not a comment\n");
    EXPECT_EQ(AfterWrite("[A]\n", "A", "k", "-1"), "[A]\nk=-1\n");
    EXPECT_EQ(AfterWrite("[A]\n", "A", "k", "a=b"), "[A]\nk=a=b\n");
    EXPECT_EQ(AfterWrite("[A]\n", "A", "k", "a\r\nb\nc"), "[A]\nk=a  b c\n");
    EXPECT_EQ(AfterWrite("[A]\n", "A", "Multi\nLine", "1"), "[A]\nMulti Line=1\n");
    EXPECT_EQ(AfterWrite("", "Two\r\nLines", "k", "1"), "[Two  Lines]\nk=1\n");
    EXPECT_EQ(AfterWrite("[A]\nk=old\n[B]\n", "A", "k", "new\n[B]\nk=evil"),
              "[A]\nk=new [B] k=evil\n[B]\n");

    IniFile file;
    file.Write("A", "k", "line one\nline two");
    EXPECT_EQ(file.ReadText("A", "k", "d"), "line one line two");
    file.Write("A", "Key\r\n", "2");
    EXPECT_EQ(file.ReadInt("A", "Key", -1), 2);
    EXPECT_EQ(file.ReadInt("A", "Key\n", -1), 2);
}

TEST(IniFileWrite, ValuesTheReaderWouldTrimOrUnquoteAreQuoted)
{
    EXPECT_EQ(AfterWrite("[A]\n", "A", "k", "login: "), "[A]\nk=\"login: \"\n");
    EXPECT_EQ(AfterWrite("[A]\n", "A", "k", "'x'"), "[A]\nk=\"'x'\"\n");
    EXPECT_EQ(AfterWrite("[A]\n", "A", "k", "\"x"), "[A]\nk=\"x\n");

    // A stray CR before the line end stays in the value it is read with; its
    // blank when written must not be lost at the next read (a fuzzer found it).
    const IniFile read = IniFile::Parse("[A]\r\nip=063.0.0.1\r\r\n");
    for (const std::string& value :
         {read.ReadText("A", "ip", ""), std::string("  both ends\t"), std::string("\"q\""),
          std::string("'"), std::string("a\r\nb\r"), std::string(" ' ")}) {
        IniFile file;
        file.Write("A", "k", value);
        std::string expected = value;
        std::replace(expected.begin(), expected.end(), '\r', ' ');
        std::replace(expected.begin(), expected.end(), '\n', ' ');
        EXPECT_EQ(IniFile::Parse(file.Serialize()).ReadText("A", "k", "-"), expected) << value;
    }
}

TEST(IniFileWrite, RepeatedSectionsAndKeysWriteTheFirst)
{
    EXPECT_EQ(AfterWrite("[A]\nk=1\nK=2\n[B]\n[a]\nk=3\n", "A", "k", "9"),
              "[A]\nk=9\nK=2\n[B]\n[a]\nk=3\n");
    EXPECT_EQ(AfterWrite("[A]\nx=1\n\n[B]\n[a]\nk=3\n", "A", "k", "9"),
              "[A]\nx=1\nk=9\n\n[B]\n[a]\nk=3\n");
}

TEST(IniFileWrite, NamesThatCannotBeReadBackAreNotWritten)
{
    const std::string text = "[A]\nx=1\n";
    const std::vector<std::pair<std::string, std::string>> names = {
        {"A", ""},   {"A", " \t"}, {"A", "a=b"}, {"A", ";c"}, {"A", "#c"},
        {"A", "[c"}, {"A", "\n"},  {"a]b", "k"}, {"]", "k"},
    };
    for (const auto& [section, key] : names) {
        IniFile file = IniFile::Parse(text);
        file.Write(section, key, "v");
        EXPECT_EQ(file.Serialize(), text) << section << " / " << key;
        EXPECT_FALSE(file.HasKey(section, key)) << section << " / " << key;
    }
    // Such characters later in a name are fine.
    EXPECT_EQ(AfterWrite(text, "A", "c;#[", "v"), "[A]\nx=1\nc;#[=v\n");
    EXPECT_EQ(AfterWrite(text, "[B", "k", "v"), "[A]\nx=1\n[[B]\nk=v\n");
}

TEST(IniFileWrite, InMemoryFileReadsLikeItsText)
{
    IniFile file = IniFile::Parse("Top=1\r\n[Velkon]\r\n\r\n[Session1]\r\nA=\"q\"\r\n; c\r\n\r\n");
    file.Write("Session1", "B", "2");
    file.Write("Session2", "A", "x");
    file.Write("velkon", "NumSessions", "2");
    file.Write("Session1", "a", "'y'");
    const IniFile reread = IniFile::Parse(file.Serialize());
    EXPECT_EQ(
        file.Serialize(),
        "Top=1\r\n[Velkon]\r\nNumSessions=2\r\n\r\n[Session1]\r\nA=\"'y'\"\r\n; c\r\nB=2\r\n\r\n"
        "[Session2]\r\nA=x\r\n");
    for (const char* section : {"Velkon", "Session1", "Session2"}) {
        for (const char* key : {"NumSessions", "A", "B", "Top"}) {
            EXPECT_EQ(file.ReadText(section, key, "-"), reread.ReadText(section, key, "-"));
            EXPECT_EQ(file.ReadInt(section, key, -5), reread.ReadInt(section, key, -5));
        }
    }
}

// ---------------------------------------------------------------------------------------
// Fuzz

std::vector<std::string> SplitAfterLf(const std::string& text)
{
    std::vector<std::string> chunks;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string::npos ? text.size() : lf + 1;
        chunks.push_back(text.substr(start, end - start));
        start = end;
    }
    return chunks;
}

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// True if chunk is a line whose key name (text before '=', blanks trimmed) is key.
bool IsLineOfKey(const std::string& chunk, const std::string& key)
{
    const std::size_t eq = chunk.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    std::string name = chunk.substr(0, eq);
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    return Lower(name) == Lower(key);
}

using Probe = std::tuple<bool, std::string, int>;

Probe Read(const IniFile& file, const std::string& section, const std::string& key)
{
    return {file.HasKey(section, key), file.ReadText(section, key, "<missing>"),
            file.ReadInt(section, key, -12345)};
}

std::string RandomCase(std::string name, std::mt19937& rng)
{
    for (char& c : name) {
        if (rng() % 2 == 0) {
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        } else {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
    return rng() % 4 == 0 ? " " + name + "\t" : name;
}

TEST(IniFileFuzz, RandomWritesKeepEverythingElse)
{
    const std::vector<std::string> sections = {"Velkon", "Session1", "Session2", "s"};
    const std::vector<std::string> keys = {"A", "BaudRate", "k"};
    const std::vector<std::string> values = {"1", "-1", "v", "hello world", "x\ny", "a\r\nb", ""};
    const std::vector<std::string> samples = {kSampleConfig, ToCrLf(kSampleConfig), kSamplePorts};
    std::mt19937 rng(12345);

    for (int round = 0; round < 3000; ++round) {
        std::string text;
        switch (round % 3) {
            case 0:
                text = RandomIniText(rng);
                break;
            case 1:
                text = Mutate(samples[rng() % samples.size()], rng);
                break;
            default:
                text = RandomBlob(rng, 120);
                break;
        }
        IniFile file = IniFile::Parse(text);
        ASSERT_EQ(file.Serialize(), text);

        for (int step = 1 + static_cast<int>(rng() % 6); step > 0; --step) {
            const std::string before = file.Serialize();
            std::vector<Probe> probesBefore;
            for (const std::string& s : sections) {
                for (const std::string& k : keys) {
                    probesBefore.push_back(Read(file, s, k));
                }
            }

            const bool garbage = rng() % 5 == 0;
            const std::size_t si = rng() % sections.size();
            const std::size_t ki = rng() % keys.size();
            const std::string section =
                garbage ? RandomIniText(rng) : RandomCase(sections[si], rng);
            const std::string key = garbage ? RandomIniText(rng) : RandomCase(keys[ki], rng);
            const std::string value = garbage ? RandomBlob(rng, 20) : values[rng() % values.size()];
            file.Write(section, key, value);
            const std::string after = file.Serialize();

            // The in-memory file reads exactly like the text it serializes to.
            const IniFile reread = IniFile::Parse(after);
            ASSERT_EQ(Read(file, section, key), Read(reread, section, key));
            for (const std::string& s : sections) {
                for (const std::string& k : keys) {
                    ASSERT_EQ(Read(file, s, k), Read(reread, s, k));
                }
            }

            if (garbage) {
                ASSERT_TRUE(after == before || file.HasKey(section, key));
                continue;
            }

            std::string expected = value;
            for (char& c : expected) {
                c = c == '\r' || c == '\n' ? ' ' : c;
            }
            ASSERT_TRUE(file.HasKey(section, key));
            ASSERT_EQ(file.ReadText(section, key, "<missing>"), expected);

            // Every other key reads as before. A trailing CR is the one exception: the LF
            // added after it joins it into a CRLF line end.
            if (before.empty() || before.back() != '\r') {
                std::size_t p = 0;
                for (std::size_t s = 0; s < sections.size(); ++s) {
                    for (std::size_t k = 0; k < keys.size(); ++k, ++p) {
                        if (s != si || k != ki) {
                            ASSERT_EQ(Read(file, sections[s], keys[k]), probesBefore[p])
                                << sections[s] << "/" << keys[k] << " in\n"
                                << before;
                        }
                    }
                }
            }

            // Byte for byte, the old lines are all still there: at most one line changed
            // (the key's own line, or the last line given a line end) and at most three
            // were added.
            const std::vector<std::string> oldLines = SplitAfterLf(before);
            const std::vector<std::string> newLines = SplitAfterLf(after);
            std::size_t prefix = 0;
            while (prefix < oldLines.size() && prefix < newLines.size() &&
                   oldLines[prefix] == newLines[prefix]) {
                ++prefix;
            }
            std::size_t suffix = 0;
            while (suffix < oldLines.size() - prefix && suffix < newLines.size() - prefix &&
                   oldLines[oldLines.size() - 1 - suffix] ==
                       newLines[newLines.size() - 1 - suffix]) {
                ++suffix;
            }
            const std::size_t oldChanged = oldLines.size() - prefix - suffix;
            const std::size_t newChanged = newLines.size() - prefix - suffix;
            ASSERT_LE(oldChanged, 1u) << before << "\n----\n" << after;
            ASSERT_LE(newChanged, 3u) << before << "\n----\n" << after;
            if (oldChanged == 1) {
                const std::string& old = oldLines[prefix];
                const std::string& first = newLines[prefix];
                const bool terminated = first == old + "\n" || first == old + "\r\n";
                ASSERT_TRUE(terminated || IsLineOfKey(old, keys[ki])) << before << "\n----\n"
                                                                      << after;
            }
        }
    }
}

}  // namespace
}  // namespace velkon
