// The window's backup actions: three buttons after the bottom buttons,
// "Снимок настроек...", "Сравнить со снимком..." and
// "Восстановить из снимка...", with the rules of the export button: usable
// only while connected (modes 2 and 3) and while the window is not busy,
// and each run inside one busy section of the window.
//
// TFormBackup holds the rules; it reaches the file dialogs, the table of
// differences and the progress of a long run through TBackupView, which the
// Qt main window implements and tests script. Questions with their own seam
// already (Yes/No, OK/Cancel) go through the collection dialogs, messages
// through the session's.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "backup/Backup.h"
#include "ui/Unit1.h"

namespace kv {


// What the table of differences shows: one row per difference (its name,
// the value on the unit, the value in the file and, after a restore, what
// became of it), a check box per row where rows can be ticked, and a note
// under the table.
class TFormDifferences {
public:
    enum TKind {
        Compare,  // read-only; "Закрыть"
        Restore,  // a check box per writable row; "Восстановить" and "Отмена"
        Summary,  // read-only with the outcome of each row; "Закрыть"
    };
    struct TRow {
        std::string name;
        std::string unit;
        std::string file;
        std::string result;  // Summary only
        bool checkable = false;
        bool checked = false;
    };

    TFormDifferences(TKind kind, std::string caption);

    TKind Kind() const { return kind_; }
    const std::string& Caption() const { return caption_; }
    // The column headers.
    std::vector<std::string> Headers() const;
    // The caption of the accepting button ("Восстановить", "Закрыть") and of
    // the cancelling one ("Отмена"; empty when there is none).
    std::string AcceptText() const;
    std::string CancelText() const;

    const std::vector<TRow>& Rows() const { return rows_; }
    void AddRow(TRow row) { rows_.push_back(std::move(row)); }
    // The user ticks or unticks a row (only a checkable one).
    void SetChecked(size_t row, bool checked);
    // Ticks or unticks every checkable row.
    void SetAllChecked(bool checked);
    // Whether the accepting button does something: in a restore, at least
    // one row is ticked.
    bool CanAccept() const;

    const std::string& Note() const { return note_; }
    void SetNote(std::string note) { note_ = std::move(note); }

private:
    TKind kind_;
    std::string caption_;
    std::vector<TRow> rows_;
    std::string note_;
};

// What TFormBackup asks of the window.
class TBackupView {
public:
    virtual ~TBackupView() = default;
    // The save dialog of a snapshot ("unit.kvs" proposed, snapshot files or
    // all files, asking before overwriting); "" when cancelled.
    virtual std::string SnapshotSaveName() = 0;
    // The open dialog of a snapshot; "" when cancelled.
    virtual std::string SnapshotOpenName() = 0;
    // The table, modal; true when closed with its accepting button.
    virtual bool ExecuteDifferences(TFormDifferences& form) = 0;
    // The progress of a long run: `done` of `total` steps, `what` next.
    // total 0 ends it.
    virtual void Progress(int done, int total, const std::string& what) = 0;
};

class TFormBackup {
public:
    static constexpr const char* kVoiceQuestion = "Сохранить вместе со снимком голосовые файлы устройства?";
    static constexpr const char* kNoDifferences = "Различий нет.";

    // The three buttons, left to right.
    static const std::array<TControlName, 3>& Buttons();

    TFormBackup(TForm1& form, TBackupView& view);

    // The buttons' click actions; nothing unless connected and not busy.
    void btnSnapshotClick();
    void btnCompareClick();
    void btnRestoreClick();
    // The compare and the restore with a snapshot file already chosen (a
    // version of the fleet's history); the same rules as the buttons.
    void CompareWith(const std::string& path);
    void RestoreFrom(const std::string& path);
    // By the button's name; false for another name.
    bool Click(const std::string& name);

    // The question before a mailbox is deleted, with its owner.
    static std::string DeleteQuestion(const std::string& owner);

    TBackup& Backup() { return backup_; }

private:
    bool usable() const;
    // Puts the voice files of a snapshot just taken into the window's
    // cache of the unit's files.
    void keepInCache(const TSnapshot& snapshot, const std::string& path);
    // Reads the file and then the unit; false (with the message shown)
    // when either fails.
    bool readBoth(const std::string& path, TSnapshot& file, TSnapshot& unit);
    // `path` "" asks for the file.
    void compareOrRestore(bool restore, std::string path = {});

    TForm1& form_;
    TBackupView& view_;
    TBackup backup_;
};

}  // namespace kv
