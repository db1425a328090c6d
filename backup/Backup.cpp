#include "backup/Backup.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "backup/VoiceFiles.h"
#include "collections/File.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "collections/Wire.h"
#include "session/KvMenu.h"
#include "session/Dialogs.h"
#include "settings/Catalogue.h"
#include "collections/ReportFile.h"
#include "unit/Unit.h"

namespace kv {

namespace {

// A snapshot file is a few kilobytes; anything this large is not one.
constexpr std::uintmax_t kMaxSnapshotBytes = 16u << 20;

std::string joined(const std::vector<std::string>& lines, const char* separator)
{
    // Messages that quote the unit's line keep its CR; it ends nothing here.
    return JoinedLines(lines, separator);
}

// An outcome's messages (one per line) joined with `separator`.
std::string joined(const std::string& message, const char* separator)
{
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t nl = message.find('\n'); ; nl = message.find('\n', from)) {
        lines.push_back(message.substr(from, nl == std::string::npos ? std::string::npos : nl - from));
        if (nl == std::string::npos)
            break;
        from = nl + 1;
    }
    return JoinedLines(lines, separator);
}

std::string codeText(int32_t code)
{
    return CallCodeText(code).value_or(std::to_string(code));
}

std::string fileText(const TSnapshotLayout::TSlot& slot, const TVoiceFileValues& f)
{
    if (f.name.empty())
        return slot.system ? TFile::kEmpty : TMenuDlg::kNoFile;
    return f.name + " (" + std::to_string(f.size) + ")";
}

// Index of the mailbox `owner` among the valid records, or -1.
int32_t boxIndex(const TMailDlg& mail, const std::string& owner)
{
    for (int32_t i = 0; i < mail.boxCount && static_cast<size_t>(i) < mail.boxes.size(); ++i)
        if (mail.boxes[static_cast<size_t>(i)].owner == owner)
            return i;
    return -1;
}

const TBoxValues* findBox(const std::vector<TBoxValues>& boxes, const std::string& owner)
{
    for (const TBoxValues& b : boxes)
        if (b.owner == owner)
            return &b;
    return nullptr;
}

// The unit's and the file's values of `code` when they differ, else two
// nulls. A value the file holds but the unit's snapshot does not (a system
// item, read in administrator mode) counts as not compared.
template <class TValue>
std::pair<const TValue*, const TValue*> differing(const std::map<int32_t, TValue>& unit,
                                                  const std::map<int32_t, TValue>& file, int32_t code,
                                                  int& notCompared)
{
    auto f = file.find(code);
    if (f == file.end())
        return {nullptr, nullptr};
    auto u = unit.find(code);
    if (u == unit.end()) {
        ++notCompared;
        return {nullptr, nullptr};
    }
    if (u->second == f->second)
        return {nullptr, nullptr};
    return {&u->second, &f->second};
}

bool isFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Makes the folders a downloaded voice file goes into, one level at a time.
// A folder that is there as a symbolic link, or as anything but a folder, is
// refused: a planted link would send the unit's files somewhere else.
bool MakeVoiceFolders(const std::vector<std::filesystem::path>& folders, std::string& why)
{
    for (const auto& folder : folders) {
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(folder, ec);
        if (std::filesystem::is_directory(status))
            continue;
        if (std::filesystem::exists(status)) {
            why = "\"" + folder.string() + "\" - не папка, а " +
                  (std::filesystem::is_symlink(status) ? "символическая ссылка" : "файл");
            return false;
        }
        if (!std::filesystem::create_directory(folder, ec) && ec) {
            why = "не удалось создать папку " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

}  // namespace

// ---- differences

const char* TDifference::Operation() const
{
    switch (kind) {
    case ListAdd: return "ADD";
    case ListRemove: return "REMOVE";
    case MailCreate: return "CREATE";
    case MailEdit: return "EDIT";
    case MailDelete: return "DELETE";
    default: return "";
    }
}

std::string ShownValue(bool present, const std::string& text)
{
    return present ? "\"" + text + "\"" : "нет";
}

TComparison Compare(const TSnapshotLayout& layout, const TSnapshot& unit, const TSnapshot& file)
{
    TComparison result;
    auto add = [&result](TDifference d) { result.differences.push_back(std::move(d)); };

    if (unit.firmware != file.firmware) {
        TDifference d;
        d.kind = TDifference::Firmware;
        d.name = "Версия прошивки";
        d.unitText = FirmwareVersionText(unit.firmware);
        d.fileText = FirmwareVersionText(file.firmware);
        d.checked = false;
        add(d);
    }

    auto params = [&](int32_t low, int32_t high) {
        for (const auto& p : layout.Params()) {
            if (p.code < low || p.code > high)
                continue;
            const auto [u, f] = differing(unit.params, file.params, p.code, result.notCompared);
            if (!u)
                continue;
            TDifference d;
            d.kind = TDifference::Param;
            d.code = p.code;
            d.system = p.system;
            d.name = p.name;
            d.unitText = TSnapshotLayout::Display(p, *u);
            d.fileText = TSnapshotLayout::Display(p, *f);
            add(d);
        }
    };

    auto list = [&] {
        std::map<std::string, int> onUnit, inFile;
        for (const auto& e : unit.list)
            ++onUnit[e];
        for (const auto& e : file.list)
            ++inFile[e];
        std::vector<std::string> entries;
        for (const auto& [e, n] : onUnit)
            entries.push_back(e);
        for (const auto& [e, n] : inFile)
            if (!onUnit.count(e))
                entries.push_back(e);
        std::stable_sort(entries.begin(), entries.end(), NaturalLess);
        for (const std::string& e : entries) {
            const int u = onUnit.count(e) ? onUnit[e] : 0;
            const int f = inFile.count(e) ? inFile[e] : 0;
            for (int i = 0; i < std::abs(u - f); ++i) {
                TDifference d;
                d.kind = u > f ? TDifference::ListRemove : TDifference::ListAdd;
                d.entry = e;
                d.name = "Добавочные номера: " + e;
                d.onUnit = u > f;
                d.inFile = f > u;
                (d.onUnit ? d.unitText : d.fileText) = e;
                add(d);
            }
        }
    };

    auto menus = [&](bool greetings) {
        for (const auto& m : layout.Menus()) {
            if ((m.code >= 20) != greetings)
                continue;
            auto f = file.menus.find(m.code);
            auto u = unit.menus.find(m.code);
            if (f == file.menus.end() || u == unit.menus.end())
                continue;
            if (u->second.callCode != f->second.callCode) {
                TDifference d;
                d.kind = TDifference::MenuCode;
                d.code = m.code;
                d.name = m.name + ": Код вызова";
                d.unitText = codeText(u->second.callCode);
                d.fileText = codeText(f->second.callCode);
                add(d);
            }
            for (int k = 0; k < 10; ++k) {
                const std::string& uk = u->second.keys[static_cast<size_t>(k)];
                const std::string& fk = f->second.keys[static_cast<size_t>(k)];
                if (uk == fk)
                    continue;
                TDifference d;
                d.kind = TDifference::MenuKey;
                d.code = m.code;
                d.key = k;
                d.name = m.name + ": Действие на " + std::to_string(k);
                d.unitText = uk;
                d.fileText = fk;
                add(d);
            }
        }
    };

    auto mail = [&] {
        std::vector<std::string> owners;
        for (const auto& b : unit.boxes)
            owners.push_back(b.owner);
        for (const auto& b : file.boxes)
            if (!findBox(unit.boxes, b.owner))
                owners.push_back(b.owner);
        std::stable_sort(owners.begin(), owners.end(), NaturalLess);
        for (const std::string& owner : owners) {
            const TBoxValues* u = findBox(unit.boxes, owner);
            const TBoxValues* f = findBox(file.boxes, owner);
            if (u && f && u->size == f->size)
                continue;
            TDifference d;
            d.entry = owner;
            d.onUnit = u != nullptr;
            d.inFile = f != nullptr;
            d.kind = !u ? TDifference::MailCreate : !f ? TDifference::MailDelete : TDifference::MailEdit;
            d.name = "Ящик " + owner + (d.kind == TDifference::MailEdit ? ": Размер" : "");
            if (u)
                d.unitText = FormatMinSec(u->size);
            if (f)
                d.fileText = FormatMinSec(f->size);
            add(d);
        }
    };

    auto files = [&] {
        for (const auto& slot : layout.Slots()) {
            const auto [u, f] = differing(unit.files, file.files, slot.code, result.notCompared);
            if (!u)
                continue;
            TDifference d;
            d.kind = TDifference::VoiceFile;
            d.code = slot.code;
            d.system = slot.system;
            d.name = slot.name;
            d.onUnit = !u->name.empty();
            d.inFile = !f->name.empty();
            d.unitText = fileText(slot, *u);
            d.fileText = fileText(slot, *f);
            add(d);
        }
    };

    params(100, 104);
    list();
    menus(true);
    params(110, 124);
    menus(false);
    mail();
    params(0, 99);
    params(500, 599);
    files();
    return result;
}

// ---- restore summary

const char* ResultWord(TRestoreResult::TState state)
{
    switch (state) {
    case TRestoreResult::Took: return "записано";
    case TRestoreResult::Refused: return "отказ";
    case TRestoreResult::LineLost: return "связь потеряна";
    case TRestoreResult::NotTaken: return "не принято";
    case TRestoreResult::Skipped: return "пропущено";
    case TRestoreResult::NotWritten: return "не записано";
    }
    return "";
}

std::string ResultText(const TRestoreResult& result)
{
    return std::string(ResultWord(result.state)) + (result.detail.empty() ? "" : ": " + result.detail);
}

int TRestoreSummary::Count(TRestoreResult::TState state) const
{
    return static_cast<int>(std::count_if(items.begin(), items.end(),
                                          [state](const TItem& i) { return i.result.state == state; }));
}

bool TRestoreSummary::Complete() const
{
    return systemSkipped == 0 && Count(TRestoreResult::Took) == static_cast<int>(items.size());
}

// ---- file names

std::string VoiceFolder(const std::string& snapshotPath)
{
    return snapshotPath + ".files";
}

std::string VoiceFilePath(const std::string& snapshotPath, int32_t code, const std::string& name)
{
    return VoiceFolder(snapshotPath) + "/" + Format("%.2d", code) + "/" + name;
}

bool SafeFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

std::string UndoPath(const std::string& filePath)
{
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    char stamp[32];
    const size_t n = ::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = filePath + ".undo-" + std::string(stamp, n);
    std::string path = base;
    struct stat st {};
    for (int i = 2; ::lstat(path.c_str(), &st) == 0 || ::lstat(VoiceFolder(path).c_str(), &st) == 0; ++i)
        path = base + "-" + std::to_string(i);
    return path;
}

// ---- the jobs

TBackup::TBackup(TUnit& unit) : unit_(unit), layout_(unit.Catalogue()) {}

std::string TBackup::Device() const
{
    return unit_.Device();
}

bool TBackup::connected() const
{
    return !unit_.Closed() && unit_.Connected();
}

void TBackup::progress(int done, int total, const std::string& what)
{
    if (onProgress)
        onProgress(done, total, what);
}

bool TBackup::ReadUnit(TSnapshot& snapshot, bool reread, std::string& error)
{
    if (!connected()) {
        error = TUnit::kNotConnected;
        return false;
    }
    // The messages come back in `error`, shown once by the caller.
    TQuietReports quiet;
    const TOutcome read =
        unit_.ReadAll(reread, [this](int done, int total, const std::string& what) { progress(done, total, what); });
    if (read.kind == TOutcome::LineLost || !connected()) {
        error = TUnit::kConnectionLost;
        if (read.message != TUnit::kConnectionLost)
            error += "\n" + read.message;
        return false;
    }
    if (!read.Ok()) {
        error = "Не все значения удалось прочитать:\n" + read.message;
        return false;
    }
    snapshot = layout_.Take(unit_.Mode(), Device(), SnapshotTime());
    return true;
}

void TBackup::DownloadVoiceFiles(TSnapshot& snapshot, const std::string& snapshotPath,
                                 std::vector<std::string>& failures, const std::vector<int32_t>* only)
{
    std::vector<int32_t> codes;
    for (const auto& [code, f] : snapshot.files)
        if (!f.name.empty() && (!only || std::find(only->begin(), only->end(), code) != only->end()))
            codes.push_back(code);
    if (codes.empty())
        return;
    // The messages come back in `failures`; the downloads are one action.
    TQuietReports quiet;
    TKvMenu::TAction action(unit_.Session());
    const int total = static_cast<int>(codes.size());
    int done = 0;
    for (int32_t code : codes) {
        const TSnapshotLayout::TSlot* slot = layout_.Slot(code);
        const TVoiceFileValues& values = snapshot.files[code];
        progress(done++, total, slot ? slot->name : std::to_string(code));
        std::string why;
        const std::string path = VoiceFilePath(snapshotPath, code, values.name);
        if (!slot) {
            why = "нет такой ячейки";
        } else if (!connected()) {
            why = "связь с устройством прервана";
        } else if (unit_.Session().ActionFailed()) {
            why = "устройство не отвечает";
        } else if (!SafeFileName(values.name)) {
            why = "имя файла \"" + values.name + "\" непригодно для файла на компьютере";
        } else if (!MakeVoiceFolders({VoiceFolder(snapshotPath), std::filesystem::path(path).parent_path()}, why)) {
            // why says which folder
        } else {
            int exitCode = 0;
            const TOutcome got = unit_.Download(*slot->object, path, &exitCode);
            if (!got.Ok())
                why = joined(got.message, "; ");
            else if (!isFile(path))
                why = "файл не получен (код " + std::to_string(exitCode) + ")";
            // The snapshot records what it holds, for the restore to check.
            else if ((snapshot.files[code].sha256 = VoiceFileHash(snapshotPath, code, values.name)).empty())
                why = "полученный файл " + path + " не читается";
        }
        if (!why.empty()) {
            failures.push_back((slot ? slot->name : std::to_string(code)) + ": " + why);
            snapshot.files.erase(code);
        }
    }
}

bool TBackup::Save(const TSnapshot& snapshot, const std::string& path, bool withFiles, std::string& error)
{
    // A snapshot holds the passwords: for its owner's eyes only.
    TReportFile file;
    if (!file.Create(path, TReportFile::TAccess::OwnerOnly) || !file.Commit(layout_.Write(snapshot, withFiles))) {
        error = file.Error();
        return false;
    }
    return true;
}

bool TBackup::Load(const std::string& path, TSnapshot& snapshot, std::string& error)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "Не удалось прочитать файл " + path + ": " + ec.message();
        return false;
    }
    if (size > kMaxSnapshotBytes) {
        error = path + ": файл слишком велик для снимка настроек";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) {
        error = "Не удалось прочитать файл " + path + ": " + std::strerror(errno);
        return false;
    }
    TSnapshotError e;
    if (!layout_.Read(text.str(), snapshot, e)) {
        error = path + ": " + e.Message();
        return false;
    }
    return true;
}

// ---- restore

namespace {

// The order of the writes: settings, voice menus, the list (removals
// first, so that a full list takes the additions), mailboxes (deletions
// first, then size changes, then new ones, so that freed memory is there
// for them), system items, voice files, and the passwords last, so that a
// repeated login on the way still has the password it started with.
int stage(const TDifference& d, const TSnapshotLayout& layout)
{
    switch (d.kind) {
    case TDifference::Param: {
        const auto* p = layout.Param(d.code);
        if (p && p->password)
            return p->system ? 10 : 9;
        return d.system ? 7 : 0;
    }
    case TDifference::MenuCode:
    case TDifference::MenuKey: return 1;
    case TDifference::ListRemove: return 2;
    case TDifference::ListAdd: return 3;
    case TDifference::MailDelete: return 4;
    case TDifference::MailEdit: return 5;
    case TDifference::MailCreate: return 6;
    case TDifference::VoiceFile: return 8;
    default: return 11;
    }
}

}  // namespace

bool TBackup::Restore(const TSnapshot& unit, const TSnapshot& file, const std::string& filePath,
                      const TComparison& comparison, TRestoreSummary& summary, std::string& error)
{
    summary = {};
    summary.systemSkipped = comparison.notCompared;
    // Nothing was written: no item has an outcome.
    auto refuse = [&](const std::string& why) {
        summary.items.clear();
        error = why;
        return false;
    };
    if (!connected()) {
        error = TUnit::kNotConnected;
        summary.unitFailure = true;
        return false;
    }
    const bool system = unit_.SystemMode();

    // What is to be written, and what is skipped.
    std::vector<size_t> toWrite;
    TPrivateFolder staged;
    std::map<int32_t, std::string> stagedPaths;
    for (const TDifference& d : comparison.differences) {
        if (!d.checked || !d.Writable())
            continue;
        TRestoreSummary::TItem item{d, {}};
        if (d.system && !system) {
            item.result = {TRestoreResult::Skipped, "только в системном режиме"};
        } else if (d.kind == TDifference::MailDelete && !(confirmDelete && confirmDelete(d.entry))) {
            item.result = {TRestoreResult::Skipped, "удаление не подтверждено"};
        } else if (d.kind == TDifference::VoiceFile && d.inFile && !file.files.at(d.code).name.empty()) {
            // Checked against the snapshot and copied aside before anything
            // is written; the upload reads the copy.
            const TVoiceFileValues& want = file.files.at(d.code);
            const std::string local = VoiceFilePath(filePath, d.code, want.name);
            struct stat st {};
            if (!SafeFileName(want.name) || ::lstat(local.c_str(), &st) != 0)
                return refuse(filePath + ": нет голосового файла " + local);
            std::string copy, why;
            if (!CopyVoiceFile(filePath, d.code, want, staged, copy, why))
                return refuse(filePath + ": голосовой файл " + local + ": " + why);
            stagedPaths[d.code] = copy;
            toWrite.push_back(summary.items.size());
        } else {
            toWrite.push_back(summary.items.size());
        }
        summary.items.push_back(std::move(item));
    }
    std::stable_sort(toWrite.begin(), toWrite.end(), [&](size_t a, size_t b) {
        return stage(summary.items[a].difference, layout_) < stage(summary.items[b].difference, layout_);
    });
    if (toWrite.empty())
        return true;

    // The unit as it is, kept next to the file before anything is written.
    {
        TSnapshot undo = unit;
        undo.files.clear();
        std::vector<int32_t> voice;
        for (size_t i : toWrite) {
            const TDifference& d = summary.items[i].difference;
            if (d.kind == TDifference::VoiceFile && unit.files.count(d.code)) {
                undo.files[d.code] = unit.files.at(d.code);
                voice.push_back(d.code);
            }
        }
        const std::string path = UndoPath(filePath);
        std::vector<std::string> failures;
        DownloadVoiceFiles(undo, path, failures, &voice);
        const char* const notSaved = "Снимок для отмены не сохранён, на устройство ничего не записано:\n";
        if (!failures.empty()) {
            refuse(notSaved + joined(failures, "\n"));
            summary.unitFailure = true;
            return false;
        }
        std::string why;
        if (!Save(undo, path, !undo.files.empty(), why))
            return refuse(notSaved + why);
        summary.undoPath = path;
    }

    // Each write's messages come back in its row of the summary. The
    // writes are one action: once one finds the unit silent, the session
    // starts nothing more of it.
    TQuietReports quiet;
    TKvMenu::TAction action(unit_.Session());
    TCatalogue& c = unit_.Catalogue();
    TListDlg* list = c.extensionList.get();
    TMailDlg* mail = c.mailboxes.get();
    std::vector<bool> done(summary.items.size(), false);
    const int total = static_cast<int>(toWrite.size());
    int step = 0;

    auto finish = [&](size_t i, const TOutcome& outcome, bool ok, const std::string& kept) {
        TRestoreResult& r = summary.items[i].result;
        if (outcome.kind == TOutcome::LineLost)
            r = {TRestoreResult::LineLost, joined(outcome.message, "; ")};
        else if (!outcome.Ok())
            r = {TRestoreResult::Refused, joined(outcome.message, "; ")};
        else if (ok)
            r = {TRestoreResult::Took, {}};
        else
            r = {TRestoreResult::NotTaken, kept};
        done[i] = true;
    };

    for (size_t i : toWrite) {
        if (done[i])
            continue;
        const TDifference& d = summary.items[i].difference;
        progress(step++, total, d.name);
        if (stopRequested && stopRequested()) {
            summary.items[i].result = {TRestoreResult::NotWritten, "остановлено"};
            summary.stopped = true;
            done[i] = true;
            continue;
        }
        if (!connected()) {
            summary.items[i].result = {TRestoreResult::NotWritten, "связь с устройством прервана"};
            done[i] = true;
            continue;
        }
        if (unit_.Session().ActionFailed()) {
            // An earlier write found the unit silent: the session starts
            // nothing more in this restore.
            summary.items[i].result = {TRestoreResult::NotWritten, "устройство не отвечает"};
            done[i] = true;
            continue;
        }
        switch (d.kind) {
        case TDifference::Param: {
            const auto* p = layout_.Param(d.code);
            const std::string& value = file.params.at(d.code);
            TSnapshotLayout::SetValue(*p, value);
            const TOutcome wrote = unit_.WriteValue(*p->object);
            const std::string now = TSnapshotLayout::Value(*p);
            finish(i, wrote, now == value, "на устройстве осталось " + ShownValue(true, TSnapshotLayout::Display(*p, now)));
            break;
        }
        case TDifference::MenuCode:
        case TDifference::MenuKey: {
            // One write per menu: the unit's values with every ticked
            // difference of that menu put in.
            const auto* m = layout_.Menu(d.code);
            const TMenuValues& want = file.menus.at(d.code);
            TMenuValues values = unit.menus.at(d.code);
            std::vector<size_t> group;
            for (size_t j : toWrite) {
                const TDifference& o = summary.items[j].difference;
                if (done[j] || o.code != d.code || (o.kind != TDifference::MenuCode && o.kind != TDifference::MenuKey))
                    continue;
                group.push_back(j);
                if (o.kind == TDifference::MenuCode)
                    values.callCode = want.callCode;
                else
                    values.keys[static_cast<size_t>(o.key)] = want.keys[static_cast<size_t>(o.key)];
            }
            // A refused write is read back by the unit, so that the object
            // holds the unit's values.
            const TOutcome wrote = unit_.WriteMenu(*m->object, values.callCode, values.keys);
            const TMenuValues now = TSnapshotLayout::Values(*m->object);
            for (size_t j : group) {
                const TDifference& o = summary.items[j].difference;
                const bool ok = o.kind == TDifference::MenuCode
                                    ? now.callCode == want.callCode
                                    : now.keys[static_cast<size_t>(o.key)] == want.keys[static_cast<size_t>(o.key)];
                const std::string kept = o.kind == TDifference::MenuCode
                                             ? codeText(now.callCode)
                                             : now.keys[static_cast<size_t>(o.key)];
                finish(j, wrote, ok, "на устройстве осталось " + ShownValue(true, kept));
            }
            break;
        }
        case TDifference::ListAdd:
        case TDifference::ListRemove: {
            const bool add = d.kind == TDifference::ListAdd;
            const auto before = std::count(list->items.begin(), list->items.end(), d.entry);
            const TOutcome wrote = add ? unit_.AddEntry(d.entry) : unit_.RemoveEntry(d.entry);
            const auto after = std::count(list->items.begin(), list->items.end(), d.entry);
            finish(i, wrote, add ? after > before : after < before,
                   add ? "номера нет в списке устройства" : "номер остался в списке устройства");
            break;
        }
        case TDifference::MailCreate:
        case TDifference::MailEdit: {
            const TBoxValues* want = findBox(file.boxes, d.entry);
            const TOutcome wrote = d.kind == TDifference::MailCreate
                                       ? unit_.CreateBox(want->owner, want->size, want->mode, want->period)
                                       : unit_.EditBox(want->owner, want->size, want->mode, want->period);
            const int32_t at = boxIndex(*mail, d.entry);
            const bool ok = at >= 0 && mail->boxes[static_cast<size_t>(at)].size == want->size;
            finish(i, wrote, ok,
                   at < 0 ? "ящика нет на устройстве"
                          : "на устройстве размер " + FormatMinSec(mail->boxes[static_cast<size_t>(at)].size));
            break;
        }
        case TDifference::MailDelete: {
            TOutcome wrote;
            if (boxIndex(*mail, d.entry) >= 0)
                wrote = unit_.DeleteBox(d.entry);
            finish(i, wrote, boxIndex(*mail, d.entry) < 0, "ящик остался на устройстве");
            break;
        }
        case TDifference::VoiceFile: {
            const auto* slot = layout_.Slot(d.code);
            const TVoiceFileValues& want = file.files.at(d.code);
            const TOutcome wrote = want.name.empty() ? unit_.ClearFile(*slot->object)
                                                     : unit_.Upload(*slot->object, stagedPaths.at(d.code));
            const TVoiceFileValues now = TSnapshotLayout::Values(*slot->object);
            finish(i, wrote, now == want, "на устройстве " + fileText(*slot, now));
            break;
        }
        default:
            break;
        }
    }
    return true;
}

}  // namespace kv
