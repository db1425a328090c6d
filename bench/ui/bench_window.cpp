// bench_window: the real window, offscreen, against kvsim.
//
// 1. Time from the process's start to the window shown (its first paint).
// 2. "Подключиться" (login and the firmware version) with kvsim at --baud
//    19200, against the wire time of the bytes the unit sent. Goal < 1.1.
// 3. Processor time of the connected window left alone for 10 s. Goal
//    < 10 ms: nothing polls and no timer runs while nothing happens.
// 4. Resident memory of the connected window.
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <map>
#include <vector>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

#include "SimProcess.h"
#include "bench/BenchSupport.h"
#include "ui/qt/Program.h"
#include "ui/SettingsStore.h"

using namespace kv;

namespace {

// Milliseconds since the system booted, on the clock the process start is given in.
double bootMs()
{
    timespec t{};
    clock_gettime(CLOCK_BOOTTIME, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// The process's start, in ms since boot (resolution: one clock tick).
double processStartMs()
{
    std::ifstream in("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    // Fields from the state (3rd) on; the start time is the 22nd.
    for (int i = 3; i < 22; ++i)
        rest >> field;
    unsigned long long ticks = 0;
    rest >> ticks;
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

long rssKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Quits a loop at the window's first paint.
class TFirstPaint : public QObject {
public:
    explicit TFirstPaint(QEventLoop& loop) : loop_(loop) {}
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            loop_.quit();
        return false;
    }

private:
    QEventLoop& loop_;
};

// Types the password into the password dialog as soon as it is shown, and
// measures how long the dialog was open (the user's time, in real use).
class TTypePassword : public QObject {
public:
    double openMs = 0;

    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched->objectName() != QStringLiteral("FormPassword"))
            return false;
        if (e->type() == QEvent::Hide)
            openMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - shown_).count();
        if (e->type() != QEvent::Show)
            return false;
        shown_ = std::chrono::steady_clock::now();
        auto* dialog = static_cast<QDialog*>(watched);
        QMetaObject::invokeMethod(
            dialog,
            [dialog] {
                auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("edtPassword"));
                QTest::keyClicks(edit, QStringLiteral("1234"));
                QTest::keyClick(edit, Qt::Key_Return);
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    std::chrono::steady_clock::time_point shown_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    SimProcess sim({"--baud", "19200"});
    TMemorySettingsStore store;
    store.values[DeviceKey(1)] = sim.Path();
    int status = 0;
    {
        TProgram program(store, "kv20rcfg");
        TMainWindow& window = program.Window();
        {
            QEventLoop shown;
            TFirstPaint paint(shown);
            window.installEventFilter(&paint);
            window.show();
            QTimer::singleShot(20000, &shown, &QEventLoop::quit);
            shown.exec();
            window.removeEventFilter(&paint);
        }
        std::printf("process start to the window shown: %.0f ms (the start is known to one clock tick, %ld ms)\n",
                    bootMs() - processStartMs(), 1000 / sysconf(_SC_CLK_TCK));

        // The system parameters read nothing in administrator mode: the
        // connection is the login and the version.
        window.PageControl()->setCurrentIndex(kTabSysParams);
        TTypePassword answer;
        app.installEventFilter(&answer);
        constexpr int kConnects = 7;
        std::vector<double> ratios;
        std::vector<double> gaps;
        for (int i = 0; i < kConnects && status == 0; ++i) {
            if (i > 0) {
                window.Button("btnDisconnect")->click();
                window.Form().Session().WaitIdle();
            }
            answer.openMs = 0;
            const size_t recordsBefore = sim.Transcript().size();
            const auto t0 = std::chrono::steady_clock::now();
            window.Button("btnConnect")->click();
            const double connectMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (window.Form().Session().mode != kModeAdmin) {
                std::printf("connect failed\n");
                status = 1;
                break;
            }
            // The unit's bytes, and the tool's own time: from the end of each
            // of the unit's sends (paced at 19200) to the tool's next bytes.
            const auto records = sim.Transcript();
            size_t unitBytes = 0;
            double ownMs = 0;
            for (size_t r = recordsBefore; r < records.size(); ++r) {
                if (records[r].dir != TranscriptRecord::Dir::FromUnit)
                    continue;
                unitBytes += records[r].bytes.size();
                const double sentEnd = records[r].ms + kvbench::WireMs(records[r].bytes.size());
                if (r + 1 < records.size())
                    ownMs += std::max(0.0, records[r + 1].ms - sentEnd);
            }
            const double wireMs = kvbench::WireMs(unitBytes);
            const double toolMs = connectMs - answer.openMs;
            ratios.push_back(toolMs / wireMs);
            gaps.push_back(ownMs);
            std::printf("connect %d at 19200 baud: %.1f ms (the password dialog open %.1f ms of it); wire time of the "
                        "%zu bytes the unit sent %.1f ms; ratio %.3f; the tool's own gaps on the line %.1f ms, "
                        "before its first and after the unit's last byte %.1f ms\n",
                        i + 1, connectMs, answer.openMs, unitBytes, wireMs, toolMs / wireMs, ownMs,
                        toolMs - wireMs - ownMs);
        }
        app.removeEventFilter(&answer);
        if (status == 0) {
            std::vector<double> sorted = ratios;
            std::sort(sorted.begin(), sorted.end());
            std::printf("connect ratio over %d connects: median %.3f, best %.3f, worst %.3f (goal < 1.1)\n", kConnects,
                        sorted[sorted.size() / 2], sorted.front(), sorted.back());
            const double cpu0 = cpuMs();
            QEventLoop idle;
            QTimer::singleShot(10000, &idle, &QEventLoop::quit);
            idle.exec();
            std::printf("connected window left alone for 10 s: %.1f ms of processor time (goal < 10 ms)\n",
                        cpuMs() - cpu0);
            std::printf("resident memory of the connected window: %.1f MiB\n", rssKiB() / 1024.0);
        }
    }
    return status;
}
