// The report's file: it replaces the chosen file only when it is complete,
// and every failure leaves the chosen file as it was and nothing beside it.
//
// Failures that the system grants root anyway (a folder without write
// permission) run in a child process that has dropped root first; a write
// that fails part-way runs in a child with a file-size limit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "tests/support/UnitSession.h"
#include "ui/Export.h"

namespace fs = std::filesystem;

namespace {

// The test's folder, and the names in it (hidden ones included).
class TFolder : public kvtest::TTempDir {
public:
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(Path()))
            names.insert(e.path().filename().string());
        return names;
    }
};

void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary) << bytes;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

const std::string kOld = "old report\r\nkept\r\n";

// What a child process reported and how it ended.
struct TChildResult {
    int status = 0;
    std::string text;
};

// Runs `body` in a child process; the text it returns comes back through a
// pipe. The child ends with _exit, never returning into the test framework.
TChildResult InChild(const std::function<std::string()>& body)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(pipeFds[0]);
        const std::string text = body();
        ssize_t done = 0;
        while (done < static_cast<ssize_t>(text.size())) {
            const ssize_t n = ::write(pipeFds[1], text.data() + done, text.size() - static_cast<size_t>(done));
            if (n <= 0)
                break;
            done += n;
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    TChildResult result;
    char buf[4096];
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "the child did not finish in 20 s";
            break;
        }
        const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        result.text.append(buf, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    ::waitpid(pid, &result.status, 0);
    return result;
}

// In a child: give up root (when the test runs as root) so that permissions bind.
void DropRoot()
{
    if (::geteuid() == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
    }
}

}  // namespace

TEST(ReportFile, ReplacesTheChosenFileKeepingItsPermissions)
{
    TFolder dir;
    const std::string path = dir / "settings.txt";
    WriteFile(path, kOld, 0640);

    kv::TReportFile file;
    ASSERT_TRUE(file.Create(path)) << file.Error();
    EXPECT_EQ(ReadFile(path), kOld) << "nothing changes before the commit";
    ASSERT_TRUE(file.Commit("new\r\n")) << file.Error();
    EXPECT_EQ(ReadFile(path), "new\r\n");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"settings.txt"}));
    EXPECT_FALSE(file.Commit("again")) << "one commit per file";
    EXPECT_EQ(ReadFile(path), "new\r\n");

    // A new file gets the usual permissions of a new file.
    const mode_t old = ::umask(027);
    kv::TReportFile fresh;
    ASSERT_TRUE(fresh.Create(dir / "fresh.txt"));
    ASSERT_TRUE(fresh.Commit(""));
    ::umask(old);
    EXPECT_EQ(ReadFile(dir / "fresh.txt"), "");
    EXPECT_EQ(ModeOf(dir / "fresh.txt"), 0640u);
}

// A file that holds a password: 0600 however permissive the umask, and a
// replaced file keeps only its owner's permissions; the usual file still
// follows the umask.
TEST(ReportFile, OwnerOnlyWhateverTheUmask)
{
    TFolder dir;
    const std::string replaced = dir / "replaced.kvs";
    WriteFile(replaced, kOld, 0664);
    const mode_t old = ::umask(0);
    std::string failures;
    for (const std::string& path : {dir / "new.kvs", replaced}) {
        kv::TReportFile file;
        if (!file.Create(path, kv::TReportFile::TAccess::OwnerOnly) || !file.Commit("param 104 1234\n"))
            failures += file.Error() + "\n";
    }
    kv::TReportFile usual;
    if (!usual.Create(dir / "usual.txt") || !usual.Commit("x"))
        failures += usual.Error();
    ::umask(old);
    EXPECT_EQ(failures, "");
    EXPECT_EQ(ModeOf(dir / "new.kvs"), 0600u);
    EXPECT_EQ(ModeOf(replaced), 0600u);
    EXPECT_EQ(ReadFile(replaced), "param 104 1234\n");
    EXPECT_EQ(ModeOf(dir / "usual.txt"), 0666u);
}

// Only a regular file is ever replaced: a pipe, a link to one or a socket in
// the chosen place stays what it is.
TEST(ReportFile, RefusesAPlaceThatHoldsNoRegularFile)
{
    TFolder dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_symlink(fifo, dir / "link");
    for (const std::string& path : {fifo, dir / "link", std::string("/dev/null")}) {
        kv::TReportFile file;
        EXPECT_FALSE(file.Create(path)) << path;
        EXPECT_EQ(file.Error(), kv::CannotCreateText(path, kv::kNotARegularFile));
    }
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"fifo", "link"}));

    // A finished download is not put in a pipe's place either.
    WriteFile(dir / "received", "data");
    std::string error;
    EXPECT_FALSE(kv::ReplaceFile(dir / "received", fifo, error));
    EXPECT_EQ(error, kv::kNotARegularFile);
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(ReportFile, DiscardedOrAbandonedLeavesTheOldFile)
{
    TFolder dir;
    const std::string path = dir / "settings.txt";
    WriteFile(path, kOld);
    {
        kv::TReportFile file;
        ASSERT_TRUE(file.Create(path));
        file.Discard();
        EXPECT_FALSE(file.Commit("lost")) << "nothing to commit after a discard";
    }
    {
        kv::TReportFile file;
        ASSERT_TRUE(file.Create(path));
    }
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"settings.txt"}));
}

TEST(ReportFile, FollowsASymbolicLink)
{
    TFolder dir;
    fs::create_directory(dir / "real");
    WriteFile(dir / "real/settings.txt", kOld, 0600);
    fs::create_symlink(dir / "real/settings.txt", dir / "link.txt");

    kv::TReportFile file;
    ASSERT_TRUE(file.Create(dir / "link.txt")) << file.Error();
    ASSERT_TRUE(file.Commit("new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(ReadFile(dir / "real/settings.txt"), "new");
    EXPECT_EQ(ModeOf(dir / "real/settings.txt"), 0600u);
}

TEST(ReportFile, CannotBeCreated)
{
    TFolder dir;
    const std::string old = dir / "settings.txt";
    WriteFile(old, kOld);

    struct TCase {
        std::string path;
        int error;
    } const cases[] = {
        {dir / "no-such-folder/settings.txt", ENOENT},
        {dir.Path(), EISDIR},
        {old + "/settings.txt", ENOTDIR},
    };
    for (const TCase& c : cases) {
        kv::TReportFile file;
        EXPECT_FALSE(file.Create(c.path)) << c.path;
        EXPECT_EQ(file.Error(), kv::CannotCreateText(c.path, std::strerror(c.error)));
        EXPECT_FALSE(file.Commit("x")) << "nothing was created to write";
    }
    EXPECT_EQ(ReadFile(old), kOld);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"settings.txt"}));
}

TEST(ReportFile, FolderOrFileTheUserCannotWrite)
{
    TFolder dir;
    const std::string locked = dir / "locked";
    const std::string open = dir / "open";
    fs::create_directory(locked);
    fs::create_directory(open);
    WriteFile(locked + "/settings.txt", kOld, 0644);
    WriteFile(open + "/settings.txt", kOld, 0444);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);

    const std::string expected[] = {
        kv::CannotCreateText(locked + "/settings.txt", std::strerror(EACCES)),
        kv::CannotCreateText(open + "/settings.txt", std::strerror(EACCES)),
    };
    const TChildResult r = InChild([&] {
        DropRoot();
        std::string errors;
        for (const std::string& path : {locked + "/settings.txt", open + "/settings.txt"}) {
            kv::TReportFile file;
            errors += file.Create(path) ? "created " + path : file.Error();
            errors += "\n";
        }
        return errors;
    });
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.status;
    EXPECT_EQ(r.text, expected[0] + "\n" + expected[1] + "\n");
    for (const std::string& folder : {locked, open}) {
        EXPECT_EQ(ReadFile(folder + "/settings.txt"), kOld);
        EXPECT_EQ(fs::directory_iterator(folder)->path().filename(), "settings.txt");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    }
    ::chmod(locked.c_str(), 0755);
}

TEST(ReportFile, WriteFailingPartWayOrAProcessKilledByItLeavesTheOldFile)
{
    TFolder dir;
    const std::string path = dir / "settings.txt";
    WriteFile(path, kOld);
    const std::string report(64 * 1024, 'r');

    auto exportWithLimit = [&](bool survive) {
        return InChild([&] {
            kv::TReportFile file;
            if (!file.Create(path))
                return "create: " + file.Error();
            // The file-size limit lets 4 KiB through; the rest of the write fails.
            ::signal(SIGXFSZ, survive ? SIG_IGN : SIG_DFL);
            const rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return file.Commit(report) ? std::string("committed") : file.Error();
        });
    };

    const TChildResult failed = exportWithLimit(true);
    ASSERT_TRUE(WIFEXITED(failed.status)) << failed.status;
    EXPECT_EQ(failed.text, kv::CannotWriteText(path, std::strerror(EFBIG)));
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"settings.txt"}));

    const TChildResult killed = exportWithLimit(false);
    ASSERT_TRUE(WIFSIGNALED(killed.status)) << killed.status << " " << killed.text;
    EXPECT_EQ(WTERMSIG(killed.status), SIGXFSZ);
    EXPECT_EQ(ReadFile(path), kOld);
    // Where the file system makes files without a name, a killed export
    // leaves nothing behind either.
    const int unnamed = ::open(dir.Path().c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (unnamed >= 0) {
        ::close(unnamed);
        EXPECT_EQ(dir.Names(), (std::set<std::string>{"settings.txt"})) << "no partial file behind a killed export";
    }
}
