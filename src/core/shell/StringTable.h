#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkon {

enum class Language { English, Japanese };

// The numbered interface texts of one language. Windows carry text numbers and
// messages are fetched by number, so the whole interface follows the language
// chosen here.
class StringTable {
public:
    // Reads "<number><TAB><text>" lines; empty lines and lines starting with '#'
    // are ignored, and in the text "\n" is a line break and "\\" a backslash.
    // Malformed lines are skipped, so a damaged file loses single entries only.
    static StringTable Parse(std::string_view fileText, Language language);

    // The tables built into the program, parsed on first use.
    static const StringTable& English();
    static const StringTable& Japanese();
    static const StringTable& For(Language language);

    // Japanese when the first of LC_ALL, LC_MESSAGES and LANG that is set and
    // non-empty starts with "ja"; English otherwise.
    static Language LanguageFromEnvironment(const std::function<const char*(const char*)>& getenv);

    std::optional<std::string> Find(int number) const;
    // Empty when the number is missing.
    std::string Text(int number) const;
    // Ascending.
    std::vector<int> Numbers() const;
    Language language() const;

private:
    explicit StringTable(Language language) : m_language(language) {}

    Language m_language;
    std::map<int, std::string> m_texts;
};

// Every text number the program uses; both built-in tables hold exactly these.
const std::vector<int>& NumbersInUse();

}  // namespace velkon
