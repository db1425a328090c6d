// Value dialogs that answer from a script and record what was shown, for
// tests and headless tools.
//
// Each answer acts on the form as a user would (typing through the key
// filter, selecting, turning the spinner, changing the picker, checking a
// button) and then closes the dialog with "OK" or "Отмена". A dialog for
// which the script holds no answer of its kind is closed with "Отмена" and
// recorded as unexpected.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "settings/ValueDialogs.h"

namespace kv {

enum class TValueDialogKind { Directory, Choice, Number, Time, Code };

class TScriptedValueDialogs : public TValueDialogs {
public:
    // One dialog as it was opened, and how it was closed.
    struct TShown {
        TValueDialogKind kind = TValueDialogKind::Directory;
        std::string caption;
        bool expected = true;  // false: the script held no answer of this kind
        bool ok = false;       // closed with "OK"
        // Directory: the field's text, length limit and star permission.
        std::string text;
        int maxLength = 0;
        bool allowStar = false;
        // Choice: the items and the selected position.
        std::vector<std::string> items;
        int index = -1;
        // Number: the spin control's position and range.
        int position = 0;
        int min = 0;
        int max = 0;
        // Time: the picker's time.
        int hours = 0;
        int minutes = 0;
        int seconds = 0;
        // Code: the code handed in.
        int code = 0;
    };

    // In force (TInstallDialogs) from construction to destruction.
    TScriptedValueDialogs() = default;

    // Digit-string dialog: optionally clears the field (Backspace until
    // empty), types keys (UTF-8; "\b" is Backspace) through the key filter.
    void AnswerDirectory(const std::string& keys, bool clear = true, bool ok = true);
    // Choice dialog: selects index (-1: leaves the selection as it is).
    void AnswerChoice(int index, bool ok = true);
    // Number dialog: sets the spin control's position.
    void AnswerNumber(int position, bool ok = true);
    // Number dialog: turns the spinner up (steps > 0) or down (steps < 0).
    void AnswerNumberSteps(int steps, bool ok = true);
    // Time dialog: changes the picker to the time.
    void AnswerTime(int hours, int minutes, int seconds = 0, bool ok = true);
    // Time dialog: closes without touching the picker.
    void AnswerTimeUntouched(bool ok = true);
    // Code dialog: checks the button of code (1–9, 10 for "0", 0 for
    // "Не назначен"); -1 leaves the buttons as they are.
    void AnswerCode(int code, bool ok = true);
    // Any dialog: "Отмена" without touching anything.
    void AnswerCancel();

    std::vector<TShown> Shown() const;
    // Answers not used yet.
    size_t Pending() const;
    void Clear();

    bool Execute(TFormDirectory& form) override;
    bool Execute(TFormChoice& form) override;
    bool Execute(TFormNumber& form) override;
    bool Execute(TFormTime& form) override;
    bool Execute(TFormCode& form) override;

private:
    struct TAnswer {
        bool any = false;  // AnswerCancel: fits every kind
        TValueDialogKind kind = TValueDialogKind::Directory;
        bool ok = false;
        std::function<void(TFormDirectory&)> directory;
        std::function<void(TFormChoice&)> choice;
        std::function<void(TFormNumber&)> number;
        std::function<void(TFormTime&)> time;
        std::function<void(TFormCode&)> code;
    };
    // Takes the next answer; false (and nothing taken) when it does not fit.
    bool take(TValueDialogKind kind, TAnswer& answer);
    void record(TShown shown);

    mutable std::mutex m_;
    std::deque<TAnswer> answers_;
    std::vector<TShown> shown_;
    TInstallDialogs<TValueDialogs> installed_{*this};
};

}  // namespace kv
