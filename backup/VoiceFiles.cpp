#include "backup/VoiceFiles.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "backup/Backup.h"
#include "backup/Snapshot.h"
#include "collections/ReportFile.h"
#include "session/Text.h"

namespace kv {

namespace {

// The largest voice file read (the unit's memory holds far less).
constexpr off_t kMaxVoiceFileBytes = off_t{256} << 20;

class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    TFd& operator=(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
        return *this;
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string reasonOf(int error)
{
    if (error == ELOOP)
        return "символическая ссылка";
    return std::strerror(error);
}

// Opens the voice file of a slot from the snapshot's own folder, one name
// at a time, never through a link. The descriptor, or -1 with `why`.
int openVoiceFile(const std::string& snapshotPath, int32_t code, const std::string& name, std::string& why)
{
    if (!SafeFileName(name)) {
        why = "имя непригодно для файла на компьютере";
        return -1;
    }
    TFd folder(::open(FolderOfPath(snapshotPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0) {
        why = std::strerror(errno);
        return -1;
    }
    const std::string steps[] = {NameInPath(VoiceFolder(snapshotPath)), Format("%.2d", code)};
    for (const std::string& step : steps) {
        const int next = ::openat(folder.Get(), step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int error = errno;
            // A link opened so fails with ELOOP, or with ENOTDIR where the
            // system checks the kind first: either way it is a link.
            struct stat st {};
            const bool link = ::fstatat(folder.Get(), step.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            why = "папка " + step + ": " + reasonOf(link ? ELOOP : error);
            return -1;
        }
        folder = next;
    }
    const int fd = ::openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        why = reasonOf(errno);
    return fd;
}

bool readAll(int fd, off_t size, std::string& bytes, std::string& why)
{
    bytes.clear();
    bytes.reserve(static_cast<size_t>(size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        bytes.append(buf, static_cast<size_t>(n));
        if (static_cast<off_t>(bytes.size()) > size) {
            why = "файл растёт во время чтения";
            return false;
        }
    }
}

}  // namespace

std::string Sha256Hex(std::string_view bytes)
{
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&ctx, sizeof digest, digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

TPrivateFolder::~TPrivateFolder()
{
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

std::string TPrivateFolder::Path(std::string& why)
{
    if (!path_.empty())
        return path_;
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvmanage-restore-XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        why = "не удалось создать временную папку: " + std::string(std::strerror(errno));
        return {};
    }
    path_ = tmpl;
    return path_;
}

bool ReadVoiceFile(const std::string& snapshotPath, int32_t code, const TVoiceFileValues& values, std::string& bytes,
                   std::string& why)
{
    TFd fd(openVoiceFile(snapshotPath, code, values.name, why));
    if (fd.Get() < 0)
        return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "это не обычный файл";
        return false;
    }
    if (st.st_size != static_cast<off_t>(values.size) || st.st_size > kMaxVoiceFileBytes) {
        why = "размер " + std::to_string(st.st_size) + " байт, в снимке " + std::to_string(values.size);
        return false;
    }
    if (!readAll(fd.Get(), st.st_size, bytes, why))
        return false;
    if (static_cast<off_t>(bytes.size()) != st.st_size) {
        why = "размер " + std::to_string(bytes.size()) + " байт, в снимке " + std::to_string(values.size);
        return false;
    }
    if (!values.sha256.empty() && Sha256Hex(bytes) != values.sha256) {
        why = "содержимое не то, что записано в снимке (SHA-256)";
        return false;
    }
    return true;
}

bool CopyVoiceFile(const std::string& snapshotPath, int32_t code, const TVoiceFileValues& values,
                   TPrivateFolder& into, std::string& copy, std::string& why)
{
    std::string bytes;
    if (!ReadVoiceFile(snapshotPath, code, values, bytes, why))
        return false;
    const std::string root = into.Path(why);
    if (root.empty())
        return false;
    const std::string folder = root + "/" + Format("%.2d", code);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = "не удалось создать временную папку: " + std::string(std::strerror(errno));
        return false;
    }
    copy = folder + "/" + values.name;
    TFd out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.Get() < 0) {
        why = "не удалось скопировать во временную папку: " + std::string(std::strerror(errno));
        return false;
    }
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(out.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = "не удалось скопировать во временную папку: " + std::string(std::strerror(errno));
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string VoiceFileHash(const std::string& snapshotPath, int32_t code, const std::string& name)
{
    std::string why;
    TFd fd(openVoiceFile(snapshotPath, code, name, why));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxVoiceFileBytes)
        return {};
    std::string bytes;
    if (!readAll(fd.Get(), st.st_size, bytes, why))
        return {};
    return Sha256Hex(bytes);
}

}  // namespace kv
