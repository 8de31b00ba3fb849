#pragma once

#include <string>

#include "components/Result.h"

namespace velkon {

// The user's configuration base: $XDG_CONFIG_HOME when it is an absolute
// path, else ~/.config (the home from $HOME, else from the user database).
std::string ConfigHome();

// The folder of "default.vkc", "errorlog.txt" and "ports.ini": $VELKON_HOME
// when set; else, for an installed copy (the executable lies in a folder
// named "bin"), ConfigHome()/velkon; else the folder of the executable.
std::string ProgramFolderFor(const std::string& exePath);
std::string ProgramFolder();

// Creates the program folder with mode 0700 when it is missing and checks
// that the program can write there; the failure says which folder and why.
Result PrepareProgramFolder(const std::string& folder);
// The real path of the running program.
std::string ExecutablePath();

}  // namespace velkon
