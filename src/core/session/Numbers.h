#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velkon {

// How numbers are read from texts: blanks, tabs and line feeds anywhere are
// ignored; the longest prefix that reads as a decimal number (sign, digits,
// fraction, exponent) is the value; no such prefix gives 0.
double LeadingNumber(std::string_view text);

// LeadingNumber made a whole number: nearest integer, ties to even, clamped
// to the 32-bit range.
std::int32_t LeadingWholeNumber(std::string_view text);

// Rounds to the nearest integer, ties to even, clamped to the 32-bit range.
std::int32_t RoundHalfEven(double value);

// Shortest decimal text of a number: whole numbers without a fraction.
std::string NumberText(double value);

}  // namespace velkon
