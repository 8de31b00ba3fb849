#pragma once

#include <string>

#include "components/Result.h"

namespace velkon {

// Whether a configuration file can be read: a missing file fails with
// ENOENT; a folder, device, pipe or socket, or one without read rights,
// fails with a text that says which.
Result CheckConfigurationFile(const std::string& path);

// Removes what interrupted saves of this file left beside it ("<path>.XXXXXX"
// temporary files of this user that no save holds any more). Returns how
// many were removed.
int RemoveSaveLeftovers(const std::string& path);

}  // namespace velkon
