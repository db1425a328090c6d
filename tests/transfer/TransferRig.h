// What the transfer tests and the benchmark share: child processes (kvline,
// lrzsz) waited for with events, a scripted raw peer on a pseudo-terminal,
// and the engine on a port with every event it raised recorded.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "serial/VaSync.h"
#include "tests/support/UiThread.h"
#include "transfer/VaYModem.h"

namespace kvtest {

// The kvline executable of this build.
std::string KvlineExecutable();

// A temporary folder, removed with everything in it.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// Bytes from a seeded generator.
std::string RandomBytes(size_t n, uint32_t seed);

// A child process. Its end is seen by a reaper thread that signals Exited().
class TChild {
public:
    struct Options {
        std::vector<std::string> argv;  // argv[0] is looked up in PATH
        std::string cwd;                // empty: the test's own
        std::string tty;                // when set: standard input and output
        bool pipeStdin = false;
        bool pipeStdout = false;
        std::string stderrFile;         // empty: /dev/null
    };
    explicit TChild(const Options& o);  // throws std::runtime_error
    ~TChild();                          // kills it if it still runs
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    pid_t Pid() const { return pid_; }
    int StdinFd() const { return stdin_; }
    int StdoutFd() const { return stdout_; }
    void CloseStdin();
    // Waits up to ms for the child to end; true when it has.
    bool WaitExit(int ms);
    kv::TVaWaitEvent& Exited() { return exited_; }
    // Exit status; -signal when killed by one; meaningful once Exited.
    int Status() const { return status_; }
    void Kill(int sig);

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int status_ = 0;
    kv::TVaWaitEvent exited_;
    std::thread reaper_;
};

// A kvline process with its two terminals.
class TKvLine {
public:
    // Extra arguments for kvline (--baud, --seed, ...); --stdin-exit and
    // --stats are always added.
    explicit TKvLine(const std::vector<std::string>& args, int startMs = 5000);
    ~TKvLine();
    const std::string& A() const { return a_; }
    const std::string& B() const { return b_; }
    // Ends kvline and returns what it printed on standard error (--stats).
    std::string Stop(int ms = 5000);
    // Total of a counter ("flips", "drops", "stalls", "bytes in") over both
    // directions, from the text Stop returned.
    static uint64_t Count(const std::string& stats, const std::string& what);

private:
    TTempDir dir_;
    std::unique_ptr<TChild> child_;
    std::string a_, b_;
    std::string stats_;
    bool stopped_ = false;
};

// A pseudo-terminal whose slave side the engine opens while a script plays
// the other end on the master. Received bytes are collected by a reader
// thread; Take waits for them with a time-out.
class TRawPeer {
public:
    // A pseudo-terminal of its own.
    TRawPeer();
    // The end of a line that exists (a kvline terminal), in raw mode.
    explicit TRawPeer(const std::string& tty);
    ~TRawPeer();
    TRawPeer(const TRawPeer&) = delete;
    TRawPeer& operator=(const TRawPeer&) = delete;

    const std::string& Path() const { return path_; }
    void Send(const std::string& bytes);
    void Send(uint8_t b) { Send(std::string(1, static_cast<char>(b))); }
    // The next n received bytes (from a cursor that Take moves); throws
    // std::runtime_error when they have not all arrived within ms.
    std::string Take(size_t n, int ms = 5000);
    // Every byte received so far, whether taken or not.
    std::string All() const;
    // Bytes received beyond the cursor, after waiting ms for more.
    std::string Rest(int ms);
    // Waits up to ms until a byte beyond the cursor has arrived.
    bool WaitAny(int ms);

    // Stops reading from the line (as a receiver that does not keep up)
    // and starts again.
    void Pause() { running_.Unsignal(); }
    void Resume() { running_.Signal(); }

    // Runs script on a thread of its own; Join waits for it and returns
    // the failure it threw, empty when none.
    void Run(std::function<void(TRawPeer&)> script);
    std::string Join();

private:
    void ReaderLoop();

    std::string path_;
    int master_ = -1;
    int slave_ = -1;
    int stopPipe_[2] = {-1, -1};
    mutable std::mutex m_;
    std::string received_;
    size_t cursor_ = 0;
    kv::TVaWaitEvent arrived_{false, true};
    kv::TVaWaitEvent running_{true};
    std::atomic<bool> stop_{false};
    std::thread reader_;
    std::thread script_;
    std::string scriptError_;
};

// The engine as the tool runs it: a TVaYModem attached to a port opened on
// path with the tool's line settings. The test's thread is the UI thread.
class TEngine {
public:
    explicit TEngine(const std::string& path);
    ~TEngine();

    kv::TVaComm port;
    kv::TVaYModem ym;

    struct Info {
        std::string name;
        int size;
    };
    struct Packet {
        int packet, bytes;
    };
    struct Error {
        int code, count;
        uint64_t quietMs;  // since the event before it
    };
    int starts = 0;
    int ends = 0;
    int exitCode = 1;  // as OnTransferEnd reported it
    std::vector<Info> infos;
    std::vector<Packet> packets;
    std::vector<Error> errors;
    bool eventsOnUiThread = true;
    uint64_t endQuietMs = 0;  // from the last event before OnTransferEnd

    // Starts an upload of files / a download into folder.
    void Upload(const std::vector<std::string>& files);
    void Download(const std::string& folder);
    // Processes UI work until OnTransferEnd has been raised or ms passed.
    bool RunUntilEnd(int ms);
    // When the last event was raised (TickMs).
    uint64_t lastEventMs = kv::TickMs();
    // Number of errors raised with this code.
    int ErrorsWith(int code) const;
};

// Processes UI work until done() holds or ms have passed; returns done().
bool PumpUntil(const std::function<bool()>& done, int ms);

// A YModem frame as a peer sends it: header, number, complement, the data
// padded with pad to 128 or 1024 bytes, and a CRC (or checksum).
std::string Frame(int number, const std::string& data, size_t length, bool crc = true, char pad = 0);
// A block-0 payload: name, NUL, size text.
std::string Header(const std::string& name, const std::string& size);

}  // namespace kvtest
