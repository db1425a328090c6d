// The unit's voice mailboxes (command menu "PC MAIL>").
//
// TMailDlg reads the owner and size of every mailbox and the free recording
// time, shows them in the mail grid and the free-space field, creates a
// mailbox, changes a mailbox's size and deletes one. Sizes are seconds on
// the wire and minutes and seconds on the screen.
//
// Start values of `action`: 3 read and show; 10 create; 20 delete the
// mailbox of the grid's current row; 80 edit it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/Joint.h"

namespace kv {

class TTextField;

class TMailDlg : public TJoint1 {
public:
    // Start steps (besides kRead): kCreate, kDelete and kEdit ask first
    // (the current row's mailbox); kCreateBox and kEditBox send newOwner and
    // newSize, kDeleteBox deletes the mailbox `selected`, without asking.
    static constexpr int32_t kCreate = 10;
    static constexpr int32_t kCreateBox = 11;
    static constexpr int32_t kDelete = 20;
    static constexpr int32_t kDeleteBox = 21;
    static constexpr int32_t kEdit = 80;
    static constexpr int32_t kEditBox = 81;

    struct TBox {
        std::string owner;  // UTF-8
        int32_t size = 0;   // seconds
        uint8_t mode = 0;   // notification mode; the unit does not report it
        int32_t period = 0; // notification period, minutes; likewise
    };

    bool process() override;
    bool needsync() override;
    // GETALL: the mailbox lines, then "FREE=".
    void getp() override;
    // The grid gets a row per mailbox (owner, size); the free-space field
    // the free time.
    void output() override;
    // The export's text: a line per mailbox, or "почтовые ящики отсутствуют".
    std::string text() override;

    // The mailboxes in the order the unit lists them. The table grows with
    // the unit's list: a unit that lists more mailboxes than the 15 the grid
    // was first laid out for gets them all shown. Only the first boxCount
    // records are valid; the others keep what an earlier read left there.
    std::vector<TBox> boxes;
    // Free recording time, seconds.
    int32_t freeTime = 0;
    // The field that shows the free time; may be empty.
    TTextField* freeField = nullptr;
    // What the next CREATE or EDIT sends.
    std::string newOwner;
    int32_t newSize = 0;
    // Chosen in the dialog, kept, never sent.
    uint8_t newMode = 0;
    int32_t newPeriod = 0;
    int32_t boxCount = 0;
    // The mailbox the next delete or edit works on.
    int32_t selected = 0;

    // The grid's current row (the row that holds the cursor), asked by the
    // delete and edit steps; set by the screen. Without it, row 0.
    std::function<int32_t()> currentRow;

    static constexpr const char* kNoBoxes = "почтовые ящики отсутствуют";

private:
    void askCreate();
    void askEdit();
    void askDelete();
    bool selectCurrent();
    void createOrEdit(const char* command);
    void deleteBox();
};

}  // namespace kv
