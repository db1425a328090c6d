// The trace window following the trace live, saving and clearing it; the
// device list following events through the event loop; Qt's own texts in
// Russian.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <thread>
#include <unistd.h>

#include "tests/ui/QtSupport.h"
#include "ui/qt/DeviceWatch.h"
#include "ui/qt/QtTranslations.h"
#include "ui/qt/TraceDialog.h"

namespace kv {
namespace {

QString Shown(const TTraceLog& log)
{
    QString text = QString::fromStdString(log.Text());
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

TEST(TraceWindow, FollowsTheTraceFromTheWorkerDropsWhatItDropsAndClears)
{
    TTraceLog log(3000);
    TTraceDialog window(log);
    window.show();
    QPlainTextEdit* view = window.View();
    EXPECT_EQ(window.windowTitle(), "Журнал обмена");
    EXPECT_FALSE(window.isModal());

    // Sends from another thread, as the worker makes them, with replies and
    // open prompts between them, in rounds the window catches up with: it
    // appends, replaces the open line and drops at the top what the trace
    // no longer keeps (far more than it keeps goes through).
    log.LineOpened("/dev/ttyUSB0");
    int n = 0;
    for (int round = 0; round < 40; ++round) {
        std::thread worker([&] {
            for (int i = 0; i < 8; ++i, ++n) {
                const std::string code = std::to_string(n) + "\r";
                log.LineSent(code, false);
                log.LineReceived(reinterpret_cast<const uint8_t*>(code.data()), code.size());
                const std::string reply = "=" + std::to_string(n * 7) + "\rPC SYS>";
                log.LineReceived(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
            }
        });
        worker.join();
        ASSERT_TRUE(test::WaitFor(view->document(), &QTextDocument::contentsChanged,
                            [&] { return view->toPlainText() == Shown(log); }))
            << "round " << round << ":\n" << view->toPlainText().toStdString() << "\n---\n" << Shown(log).toStdString();
    }
    EXPECT_FALSE(view->toPlainText().contains("открыт"));  // dropped long ago
    EXPECT_TRUE(view->toPlainText().endsWith("← PC SYS>"));
    EXPECT_TRUE(view->toPlainText().contains("← =2233\\r"));

    QTest::mouseClick(test::Child<QPushButton>(&window, "btnTraceClear"), Qt::LeftButton);
    EXPECT_TRUE(test::WaitFor(view->document(), &QTextDocument::contentsChanged, [&] { return view->toPlainText().isEmpty(); }));
    log.LineSent("GET\r", false);
    EXPECT_TRUE(test::WaitFor(view->document(), &QTextDocument::contentsChanged, [&] { return view->toPlainText() == Shown(log); }));
    EXPECT_TRUE(view->toPlainText().endsWith("→ GET\\r"));
}

TEST(TraceWindow, SavesTheTraceAsUtf8)
{
    TTraceLog log;
    TTraceDialog window(log);
    log.LineOpened("/dev/ttyS0");
    const std::string greeting = "\xCF\xF0\xE8\xE2\xE5\xF2\r";  // "Привет" in the unit's code page
    log.LineReceived(reinterpret_cast<const uint8_t*>(greeting.data()), greeting.size());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::TModalAnswers answers;
    answers.Add([&](QWidget* d) {
        auto* f = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->acceptMode(), QFileDialog::AcceptSave);
        QLineEdit* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text(), "kvmanage-trace.txt");
        name->setText(dir.filePath("trace"));
        QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::mouseClick(test::Child<QPushButton>(&window, "btnTraceSave"), Qt::LeftButton);
    EXPECT_EQ(answers.Unanswered(), 0);
    QFile saved(dir.filePath("trace.txt"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    EXPECT_EQ(bytes.toStdString(), log.Text());
    EXPECT_TRUE(QString::fromUtf8(bytes).contains("← Привет\\r\n"));

    // A folder that is not there: nothing written, false.
    EXPECT_FALSE(window.SaveTo(QFile::encodeName(dir.filePath("missing/trace.txt")).toStdString()));
}

TEST(DeviceWatch, AnArrivalReachesTheListThroughTheEventLoop)
{
    auto source = std::make_unique<test::TFedDeviceEvents>();
    test::TFedDeviceEvents* events = source.get();
    TSerialDeviceInfo adapter;
    adapter.node = "/dev/ttyUSB0";
    adapter.sysPath = "/sys/devices/usb1/ttyUSB0";
    adapter.bus = "usb";
    bool plugged = true;
    TQtDeviceWatch watch(std::move(source), TSerialDeviceList({}, [&](const TDeviceEvent&) -> std::optional<TSerialDeviceInfo> {
                             if (plugged)
                                 return adapter;
                             return std::nullopt;
                         }));
    ASSERT_TRUE(watch.Watching());
    int told = 0;
    QEventLoop loop;
    const int id = watch.Subscribe([&] {
        ++told;
        loop.quit();
    });
    events->Send({TDeviceAction::Added, adapter.sysPath, adapter.node});
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(watch.List().Present("/dev/ttyUSB0"));

    plugged = false;
    events->Send({TDeviceAction::Removed, adapter.sysPath, adapter.node});
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(told, 2);
    EXPECT_FALSE(watch.List().Present("/dev/ttyUSB0"));
    watch.Unsubscribe(id);
}

TEST(DeviceWatch, ThePanelShowsTheMappedDevicePresent)
{
    TSerialDeviceInfo adapter;
    adapter.node = "/dev/ttyUSB0";
    adapter.sysPath = "/sys/devices/usb1/ttyUSB0";
    adapter.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    adapter.bus = "usb";
    adapter.vendorId = "0403";
    adapter.productId = "6001";
    adapter.product = "FT232R USB UART";
    adapter.driver = "ftdi_sio";
    TSerialDeviceInfo uart;
    uart.node = "/dev/ttyS0";
    uart.uartType = 4;
    uart.driver = "serial";
    const TSerialDeviceList list({uart, adapter}, {});

    QLabel panel("COM1");
    ShowDevicePresence(panel, list, adapter.byId, true);
    EXPECT_EQ(panel.text(), "COM1");
    EXPECT_TRUE(panel.font().bold());
    EXPECT_EQ(panel.toolTip(), QString::fromStdString(adapter.byId) + " подключено: FT232R USB UART (0403:6001, ftdi_sio)");
    ShowDevicePresence(panel, list, "/dev/ttyUSB3", true);
    EXPECT_FALSE(panel.font().bold());
    EXPECT_EQ(panel.toolTip(), "/dev/ttyUSB3 не подключено");
    ShowDevicePresence(panel, list, adapter.byId, false);  // connected: the panel says nothing more
    EXPECT_FALSE(panel.font().bold());
    EXPECT_TRUE(panel.toolTip().isEmpty());
    EXPECT_EQ(panel.text(), "COM1");
}

TEST(QtTranslations, QtsOwnButtonsSpeakRussian)
{
    ASSERT_TRUE(QFile::exists(QtTranslationsFolder() + "/qtbase_ru.qm")) << "the system's Qt translations are missing";
    ASSERT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
    QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "Отмена");
    EXPECT_EQ(box.button(QDialogButtonBox::Save)->text(), "Сохранить");
}

}  // namespace
}  // namespace kv
