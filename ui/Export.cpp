#include "ui/Export.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "session/Cp1251.h"
#include "session/Dialogs.h"
#include "session/KvMenu.h"
#include "settings/Catalogue.h"
#include "ui/Unit1.h"

namespace kv {

namespace {

const char* const kCrLf = "\r\n";
const char* const kAdminOnly = "Недоступны (режим администратора)";

// The report as UTF-8 text, line by line.
class TReportText {
public:
    void Line(const std::string& text = {}) { text_ += text + kCrLf; }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// The heading of a section that needs system mode; outside it the section
// is the one line kAdminOnly. True when the section's lines follow.
bool systemSection(TReportText& r, const char* heading, bool system)
{
    r.Line(heading);
    if (!system)
        r.Line(kAdminOnly);
    return system;
}

std::string textOf(TJoint1* object)
{
    return object ? object->text() : std::string();
}

void numbers(TReportText& r, TCatalogue& c)
{
    r.Line("****Номера");
    r.Line("Добавочные номера:       " + textOf(c.extensionList.get()));
    r.Line("Код оператора:           " + c.opCode.text());
    r.Line("Дневной номер оператора: " + c.opNumDay.text());
    r.Line("Ночной номер оператора:  " + c.opNumNight.text());
    r.Line("Номер факса:             " + c.faxNum.text());
    r.Line("Пароль администратора:   " + c.admPwd.text());
}

void greetings(TReportText& r, TCatalogue& c)
{
    const char* const labels[3] = {"Дневное:", "Ночное:", "Праздничное:"};
    r.Line("****Приветствия");
    for (size_t i = 0; i < 3; ++i)
        r.Line(std::string(labels[i]) + kCrLf + textOf(c.greetings[i].get()));
}

void schedule(TReportText& r, TCatalogue& c)
{
    const char* const labels[7] = {"Понедельник: ", "Вторник:     ", "Среда:       ", "Четверг:     ",
                                   "Пятница:     ", "Суббота:     ", "Воскресенье: "};
    r.Line("****Расписание");
    for (size_t i = 0; i < 7; ++i)
        r.Line(labels[i] + c.workStart[i].text() + "-" + c.workEnd[i].text());
}

void menus(TReportText& r, TCatalogue& c)
{
    r.Line("****Меню");
    for (size_t i = 0; i < c.voiceMenus.size(); ++i)
        r.Line(Format("Меню %.2d: ", static_cast<int>(i)) + kCrLf + textOf(c.voiceMenus[i].get()));
}

void sysParams(TReportText& r, TCatalogue& c, bool system)
{
    if (!systemSection(r, "****Системные параметры", system))
        return;
    TGridModel& g = c.sgSysParams;
    for (int row = 1; row < g.RowCount(); ++row)
        r.Line(g.Cell(0, row) + " - " + g.Cell(1, row) + ": " + textOf(g.Object(2, row)));
}

void greetReplace(TReportText& r, TCatalogue& c, bool system)
{
    if (!systemSection(r, "****Замена приветствий голосовыми меню", system))
        return;
    for (size_t i = 0; i < c.greetReplace.size(); ++i) {
        r.Line("Линия " + std::to_string(i + 1) + ": ");
        TChoice& choice = c.greetReplace[i];
        if (choice.index == 0) {
            r.Line("Не заменять");
            continue;
        }
        r.Line(choice.text() + ", День: " + std::to_string(c.menuDay[i].value) +
               ", Ночь: " + std::to_string(c.menuNight[i].value) +
               ", Праздник: " + std::to_string(c.menuHoliday[i].value) +
               ", Перевод: " + std::to_string(c.menuTransfer[i].value));
    }
}

void messages(TReportText& r, TCatalogue& c, bool system)
{
    if (!systemSection(r, "****Замена сообщений", system))
        return;
    TGridModel& g = c.sgMessages;
    for (int row = 1; row < g.RowCount(); ++row)
        r.Line("(" + g.Cell(0, row) + "): " + textOf(g.Object(1, row)));
}

}  // namespace

std::string BuildReport(TCatalogue& c, int mode)
{
    const bool system = mode == kModeSystem;
    TReportText r;
    r.Line("Версия прошивки: " + c.version.text());
    r.Line();
    numbers(r, c);
    r.Line();
    greetings(r, c);
    r.Line();
    schedule(r, c);
    r.Line();
    r.Line("Праздничный режим: " + c.holiday.text());
    r.Line();
    menus(r, c);
    r.Line();
    r.Line(std::string("****Почта ") + kCrLf + textOf(c.mailboxes.get()));
    r.Line();
    sysParams(r, c, system);
    r.Line();
    greetReplace(r, c, system);
    r.Line();
    messages(r, c, system);
    r.Line();
    return Utf8ToCp1251(r.Text());
}

// ---- the export action -----------------------------------------------------

namespace {

// The tabs whose data the report holds, in the order they are read.
constexpr int kLoadOrder[] = {kTabNumbers, kTabGreetings, kTabTime, kTabMenu,
                              kTabMail, kTabSysParams, kTabMessages};

bool connected(int mode)
{
    return mode == kModeAdmin || mode == kModeSystem;
}

}  // namespace

void ExportSettings(TForm1& form)
{
    const std::string path = form.View().ExportFileName();
    if (path.empty())
        return;
    TReportFile file;
    if (!file.Create(path)) {
        ShowError(file.Error());
        return;
    }
    TKvMenu& session = form.Session();
    // The mode the export began in decides the sections, also when the
    // session drops out on the way: the report then holds what was read.
    const int mode = session.mode;
    form.BeginBusy();
    for (int tab : kLoadOrder) {
        if (!connected(session.mode))
            break;
        if (form.loaded[static_cast<size_t>(tab)])
            continue;
        form.TabShown(tab);
        session.WaitIdle();
    }
    if (!file.Commit(BuildReport(form.Catalogue(), mode)))
        ShowError(file.Error());
    form.EndBusy();
}

// ---- the report's file ----------------------------------------------------

std::string CannotCreateText(const std::string& path, const std::string& reason)
{
    return "Не удалось создать файл " + path + ": " + reason;
}

std::string CannotWriteText(const std::string& path, const std::string& reason)
{
    return "Ошибка записи в файл " + path + ": " + reason;
}

namespace {

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name for the new file beside the target that no one else uses: the
// process, a counter and the clock keep two exports apart; a name that is
// taken all the same is simply tried again by the caller.
std::string tempName(const std::string& folder, const std::string& base)
{
    static std::atomic<unsigned> counter{0};
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long stamp = static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(now.tv_sec) << 20);
    return folder + "/." + base + "." + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" +
           std::to_string(stamp % 1000000) + ".tmp";
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

constexpr int kNameAttempts = 100;

}  // namespace

TReportFile::~TReportFile()
{
    Discard();
}

bool TReportFile::fail(TStage stage, int error)
{
    const std::string reason = std::strerror(error);
    error_ = stage == TStage::Create ? CannotCreateText(path_, reason) : CannotWriteText(path_, reason);
    Discard();
    return false;
}

bool TReportFile::Create(const std::string& path)
{
    Discard();
    path_ = path;
    target_ = path;
    error_.clear();
    hadOld_ = false;

    // A symbolic link is followed: the file it names is the one replaced.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            target_ = resolved;
    }
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return fail(TStage::Create, EISDIR);
        // A file the user may not write stays protected, as an open for
        // writing would have refused it.
        if (::access(target_.c_str(), W_OK) != 0)
            return fail(TStage::Create, errno);
        hadOld_ = true;
        oldMode_ = st.st_mode & 07777;
        oldUid_ = st.st_uid;
        oldGid_ = st.st_gid;
    } else if (errno != ENOENT) {
        return fail(TStage::Create, errno);
    }
    folder_ = folderOf(target_);

    // Best: a file without a name, which vanishes with the process if the
    // export never completes. Where the file system cannot make one, a
    // hidden named file beside the target.
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0)
        return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return fail(TStage::Create, errno);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = tempName(folder_, baseOf(target_));
        fd_ = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temp_ = name;
            return true;
        }
        if (errno != EEXIST)
            return fail(TStage::Create, errno);
    }
    return fail(TStage::Create, EEXIST);
}

// Gives the unnamed new file a name beside the target.
bool TReportFile::name(std::string& named)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        named = tempName(folder_, baseOf(target_));
        if (::linkat(fd_, "", AT_FDCWD, named.c_str(), AT_EMPTY_PATH) == 0)
            return true;
        if (errno != EEXIST && ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

bool TReportFile::Commit(std::string_view bytes)
{
    if (fd_ < 0)
        return fail(TStage::Write, EBADF);
    if (!writeAll(fd_, bytes))
        return fail(TStage::Write, errno);
    if (hadOld_) {
        // The owner is kept where the system lets us; the permissions always.
        if (::fchown(fd_, oldUid_, oldGid_) != 0 && errno != EPERM)
            return fail(TStage::Write, errno);
        if (::fchmod(fd_, static_cast<mode_t>(oldMode_)) != 0)
            return fail(TStage::Write, errno);
    }
    if (::fsync(fd_) != 0)
        return fail(TStage::Write, errno);
    if (temp_.empty()) {
        std::string named;
        if (!name(named))
            return fail(TStage::Write, errno);
        temp_ = named;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return fail(TStage::Write, errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        return fail(TStage::Write, errno);
    temp_.clear();
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void TReportFile::Discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

}  // namespace kv
