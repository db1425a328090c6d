// kv20rcfg: the configuration tool's window.
#include <QApplication>

#include "ui/Program.h"
#include "ui/QtSettingsStore.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kvmanage"));
    int status = 0;
    {
        kv::TQtSettingsStore store;
        kv::TProgram program(store, QCoreApplication::applicationFilePath().toStdString());
        program.Window().show();
        status = QApplication::exec();
    }
    return status;
}
