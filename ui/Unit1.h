// The main window's state and actions: TForm1.
//
// TForm1 holds the program's unit object (unit/Unit.h: the worker, the
// session, the catalogue of setting objects, the port owner and the trace)
// and adds the window's rules: the start-up order, the nesting busy state,
// the status texts and controls of each session mode, the four bottom
// buttons, the port dialog and the close rules.
// It reaches widgets only through TForm1View (ui/Form1View.h), so the same
// rules run in the Qt window and, headless, in tests.
//
// Everything here runs on the UI thread. Every handler that may wait for the
// worker (and so run a nested event loop) holds a THandlerScope while it
// runs; the window does not close while one is on the stack.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/Version.h"
#include "settings/View.h"
#include "ui/Form1View.h"
#include "ui/Ports.h"
#include "unit/Unit.h"

namespace kv {

class TScreens;

// A control of the main window: its name and caption.
struct TControlName {
    const char* name;
    const char* caption;
};

// A control of a tab page that follows the connection state: enabled in
// modes 2 and 3 and disabled in modes 0 and 1, or, for a grid whose
// double-click starts an action, that action attached or detached.
struct TTabControl {
    const char* name;
    bool doubleClick;
};

class TForm1 {
    // First, so that everything below may use them; the unit goes last.
    TForm1View& view_;
    TSettingsStore& store_;
    TDeviceMap devices_;
    TUnit unit_;

public:
    static constexpr const char* kApplicationTitle = "Kvmanage";
    static constexpr const char* kVersion = KV_VERSION;
    static constexpr const char* kBusyText = "Передача данных";
    static constexpr const char* kReadyText = "Готово";

    // The seven tab pages ("tbsNumbers", "Номера", ...), in order.
    static const std::array<TControlName, kTabCount>& TabPages();
    // The bottom buttons, left to right: export, port, connect, disconnect.
    static const std::array<TControlName, 4>& Buttons();
    // The fifth, after them: "Журнал обмена...".
    static const TControlName& TraceButton();
    // The status bar's panel widths.
    static const std::array<int, 4>& PanelWidths();
    // The one list of tab controls that ShowMode switches.
    static const std::vector<TTabControl>& TabControls();

    // Start-up: the unit (the port owner, the worker suspended, the
    // session, the catalogue with its version object; the worker's jobs
    // inside BeginBusy and EndBusy), the caption from the executable's
    // name, the stored COM port, EndBusy, ShowMode(0), the device map and
    // the connection doctor. A step that throws leaves nothing behind: the
    // unit goes with it (and with it the port owner), so another window
    // can start. Throws std::logic_error while another unit exists.
    TForm1(TForm1View& view, TSettingsStore& store, const std::string& executable);
    // Closes first when Close() has not run.
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // ---- busy state
    void BeginBusy();
    void EndBusy();
    int BusyCount() const { return busyCount_; }
    // Whether the bottom buttons' click actions are attached (not busy).
    bool ClicksAttached() const { return clicksAttached_; }

    // ---- connection state
    // The session's onMode: panel 1 shows the port; panel 2, the bottom
    // buttons and the tab controls follow the mode (0 to 3; another value
    // changes only panel 1).
    void ShowMode(int mode);
    // The mode ShowMode last showed.
    int ShownMode() const { return shownMode_; }
    // Told after every ShowMode, once the panels and controls show it.
    TNotifier<> modeShown;
    // What the current COM port opens (the device map's device of it).
    std::string PortDevice() const;
    // Sends the enabled state of every named control to the view again (for
    // controls the view made after the mode was shown).
    void ApplyControls();
    // Whether the double-click action of that grid is attached now.
    bool DoubleClickAttached(const std::string& grid) const;

    // ---- the bottom buttons (their click actions)
    void btnConnectClick();
    void btnDisconnectClick();
    void btnPortClick();
    void btnExportClick();
    // "Журнал обмена...": the trace's window, not modal. Unlike the four
    // it is never detached: it works while the window is busy too.
    void btnTraceClick();
    // Connects to the unit on `device` (from the fleet's list): a session
    // already open is ended first, the current COM port opens `device` from
    // then on (as if chosen in the port dialog), and the connection logs in
    // with `password`, or asks for it when that is empty or refused. False
    // when nothing could start (busy, closing).
    bool ConnectTo(const std::string& device, const std::string& password);
    // What "Экспорт настроек в файл..." does: ExportSettings (ui/Export.h)
    // from start-up on; nothing while empty.
    std::function<void()> onExport;

    // ---- tabs
    // A tab page was shown (by the user, or again after a connection).
    void TabShown(int index);
    // One mark per tab: all its data has been read since the last
    // connection (the unit's marks).
    std::array<bool, kTabCount>& loaded;

    // ---- closing
    // Whether the window may close now: not busy, no handler inside a
    // nested loop, not closing already.
    bool CloseQuery() const;
    // The window closes: logs out when connected and waits for it, stops
    // and releases the worker, closes the port, releases the session.
    void Close();
    // Whether Close has begun; the handlers do nothing from then on.
    bool Closed() const { return closeState_ != TCloseState::Open; }
    // A close asked for by the system (a signal): closes now when the
    // window may close, otherwise as soon as it may.
    void RequestClose();

    // A handler that may run a nested event loop holds one while it runs.
    // What a handler does is one action of the user (TKvMenu::TAction): a
    // tab's load, the export, a snapshot, a dialog's life; the first job in
    // it that finds the unit silent ends it, with that job's one message.
    class THandlerScope {
    public:
        explicit THandlerScope(TForm1& form);
        ~THandlerScope();
        THandlerScope(const THandlerScope&) = delete;
        THandlerScope& operator=(const THandlerScope&) = delete;

    private:
        TForm1& form_;
        TKvMenu* session_ = nullptr;
    };
    int HandlerDepth() const { return handlerDepth_; }

    // ---- what the window owns (the session and the worker only until Close)
    TForm1View& View() { return view_; }
    TSettingsStore& Store() { return store_; }
    TDeviceMap& Devices() { return devices_; }
    TUnit& Unit() { return unit_; }
    TCOMServer& Server() { return unit_.Server(); }
    TKvMenu& Session() { return unit_.Session(); }
    TFormComm& Comm() { return unit_.Comm(); }
    TCatalogue& Catalogue() { return unit_.Catalogue(); }
    // The exchange trace "Журнал обмена" of the port owner's line.
    TTraceLog& Trace() { return unit_.Trace(); }
    TScreens& Screens() { return *screens_; }

    // Status bar panels 0 (busy), 1 (port) and 2 (mode); panel 3 is the
    // catalogue's versionPanel.
    TStatusPanel panelBusy{0};
    TStatusPanel panelPort{1};
    TStatusPanel panelMode{2};
    TStatusPanel& Panel(int index);

private:
    void setTabControls(bool on);
    void setControl(const std::string& name, bool enabled);
    void showCurrentTab();
    void closeWhenPending();

    int busyCount_ = 1;
    bool clicksAttached_ = false;
    int shownMode_ = -1;
    bool tabControlsOn_ = false;
    std::set<std::string> detachedDoubleClicks_;
    int handlerDepth_ = 0;
    enum class TCloseState { Open, Closing, Closed };
    TCloseState closeState_ = TCloseState::Open;
    bool closePending_ = false;

    std::unique_ptr<TScreens> screens_;
    // The device map's resolver and the connection doctor are installed.
    bool installed_ = false;
};

// The window's caption for an executable: its file name without folder and
// extension, " v." and the version ("kv20rcfg v.1.5.0").
std::string CaptionFor(const std::string& executable);
// The executable's bare name ("kv20rcfg").
std::string ProgramName(const std::string& executable);

}  // namespace kv
