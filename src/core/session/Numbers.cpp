#include "session/Numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace velkon {

namespace {

bool IsIgnored(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

double LeadingNumber(std::string_view text)
{
    std::string compact;
    compact.reserve(text.size());
    for (char c : text) {
        if (!IsIgnored(c))
            compact.push_back(c);
    }
    // Longest prefix of the form [sign] digits [. digits] [e [sign] digits].
    std::size_t i = 0;
    const std::size_t n = compact.size();
    if (i < n && (compact[i] == '+' || compact[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < n && IsDigit(compact[i])) {
        ++i;
        ++digits;
    }
    if (i < n && compact[i] == '.') {
        std::size_t j = i + 1;
        std::size_t fraction = 0;
        while (j < n && IsDigit(compact[j])) {
            ++j;
            ++fraction;
        }
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
        }
    }
    if (digits == 0)
        return 0.0;
    if (i < n && (compact[i] == 'e' || compact[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (compact[j] == '+' || compact[j] == '-'))
            ++j;
        std::size_t exponent = 0;
        while (j < n && IsDigit(compact[j])) {
            ++j;
            ++exponent;
        }
        if (exponent > 0)
            i = j;
    }
    const std::string number = compact.substr(0, i);
    const double value = std::strtod(number.c_str(), nullptr);
    return std::isfinite(value) ? value
                                : (value > 0 ? std::numeric_limits<double>::max()
                                             : std::numeric_limits<double>::lowest());
}

std::int32_t RoundHalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    const double rounded = std::nearbyint(value);  // default rounding mode: ties to even
    return static_cast<std::int32_t>(rounded);
}

std::int32_t LeadingWholeNumber(std::string_view text)
{
    return RoundHalfEven(LeadingNumber(text));
}

std::string NumberText(double value)
{
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<long long>(value));
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

}  // namespace velkon
