// Dialogs that answer from a script and record what was shown, for tests
// and headless tools.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "session/Dialogs.h"

namespace kv {

class TScriptedDialogs : public TDialogs {
public:
    enum class TKind { Error, Warning, Password };
    struct TShown {
        TKind kind;
        std::string text;  // the message; for the password dialog, the answer's text
        std::string details = {};  // a message's details, when it had any
        bool operator==(const TShown&) const = default;
    };

    // In force (TInstallDialogs) from construction to destruction.
    TScriptedDialogs() = default;

    // Queues the next answers of the password dialog. Once the script is
    // used up the dialog answers "Отмена".
    void AnswerPassword(const std::string& text);  // typed text, then OK
    void AnswerUntouched();                        // OK without typing
    void AnswerCancel();                           // "Отмена"

    // Called on the UI thread for every dialog, after it was recorded.
    void OnShow(std::function<void(const TShown&)> hook);

    std::vector<TShown> Shown() const;
    // The messages only (errors and warnings), in order.
    std::vector<std::string> Messages() const;
    void Clear();

    void Message(TMessageKind kind, const std::string& text) override;
    void MessageWithDetails(TMessageKind kind, const std::string& text, const std::string& details) override;
    TPasswordAnswer Password() override;

private:
    void record(TShown shown);

    mutable std::mutex m_;
    std::deque<TPasswordAnswer> answers_;
    std::vector<TShown> shown_;
    std::function<void(const TShown&)> hook_;
    TInstallDialogs<TDialogs> installed_{*this};
};

}  // namespace kv
