// The setting objects: one object per setting of the unit.
//
// Each knows where its setting lives (command menu and parameter code),
// reads it (getp, worker thread), shows it in its grid cell or control
// (output, UI thread), lets the user edit it in a value dialog (input, UI
// thread), writes it back (setp, worker thread) and renders it for the
// settings export (text). The step machine is TJoint1's: a job started with
// action 3 reads and shows; one started with action 1 edits and, when the
// user confirmed a real change, writes, reads back and shows.
//
// Wire values: digit strings as they are; choices as the 0-based item
// position; numbers and codes in decimal; a version as MMmmpp; a time of day
// as hours * 100 + minutes; a check box as 0 or 1.
//
// Each class's CheckWire holds the one rule for what the setting can take:
// whatever a value comes from (the value dialog, a snapshot file) it is
// held against it before it is written. False, with `why` in words for the
// user, when the unit cannot hold it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/Joint.h"
#include "session/Text.h"
#include "settings/View.h"

namespace kv {

// A digit string (a number to dial, a password, a key combination).
class TDirectory : public TJoint1 {
public:
    std::string WireValue() const override;
    bool SetWireValue(const std::string& wire) override;
    void input() override;
    void getp() override;
    void setp() override;
    void output() override;

    // Fewest characters accepted on edit.
    int32_t minLength = 0;
    // Most characters the edit field takes.
    int32_t maxLength = 0;
    // The edit field also takes "*".
    uint8_t allowStar = 0;
    // The digit string; empty: not assigned.
    std::string value;

    // What the edit field may hold: digits ("*" too where allowed), at most
    // maxLength of them.
    bool Accepts(std::string_view digits, std::string& why) const;
    // Accepts, and a value that is not empty has at least minLength
    // characters.
    bool CheckWire(std::string_view wire, std::string& why) const;
};

// A digit string shown in a read-only text field of the window.
class TVFDirectory : public TDirectory {
public:
    void output() override;
    std::string text() override;

    TTextField* edit = nullptr;

protected:
    void unread() override;
};

// One item of a fixed list; the unit holds the item's position.
class TChoice : public TJoint1 {
public:
    std::string WireValue() const override;
    bool SetWireValue(const std::string& wire) override;
    void input() override;
    void getp() override;
    void setp() override;
    void output() override;

    // The chosen item, counted from 0.
    int32_t index = 0;
    // The item texts in display order.
    std::vector<std::string> items;

    // The position of an item: 0 to the number of items less one.
    bool CheckWire(std::string_view wire, std::string& why) const;
};

// A number within a range.
class TNumber : public TJoint1 {
public:
    std::string WireValue() const override;
    bool SetWireValue(const std::string& wire) override;
    void input() override;
    void getp() override;
    void setp() override;
    void output() override;

    int32_t value = 0;
    int32_t min = 0;
    int32_t max = 0;

    // A decimal number from min to max.
    bool CheckWire(std::string_view wire, std::string& why) const;
};

// A call code: 0 not assigned, 1–9 keys 1–9, 10 key 0; shown in a text field.
// The unit's firmware version (parameter 999) as the status bar, the report
// and a comparison show it: 10203 is "1.2.3".
std::string FirmwareVersionText(int32_t value);

// A call code as the screens show it: "не назначен" for 0, "1" to "9", "0"
// for 10; nothing for a code no key has.
std::optional<std::string> CallCodeText(int32_t code);

class TVFCode : public TNumber {
public:
    void input() override;
    void output() override;
    std::string text() override;

    // A call code: 0 to 10.
    bool CheckWire(std::string_view wire, std::string& why) const;

    TTextField* control = nullptr;

protected:
    void unread() override;
};

// The firmware version, read-only, shown in a status-bar panel.
class TVersion : public TNumber {
public:
    // There is nothing to edit: ends the job.
    void input() override;
    // Nothing is written.
    void setp() override;
    void output() override;
    std::string text() override;

    TStatusPanel* panel = nullptr;

protected:
    void unread() override;
};

// A time of day, hours * 100 + minutes on the wire.
class TTimeDlg : public TJoint1 {
public:
    std::string WireValue() const override;
    bool SetWireValue(const std::string& wire) override;
    void input() override;
    void getp() override;
    void setp() override;
    void output() override;

    int32_t hours = 0;
    int32_t minutes = 0;

    // A time of day: hours 0-23 times 100 plus minutes 0-59.
    bool CheckWire(std::string_view wire, std::string& why) const;
};

// An on/off setting shown in a check box.
class TCheck : public TJoint1 {
public:
    std::string WireValue() const override;
    bool SetWireValue(const std::string& wire) override;
    // Takes the check box's state (the user has just clicked it); no dialog.
    void input() override;
    void getp() override;
    void setp() override;
    void output() override;
    std::string text() override;

    // A byte: 0 off, 1 on; other values are kept as received.
    static bool CheckWire(std::string_view wire, std::string& why);

    // 0 off, 1 on; other values are kept as received.
    uint8_t checked = 0;
    TCheckBox* checkbox = nullptr;
};

}  // namespace kv
