// SIGTERM, SIGINT and SIGHUP as a request to close the window, so that a
// desktop session that ends (or a Ctrl-C in the terminal) logs out of the
// unit as the close box does. The signal handler only writes a byte into a
// pipe; the GUI thread reads it through a socket notifier and calls onSignal
// from its event loop. One instance at a time; the handlers in force before
// it come back when it goes.
#pragma once

#include <QObject>
#include <csignal>
#include <functional>

class QSocketNotifier;

namespace kv {

class TSystemSignals : public QObject {
public:
    explicit TSystemSignals(std::function<void(int signo)> onSignal, QObject* parent = nullptr);
    ~TSystemSignals() override;

private:
    void readPipe();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3];
};

}  // namespace kv
