#pragma once

#include <string>

#include "session/SessionSettings.h"

namespace velkon {

class IniFile;

// Reads a session section's keys into settings; a value a key's rule
// refuses leaves its field as it was.
void ReadSessionKeys(const IniFile& file, const std::string& section, SessionSettings& settings);
// Writes every session key, in the table's order.
void WriteSessionKeys(IniFile& file, const std::string& section, const SessionSettings& settings);

}  // namespace velkon
