// The dialogs that the collection objects and the transfer dialog open,
// besides the message dialogs of the session and the number dialog of the
// settings.
//
// As with the value dialogs, each Execute runs its dialog modally on the UI
// thread, passes the user's actions into the form object and returns true
// when the dialog was closed with "OK"; the caller then reads the form. The
// window installs a Qt implementation; tests install
// TScriptedCollectionDialogs (tests/support/ScriptedCollectionDialogs.h). The default
// cancels every dialog. CollectionDialogs() refuses any thread but the UI
// thread.
#pragma once

#include <string>

#include "collections/Forms.h"
#include "session/DialogSet.h"

namespace kv {

class TCollectionDialogs {
public:
    virtual ~TCollectionDialogs() = default;
    // A confirmation with a question icon and the buttons OK and Cancel;
    // true for OK.
    virtual bool Confirm(const std::string& text) = 0;
    // A question with the buttons Yes and No; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual bool Execute(TFormList2& form) = 0;
    virtual bool Execute(TFormMenuItm& form) = 0;
    virtual bool Execute(TFormMailAdd& form) = 0;
};

// Installed with TInstallDialogs<TCollectionDialogs> (session/DialogSet.h).
template <>
struct TDialogSetTraits<TCollectionDialogs> {
    static constexpr const char* kName = "CollectionDialogs";
    static TCollectionDialogs& Default();
};

// The implementation in force. UI thread only (DialogsInForce).
TCollectionDialogs& CollectionDialogs();

}  // namespace kv
