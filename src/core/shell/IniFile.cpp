#include "shell/IniFile.h"

#include <cstdint>
#include <limits>
#include <utility>

namespace velkon {
namespace {

constexpr std::size_t kMaxTextBytes = 199;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// Names compare without regard to ASCII case only: other bytes are not letters to us.
std::string Fold(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

std::string OneLine(std::string_view text)
{
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return line;
}

// A value as it is written: one line, and in double quotes when the reader
// would otherwise take blanks off its ends or a pair of quotes from around it
// (a prompt "login: " must not come back as "login:").
std::string WrittenValue(std::string_view value)
{
    std::string line = OneLine(value);
    const bool enclosed = line.size() >= 2 && (line.front() == '"' || line.front() == '\'') &&
                          line.back() == line.front();
    if (enclosed || Trim(line).size() != line.size()) {
        line = '"' + line + '"';
    }
    return line;
}

// A name as it is matched and written: one line, no surrounding blanks.
std::string NormalizeName(std::string_view name)
{
    return std::string(Trim(OneLine(name)));
}

bool CanWriteSection(std::string_view name)
{
    return name.find(']') == std::string_view::npos;
}

bool CanWriteKey(std::string_view name)
{
    return !name.empty() && name.find('=') == std::string_view::npos && name[0] != ';' &&
           name[0] != '#' && name[0] != '[';
}

std::string_view ValueOf(std::string_view keyLine)
{
    return keyLine.substr(keyLine.find('=') + 1);
}

// Length of the first `limit` bytes of text, shortened so that a UTF-8 sequence cut by
// the limit is dropped whole instead of leaving a broken character at the end.
std::size_t Utf8Cut(std::string_view text, std::size_t limit)
{
    std::size_t lead = limit;
    std::size_t continuations = 0;
    while (lead > 0 && continuations < 3 &&
           (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) {
        --lead;
        ++continuations;
    }
    if (lead == 0) {
        return limit;
    }
    --lead;
    const auto byte = static_cast<unsigned char>(text[lead]);
    std::size_t length = 0;
    if (byte >= 0xC0 && byte < 0xE0) {
        length = 2;
    } else if (byte >= 0xE0 && byte < 0xF0) {
        length = 3;
    } else if (byte >= 0xF0 && byte < 0xF8) {
        length = 4;
    }
    return length > continuations + 1 ? lead : limit;
}

}  // namespace

IniFile IniFile::Parse(std::string content)
{
    IniFile file;
    bool endSeen = false;
    std::size_t pos = 0;
    while (pos < content.size()) {
        Line line;
        const std::size_t lf = content.find('\n', pos);
        if (lf == std::string::npos) {
            line.text.assign(content, pos, std::string::npos);
            pos = content.size();
        } else {
            std::size_t stop = lf;
            if (stop > pos && content[stop - 1] == '\r') {
                --stop;
                line.end = LineEnd::kCrLf;
            } else {
                line.end = LineEnd::kLf;
            }
            line.text.assign(content, pos, stop - pos);
            pos = lf + 1;
            if (!endSeen) {
                file.m_crlf = line.end == LineEnd::kCrLf;
                endSeen = true;
            }
        }
        file.AddLine(std::move(line));
    }
    return file;
}

void IniFile::AddLine(Line line)
{
    const std::string_view text = line.text;
    const std::size_t first = text.find_first_not_of(" \t");
    if (first != std::string_view::npos && text[first] == '[') {
        const std::size_t close = text.find(']', first + 1);
        const std::size_t count = close == std::string_view::npos ? close : close - first - 1;
        m_sectionIndex.try_emplace(Fold(Trim(text.substr(first + 1, count))), m_sections.size());
        Section section;
        section.header = std::move(line);
        m_sections.push_back(std::move(section));
        return;
    }
    if (m_sections.empty()) {
        m_prelude.push_back(std::move(line));
        return;
    }
    Section& section = m_sections.back();
    const bool blank = first == std::string_view::npos;
    if (!blank && text[first] != ';' && text[first] != '#') {
        const std::size_t eq = text.find('=');
        if (eq != std::string_view::npos) {
            const std::string_view name = Trim(text.substr(0, eq));
            if (!name.empty()) {
                section.keys.try_emplace(Fold(name), section.body.size());
            }
        }
    }
    section.body.push_back(std::move(line));
    if (!blank) {
        section.contentEnd = section.body.size();
    }
}

std::string IniFile::Serialize() const
{
    std::string out;
    const auto put = [&out](const Line& line) {
        out += line.text;
        if (line.end == LineEnd::kCrLf) {
            out += "\r\n";
        } else if (line.end == LineEnd::kLf) {
            out += '\n';
        }
    };
    for (const Line& line : m_prelude) {
        put(line);
    }
    for (const Section& section : m_sections) {
        put(section.header);
        for (const Line& line : section.body) {
            put(line);
        }
    }
    return out;
}

const IniFile::Section* IniFile::FindSection(std::string_view foldedName) const
{
    const auto it = m_sectionIndex.find(std::string(foldedName));
    return it == m_sectionIndex.end() ? nullptr : &m_sections[it->second];
}

const IniFile::Line* IniFile::FindKey(std::string_view section, std::string_view key) const
{
    const Section* found = FindSection(Fold(NormalizeName(section)));
    if (found == nullptr) {
        return nullptr;
    }
    const auto it = found->keys.find(Fold(NormalizeName(key)));
    return it == found->keys.end() ? nullptr : &found->body[it->second];
}

int IniFile::ReadInt(std::string_view section, std::string_view key, int def) const
{
    const Line* line = FindKey(section, key);
    if (line == nullptr) {
        return def;
    }
    const std::string_view value = ValueOf(line->text);
    std::size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) {
        ++i;
    }
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    // Past 2^31 the result is clamped anyway, so stop there instead of overflowing.
    constexpr std::int64_t kBeyond = std::int64_t{1} << 31;
    std::int64_t magnitude = 0;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9' && magnitude < kBeyond) {
        magnitude = magnitude * 10 + (value[i] - '0');
        ++i;
    }
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int>::max()) {
        return std::numeric_limits<int>::max();
    }
    if (signedValue < std::numeric_limits<int>::min()) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(signedValue);
}

std::string IniFile::ReadText(std::string_view section, std::string_view key,
                              std::string_view def) const
{
    const Line* line = FindKey(section, key);
    if (line == nullptr) {
        return std::string(def);
    }
    std::string_view value = Trim(ValueOf(line->text));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    if (value.size() > kMaxTextBytes) {
        value = value.substr(0, Utf8Cut(value, kMaxTextBytes));
    }
    return std::string(value);
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const
{
    return FindKey(section, key) != nullptr;
}

bool IniFile::AppendsAtFileEnd(const std::string& foldedSection) const
{
    const Section* section = FindSection(foldedSection);
    return section == nullptr ||
           (section == &m_sections.back() && section->contentEnd == section->body.size());
}

void IniFile::TerminateLastLine()
{
    Line* last = nullptr;
    if (!m_sections.empty()) {
        Section& section = m_sections.back();
        last = section.body.empty() ? &section.header : &section.body.back();
    } else if (!m_prelude.empty()) {
        last = &m_prelude.back();
    }
    if (last == nullptr || last->end != LineEnd::kNone) {
        return;
    }
    if (!m_crlf && !last->text.empty() && last->text.back() == '\r') {
        // The added LF turns the stray CR before it into a CRLF line end, which changes
        // the line (and may make it the file's first line end); reading the bytes again
        // keeps the in-memory file the same as the file written so far.
        *this = Parse(Serialize() + '\n');
        return;
    }
    last->end = NewLineEnd();
}

void IniFile::Write(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string sectionName = NormalizeName(section);
    const std::string keyName = NormalizeName(key);
    if (!CanWriteSection(sectionName) || !CanWriteKey(keyName)) {
        return;
    }
    const std::string foldedSection = Fold(sectionName);
    const std::string foldedKey = Fold(keyName);
    const std::string writtenValue = WrittenValue(value);

    if (FindKey(sectionName, keyName) == nullptr && AppendsAtFileEnd(foldedSection)) {
        TerminateLastLine();
    }

    const auto sectionIt = m_sectionIndex.find(foldedSection);
    if (sectionIt == m_sectionIndex.end()) {
        Section added;
        added.header = Line{"[" + sectionName + "]", NewLineEnd()};
        added.body.push_back(Line{keyName + "=" + writtenValue, NewLineEnd()});
        added.keys.emplace(foldedKey, 0);
        added.contentEnd = 1;
        m_sectionIndex.emplace(foldedSection, m_sections.size());
        m_sections.push_back(std::move(added));
        return;
    }

    Section& target = m_sections[sectionIt->second];
    const auto keyIt = target.keys.find(foldedKey);
    if (keyIt != target.keys.end()) {
        Line& line = target.body[keyIt->second];
        const std::string_view spelled = line.text;
        line.text = std::string(Trim(spelled.substr(0, spelled.find('=')))) + "=" + writtenValue;
        return;
    }

    // Only lines past contentEnd are blank, so no key index at or after it needs to move.
    const std::size_t at = target.contentEnd;
    target.body.insert(target.body.begin() + static_cast<std::ptrdiff_t>(at),
                       Line{keyName + "=" + writtenValue, NewLineEnd()});
    target.keys.emplace(foldedKey, at);
    target.contentEnd = at + 1;
}

}  // namespace velkon
