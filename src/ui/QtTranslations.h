#pragma once

#include <memory>
#include <string>

#include "shell/StringTable.h"

class QTranslator;

namespace velkon {

// Qt's own texts (standard buttons, file dialogs, the menus of text boxes) in
// the interface language. Installs and returns the translator; none for
// English, and none with error set when the translation cannot be loaded.
std::unique_ptr<QTranslator> InstallQtTranslations(Language language, std::string& error);

}  // namespace velkon
