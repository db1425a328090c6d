// What the session shows the user: message dialogs and the password dialog.
//
// The core never talks to a toolkit. It calls ShowError / ShowWarning /
// AskPassword, which run the TDialogs in force on the UI thread (handing
// over through UiBridge() when called on another thread, and waiting until
// the dialog is closed). The window installs a Qt implementation with
// TInstallDialogs<TDialogs> (session/DialogSet.h); tests install scripted
// ones the same way. Without one, the default writes messages to standard
// error and cancels the password dialog; so does a hand-over that no UI
// thread takes any more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/DialogSet.h"

namespace kv {

enum class TMessageKind { Error, Warning };

// What the password dialog TFormPassword closed with.
struct TPasswordAnswer {
    bool ok = false;       // closed with "OK" (false: "Отмена" or closed)
    bool changed = false;  // the edit field was changed since it was shown
    std::string text;      // the field's text, UTF-8
};

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // A modal message dialog of that kind with a single OK button. UI thread.
    virtual void Message(TMessageKind kind, const std::string& text) = 0;
    // The modal password dialog, caption "Введите пароль". UI thread.
    virtual TPasswordAnswer Password() = 0;
    // A message dialog that also offers `details`, a longer explanation
    // below the text (the toolkit's detailed text). Without an override the
    // message alone is shown. UI thread.
    virtual void MessageWithDetails(TMessageKind kind, const std::string& text, const std::string& details)
    {
        (void)details;
        Message(kind, text);
    }
};

template <>
struct TDialogSetTraits<TDialogs> {
    static constexpr const char* kName = "Dialogs";
    static TDialogs& Default();
};

// The implementation in force. UI thread only (DialogsInForce).
TDialogs& Dialogs();

// Any thread: show on the UI thread and wait until the dialog is closed.
void ShowError(const std::string& text);
void ShowWarning(const std::string& text);
TPasswordAnswer AskPassword();
// Any thread: an error message with details; empty details show the
// message alone, as ShowError(text) does.
void ShowError(const std::string& text, const std::string& details);
// How many messages ShowError and ShowWarning have shown since the program
// started. A read that had something to say did not read its value. Any
// thread.
uint64_t MessagesShown();

// Every message the three Show functions above show is also noted here, in
// order, whatever dialogs are installed: the layer above learns from the
// notes which of its operations failed and why, while the user still sees
// each message where it happened. Any thread.
// How many messages were shown so far (a mark to compare later ones with).
uint64_t ReportMark();
// The texts shown after `mark`, oldest first (at most the last kReportsKept).
constexpr size_t kReportsKept = 256;
std::vector<std::string> ReportsSince(uint64_t mark);

// While one lives, the Show functions note their messages without showing
// them: for an operation whose outcome brings the messages to the user in
// another way (a restore's summary of what became of each value). The
// password dialog is asked all the same. Nests; made and ended on the UI
// thread, between jobs.
class TQuietReports {
public:
    TQuietReports();
    ~TQuietReports();
    TQuietReports(const TQuietReports&) = delete;
    TQuietReports& operator=(const TQuietReports&) = delete;
};

// Why a connection failed: the port did not open, nothing echoed, the echo
// came without "Password:", the unit fell silent after the password.
// The one list of them: the session reports it, the connection doctor
// (doctor/Doctor.h) explains it.
enum class TConnectionFailure {
    OpenFailed,  // the port could not be opened
    NoEcho,      // it opened, but what was sent did not come back
    NoPrompt,    // the echo came, but no "Password:"
    NoReply,     // the unit fell silent after the password
};
// The window's explanation of a failed connection to COMn, which the
// session's message then offers as its details.
using TConnectionExplainer = std::function<std::string(TConnectionFailure failure, int port)>;
// nullptr removes it.
void SetConnectionExplainer(TConnectionExplainer explainer);
// The explanation, "" when none is installed. UI thread.
std::string ExplainConnectionFailure(TConnectionFailure failure, int port);

}  // namespace kv
