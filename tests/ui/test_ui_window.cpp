// The real window against kvsim, offscreen: its frame, the port dialog on
// the user's settings file, connecting through the real password and
// message dialogs, the busy state, a unit that goes away, and closing (by the close box and by a
// signal) with the logout before the port closes.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "SimProcess.h"
#include "tests/ui/QtSupport.h"
#include "tests/ui/WindowTest.h"
#include "ui/qt/DeviceWatch.h"
#include "ui/qt/Program.h"
#include "ui/qt/QtSettingsStore.h"
#include "ui/Screens.h"
#include "ui/qt/TraceDialog.h"

using namespace kv;
using test::Child;
using test::TModalAnswers;
using test::UserSettings;

namespace {

const std::string kLogout = std::string(5, '\x18') + std::string(9, '\r');

// Runs the event loop until the widget has been hidden, at most ms.
bool WaitHidden(QWidget* w, int ms = 20000)
{
    if (!w->isVisible())
        return true;
    QEventLoop loop;
    struct Filter : QObject {
        QEventLoop* loop;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Hide)
                loop->quit();
            return false;
        }
    } filter;
    filter.loop = &loop;
    w->installEventFilter(&filter);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    w->removeEventFilter(&filter);
    return !w->isVisible();
}

// A click as the window system delivers it: to the widget's window, which
// a modal dialog blocks. (A click sent to the widget itself is never blocked.)
void SystemClick(QWidget* w)
{
    QWidget* top = w->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, w->mapTo(top, w->rect().center()));
}

using Window = test::TWindowTest;

TEST_F(Window, FrameHasThePagesButtonsAndPanelsInOrderAndKeepsItsSize)
{
    StartWindow();
    EXPECT_EQ(W().windowTitle(), QStringLiteral("kv20rcfg v.1.5.0"));
    QTabWidget* pages = W().PageControl();
    const QStringList captions{"Номера", "Приветствия", "Время", "Меню", "Почта", "Системные параметры",
                               "Замена сообщений"};
    const QStringList names{"tbsNumbers", "tbsGreetings", "tbsTime", "tbsMenu", "tbsMail", "tbsSysParams",
                            "tbsMessages"};
    ASSERT_EQ(pages->count(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(pages->tabText(i), captions[i]);
        EXPECT_EQ(pages->widget(i)->objectName(), names[i]);
        EXPECT_EQ(W().Page(i), pages->widget(i));
    }
    EXPECT_EQ(pages->currentIndex(), 0);
    // Every caption in full, none behind a scroll arrow.
    EXPECT_LE(pages->tabBar()->tabRect(6).right(), pages->tabBar()->width());
    EXPECT_FALSE(pages->tabBar()->usesScrollButtons());

    const char* order[] = {"btnExport", "btnPort", "btnConnect", "btnDisconnect"};
    const QStringList texts{"Экспорт настроек в файл...", "Порт...", "Подключиться", "Отключиться"};
    int x = -1;
    for (int i = 0; i < 4; ++i) {
        QPushButton* b = Button(order[i]);
        ASSERT_NE(b, nullptr) << order[i];
        EXPECT_EQ(b->text(), texts[i]);
        EXPECT_GT(b->x(), x);
        x = b->x();
        EXPECT_GE(b->width(), b->sizeHint().width()) << order[i];  // nothing clipped
        EXPECT_GT(b->y(), pages->geometry().bottom());
    }
    const int widths[] = {100, 50, 200, 150};
    for (int i = 0; i < 4; ++i)
        EXPECT_GE(W().Panel(i)->width(), widths[i]);

    EXPECT_EQ(W().minimumSize(), W().maximumSize());
    EXPECT_GE(W().width(), TMainWindow::kClientWidth);
    EXPECT_GE(W().height(), TMainWindow::kClientHeight);
    EXPECT_TRUE(W().windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(W().windowFlags() & Qt::WindowMaximizeButtonHint);

    // Start-up state.
    EXPECT_EQ(PanelText(0), QStringLiteral("Готово"));
    EXPECT_EQ(PanelText(1), QStringLiteral("COM1"));
    EXPECT_EQ(PanelText(2), QStringLiteral("Отключено"));
    EXPECT_FALSE(Button("btnExport")->isEnabled());
    EXPECT_FALSE(Button("btnDisconnect")->isEnabled());
    EXPECT_TRUE(Button("btnConnect")->isEnabled());
    EXPECT_TRUE(Button("btnPort")->isEnabled());
    EXPECT_TRUE(pages->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Window, EveryButtonOfEveryPageIsLockedUntilConnectedAndAgainAfter)
{
    Start();
    // The pages' own buttons, whatever they are called and however many.
    auto pageButtons = [this] {
        QList<QPushButton*> all;
        for (int i = 0; i < W().PageControl()->count(); ++i)
            all += W().Page(i)->findChildren<QPushButton*>();
        return all;
    };
    // The one exception: "Редактировать" above the greeting replacement
    // grid is not locked with the others.
    auto enabledNames = [&](bool enabled) {
        QStringList names;
        for (QPushButton* b : pageButtons())
            if (b->isEnabled() == enabled && b->objectName() != QStringLiteral("btnGreetOverride"))
                names << b->objectName();
        return names;
    };
    ASSERT_GE(pageButtons().size(), 30);
    EXPECT_EQ(enabledNames(true), QStringList()) << "disconnected";

    TypePassword("1234");
    Connect();
    ASSERT_EQ(PanelText(2), QStringLiteral("Режим: Администратор"));
    EXPECT_EQ(enabledNames(false), QStringList()) << "connected";

    QTest::mouseClick(Button("btnDisconnect"), Qt::LeftButton);
    W().Form().Session().WaitIdle();
    ASSERT_EQ(PanelText(2), QStringLiteral("Отключено"));
    EXPECT_EQ(enabledNames(true), QStringList()) << "disconnected again";
    auto* greetOverride = W().findChild<QPushButton*>(QStringLiteral("btnGreetOverride"));
    ASSERT_NE(greetOverride, nullptr);
    EXPECT_TRUE(greetOverride->isEnabled());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, ThePortDialogShowsAndStoresThePortAndItsDeviceOnlyOnOk)
{
    {
        QSettings s = UserSettings();
        s.setValue("Software/kv20rm/COMPort", "3");
        s.setValue("Software/kv20rm/Devices/COM1", "/dev/serial/by-id/usb-kv-adapter");
    }
    StartWindow();
    EXPECT_EQ(PanelText(1), QStringLiteral("COM3"));

    answers.Add([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Выберите COM-порт"));
        EXPECT_EQ(Child<QWidget>(d, "RadioGroup1")->property("title").toString(), QStringLiteral("Порт"));
        EXPECT_TRUE(Child<QRadioButton>(d, "rbCOM3")->isChecked());
        auto* device = Child<QComboBox>(d, "cbDevice");
        EXPECT_EQ(device->currentText(), QStringLiteral("/dev/ttyS2"));
        test::ClickRadio(Child<QRadioButton>(d, "rbCOM1"));
        EXPECT_EQ(device->currentText(), QStringLiteral("/dev/serial/by-id/usb-kv-adapter"));
        test::ClickButton(d, "btnCancel");
    });
    QTest::mouseClick(Button("btnPort"), Qt::LeftButton);
    EXPECT_EQ(PanelText(1), QStringLiteral("COM3"));
    EXPECT_EQ(UserSettings().value("Software/kv20rm/COMPort").toString(), QStringLiteral("3"));

    answers.Add([](QWidget* d) {
        test::ClickRadio(Child<QRadioButton>(d, "rbCOM2"));
        auto* device = Child<QComboBox>(d, "cbDevice");
        device->lineEdit()->selectAll();
        test::Type(device->lineEdit(), QStringLiteral("/dev/ttyUSB5"));
        test::ClickButton(d, "btnOK");
    });
    QTest::mouseClick(Button("btnPort"), Qt::LeftButton);
    EXPECT_EQ(answers.Shown().size(), 2);
    EXPECT_EQ(PanelText(1), QStringLiteral("COM2"));
    QSettings s = UserSettings();
    EXPECT_EQ(s.value("Software/kv20rm/COMPort").toString(), QStringLiteral("2"));
    EXPECT_EQ(s.value("Software/kv20rm/Devices/COM2").toString(), QStringLiteral("/dev/ttyUSB5"));
    EXPECT_EQ(s.value("Software/kv20rm/Devices/COM1").toString(), QStringLiteral("/dev/serial/by-id/usb-kv-adapter"));
}

TEST_F(Window, ConnectingIsBusyAndInertUntilTheOneReadyAndACloseWaitsForIt)
{
    Start();
    // A tab that reads nothing in administrator mode: the connection's is
    // the only busy section.
    W().PageControl()->setCurrentIndex(kTabSysParams);
    std::vector<std::string> busyTexts;
    TStatusPanel& busy = W().Form().panelBusy;
    busy.changed.Subscribe([&] { busyTexts.push_back(busy.Text()); });

    answers.Add([this](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Введите пароль"));
        auto* edit = Child<QLineEdit>(d, "edtPassword");
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_EQ(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), '*');
        EXPECT_TRUE(Child<QPushButton>(d, "btnOK")->isDefault());
        // The window while the attempt runs.
        EXPECT_EQ(PanelText(0), QStringLiteral("Передача данных"));
        EXPECT_EQ(PanelText(2), QStringLiteral("Подключение к устройству..."));
        EXPECT_FALSE(W().PageControl()->isEnabled());
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
        Button("btnPort")->click();
        Button("btnConnect")->click();
        EXPECT_EQ(answers.Shown().size(), 1);  // no port dialog, no second attempt
        W().close();
        EXPECT_TRUE(W().isVisible());  // refused while busy
        std::raise(SIGTERM);           // remembered until it may close
        test::Type(edit, QStringLiteral("1234"));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    Connect();
    EXPECT_EQ(PanelText(2), QStringLiteral("Режим: Администратор"));
    EXPECT_EQ(PanelText(3), QStringLiteral("Версия прошивки: 1.2.3"));
    EXPECT_EQ(busyTexts, (std::vector<std::string>{"Передача данных", "Готово"}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(W().PageControl()->isEnabled());
    EXPECT_FALSE(Button("btnConnect")->isEnabled());
    EXPECT_FALSE(Button("btnPort")->isEnabled());
    EXPECT_TRUE(Button("btnDisconnect")->isEnabled());
    EXPECT_TRUE(Button("btnExport")->isEnabled());

    // The signal closes the window now: the logout leaves before the port closes.
    const size_t before = sim->BytesFromTool().size();
    ASSERT_TRUE(WaitHidden(&W()));
    EXPECT_EQ(sim->BytesFromTool().substr(before), kLogout);
    EXPECT_FALSE(W().Form().Comm().VaComm1.IsOpen());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, AFailedConnectionShowsItsErrorAndLeavesModeZero)
{
    Start();
    {
        QSettings s = UserSettings();
        s.setValue("Software/kv20rm/Devices/COM1", "/nonexistent/kv-port");
    }
    program.reset();
    StartWindow();
    AcknowledgeMessage();
    Connect();
    EXPECT_EQ(messages, QStringList{"COM1: Не удалось открыть порт."});
    EXPECT_EQ(icons, std::vector<QMessageBox::Icon>{QMessageBox::Critical});
    // The message as it is; the doctor's findings behind its details button.
    ASSERT_EQ(details.size(), 1);
    EXPECT_TRUE(details[0].contains("/nonexistent/kv-port")) << details[0].toStdString();
    EXPECT_EQ(PanelText(2), QStringLiteral("Отключено"));
    EXPECT_EQ(PanelText(0), QStringLiteral("Готово"));
    EXPECT_TRUE(Button("btnConnect")->isEnabled());
    EXPECT_TRUE(Button("btnPort")->isEnabled());
    EXPECT_FALSE(Button("btnDisconnect")->isEnabled());
}

TEST_F(Window, ABusyUnitGivesATwoLineWarningAndTheSystemPasswordTheSystemMode)
{
    Start({"--busy=1"});
    TypePassword("7777");
    // A message shown from a job's step starts nothing else either.
    answers.Add([this](QWidget* d) {
        Button("btnConnect")->click();
        Button("btnPort")->click();
        QTabBar* tabs = W().PageControl()->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(kTabNumbers).center());
        EXPECT_EQ(W().PageControl()->currentIndex(), kTabSysParams);
        EXPECT_EQ(answers.Shown().size(), 2);
        auto* box = qobject_cast<QMessageBox*>(d);
        messages.push_back(box->text());
        icons.push_back(box->icon());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    TypePassword("7777");
    W().PageControl()->setCurrentIndex(kTabSysParams);
    Connect();
    EXPECT_EQ(messages, QStringList{"Устройство занято!\n Дождитесь освобождения всех линий и повторите ввод."});
    EXPECT_EQ(icons, std::vector<QMessageBox::Icon>{QMessageBox::Warning});
    EXPECT_EQ(PanelText(2), QStringLiteral("Режим: Системный"));

    // "Отключиться", then the close box: nothing more is sent.
    QTest::mouseClick(Button("btnDisconnect"), Qt::LeftButton);
    W().Form().Session().WaitIdle();
    EXPECT_EQ(PanelText(2), QStringLiteral("Отключено"));
    EXPECT_EQ(sim->BytesFromTool().substr(sim->BytesFromTool().size() - kLogout.size()), kLogout);
    const size_t before = sim->BytesFromTool().size();
    W().close();
    EXPECT_FALSE(W().isVisible());
    EXPECT_EQ(sim->BytesFromTool().size(), before);
}

TEST_F(Window, TheClockDialogOpensModalOverTheBusyWindow)
{
    Start();
    TypePassword("1234");
    W().PageControl()->setCurrentIndex(kTabSysParams);
    Connect();
    ASSERT_EQ(PanelText(2), QStringLiteral("Режим: Администратор"));
    answers.Add([this](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Установка времени"));
        EXPECT_EQ(d->parentWidget(), &W());
        EXPECT_FALSE(W().PageControl()->isEnabled());
        W().close();
        EXPECT_TRUE(W().isVisible());
        test::ClickButton(d, "btnCancel");
    });
    W().Form().Screens().Click("btnSetTime");
    EXPECT_EQ(answers.Shown(), (QStringList{"Введите пароль", "Установка времени"}));
    EXPECT_TRUE(W().PageControl()->isEnabled());
    EXPECT_EQ(PanelText(0), QStringLiteral("Готово"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, AUnitThatGoesAwayUnderTheClockDialogGivesOneMessageAndLeavesTheWindowUsable)
{
    Start();
    TypePassword("1234");
    W().PageControl()->setCurrentIndex(kTabTime);
    Connect();
    ASSERT_EQ(PanelText(2), QStringLiteral("Режим: Администратор"));
    QPointer<QWidget> clock;
    answers.Add([this, &clock](QWidget* d) {
        clock = d;
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Установка времени"));
        // The live display reads a few times, then the unit goes away.
        QTimer::singleShot(1200, d, [this] { ::kill(sim->Pid(), SIGKILL); });
    });
    AcknowledgeMessage();
    W().Form().Screens().Click("btnSetTime");
    // The click returns once the dialog has closed by itself.
    EXPECT_TRUE(clock.isNull() || !clock->isVisible());
    EXPECT_EQ(messages, QStringList{"COM1: Устройство отключено."});
    EXPECT_EQ(answers.Shown().size(), 3) << answers.Shown().join(", ").toStdString();
    EXPECT_EQ(answers.Unanswered(), 0);
    EXPECT_EQ(PanelText(2), QStringLiteral("Отключено"));
    EXPECT_EQ(PanelText(0), QStringLiteral("Готово"));
    EXPECT_TRUE(W().PageControl()->isEnabled());
    EXPECT_TRUE(Button("btnConnect")->isEnabled());
    EXPECT_FALSE(W().Form().Comm().VaComm1.IsOpen());
    EXPECT_EQ(W().Form().HandlerDepth(), 0);
    // A close is carried out at once.
    W().close();
    EXPECT_FALSE(W().isVisible());
}

TEST_F(Window, EscapeInThePasswordDialogLogsOut)
{
    Start();
    answers.Add([](QWidget* d) { QTest::keyClick(Child<QLineEdit>(d, "edtPassword"), Qt::Key_Escape); });
    Connect();
    EXPECT_EQ(PanelText(2), QStringLiteral("Отключено"));
    const std::string sent = sim->BytesFromTool();
    ASSERT_GE(sent.size(), kLogout.size());
    EXPECT_EQ(sent.substr(sent.size() - kLogout.size()), kLogout);
    EXPECT_FALSE(W().Form().Comm().VaComm1.IsOpen());
}

TEST_F(Window, AUnitThatGoesAwayGivesOneMessageAndConnectingWorksWhenItIsBack)
{
    // COM1 opens a stable link to whichever terminal the unit has, as a
    // by-id name does for a USB adapter plugged in again.
    const std::string link = test::g_config + "/unit-tty";
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link});
    {
        QSettings s = UserSettings();
        s.setValue("Software/kv20rm/Devices/COM1", QString::fromStdString(link));
    }
    StartWindow();
    TypePassword("1234");
    Connect();
    ASSERT_EQ(PanelText(2), QStringLiteral("Режим: Администратор"));

    // The unit goes away while the window is idle and connected: the wait
    // ends once the mode is shown as disconnected and the message answered,
    // in whichever order they come, and the busy state has ended.
    TStatusPanel& mode = W().Form().panelMode;
    QEventLoop loop;
    auto check = [&] {
        if (mode.Text() == "Отключено" && !messages.isEmpty() && W().Form().panelBusy.Text() == "Готово")
            loop.quit();
    };
    answers.Add([&](QWidget* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        ASSERT_NE(box, nullptr);
        messages.push_back(box->text());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        QTimer::singleShot(0, &loop, check);
    });
    const int ticket = mode.changed.Subscribe([&] { QTimer::singleShot(0, &loop, check); });
    const int ticket2 = W().Form().panelBusy.changed.Subscribe([&] { QTimer::singleShot(0, &loop, check); });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    ::kill(sim->Pid(), SIGKILL);
    loop.exec();
    mode.changed.Unsubscribe(ticket);
    W().Form().panelBusy.changed.Unsubscribe(ticket2);
    EXPECT_EQ(PanelText(2), QStringLiteral("Отключено"));
    EXPECT_EQ(PanelText(0), QStringLiteral("Готово"));
    EXPECT_EQ(messages, QStringList{"COM1: Устройство отключено."});
    EXPECT_FALSE(W().Form().Comm().VaComm1.IsOpen());
    EXPECT_TRUE(Button("btnConnect")->isEnabled());
    EXPECT_FALSE(Button("btnDisconnect")->isEnabled());

    // Back again: the same button connects.
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link});
    TypePassword("1234");
    Connect();
    EXPECT_EQ(PanelText(2), QStringLiteral("Режим: Администратор"));
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(answers.Unanswered(), 0);
}

TEST_F(Window, AnExceptionOfAnotherThreadIsShownInAnErrorBox)
{
    StartWindow();
    AcknowledgeMessage();
    std::atomic<bool> done{false};
    std::thread port([&] {
        try {
            throw std::runtime_error("Output buffer is full. Please check comm status.");
        } catch (...) {
            HandleApplicationException(std::current_exception());
        }
        done = true;
    });
    const uint64_t until = TickMs() + 20000;
    while (!done && TickMs() < until)
        program->Bridge().ProcessEvents(100);
    port.join();
    EXPECT_EQ(messages, QStringList{"Output buffer is full. Please check comm status."});
    EXPECT_EQ(icons, std::vector<QMessageBox::Icon>{QMessageBox::Critical});
}

// An adapter the test plugs in and out: the device database's record of it,
// and a watch over events the test sends.
struct Adapter {
    TSerialDeviceInfo info;
    bool plugged = false;
    test::TFedDeviceEvents* events = nullptr;

    Adapter()
    {
        info.node = "/dev/ttyUSB0";
        info.sysPath = "/sys/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0";
        info.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
        info.bus = "usb";
        info.vendorId = "0403";
        info.productId = "6001";
        info.product = "FT232R USB UART";
        info.driver = "ftdi_sio";
    }
    std::unique_ptr<TQtDeviceWatch> Watch()
    {
        auto source = std::make_unique<test::TFedDeviceEvents>();
        events = source.get();
        return std::make_unique<TQtDeviceWatch>(
            std::move(source), TSerialDeviceList({}, [this](const TDeviceEvent&) -> std::optional<TSerialDeviceInfo> {
                if (plugged)
                    return info;
                return std::nullopt;
            }));
    }
    void Plug(bool in)
    {
        plugged = in;
        events->Send({in ? TDeviceAction::Added : TDeviceAction::Removed, info.sysPath, info.node});
    }
};

// Runs the event loop until the watch has told its subscribers once.
bool WaitForDevices(TQtDeviceWatch& watch)
{
    QEventLoop loop;
    bool told = false;
    const int id = watch.Subscribe([&] {
        told = true;
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    watch.Unsubscribe(id);
    return told;
}

TEST_F(Window, ThePortDialogsListFollowsArrivalsAndDeparturesAndKeepsAnAdapterByItsLink)
{
    StartWindow();
    Adapter adapter;
    W().SetDeviceWatch(adapter.Watch());
    const QString link = QString::fromStdString(adapter.info.byId);
    answers.Add([&](QWidget* d) {
        auto* device = Child<QComboBox>(d, "cbDevice");
        EXPECT_EQ(device->count(), 0);
        EXPECT_EQ(device->currentText(), QStringLiteral("/dev/ttyS0"));
        adapter.Plug(true);
        ASSERT_TRUE(test::WaitFor(device->model(), &QAbstractItemModel::rowsInserted, [&] { return device->count() == 1; }));
        EXPECT_EQ(device->itemData(0).toString(), link);
        EXPECT_EQ(device->itemText(0), link + " (/dev/ttyUSB0)");
        EXPECT_EQ(device->currentText(), QStringLiteral("/dev/ttyS0"));  // the field is the user's

        // Picked from the list: the link, not the node, is what COM1 opens.
        device->showPopup();
        QAbstractItemView* list = device->view();
        QTest::keyClick(list, Qt::Key_Home);
        QTest::keyClick(list, Qt::Key_Return);
        EXPECT_EQ(device->currentText(), link);

        adapter.Plug(false);
        ASSERT_TRUE(test::WaitFor(device->model(), &QAbstractItemModel::rowsRemoved, [&] { return device->count() == 0; }));
        EXPECT_EQ(device->currentText(), link);
        test::ClickButton(d, "btnOK");
    });
    QTest::mouseClick(Button("btnPort"), Qt::LeftButton);
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_EQ(UserSettings().value("Software/kv20rm/Devices/COM1").toString(), link);
}

TEST_F(Window, ThePortPanelShowsTheMappedAdapterPresentWhileDisconnected)
{
    Adapter adapter;
    {
        QSettings s = UserSettings();
        s.setValue("Software/kv20rm/Devices/COM1", QString::fromStdString(adapter.info.byId));
    }
    StartWindow();
    W().SetDeviceWatch(adapter.Watch());
    QLabel* panel = W().Panel(1);
    const QString link = QString::fromStdString(adapter.info.byId);
    EXPECT_FALSE(panel->font().bold());
    EXPECT_EQ(panel->toolTip(), link + " не подключено");

    adapter.Plug(true);
    ASSERT_TRUE(WaitForDevices(W().DeviceWatch()));
    EXPECT_TRUE(panel->font().bold());
    EXPECT_EQ(panel->toolTip(), link + " подключено: FT232R USB UART (0403:6001, ftdi_sio)");
    EXPECT_EQ(panel->text(), QStringLiteral("COM1"));

    adapter.Plug(false);
    ASSERT_TRUE(WaitForDevices(W().DeviceWatch()));
    EXPECT_FALSE(panel->font().bold());
    EXPECT_EQ(panel->toolTip(), link + " не подключено");
}

TEST_F(Window, TheTraceWindowOpensAndWorksWhileTheWindowIsBusy)
{
    Start({"--no-echo"});
    QPushButton* open = Button("btnTrace");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->text(), QStringLiteral("Журнал обмена..."));
    EXPECT_GT(open->x(), Button("btnDisconnect")->x());  // after the four
    EXPECT_EQ(open->y(), Button("btnDisconnect")->y());

    // Once the attempt is under way (a unit that never echoes keeps it
    // going until its time-out), the user opens the trace.
    bool opened = false;
    TStatusPanel& busy = W().Form().panelBusy;
    const int ticket = busy.changed.Subscribe([&] {
        if (opened)
            return;
        opened = true;
        QTimer::singleShot(0, &W(), [&] {
            EXPECT_FALSE(W().PageControl()->isEnabled());
            EXPECT_TRUE(open->isEnabled());
            QTest::mouseClick(open, Qt::LeftButton);
            TTraceDialog* trace = W().TraceWindow();
            ASSERT_NE(trace, nullptr);
            EXPECT_TRUE(trace->isVisible());
            EXPECT_EQ(trace->windowTitle(), QStringLiteral("Журнал обмена"));
            EXPECT_FALSE(trace->isModal());
            QTextDocument* text = trace->View()->document();
            EXPECT_TRUE(test::WaitFor(text, &QTextDocument::contentsChanged,
                                      [&] { return trace->View()->toPlainText().contains(QStringLiteral("→")); }))
                << trace->View()->toPlainText().toStdString();
            // The attempt goes on recording while the trace is cleared: what
            // was shown before goes, later lines may come.
            const QString first = trace->View()->toPlainText().section(QLatin1Char('\n'), 0, 0);
            ASSERT_FALSE(first.isEmpty());
            QTest::mouseClick(Child<QPushButton>(trace, "btnTraceClear"), Qt::LeftButton);
            EXPECT_TRUE(test::WaitFor(text, &QTextDocument::contentsChanged,
                                      [&] { return !trace->View()->toPlainText().contains(first); }))
                << trace->View()->toPlainText().toStdString();
            EXPECT_NE(W().Form().panelBusy.Text(), "Готово");  // still busy
        });
    });
    AcknowledgeMessage();
    Connect();
    busy.changed.Unsubscribe(ticket);
    ASSERT_TRUE(opened);
    EXPECT_EQ(messages, QStringList{"COM1: Устройство не обнаружено."});
    ASSERT_EQ(details.size(), 1);
    EXPECT_FALSE(details[0].isEmpty());
    // The trace window stays; clicking again brings the same one.
    TTraceDialog* trace = W().TraceWindow();
    ASSERT_NE(trace, nullptr);
    QTest::mouseClick(open, Qt::LeftButton);
    EXPECT_EQ(W().TraceWindow(), trace);
    EXPECT_TRUE(trace->isVisible());
    W().close();
    EXPECT_FALSE(trace->isVisible());
}

TEST_F(Window, TheTraceWindowStaysUsableWhileAMessageIsModalToTheWindow)
{
    Start({"--no-echo"});
    QPushButton* open = Button("btnTrace");
    bool opened = false;
    TStatusPanel& busy = W().Form().panelBusy;
    const int ticket = busy.changed.Subscribe([&] {
        if (opened)
            return;
        opened = true;
        QTimer::singleShot(0, &W(), [&] { QTest::mouseClick(open, Qt::LeftButton); });
    });
    // The failed attempt's message comes while the trace is on the screen.
    bool cleared = false;
    bool reopened = true;
    answers.Add([&](QWidget* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        TTraceDialog* trace = W().TraceWindow();
        if (box && trace) {
            messages.push_back(box->text());
            EXPECT_EQ(box->parentWidget(), &W());
            EXPECT_EQ(box->windowModality(), Qt::WindowModal);
            EXPECT_EQ(QApplication::activeModalWidget(), box);
            EXPECT_TRUE(trace->isVisible());
            const QString first = trace->View()->toPlainText().section(QLatin1Char('\n'), 0, 0);
            EXPECT_FALSE(first.isEmpty());
            SystemClick(Child<QPushButton>(trace, "btnTraceClear"));
            cleared = test::WaitFor(trace->View()->document(), &QTextDocument::contentsChanged,
                                    [&] { return !trace->View()->toPlainText().contains(first); }, 2000);
            // The main window itself takes no click while its message is open.
            trace->close();
            SystemClick(open);
            reopened = trace->isVisible();
        }
        if (box)
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        else if (auto* dialog = qobject_cast<QDialog*>(d))
            dialog->reject();
    });
    Connect();
    busy.changed.Unsubscribe(ticket);
    ASSERT_TRUE(opened);
    EXPECT_EQ(messages, QStringList{"COM1: Устройство не обнаружено."});
    EXPECT_TRUE(cleared);
    EXPECT_FALSE(reopened);
    EXPECT_EQ(PanelText(0), QStringLiteral("Готово"));
    // Once the message is answered the window takes clicks again.
    SystemClick(open);
    EXPECT_TRUE(W().TraceWindow()->isVisible());
}

}  // namespace
