// The voice files' dialogs: the preview "Подготовить для устройства", the
// player of a slot's file, the unit's format, recording from the
// microphone and speech from a text; and TQtVoiceView, which opens them for
// the form layer (ui/VoiceView.h).
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/Voice.h"
#include "ui/VoiceView.h"

class QAudioSource;
class QComboBox;
class QDoubleSpinBox;
class QIODevice;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kv {

class TAudioPlayer;
class TVoicePreview;
class TWaveformView;

// The waveform with "Прослушать" / "Стоп" under it: plays a sound and shows
// where it is. `sound()` gives what is played when the button is pressed,
// and `offset` where that sound starts on the waveform.
class TSoundPanel : public QWidget {
public:
    explicit TSoundPanel(QWidget* parent = nullptr);
    ~TSoundPanel() override;

    TWaveformView* Waveform() const { return wave_; }
    QPushButton* PlayButton() const { return play_; }
    TAudioPlayer& Player() { return *player_; }
    // What to play, made when "Прослушать" is pressed; its first sample is
    // drawn at `offset` samples of the waveform.
    std::function<audio::TSound()> sound;
    size_t offset = 0;
    void Stop();

private:
    void toggle();
    void stopped();

    TWaveformView* wave_;
    QPushButton* play_;
    std::unique_ptr<TAudioPlayer> player_;
    audio::TSound playing_;
};

class TVoicePreviewDialog : public QDialog {
public:
    static constexpr const char* kCaption = "Подготовить для устройства";
    static constexpr const char* kSynthetic = "Синтезированная речь, а не запись голоса";

    TVoicePreviewDialog(TVoicePreview& preview, QWidget* parent = nullptr);
    ~TVoicePreviewDialog() override;

    TSoundPanel* Panel() const { return panel_; }

    void done(int result) override;

private:
    void showSelection();
    void showFormat();
    void fadesChanged();
    void setWorking(bool working);

    TVoicePreview& preview_;
    TSoundPanel* panel_;
    QLabel* format_;
    QLabel* loudness_;
    QLabel* duration_;
    QDoubleSpinBox* fadeIn_;
    QDoubleSpinBox* fadeOut_;
    QPushButton* upload_;
    QPushButton* cancel_;
    std::vector<QWidget*> controls_;
};

class TVoiceListenDialog : public QDialog {
public:
    TVoiceListenDialog(const audio::TSound& sound, const std::string& title, QWidget* parent = nullptr);
    TSoundPanel* Panel() const { return panel_; }
    void done(int result) override;

private:
    audio::TSound sound_;
    TSoundPanel* panel_;
};

class TVoiceFormatDialog : public QDialog {
public:
    static constexpr const char* kCaption = "Формат голосовых файлов";
    TVoiceFormatDialog(const TVoiceFormatChoice& choice, QWidget* parent = nullptr);
    audio::TUnitFormat Choice() const;

private:
    QComboBox* combo_;
};

class TRecordDialog : public QDialog {
public:
    static constexpr const char* kCaption = "Запись с микрофона";
    static constexpr const char* kNoInput = "Нет устройства для записи звука.";
    explicit TRecordDialog(QWidget* parent = nullptr);
    ~TRecordDialog() override;

    // Starts recording; false (with the reason in Error()) when no input opens.
    bool Start();
    QString Error() const { return error_; }
    // What was recorded, mono floats at the input's rate.
    audio::TSound Sound() const { return sound_; }
    QProgressBar* Level() const { return level_; }

    void done(int result) override;

private:
    void read();
    void stop();

    QAudioSource* source_ = nullptr;
    QIODevice* io_ = nullptr;
    int channels_ = 1;
    int sampleFormat_ = 0;
    audio::TSound sound_;
    QProgressBar* level_;
    QLabel* time_;
    QString error_;
};

class TSpeechDialog : public QDialog {
public:
    static constexpr const char* kCaption = "Синтезировать речь";
    // The program run, and how long it may take.
    static constexpr const char* kProgram = "espeak-ng";
    static constexpr int kTimeoutMs = 60000;

    TSpeechDialog(const std::string& wavPath, QWidget* parent = nullptr);
    QPlainTextEdit* Text() const { return text_; }
    void accept() override;

private:
    std::string path_;
    QPlainTextEdit* text_;
    QPushButton* ok_;
};

// Runs espeak-ng (-v ru) on `text`, writing a WAV at wavPath; waits in a
// nested event loop. "" on success, else the Russian reason.
std::string SpeakToWav(const QString& text, const std::string& wavPath);

class TQtVoiceView : public TVoiceView {
public:
    explicit TQtVoiceView(QWidget* window) : window_(window) {}

    bool ExecutePreview(TVoicePreview& preview) override;
    void ExecuteListen(const audio::TSound& sound, const std::string& title) override;
    std::optional<audio::TSound> Record() override;
    bool Synthesize(const std::string& wavPath) override;
    bool ExecuteFormat(TVoiceFormatChoice& choice) override;
    std::string CacheFolder() override;

private:
    QWidget* window_;
};

}  // namespace kv
