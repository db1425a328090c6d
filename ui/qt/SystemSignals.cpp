#include "ui/qt/SystemSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1};

extern "C" void onSystemSignal(int signo)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    // Nothing else is safe here; a full pipe already holds a request.
    [[maybe_unused]] ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

TSystemSignals::TSystemSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal))
{
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readPipe(); });
    struct sigaction action {};
    action.sa_handler = onSystemSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &action, &previous_[i]);
}

TSystemSignals::~TSystemSignals()
{
    if (g_pipe[0] < 0)
        return;
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &previous_[i], nullptr);
    delete notifier_;
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TSystemSignals::readPipe()
{
    unsigned char bytes[64];
    ssize_t n;
    int last = 0;
    while ((n = read(g_pipe[0], bytes, sizeof bytes)) > 0)
        last = bytes[n - 1];
    if (last != 0 && onSignal_)
        onSignal_(last);
}

}  // namespace kv
