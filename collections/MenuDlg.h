// One voice menu of the unit (command menu "PC MENU>"): menus 0 to 19 and
// the day, night and holiday greetings 20, 21 and 22.
//
// A voice menu is a voice file and an action for each key 0 to 9. TMenuDlg
// reads it and shows it as one grid row (column 1 the file, columns 2 to 11
// the keys), edits the action of one key and writes the whole menu back,
// and moves and deletes its voice file as TFile does.
//
// Start values of `action`: 3 read and show; 60 edit the key `editKey`;
// 20 delete the voice file; 30, 40, 70 as in TFile. A write the unit refuses
// is followed by a read-back, as a confirmed one is; a write that fails on
// the line leaves the keys as the unit held them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "collections/File.h"

namespace kv {

class TMenuDlg : public TFile {
public:
    // Start steps besides TFile's: kWrite sends callCode and keys as held
    // (then reads back); kEditKey edits the key `editKey`.
    static constexpr int32_t kEditKey = 60;

    bool process() override;
    bool needsync() override;
    // GET: "TC=", "MSG=" and ten item lines.
    void getp() override;
    // SET: the call code and the ten actions.
    void setp() override;
    // Cell (1, row): the file or "не назначен"; cells 2..11: the actions.
    void output() override;
    // The export's text, read back from the grid; "не определено" without.
    std::string text() override;
    // ULMSG: tells the unit which menu will receive a file.
    void ulstart() override;

    // The menu's call code, sent back unchanged.
    int32_t callCode = 0;
    // The action of each key in the unit's notation: "-", "M"+menu,
    // "N"+extension, "L"+mailbox, "G"+mailbox (UTF-8).
    std::array<std::string, 10> keys;
    // The key whose action the next edit changes; set by the screen.
    int32_t editKey = 0;

    static constexpr const char* kNoFile = "не назначен";

protected:
    std::string failureText(int32_t failure) const override;

private:
    // The keys as last read from the unit.
    std::array<std::string, 10> unitKeys_;
    void editItem();
    void askDelete();
    void deleteFile();
};

}  // namespace kv
