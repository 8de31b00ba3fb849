#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velkon {

// The INI text of a configuration file (*.vkc) or of "ports.ini", held in memory.
//
// The file is kept as its lines, each with its own line end, so that everything the
// program does not touch (unknown sections and keys, comments, blank and odd lines,
// stray CR and NUL bytes) is written back byte for byte; files are edited by people and
// by older versions, and a save must not lose what they put there.
//
// Reading rules:
// - A line whose first non-blank character is '[' opens a section named by the text up to
//   the next ']' (or the end of the line), blanks trimmed. Lines before the first section
//   belong to none.
// - A line whose first non-blank character is ';' or '#' is a comment.
// - Any other line with '=' inside a section is a key: the trimmed text before the first
//   '=' is its name, the text after it its value. Keys with an empty name are ignored.
// - Names compare without regard to ASCII letter case; the first of repeated sections or
//   keys is the one that counts.
// - Lines end in LF or CRLF; a CR anywhere else is an ordinary byte of its line.
// "Blanks" are spaces and tabs.
//
// Names passed to the operations are matched after replacing CR and LF by blanks and
// trimming blanks, the same treatment a name gets when it is written.
//
// Writing: a value or name is always written as one line, with CR and LF replaced by
// blanks, because a line break would end the key's line and turn the rest into a line of
// its own that the next read takes as something else. A value with blanks at either end,
// or enclosed in a matching pair of quotation marks, is written inside double quotes so
// that ReadText gives it back as it was. A name that could not be read back
// as the same key or section (a key that is empty, contains '=' or starts with ';', '#'
// or '[', a section containing ']') is not written at all, for the same reason.
class IniFile {
public:
    // An empty (missing) file.
    IniFile() = default;

    // Any bytes at all; linear time; Serialize() of the result gives them back unchanged.
    static IniFile Parse(std::string content);

    // The file's bytes.
    std::string Serialize() const;

    // The value's leading decimal number (blanks before it skipped, optional sign),
    // clamped to the 32-bit range; 0 for a value without one; def for a missing key.
    int ReadInt(std::string_view section, std::string_view key, int def) const;

    // The value without leading and trailing blanks, without one pair of enclosing
    // matching quotation marks (' or "), and cut to at most 199 bytes without splitting a
    // UTF-8 sequence; def for a missing key.
    std::string ReadText(std::string_view section, std::string_view key,
                         std::string_view def) const;

    bool HasKey(std::string_view section, std::string_view key) const;

    // Replaces the value of an existing key in place (the line becomes the key as spelled
    // in the file, "=", value); else appends "key=value" after the section's last
    // non-blank line; else appends "[section]" and the key line at the end of the file.
    // New lines take the file's first line end (CRLF or LF; LF for a file without one),
    // and a last line without a line end gets one before anything is appended after it.
    void Write(std::string_view section, std::string_view key, std::string_view value);

private:
    enum class LineEnd : unsigned char { kNone, kLf, kCrLf };

    struct Line {
        std::string text;
        LineEnd end = LineEnd::kNone;
    };

    struct Section {
        Line header;
        std::vector<Line> body;
        // Folded key name -> index in body of its first line.
        std::unordered_map<std::string, std::size_t> keys;
        // Index in body just after the last non-blank line; new keys go there.
        std::size_t contentEnd = 0;
    };

    void AddLine(Line line);
    const Section* FindSection(std::string_view foldedName) const;
    const Line* FindKey(std::string_view section, std::string_view key) const;
    bool AppendsAtFileEnd(const std::string& foldedSection) const;
    void TerminateLastLine();
    LineEnd NewLineEnd() const { return m_crlf ? LineEnd::kCrLf : LineEnd::kLf; }

    std::vector<Line> m_prelude;  // lines before the first section
    std::vector<Section> m_sections;
    // Folded section name -> index in m_sections of its first occurrence.
    std::unordered_map<std::string, std::size_t> m_sectionIndex;
    bool m_crlf = false;  // the file's first line end is CRLF
};

}  // namespace velkon
