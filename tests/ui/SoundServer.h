// A real sound server for a test: a PulseAudio of its own with one null
// sink, on a socket in a private folder, and a recorder of that sink's
// monitor (what was played). The test process's PULSE_SERVER points at it,
// so Qt's audio output plays there; set up before the first use of Qt
// Multimedia.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <string>

#include "audio/Voice.h"

class QProcess;

namespace kv::test {

class TSoundServer {
public:
    // Starts the server; Started() tells whether it runs, Why() why not.
    TSoundServer();
    ~TSoundServer();

    bool Started() const { return pid_ > 0; }
    const std::string& Why() const { return why_; }
    // "unix:/.../native"
    const std::string& Address() const { return address_; }

    // Records the null sink's monitor (mono, 16-bit, `rate` Hz) until
    // StopRecording, which returns what was recorded. Waits (in an event
    // loop) until the recorder's stream runs before returning.
    bool StartRecording(int rate);
    audio::TSound StopRecording();

private:
    std::string dir_;
    std::string address_;
    std::string why_;
    int pid_ = -1;
    int rate_ = 0;
    std::unique_ptr<QProcess> server_;
    std::unique_ptr<QProcess> recorder_;
};

}  // namespace kv::test
