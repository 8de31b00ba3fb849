#pragma once

#include <string>

#include "components/Result.h"

namespace velkon {

// The folder for this user's run-time files (virtual port links, lock files):
// $VELKON_RUNTIME_DIR when set and not empty, else $XDG_RUNTIME_DIR/velkon when
// XDG_RUNTIME_DIR is set, else /tmp/velkon-<uid>.
std::string RuntimeDirectory();

// Sets path to RuntimeDirectory() and creates it (and missing parents) with mode
// 0700 when it is missing; an existing folder is used as it is.
Result EnsureRuntimeDirectory(std::string& path);

}  // namespace velkon
