// kvbackup: backs up, compares and restores a unit's settings, and exports
// its settings report, from the command line.
//
//   kvbackup [--password-file FILE] DEVICE snapshot FILE [--voice-files]
//   kvbackup [--password-file FILE] DEVICE compare FILE
//   kvbackup [--password-file FILE] DEVICE restore FILE [--yes]
//   kvbackup [--password-file FILE] DEVICE export REPORT
//
// It runs the main window's form without a window: the same connection,
// the same tabs' reads, the same writes and the same report as the window.
// The password comes from the first line of the --password-file, or from a
// prompt on the terminal that does not echo it; never from the command line.
//
// Exit status: 0 everything asked for was done (compare: no difference);
// 1 compare found differences, or not everything was done (a value the
// unit refused or kept, an item skipped, a voice file not downloaded);
// 2 the command line or the password; 3 a snapshot or report file;
// 4 the unit: no connection, a failed read, the connection lost.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collections/YModemU.h"
#include "fleet/Fleet.h"
#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "session/Dialogs.h"
#include "session/KvMenu.h"
#include "settings/Catalogue.h"
#include "backup/Backup.h"
#include "ui/Export.h"
#include "ui/Form1View.h"
#include "ui/Unit1.h"

using namespace kv;

namespace {

enum TExit { kDone = 0, kIncomplete = 1, kUsage = 2, kFile = 3, kUnit = 4 };

const char* const kUsageText =
    "Использование:\n"
    "  kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО snapshot ФАЙЛ [--voice-files]\n"
    "  kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО compare ФАЙЛ\n"
    "  kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО restore ФАЙЛ [--yes]\n"
    "  kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО export ОТЧЁТ\n"
    "\n"
    "УСТРОЙСТВО - путь к последовательному порту, например /dev/ttyUSB0.\n"
    "Пароль берётся из первой строки файла --password-file или\n"
    "запрашивается на терминале без отображения.\n"
    "  snapshot  снимок настроек устройства в ФАЙЛ (--voice-files: и голосовые\n"
    "            файлы, в папку ФАЙЛ.files)\n"
    "  compare   различия между устройством и снимком, по строке на каждое;\n"
    "            код выхода 0, только когда различий нет\n"
    "  restore   записывает снимок на устройство (без --yes спрашивает);\n"
    "            прежнее состояние сохраняется рядом: ФАЙЛ.undo-...\n"
    "  export    отчёт о настройках, как \"Экспорт настроек в файл...\"\n"
    "Коды выхода: 0 - сделано всё; 1 - есть различия или сделано не всё;\n"
    "2 - командная строка или пароль; 3 - файл; 4 - устройство.\n";

void say(const std::string& text)
{
    std::fprintf(stderr, "kvbackup: %s\n", text.c_str());
}

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}

// ---- the terminal

// The controlling terminal, for the password prompt and the questions;
// standard input and output stay free for scripts.
class TTerminal {
public:
    TTerminal() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
    ~TTerminal()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TTerminal(const TTerminal&) = delete;
    TTerminal& operator=(const TTerminal&) = delete;

    bool Present() const { return fd_ >= 0; }

    // Shows `prompt` and reads one line; without echo when `secret`.
    std::optional<std::string> Ask(const std::string& prompt, bool secret)
    {
        if (fd_ < 0)
            return std::nullopt;
        write(prompt);
        termios saved {};
        const bool quiet = secret && ::tcgetattr(fd_, &saved) == 0;
        if (quiet) {
            termios silent = saved;
            silent.c_lflag &= static_cast<tcflag_t>(~ECHO);
            silent.c_lflag |= ECHONL;
            ::tcsetattr(fd_, TCSAFLUSH, &silent);
        }
        std::string line;
        bool got = false;
        for (;;) {
            char c;
            const ssize_t n = ::read(fd_, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got = true;
            if (c == '\n')
                break;
            line += c;
        }
        if (quiet)
            ::tcsetattr(fd_, TCSAFLUSH, &saved);
        if (!got)
            return std::nullopt;
        return withoutLineEnd(line);
    }

    bool Confirm(const std::string& question)
    {
        const auto answer = Ask(question + " [y/N] ", false);
        return answer && (*answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "д" || *answer == "да");
    }

private:
    void write(const std::string& text)
    {
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    int fd_;
};

// The progress line, only when standard error is a terminal.
class TProgressLine {
public:
    TProgressLine() : on_(::isatty(STDERR_FILENO) == 1) {}
    ~TProgressLine() { Clear(); }
    void Show(const std::string& text)
    {
        if (!on_)
            return;
        std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear()
    {
        if (on_ && shown_)
            std::fprintf(stderr, "\r\x1b[K");
        shown_ = false;
    }

private:
    bool on_;
    bool shown_ = false;
};

TProgressLine g_progress;

// ---- what the form reaches

// Messages on standard error; the password dialog answered with the
// password given, and asked again on the terminal after a refusal.
class TConsoleDialogs : public TDialogs {
public:
    TConsoleDialogs(TTerminal& terminal, std::optional<std::string> password, bool fromFile)
        : terminal_(terminal), password_(std::move(password)), fromFile_(fromFile)
    {
    }
    void Message(TMessageKind, const std::string& text) override
    {
        g_progress.Clear();
        say(withoutLineEnd(text));
    }
    TPasswordAnswer Password() override
    {
        ++asked_;
        if (asked_ == 1 && password_)
            return {true, true, *password_};
        // Asked again: the unit refused the password or was busy.
        if (fromFile_ || asked_ > 3)
            return {};
        g_progress.Clear();
        const auto typed = terminal_.Ask("Пароль: ", true);
        if (!typed || typed->empty())
            return {};
        return {true, true, *typed};
    }

private:
    TTerminal& terminal_;
    std::optional<std::string> password_;
    bool fromFile_;
    int asked_ = 0;
};

class TMemoryStore : public TSettingsStore {
public:
    std::optional<std::string> Value(const std::string& key) const override
    {
        auto it = values_.find(key);
        return it == values_.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void SetValue(const std::string& key, const std::string& value) override { values_[key] = value; }
    void Remove(const std::string& key) override { values_.erase(key); }

private:
    std::map<std::string, std::string> values_;
};

// The window without widgets: the export's file is the one of the command
// line; a transfer runs its form until it closes, with its progress on the
// terminal.
class TConsoleView : public TForm1View {
public:
    void SetCaption(const std::string&) override {}
    void SetApplicationTitle(const std::string&) override {}
    void SetBusyLook(bool) override {}
    void SetControlEnabled(const std::string&, bool) override {}
    int CurrentTab() const override { return kTabNumbers; }
    void SelectTab(int) override {}
    bool ExecutePorts(TFormPorts&) override { return false; }
    std::string OpenFileName() override { return {}; }
    std::string SaveFileName(const std::string&) override { return {}; }
    std::string ExportFileName() override { return exportPath; }
    void ExecuteTransfer(TFormYMU& form) override
    {
        form.onChange = [&form] {
            if (!form.Total().empty())
                g_progress.Show(form.Title() + " " + form.Bytes() + " из " + form.Total());
        };
        if (!form.Show())
            return;
        // The transfer's own event loop: the engine's time-outs end every
        // transfer, and its end closes the form.
        while (!form.Closed())
            UiBridge().ProcessEvents(100);
        form.onChange = nullptr;
    }
    void ExecuteClock(TFormClock&) override {}
    void ShowTrace() override {}
    void CloseWindow() override {}

    std::string exportPath;
};

// ---- the command line

struct TCommand {
    std::optional<std::string> passwordFile;
    std::string device;
    std::string verb;
    std::string path;
    bool yes = false;
    bool voiceFiles = false;
};

bool parse(int argc, char** argv, TCommand& c, std::string& error)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    size_t i = 0;
    if (i < args.size() && args[i] == "--password-file") {
        if (i + 1 >= args.size()) {
            error = "--password-file: нет имени файла";
            return false;
        }
        c.passwordFile = args[i + 1];
        i += 2;
    }
    if (args.size() < i + 3) {
        error = "не хватает аргументов";
        return false;
    }
    c.device = args[i];
    c.verb = args[i + 1];
    c.path = args[i + 2];
    i += 3;
    if (c.verb != "snapshot" && c.verb != "compare" && c.verb != "restore" && c.verb != "export") {
        error = "неизвестная команда \"" + c.verb + "\"";
        return false;
    }
    if (c.device.empty() || c.path.empty()) {
        error = "пустое имя устройства или файла";
        return false;
    }
    for (; i < args.size(); ++i) {
        if (c.verb == "restore" && args[i] == "--yes" && !c.yes)
            c.yes = true;
        else if (c.verb == "snapshot" && args[i] == "--voice-files" && !c.voiceFiles)
            c.voiceFiles = true;
        else {
            error = "лишний аргумент \"" + args[i] + "\"";
            return false;
        }
    }
    return true;
}

// The most of a password file that is read: its first line must end
// within it.
constexpr size_t kPasswordFileLimit = 4096;

// The first line of a regular file (or a link to one), read without
// waiting: a pipe, a device or a terminal is refused, as is a first line
// longer than kPasswordFileLimit.
bool readPassword(const std::string& path, std::string& password, std::string& error)
{
    const std::string prefix = "файл пароля " + path + ": ";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = "не удалось прочитать файл пароля " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = prefix + "это не обычный файл";
        return false;
    }
    std::string text;
    char buf[512];
    bool ended = false;
    while (text.size() < kPasswordFileLimit) {
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, kPasswordFileLimit - text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "не удалось прочитать файл пароля " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            ended = true;
            break;
        }
        text.append(buf, static_cast<size_t>(n));
        if (text.find('\n') != std::string::npos)
            break;
    }
    ::close(fd);
    const size_t newline = text.find('\n');
    if (newline == std::string::npos && !ended) {
        error = prefix + "первая строка длиннее " + std::to_string(kPasswordFileLimit) + " байт";
        return false;
    }
    password = withoutLineEnd(text.substr(0, newline));
    if (password.empty()) {
        error = "в первой строке файла " + path + " нет пароля";
        return false;
    }
    return true;
}

std::string differenceLine(const TDifference& d)
{
    std::string line = d.name;
    if (*d.Operation())
        line += " [" + std::string(d.Operation()) + "]";
    line += ": устройство " + ShownValue(d.onUnit, d.unitText) + ", файл " + ShownValue(d.inFile, d.fileText);
    if (!d.Writable())
        line += " (не восстанавливается)";
    return line;
}

// The session runs for one command: connect, the command, close.
class TRun {
public:
    TRun(const TCommand& command, TTerminal& terminal) : command_(command), terminal_(terminal)
    {
        store_.SetValue(kComPortKey, "1");
        store_.SetValue(DeviceKey(1), command.device);
        view_.exportPath = command.path;
        form_ = std::make_unique<TForm1>(view_, store_, "kvbackup");
        backup_ = std::make_unique<TBackup>(*form_);
        backup_->onProgress = [](int done, int total, const std::string& what) {
            g_progress.Show(what + " (" + std::to_string(done + 1) + "/" + std::to_string(total) + ")");
        };
    }
    ~TRun()
    {
        g_progress.Clear();
        backup_.reset();
        form_.reset();
    }

    int Execute()
    {
        if (command_.verb == "snapshot")
            return snapshot();
        if (command_.verb == "compare")
            return compare(false);
        if (command_.verb == "restore")
            return compare(true);
        return exportReport();
    }

private:
    bool connect()
    {
        form_->btnConnectClick();
        const int mode = form_->Session().mode;
        if (mode != kModeAdmin && mode != kModeSystem) {
            g_progress.Clear();
            say("нет подключения к устройству " + command_.device);
            return false;
        }
        return true;
    }

    int snapshot()
    {
        // The snapshot holds the passwords: for its owner's eyes only.
        TReportFile file;
        if (!file.Create(command_.path, TReportFile::TAccess::OwnerOnly)) {
            say(file.Error());
            return kFile;
        }
        if (!connect())
            return kUnit;
        TSnapshot s;
        std::string error;
        if (!backup_->ReadUnit(s, false, error)) {
            g_progress.Clear();
            say(error);
            return kUnit;
        }
        std::vector<std::string> failures;
        if (command_.voiceFiles)
            backup_->DownloadVoiceFiles(s, command_.path, failures);
        if (!file.Commit(backup_->Layout().Write(s, command_.voiceFiles))) {
            g_progress.Clear();
            say(file.Error());
            return kFile;
        }
        g_progress.Clear();
        for (const std::string& f : failures)
            say("голосовой файл не сохранён: " + f);
        return failures.empty() ? kDone : kIncomplete;
    }

    int compare(bool restore)
    {
        TSnapshot file;
        std::string error;
        // The whole file is read before the unit is touched.
        if (!backup_->Load(command_.path, file, error)) {
            say(error);
            return kFile;
        }
        if (!connect())
            return kUnit;
        TSnapshot unit;
        if (!backup_->ReadUnit(unit, false, error)) {
            g_progress.Clear();
            say(error);
            return kUnit;
        }
        g_progress.Clear();
        TComparison comparison = Compare(backup_->Layout(), unit, file);
        for (const TDifference& d : comparison.differences)
            std::printf("%s\n", differenceLine(d).c_str());
        std::fflush(stdout);
        if (comparison.notCompared > 0)
            say(std::to_string(comparison.notCompared) +
                " системных значений файла не сравнивались: подключение в режиме администратора");
        if (!restore)
            return comparison.differences.empty() && comparison.notCompared == 0 ? kDone : kIncomplete;
        return write(unit, file, comparison);
    }

    int write(const TSnapshot& unit, const TSnapshot& file, TComparison& comparison)
    {
        int writable = 0;
        for (const TDifference& d : comparison.differences)
            writable += d.Writable() ? 1 : 0;
        if (writable == 0)
            return comparison.notCompared == 0 ? kDone : kIncomplete;
        if (!command_.yes) {
            if (!terminal_.Present()) {
                say("нет терминала, чтобы спросить; запустите с --yes");
                return kUsage;
            }
            if (!terminal_.Confirm("Записать на устройство " + std::to_string(writable) + " изменений?")) {
                say("ничего не записано");
                return kIncomplete;
            }
        }
        // A mailbox goes with its recorded messages: only the user who
        // types its name deletes it.
        backup_->confirmDelete = [this](const std::string& owner) {
            g_progress.Clear();
            const auto typed = terminal_.Ask("Ящик " + owner +
                                                 " будет удалён вместе с записанными в нём сообщениями. "
                                                 "Чтобы удалить его, введите имя ящика: ",
                                             false);
            return typed && *typed == owner;
        };
        TRestoreSummary summary;
        std::string error;
        if (!backup_->Restore(unit, file, command_.path, comparison, summary, error)) {
            g_progress.Clear();
            say(error);
            return kFile;
        }
        g_progress.Clear();
        for (const auto& item : summary.items)
            std::printf("%s: %s%s\n", ResultWord(item.result.state), item.difference.name.c_str(),
                        item.result.detail.empty() ? "" : (": " + item.result.detail).c_str());
        std::fflush(stdout);
        if (!summary.undoPath.empty())
            say("прежние настройки сохранены в " + summary.undoPath);
        if (summary.Count(TRestoreResult::NotWritten) > 0)
            return kUnit;
        if (summary.systemSkipped > 0)
            std::printf("пропущено: %d системных значений файла: подключение в режиме администратора\n",
                        summary.systemSkipped);
        std::fflush(stdout);
        if (!summary.Complete()) {
            say("восстановлено не всё: записано " + std::to_string(summary.Count(TRestoreResult::Took)) + " из " +
                std::to_string(summary.items.size()));
            return kIncomplete;
        }
        return kDone;
    }

    int exportReport()
    {
        // The report's file is made before the unit is woken, as the
        // window's export makes it before it turns busy.
        {
            TReportFile file;
            if (!file.Create(command_.path)) {
                say(file.Error());
                return kFile;
            }
        }
        if (!connect())
            return kUnit;
        std::vector<std::string> messages;
        {
            TMessageCapture capture;
            form_->btnExportClick();
            messages = capture.Take();
        }
        g_progress.Clear();
        for (const std::string& m : messages)
            say(withoutLineEnd(m));
        const int mode = form_->Session().mode;
        if (mode != kModeAdmin && mode != kModeSystem)
            return kUnit;
        return messages.empty() ? kDone : kIncomplete;
    }

    const TCommand& command_;
    TTerminal& terminal_;
    TMemoryStore store_;
    TConsoleView view_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TBackup> backup_;
};

}  // namespace

int main(int argc, char** argv)
{
    // Many units into one history: fleet/.
    if (argc >= 2 && std::string(argv[1]) == "fleet")
        return FleetMain(std::vector<std::string>(argv + 2, argv + argc), SelfPath(argv[0]));
    TCommand command;
    std::string error;
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsageText, stdout);
        return kDone;
    }
    if (!parse(argc, argv, command, error)) {
        say(error);
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    TTerminal terminal;
    std::optional<std::string> password;
    if (command.passwordFile) {
        std::string p;
        if (!readPassword(*command.passwordFile, p, error)) {
            say(error);
            return kUsage;
        }
        password = p;
    } else {
        password = terminal.Ask("Пароль: ", true);
        if (!password) {
            say("нет терминала для ввода пароля; укажите --password-file");
            return kUsage;
        }
        if (password->empty()) {
            say("пароль не введён");
            return kUsage;
        }
    }

    TQueueUiBridge bridge;
    SetUiBridge(&bridge);
    int status;
    {
        TConsoleDialogs dialogs(terminal, password, command.passwordFile.has_value());
        TInstallDialogs<TDialogs> installed(dialogs);
        TRun run(command, terminal);
        status = run.Execute();
    }
    bridge.Shutdown();
    TVaCustomComm::WaitThreadsEnded(5000);
    SetUiBridge(nullptr);
    return status;
}
