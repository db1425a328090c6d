// Playing a sound through the system's default output (QAudioSink).
//
// The sound is played from memory as 16-bit mono PCM at its own rate; the
// sound server converts it for the device. The player tells where it is
// (Position, every few hundredths of a second through onPosition) and when
// it has played to the end or was stopped (onStopped). Everything runs on
// the GUI thread; QAudioSink does its own work on the sound server's side.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "audio/Voice.h"

class QAudioSink;

namespace kv {

class TAudioPlayer : public QObject {
public:
    static constexpr const char* kNoOutput = "Нет устройства для воспроизведения звука.";

    explicit TAudioPlayer(QObject* parent = nullptr);
    ~TAudioPlayer() override;

    // Plays the sound from its start (stopping what plays now). False, with
    // Error() saying why, when no output could start.
    bool Play(const audio::TSound& sound);
    void Stop();
    bool Playing() const { return sink_ != nullptr; }
    // Samples played so far of the sound playing (or last played).
    size_t Position() const;
    QString Error() const { return error_; }

    std::function<void()> onPosition;
    std::function<void()> onStopped;

private:
    void finish();

    QByteArray data_;
    QBuffer buffer_;
    QAudioSink* sink_ = nullptr;
    QTimer timer_;
    int rate_ = 0;
    size_t samples_ = 0;
    size_t position_ = 0;
    QString error_;
};

}  // namespace kv
