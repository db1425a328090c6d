#include "fleet/FleetPanel.h"

#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "collections/Factory.h"
#include "fleet/Changes.h"
#include "fleet/Fleet.h"
#include "fleet/Repository.h"
#include "fleet/Runner.h"
#include "settings/Catalogue.h"

namespace kv {

namespace fs = std::filesystem;

int WriteVersionFile(const TFleet& fleet, const std::string& name, const std::string& revision, std::string& path,
                     std::string& error, std::string* resolved)
{
    TRepository repository;
    std::string commit;
    if (!repository.Open(fleet.repository, false, error))
        return kFleetFile;
    if (!repository.Resolve(revision, commit, error))
        return kFleetUsage;
    std::map<std::string, std::string> files;
    if (!repository.ReadFolder(commit, name, files) || !files.count(kSnapshotFile)) {
        error = "в версии " + commit.substr(0, 8) + " нет снимка устройства " + name;
        return kFleetUsage;
    }
    // The passwords of that version, from the store.
    std::string& snapshot = files[kSnapshotFile];
    const std::string key = PasswordKey(files[kPasswordsFile]);
    if (!key.empty()) {
        TPasswordStore store(TPasswordStore::PathFor(repository.Folder()));
        TPasswords passwords;
        if (!store.Load(error))
            return kFleetFile;
        if (!store.Find(name, key, passwords)) {
            error = "паролей версии " + commit.substr(0, 8) + " нет в хранилище " + store.Path() +
                    ": без них эта версия не восстанавливается";
            return kFleetFile;
        }
        TCatalogue catalogue(CollectionFactory());
        TSnapshotLayout layout(catalogue);
        TSnapshot s;
        TSnapshotError readError;
        if (!layout.Read(snapshot, s, readError)) {
            error = "снимок версии " + commit.substr(0, 8) + " не читается: " + readError.Message();
            return kFleetFile;
        }
        PutPasswords(s, passwords);
        snapshot = layout.Write(s, !s.files.empty());
    }
    files.erase(kPasswordsFile);
    // Readable by its owner only (it holds the passwords); the restore
    // leaves the undo snapshot beside it.
    const std::string folder = FleetFolder(repository.GitFolder()) + "/restore";
    ::mkdir(folder.c_str(), 0700);
    const std::string place = folder + "/" + name + "-" + commit.substr(0, 8);
    std::error_code ec;
    fs::create_directories(place, ec);
    ::chmod(place.c_str(), 0700);
    for (const auto& [file, content] : files) {
        const fs::path target = fs::path(place) / file;
        fs::create_directories(target.parent_path(), ec);
        if (!ReplaceFile(target.string(), content, 0600, error))
            return kFleetFile;
    }
    path = place + "/" + kSnapshotFile;
    if (resolved)
        *resolved = commit;
    return kFleetDone;
}

const std::array<const char*, 5>& TFleetPanel::Headers()
{
    static const std::array<const char*, 5> headers = {"Имя", "Устройство", "Последний успех",
                                                       "Последнее изменение", "Ошибка с"};
    return headers;
}

bool TFleetPanel::Open(const std::string& fleetFile, std::string& error)
{
    TFleet fleet;
    if (!ReadFleetFile(fleetFile, fleet, error)) {
        fleet_ = {};
        rows_.clear();
        return false;
    }
    fleet_ = std::move(fleet);
    return Refresh(error);
}

bool TFleetPanel::Refresh(std::string& error)
{
    if (!IsOpen())
        return false;
    TFleet fleet;
    if (!ReadFleetFile(fleet_.path, fleet, error))
        return false;
    fleet_ = std::move(fleet);
    // Before the first run there is no repository and so no status.
    TStatusFile status("");
    TRepository repository;
    std::string missing;
    if (repository.Open(fleet_.repository, false, missing)) {
        status = TStatusFile(TStatusFile::PathFor(repository.GitFolder()));
        if (!status.Load(error))
            return false;
    }
    rows_.clear();
    for (const TFleetUnit& unit : fleet_.units) {
        const TUnitStatus* found = status.Find(unit.name);
        const TUnitStatus s = found ? *found : TUnitStatus{};
        TRow row;
        row.name = unit.name;
        row.device = unit.device;
        row.lastSuccess = s.lastSuccess.empty() ? kNever : s.lastSuccess;
        row.lastChange = s.lastChange.empty() ? kNever : s.lastChange;
        row.failingSince = s.failingSince;
        row.lastMessage = s.lastMessage;
        row.failing = s.Failing();
        rows_.push_back(std::move(row));
    }
    return true;
}

bool TFleetPanel::History(const std::string& name, std::vector<TVersion>& versions, std::string& error) const
{
    versions.clear();
    if (!fleet_.Unit(name)) {
        error = "в файле " + fleet_.path + " нет устройства \"" + name + "\"";
        return false;
    }
    // No history yet before the first run.
    std::error_code ec;
    if (!fs::exists(fs::path(fleet_.repository) / ".git", ec))
        return true;
    TRepository repository;
    if (!repository.Open(fleet_.repository, false, error))
        return false;
    std::vector<TRepository::TVersion> found;
    if (!repository.History(name, found, error))
        return false;
    for (const auto& v : found) {
        TVersion version{v.id, v.shortId, v.when, {}, {}};
        std::istringstream in(v.message);
        std::getline(in, version.subject);
        std::string line;
        while (std::getline(in, line))
            if (!line.empty())
                version.changes.push_back(line);
        versions.push_back(std::move(version));
    }
    return true;
}

std::vector<std::string> TFleetPanel::RunArguments(const std::string& unit) const
{
    std::vector<std::string> args = {"fleet", fleet_.path, "run"};
    if (!unit.empty()) {
        args.push_back("--unit");
        args.push_back(unit);
    }
    return args;
}

std::string TFleetPanel::RunSummary(int exitStatus, bool crashed, const std::string& out, const std::string& err)
{
    auto lastLine = [](const std::string& text) {
        std::istringstream in(text);
        std::string line, last;
        while (std::getline(in, line))
            if (!line.empty())
                last = line;
        return last;
    };
    if (crashed)
        return "Сохранение прервано: kvbackup завершился аварийно";
    if (exitStatus == kFleetDone || exitStatus == kFleetIncomplete) {
        std::string summary = lastLine(out);
        if (summary.empty())
            summary = lastLine(err);
        return exitStatus == kFleetDone ? summary : "Не все устройства сохранены: " + summary;
    }
    std::string why = lastLine(err);
    if (why.rfind("kvbackup: ", 0) == 0)
        why.erase(0, 10);
    return "Сохранение не выполнено: " + (why.empty() ? "код выхода " + std::to_string(exitStatus) : why);
}

std::string TFleetPanel::SecretKey(const std::string& name) const
{
    return "fleet " + fleet_.path + " unit " + name;
}

std::string TFleetPanel::ConnectPassword(const std::string& name, const std::string& remembered) const
{
    if (!remembered.empty())
        return remembered;
    const TFleetUnit* unit = fleet_.Unit(name);
    std::string password, error;
    if (unit && ReadPasswordFile(unit->passwordFile, password, error))
        return password;
    return {};
}

}  // namespace kv
