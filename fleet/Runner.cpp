#include "fleet/Runner.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "collections/Factory.h"
#include "fleet/Changes.h"
#include "fleet/Children.h"
#include "fleet/Fleet.h"
#include "fleet/Repository.h"
#include "fleet/Stores.h"
#include "settings/Catalogue.h"
#include "backup/Snapshot.h"

namespace kv {

const char* const kSnapshotFile = "snapshot.kvs";
const char* const kPasswordsFile = "passwords";

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::seconds kAlertTimeout{60};
const char* const kKeyWord = "key ";

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The last lines kvbackup printed on its standard error, without its prefix.
std::string childMessage(const std::string& errPath)
{
    std::istringstream in(readWhole(errPath));
    std::string line, message;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        if (line.empty() || line.rfind("Использование:", 0) == 0)
            continue;
        if (line.rfind("kvbackup: ", 0) == 0)
            line.erase(0, 10);
        if (!message.empty())
            message += "; ";
        message += line;
    }
    return message;
}

std::string passwordsText(const std::string& key)
{
    return "# Пароли этой версии - в хранилище паролей рядом с репозиторием, под ключом:\n" + std::string(kKeyWord) +
           key + "\n";
}

class TRunner {
public:
    TRunner(const TFleet& fleet, const TRunOptions& options)
        : fleet_(fleet), options_(options), catalogue_(CollectionFactory()), layout_(catalogue_)
    {
    }

    int Run()
    {
        std::string error;
        std::vector<const TFleetUnit*> units;
        for (const TFleetUnit& u : fleet_.units)
            if (options_.unit.empty() || u.name == options_.unit)
                units.push_back(&u);
        if (units.empty()) {
            say("в файле " + fleet_.path + " нет устройства \"" + options_.unit + "\"");
            return kFleetUsage;
        }
        if (!repository_.Open(fleet_.repository, true, error)) {
            say(error);
            return kFleetFile;
        }
        const std::string folder = FleetFolder(repository_.GitFolder());
        lock_ = std::make_unique<TFleetLock>(repository_.GitFolder());
        if (!lock_->Held()) {
            say("репозиторий " + repository_.Folder() + " занят другим запуском kvbackup fleet");
            return kFleetFile;
        }
        passwords_ = std::make_unique<TPasswordStore>(TPasswordStore::PathFor(repository_.Folder()));
        status_ = std::make_unique<TStatusFile>(TStatusFile::PathFor(repository_.GitFolder()));
        if (!passwords_->Load(error) || !status_->Load(error)) {
            say(error);
            return kFleetFile;
        }
        // What an earlier run that was stopped left behind.
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (e.path().filename().string().rfind("run-", 0) == 0)
                fs::remove_all(e.path(), ec);
        stage_ = folder + "/run-" + std::to_string(::getpid());
        if (!fs::create_directory(stage_, ec)) {
            say(stage_ + ": " + ec.message());
            return kFleetFile;
        }

        std::deque<const TFleetUnit*> waiting(units.begin(), units.end());
        const size_t parallel = static_cast<size_t>(fleet_.parallel);
        while (!waiting.empty() || children_.Running() > 0) {
            while (!waiting.empty() && busy_ < parallel) {
                start(*waiting.front());
                waiting.pop_front();
            }
            if (!children_.Wait())
                break;
        }
        fs::remove_all(stage_, ec);
        std::printf("сохранено устройств: %d из %zu\n", succeeded_, units.size());
        std::fflush(stdout);
        return succeeded_ == static_cast<int>(units.size()) ? kFleetDone : kFleetIncomplete;
    }

private:
    struct TResult {
        bool ok = false;
        bool committed = false;
        std::string summary;  // for the summary line and the status
        std::string alert;    // the alert file's text
    };

    void say(const std::string& text)
    {
        std::fprintf(stderr, "kvbackup: %s\n", text.c_str());
        std::fflush(stderr);
    }

    std::string file(const TFleetUnit& u, const std::string& what) const { return stage_ + "/" + u.name + what; }

    void start(const TFleetUnit& u)
    {
        const std::string started = SnapshotTime();
        TChildren::TLaunch launch;
        launch.argv = {options_.self, "--password-file", u.passwordFile, u.device, "snapshot", file(u, ".kvs")};
        if (u.voiceFiles)
            launch.argv.push_back("--voice-files");
        launch.stdoutPath = file(u, ".out");
        launch.stderrPath = file(u, ".err");
        launch.timeout = std::chrono::seconds(u.timeout);
        std::string error;
        ++busy_;
        const bool started_ok = children_.Start(
            launch,
            [this, &u, started, timeout = launch.timeout](const TChildren::TEnd& end) {
                --busy_;
                finish(u, started, end.status == 0 ? TResult{} : failed(u, end, timeout));
            },
            error);
        if (!started_ok) {
            --busy_;
            TResult r;
            r.summary = "kvbackup не запустился: " + error;
            finish(u, started, r, false);
        }
    }

    TResult failed(const TFleetUnit& u, const TChildren::TEnd& end, std::chrono::milliseconds timeout)
    {
        TResult r;
        const std::string told = childMessage(file(u, ".err"));
        const std::string how = EndText(end, timeout);
        r.summary = told.empty() ? "снимок " + how : end.timedOut ? "снимок " + how + ": " + told : told;
        return r;
    }

    // The child ended (or could not start); `r` holds its failure, or
    // nothing when it succeeded and its snapshot is to be taken in.
    void finish(const TFleetUnit& u, const std::string& started, TResult r, bool ran = true)
    {
        if (ran && r.summary.empty())
            r = takeIn(u);
        TUnitStatus& s = status_->Unit(u.name);
        s.lastAttempt = started;
        s.lastMessage = r.summary;
        if (r.ok) {
            ++succeeded_;
            s.lastSuccess = SnapshotTime();
            s.failingSince.clear();
            if (r.committed) {
                s.lastChange = s.lastSuccess;
                s.lastCommit = repository_.Head();
            }
        } else if (s.failingSince.empty()) {
            s.failingSince = started;
        }
        std::string error;
        if (!status_->Save(error))
            say(error);
        std::printf("%s: %s%s\n", u.name.c_str(), r.ok ? "" : "ОШИБКА: ", r.summary.c_str());
        std::fflush(stdout);
        const std::string& command = r.ok ? (r.committed ? options_.onChange : std::string()) : options_.onFailure;
        if (!command.empty())
            alert(u, command, r.ok ? r.alert : r.summary + "\n");
    }

    // Reads the unit's new snapshot and commits it when its settings changed.
    TResult takeIn(const TFleetUnit& u)
    {
        TResult r;
        TSnapshot now;
        TSnapshotError readError;
        if (!layout_.Read(readWhole(file(u, ".kvs")), now, readError)) {
            r.summary = "снимок не читается: " + readError.Message();
            return r;
        }
        const TPasswords passwords = PasswordsOf(layout_, now);

        // The unit's last version, with its passwords from the store.
        std::map<std::string, std::string> last;
        const bool hasLast = repository_.ReadFolder("", u.name, last) && last.count(kSnapshotFile);
        TSnapshot before;
        std::string key = hasLast ? PasswordKey(last[kPasswordsFile]) : std::string();
        bool keyKnown = false;
        if (hasLast) {
            if (!layout_.Read(last[kSnapshotFile], before, readError)) {
                r.summary = "последняя версия в истории не читается: " + readError.Message();
                return r;
            }
            TPasswords earlier;
            keyKnown = !key.empty() && passwords_->Find(u.name, key, earlier);
            // Without the store's entry the passwords cannot be compared:
            // they count as unchanged, and the entry is made again.
            PutPasswords(before, keyKnown ? earlier : passwords);
        }

        std::map<std::string, std::string> files;
        std::vector<std::string> lines;
        files[kSnapshotFile] = layout_.Write(WithoutPasswords(layout_, now), u.voiceFiles);
        if (u.voiceFiles)
            collectVoiceFiles(u, files);
        if (hasLast) {
            lines = ChangeLines(layout_, before, now);
            if (lines.empty() && voiceFilesOf(files) != voiceFilesOf(last))
                lines.push_back("Голосовые файлы: содержимое изменилось");
        }
        const bool passwordsChanged = !hasLast || !keyKnown || PasswordsOf(layout_, before) != passwords;
        if (hasLast && lines.empty()) {
            r.ok = true;
            r.summary = "без изменений";
            if (!keyKnown && !passwords.empty() && !key.empty()) {
                passwords_->Put(u.name, key, passwords);
                std::string error;
                if (!passwords_->Save(error)) {
                    r.ok = false;
                    r.summary = error;
                }
            }
            return r;
        }
        if (!passwords.empty()) {
            if (passwordsChanged || key.empty()) {
                key = TPasswordStore::NewKey();
                passwords_->Put(u.name, key, passwords);
                std::string error;
                // The store first: a commit never names a key it lacks.
                if (!passwords_->Save(error)) {
                    r.summary = error;
                    return r;
                }
            }
            files[kPasswordsFile] = passwordsText(key);
        }

        std::string message;
        if (!hasLast) {
            message = u.name + ": первая копия настроек\n\nУстройство: " + u.device + "\nРежим: " +
                      (now.System() ? "системный" : "администратора") + "\n";
            r.summary = "сохранено, первая копия";
        } else {
            message = u.name + ": " + ChangeCount(lines.size()) + "\n\n";
            for (const std::string& line : lines)
                message += line + "\n";
            r.summary = "сохранено, " + ChangeCount(lines.size());
        }
        std::string id, error;
        if (!repository_.Commit(u.name, files, message, id, error)) {
            r.summary = "не записано в историю: " + error;
            return r;
        }
        r.ok = true;
        r.committed = true;
        r.summary += " (" + id.substr(0, 8) + ")";
        r.alert = message;
        return r;
    }

    static std::map<std::string, std::string> voiceFilesOf(const std::map<std::string, std::string>& files)
    {
        std::map<std::string, std::string> out;
        const std::string prefix = std::string(kSnapshotFile) + ".files/";
        for (const auto& [path, content] : files)
            if (path.rfind(prefix, 0) == 0)
                out[path] = content;
        return out;
    }

    void collectVoiceFiles(const TFleetUnit& u, std::map<std::string, std::string>& files) const
    {
        const fs::path root = file(u, ".kvs.files");
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->is_regular_file())
                files[std::string(kSnapshotFile) + ".files/" + it->path().lexically_relative(root).string()] =
                    readWhole(it->path().string());
    }

    void alert(const TFleetUnit& u, const std::string& command, const std::string& text)
    {
        const std::string path = file(u, ".alert");
        std::string error;
        if (!ReplaceFile(path, text, 0600, error)) {
            say(u.name + ": оповещение не отправлено: " + error);
            return;
        }
        TChildren::TLaunch launch;
        launch.argv = {"/bin/sh", "-c", command + " \"$@\"", "kvbackup-alert", u.name, path};
        launch.timeout = kAlertTimeout;
        const std::string name = u.name;
        if (!children_.Start(
                launch,
                [this, name](const TChildren::TEnd& end) {
                    if (end.status != 0)
                        say(name + ": команда оповещения " + EndText(end, kAlertTimeout));
                },
                error))
            say(u.name + ": оповещение не отправлено: " + error);
    }

    const TFleet& fleet_;
    const TRunOptions& options_;
    TCatalogue catalogue_;
    TSnapshotLayout layout_;
    TRepository repository_;
    std::unique_ptr<TFleetLock> lock_;
    std::unique_ptr<TPasswordStore> passwords_;
    std::unique_ptr<TStatusFile> status_;
    TChildren children_;
    std::string stage_;
    // Units being backed up now (alerts do not count).
    size_t busy_ = 0;
    int succeeded_ = 0;
};

}  // namespace

std::string FleetFolder(const std::string& gitFolder)
{
    const std::string folder = gitFolder + "/kvfleet";
    ::mkdir(folder.c_str(), 0700);
    return folder;
}

TFleetLock::TFleetLock(const std::string& gitFolder)
{
    const std::string path = FleetFolder(gitFolder) + "/lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

TFleetLock::~TFleetLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string PasswordKey(const std::string& passwordsFile)
{
    std::istringstream in(passwordsFile);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(kKeyWord, 0) == 0)
            return line.substr(std::string(kKeyWord).size());
    return {};
}

int RunFleet(const TFleet& fleet, const TRunOptions& options)
{
    TRunner runner(fleet, options);
    return runner.Run();
}

}  // namespace kv
