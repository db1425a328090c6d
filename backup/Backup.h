// Backing up, comparing and restoring a unit's settings, on the unit object
// (unit/Unit.h).
//
// Everything goes through the objects' own jobs: a snapshot reads the unit
// tab by tab (the same reads the screens make); a restore writes each value
// through the unit's write operations with the file's value set (a setting,
// a voice menu, an extension-list entry, a mailbox, a voice file), so no
// value dialog opens and every write is followed by the read-back the
// object always does. What the unit then holds decides whether a value
// took; the outcome of each operation says whether the unit refused it or
// the line was lost. The messages the core shows on the way are kept quiet
// (TQuietReports) and come back with the outcome: in a snapshot's error, in
// the failures of a download, in each restored item's row.
//
// Everything here runs on the UI thread and waits for the worker the way
// every handler of the window does; the window's busy state is its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backup/Snapshot.h"

namespace kv {

class TUnit;

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
        Refused,     // the unit refused: `detail` has the messages
        NotTaken,    // written without a complaint, but the unit kept another value
        Skipped,     // not written: `detail` says why
        NotWritten,  // not written: the connection was lost before it, or a stop
        LineLost,    // the line was lost (or the session dropped) during the write
    };
    TState state = NotWritten;
    std::string detail;
};

// What a result is called: "записано", "отказ", "связь потеряна",
// "не принято", "пропущено", "не записано"; and with its detail after a
// colon.
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
    // A stop request ended the writes before the last.
    bool stopped = false;
    // Restore refused to start because of the unit (no connection, the
    // undo snapshot's voice files not downloaded), not because of a file.
    bool unitFailure = false;

    int Count(TRestoreResult::TState state) const;
    // Whether every checked difference took and nothing was left alone.
    bool Complete() const;
};

class TBackup {
public:
    explicit TBackup(TUnit& unit);

    TSnapshotLayout& Layout() { return layout_; }

    // The device the unit's port opens.
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
    // Asked between the writes of a restore: true stops it there (the
    // writes not made are NotWritten, "остановлено"). kvbackup answers
    // it from SIGINT and SIGTERM.
    std::function<bool()> stopRequested;

private:
    bool connected() const;
    void progress(int done, int total, const std::string& what);

    TUnit& unit_;
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
