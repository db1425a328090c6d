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

#include <cstdint>
#include <functional>
#include <string>

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

// Why a connection failed: the port did not open, nothing echoed, the echo
// came without "Password:", the unit fell silent after the password.
enum class TConnectionFailure { OpenFailed, NoEcho, NoPrompt, NoReply };
// The window's explanation of a failed connection to COMn, which the
// session's message then offers as its details.
using TConnectionExplainer = std::function<std::string(TConnectionFailure failure, int port)>;
// nullptr removes it.
void SetConnectionExplainer(TConnectionExplainer explainer);
// The explanation, "" when none is installed. UI thread.
std::string ExplainConnectionFailure(TConnectionFailure failure, int port);

}  // namespace kv
