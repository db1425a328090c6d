#include "ui/qt/AudioPlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <algorithm>

namespace kv {

TAudioPlayer::TAudioPlayer(QObject* parent) : QObject(parent)
{
    timer_.setInterval(30);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (!sink_)
            return;
        position_ = std::min(samples_, static_cast<size_t>(sink_->processedUSecs() * rate_ / 1000000));
        if (onPosition)
            onPosition();
    });
}

TAudioPlayer::~TAudioPlayer()
{
    onPosition = nullptr;
    onStopped = nullptr;
    Stop();
}

bool TAudioPlayer::Play(const audio::TSound& sound)
{
    Stop();
    error_.clear();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        error_ = QString::fromUtf8(kNoOutput);
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(sound.rate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    const std::vector<int16_t> pcm = audio::ToPcm16(sound);
    data_ = QByteArray(reinterpret_cast<const char*>(pcm.data()), static_cast<qsizetype>(pcm.size() * sizeof(int16_t)));
    buffer_.close();
    buffer_.setBuffer(&data_);
    buffer_.open(QIODevice::ReadOnly);
    rate_ = sound.rate;
    samples_ = pcm.size();
    position_ = 0;

    sink_ = new QAudioSink(device, format, this);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (!sink_)
            return;
        // Idle: every byte has been played (or the output ran dry at the end).
        if (state == QAudio::IdleState) {
            position_ = samples_;
            finish();
        } else if (state == QAudio::StoppedState && sink_->error() != QAudio::NoError) {
            error_ = QString::fromUtf8(kNoOutput);
            finish();
        }
    });
    sink_->start(&buffer_);
    if (sink_->error() != QAudio::NoError || sink_->state() == QAudio::StoppedState) {
        error_ = QString::fromUtf8(kNoOutput);
        sink_->deleteLater();
        sink_ = nullptr;
        return false;
    }
    timer_.start();
    return true;
}

void TAudioPlayer::Stop()
{
    if (sink_)
        finish();
}

size_t TAudioPlayer::Position() const
{
    return position_;
}

void TAudioPlayer::finish()
{
    QAudioSink* sink = sink_;
    sink_ = nullptr;
    timer_.stop();
    sink->disconnect(this);
    sink->stop();
    sink->deleteLater();
    buffer_.close();
    if (onPosition)
        onPosition();
    if (onStopped)
        onStopped();
}

}  // namespace kv
