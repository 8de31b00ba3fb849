#pragma once

#include <string>

#include "components/Services.h"

namespace velkon {

// Files as the core needs them. Read takes regular files only and never
// blocks on a pipe or device. Replace writes the file a symbolic link points
// to (the link stays), never leaves a file writable by group or others, and
// makes it 0600 when it holds a secret.
class PosixFileStore : public FileStore {
public:
    bool Append(const std::string& path, const std::string& text) override;
    bool Read(const std::string& path, std::string& content) override;
    bool Replace(const std::string& path, const std::string& content, bool privateFile) override;
    bool MakePrivate(const std::string& path) override;
};

}  // namespace velkon
