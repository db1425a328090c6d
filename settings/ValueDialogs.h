// The five value dialogs that the setting objects open on edit.
//
// Each dialog is a form object holding the dialog's state and rules (the key
// filter of the number field, the range of the spin control, the `changed`
// flags), and an implementation that shows it: the Qt window shows real
// dialogs, tests answer from a script (tests/support/ScriptedValueDialogs.h).
// An implementation passes every user action into the form (KeyPress,
// Select, SetPosition, SetTime, Check) and returns whether the dialog closed
// with "OK"; the setting object then reads the result from the form.
//
// All of it runs on the UI thread: the edit step of a job runs there, and
// ValueDialogs() refuses any other thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/DialogSet.h"

namespace kv {

// "Ввод номера": one field Edit1 for a digit string.
class TFormDirectory {
public:
    static constexpr const char* Caption = "Ввод номера";

    // The field starts with text; maxLength is the field's length limit
    // (0: none); allowStar lets "*" through the key filter.
    TFormDirectory(std::string text, int maxLength, bool allowStar);

    // The key filter: digits pass, "*" only with the star permission,
    // control characters (below 32, Backspace among them) pass, everything
    // else is dropped.
    static bool KeyAllowed(char32_t key, bool allowStar);

    // A typed character. Dropped by the filter: returns false and the text
    // stays. Otherwise it reaches the field: Backspace (8) removes the last
    // character, other control characters do nothing, a printable one is
    // appended unless the field is full. Returns true.
    bool KeyPress(char32_t key);
    // Types every character of a UTF-8 text with KeyPress.
    void Type(const std::string& keys);
    // The rule for the field's whole text, however it got there (typed,
    // pasted, dropped): every character one the key filter lets through
    // (control characters aside), at most maxLength of them (0: no limit).
    static bool TextAllowed(const std::string& text, int maxLength, bool allowStar);
    bool Accepts(const std::string& text) const { return TextAllowed(text, maxLength_, allowStar_); }
    // The field's text, as the toolkit holds it (a view may replace it, for
    // example after a paste). False, and the text stays, when the rule
    // refuses it.
    bool SetText(const std::string& text);

    const std::string& Text() const { return text_; }
    int MaxLength() const { return maxLength_; }
    bool AllowStar() const { return allowStar_; }

private:
    std::string text_;
    int maxLength_;
    bool allowStar_;
};

// "Выберите": a radio group RadioGroup1 without caption, one button per item.
class TFormChoice {
public:
    static constexpr const char* Caption = "Выберите";

    // The group is filled with items and the item at index is selected (an
    // index past the end selects the last item, below 0 none).
    TFormChoice(std::vector<std::string> items, int index);

    void Select(int index);
    // The selected position, -1 when none.
    int ItemIndex() const { return index_; }
    const std::vector<std::string>& Items() const { return items_; }

private:
    std::vector<std::string> items_;
    int index_ = -1;
};

// "Ввод значения": the field Edit1 with the spin control UpDown1 attached.
class TFormNumber {
public:
    static constexpr const char* Caption = "Ввод значения";
    static constexpr int PositionMin = -32768;
    static constexpr int PositionMax = 32767;

    // The spin control's range is min..max and its position value. The
    // control holds 16-bit signed numbers: the range is cut to
    // -32768..32767, and the position always lies within the range.
    TFormNumber(int32_t value, int32_t min, int32_t max);

    // The user typed a number or turned the spinner: the position becomes
    // the nearest value within the range.
    void SetPosition(int32_t position);
    void Up() { SetPosition(position_ + 1); }
    void Down() { SetPosition(position_ - 1); }

    int32_t Position() const { return position_; }
    int32_t Min() const { return min_; }
    int32_t Max() const { return max_; }
    // The text of Edit1: the position in decimal.
    std::string Text() const { return std::to_string(position_); }

private:
    int32_t min_;
    int32_t max_;
    int32_t position_;
};

// "Введите время": the time picker DateTimePicker1 (time only).
class TFormTime {
public:
    static constexpr const char* Caption = "Введите время";

    // The picker is handed hours / 24 + minutes / 1440 of a day (seconds 0);
    // it shows the time of day of that value, so 25:60 shows as 02:00.
    TFormTime(int32_t hours, int32_t minutes);

    // A change of the picker by the user. Sets `changed` when the time
    // differs from what the picker showed.
    void SetTime(int hours, int minutes, int seconds);

    int Hours() const { return seconds_ / 3600; }
    int Minutes() const { return seconds_ / 60 % 60; }
    int Seconds() const { return seconds_ % 60; }
    // False until the picker was changed.
    bool Changed() const { return changed_; }

    // The time of day, in seconds, that a picker shows for hours and minutes.
    static int SecondsOfDay(int32_t hours, int32_t minutes);

private:
    int seconds_;
    bool changed_ = false;
};

// "Код вызова": eleven radio buttons "1" … "9", "0", "Не назначен".
// A button is named by the code it stands for: 1–9 for "1"–"9", 10 for "0",
// 0 for "Не назначен".
class TFormCode {
public:
    static constexpr const char* Caption = "Код вызова";

    // The buttons' captions in display order, and the code of each.
    static const std::vector<std::string>& ButtonCaptions();
    static int ButtonCode(int buttonIndex);

    // Opening: initialCode := code, and the matching button is checked (no
    // button for a code above 10 or below 0).
    explicit TFormCode(int32_t code);

    // Checking a button (by the user or the opening): the chosen code
    // becomes the button's code and `changed` whether it differs from the
    // initial code. Codes outside 0..10 name no button and are ignored.
    void Check(int32_t code);

    int32_t InitialCode() const { return initialCode_; }
    int32_t ChosenCode() const { return chosenCode_; }
    // The code of the checked button, or -1 when none is checked.
    int32_t CheckedButton() const { return checked_; }
    bool Changed() const { return changed_; }

private:
    int32_t initialCode_;
    int32_t chosenCode_ = 0;
    int32_t checked_ = -1;
    bool changed_ = false;
};

// Shows the dialogs. Each Execute runs its dialog modally on the UI thread
// and returns true when it was closed with "OK" ("Отмена", Escape and the
// close box return false).
class TValueDialogs {
public:
    virtual ~TValueDialogs() = default;
    virtual bool Execute(TFormDirectory& form) = 0;
    virtual bool Execute(TFormChoice& form) = 0;
    virtual bool Execute(TFormNumber& form) = 0;
    virtual bool Execute(TFormTime& form) = 0;
    virtual bool Execute(TFormCode& form) = 0;
};

// Installed with TInstallDialogs<TValueDialogs> (session/DialogSet.h); the
// default closes every dialog with "Отмена".
template <>
struct TDialogSetTraits<TValueDialogs> {
    static constexpr const char* kName = "ValueDialogs";
    static TValueDialogs& Default();
};

// The implementation in force. UI thread only (DialogsInForce).
TValueDialogs& ValueDialogs();

}  // namespace kv
