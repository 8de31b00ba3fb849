#include "shell/SessionSection.h"

#include "session/Numbers.h"
#include "session/SessionKeys.h"
#include "shell/IniFile.h"

namespace velkon {

namespace {

using S = SessionSettings;

struct KeyReader {
    const IniFile& file;
    const std::string& section;
    const SessionKey& key;
    SessionSettings& settings;

    int ReadNumber() const { return file.ReadInt(section, key.name, std::stoi(key.readDefault)); }

    void operator()(int S::*field) const
    {
        int value = 0;
        if (KeyValue(key, ReadNumber(), value))
            settings.*field = value;
    }
    void operator()(std::int16_t S::*field) const
    {
        int value = 0;
        if (KeyValue(key, ReadNumber(), value))
            settings.*field = static_cast<std::int16_t>(value);
    }
    void operator()(std::string S::*field) const
    {
        if (key.rule == KeyRule::Number)
            settings.*field = std::to_string(ReadNumber());
        else
            settings.*field = file.ReadText(section, key.name, key.readDefault);
    }
};

struct KeyWriter {
    IniFile& file;
    const std::string& section;
    const SessionKey& key;
    const SessionSettings& settings;

    void operator()(int S::*field) const
    {
        file.Write(section, key.name, std::to_string(settings.*field));
    }
    void operator()(std::int16_t S::*field) const
    {
        file.Write(section, key.name, std::to_string(settings.*field));
    }
    void operator()(std::string S::*field) const
    {
        const std::string& text = settings.*field;
        file.Write(section, key.name,
                   key.rule == KeyRule::Number ? NumberText(LeadingNumber(text)) : text);
    }
};

}  // namespace

void ReadSessionKeys(const IniFile& file, const std::string& section, SessionSettings& settings)
{
    for (const SessionKey& key : SessionKeys())
        std::visit(KeyReader{file, section, key, settings}, key.field);
}

void WriteSessionKeys(IniFile& file, const std::string& section, const SessionSettings& settings)
{
    for (const SessionKey& key : SessionKeys())
        std::visit(KeyWriter{file, section, key, settings}, key.field);
}

}  // namespace velkon
