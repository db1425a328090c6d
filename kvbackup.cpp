// kvbackup: backs up, compares and restores a unit's settings, and exports
// its settings report, from the command line.
//
//   kvbackup [--password-file FILE] DEVICE snapshot FILE [--voice-files]
//   kvbackup [--password-file FILE] DEVICE compare FILE
//   kvbackup [--password-file FILE] DEVICE restore FILE [--yes]
//   kvbackup [--password-file FILE] DEVICE export REPORT
//
// DEVICE is a device path or the address of a serial device server
// (rfc2217://HOST:PORT, tcp://HOST:PORT).
//
// It runs on the unit object (unit/Unit.h), as the window does: the same
// connection, the same tabs' reads, the same writes and the same report.
// The password comes from the first line of the --password-file, or from a
// prompt on the terminal that does not echo it; never from the command line.
// A password the unit refuses is not asked for again.
//
// Exit status: 0 everything asked for was done (compare: no difference);
// 1 compare found differences, or not everything was done (a value the
// unit refused or kept, an item skipped, a voice file not downloaded);
// 2 the command line or the password (also one the unit refused); 3 a
// snapshot or report file; 4 the unit: no connection, a failed read, the
// connection lost; 5 a restore stopped by SIGINT or SIGTERM between two
// writes (what was written and the undo snapshot are printed).
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
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

#include "backup/Backup.h"
#include "collections/ReportFile.h"
#include "collections/YModemU.h"
#include "fleet/Fleet.h"
#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "serial/VaNet.h"
#include "session/Dialogs.h"
#include "ui/Export.h"
#include "unit/Unit.h"

using namespace kv;

namespace {

enum TExit { kDone = 0, kIncomplete = 1, kUsage = 2, kFile = 3, kUnit = 4, kStopped = 5 };

const char* const kUsageText =
    "Использование:\n"
    "  kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО snapshot ФАЙЛ [--voice-files]\n"
    "  kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО compare ФАЙЛ\n"
    "  kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО restore ФАЙЛ [--yes]\n"
    "  kvbackup [--password-file ФАЙЛ] УСТРОЙСТВО export ОТЧЁТ\n"
    "\n"
    "УСТРОЙСТВО - путь к последовательному порту, например /dev/ttyUSB0,\n"
    "или адрес сервера последовательных портов: rfc2217://ХОСТ:ПОРТ (telnet с\n"
    "управлением портом) или tcp://ХОСТ:ПОРТ (байты как есть).\n"
    "Пароль берётся из первой строки файла --password-file или\n"
    "запрашивается на терминале без отображения.\n"
    "  snapshot  снимок настроек устройства в ФАЙЛ (--voice-files: и голосовые\n"
    "            файлы, в папку ФАЙЛ.files)\n"
    "  compare   различия между устройством и снимком, по строке на каждое;\n"
    "            код выхода 0, только когда различий нет\n"
    "  restore   записывает снимок на устройство (без --yes спрашивает);\n"
    "            прежнее состояние сохраняется рядом: ФАЙЛ.undo-...\n"
    "  export    отчёт о настройках, как \"Экспорт настроек в файл...\"\n"
    "            (ОТЧЁТ \"-\": на стандартный вывод, в кодировке 1251)\n"
    "Коды выхода: 0 - сделано всё; 1 - есть различия или сделано не всё;\n"
    "2 - командная строка или пароль (и пароль, который устройство не приняло);\n"
    "3 - файл; 4 - устройство: нет подключения, не прочитано, связь потеряна;\n"
    "5 - восстановление остановлено сигналом (SIGINT, SIGTERM) между записями:\n"
    "    выводится, что записано, и имя снимка для отмены.\n";

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
    // While it is readable (a stop signal came), a question ends unanswered.
    void SetStopFd(int fd) { stopFd_ = fd; }

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
            if (stopFd_ >= 0) {
                pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0) {
                    if (errno == EINTR)
                        continue;
                    break;
                }
                if (fds[1].revents & POLLIN) {
                    got = false;
                    break;
                }
            }
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
    int stopFd_ = -1;
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

// Messages on standard error. The password comes with the command and is
// never asked for again, so the password dialog has no one to ask.
class TConsoleDialogs : public TDialogs {
public:
    void Message(TMessageKind, const std::string& text) override
    {
        g_progress.Clear();
        say(withoutLineEnd(text));
    }
    TPasswordAnswer Password() override { return {}; }
};

// A transfer's progress on the terminal: the unit runs the transfer
// dialog headless until it closes.
void executeTransfer(TFormYMU& form)
{
    form.onChange = [&form] {
        if (!form.Total().empty())
            g_progress.Show(form.Title() + " " + form.Bytes() + " из " + form.Total());
    };
    if (form.Show()) {
        // The engine's time-outs end every transfer, and its end closes it.
        while (!form.Closed())
            UiBridge().ProcessEvents(100);
    }
    form.onChange = nullptr;
}

// SIGINT and SIGTERM during a restore: blocked in every thread from the
// start (so no wait of the port or the worker is cut short by them) and
// taken from a signalfd between two writes, where the restore stops.
class TStopSignals {
public:
    TStopSignals()
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        if (::pthread_sigmask(SIG_BLOCK, &set_, &old_) != 0)
            return;
        fd_ = ::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
        if (fd_ < 0)
            ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    ~TStopSignals()
    {
        if (fd_ >= 0) {
            ::close(fd_);
            ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
        }
    }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // Readable once a signal has come and not yet been taken.
    int Fd() const { return fd_; }
    // Whether SIGINT or SIGTERM has come (it stays come). Does not wait.
    bool Requested()
    {
        signalfd_siginfo info{};
        while (!requested_ && fd_ >= 0 && ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            requested_ = true;
        return requested_;
    }

private:
    sigset_t set_{};
    sigset_t old_{};
    int fd_ = -1;
    bool requested_ = false;
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
    kv::TVaNetAddress address;
    kv::TVaNetAddressError why = kv::TVaNetAddressError::None;
    if (kv::IsVaNetAddress(c.device) && !kv::ParseVaNetAddress(c.device, address, nullptr, &why)) {
        error = "неверный адрес \"" + c.device + "\": " + kv::VaNetAddressProblem(why) +
                " (нужно rfc2217://ХОСТ:ПОРТ или tcp://ХОСТ:ПОРТ)";
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
    TRun(const TCommand& command, TTerminal& terminal, std::string password, TStopSignals* stop)
        : command_(command), terminal_(terminal), password_(std::move(password)), stop_(stop)
    {
        unit_.executeTransfer = executeTransfer;
        backup_ = std::make_unique<TBackup>(unit_);
        backup_->onProgress = [](int done, int total, const std::string& what) {
            g_progress.Show(what + " (" + std::to_string(done + 1) + "/" + std::to_string(total) + ")");
        };
    }
    ~TRun()
    {
        g_progress.Clear();
        backup_.reset();
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
    // 0 when connected, else the exit status, the reason said.
    int connect()
    {
        const TOutcome o = unit_.Connect(command_.device, {password_, false});
        if (o.Ok() || unit_.Connected())
            return kDone;
        g_progress.Clear();
        if (o.kind == TOutcome::Refused && o.message == TUnit::kWrongPassword) {
            say("устройство " + command_.device + " не приняло пароль");
            return kUsage;
        }
        say("нет подключения к устройству " + command_.device);
        return kUnit;
    }

    // The command's file, for its owner's eyes only, is made before the
    // unit is woken (as the window makes it before it turns busy), then the
    // unit connected; 0 when both are ready, else the exit status.
    int createThenConnect(TReportFile& file)
    {
        if (!file.Create(command_.path, TReportFile::TAccess::OwnerOnly)) {
            say(file.Error());
            return kFile;
        }
        return connect();
    }

    int snapshot()
    {
        // The snapshot holds the passwords.
        TReportFile file;
        if (const int status = createThenConnect(file))
            return status;
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
        if (const int status = connect())
            return status;
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
                if (stop_ && stop_->Requested()) {
                    say("остановлено сигналом, на устройство ничего не записано");
                    unit_.Disconnect();
                    return kStopped;
                }
                say("ничего не записано");
                return kIncomplete;
            }
        }
        if (stop_ && stop_->Requested()) {
            say("остановлено сигналом, на устройство ничего не записано");
            unit_.Disconnect();
            return kStopped;
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
        backup_->stopRequested = [this] { return stop_ && stop_->Requested(); };
        TRestoreSummary summary;
        std::string error;
        if (!backup_->Restore(unit, file, command_.path, comparison, summary, error)) {
            g_progress.Clear();
            say(error);
            // A file of the snapshot, or the unit (no connection, the undo
            // snapshot's download failing).
            return summary.unitFailure ? kUnit : kFile;
        }
        g_progress.Clear();
        if (summary.stopped) {
            // Logged out before anything else: the unit is left at no prompt.
            unit_.Disconnect();
        }
        for (const auto& item : summary.items)
            std::printf("%s: %s%s\n", ResultWord(item.result.state), item.difference.name.c_str(),
                        item.result.detail.empty() ? "" : (": " + item.result.detail).c_str());
        std::fflush(stdout);
        if (!summary.undoPath.empty())
            say("прежние настройки сохранены в " + summary.undoPath);
        if (summary.stopped) {
            say("восстановление остановлено сигналом: записано " +
                std::to_string(summary.Count(TRestoreResult::Took)) + " из " + std::to_string(summary.items.size()));
            return kStopped;
        }
        if (summary.Count(TRestoreResult::NotWritten) > 0 || summary.Count(TRestoreResult::LineLost) > 0)
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
        if (command_.path == "-")
            return exportToStandardOutput();
        TReportFile file;
        if (const int status = createThenConnect(file))
            return status;
        std::string fileError;
        const TOutcome outcome = ExportReport(unit_, file, fileError);
        g_progress.Clear();
        if (!outcome.Ok()) {
            say(outcome.message);
            return kUnit;
        }
        if (!fileError.empty()) {
            say(fileError);
            return kFile;
        }
        return kDone;
    }

    // "export -": the report on standard output, all of it or nothing.
    int exportToStandardOutput()
    {
        if (const int status = connect())
            return status;
        std::string report;
        const TOutcome outcome = ExportReportText(unit_, report);
        g_progress.Clear();
        if (!outcome.Ok()) {
            say(outcome.message);
            return kUnit;
        }
        const size_t written = std::fwrite(report.data(), 1, report.size(), stdout);
        if (written != report.size() || std::fflush(stdout) != 0) {
            say(std::string("отчёт не выведен: ") + std::strerror(errno));
            return kFile;
        }
        return kDone;
    }

    const TCommand& command_;
    TTerminal& terminal_;
    std::string password_;
    // SIGINT and SIGTERM, for a restore only.
    TStopSignals* stop_;
    TUnit unit_;
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

    // Before any thread starts, so that every thread has them blocked.
    std::optional<TStopSignals> stop;
    if (command.verb == "restore") {
        stop.emplace();
        terminal.SetStopFd(stop->Fd());
    }
    TQueueUiBridge bridge;
    SetUiBridge(&bridge);
    int status;
    {
        TConsoleDialogs dialogs;
        TInstallDialogs<TDialogs> installed(dialogs);
        TRun run(command, terminal, *password, stop ? &*stop : nullptr);
        status = run.Execute();
    }
    bridge.Shutdown();
    TVaCustomComm::WaitThreadsEnded(5000);
    SetUiBridge(nullptr);
    return status;
}
