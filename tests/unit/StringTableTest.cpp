#include "shell/StringTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <utility>

namespace velkon {
namespace {

// Menu captions: the entries whose Japanese text must be a translation.
std::vector<int> MenuNumbers()
{
    std::vector<int> numbers;
    for (int n = 2101; n <= 2114; ++n) {
        numbers.push_back(n);
    }
    for (int n = 2122; n <= 2132; ++n) {
        numbers.push_back(n);
    }
    return numbers;
}

// Returns the access key of a text such as "E&xit" as an upper-case letter ('X'), or 0.
char Accelerator(const std::string& text)
{
    const std::size_t amp = text.find('&');
    if (amp == std::string::npos || amp + 1 >= text.size()) {
        return 0;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(text[amp + 1])));
}

class FakeEnvironment {
public:
    explicit FakeEnvironment(std::map<std::string, std::string> values)
        : m_values(std::move(values))
    {
    }

    std::function<const char*(const char*)> Getter() const
    {
        return [this](const char* name) -> const char* {
            const auto it = m_values.find(name);
            return it == m_values.end() ? nullptr : it->second.c_str();
        };
    }

private:
    std::map<std::string, std::string> m_values;
};

Language LanguageFor(std::map<std::string, std::string> values)
{
    const FakeEnvironment environment(std::move(values));
    return StringTable::LanguageFromEnvironment(environment.Getter());
}

TEST(StringTableTest, NumbersInUseIsAscendingAndMatchesTheDocumentedGroups)
{
    const std::vector<int>& numbers = NumbersInUse();
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
    const auto contains = [&numbers](int n) {
        return std::binary_search(numbers.begin(), numbers.end(), n);
    };
    EXPECT_TRUE(contains(20));
    EXPECT_TRUE(contains(1102));
    EXPECT_TRUE(contains(2132));
    EXPECT_TRUE(contains(5039));
    EXPECT_TRUE(contains(5041));
    EXPECT_TRUE(contains(5185));
    EXPECT_TRUE(contains(5124));
    EXPECT_FALSE(contains(5040));
    EXPECT_FALSE(contains(2115));
    EXPECT_FALSE(contains(5108));
    EXPECT_FALSE(contains(5121));
    EXPECT_FALSE(contains(5150));
    EXPECT_TRUE(contains(5261));
    EXPECT_TRUE(contains(5266));
    EXPECT_EQ(numbers.size(), 241u);
}

TEST(StringTableTest, BuiltInTablesHoldExactlyTheNumbersInUse)
{
    EXPECT_EQ(StringTable::English().Numbers(), NumbersInUse());
    EXPECT_EQ(StringTable::Japanese().Numbers(), NumbersInUse());
    for (int number : NumbersInUse()) {
        EXPECT_FALSE(StringTable::English().Text(number).empty()) << number;
        EXPECT_FALSE(StringTable::Japanese().Text(number).empty()) << number;
    }
}

TEST(StringTableTest, BuiltInTablesKnowTheirLanguage)
{
    EXPECT_EQ(StringTable::English().language(), Language::English);
    EXPECT_EQ(StringTable::Japanese().language(), Language::Japanese);
    EXPECT_EQ(&StringTable::For(Language::English), &StringTable::English());
    EXPECT_EQ(&StringTable::For(Language::Japanese), &StringTable::Japanese());
}

TEST(StringTableTest, EnglishTextsReadExactlyAsShown)
{
    const StringTable& en = StringTable::English();
    EXPECT_EQ(en.Text(20), "Ms Sans Serif");
    EXPECT_EQ(en.Text(21), "0");
    EXPECT_EQ(en.Text(1207), "&OK");
    EXPECT_EQ(en.Text(2102), "&File");
    EXPECT_EQ(en.Text(2106), "Save &As...");
    EXPECT_EQ(en.Text(2124), "&Resolve IP Address from Host Name...");
    EXPECT_EQ(en.Text(2206), "Odd");
    EXPECT_EQ(en.Text(2207), "Even");
    EXPECT_EQ(en.Text(2217), "Buffer Size:");
    EXPECT_EQ(en.Text(5005), "Timeout value (ms):");
    EXPECT_EQ(en.Text(5087), "Activate");
    EXPECT_EQ(en.Text(5009), "Activate");
    EXPECT_EQ(en.Text(5118), "De-Activate");
    EXPECT_EQ(en.Text(5099), "Error -");
    EXPECT_EQ(en.Text(5092), "Cannot create virtual");
    EXPECT_EQ(en.Text(5102), "Port numbers must range between 0 and 65535");
    EXPECT_EQ(en.Text(5110),
              "Your confirming password does not match your password. Please re-enter.");
    EXPECT_EQ(en.Text(5119) + " - " + en.Text(5120), "New - RS232 to TCP/IP");
    EXPECT_EQ(en.Text(5093) + " COM3 " + en.Text(5094), "Virtual Port COM3 created");
}

TEST(StringTableTest, JapaneseTableIsATranslation)
{
    const StringTable& en = StringTable::English();
    const StringTable& ja = StringTable::Japanese();
    EXPECT_EQ(ja.Text(20), "ＭＳ Ｐゴシック");
    EXPECT_EQ(ja.Text(21), "128");
    EXPECT_NE(ja.Text(5102).find("65535"), std::string::npos);
    EXPECT_EQ(ja.Text(5102).find("65565"), std::string::npos);
    for (int number : MenuNumbers()) {
        const std::string english = en.Text(number);
        const std::string japanese = ja.Text(number);
        EXPECT_NE(japanese, english) << number;
        // Japanese menus show the access key, upper case, in parentheses after the text.
        const char key = Accelerator(english);
        if (key != 0) {
            const std::string suffix = std::string("(&") + key + ")";
            EXPECT_NE(japanese.find(suffix), std::string::npos) << number << " " << japanese;
        }
    }
}

TEST(StringTableTest, TextsThatTheProgramComparesOrSplitsAgreeInBothLanguages)
{
    for (const StringTable* table : {&StringTable::English(), &StringTable::Japanese()}) {
        // The button's caption is set from 5009 at load and compared with 5087.
        EXPECT_EQ(table->Text(5009), table->Text(5087));
        EXPECT_NE(table->Text(5087), table->Text(5118));
    }
    // The serial line settings take the parity letter from the shown text.
    for (int number = 2205; number <= 2209; ++number) {
        EXPECT_EQ(StringTable::Japanese().Text(number).front(),
                  StringTable::English().Text(number).front())
            << number;
    }
}

TEST(StringTableTest, LanguageFollowsTheFirstSetLocaleVariable)
{
    EXPECT_EQ(LanguageFor({}), Language::English);
    EXPECT_EQ(LanguageFor({{"LANG", "ja_JP.UTF-8"}}), Language::Japanese);
    EXPECT_EQ(LanguageFor({{"LANG", "ja"}}), Language::Japanese);
    EXPECT_EQ(LanguageFor({{"LANG", "C"}}), Language::English);
    EXPECT_EQ(LanguageFor({{"LANG", "POSIX"}}), Language::English);
    EXPECT_EQ(LanguageFor({{"LANG", "en_US.UTF-8"}}), Language::English);
    EXPECT_EQ(LanguageFor({{"LC_ALL", "C"}, {"LANG", "ja_JP.UTF-8"}}), Language::English);
    EXPECT_EQ(LanguageFor({{"LC_ALL", "ja_JP.UTF-8"}, {"LANG", "en_US.UTF-8"}}),
              Language::Japanese);
    EXPECT_EQ(LanguageFor({{"LC_ALL", ""}, {"LANG", "ja_JP.UTF-8"}}), Language::Japanese);
    EXPECT_EQ(LanguageFor({{"LC_MESSAGES", "ja_JP.eucJP"}, {"LANG", "C"}}), Language::Japanese);
    EXPECT_EQ(LanguageFor({{"LC_ALL", ""}, {"LC_MESSAGES", "C"}, {"LANG", "ja_JP.UTF-8"}}),
              Language::English);
    EXPECT_EQ(LanguageFor({{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", ""}}), Language::English);
    EXPECT_EQ(StringTable::LanguageFromEnvironment(nullptr), Language::English);
}

TEST(StringTableTest, ParseSkipsMalformedLinesAndDecodesEscapes)
{
    const StringTable table = StringTable::Parse(
        "# comment\n"
        "\n"
        "300\tlast\n"
        "12 no tab here\n"
        "abc\tnot a number\n"
        "-5\tnegative\n"
        "\tno number\n"
        "99999999999999999999\ttoo large\n"
        "#7\tcommented out\n"
        "100\tfirst\\nsecond\n"
        "101\tback\\\\slash \\\\n kept\r\n"
        "102\t\n"
        "200\tno final line break",
        Language::Japanese);
    EXPECT_EQ(table.Numbers(), (std::vector<int>{100, 101, 102, 200, 300}));
    EXPECT_EQ(table.Text(100), "first\nsecond");
    EXPECT_EQ(table.Text(101), "back\\slash \\n kept");
    EXPECT_EQ(table.Find(102), std::optional<std::string>(""));
    EXPECT_EQ(table.Text(200), "no final line break");
    EXPECT_EQ(table.Text(300), "last");
    EXPECT_EQ(table.language(), Language::Japanese);
}

TEST(StringTableTest, MissingNumbersGiveNoText)
{
    const StringTable table = StringTable::Parse("5\tfive\n", Language::English);
    EXPECT_EQ(table.Find(5), std::optional<std::string>("five"));
    EXPECT_EQ(table.Find(6), std::nullopt);
    EXPECT_EQ(table.Text(6), "");
    EXPECT_TRUE(StringTable::Parse("", Language::English).Numbers().empty());
    EXPECT_EQ(StringTable::English().Find(5040), std::nullopt);
}

}  // namespace
}  // namespace velkon
