#include "fleet/Fleet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "collections/Factory.h"
#include "fleet/Children.h"
#include "fleet/FleetFile.h"
#include "fleet/FleetPanel.h"
#include "fleet/Repository.h"
#include "fleet/Runner.h"
#include "fleet/Stores.h"
#include "settings/Catalogue.h"

namespace kv {

const char* const kFleetUsageText =
    "Парк устройств:\n"
    "  kvbackup fleet ФАЙЛ run [--unit ИМЯ] [--on-change КОМАНДА] [--on-failure КОМАНДА]\n"
    "  kvbackup fleet ФАЙЛ status [--json]\n"
    "  kvbackup fleet ФАЙЛ history ИМЯ\n"
    "  kvbackup fleet ФАЙЛ restore ИМЯ ВЕРСИЯ [--yes]\n"
    "  kvbackup fleet ФАЙЛ install-timer [--on-calendar РАСПИСАНИЕ] [--on-change КОМАНДА] [--on-failure КОМАНДА]\n"
    "ФАЙЛ - файл парка (TOML): repository, parallel, timeout и таблицы [[unit]]\n"
    "с name, device, password-file, voice-files, timeout.\n"
    "  run            снимки устройств в историю (git): коммит на каждое изменившееся\n"
    "                 устройство; КОМАНДА оповещения получает имя устройства и файл\n"
    "                 с изменениями или с сообщением об ошибке\n"
    "  status         последняя попытка, успех, изменение, ошибки с и последнее сообщение\n"
    "  history        версии устройства с их изменениями\n"
    "  restore        версия из истории на устройство (различия, затем запись;\n"
    "                 прежнее состояние сохраняется)\n"
    "  install-timer  пользовательские service и timer systemd для run (по умолчанию ежедневно)\n"
    "Коды выхода: 0 - сделано всё; 1 - не все устройства; 2 - командная строка;\n"
    "3 - файл парка, репозиторий или его хранилища.\n";

namespace {

namespace fs = std::filesystem;

void say(const std::string& text)
{
    std::fprintf(stderr, "kvbackup: %s\n", text.c_str());
}

int usage(const std::string& why)
{
    say(why);
    std::fputs(kFleetUsageText, stderr);
    return kFleetUsage;
}

// Takes "--option VALUE" pairs and "--flag"s after the fixed arguments.
struct TOptions {
    std::map<std::string, std::string> values;
    std::map<std::string, bool> flags;

    bool Parse(const std::vector<std::string>& args, size_t from, const std::vector<std::string>& withValue,
               const std::vector<std::string>& flagNames, std::string& error)
    {
        for (size_t i = from; i < args.size(); ++i) {
            const std::string& a = args[i];
            auto in = [&a](const std::vector<std::string>& names) {
                for (const auto& n : names)
                    if (n == a)
                        return true;
                return false;
            };
            if (in(withValue) && !values.count(a)) {
                if (i + 1 >= args.size() || args[i + 1].empty()) {
                    error = a + ": нет значения";
                    return false;
                }
                values[a] = args[++i];
            } else if (in(flagNames) && !flags.count(a)) {
                flags[a] = true;
            } else {
                error = "лишний аргумент \"" + a + "\"";
                return false;
            }
        }
        return true;
    }
    std::string Value(const std::string& name) const
    {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
    bool Flag(const std::string& name) const { return flags.count(name) > 0; }
};

std::string shownTime(const std::string& t)
{
    return t.empty() ? "никогда" : t;
}

int status(const TFleet& fleet, bool json)
{
    TRepository repository;
    std::string error;
    std::vector<std::string> names;
    for (const TFleetUnit& u : fleet.units)
        names.push_back(u.name);
    TStatusFile file("");
    if (repository.Open(fleet.repository, false, error)) {
        file = TStatusFile(TStatusFile::PathFor(repository.GitFolder()));
        if (!file.Load(error)) {
            say(error);
            return kFleetFile;
        }
    }
    bool allWell = true;
    for (const std::string& name : names) {
        const TUnitStatus* s = file.Find(name);
        allWell = allWell && s && !s->Failing() && !s->lastSuccess.empty();
    }
    if (json) {
        std::fputs(file.Json(names).c_str(), stdout);
        return allWell ? kFleetDone : kFleetIncomplete;
    }
    for (const std::string& name : names) {
        const TUnitStatus* found = file.Find(name);
        const TUnitStatus s = found ? *found : TUnitStatus{};
        std::string line = name + ": ";
        if (s.lastAttempt.empty())
            line += "ещё не сохранялось";
        else if (s.Failing())
            line += "ОШИБКА с " + s.failingSince;
        else
            line += "в порядке";
        line += "; успех: " + shownTime(s.lastSuccess) + "; изменение: " + shownTime(s.lastChange) +
                "; попытка: " + shownTime(s.lastAttempt);
        if (!s.lastMessage.empty())
            line += "; " + s.lastMessage;
        std::printf("%s\n", line.c_str());
    }
    return allWell ? kFleetDone : kFleetIncomplete;
}

int history(const TFleet& fleet, const std::string& name)
{
    if (!fleet.Unit(name))
        return usage("в файле " + fleet.path + " нет устройства \"" + name + "\"");
    TRepository repository;
    std::string error;
    std::vector<TRepository::TVersion> versions;
    if (!repository.Open(fleet.repository, false, error) || !repository.History(name, versions, error)) {
        say(error);
        return kFleetFile;
    }
    if (versions.empty())
        std::printf("%s: в истории нет версий\n", name.c_str());
    for (const auto& v : versions) {
        std::istringstream in(v.message);
        std::string line;
        std::getline(in, line);
        std::printf("%s  %s  %s\n", v.shortId.c_str(), v.when.c_str(), line.c_str());
        while (std::getline(in, line))
            if (!line.empty())
                std::printf("    %s\n", line.c_str());
    }
    return kFleetDone;
}

int restore(const TFleet& fleet, const std::string& name, const std::string& revision, bool yes, const std::string& self)
{
    const TFleetUnit* unit = fleet.Unit(name);
    if (!unit)
        return usage("в файле " + fleet.path + " нет устройства \"" + name + "\"");
    std::string error, path, commit;
    if (const int written = WriteVersionFile(fleet, name, revision, path, error, &commit); written != kFleetDone) {
        say(error);
        return written;
    }
    std::printf("%s: версия %s на устройство %s\n", name.c_str(), commit.substr(0, 8).c_str(), unit->device.c_str());
    std::fflush(stdout);
    TChildren children;
    TChildren::TLaunch launch;
    launch.argv = {self, "--password-file", unit->passwordFile, unit->device, "restore", path};
    if (yes)
        launch.argv.push_back("--yes");
    launch.inheritStdin = true;
    // A restore asks on the terminal; its deadline leaves room for answers.
    launch.timeout = std::chrono::seconds(std::max(4 * unit->timeout, 3600));
    int result = kFleetFile;
    if (!children.Start(
            launch,
            [&result, timeout = launch.timeout](const TChildren::TEnd& end) {
                result = end.status >= 0 ? end.status : kFleetIncomplete;
                if (end.status != 0)
                    say("восстановление " + EndText(end, timeout));
            },
            error)) {
        say(error);
        return kFleetFile;
    }
    children.Wait();
    if (result == 0)
        std::printf("Чтобы записать новое состояние в историю: kvbackup fleet %s run --unit %s\n", fleet.path.c_str(),
                    name.c_str());
    return result;
}

// A word of a systemd command line: quoted, with its specifiers kept as text.
std::string unitWord(const std::string& word)
{
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '%')
            out += '%';
        out += c;
    }
    return out + "\"";
}

int installTimer(const TFleet& fleet, const TOptions& options, const std::string& self)
{
    const std::string calendar = options.Value("--on-calendar").empty() ? "daily" : options.Value("--on-calendar");
    for (char c : calendar)
        if (c == '\n' || c == '\r')
            return usage("--on-calendar: управляющий символ в расписании");
    std::string base = fs::path(fleet.path).stem().string();
    for (char& c : base)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            c = '_';
    const std::string name = "kvbackup-fleet-" + base;
    std::string folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        folder = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = std::string(home) + "/.config";
    else
        return usage("не задан HOME: некуда записать таймер");
    folder += "/systemd/user";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        say(folder + ": " + ec.message());
        return kFleetFile;
    }
    std::string command = unitWord(self) + " fleet " + unitWord(fleet.path) + " run";
    for (const char* alert : {"--on-change", "--on-failure"})
        if (!options.Value(alert).empty())
            command += std::string(" ") + alert + " " + unitWord(options.Value(alert));
    const std::string service =
        "[Unit]\n"
        "Description=kvbackup fleet: backs up the units of " + fleet.path + "\n"
        "Wants=network-online.target\n"
        "After=network-online.target\n"
        "\n"
        "[Service]\n"
        "Type=oneshot\n"
        "ExecStart=" + command + "\n";
    const std::string timer =
        "[Unit]\n"
        "Description=kvbackup fleet: scheduled backups of " + fleet.path + "\n"
        "\n"
        "[Timer]\n"
        "OnCalendar=" + calendar + "\n"
        "Persistent=true\n"
        "RandomizedDelaySec=30min\n"
        "\n"
        "[Install]\n"
        "WantedBy=timers.target\n";
    std::string error;
    const std::string servicePath = folder + "/" + name + ".service";
    const std::string timerPath = folder + "/" + name + ".timer";
    if (!ReplaceFile(servicePath, service, 0644, error) || !ReplaceFile(timerPath, timer, 0644, error)) {
        say(error);
        return kFleetFile;
    }
    std::printf("Записано: %s\n          %s\n"
                "Включить таймер:\n"
                "  systemctl --user daemon-reload\n"
                "  systemctl --user enable --now %s.timer\n"
                "Чтобы он срабатывал и без входа в систему: loginctl enable-linger\n"
                "Запустить сейчас: systemctl --user start %s.service\n",
                servicePath.c_str(), timerPath.c_str(), name.c_str(), name.c_str());
    return kFleetDone;
}

}  // namespace

std::string SelfPath(const char* argv0)
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(argv0) : self.string();
}

int FleetMain(const std::vector<std::string>& args, const std::string& self)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kFleetUsageText, stdout);
        return kFleetDone;
    }
    if (args.size() < 2)
        return usage("не хватает аргументов");
    const std::string& verb = args[1];
    TOptions options;
    std::string error;
    size_t fixed = 2;
    bool parsed = false;
    if (verb == "run")
        parsed = options.Parse(args, fixed, {"--unit", "--on-change", "--on-failure"}, {}, error);
    else if (verb == "status")
        parsed = options.Parse(args, fixed, {}, {"--json"}, error);
    else if (verb == "history")
        parsed = args.size() >= 3 && options.Parse(args, fixed = 3, {}, {}, error);
    else if (verb == "restore")
        parsed = args.size() >= 4 && options.Parse(args, fixed = 4, {}, {"--yes"}, error);
    else if (verb == "install-timer")
        parsed = options.Parse(args, fixed, {"--on-calendar", "--on-change", "--on-failure"}, {}, error);
    else
        return usage("неизвестная команда парка \"" + verb + "\"");
    if (!parsed)
        return usage(error.empty() ? "не хватает аргументов" : error);

    // The whole fleet file is checked before any unit is contacted.
    TFleet fleet;
    if (!ReadFleetFile(args[0], fleet, error)) {
        say(error);
        return kFleetFile;
    }
    if (verb == "run") {
        TRunOptions run;
        run.unit = options.Value("--unit");
        run.onChange = options.Value("--on-change");
        run.onFailure = options.Value("--on-failure");
        run.self = self;
        if (!run.unit.empty() && !fleet.Unit(run.unit))
            return usage("в файле " + fleet.path + " нет устройства \"" + run.unit + "\"");
        return RunFleet(fleet, run);
    }
    if (verb == "status")
        return status(fleet, options.Flag("--json"));
    if (verb == "history")
        return history(fleet, args[2]);
    if (verb == "restore")
        return restore(fleet, args[2], args[3], options.Flag("--yes"), self);
    return installTimer(fleet, options, self);
}

}  // namespace kv
