// The unit object: everything one connection to one unit needs, without a
// window.
//
// TUnit owns the port owner TFormComm with its port, the session TKvMenu,
// the worker TCOMServer, the catalogue of setting objects and the exchange
// trace of the line. It connects and disconnects, reads what each tab shows
// (or everything at once), runs jobs, and writes a value, a list entry, a
// mailbox, a voice menu and a voice file. Each operation returns its
// outcome (TOutcome): done, refused (with the message the core showed),
// line lost, or not allowed now. The core still shows its messages where
// they happen, through the installed dialogs, so the window built on the
// unit behaves as before; the outcome comes from the core's notes of those
// messages (ReportsSince) and from the port owner's hang-up count.
//
// The session, the worker and the port owner are single instances for the
// whole program (the core's primitives reach the port through FormComm()).
// So a process holds one unit at a time: a second one is refused with
// std::logic_error (kSecondUnit). Many units are served by many processes.
//
// Everything here runs on the UI thread (the thread that drains the UI
// bridge); an operation waits for the worker the way the session's
// WaitIdle does.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/Comm.h"
#include "session/KvMenu.h"
#include "session/Server.h"
#include "settings/Catalogue.h"
#include "trace/Trace.h"

namespace kv {

class TFile;
class TFormYMU;
class TMenuDlg;

// The tab pages, in the page control's order: what each shows is one read.
enum TTabIndex : int {
    kTabNumbers = 0,
    kTabGreetings,
    kTabTime,
    kTabMenu,
    kTabMail,
    kTabSysParams,
    kTabMessages,
    kTabCount
};

// What became of one operation on the unit.
struct TOutcome {
    enum TKind {
        Done,        // done as asked
        Refused,     // the unit (or the exchange) refused: `message` says how
        LineLost,    // the line hung up or the session dropped on the way
        NotAllowed,  // not started: not connected, or not in this mode
    };
    TKind kind = Done;
    // The messages the core showed on the way (one per line), or why the
    // operation was not allowed. Empty for Done.
    std::string message;

    bool Ok() const { return kind == Done; }
    static TOutcome Success() { return {}; }
    static TOutcome Fail(TKind kind, std::string message) { return {kind, std::move(message)}; }
};

// "сделано", "отказ", "связь потеряна", "недоступно".
const char* OutcomeWord(TOutcome::TKind kind);

// Where the password of a connection comes from.
struct TPasswordSource {
    // The password (UTF-8); empty: the installed dialogs ask for it.
    std::string password;
    // Whether a password the unit refuses is asked for again through the
    // dialogs, after the unit's warning. False for a password that came from
    // somewhere no one can be asked again: the connection then ends with
    // Refused (kWrongPassword) and no warning. It holds for the whole
    // connection (a login repeated on the way as well).
    bool askAgain = true;
};

class TUnit {
public:
    static constexpr const char* kSecondUnit =
        "TUnit: a unit object exists already in this process; the port owner, the session and the worker are "
        "single instances, so one process serves one unit (run one process per unit)";
    static constexpr const char* kPortOwnerTaken =
        "TUnit: another port owner (TFormComm) is in use in this process, so this unit's jobs would reach its port";
    static constexpr const char* kNotConnected = "Нет подключения к устройству.";
    static constexpr const char* kSystemModeOnly = "Операция возможна только в системном режиме.";
    static constexpr const char* kWrongPassword = "Устройство не приняло пароль.";
    static constexpr const char* kUnitBusy = "Устройство занято.";
    static constexpr const char* kNoPassword = "Пароль не введён.";
    static constexpr const char* kConnectionLost = "Связь с устройством прервана.";

    // Makes the port owner, the worker (suspended), the session and the
    // catalogue with every setting object; the trace watches the line.
    // Throws std::logic_error while another unit (or another port owner)
    // exists in this process.
    TUnit();
    // Logs out when connected, stops the worker, closes the port.
    ~TUnit();
    TUnit(const TUnit&) = delete;
    TUnit& operator=(const TUnit&) = delete;

    // ---- what it owns (the session and the worker only until Close)
    TFormComm& Comm() { return *comm_; }
    TCOMServer& Server() { return *server_; }
    TKvMenu& Session() { return *session_; }
    TCatalogue& Catalogue() { return *catalogue_; }
    TTraceLog& Trace() { return trace_; }

    // ---- state
    int Mode() const;
    bool Connected() const;
    bool SystemMode() const;
    // The COM port number the session opens ("COM%d" through the device
    // resolver in force), and the device the port now stands for.
    int Port() const;
    void SetPort(int port);
    std::string Device() const;
    // The tabs read since the connection: a mark is set only by a read
    // that read every value of its tab.
    std::array<bool, kTabCount> loaded{};

    // ---- connection
    // Connects on the session's port: wakes the unit, logs in, reads the
    // firmware version. Done when the session stands in a connected mode
    // (the tabs' marks then cleared);
    // otherwise Refused (kWrongPassword, kUnitBusy: only without askAgain),
    // LineLost (no port, no unit on it, the unit fell silent: the core's
    // message) or NotAllowed (kNoPassword: the password dialog cancelled).
    TOutcome Connect(const TPasswordSource& password = {});
    // The same on a device path ("/dev/ttyUSB0") instead of the COM port.
    TOutcome Connect(const std::string& device, const TPasswordSource& password);
    // Logs out and closes the port, and waits for it.
    TOutcome Disconnect();
    // Waits until no job runs.
    void WaitIdle();
    // The unit goes: logs out when connected, stops and releases the worker,
    // closes the port, releases the session. Nothing runs from then on.
    void Close();
    bool Closed() const { return closed_; }

    // ---- jobs
    // Runs the object's job from `step` (a named step of its class) to its
    // end. The session navigates, and logs in when it must, as for any job.
    TOutcome Run(TJoint1& object, int32_t step);
    // The jobs of one action: outcomes of the jobs run inside it add up.
    class TWatch {
    public:
        explicit TWatch(TUnit& unit);
        // What the jobs since the watch began came to.
        TOutcome Outcome() const;
        // Whether anything failed since the watch began.
        bool Failed() const;

    private:
        bool lost() const;

        TUnit& unit_;
        uint64_t mark_;
        uint64_t losses_;
        uint64_t faults_;
        bool connected_;
    };

    // ---- reading
    // Whether a tab needs system mode.
    static bool SystemTab(int tab);
    // The tab's caption ("Номера", ...).
    static const char* TabCaption(int tab);
    // The objects a tab's read reads, in order.
    std::vector<TJoint1*> TabObjects(int tab);
    // Reads the objects of one tab unless it is marked read (`again`: also
    // then), and marks it when every value was read. NotAllowed when not
    // connected or (for a system tab) not in system mode. The read is one
    // action of the user (TKvMenu::TAction): the first exchange that finds
    // the unit silent ends it (LineLost).
    TOutcome ReadTab(int tab, bool again = false);
    // Reads every tab of the mode, in the tabs' order (system tabs only in
    // system mode), skipping those marked read unless `reread`, as one
    // action. Stops starting reads once the session has dropped or the unit
    // fell silent. Done only when every value was read.
    TOutcome ReadAll(bool reread, const std::function<void(int done, int total, const std::string& what)>& progress = {});

    // ---- writing (each followed by the object's read-back)
    // The value the setting object holds now.
    TOutcome WriteValue(TJoint1& setting);
    // An entry of the extension list (a number or a range).
    TOutcome AddEntry(const std::string& entry);
    TOutcome RemoveEntry(const std::string& entry);
    // A mailbox: made or resized to `size` seconds; deleted by its owner
    // (NotAllowed when the unit lists no such mailbox).
    TOutcome CreateBox(const std::string& owner, int32_t size, int32_t mode, int32_t period);
    TOutcome EditBox(const std::string& owner, int32_t size, int32_t mode, int32_t period);
    TOutcome DeleteBox(const std::string& owner);
    // A voice menu's call code and key actions, written in one SET. After a
    // refusal the menu is read back, so the object holds the unit's values.
    TOutcome WriteMenu(TMenuDlg& menu, int32_t callCode, const std::array<std::string, 10>& keys);
    // One key of a voice menu, the others as the unit holds them.
    TOutcome WriteMenuKey(TMenuDlg& menu, int key, const std::string& action);
    // A voice file: deleted without asking; uploaded from `path`;
    // downloaded into `path` (the transfer dialog's engine exit code in
    // `exitCode` when given).
    TOutcome ClearFile(TFile& slot);
    TOutcome Upload(TFile& slot, const std::string& path);
    TOutcome Download(TFile& slot, const std::string& path, int* exitCode = nullptr);

    // How a transfer dialog is shown: the window sets its modal dialog.
    // Without one the dialog runs headless until the engine's end closes it
    // (the engine's own time-outs end every transfer).
    std::function<void(TFormYMU&)> executeTransfer;

private:
    TOutcome transfer(TFile& slot, int32_t step, const std::string& path, int* exitCode);

    struct TInstance {
        TInstance();
        ~TInstance();
    };
    TInstance instance_;
    TTraceLog trace_;
    // Made first and released last: the session keeps a reference to it.
    std::unique_ptr<TFormComm> comm_;
    std::unique_ptr<TCOMServer> server_;
    std::unique_ptr<TKvMenu> session_;
    std::unique_ptr<TCatalogue> catalogue_;
    bool closed_ = false;
};

// Lines joined with `separator`, each without the CR or LF that ended it.
std::string JoinedLines(const std::vector<std::string>& lines, const char* separator);

}  // namespace kv
