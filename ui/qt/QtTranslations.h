// Qt's own texts (the file dialogs, the standard buttons, the context
// menus of text fields) in Russian, like the rest of the window, from the
// system's Qt translations where they are installed.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace kv {

// Loads Qt's Russian translations into the application. False when they
// are not installed (Qt's texts then stay English).
bool InstallQtTranslations(QCoreApplication& app);
// Where they are looked for.
QString QtTranslationsFolder();

}  // namespace kv
