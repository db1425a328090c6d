// kvsim: the automatic-attendant and voice-mail unit on a pseudo-terminal.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <poll.h>
#include <unistd.h>

#include "Console.h"
#include "EngineTransfer.h"
#include "Options.h"
#include "Pty.h"
#include "StateFile.h"
#include "Transcript.h"
#include "Transfer.h"
#include "Unit.h"
#include "Wire.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

timespec Until(kvsim::TimePoint deadline, kvsim::TimePoint now) {
  auto left = deadline > now ? deadline - now : kvsim::SteadyClock::duration::zero();
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kvsim;
  Options opt = ParseOptions(argc, argv);

  Transcript log;
  if (!opt.logFile.empty() && !log.Open(opt.logFile)) {
    std::fprintf(stderr, "kvsim: cannot write %s: %s\n", opt.logFile.c_str(), std::strerror(errno));
    return 1;
  }

  Unit unit(opt.limits);
  StateFile state(opt.stateFile);
  if (!opt.stateFile.empty()) {
    std::string error = state.Load(unit);
    if (!error.empty()) {
      std::fprintf(stderr, "kvsim: %s\n", error.c_str());
      return 1;
    }
  }
  if (opt.adminPassword) unit.params[104] = *opt.adminPassword;
  if (opt.systemPassword) unit.params[0] = *opt.systemPassword;
  if (opt.clock) unit.clock.Set(*opt.clock);
  unit.params[999] = std::to_string(opt.firmware);
  if (!opt.stateFile.empty()) {
    unit.onChange = [&] {
      std::string error = state.Save(unit);
      if (!error.empty()) std::fprintf(stderr, "kvsim: %s\n", error.c_str());
    };
    unit.Changed();
  }

  std::unique_ptr<Pty> pty;
  try {
    pty = std::make_unique<Pty>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvsim: %s\n", e.what());
    return 1;
  }
  if (!opt.link.empty()) {
    ::unlink(opt.link.c_str());
    if (::symlink(pty->Path().c_str(), opt.link.c_str()) != 0) {
      std::fprintf(stderr, "kvsim: cannot link %s: %s\n", opt.link.c_str(), std::strerror(errno));
      return 1;
    }
  }

  // Signals are blocked except while waiting, so a stop request never slips
  // between the check and the wait.
  sigset_t blocked, waitMask;
  sigemptyset(&blocked);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&blocked, s);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::printf("%s\n", pty->Path().c_str());
  std::fflush(stdout);
  log.Note("terminal " + pty->Path());

  Wire wire(pty->Master(), opt.baud, log);
  Console console(unit, opt, wire, log);
  TransferFactory makeTransfer = [&opt](const TransferRequest& request, Wire& line, TimePoint now) {
    return MakeEngineTransfer(request, line, now, opt.baud);
  };
  std::unique_ptr<Transfer> transfer;

  auto startTransfer = [&](TimePoint now) {
    if (auto request = console.TakeTransfer()) transfer = makeTransfer(*request, wire, now);
  };
  auto finishTransfer = [&](TimePoint now) {
    if (transfer) {
      if (auto result = transfer->Result()) {
        transfer.reset();
        console.TransferEnded(*result, now);
      }
    }
  };

  char buf[4096];
  while (!gStop) {
    TimePoint now = SteadyClock::now();
    wire.Pump(now);

    std::optional<TimePoint> deadline = wire.NextDue();
    if (transfer) {
      if (auto d = transfer->Deadline(); d && (!deadline || *d < *deadline)) deadline = d;
    }
    pollfd fds[3] = {{pty->Master(), static_cast<short>(POLLIN | (wire.WantWritable() ? POLLOUT : 0)), 0},
                     {opt.stdinExit ? STDIN_FILENO : -1, POLLIN, 0},
                     {transfer ? transfer->PollFd() : -1, POLLIN, 0}};
    timespec ts{};
    if (deadline) ts = Until(*deadline, now);
    int n = ppoll(fds, 3, deadline ? &ts : nullptr, &waitMask);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("kvsim: ppoll");
      return 1;
    }
    now = SteadyClock::now();

    if (fds[1].revents) {
      ssize_t r = ::read(STDIN_FILENO, buf, sizeof buf);
      if (r <= 0) break;  // standard input closed
    }
    if (fds[0].revents & POLLIN) {
      ssize_t r = ::read(pty->Master(), buf, sizeof buf);
      if (r > 0) {
        std::string_view bytes(buf, static_cast<std::size_t>(r));
        log.FromTool(bytes);
        while (!bytes.empty()) {
          if (transfer) {
            transfer->Received(bytes, now);
            bytes = {};
          } else {
            std::size_t taken = console.Received(bytes, now);
            bytes.remove_prefix(taken);
            startTransfer(now);
            if (taken == 0 && !transfer) break;
          }
          finishTransfer(now);
        }
      }
    }
    if (transfer) {
      const bool woken = fds[2].fd >= 0 && fds[2].fd == transfer->PollFd() && fds[2].revents != 0;
      if (auto d = transfer->Deadline(); woken || (d && *d <= now)) transfer->Tick(now);
      finishTransfer(now);
    }
  }

  if (!opt.link.empty()) {
    char target[512];
    ssize_t len = ::readlink(opt.link.c_str(), target, sizeof target - 1);
    if (len > 0 && std::string(target, static_cast<std::size_t>(len)) == pty->Path()) ::unlink(opt.link.c_str());
  }
  return 0;
}
