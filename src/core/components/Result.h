#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velkon {

using Bytes = std::vector<std::uint8_t>;

// Outcome of a component call: success, or a failure with the component's
// error number (0 when it has none) and a readable description. Components
// never throw across the core boundary.
class Result {
public:
    static Result Ok() { return Result(); }
    static Result Fail(std::string description, int number = 0)
    {
        Result r;
        r.m_ok = false;
        r.m_number = number;
        r.m_description = std::move(description);
        return r;
    }

    bool ok() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    int number() const { return m_number; }
    const std::string& description() const { return m_description; }

private:
    bool m_ok = true;
    int m_number = 0;
    std::string m_description;
};

}  // namespace velkon
