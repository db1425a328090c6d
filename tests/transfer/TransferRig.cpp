#include "TransferRig.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "transfer/VaCrc.h"
#include "tests/support/UiThread.h"

extern char** environ;

namespace kvtest {

namespace fs = std::filesystem;

std::string KvlineExecutable()
{
    return KVLINE_PATH;
}

// --- files ---------------------------------------------------------------------------

TTempDir::TTempDir()
{
    char tmpl[] = "/tmp/kv-transfer-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

std::string RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

// --- child processes ---------------------------------------------------------------------

TChild::TChild(const Options& o)
{
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (o.pipeStdin && pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (o.pipeStdout && pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!o.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&fa, o.cwd.c_str());
    if (!o.tty.empty()) {
        posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, o.tty.c_str(), O_RDWR | O_NOCTTY, 0);
        posix_spawn_file_actions_adddup2(&fa, STDIN_FILENO, STDOUT_FILENO);
    }
    if (o.pipeStdin)
        posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    if (o.pipeStdout)
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    if (o.tty.empty() && !o.pipeStdin)
        posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO,
                                     o.stderrFile.empty() ? "/dev/null" : o.stderrFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    std::vector<std::string> args = o.argv;
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (o.pipeStdin) {
        close(in[0]);
        stdin_ = in[1];
    }
    if (o.pipeStdout) {
        close(out[1]);
        stdout_ = out[0];
    }
    if (rc != 0) {
        CloseStdin();
        if (stdout_ >= 0)
            close(stdout_);
        throw std::runtime_error("cannot start " + o.argv[0] + ": " + std::strerror(rc));
    }
    const pid_t pid = pid_;
    reaper_ = std::thread([this, pid] {
        int st = 0;
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? -WTERMSIG(st) : -1;
        exited_.Signal();
        kv::UiBridge().Wake();
    });
}

TChild::~TChild()
{
    CloseStdin();
    if (!WaitExit(0))
        Kill(SIGKILL);
    reaper_.join();
    if (stdout_ >= 0)
        close(stdout_);
}

void TChild::CloseStdin()
{
    if (stdin_ >= 0)
        close(stdin_);
    stdin_ = -1;
}

bool TChild::WaitExit(int ms)
{
    return exited_.WaitMs(ms) == kv::wrSignaled;
}

void TChild::Kill(int sig)
{
    // The reaper has not collected it yet, so the pid is still ours.
    if (!WaitExit(0))
        kill(pid_, sig);
}

// --- kvline --------------------------------------------------------------------------------

TKvLine::TKvLine(const std::vector<std::string>& args, int startMs)
{
    TChild::Options o;
    o.argv = {KvlineExecutable(), "--stdin-exit", "--stats"};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.pipeStdin = true;
    o.pipeStdout = true;
    o.stderrFile = dir_ / "stderr";
    child_ = std::make_unique<TChild>(o);
    std::string text;
    const uint64_t deadline = kv::TickMs() + static_cast<uint64_t>(startMs);
    while (std::count(text.begin(), text.end(), '\n') < 2) {
        const int64_t left = static_cast<int64_t>(deadline) - static_cast<int64_t>(kv::TickMs());
        pollfd p{child_->StdoutFd(), POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            throw std::runtime_error("kvline did not print its terminals");
        char buf[256];
        const ssize_t n = read(child_->StdoutFd(), buf, sizeof buf);
        if (n <= 0)
            throw std::runtime_error("kvline ended before printing its terminals");
        text.append(buf, static_cast<size_t>(n));
    }
    std::istringstream lines(text);
    std::getline(lines, a_);
    std::getline(lines, b_);
}

TKvLine::~TKvLine()
{
    Stop();
}

std::string TKvLine::Stop(int ms)
{
    if (stopped_)
        return stats_;
    stopped_ = true;
    child_->CloseStdin();
    if (!child_->WaitExit(ms))
        child_->Kill(SIGKILL);
    child_->WaitExit(ms);
    stats_ = ReadFile(dir_ / "stderr");
    return stats_;
}

uint64_t TKvLine::Count(const std::string& stats, const std::string& what)
{
    // Lines: "kvline: a->b 10 bytes in, 10 out, 1 flips, 0 drops, 0 stalls"
    uint64_t total = 0;
    std::istringstream in(stats);
    std::string line;
    while (std::getline(in, line)) {
        size_t at = line.find(" " + what);
        if (at == std::string::npos)
            continue;
        size_t start = line.rfind(' ', at - 1);
        total += std::stoull(line.substr(start + 1, at - start - 1));
    }
    return total;
}

// --- the raw peer --------------------------------------------------------------------------

TRawPeer::TRawPeer()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("posix_openpt failed");
    path_ = ptsname(master_);
    // Kept open so the terminal stays configured while the port reopens it.
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    if (pipe2(stopPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    reader_ = std::thread([this] { ReaderLoop(); });
}

TRawPeer::TRawPeer(const std::string& tty) : path_(tty)
{
    master_ = open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        throw std::runtime_error("cannot open " + tty);
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    if (pipe2(stopPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    reader_ = std::thread([this] { ReaderLoop(); });
}

TRawPeer::~TRawPeer()
{
    if (script_.joinable())
        script_.join();
    stop_ = true;
    running_.Signal();
    (void)!write(stopPipe_[1], "x", 1);
    reader_.join();
    close(stopPipe_[0]);
    close(stopPipe_[1]);
    if (slave_ >= 0)
        close(slave_);
    close(master_);
}

void TRawPeer::ReaderLoop()
{
    char buf[4096];
    for (;;) {
        // Paused: wait for Resume (or the end).
        if (running_.WaitMs(1000) != kv::wrSignaled)
            continue;
        if (stop_)
            return;
        pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0)
            continue;
        {
            std::lock_guard<std::mutex> g(m_);
            received_.append(buf, static_cast<size_t>(n));
        }
        arrived_.Signal();
    }
}

void TRawPeer::Send(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("peer write failed");
        done += static_cast<size_t>(n);
    }
}

std::string TRawPeer::Take(size_t n, int ms)
{
    const uint64_t deadline = kv::TickMs() + static_cast<uint64_t>(ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> g(m_);
            if (received_.size() - cursor_ >= n) {
                std::string s = received_.substr(cursor_, n);
                cursor_ += n;
                return s;
            }
        }
        const uint64_t now = kv::TickMs();
        if (now >= deadline) {
            std::lock_guard<std::mutex> g(m_);
            throw std::runtime_error("peer: waited for " + std::to_string(n) + " bytes, got " +
                                     std::to_string(received_.size() - cursor_));
        }
        arrived_.WaitMs(static_cast<int>(deadline - now));
    }
}

bool TRawPeer::WaitAny(int ms)
{
    const uint64_t deadline = kv::TickMs() + static_cast<uint64_t>(ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> g(m_);
            if (received_.size() > cursor_)
                return true;
        }
        const uint64_t now = kv::TickMs();
        if (now >= deadline)
            return false;
        arrived_.WaitMs(static_cast<int>(deadline - now));
    }
}

std::string TRawPeer::All() const
{
    std::lock_guard<std::mutex> g(m_);
    return received_;
}

std::string TRawPeer::Rest(int ms)
{
    const uint64_t deadline = kv::TickMs() + static_cast<uint64_t>(ms);
    for (uint64_t now = kv::TickMs(); now < deadline; now = kv::TickMs())
        arrived_.WaitMs(static_cast<int>(deadline - now));
    std::lock_guard<std::mutex> g(m_);
    std::string s = received_.substr(cursor_);
    cursor_ = received_.size();
    return s;
}

void TRawPeer::Run(std::function<void(TRawPeer&)> script)
{
    script_ = std::thread([this, script = std::move(script)] {
        try {
            script(*this);
        } catch (const std::exception& e) {
            scriptError_ = e.what();
        }
    });
}

std::string TRawPeer::Join()
{
    if (script_.joinable())
        script_.join();
    return scriptError_;
}

// --- the engine ----------------------------------------------------------------------------

TEngine::TEngine(const std::string& path)
{
    port.SetDeviceName(path);
    port.SetBaudrate(kv::br19200);
    port.Buffers().SetReadTimeout(10);
    port.Buffers().SetWriteTimeout(10);
    port.Open();
    ym.SetComm(&port);
    ym.OnTransferStart = [this](kv::TVaComponent*) {
        ++starts;
        eventsOnUiThread &= kv::UiBridge().IsUiThread();
    };
    ym.OnTransferEnd = [this](kv::TVaComponent*, int code) {
        ++ends;
        exitCode = code;
        endQuietMs = kv::TickMs() - lastEventMs;
        eventsOnUiThread &= kv::UiBridge().IsUiThread();
    };
    ym.OnFileInfo = [this](kv::TVaComponent*, const std::string& name, int size) {
        infos.push_back({name, size});
        lastEventMs = kv::TickMs();
        eventsOnUiThread &= kv::UiBridge().IsUiThread();
    };
    ym.OnPacketEvent = [this](kv::TVaComponent*, int packet, int bytes) {
        packets.push_back({packet, bytes});
        lastEventMs = kv::TickMs();
        eventsOnUiThread &= kv::UiBridge().IsUiThread();
    };
    ym.OnError = [this](kv::TVaComponent*, int code, int count) {
        const uint64_t now = kv::TickMs();
        errors.push_back({code, count, now - lastEventMs});
        lastEventMs = now;
        eventsOnUiThread &= kv::UiBridge().IsUiThread();
    };
}

TEngine::~TEngine()
{
    // Whatever the engine queued last (an answer, CAN CAN) leaves before the
    // port closes.
    ym.SetComm(nullptr);
    PumpUntil([] { return false; }, 50);
    port.Close();
}

void TEngine::Upload(const std::vector<std::string>& files)
{
    lastEventMs = kv::TickMs();
    ym.SetMode(kv::tmUpload);
    ym.Files() = files;
    ym.Start();
}

void TEngine::Download(const std::string& folder)
{
    lastEventMs = kv::TickMs();
    ym.SetMode(kv::tmDownload);
    ym.SetTargetFolder(folder);
    ym.Start();
}

bool TEngine::RunUntilEnd(int ms)
{
    const int before = ends;
    return PumpUntil([&] { return ends > before || !ym.Busy(); }, ms);
}

int TEngine::ErrorsWith(int code) const
{
    int n = 0;
    for (const auto& e : errors)
        n += e.code == code;
    return n;
}

bool PumpUntil(const std::function<bool()>& done, int ms)
{
    return kvtest::ServeUntil(done, ms);
}

// --- frames -------------------------------------------------------------------------------

std::string Frame(int number, const std::string& data, size_t length, bool crc, char pad)
{
    std::string block = data.substr(0, length);
    block.resize(length, pad);
    std::string f;
    f += static_cast<char>(length == 128 ? kv::xy::SOH : kv::xy::STX);
    f += static_cast<char>(number & 0xFF);
    f += static_cast<char>(255 - (number & 0xFF));
    f += block;
    const auto* p = reinterpret_cast<const uint8_t*>(block.data());
    if (crc) {
        const uint16_t c = kv::VaCrc16(p, block.size());
        f += static_cast<char>(c >> 8);
        f += static_cast<char>(c & 0xFF);
    } else {
        f += static_cast<char>(kv::VaChecksum(p, block.size()));
    }
    return f;
}

std::string Header(const std::string& name, const std::string& size)
{
    return name + std::string(1, '\0') + size;
}

}  // namespace kvtest
