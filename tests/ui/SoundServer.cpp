#include "tests/ui/SoundServer.h"

#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kv::test {

namespace {

constexpr const char* kReady = "Daemon startup complete.";

// Waits in an event loop until `done` says so after some signal of
// `process`, or until `ms` have passed. Returns done().
template <class Done>
bool waitFor(QProcess& process, int ms, Done done)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto check = [&] {
        if (done())
            loop.quit();
    };
    QObject::connect(&process, &QProcess::readyReadStandardError, &loop, check);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, check);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
    return done();
}

}  // namespace

TSoundServer::TSoundServer()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty()) {
        why_ = "no sound server: pulseaudio is not installed";
        return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "kv-sound-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        why_ = std::string("no sound server: no private folder: ") + std::strerror(errno);
        return;
    }
    dir_ = pattern;
    for (const char* sub : {"run", "home", "config"})
        std::filesystem::create_directories(std::filesystem::path(dir_) / sub);
    const std::string socket = dir_ + "/native";
    address_ = "unix:" + socket;

    server_ = std::make_unique<QProcess>();
    QProcess& p = *server_;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir_ + "/run"));
    env.insert(QStringLiteral("HOME"), QString::fromStdString(dir_ + "/home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir_ + "/config"));
    env.remove(QStringLiteral("PULSE_SERVER"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    p.setProcessEnvironment(env);
    // -n: no configuration script, only the two modules named here. Root
    // may run a per-user server as long as it is not asked for the system one.
    p.setProgram(program);
    p.setArguments({QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--system=false"),
                    QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                    QStringLiteral("--log-level=info"), QStringLiteral("--log-target=stderr"),
                    QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=kvnull rate=48000"),
                    QStringLiteral("-L"),
                    QString::fromStdString("module-native-protocol-unix socket=" + socket + " auth-anonymous=1")});
    p.start();
    QByteArray log;
    const bool ready = waitFor(p, 15000, [&] {
        log += p.readAllStandardError();
        return log.contains(kReady);
    });
    if (!ready) {
        why_ = "no sound server: pulseaudio did not start: " + log.right(400).toStdString();
        p.kill();
        p.waitForFinished(2000);
        server_.reset();
        return;
    }
    pid_ = static_cast<int>(p.processId());
    setenv("PULSE_SERVER", address_.c_str(), 1);
}

TSoundServer::~TSoundServer()
{
    if (recorder_) {
        recorder_->kill();
        recorder_->waitForFinished(2000);
        recorder_.reset();
    }
    if (server_) {
        server_->terminate();
        waitFor(*server_, 5000, [&] { return server_->state() == QProcess::NotRunning; });
        if (server_->state() != QProcess::NotRunning) {
            server_->kill();
            server_->waitForFinished(2000);
        }
        server_.reset();
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool TSoundServer::StartRecording(int rate)
{
    if (!Started())
        return false;
    rate_ = rate;
    recorder_ = std::make_unique<QProcess>();
    recorder_->setProgram(QStringLiteral("parec"));
    recorder_->setArguments({QStringLiteral("--server=") + QString::fromStdString(address_),
                             QStringLiteral("--device=kvnull.monitor"), QStringLiteral("--raw"),
                             QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                             QStringLiteral("--rate=") + QString::number(rate), QStringLiteral("--latency-msec=20")});
    recorder_->start();
    if (!recorder_->waitForStarted(5000)) {
        why_ = "parec did not start: " + recorder_->errorString().toStdString();
        return false;
    }
    // A monitor delivers (silence) as soon as the stream runs.
    if (!waitFor(*recorder_, 10000, [&] { return recorder_->bytesAvailable() > 0; })) {
        why_ = "parec delivered nothing";
        return false;
    }
    recorder_->readAllStandardOutput();
    return true;
}

audio::TSound TSoundServer::StopRecording()
{
    audio::TSound sound{rate_, {}};
    if (!recorder_)
        return sound;
    QByteArray data = recorder_->readAllStandardOutput();
    recorder_->terminate();
    waitFor(*recorder_, 5000, [&] {
        data += recorder_->readAllStandardOutput();
        return recorder_->state() == QProcess::NotRunning;
    });
    data += recorder_->readAllStandardOutput();
    recorder_.reset();
    sound.samples.resize(static_cast<size_t>(data.size()) / 2);
    for (size_t i = 0; i < sound.samples.size(); ++i) {
        int16_t v;
        std::memcpy(&v, data.constData() + 2 * i, 2);
        sound.samples[i] = v / 32768.0f;
    }
    return sound;
}

}  // namespace kv::test
