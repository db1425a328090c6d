#include "ui/FormBackup.h"

#include <filesystem>

#include "backup/VoiceFiles.h"
#include "collections/Dialogs.h"
#include "session/Dialogs.h"
#include "session/KvMenu.h"
#include "ui/Export.h"
#include "ui/FormVoice.h"
#include "ui/Screens.h"
#include "ui/Unit1.h"

namespace kv {

// ---- the table

TFormDifferences::TFormDifferences(TKind kind, std::string caption) : kind_(kind), caption_(std::move(caption)) {}

std::vector<std::string> TFormDifferences::Headers() const
{
    std::vector<std::string> h{"Параметр", "На устройстве", "В снимке"};
    if (kind_ == Summary)
        h.push_back("Результат");
    return h;
}

std::string TFormDifferences::AcceptText() const
{
    return kind_ == Restore ? "Восстановить" : "Закрыть";
}

std::string TFormDifferences::CancelText() const
{
    return kind_ == Restore ? "Отмена" : "";
}

void TFormDifferences::SetChecked(size_t row, bool checked)
{
    if (row < rows_.size() && rows_[row].checkable)
        rows_[row].checked = checked;
}

void TFormDifferences::SetAllChecked(bool checked)
{
    for (size_t i = 0; i < rows_.size(); ++i)
        SetChecked(i, checked);
}

bool TFormDifferences::CanAccept() const
{
    if (kind_ != Restore)
        return true;
    for (const TRow& r : rows_)
        if (r.checked)
            return true;
    return false;
}

// ---- the actions

namespace {

std::string fileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

std::string notCompared(int count)
{
    return std::to_string(count) + " системных значений снимка не сравнивались: подключение в режиме администратора.";
}

}  // namespace

const std::array<TControlName, 3>& TFormBackup::Buttons()
{
    static const std::array<TControlName, 3> buttons{{
        {"btnSnapshot", "Снимок настроек..."},
        {"btnCompare", "Сравнить со снимком..."},
        {"btnRestore", "Восстановить из снимка..."},
    }};
    return buttons;
}

std::string TFormBackup::DeleteQuestion(const std::string& owner)
{
    return "Удалить ящик " + owner + " вместе с записанными в нём сообщениями?";
}

TFormBackup::TFormBackup(TForm1& form, TBackupView& view) : form_(form), view_(view), backup_(form.Unit())
{
    backup_.onProgress = [this](int done, int total, const std::string& what) { view_.Progress(done, total, what); };
    backup_.confirmDelete = [](const std::string& owner) { return CollectionDialogs().Confirm(DeleteQuestion(owner)); };
}

bool TFormBackup::Click(const std::string& name)
{
    if (name == Buttons()[0].name)
        btnSnapshotClick();
    else if (name == Buttons()[1].name)
        btnCompareClick();
    else if (name == Buttons()[2].name)
        btnRestoreClick();
    else
        return false;
    return true;
}

bool TFormBackup::usable() const
{
    const int mode = form_.Session().mode;
    return form_.ClicksAttached() && !form_.Closed() && (mode == kModeAdmin || mode == kModeSystem);
}

void TFormBackup::btnSnapshotClick()
{
    if (!usable())
        return;
    TForm1::THandlerScope scope(form_);
    const std::string path = view_.SnapshotSaveName();
    if (path.empty())
        return;
    {
        // A file that cannot be made is said before the unit is read.
        TReportFile probe;
        if (!probe.Create(path)) {
            ShowError(probe.Error());
            return;
        }
    }
    const bool voice = CollectionDialogs().AskYesNo(kVoiceQuestion);
    form_.BeginBusy();
    TSnapshot snapshot;
    std::string error;
    std::vector<std::string> failures;
    bool ok = backup_.ReadUnit(snapshot, true, error);
    if (ok && voice)
        backup_.DownloadVoiceFiles(snapshot, path, failures);
    if (ok)
        ok = backup_.Save(snapshot, path, voice, error);
    view_.Progress(0, 0, {});
    if (ok && voice)
        keepInCache(snapshot, path);
    form_.EndBusy();
    if (!ok) {
        ShowError(error);
        return;
    }
    if (!failures.empty()) {
        std::string text = "Снимок сохранён без этих голосовых файлов:";
        for (const std::string& f : failures)
            text += "\n" + f;
        ShowWarning(text);
    }
}

void TFormBackup::keepInCache(const TSnapshot& snapshot, const std::string& path)
{
    // The files just fetched are the unit's: "Прослушать" plays them without
    // fetching them again. One file a slot, each replacing the one before.
    const TVoiceCache cache = form_.Screens().Voice().Cache();
    for (const auto& [code, values] : snapshot.files) {
        std::string bytes, why;
        if (values.name.empty() || !ReadVoiceFile(path, code, values, bytes, why) ||
            !cache.Keep(code, values.name, bytes, why))
            cache.Drop(code);
    }
}

void TFormBackup::btnCompareClick()
{
    compareOrRestore(false);
}

void TFormBackup::btnRestoreClick()
{
    compareOrRestore(true);
}

bool TFormBackup::readBoth(const std::string& path, TSnapshot& file, TSnapshot& unit)
{
    std::string error;
    // The whole file is read before the unit is touched.
    if (!backup_.Load(path, file, error) || !backup_.ReadUnit(unit, true, error)) {
        view_.Progress(0, 0, {});
        ShowError(error);
        return false;
    }
    view_.Progress(0, 0, {});
    return true;
}

void TFormBackup::CompareWith(const std::string& path)
{
    if (!path.empty())
        compareOrRestore(false, path);
}

void TFormBackup::RestoreFrom(const std::string& path)
{
    if (!path.empty())
        compareOrRestore(true, path);
}

void TFormBackup::compareOrRestore(bool restore, std::string path)
{
    if (!usable())
        return;
    TForm1::THandlerScope scope(form_);
    if (path.empty())
        path = view_.SnapshotOpenName();
    if (path.empty())
        return;
    form_.BeginBusy();
    TSnapshot file, unit;
    if (!readBoth(path, file, unit)) {
        form_.EndBusy();
        return;
    }
    TComparison comparison = Compare(backup_.Layout(), unit, file);
    int writable = 0;
    for (const TDifference& d : comparison.differences)
        writable += d.Writable() ? 1 : 0;
    restore = restore && writable > 0;

    TFormDifferences table(restore ? TFormDifferences::Restore : TFormDifferences::Compare,
                           (restore ? "Восстановление из снимка " : "Сравнение со снимком ") + fileName(path));
    for (const TDifference& d : comparison.differences) {
        const bool checkable = restore && d.Writable();
        std::string name = d.name;
        if (*d.Operation())
            name += " (" + std::string(d.Operation()) + ")";
        table.AddRow({name, ShownValue(d.onUnit, d.unitText), ShownValue(d.inFile, d.fileText), {}, checkable,
                      checkable && d.checked});
    }
    std::string note = comparison.differences.empty() ? kNoDifferences : "";
    if (comparison.notCompared > 0)
        note += (note.empty() ? "" : "\n") + notCompared(comparison.notCompared);
    table.SetNote(note);
    if (!view_.ExecuteDifferences(table) || !restore) {
        form_.EndBusy();
        return;
    }
    for (size_t i = 0; i < comparison.differences.size(); ++i)
        comparison.differences[i].checked = table.Rows()[i].checked;

    TRestoreSummary summary;
    std::string error;
    const bool done = backup_.Restore(unit, file, path, comparison, summary, error);
    view_.Progress(0, 0, {});
    // A voice file the restore wrote, or began to write, is no longer the
    // one the cache holds for its slot.
    const TVoiceCache cache = form_.Screens().Voice().Cache();
    for (const auto& item : summary.items)
        if (item.difference.kind == TDifference::VoiceFile)
            cache.Drop(item.difference.code);
    if (!done) {
        form_.EndBusy();
        ShowError(error);
        return;
    }
    TFormDifferences result(TFormDifferences::Summary, "Восстановлено из снимка " + fileName(path));
    for (const auto& item : summary.items) {
        const TDifference& d = item.difference;
        result.AddRow({d.name, ShownValue(d.onUnit, d.unitText), ShownValue(d.inFile, d.fileText),
                       ResultText(item.result), false, false});
    }
    std::string after;
    if (!summary.undoPath.empty())
        after = "Прежние настройки сохранены в " + summary.undoPath + ".";
    if (summary.systemSkipped > 0)
        after += (after.empty() ? "" : "\n") + notCompared(summary.systemSkipped);
    result.SetNote(after);
    view_.ExecuteDifferences(result);
    form_.EndBusy();
}

}  // namespace kv
