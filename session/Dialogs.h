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

}  // namespace kv
