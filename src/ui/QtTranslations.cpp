#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace velkon {

std::unique_ptr<QTranslator> InstallQtTranslations(Language language, std::string& error)
{
    error.clear();
    if (language != Language::Japanese)
        return nullptr;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_", folder)) {
        error = "no Qt translation qtbase_ja.qm in " + folder.toStdString() +
                " (Debian package qt6-translations-l10n); Qt's own dialogs stay in English";
        return nullptr;
    }
    QCoreApplication::installTranslator(translator.get());
    return translator;
}

}  // namespace velkon
