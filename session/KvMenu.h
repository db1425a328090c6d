// The session with the unit: connect, wake, log in, learn the access mode,
// move the unit into the command menu each job needs, log out.
//
// TKvMenu is itself a job: its process() is a state machine of numbered
// actions that the worker runs step by step. Setting objects are handed to
// Run, which navigates first when needed and then lets the worker run them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "session/Joint.h"

namespace kv {

class TFormComm;
class TCOMServer;

// Session modes.
enum : uint8_t {
    kModeDisconnected = 0,
    kModeConnecting = 1,
    kModeAdmin = 2,
    kModeSystem = 3,
};

// Command menus: the code a setting object keeps in `menu`.
enum : uint8_t {
    kMenuUndefined = 0,
    kMenuSys = 6,
    kMenuList = 7,
    kMenuMail = 8,
    kMenuMenu = 9,
    kMenuTime = 10,
};

// The command that enters a menu ("SYS\r") and its prompt ("PC SYS>");
// empty for a code outside 6 to 10.
std::string MenuCommand(int code);
std::string MenuPrompt(int code);

// The status text of a mode ("Отключено", "Режим: Системный", ...); empty for
// a value that is not a mode.
std::string ModeText(int mode);

class TKvMenu : public TJoint {
public:
    // The port owner need not exist yet. From the first Run or Disconnect
    // on, the session listens to it for a hang-up and answers the worker's
    // interrupt hook (see lineLostJob).
    TKvMenu(TFormComm& comm, TCOMServer& server);
    ~TKvMenu() override;
    TKvMenu(const TKvMenu&) = delete;
    TKvMenu& operator=(const TKvMenu&) = delete;

    bool process() override;
    bool needsync() override;

    // UI thread. Has the worker run the object's job (the caller has set its
    // action); returns as soon as the job is started. A job that had to wait
    // for one whose line hung up, or for one that ended the session, starts
    // nothing: the session is closed by then, and the job would only open it
    // again. Nor does a job of an action that has failed (TAction).
    // True when the job was started.
    bool Run(TJoint1* object);
    // UI thread. Logs out and closes the port; returns once started.
    void Disconnect();
    // UI thread. Waits until the worker is idle, processing UI events.
    void WaitIdle();

    // One action of the user: a tab's load, the export, a snapshot, one
    // dialog. The first job of the action that fails on a silent line
    // (ELineFault: its one message shown) ends the whole action: from then
    // on Run starts nothing until the outermost action has ended. Jobs
    // already done stay done. Actions nest; UI thread.
    void BeginAction();
    void EndAction();
    class TAction {
    public:
        explicit TAction(TKvMenu& session) : session_(session) { session_.BeginAction(); }
        ~TAction() { session_.EndAction(); }
        TAction(const TAction&) = delete;
        TAction& operator=(const TAction&) = delete;

    private:
        TKvMenu& session_;
    };
    // Whether a job of the open action failed on the line.
    bool ActionFailed() const { return actionDepth_ > 0 && actionFailed_.load(); }
    // How many jobs have failed on a silent line since the session began
    // (a mark to compare later ones with). Any thread.
    uint64_t LineFaults() const { return lineFaults_.load(); }

    // Password for this connection, UTF-8, as typed.
    std::string password;
    uint8_t mode = kModeDisconnected;
    // Where the unit stands: below 2 port closed; 2 port open, login to be
    // repeated; 3 password prompt seen; 4 top-level prompt; 5 "PC>"; 6..10
    // inside that command menu.
    uint8_t level = 0;
    TJoint1* target = nullptr;
    int32_t port = 1;
    // Told every new mode, on the UI thread. May be empty.
    std::function<void(int mode)> onMode;
    // Why the last connection failed: 10 no echo, 11 no password prompt,
    // 12 port could not be opened, 13 the unit refused the password, 14 the
    // unit was busy (13 and 14 only when askAgain is false), 0 none.
    int32_t error = 0;
    // Whether a refused password (or a busy unit) is asked for again, with
    // the unit's warning first. Without it the session logs out instead,
    // with no message, and `error` says why: for a password that came from
    // somewhere the user cannot be asked again.
    bool askAgain = true;

private:
    void notify();
    void connectOutcome();
    void closeWithComError(const std::string& reason, const std::string& details = {});
    void getPassword();
    void sendPassword();
    void wakeUnit();
    void navigate();
    void logout();
    void fail(const std::string& text, int32_t next, const std::string& details = {});
    // The worker's interrupt hook: once the line has hung up under the open
    // port, the session itself (action 190: the one message, the port
    // closed, mode 0) instead of what the job had left to do.
    TJoint* lineLostJob();
    // The worker's line-fault hook: the action has failed, and where the
    // unit stands is unknown, so the next job logs in again.
    void lineFault();
    void listen();

    TFormComm& comm_;
    TCOMServer& server_;
    // Navigation mismatches (206) in the job now running.
    int mismatches_ = 0;
    struct TLink;
    std::shared_ptr<TLink> link_;
    bool listening_ = false;
    int actionDepth_ = 0;
    std::atomic<bool> actionFailed_{false};
    std::atomic<uint64_t> lineFaults_{0};
};

}  // namespace kv
