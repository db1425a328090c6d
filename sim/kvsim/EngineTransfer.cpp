#include "EngineTransfer.h"

#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "serial/VaSync.h"
#include "transfer/VaYModem.h"

namespace kvsim {

int UnitTransferError(int exitCode) {
  switch (exitCode) {
    case kv::vtSuccess:
      return 0;
    case kv::vtCancelled:
    case kv::vtPeerCancelled:
      return transfer_error::kCancelled;
    case kv::vtNoSender:
      return transfer_error::kTimeout;
    case kv::vtTooManyErrors:
      return transfer_error::kTooMany;
    default:
      return transfer_error::kProtocol;
  }
}

namespace {

// The thread on which the engines' events run: kvsim's stand-in for a
// user-interface thread. Made on the first transfer, ended at exit.
class EngineHost {
 public:
  static EngineHost& Get() {
    static EngineHost host;
    return host;
  }
  // Runs fn on the host thread and waits until it has run.
  void Run(const std::function<void()>& fn) { kv::UiBridge().Synchronize(fn); }

 private:
  EngineHost() {
    thread_ = std::thread([this] { Main(); });
    ready_.WaitMs(-1);
  }
  ~EngineHost() {
    stop_.store(true);
    if (auto* b = bridge_.load()) b->Wake();
    thread_.join();
  }

  void Main() {
    kv::TQueueUiBridge bridge;
    kv::SetUiBridge(&bridge);
    bridge_.store(&bridge);
    ready_.Signal();
    while (!stop_.load()) bridge.ProcessEvents(1000);
    // Closed ports' threads may still hand something over.
    kv::TVaCustomComm::WaitThreadsEnded(2000);
    bridge_.store(nullptr);
    bridge.Shutdown();
    kv::SetUiBridge(nullptr);
  }

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<kv::TQueueUiBridge*> bridge_{nullptr};
  kv::TVaWaitEvent ready_;
};

// An exit code of our own: the engine's port could not be opened.
constexpr int kNoPort = -100;

class EngineTransfer : public Transfer {
 public:
  EngineTransfer(const TransferRequest& request, Wire& wire, TimePoint now, long baud)
      : wire_(wire), request_(request), toUnit_(request.direction == TransferRequest::Direction::ToUnit) {
    if (baud > 0)
      byteTime_ = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
    lineFree_ = now;
    MakeTerminal();
    MakeFolder();
    if (toUnit_) {
      startAt_ = now + kReceiveStartDelay;
    } else {
      // The sender listens before the announcement leaves.
      StartEngine(now);
    }
  }

  ~EngineTransfer() override {
    StopEngine();
    if (epoll_ >= 0) ::close(epoll_);
    if (doneFd_ >= 0) ::close(doneFd_);
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  void Received(std::string_view bytes, TimePoint now) override {
    if (result_) return;
    if (quietUntil_) {
      // The engine has ended: what still comes is swallowed.
      quietUntil_ = std::max(*quietUntil_, now + kEndQuiet);
      return;
    }
    in_.push_back({std::string(bytes), 0, now});
    FeedEngine(now);
  }

  void Tick(TimePoint now) override {
    if (result_) return;
    if (!started_ && startAt_ && now >= *startAt_) StartEngine(now);
    FeedEngine(now);
    ForwardEngine(now);
    uint64_t n;
    while (::read(doneFd_, &n, sizeof n) > 0) {
    }
    if (ended_.load() && !quietUntil_) quietUntil_ = std::max(now, outFree_) + kEndQuiet;
    if (quietUntil_ && now >= *quietUntil_) Finish();
  }

  std::optional<TimePoint> Deadline() const override {
    if (result_) return std::nullopt;
    std::optional<TimePoint> d;
    auto take = [&d](TimePoint t) {
      if (!d || t < *d) d = t;
    };
    if (!started_ && startAt_) take(*startAt_);
    if (started_ && !in_.empty() && byteTime_.count() > 0) take(std::max(lineFree_, in_.front().arrival) + byteTime_);
    if (quietUntil_) take(*quietUntil_);
    return d;
  }

  std::optional<TransferResult> Result() const override { return result_; }

  int PollFd() const override { return epoll_; }

 private:
  struct Chunk {
    std::string bytes;
    std::size_t taken;
    TimePoint arrival;
  };

  void MakeTerminal() {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
    slavePath_ = ::ptsname(master_);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    doneFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    for (int fd : {master_, doneFd_}) {
      epoll_event e{};
      e.events = EPOLLIN;
      e.data.fd = fd;
      ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e);
    }
  }

  void MakeFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kvsim-transfer-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    if (!toUnit_ && request_.file) {
      std::string name = request_.file->name;
      std::replace(name.begin(), name.end(), '/', '_');
      if (name.empty() || name == "." || name == "..") name = "file";
      sendPath_ = dir_ + "/" + name;
      std::ofstream(sendPath_, std::ios::binary) << request_.file->data;
    }
  }

  // On the host thread: the port on the inner terminal and the engine.
  void StartEngine(TimePoint now) {
    started_ = true;
    lineFree_ = std::max(lineFree_, now);
    EngineHost::Get().Run([this] {
      try {
        port_ = std::make_unique<kv::TVaComm>();
        port_->SetDeviceName(slavePath_);
        port_->SetBaudrate(kv::br19200);
        // Written at once, so that nothing is left in a queue when the
        // engine reports its end.
        port_->SetDirectWrite(true);
        port_->SetMonitorEvents({kv::ceError, kv::ceRxChar});
        port_->Open();
        engine_ = std::make_unique<kv::TVaYModem>();
        engine_->SetComm(port_.get());
        engine_->SetMode(toUnit_ ? kv::tmDownload : kv::tmUpload);
        if (toUnit_)
          engine_->SetTargetFolder(dir_);
        else
          engine_->Files() = {sendPath_};
        engine_->OnTransferEnd = [this](kv::TVaComponent*, int code) { Ended(code); };
        engine_->Start();
      } catch (const std::exception&) {
        Ended(kNoPort);
      }
    });
  }

  // Host thread.
  void Ended(int code) {
    if (engine_) files_ = engine_->Files();
    exitCode_ = code;
    ended_.store(true);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(doneFd_, &one, sizeof one);
  }

  void StopEngine() {
    if (!port_ && !engine_) return;
    EngineHost::Get().Run([this] {
      engine_.reset();
      if (port_) port_->Close();
      port_.reset();
    });
  }

  // Bytes from the tool reach the engine no faster than the line carries them.
  void FeedEngine(TimePoint now) {
    if (!started_) return;
    std::string out = std::move(unwritten_);
    unwritten_.clear();
    while (!in_.empty()) {
      Chunk& c = in_.front();
      std::size_t left = c.bytes.size() - c.taken;
      if (byteTime_.count() > 0) {
        TimePoint begin = std::max(lineFree_, c.arrival);
        if (now < begin + byteTime_) break;
        left = std::min<std::size_t>(left, static_cast<std::size_t>((now - begin) / byteTime_));
        lineFree_ = begin + static_cast<long>(left) * byteTime_;
      }
      out.append(c.bytes, c.taken, left);
      c.taken += left;
      if (c.taken < c.bytes.size()) break;
      in_.pop_front();
    }
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t w = ::write(master_, out.data() + done, out.size() - done);
      if (w > 0) {
        done += static_cast<std::size_t>(w);
      } else if (w < 0 && errno == EINTR) {
        continue;
      } else {
        break;  // full: the rest goes at the next tick
      }
    }
    const bool waiting = !unwritten_.empty();
    unwritten_ = out.substr(done);
    if (waiting != !unwritten_.empty()) {
      // While the inner terminal is full, its room wakes the relay too.
      epoll_event e{};
      e.events = EPOLLIN | (unwritten_.empty() ? 0u : static_cast<uint32_t>(EPOLLOUT));
      e.data.fd = master_;
      ::epoll_ctl(epoll_, EPOLL_CTL_MOD, master_, &e);
    }
  }

  // Bytes from the engine go out on the unit's line.
  void ForwardEngine(TimePoint now) {
    char buf[4096];
    for (;;) {
      ssize_t r = ::read(master_, buf, sizeof buf);
      if (r > 0) {
        wire_.Send(std::string_view(buf, static_cast<std::size_t>(r)), now);
        // When these bytes will have left the line.
        outFree_ = std::max(outFree_, now) + static_cast<long>(r) * byteTime_;
        if (quietUntil_) quietUntil_ = std::max(*quietUntil_, outFree_ + kEndQuiet);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      break;
    }
  }

  void Finish() {
    StopEngine();
    TransferResult r;
    r.error = exitCode_ == kNoPort ? transfer_error::kUnavailable : UnitTransferError(exitCode_);
    if (toUnit_ && r.error == 0) {
      if (files_.empty()) {
        r.error = transfer_error::kProtocol;
      } else {
        const std::string& path = files_.front();
        std::ifstream f(path, std::ios::binary);
        VoiceFile file;
        file.name = path.substr(path.find_last_of('/') + 1);
        file.data.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        if (!f.good() && !f.eof()) r.error = transfer_error::kProtocol;
        else r.received = std::move(file);
      }
    }
    result_ = std::move(r);
  }

  Wire& wire_;
  TransferRequest request_;
  const bool toUnit_;
  SteadyClock::duration byteTime_{};

  int master_ = -1;
  int slave_ = -1;
  int doneFd_ = -1;
  int epoll_ = -1;
  std::string slavePath_;
  std::string dir_;
  std::string sendPath_;

  // The engine, on the host thread.
  std::unique_ptr<kv::TVaComm> port_;
  std::unique_ptr<kv::TVaYModem> engine_;
  // Written on the host thread before ended_ is set.
  std::vector<std::string> files_;
  int exitCode_ = 0;
  std::atomic<bool> ended_{false};

  // The relay, on kvsim's main thread.
  bool started_ = false;
  std::optional<TimePoint> startAt_;
  std::deque<Chunk> in_;
  std::string unwritten_;
  TimePoint lineFree_{};  // when the last byte fed to the engine arrived
  TimePoint outFree_{};   // when the last byte forwarded to the line leaves it
  std::optional<TimePoint> quietUntil_;
  std::optional<TransferResult> result_;
};

}  // namespace

std::unique_ptr<Transfer> MakeEngineTransfer(const TransferRequest& request, Wire& wire, TimePoint now, long baud) {
  try {
    return std::make_unique<EngineTransfer>(request, wire, now, baud);
  } catch (const std::exception& e) {
    // No terminal or folder for the engine: the unit cannot transfer, and
    // says why where the test that started it shows it.
    std::fprintf(stderr, "kvsim: no transfer engine: %s (%s)\n", e.what(), std::strerror(errno));
    return MakeUnavailableTransfer(request, wire, now);
  }
}

}  // namespace kvsim
