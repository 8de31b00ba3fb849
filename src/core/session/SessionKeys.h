#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "session/SessionSettings.h"

namespace velkon {

// How a value read from the file becomes a field's value.
enum class KeyRule {
    Any,           // the number or the text as it stands
    ListIndex,     // -1 up to the list's size - 1; another value is skipped
    Check,         // 0 or 1; another value is skipped
    NonZeroIsOne,  // 0 stays 0, any other number is 1
    OneIsOn,       // 1 stays 1, any other number is 0
    Number,        // a text field kept as its leading whole number
};

// The dialogs of a session that edit a key (bits).
enum KeyEditor : unsigned {
    kNoEditor = 0,
    kServerOptionsEditor = 1,
    kClientOptionsEditor = 2,
    kLoginEditor = 4,
};

// One configuration key of a session section and the field it fills.
struct SessionKey {
    using Field = std::variant<int SessionSettings::*, std::int16_t SessionSettings::*,
                               std::string SessionSettings::*>;

    const char* name;
    Field field;
    // What a missing key reads as (a number for number fields).
    const char* readDefault;
    KeyRule rule = KeyRule::Any;
    int listSize = 0;  // for ListIndex
    unsigned editors = kNoEditor;
    // A value here makes the file private to its owner.
    bool secret = false;
};

// Every key of a session section, in the order a new file gets them.
std::span<const SessionKey> SessionKeys();

// The value its rule makes of a number read for a key; false when the rule
// refuses it.
bool KeyValue(const SessionKey& key, int read, int& value);
// True when a secret key holds a value.
bool HoldsSecret(const SessionSettings& settings);
// Copies the fields a dialog edits.
void CopyEditedKeys(unsigned editor, const SessionSettings& from, SessionSettings& to);

}  // namespace velkon
