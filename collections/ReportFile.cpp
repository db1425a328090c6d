#include "collections/ReportFile.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace kv {

const char* const kNotARegularFile = "это не обычный файл";

std::string CannotCreateText(const std::string& path, const std::string& reason)
{
    return "Не удалось создать файл " + path + ": " + reason;
}

std::string CannotWriteText(const std::string& path, const std::string& reason)
{
    return "Ошибка записи в файл " + path + ": " + reason;
}

namespace {

// A name for the new file beside the target that no one else uses: the
// process, a counter and the clock keep two writers apart; a name that is
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
    return fail(stage, std::string(std::strerror(error)));
}

bool TReportFile::fail(TStage stage, const std::string& reason)
{
    reason_ = reason;
    error_ = stage == TStage::Create ? CannotCreateText(path_, reason) : CannotWriteText(path_, reason);
    Discard();
    return false;
}

bool TReportFile::Create(const std::string& path, TAccess access)
{
    Discard();
    path_ = path;
    target_ = path;
    access_ = access;
    error_.clear();
    reason_.clear();
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
        // A device, a pipe or a socket is not a file to put a new one in
        // the place of.
        if (!S_ISREG(st.st_mode))
            return fail(TStage::Create, kNotARegularFile);
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
    folder_ = FolderOfPath(target_);

    // Best: a file without a name, which vanishes with the process if the
    // write never completes. Where the file system cannot make one, a
    // hidden named file beside the target. Either is made with no
    // permission for others when it will hold a password.
    const mode_t mode = access_ == TAccess::OwnerOnly ? 0600 : 0666;
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd_ < 0) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return fail(TStage::Create, errno);
        for (int attempt = 0; attempt < kNameAttempts && fd_ < 0; ++attempt) {
            const std::string name = tempName(folder_, NameInPath(target_));
            fd_ = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, mode);
            if (fd_ >= 0)
                temp_ = name;
            else if (errno != EEXIST)
                return fail(TStage::Create, errno);
        }
        if (fd_ < 0)
            return fail(TStage::Create, EEXIST);
    }
    // The umask may only take permissions away; this one has none to take.
    if (access_ == TAccess::OwnerOnly && ::fchmod(fd_, 0600) != 0)
        return fail(TStage::Create, errno);
    return true;
}

// Gives the unnamed new file a name beside the target.
bool TReportFile::name(std::string& named)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        named = tempName(folder_, NameInPath(target_));
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

bool TReportFile::Write(std::string_view bytes)
{
    if (fd_ < 0)
        return fail(TStage::Write, EBADF);
    if (!writeAll(fd_, bytes))
        return fail(TStage::Write, errno);
    return true;
}

bool TReportFile::Commit(std::string_view bytes)
{
    return Write(bytes) && Commit();
}

bool TReportFile::Commit()
{
    if (fd_ < 0)
        return fail(TStage::Write, EBADF);
    if (hadOld_) {
        // The owner is kept where the system lets us; the permissions
        // always, less the others' for a file that holds a password.
        if (::fchown(fd_, oldUid_, oldGid_) != 0 && errno != EPERM)
            return fail(TStage::Write, errno);
        const unsigned mode = access_ == TAccess::OwnerOnly ? oldMode_ & 0700 : oldMode_;
        if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0)
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

// ---- a finished file into the chosen place

std::string FolderOfPath(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameInPath(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string& error)
{
    struct stat src {};
    if (::stat(from.c_str(), &src) != 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat old {};
    const bool hadOld = ::stat(to.c_str(), &old) == 0;
    if (hadOld && !S_ISREG(old.st_mode)) {
        error = S_ISDIR(old.st_mode) ? std::strerror(EISDIR) : kNotARegularFile;
        return false;
    }
    if (hadOld)
        ::chmod(from.c_str(), old.st_mode & 07777);
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    if (errno != EXDEV) {
        error = std::strerror(errno);
        return false;
    }
    // Another file system: a whole copy in the target's place.
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = std::strerror(errno);
        return false;
    }
    TReportFile file;
    bool ok = file.Create(to);
    char buf[65536];
    while (ok) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            ::close(in);
            return false;
        }
        ok = file.Write(std::string_view(buf, static_cast<size_t>(n)));
    }
    ::close(in);
    if (!ok || !file.Commit()) {
        if (error.empty())
            error = file.Reason();
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

}  // namespace kv
