// Backing up, comparing and restoring a unit's settings through the main
// window's form.
//
// Everything goes through the objects' own jobs: a snapshot reads the unit
// with the tabs' load actions (the same jobs the screens run); a restore
// writes each value by starting its object at its write step with the
// file's value set (a setting at action 2, a voice menu at 2, the extension
// list at its ADD and REMOVE exchanges 11 and 21, the mailboxes at CREATE
// 11, EDIT 81 and DELETE 21, a voice file through the transfer dialog at 30
// or its delete exchange 21), so no value dialog opens and every write is
// followed by the read-back the object always does. What the unit then
// holds decides whether a value took.
//
// The core reports failures in message dialogs. While a backup job runs,
// those messages are collected instead (TMessageCapture) and returned with
// the item they belong to; the password dialog still reaches the user.
//
// Everything here runs on the UI thread and waits for the worker the way
// every handler of the window does.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "session/Dialogs.h"
#include "backup/Snapshot.h"

namespace kv {

class TForm1;

// Collects the messages of the core instead of showing them, for as long as
// it lives; the password dialog is passed on to the dialogs that were in
// force when it was made. Made and ended on the UI thread, between jobs.
class TMessageCapture : public TDialogs {
public:
    TMessageCapture();
    ~TMessageCapture() override;
    TMessageCapture(const TMessageCapture&) = delete;
    TMessageCapture& operator=(const TMessageCapture&) = delete;

    void Message(TMessageKind kind, const std::string& text) override;
    TPasswordAnswer Password() override;

    // The messages collected since the last Take.
    std::vector<std::string> Take();

private:
    TDialogs& previous_;
    std::mutex m_;
    std::vector<std::string> messages_;
    TInstallDialogs<TDialogs> installed_;
};

// One item whose value on the unit differs from the file's.
struct TDifference {
    enum TKind {
        Firmware,    // read-only
        Param,       // a setting: `code`
        MenuCode,    // a voice menu's call code: `code`
        MenuKey,     // a voice menu's key `key`: `code`
        ListAdd,     // the entry `entry` is only in the file
        ListRemove,  // the entry `entry` is only on the unit
        MailCreate,  // the mailbox `entry` is only in the file
        MailEdit,    // the mailbox `entry` has another size
        MailDelete,  // the mailbox `entry` is only on the unit
        VoiceFile,   // the slot `code` holds another file
    };
    TKind kind = Param;
    // As the screens call it.
    std::string name;
    // How the screens show the value on the unit and in the file; empty
    // where the item is absent (onUnit / inFile false).
    std::string unitText;
    std::string fileText;
    bool onUnit = true;
    bool inFile = true;
    // Needs system mode.
    bool system = false;
    int32_t code = 0;
    int key = 0;
    std::string entry;
    // Ticked for the restore (all are, to begin with).
    bool checked = true;

    // Whether a restore can write it (everything but the firmware version).
    bool Writable() const { return kind != Firmware; }
    // The unit's operation for a list or mailbox difference ("ADD",
    // "REMOVE", "CREATE", "EDIT", "DELETE"), else "".
    const char* Operation() const;
};

struct TComparison {
    std::vector<TDifference> differences;
    // Items of the file not compared: its system items while the session
    // is in administrator mode.
    int notCompared = 0;
};

// What differs between the unit (as read) and a file, in the file's order.
// Nothing is read or written.
TComparison Compare(const TSnapshotLayout& layout, const TSnapshot& unit, const TSnapshot& file);

// What became of one difference in a restore.
struct TRestoreResult {
    enum TState {
        Took,        // written, and the unit now holds the file's value
        Refused,     // the unit (or the line) refused: `detail` has the messages
        NotTaken,    // written without a complaint, but the unit kept another value
        Skipped,     // not written: `detail` says why
        NotWritten,  // not written: the connection was lost before it
    };
    TState state = NotWritten;
    std::string detail;
};

// What a result is called: "записано", "отказ", "не принято", "пропущено",
// "не записано"; and with its detail after a colon.
const char* ResultWord(TRestoreResult::TState state);
std::string ResultText(const TRestoreResult& result);

struct TRestoreSummary {
    struct TItem {
        TDifference difference;
        TRestoreResult result;
    };
    std::vector<TItem> items;
    // The snapshot of the unit taken before the first write ("" when
    // nothing was to be written).
    std::string undoPath;
    // The file's system items left alone: the session is in administrator
    // mode, which neither reads nor writes them.
    int systemSkipped = 0;

    int Count(TRestoreResult::TState state) const;
    // Whether every checked difference took and nothing was left alone.
    bool Complete() const;
};

class TBackup {
public:
    explicit TBackup(TForm1& form);

    TSnapshotLayout& Layout() { return layout_; }

    // The device the session's port opens.
    std::string Device() const;

    // Reads everything the tabs show from the unit, tab by tab with their
    // load actions; `reread`: also the tabs already read since the
    // connection. False, with `error`, when not connected, when the session
    // dropped out or when any read failed (the core's messages then make up
    // `error`); a snapshot is only ever made of values that were all read.
    bool ReadUnit(TSnapshot& snapshot, bool reread, std::string& error);

    // Downloads the file of every slot in snapshot.files that holds one into
    // VoiceFolder(snapshotPath), each under its unit name in a folder of its
    // slot's number. A slot whose download failed is dropped from
    // snapshot.files and named in `failures`. `only`: just these slots.
    void DownloadVoiceFiles(TSnapshot& snapshot, const std::string& snapshotPath,
                            std::vector<std::string>& failures, const std::vector<int32_t>* only = nullptr);

    // Writes the snapshot file in place of `path`, whole or not at all.
    bool Save(const TSnapshot& snapshot, const std::string& path, bool withFiles, std::string& error);
    // Reads a whole snapshot file; `error` names the file and the line.
    bool Load(const std::string& path, TSnapshot& snapshot, std::string& error);

    // Writes the checked writable differences of `comparison` (unit: the
    // snapshot the comparison was made from; file: the file's, read from
    // `filePath`; the items it could not compare count as skipped). Before the first write the unit's snapshot is saved next
    // to the file (with the voice files that the restore replaces or
    // deletes). System items are skipped outside system mode, a mailbox is
    // deleted only once confirmDelete said yes for it. False, with `error`,
    // when nothing could be started (no connection, the undo snapshot could
    // not be saved, a voice file of the file is missing); otherwise the
    // summary says what became of each difference.
    bool Restore(const TSnapshot& unit, const TSnapshot& file, const std::string& filePath,
                 const TComparison& comparison, TRestoreSummary& summary, std::string& error);

    // Asked for each mailbox a restore would delete (its owner): true to
    // delete it. Without one no mailbox is deleted.
    std::function<bool(const std::string& owner)> confirmDelete;
    // Told before each step of a long run: steps done, steps in all, what
    // comes next.
    std::function<void(int done, int total, const std::string& what)> onProgress;

private:
    bool connected() const;
    void progress(int done, int total, const std::string& what);
    // Runs one job from `action` to its end.
    void run(TJoint1* object, int action);

    TForm1& form_;
    TSnapshotLayout layout_;
};

// Where the voice files of a snapshot lie: "<snapshot>.files", one folder
// per slot ("<snapshot>.files/20/hello.wav").
std::string VoiceFolder(const std::string& snapshotPath);
std::string VoiceFilePath(const std::string& snapshotPath, int32_t code, const std::string& name);
// Whether a name the unit reports can be a file name here: not empty, no
// "/", not "." or "..", no control characters.
bool SafeFileName(const std::string& name);
// A free name next to the file for its undo snapshot:
// "<file>.undo-YYYYMMDD-HHMMSS", with "-2", "-3" ... when taken.
std::string UndoPath(const std::string& filePath);

// "нет" for an absent value, else the value in quotes.
std::string ShownValue(bool present, const std::string& text);

}  // namespace kv
