// Renders every tab page of the real window to PNG files, connected in
// system mode to the simulated unit with data loaded on every page:
//   tab_screens DIR    writes DIR/tab-<n>-<page>.png
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fstream>

#include "ScriptedForm.h"
#include "SimProcess.h"
#include "tests/ui/QtSupport.h"
#include "ui/qt/Program.h"

namespace {

// A unit with more to show than the factory's: several mailboxes, list
// entries, menus with actions, and greeting replacements with long texts.
const char* const kState = R"(kvsim-state 1
param 501 3
param 502 1
param 503 2
param 511 12
param 110 1
list 201-210
list 220
list 230-239
list 301
mailbox 999 600
mailbox Бухгалтерия 1800
mailbox Иванов 300
mailbox Склад 7200
menu 0 0 N200 N201 N202 M1 - - - - G999 L999
menu 1 5 N2*15 M0 - - - - - - - -
menu 20 0 M0 M1 N200 N12345678901234 - - - - - -
file menu 0 menu0.pcm 48000 tone
file menu 1 menu1.pcm 96000 tone
file menu 20 day.pcm 40000 tone
file menu 21 night.pcm 32000 tone
file slot 60 msg60.pcm 16000 tone
file slot 61 msg61.pcm 24000 tone
file slot 65 please-hold-long-name.pcm 480000 tone
)";

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;
    QTemporaryDir temp;
    const std::string state = temp.filePath(QStringLiteral("unit.state")).toStdString();
    std::ofstream(state) << kState;

    int failed = 0;
    {
        kv::SimProcess sim({"--state", state, "--mail-memory", "18000"});
        kv::TMemorySettingsStore store;
        store.values[kv::DeviceKey(1)] = sim.Path();
        kv::TProgram program(store, "kv20rcfg");
        kv::TMainWindow& window = program.Window();
        window.show();
        kv::test::TModalAnswers answers;
        // The port dialog and the password dialog on the way.
        auto save = [&dir, &failed](QWidget* dialog, const char* name) {
            const QString path = dir.filePath(QStringLiteral("dialog-%1.png").arg(QString::fromLatin1(name)));
            if (!dialog->grab().save(path)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                ++failed;
            }
        };
        answers.Add([&save](QWidget* dialog) {
            save(dialog, "Ports");
            qobject_cast<QDialog*>(dialog)->reject();
        });
        window.findChild<QPushButton*>(QStringLiteral("btnPort"))->click();
        answers.Add([&save](QWidget* dialog) {
            QLineEdit* edit = dialog->findChild<QLineEdit*>();
            kv::test::Type(edit, QStringLiteral("7777"));
            save(dialog, "Password");
            QTest::keyClick(edit, Qt::Key_Return);
        });
        window.findChild<QPushButton*>(QStringLiteral("btnConnect"))->click();
        if (window.Form().Session().mode != 3) {
            std::fprintf(stderr, "not connected in system mode\n");
            return 1;
        }
        QTabWidget* pages = window.PageControl();
        const auto& tabs = kv::TForm1::TabPages();
        for (int i = 0; i < kv::kTabCount; ++i) {
            pages->setCurrentIndex(i);
            window.Form().Session().WaitIdle();
            QApplication::sendPostedEvents();
            const QString path = dir.filePath(QStringLiteral("tab-%1-%2.png").arg(i).arg(QString::fromLatin1(tabs[static_cast<size_t>(i)].name)));
            if (!window.grab().save(path)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                ++failed;
            }
            // Grids that scroll: their last rows too.
            bool scrolled = false;
            for (QTableView* grid : pages->currentWidget()->findChildren<QTableView*>()) {
                if (grid->verticalScrollBar()->maximum() > 0) {
                    grid->scrollToBottom();
                    scrolled = true;
                }
            }
            if (scrolled) {
                QApplication::sendPostedEvents();
                const QString end = path.chopped(4) + QStringLiteral("-end.png");
                if (!window.grab().save(end)) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(end));
                    ++failed;
                }
            }
        }
        if (answers.Unanswered() != 0) {
            std::fprintf(stderr, "%d unexpected dialogs: %s\n", answers.Unanswered(), qPrintable(answers.Shown().join(", ")));
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
