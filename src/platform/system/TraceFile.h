#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "components/Result.h"

namespace velkon {

// One trace file on disk: appended to, created private (0600), and renamed
// to "<name>.1" (replacing the former one) when the next piece would make it
// larger than its limit. Only regular files are accepted, so a FIFO or a
// device named by mistake can neither block nor swallow the trace.
class TraceFile {
public:
    TraceFile(std::string path, std::int64_t maxBytes, bool wholeLines);
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    Result Open();
    // Writes all of text. With wholeLines a file ends only after a line
    // feed; a line longer than the limit goes into a file of its own.
    Result Write(std::string_view text);
    const std::string& path() const { return m_path; }

private:
    Result Rotate();
    Result WriteAll(std::string_view text);
    void Close();

    std::string m_path;
    std::int64_t m_maxBytes;
    bool m_wholeLines;
    int m_fd = -1;
    std::int64_t m_size = 0;
};

}  // namespace velkon
