// The window's own share of two jobs, through the real window offscreen and
// kvsim at 19200 baud:
//
// 1. The "Системные параметры" tab load (the version and 39 values), from
//    the tab's selection to its last value shown, against the wire time of
//    the bytes the unit sent (its echo of every byte and its replies; what
//    the tool sends overlaps with the echo). Goal under 1.1.
// 2. An upload of an 80 000-byte voice file through the open dialog and the
//    transfer dialog, from the click on "Загрузить" to the slot read back,
//    against the wire time of the bytes moved in both directions (the
//    protocol waits for each block's answer). Goal under 1.05. During the
//    upload the process's processor time as a share of the wall time; goal
//    under 3%. In an upload the tool receives only the unit's one-byte
//    answers, so how the line groups received bytes hardly matters here.
//
// The modal dialogs (password, open file) are answered by an event filter
// as they show; the transfer dialog runs as the user sees it.
#include <stdlib.h>
#include <sys/resource.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ScriptedForm.h"
#include "SimProcess.h"
#include "bench/BenchSupport.h"
#include "tests/support/TempDir.h"
#include "ui/qt/Program.h"

namespace {

using kvbench::kBaud;
using kvbench::WireMs;
constexpr size_t kFileSize = 80000;

double CpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

// Answers the password dialog and the open dialog as they are shown.
class TAnswers : public QObject {
public:
    explicit TAnswers(std::string file) : file_(std::move(file)) { qApp->installEventFilter(this); }
    ~TAnswers() override { qApp->removeEventFilter(this); }
    int unexpected = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show || !watched->isWidgetType())
            return false;
        auto* w = static_cast<QWidget*>(watched);
        if (!w->isWindow() || !w->isModal())
            return false;
        QMetaObject::invokeMethod(this, [this, dialog = QPointer<QWidget>(w)] { answer(dialog); }, Qt::QueuedConnection);
        return false;
    }

private:
    void answer(QWidget* dialog)
    {
        if (!dialog)
            return;
        if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
            files->selectFile(QString::fromStdString(file_));
            QMetaObject::invokeMethod(files, "accept");
        } else if (dialog->windowTitle() == QStringLiteral("Введите пароль")) {
            QLineEdit* edit = dialog->findChild<QLineEdit*>();
            QTest::keyClicks(edit, QStringLiteral("7777"));
            QTest::keyClick(edit, Qt::Key_Return);
        } else if (dialog->windowTitle() != QStringLiteral("Передача/прием файла")) {
            ++unexpected;
            std::printf("  unexpected dialog: %s\n", qPrintable(dialog->windowTitle()));
            if (auto* d = qobject_cast<QDialog*>(dialog))
                d->reject();
        }
    }
    std::string file_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const kvtest::TTempDir temp;
    const std::string& dir = temp.Path();
    const std::string source = dir + "/bench.pcm";
    kvbench::WriteRandomFile(source, kFileSize, 7);

    bool ok = true;
    {
        kv::SimProcess sim({"--baud", std::to_string(kBaud)});
        kv::TMemorySettingsStore store;
        store.values[kv::DeviceKey(1)] = sim.Path();
        kv::TProgram program(store, "kv20rcfg");
        kv::TMainWindow& window = program.Window();
        window.show();
        TAnswers answers(source);
        kv::TForm1& form = window.Form();
        QTabWidget* pages = window.PageControl();

        // Connected on the schedule, which loads its own values first.
        pages->setCurrentIndex(kv::kTabTime);
        window.findChild<QPushButton*>(QStringLiteral("btnConnect"))->click();
        if (form.Session().mode != kv::kModeSystem) {
            std::printf("not connected in system mode\n");
            return 1;
        }

        // 1. The system parameters.
        size_t before = sim.BytesFromUnit().size();
        uint64_t start = kv::TickMs();
        pages->setCurrentIndex(kv::kTabSysParams);
        form.Session().WaitIdle();
        double ms = static_cast<double>(kv::TickMs() - start);
        size_t unitBytes = sim.BytesFromUnit().size() - before;
        const double load = ms / WireMs(unitBytes);
        const bool loaded = form.loaded[kv::kTabSysParams] && form.Catalogue().sgSysParams.Cell(2, 39) != "";
        std::printf("\"Системные параметры\" load at %d baud: %.1f ms; wire time of the %zu bytes the unit sent %.1f ms; "
                    "ratio %.3f (goal < 1.1)%s\n",
                    kBaud, ms, unitBytes, WireMs(unitBytes), load, loaded ? "" : "  NOT LOADED");

        // 2. The upload, to the first service message.
        pages->setCurrentIndex(kv::kTabMessages);
        form.Session().WaitIdle();
        form.Catalogue().sgMessages.SetCurrent(1, 1);
        const size_t toolBefore = sim.BytesFromTool().size();
        before = sim.BytesFromUnit().size();
        const double cpu0 = CpuMs();
        start = kv::TickMs();
        window.findChild<QPushButton*>(QStringLiteral("btnMessageUpload"))->click();
        form.Session().WaitIdle();
        ms = static_cast<double>(kv::TickMs() - start);
        const double cpu = CpuMs() - cpu0;
        const size_t fromTool = sim.BytesFromTool().size() - toolBefore;
        unitBytes = sim.BytesFromUnit().size() - before;
        const double upload = ms / WireMs(fromTool + unitBytes);
        const bool shown = form.Catalogue().sgMessages.Cell(1, 1) == "bench.pcm" &&
                           form.Catalogue().sgMessages.Cell(3, 1) == std::to_string(kFileSize);
        std::printf("upload of %zu bytes through the transfer dialog: %.1f ms; wire time of the %zu bytes moved (%zu from "
                    "the tool, %zu from the unit) %.1f ms; ratio %.3f (goal < 1.05)%s\n",
                    kFileSize, ms, fromTool + unitBytes, fromTool, unitBytes, WireMs(fromTool + unitBytes), upload,
                    shown ? "" : "  SLOT NOT READ BACK");
        std::printf("processor time during the upload: %.1f ms of %.1f ms wall, %.2f%% (goal < 3%%)\n", cpu, ms,
                    100.0 * cpu / ms);
        ok = loaded && shown && answers.unexpected == 0 && load < 1.1 && upload < 1.05 && cpu / ms < 0.03;
    }
    return ok ? 0 : 1;
}
