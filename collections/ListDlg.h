// The unit's list of extension numbers (command menu "PC LIST>").
//
// An entry is one number or a range "first-last". The tool never edits the
// list itself: every change is sent to the unit and the list is read back
// whole. Start values of `action`: 3 read and show; 10 add a number; 15 add
// a range; 20 remove a number; 25 remove a range.
#pragma once

#include <string>
#include <vector>

#include "session/Joint.h"

namespace kv {

class TLinesModel;

class TListDlg : public TJoint1 {
public:
    // Start steps (besides kRead): the dialogs ask for a number or a range;
    // kAddEntry and kRemoveEntry send `entry` without asking.
    static constexpr int32_t kAddNumber = 10;
    static constexpr int32_t kAddEntry = 11;
    static constexpr int32_t kAddRange = 15;
    static constexpr int32_t kRemoveNumber = 20;
    static constexpr int32_t kRemoveEntry = 21;
    static constexpr int32_t kRemoveRange = 25;

    bool process() override;
    bool needsync() override;
    // GETALL, then the access string and its one-line answer.
    void getp() override;
    // The memo's lines become the entries.
    void output() override;
    // The entries joined by ", ".
    std::string text() override;

    // The lines of the memo that shows the list; may be empty.
    TLinesModel* target = nullptr;
    // The entries as last read, in the order received (UTF-8).
    std::vector<std::string> items;
    // What the next ADD or REMOVE sends (UTF-8).
    std::string entry;

private:
    void askNumber(int32_t next);
    void askRange(int32_t next);
    void change(const char* command, int32_t firstFailure);
};

}  // namespace kv
