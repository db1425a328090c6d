#include "ui/qt/QtTranslations.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace kv {

QString QtTranslationsFolder()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool InstallQtTranslations(QCoreApplication& app)
{
    // The window is Russian whatever the system's language, so Qt's own
    // texts are too.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ru"), QtTranslationsFolder())) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace kv
