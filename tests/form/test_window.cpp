// The main window's state and actions against the simulated unit, with a
// scripted view: start-up, the modes' texts and controls, connecting and
// disconnecting, the busy state, the port choice and closing.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "FormFixture.h"
#include "ScriptedForm.h"
#include "SimProcess.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/session/Harness.h"
#include "ui/Unit1.h"

using namespace kv;
using namespace kvtest;

namespace {

const std::string kLogout = std::string(5, '\x18') + std::string(9, '\r');
using Strings = std::vector<std::string>;

struct Window : TFormFixture {
    void Start(std::vector<std::string> simArgs = {}, int port = 1)
    {
        sim = std::make_unique<SimProcess>(std::move(simArgs));
        store.values[DeviceKey(port)] = sim->Path();
        if (port != 1)
            store.values[kComPortKey] = std::to_string(port);
        StartWindow();
    }
    void StartWindow() { TFormFixture::StartWindow("/opt/kvmanage/bin/kv20rcfg"); }
    void Connect(const std::string& password)
    {
        dialogs.AnswerPassword(password);
        form->btnConnectClick();
    }
    // The buttons the seven tab pages of the window hold, and the mail
    // grid, which is disabled rather than detached; "Изменить" of the
    // greeting replacement (btnGreetOverride) stays enabled and is not here.
    static const Strings& PageControls()
    {
        static const Strings names{
            "btnAddNum",  "btnAddGroup",   "btnDelNum",        "btnDelGroup",        "btnOpCode",
            "btnOpNumDay", "btnOpNumNight", "btnFaxNum",        "btnAdmPwd",          "btnGreetUpload",
            "btnGreetDownload", "btnGreetDelete", "btnSetTime", "btnMenuUpload",      "btnMenuDownload",
            "btnMenuDelete", "btnMailCreate", "btnMailEdit",    "btnMailDelete",      "sgMail",
            "btnSysParams", "btnMessageUpload", "btnMessageDownload", "btnMessageDelete",
        };
        return names;
    }
    // The page controls the view did not see in that state.
    Strings NotInState(bool enabled)
    {
        Strings wrong;
        for (const std::string& name : PageControls())
            if (view.Enabled(name) != enabled)
                wrong.push_back(name);
        return wrong;
    }
};

TEST_F(Window, StartsDisconnectedReadyWithTheStoredPortAndEverythingLocked)
{
    store.values[kComPortKey] = "3";
    StartWindow();
    EXPECT_EQ(view.caption, "kv20rcfg v.1.5.0");
    EXPECT_EQ(view.applicationTitle, "kv20rcfg");
    EXPECT_EQ(form->BusyCount(), 0);
    EXPECT_TRUE(form->ClicksAttached());
    EXPECT_FALSE(view.busyLook);
    EXPECT_EQ(form->Panel(0).Text(), "Готово");
    EXPECT_EQ(form->Panel(1).Text(), "COM3");
    EXPECT_EQ(form->Panel(2).Text(), "Отключено");
    EXPECT_EQ(&form->Panel(3), &form->Catalogue().versionPanel);
    EXPECT_EQ(view.Enabled("btnConnect"), true);
    EXPECT_EQ(view.Enabled("btnPort"), true);
    EXPECT_EQ(view.Enabled("btnExport"), false);
    EXPECT_EQ(view.Enabled("btnDisconnect"), false);
    EXPECT_EQ(NotInState(false), Strings{});
    EXPECT_FALSE(form->Catalogue().cbHoliday.Enabled());
    for (const char* grid : {"sgTime", "sgGreetings", "sgMenu", "sgSysParams", "sgGreetOverride", "sgMessages"})
        EXPECT_FALSE(form->DoubleClickAttached(grid)) << grid;
    EXPECT_TRUE(form->DoubleClickAttached("sgMail"));  // the mail grid is disabled instead
    EXPECT_TRUE(form->CloseQuery());
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(Window, CaptionComesFromTheExecutablesName)
{
    EXPECT_EQ(CaptionFor("kv20rcfg"), "kv20rcfg v.1.5.0");
    EXPECT_EQ(CaptionFor("C:/Tools/KV20RCFG.EXE"), "KV20RCFG v.1.5.0");
    EXPECT_EQ(ProgramName("/usr/bin/kv20rcfg.bin"), "kv20rcfg");
}

TEST_F(Window, ConnectingShowsTheModeAndVersionAndUnlocksTheTabsWithOneReady)
{
    Start();
    // A tab that reads nothing in administrator mode, so that the only busy
    // section is the connection's own.
    view.currentTab = kTabSysParams;
    form->loaded.fill(true);
    Connect("1234");
    EXPECT_EQ(form->Session().mode, kModeAdmin);
    EXPECT_EQ(form->Panel(2).Text(), "Режим: Администратор");
    EXPECT_EQ(form->Panel(3).Text(), "Версия прошивки: 1.2.3");
    // The connect button's BeginBusy around the worker's own: one busy
    // section, ended once.
    EXPECT_EQ(busyTexts, (Strings{"Передача данных", "Готово"}));
    EXPECT_EQ(view.busyLooks, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(form->BusyCount(), 0);
    EXPECT_EQ(view.Enabled("btnConnect"), false);
    EXPECT_EQ(view.Enabled("btnPort"), false);
    EXPECT_EQ(view.Enabled("btnDisconnect"), true);
    EXPECT_EQ(view.Enabled("btnExport"), true);
    EXPECT_EQ(NotInState(true), Strings{});
    EXPECT_TRUE(form->Catalogue().cbHoliday.Enabled());
    EXPECT_TRUE(form->DoubleClickAttached("sgSysParams"));
    // The marks are cleared and the current tab is shown again.
    for (bool read : form->loaded)
        EXPECT_FALSE(read);
    EXPECT_EQ(view.selectedTabs, (std::vector<int>{-1, kTabSysParams}));
    EXPECT_TRUE(dialogs.Messages().empty());

    busyTexts.clear();
    form->btnDisconnectClick();
    form->Session().WaitIdle();
    EXPECT_EQ(form->Panel(2).Text(), "Отключено");
    EXPECT_EQ(busyTexts, (Strings{"Передача данных", "Готово"}));
    EXPECT_EQ(view.Enabled("btnConnect"), true);
    EXPECT_EQ(NotInState(false), Strings{});
    EXPECT_NE(sim->BytesFromTool().rfind(kLogout), std::string::npos);

    Connect("7777");
    EXPECT_EQ(form->Panel(2).Text(), "Режим: Системный");
}

TEST_F(Window, DuringAConnectionAttemptTheButtonsAreInertAndCloseIsRefused)
{
    Start();
    int checked = 0;
    dialogs.OnShow([&](const TScriptedDialogs::TShown& shown) {
        if (shown.kind != TScriptedDialogs::TKind::Password)
            return;
        ++checked;
        EXPECT_EQ(form->Panel(2).Text(), "Подключение к устройству...");
        EXPECT_EQ(form->Panel(0).Text(), "Передача данных");
        EXPECT_TRUE(view.busyLook);
        EXPECT_FALSE(form->ClicksAttached());
        EXPECT_EQ(view.Enabled("btnConnect"), true);  // enabled look, detached action
        form->btnPortClick();
        form->btnConnectClick();
        form->btnDisconnectClick();
        form->btnExportClick();
        // The trace's window is the one thing that opens while busy.
        form->btnTraceClick();
        EXPECT_EQ(view.traceShown, 1);
        EXPECT_FALSE(form->CloseQuery());
        form->RequestClose();
        EXPECT_EQ(view.closeRequests, 0);
    });
    bool exported = false;
    form->onExport = [&] { exported = true; };
    Connect("1234");
    EXPECT_EQ(checked, 1);
    EXPECT_EQ(view.portDialogs, 0);
    EXPECT_FALSE(exported);
    EXPECT_EQ(form->Session().mode, kModeAdmin);
    EXPECT_EQ(dialogs.Shown().size(), 1u);  // one password dialog, no second connection
    // The close asked for while busy happens once the window may close.
    EXPECT_EQ(view.closeRequests, 1);
    EXPECT_TRUE(form->CloseQuery());
}

TEST_F(Window, AFailedConnectionLeavesModeZeroAndTheButtonsUsable)
{
    Start();
    store.values[DeviceKey(2)] = "/nonexistent/kv-port";
    form->Devices().Load(store);
    form->Session().port = 2;
    Connect("1234");
    EXPECT_EQ(dialogs.Messages(), (Strings{"COM2: Не удалось открыть порт."}));
    EXPECT_EQ(form->Session().mode, kModeDisconnected);
    EXPECT_EQ(form->Panel(2).Text(), "Отключено");
    EXPECT_EQ(form->Panel(1).Text(), "COM2");
    EXPECT_EQ(view.Enabled("btnConnect"), true);
    EXPECT_EQ(view.Enabled("btnPort"), true);
    EXPECT_EQ(view.Enabled("btnDisconnect"), false);
    EXPECT_EQ(form->Panel(0).Text(), "Готово");
    EXPECT_TRUE(view.selectedTabs.empty());  // nothing is reloaded

    // The device is there again: the next connect works.
    form->Session().port = 1;
    Connect("1234");
    EXPECT_EQ(form->Session().mode, kModeAdmin);
}

TEST_F(Window, ThePortDialogStoresOnlyOnOkAndOnlyWhileDisconnected)
{
    Start();
    store.writes.clear();
    view.portAnswers.push_back([](TFormPorts& f) {
        EXPECT_EQ(f.Port(), 1);
        f.Select(2);
        f.SetDevice("/dev/ttyUSB7");
        return false;  // "Отмена"
    });
    form->btnPortClick();
    EXPECT_TRUE(store.writes.empty());
    EXPECT_EQ(form->Panel(1).Text(), "COM1");

    // Whoever shows the port device's presence is told after each choice,
    // with the new port's device in place.
    std::vector<std::string> shownDevices;
    const int ticket = form->modeShown.Subscribe([&] { shownDevices.push_back(form->PortDevice()); });
    view.portAnswers.push_back([](TFormPorts& f) {
        f.Select(2);
        return true;
    });
    form->btnPortClick();
    EXPECT_EQ(store.values[kComPortKey], "3");
    EXPECT_EQ(store.values[DeviceKey(3)], "/dev/ttyS2");
    EXPECT_EQ(form->Panel(1).Text(), "COM3");
    EXPECT_EQ(form->Session().port, 3);
    EXPECT_EQ(shownDevices, Strings{"/dev/ttyS2"});
    form->modeShown.Unsubscribe(ticket);

    view.portAnswers.push_back([](TFormPorts& f) {
        EXPECT_EQ(f.Port(), 3);
        f.Select(0);
        return true;
    });
    form->btnPortClick();
    EXPECT_EQ(form->Panel(1).Text(), "COM1");
    EXPECT_EQ(view.portDialogs, 3);
    Connect("1234");
    form->btnPortClick();
    EXPECT_EQ(view.portDialogs, 3);
}

TEST_F(Window, AMalformedAddressIsRefusedWithTheDialogAgainAndAGoodOneShowsInThePortPanel)
{
    Start();
    store.writes.clear();
    view.portAnswers.push_back([](TFormPorts& f) {
        f.Select(1);
        f.SetAddress("rfc2217://10.0.0.5");
        return true;
    });
    view.portAnswers.push_back([](TFormPorts& f) {
        EXPECT_EQ(f.Port(), 2) << "the dialog again, as the user left it";
        EXPECT_EQ(f.Device(), "rfc2217://10.0.0.5");
        f.SetAddress("rfc2217://10.0.0.5:4001");
        return true;
    });
    form->btnPortClick();
    EXPECT_EQ(view.portDialogs, 2);
    EXPECT_EQ(dialogs.Messages(), (Strings{"Неверный адрес сервера \"rfc2217://10.0.0.5\": не указан порт после "
                                          "двоеточия.\nПример: rfc2217://192.168.1.20:4001 или tcp://192.168.1.20:4001."}));
    EXPECT_EQ(store.values[DeviceKey(2)], "rfc2217://10.0.0.5:4001");
    EXPECT_EQ(form->Session().port, 2);
    EXPECT_EQ(form->Panel(1).Text(), "COM2 rfc2217://10.0.0.5:4001");
}

TEST_F(Window, AHandlerInsideANestedLoopHoldsTheCloseUntilItReturns)
{
    Start();
    {
        TForm1::THandlerScope inside(*form);
        EXPECT_FALSE(form->CloseQuery());
        form->RequestClose();
        EXPECT_EQ(view.closeRequests, 0);
    }
    EXPECT_EQ(view.closeRequests, 1);
    EXPECT_TRUE(form->CloseQuery());
    form->Close();
    EXPECT_TRUE(form->Closed());
    EXPECT_TRUE(form->CloseQuery());
}

TEST_F(Window, AStoredPortThatIsNoPortGivesCom1AndTheNextOkStoresAGoodOne)
{
    store.values[kComPortKey] = "COM3";
    StartWindow();
    EXPECT_EQ(form->Panel(1).Text(), "COM1");
    view.portAnswers.push_back([](TFormPorts&) { return true; });
    form->btnPortClick();
    EXPECT_EQ(store.values[kComPortKey], "1");
}

TEST_F(Window, ClosingWhileConnectedLogsOutBeforeThePortCloses)
{
    Start();
    Connect("1234");
    ASSERT_EQ(form->Session().mode, kModeAdmin);
    const size_t before = sim->BytesFromTool().size();
    ASSERT_TRUE(form->CloseQuery());
    form->Close();
    EXPECT_TRUE(form->Closed());
    EXPECT_FALSE(form->Comm().VaComm1.IsOpen());
    const std::string after = sim->BytesFromTool().substr(before);
    EXPECT_EQ(after, kLogout);
    // Nothing runs once closed.
    form->btnConnectClick();
    EXPECT_EQ(sim->BytesFromTool().size(), before + kLogout.size());
}

TEST_F(Window, ClosingWhileDisconnectedSendsNothing)
{
    Start();
    form->Close();
    EXPECT_EQ(sim->BytesFromTool(), "");
}

}  // namespace

namespace {

// "Подключиться" from the fleet's list: another unit's device on the
// current port, with the unit's password and no question unless refused.
TEST_F(Window, ConnectToADeviceWithItsPasswordLeavesTheUnitBeforeAndAsksOnlyWhenRefused)
{
    Start();
    SimProcess other;
    ASSERT_TRUE(form->ConnectTo(sim->Path(), "7777"));
    EXPECT_EQ(form->Session().mode, kModeSystem);
    EXPECT_TRUE(dialogs.Messages().empty());

    // Connected: the session ends on the unit before, the port opens the other.
    ASSERT_TRUE(form->ConnectTo(other.Path(), "1234"));
    EXPECT_EQ(form->Session().mode, kModeAdmin);
    EXPECT_EQ(form->PortDevice(), other.Path());
    EXPECT_EQ(store.values[DeviceKey(1)], other.Path());
    EXPECT_EQ(form->Panel(2).Text(), "Режим: Администратор");
    EXPECT_NE(sim->BytesFromTool().rfind(kLogout), std::string::npos);
    EXPECT_EQ(form->BusyCount(), 0);

    // A password the unit refuses: its warning, then the usual question.
    form->btnDisconnectClick();
    form->Session().WaitIdle();
    dialogs.AnswerPassword("7777");
    ASSERT_TRUE(form->ConnectTo(sim->Path(), "0000"));
    EXPECT_EQ(dialogs.Messages(), (Strings{"Неверный пароль! Повторите ввод."}));
    EXPECT_EQ(form->Session().mode, kModeSystem);
    EXPECT_EQ(form->PortDevice(), sim->Path());

    // Busy or without a device, nothing starts.
    form->BeginBusy();
    EXPECT_FALSE(form->ConnectTo(other.Path(), "1234"));
    form->EndBusy();
    EXPECT_FALSE(form->ConnectTo("", "1234"));
    EXPECT_EQ(form->PortDevice(), sim->Path());
}

// A view that fails while the window starts (a widget the toolkit could not
// make, say), once.
class TFailingView : public TScriptedForm1View {
public:
    void SetControlEnabled(const std::string& name, bool enabled) override
    {
        if (fail) {
            fail = false;
            throw std::runtime_error("no such widget: " + name);
        }
        TScriptedForm1View::SetControlEnabled(name, enabled);
    }
    bool fail = true;
};

// A start-up step that throws after the unit, and with it the port owner,
// was made: nothing of the window stays behind, no port owner is left for
// the jobs to reach, and a window started afterwards works.
TEST_F(Window, AStartUpThatThrowsLeavesNoPortOwnerAndAnotherWindowStarts)
{
    sim = std::make_unique<SimProcess>();
    store.values[DeviceKey(1)] = sim->Path();
    TFailingView failing;
    EXPECT_THROW(TForm1(failing, store, "kv20rcfg"), std::runtime_error);
    EXPECT_FALSE(FormCommExists());
    EXPECT_THROW(FormComm(), std::logic_error);

    StartWindow();
    EXPECT_TRUE(IsFormComm(form->Comm()));
    Connect("1234");
    EXPECT_EQ(form->Session().mode, kModeAdmin);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(Window, ASecondWindowInOneProcessIsRefused)
{
    Start();
    TScriptedForm1View other;
    try {
        TForm1 second(other, store, "kv20rcfg");
        FAIL() << "a second window was made";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), TUnit::kSecondUnit);
    }
    EXPECT_TRUE(IsFormComm(form->Comm()));
    Connect("1234");
    EXPECT_EQ(form->Session().mode, kModeAdmin);
}

}  // namespace
