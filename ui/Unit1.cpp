#include "ui/Unit1.h"

#include <filesystem>

#include "ui/FormBackup.h"
#include "ui/ConnectionDoctor.h"
#include "ui/Export.h"
#include "ui/Screens.h"
#include "doctor/SerialDevices.h"

namespace kv {

const std::array<TControlName, kTabCount>& TForm1::TabPages()
{
    static const std::array<TControlName, kTabCount> pages{{
        {"tbsNumbers", "Номера"},
        {"tbsGreetings", "Приветствия"},
        {"tbsTime", "Время"},
        {"tbsMenu", "Меню"},
        {"tbsMail", "Почта"},
        {"tbsSysParams", "Системные параметры"},
        {"tbsMessages", "Замена сообщений"},
    }};
    return pages;
}

const std::array<TControlName, 4>& TForm1::Buttons()
{
    static const std::array<TControlName, 4> buttons{{
        {"btnExport", "Экспорт настроек в файл..."},
        {"btnPort", "Порт..."},
        {"btnConnect", "Подключиться"},
        {"btnDisconnect", "Отключиться"},
    }};
    return buttons;
}

const TControlName& TForm1::TraceButton()
{
    static const TControlName button{"btnTrace", "Журнал обмена..."};
    return button;
}

const std::array<int, 4>& TForm1::PanelWidths()
{
    static const std::array<int, 4> widths{100, 50, 200, 150};
    return widths;
}

const std::vector<TTabControl>& TForm1::TabControls()
{
    static const std::vector<TTabControl> controls{
        // "Время"
        {"btnSetTime", false},
        {"cbHoliday", false},
        {"sgTime", true},
        // "Номера"
        {"btnAddNum", false},
        {"btnAddGroup", false},
        {"btnDelNum", false},
        {"btnDelGroup", false},
        {"btnOpCode", false},
        {"btnOpNumDay", false},
        {"btnOpNumNight", false},
        {"btnFaxNum", false},
        {"btnAdmPwd", false},
        // "Приветствия"
        {"btnGreetUpload", false},
        {"btnGreetDownload", false},
        {"btnGreetDelete", false},
        {"btnGreetListen", false},
        {"btnGreetRecord", false},
        {"btnGreetSpeak", false},
        {"sgGreetings", true},
        // "Меню"
        {"btnMenuUpload", false},
        {"btnMenuDownload", false},
        {"btnMenuDelete", false},
        {"btnMenuListen", false},
        {"btnMenuRecord", false},
        {"btnMenuSpeak", false},
        {"sgMenu", true},
        // "Замена сообщений" (btnGreetOverride stays enabled)
        {"btnMessageUpload", false},
        {"btnMessageDownload", false},
        {"btnMessageDelete", false},
        {"btnMessageListen", false},
        {"btnMessageRecord", false},
        {"btnMessageSpeak", false},
        {"sgGreetOverride", true},
        {"sgMessages", true},
        // "Почта"
        {"sgMail", false},
        {"btnMailCreate", false},
        {"btnMailEdit", false},
        {"btnMailDelete", false},
        // "Системные параметры"
        {"btnSysParams", false},
        {"sgSysParams", true},
    };
    return controls;
}

std::string ProgramName(const std::string& executable)
{
    return std::filesystem::path(executable).stem().string();
}

std::string CaptionFor(const std::string& executable)
{
    return ProgramName(executable) + " v." + TForm1::kVersion;
}

// ---- start-up and end

TForm1::TForm1(TForm1View& view, TSettingsStore& store, const std::string& executable)
    : view_(view), store_(store), loaded(unit_.loaded)
{
    Server().beforeStart = [this] { BeginBusy(); };
    Server().afterFinish = [this] { EndBusy(); };
    unit_.executeTransfer = [this](TFormYMU& form) { view_.ExecuteTransfer(form); };

    view_.SetCaption(CaptionFor(executable));
    view_.SetApplicationTitle(ProgramName(executable));

    Session().onMode = [this](int mode) { ShowMode(mode); };
    unit_.SetPort(ReadComPort(store_));
    devices_.Load(store_);

    EndBusy();
    ShowMode(kModeDisconnected);

    // The catalogue's check box is born enabled; it follows the mode shown.
    setTabControls(tabControlsOn_);
    screens_ = std::make_unique<TScreens>(*this);
    onExport = [this] { ExportSettings(*this); };

    // Last, and nothing after them throws: they point at this window.
    devices_.Install();
    // A failed connection's message explained.
    InstallConnectionDoctor(Comm(), devices_, &Trace());
    installed_ = true;
}

TForm1::~TForm1()
{
    if (!Closed())
        Close();
    if (installed_) {
        TDeviceMap::Uninstall();
        UninstallConnectionDoctor();
    }
    screens_.reset();
}

bool TForm1::CloseQuery() const
{
    switch (closeState_) {
    case TCloseState::Open: return busyCount_ == 0 && handlerDepth_ == 0;
    case TCloseState::Closing: return false;
    case TCloseState::Closed: return true;
    }
    return false;
}

void TForm1::Close()
{
    if (Closed())
        return;
    closeState_ = TCloseState::Closing;
    closePending_ = false;
    unit_.Close();
    closeState_ = TCloseState::Closed;
}

void TForm1::RequestClose()
{
    if (Closed())
        return;
    closePending_ = true;
    closeWhenPending();
}

void TForm1::closeWhenPending()
{
    if (closePending_ && !Closed() && CloseQuery()) {
        closePending_ = false;
        view_.CloseWindow();
    }
}

TForm1::THandlerScope::THandlerScope(TForm1& form) : form_(form)
{
    ++form_.handlerDepth_;
    if (!form_.unit_.Closed()) {
        session_ = &form_.unit_.Session();
        session_->BeginAction();
    }
}

TForm1::THandlerScope::~THandlerScope()
{
    if (session_ && !form_.unit_.Closed())
        session_->EndAction();
    if (--form_.handlerDepth_ == 0)
        form_.closeWhenPending();
}

// ---- busy state

void TForm1::BeginBusy()
{
    if (++busyCount_ != 1)
        return;
    view_.SetBusyLook(true);
    clicksAttached_ = false;
    panelBusy.SetText(kBusyText);
}

void TForm1::EndBusy()
{
    if (busyCount_ == 0)
        return;  // unbalanced: the count never goes below 0
    if (--busyCount_ != 0)
        return;
    panelBusy.SetText(kReadyText);
    clicksAttached_ = true;
    view_.SetBusyLook(false);
    closeWhenPending();
}

// ---- connection state

void TForm1::ShowMode(int mode)
{
    // While disconnected the panel also names a server's address the port
    // opens, the one thing the port number does not say.
    panelPort.SetText(PortPanelText(unit_.Port(), PortDevice(), mode == kModeDisconnected));
    if (mode < kModeDisconnected || mode > kModeSystem)
        return;
    shownMode_ = mode;
    panelMode.SetText(ModeText(mode));
    ApplyControls();
    modeShown.Notify();
}

std::string TForm1::PortDevice() const
{
    return devices_.Device(unit_.Port());
}

void TForm1::ApplyControls()
{
    if (shownMode_ < 0)
        return;
    const bool connected = shownMode_ == kModeAdmin || shownMode_ == kModeSystem;
    view_.SetControlEnabled("btnConnect", shownMode_ == kModeDisconnected || shownMode_ == kModeConnecting);
    view_.SetControlEnabled("btnDisconnect", connected);
    view_.SetControlEnabled("btnPort", shownMode_ == kModeDisconnected);
    view_.SetControlEnabled("btnExport", connected);
    for (const auto& button : TFormBackup::Buttons())
        view_.SetControlEnabled(button.name, connected);
    setTabControls(connected);
}

void TForm1::setTabControls(bool on)
{
    tabControlsOn_ = on;
    for (const auto& control : TabControls()) {
        if (control.doubleClick) {
            if (on)
                detachedDoubleClicks_.erase(control.name);
            else
                detachedDoubleClicks_.insert(control.name);
        } else {
            setControl(control.name, on);
        }
    }
}

void TForm1::setControl(const std::string& name, bool enabled)
{
    // The holiday box's enabled state is the model's: its setting object
    // disables it while it shows a reply.
    if (name == Catalogue().cbHoliday.Name())
        Catalogue().cbHoliday.SetEnabled(enabled);
    else
        view_.SetControlEnabled(name, enabled);
}

bool TForm1::DoubleClickAttached(const std::string& grid) const
{
    return detachedDoubleClicks_.count(grid) == 0;
}

TStatusPanel& TForm1::Panel(int index)
{
    switch (index) {
    case 0: return panelBusy;
    case 1: return panelPort;
    case 2: return panelMode;
    default: return Catalogue().versionPanel;
    }
}

// ---- the bottom buttons

void TForm1::btnConnectClick()
{
    if (!clicksAttached_ || Closed())
        return;
    THandlerScope scope(*this);
    BeginBusy();
    // The password from the dialog, asked again after a refusal; the unit
    // clears the tabs' marks once connected.
    unit_.Connect();
    EndBusy();
    if (unit_.Mode() != kModeDisconnected)
        showCurrentTab();
}

bool TForm1::ConnectTo(const std::string& device, const std::string& password)
{
    if (!clicksAttached_ || Closed() || device.empty())
        return false;
    THandlerScope scope(*this);
    if (unit_.Mode() != kModeDisconnected) {
        BeginBusy();
        unit_.Disconnect();
        EndBusy();
    }
    devices_.Set(store_, unit_.Port(), device);
    ShowMode(unit_.Mode());
    BeginBusy();
    // Asked for through the dialog when empty or refused; the unit clears
    // the tabs' marks once connected.
    unit_.Connect(TPasswordSource{password, true});
    EndBusy();
    if (unit_.Mode() != kModeDisconnected)
        showCurrentTab();
    return true;
}

void TForm1::showCurrentTab()
{
    int tab = view_.CurrentTab();
    if (tab < 0 || tab >= kTabCount)
        tab = kTabNumbers;
    view_.SelectTab(-1);
    view_.SelectTab(tab);
    TabShown(tab);
}

void TForm1::btnDisconnectClick()
{
    if (!clicksAttached_ || Closed())
        return;
    THandlerScope scope(*this);
    BeginBusy();
    Session().Disconnect();
    EndBusy();
}

void TForm1::btnPortClick()
{
    if (!clicksAttached_ || Closed() || unit_.Mode() != kModeDisconnected)
        return;
    THandlerScope scope(*this);
    std::array<std::string, TFormPorts::kPorts> devices;
    for (int port = 1; port <= TFormPorts::kPorts; ++port)
        devices[static_cast<size_t>(port - 1)] = devices_.Device(port);
    TFormPorts form(unit_.Port(), devices, PortChoices(EnumerateSerialDevices()));
    // The dialog refuses a malformed address itself; a view that lets one
    // through has it refused here, and the dialog opens again with it.
    while (view_.ExecutePorts(form)) {
        std::string message;
        if (!form.Check(message)) {
            Dialogs().Message(TMessageKind::Warning, message);
            continue;
        }
        StorePortChoice(form, store_, devices_);
        unit_.SetPort(form.Port());
        break;
    }
    ShowMode(unit_.Mode());
}

void TForm1::btnTraceClick()
{
    if (!Closed())
        view_.ShowTrace();
}

void TForm1::btnExportClick()
{
    if (!clicksAttached_ || Closed())
        return;
    THandlerScope scope(*this);
    if (onExport)
        onExport();
}

void TForm1::TabShown(int index)
{
    if (Closed() || index < 0 || index >= kTabCount)
        return;
    THandlerScope scope(*this);
    screens_->TabShown(index);
}

}  // namespace kv
