// Renders every dialog of the window over sample forms to PNG files:
//   dialog_screens DIR    writes DIR/dialog-<name>.png
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "tests/ui/SampleDialogs.h"
#include "ui/qt/QtTranslations.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kv::InstallQtTranslations(app);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;
    kv::test::TSampleDialogs samples;
    int failed = 0;
    for (auto& e : samples.dialogs) {
        e.dialog->show();
        const QString path = dir.filePath(QStringLiteral("dialog-%1.png").arg(QString::fromStdString(e.name)));
        if (!e.dialog->grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failed;
        }
        e.dialog->close();
    }
    return failed == 0 ? 0 : 1;
}
