// A snapshot of a unit: every value the tool manages, as the unit holds it,
// and its file.
//
// TSnapshot holds the unit's own values (wire values, not display texts):
// each parameter by its code, the extension list, the voice menus' call
// codes and key actions, the mailboxes, the firmware version, and, when
// asked for, the voice files of the slots. TSnapshotLayout knows, for one
// catalogue, which items there are, in which order, what each is called on
// the screens and what kind of value it takes; it takes a snapshot from the
// catalogue's objects (as the last reads left them), writes it as text and
// reads it back.
//
// The file is UTF-8 text, one value per line in a fixed order, so that two
// snapshots compare line by line:
//
//   kvmanage-snapshot 1
//   taken 2026-03-07 09:05:30 +0300
//   device /dev/ttyUSB0
//   mode system                      (or admin)
//   firmware 10203
//   # Код оператора                  (a comment: the item's name)
//   param 100 10                     (code, the value as the unit sends it)
//   list 201-210                     (one line per entry)
//   menu 20 code 0                   (a voice menu's call code)
//   menu 20 key 3 N205               (and the action of each key)
//   mailbox 999 600 0 0              (owner, seconds, notification mode, period)
//   system 12 100                    (read in system mode only)
//   voicefile 20 hello.wav 16000 sha256:9f86...  (with voice files: slot,
//                                    name, size, the file's content hash;
//                                    older files have no hash)
//   end
//
// A value is the rest of the line after one blank; an empty value is the
// key alone. "\\" stands for a backslash and "\xHH" for a control character,
// or a blank at either end of a value. The reader takes nothing it does not
// understand: another format version, an unknown or repeated item, a value
// of the wrong kind or one its setting cannot hold (the setting object's own
// rule: digits, length, range, list), a character the unit cannot hold, a
// missing item or a missing "end" each refuse the whole file with a message
// naming the line.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class TCatalogue;
class TJoint1;
class TFile;
class TMenuDlg;

// A voice menu's values.
struct TMenuValues {
    int32_t callCode = 0;
    std::array<std::string, 10> keys;
    bool operator==(const TMenuValues&) const = default;
};

// A mailbox's values. The unit reports owner and size; the notification
// mode and period are what the tool holds for the mailbox.
struct TBoxValues {
    std::string owner;
    int32_t size = 0;
    int32_t mode = 0;
    int32_t period = 0;
    bool operator==(const TBoxValues&) const = default;
};

// A voice-file slot: the file's name and size as the unit reports them;
// an empty name is an empty slot. `sha256`: the content hash of the file
// kept beside a snapshot (64 hex digits; empty where none was recorded).
// Two slots are the same when the unit shows the same: name and size.
struct TVoiceFileValues {
    std::string name;
    int32_t size = 0;
    std::string sha256;
    bool operator==(const TVoiceFileValues& o) const { return name == o.name && size == o.size; }
};

struct TSnapshot {
    static constexpr int kFormat = 1;

    // When and from which device it was taken, as written in the file.
    std::string taken;
    std::string device;
    // The session's mode when it was taken: 2 administrator, 3 system.
    int mode = 0;
    int32_t firmware = 0;
    // Parameters by code: the value as the unit sends it (a digit string,
    // or a number in decimal).
    std::map<int32_t, std::string> params;
    // The extension list's entries.
    std::vector<std::string> list;
    // Voice menus and greetings by their number.
    std::map<int32_t, TMenuValues> menus;
    std::vector<TBoxValues> boxes;
    // Voice-file slots by code (voice menus 0-22, service messages 60-73).
    // In a file only when the voice files were taken with it, and then only
    // the slots whose files lie beside the snapshot.
    std::map<int32_t, TVoiceFileValues> files;

    bool System() const;
    bool operator==(const TSnapshot&) const = default;
};

// Where a snapshot file's refusal stands: its line (1 for the first) and why.
struct TSnapshotError {
    int line = 0;
    std::string text;
    // "строка N: text"
    std::string Message() const;
};

class TSnapshotLayout {
public:
    // How a parameter's value is held on the wire.
    enum class TKind {
        Digits,  // a digit string (may be empty)
        Number,  // a number
        Choice,  // the position of an item
        Code,    // a call code 0-10
        Time,    // hours * 100 + minutes
        Check,   // 0 or 1
    };

    struct TParam {
        TJoint1* object = nullptr;
        int32_t code = 0;
        TKind kind = TKind::Number;
        // Read and written in system mode only.
        bool system = false;
        // A password: written after everything else.
        bool password = false;
        // Item names of a choice.
        std::vector<std::string> items;
        // As the screens call it.
        std::string name;
    };

    struct TMenu {
        TMenuDlg* object = nullptr;
        int32_t code = 0;
        std::string name;  // "Дневное", "Меню 05"
    };

    struct TSlot {
        TFile* object = nullptr;
        int32_t code = 0;
        bool system = false;  // a service message
        std::string name;
    };

    // The items of this catalogue, in the file's order. Objects the
    // catalogue was built without (no collection factory) are left out.
    explicit TSnapshotLayout(TCatalogue& catalogue);

    const std::vector<TParam>& Params() const { return params_; }
    const std::vector<TMenu>& Menus() const { return menus_; }
    const std::vector<TSlot>& Slots() const { return slots_; }
    const TParam* Param(int32_t code) const;
    const TMenu* Menu(int32_t code) const;
    const TSlot* Slot(int32_t code) const;
    TCatalogue& Catalogue() const { return catalogue_; }

    // The values the catalogue's objects hold now, as a snapshot taken in
    // `mode`: system items only in system mode. The voice-file slots are
    // always filled (their names and sizes were read with the menus and
    // messages); a file written from it lists them only when asked.
    TSnapshot Take(int mode, const std::string& device, const std::string& taken) const;

    // The file's text. `withFiles`: the voice-file lines of snapshot.files.
    std::string Write(const TSnapshot& snapshot, bool withFiles) const;
    // Reads a whole file; false with `error` set when anything in it is
    // refused (then `snapshot` is to be ignored).
    bool Read(std::string_view text, TSnapshot& snapshot, TSnapshotError& error) const;

    // ---- a parameter's value on its object
    // The object's value as the unit sends it.
    static std::string Value(const TParam& param);
    // Sets the object's value from a wire value that Read accepted.
    static void SetValue(const TParam& param, const std::string& value);
    // Whether the setting can hold the wire value (its object's rule);
    // `why` when not.
    static bool CheckWire(const TParam& param, const std::string& value, std::string& why);
    // How the screens show a wire value ("09:00", "Импульсный", "Не назначен").
    static std::string Display(const TParam& param, const std::string& value);
    // The snapshot's values of a voice menu object.
    static TMenuValues Values(const TMenuDlg& menu);
    // The snapshot's values of a voice-file slot: an empty slot has size 0,
    // whatever size an earlier file left in the object.
    static TVoiceFileValues Values(const TFile& slot);

private:
    TCatalogue& catalogue_;
    std::vector<TParam> params_;
    std::vector<TMenu> menus_;
    std::vector<TSlot> slots_;
};

// The order in which list entries and mailboxes are written: numbers by
// their value ("99" before "100"), then the rest of the text.
bool NaturalLess(const std::string& a, const std::string& b);

// The local time as a snapshot records it: "2026-03-07 09:05:30 +0300".
std::string SnapshotTime();

// A value as it stands in the file, and back (false: a malformed escape).
std::string EscapeValue(std::string_view value);
bool UnescapeValue(std::string_view text, std::string& value);

}  // namespace kv
