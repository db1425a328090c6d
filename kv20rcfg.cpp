// kv20rcfg: the configuration tool's window.
#include <QApplication>

#include "ui/qt/Program.h"
#include "ui/qt/QtSettingsStore.h"
#include "ui/qt/QtTranslations.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kvmanage"));
    // The desktop entry the program is installed with: the desktop shows
    // its icon and name for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.kvmanage"));
    // Qt's own dialogs and buttons in Russian, where the system has them.
    kv::InstallQtTranslations(app);
    int status = 0;
    {
        kv::TQtSettingsStore store;
        kv::TProgram program(store, QCoreApplication::applicationFilePath().toStdString());
        program.Window().show();
        status = QApplication::exec();
    }
    return status;
}
