#include "ui/qt/VoiceDialogs.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "session/Dialogs.h"
#include "ui/VoicePreview.h"
#include "ui/qt/AudioPlayer.h"
#include "ui/qt/DialogKit.h"
#include "ui/qt/Waveform.h"

namespace kv {

using namespace kv::audio;

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text = {})
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

QString number(double value, int decimals)
{
    return QLocale(QLocale::Russian).toString(value, 'f', decimals);
}

QString sourceText(const TSourceInfo& s)
{
    QStringList parts;
    if (!s.format.empty())
        parts << Q(s.format);
    if (s.rate > 0)
        parts << QStringLiteral("%1 Гц").arg(s.rate);
    if (s.channels == 1)
        parts << QStringLiteral("моно");
    else if (s.channels == 2)
        parts << QStringLiteral("стерео");
    else if (s.channels > 2)
        parts << QStringLiteral("%1 каналов").arg(s.channels);
    parts << DurationText(s.seconds);
    return parts.join(QStringLiteral(", "));
}

const TUnitFormat kFormats[] = {
    {TEncoding::ALaw, false}, {TEncoding::ULaw, false}, {TEncoding::U8, false},
    {TEncoding::ALaw, true},  {TEncoding::ULaw, true},  {TEncoding::U8, true},
};

}  // namespace

// ---- the waveform and its player

TSoundPanel::TSoundPanel(QWidget* parent) : QWidget(parent), player_(std::make_unique<TAudioPlayer>())
{
    wave_ = new TWaveformView(this);
    play_ = button(this, "btnPlay", "Прослушать");
    connect(play_, &QPushButton::clicked, this, [this] { toggle(); });
    player_->onPosition = [this] {
        if (player_->Playing())
            wave_->SetPlayPosition(offset + player_->Position());
    };
    player_->onStopped = [this] { stopped(); };
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(wave_, 1);
}

TSoundPanel::~TSoundPanel()
{
    player_->onPosition = nullptr;
    player_->onStopped = nullptr;
    player_->Stop();
}

void TSoundPanel::Stop()
{
    player_->Stop();
}

void TSoundPanel::toggle()
{
    if (player_->Playing()) {
        player_->Stop();
        return;
    }
    if (!sound)
        return;
    playing_ = sound();
    if (playing_.samples.empty())
        return;
    if (!player_->Play(playing_)) {
        ShowError(S(player_->Error()));
        return;
    }
    play_->setText(QStringLiteral("Стоп"));
    wave_->SetPlayPosition(offset);
}

void TSoundPanel::stopped()
{
    play_->setText(QStringLiteral("Прослушать"));
    wave_->SetPlayPosition(TWaveformView::npos);
}

// ---- "Подготовить для устройства"

TVoicePreviewDialog::TVoicePreviewDialog(TVoicePreview& preview, QWidget* parent)
    : QDialog(parent), preview_(preview)
{
    setObjectName(QStringLiteral("VoicePreview"));
    setWindowTitle(QString::fromUtf8(kCaption));
    auto* layout = new QVBoxLayout(this);

    if (preview.Origin() == TVoiceOrigin::Synthesis) {
        // Marked so that nobody takes it for a person's voice.
        QLabel* mark = label(this, "lblSynthetic", QString::fromUtf8(kSynthetic));
        mark->setAlignment(Qt::AlignCenter);
        mark->setStyleSheet(QStringLiteral("QLabel { background: #fff3c4; color: #5c4600; border: 1px solid #d9b84a;"
                                           " padding: 4px; font-weight: bold; }"));
        layout->addWidget(mark);
    }

    auto* info = new QGridLayout;
    info->setHorizontalSpacing(12);
    int row = 0;
    auto addRow = [&](const char* caption, QWidget* value, QWidget* extra = nullptr) {
        info->addWidget(label(this, "", QString::fromUtf8(caption)), row, 0, Qt::AlignLeft | Qt::AlignVCenter);
        info->addWidget(value, row, 1);
        if (extra)
            info->addWidget(extra, row, 2);
        ++row;
    };
    QLabel* source = label(this, "lblSource",
                           QStringLiteral("%1 (%2)").arg(Q(preview.Name()), sourceText(preview.Source())));
    source->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addRow("Источник:", source);
    format_ = label(this, "lblFormat");
    QPushButton* change = nullptr;
    if (preview.onChangeFormat) {
        change = button(this, "btnFormat", "Формат...");
        connect(change, &QPushButton::clicked, this, [this] {
            setWorking(true);
            preview_.onChangeFormat();
            setWorking(false);
            showFormat();
            panel_->Waveform()->SetSound(&preview_.Heard());
            showSelection();
        });
        controls_.push_back(change);
    }
    addRow("Для устройства:", format_, change);
    loudness_ = label(this, "lblLoudness");
    addRow("Громкость:", loudness_);
    duration_ = label(this, "lblDuration");
    addRow("Длительность:", duration_);
    info->setColumnStretch(1, 1);
    layout->addLayout(info);

    panel_ = new TSoundPanel(this);
    panel_->Waveform()->SetSound(&preview_.Heard());
    panel_->Waveform()->onSelected = [this] {
        panel_->Stop();
        preview_.Select(panel_->Waveform()->SelectionBegin(), panel_->Waveform()->SelectionEnd());
        showSelection();
    };
    panel_->sound = [this] {
        setWorking(true);
        TSound s = preview_.Listening();
        setWorking(false);
        panel_->offset = preview_.Cut().begin;
        return s;
    };
    layout->addWidget(panel_, 1);
    layout->addWidget(label(this, "lblHint",
                            QStringLiteral("Выделите мышью часть, которую нужно оставить; тишина в начале и в конце "
                                           "уже отрезана.")));

    QPushButton* all = button(this, "btnSelectAll", "Весь звук");
    connect(all, &QPushButton::clicked, this, [this] {
        panel_->Stop();
        preview_.SelectAll();
        showSelection();
    });
    QPushButton* trim = button(this, "btnTrimSilence", "Без тишины");
    connect(trim, &QPushButton::clicked, this, [this] {
        panel_->Stop();
        preview_.Select(preview_.Suggested().first, preview_.Suggested().second);
        showSelection();
    });
    auto fade = [this](const char* name) {
        auto* s = new QDoubleSpinBox(this);
        s->setObjectName(QString::fromLatin1(name));
        s->setRange(0, 10);
        s->setDecimals(1);
        s->setSingleStep(0.1);
        s->setSuffix(QStringLiteral(" с"));
        connect(s, &QDoubleSpinBox::valueChanged, this, [this] { fadesChanged(); });
        return s;
    };
    fadeIn_ = fade("edtFadeIn");
    fadeOut_ = fade("edtFadeOut");
    QLabel* inLabel = label(this, "lblFadeIn", QStringLiteral("Нарастание:"));
    inLabel->setBuddy(fadeIn_);
    QLabel* outLabel = label(this, "lblFadeOut", QStringLiteral("Затухание:"));
    outLabel->setBuddy(fadeOut_);
    auto* tools = new QHBoxLayout;
    tools->addWidget(panel_->PlayButton());
    tools->addSpacing(8);
    tools->addWidget(all);
    tools->addWidget(trim);
    tools->addStretch(1);
    tools->addWidget(inLabel);
    tools->addWidget(fadeIn_);
    tools->addWidget(outLabel);
    tools->addWidget(fadeOut_);
    layout->addLayout(tools);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    upload_ = button(this, "btnUpload", "Загрузить в устройство");
    upload_->setDefault(true);
    cancel_ = button(this, "btnCancel", "Отмена");
    connect(upload_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(upload_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    controls_.insert(controls_.end(), {panel_->PlayButton(), all, trim, fadeIn_, fadeOut_, upload_, cancel_});

    showFormat();
    showSelection();
    // The fades the preview holds already (none for a new sound).
    for (auto [box, value] : {std::pair{fadeIn_, preview_.Cut().fadeIn}, std::pair{fadeOut_, preview_.Cut().fadeOut}}) {
        const QSignalBlocker quiet(box);
        box->setValue(value);
    }
    resize(680, 420);
}

TVoicePreviewDialog::~TVoicePreviewDialog() = default;

void TVoicePreviewDialog::done(int result)
{
    panel_->Stop();
    QDialog::done(result);
}

void TVoicePreviewDialog::setWorking(bool working)
{
    // While the conversion runs off the UI thread the dialog takes no action.
    for (QWidget* w : controls_)
        w->setEnabled(!working);
    panel_->Waveform()->setEnabled(!working);
}

void TVoicePreviewDialog::showFormat()
{
    format_->setText(Q(FormatName(preview_.Format())));
    loudness_->setText(QStringLiteral("%1 LUFS, пик %2 dBFS")
                           .arg(number(preview_.Loudness(), 1),
                                std::isfinite(preview_.Peak()) ? number(preview_.Peak(), 1) : QStringLiteral("−∞")));
}

void TVoicePreviewDialog::showSelection()
{
    const TVoiceCut& cut = preview_.Cut();
    panel_->Waveform()->SetSelection(cut.begin, cut.end);
    const double total = preview_.Heard().Seconds();
    duration_->setText(QStringLiteral("%1 из %2 (с %3 по %4)")
                           .arg(DurationText(preview_.Seconds()), DurationText(total),
                                DurationText(static_cast<double>(cut.begin) / kUnitRate),
                                DurationText(static_cast<double>(cut.end) / kUnitRate)));
    const double half = preview_.Seconds() / 2;
    fadeIn_->setMaximum(std::max(0.0, std::floor(half * 10) / 10));
    fadeOut_->setMaximum(std::max(0.0, std::floor(half * 10) / 10));
}

void TVoicePreviewDialog::fadesChanged()
{
    panel_->Stop();
    preview_.SetFades(fadeIn_->value(), fadeOut_->value());
}

// ---- a slot's file

TVoiceListenDialog::TVoiceListenDialog(const TSound& sound, const std::string& title, QWidget* parent)
    : QDialog(parent), sound_(sound)
{
    setObjectName(QStringLiteral("VoiceListen"));
    setWindowTitle(QStringLiteral("Прослушать: %1").arg(Q(title)));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label(this, "lblDuration", QStringLiteral("Длительность: %1").arg(DurationText(sound_.Seconds()))));
    panel_ = new TSoundPanel(this);
    panel_->Waveform()->SetSound(&sound_);
    panel_->Waveform()->SetSelectable(false);
    panel_->sound = [this] { return sound_; };
    layout->addWidget(panel_, 1);
    QPushButton* close = button(this, "btnClose", "Закрыть");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(panel_->PlayButton());
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(600, 260);
}

void TVoiceListenDialog::done(int result)
{
    panel_->Stop();
    QDialog::done(result);
}

// ---- the unit's format

TVoiceFormatDialog::TVoiceFormatDialog(const TVoiceFormatChoice& choice, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("VoiceFormat"));
    setWindowTitle(QString::fromUtf8(kCaption));
    auto* layout = new QVBoxLayout(this);
    QLabel* now = label(this, "lblUnitFormat");
    now->setWordWrap(true);
    now->setText(choice.fromUnit
                     ? QStringLiteral("Файлы этого устройства: %1 (по заголовку файла, скачанного с него). "
                                      "Этот формат используется, пока он известен.")
                           .arg(Q(FormatName(choice.format)))
                     : QStringLiteral("Формат файлов устройства станет известен, когда с него будет скачан "
                                      "файл. До тех пор используется выбранный здесь."));
    layout->addWidget(now);
    combo_ = new QComboBox(this);
    combo_->setObjectName(QStringLiteral("cbFormat"));
    for (const TUnitFormat& f : kFormats) {
        combo_->addItem(Q(FormatName(f)));
        if (f == choice.choice)
            combo_->setCurrentIndex(combo_->count() - 1);
    }
    QLabel* caption = label(this, "lblChoice", QStringLiteral("Формат:"));
    caption->setBuddy(combo_);
    auto* row = new QHBoxLayout;
    row->addWidget(caption);
    row->addWidget(combo_, 1);
    layout->addLayout(row);
    AddOkCancel(*this, *layout);
    setMinimumWidth(360);
    FixSize(*this);
}

TUnitFormat TVoiceFormatDialog::Choice() const
{
    const int i = std::clamp(combo_->currentIndex(), 0, static_cast<int>(std::size(kFormats)) - 1);
    return kFormats[i];
}

// ---- recording

TRecordDialog::TRecordDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("VoiceRecord"));
    setWindowTitle(QString::fromUtf8(kCaption));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label(this, "lblRecording", QStringLiteral("Идёт запись. Говорите в микрофон.")));
    level_ = new QProgressBar(this);
    level_->setObjectName(QStringLiteral("pbLevel"));
    level_->setRange(0, 60);
    level_->setTextVisible(false);
    level_->setAccessibleName(QStringLiteral("Уровень"));
    layout->addWidget(level_);
    time_ = label(this, "lblTime", DurationText(0));
    layout->addWidget(time_);
    QPushButton* stopButton = button(this, "btnStop", "Стоп");
    stopButton->setDefault(true);
    QPushButton* cancel = button(this, "btnCancel", "Отмена");
    connect(stopButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(stopButton);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    setMinimumWidth(360);
    FixSize(*this);
}

TRecordDialog::~TRecordDialog()
{
    stop();
}

bool TRecordDialog::Start()
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) {
        error_ = QString::fromUtf8(kNoInput);
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(16000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        format = device.preferredFormat();
    if (format.sampleFormat() != QAudioFormat::Int16 && format.sampleFormat() != QAudioFormat::Float) {
        format.setSampleFormat(QAudioFormat::Int16);
    }
    channels_ = std::max(1, format.channelCount());
    sampleFormat_ = format.sampleFormat();
    sound_ = TSound{format.sampleRate(), {}};
    source_ = new QAudioSource(device, format, this);
    io_ = source_->start();
    if (!io_ || source_->error() != QAudio::NoError) {
        error_ = QString::fromUtf8(kNoInput);
        stop();
        return false;
    }
    connect(io_, &QIODevice::readyRead, this, [this] { read(); });
    return true;
}

void TRecordDialog::read()
{
    if (!io_)
        return;
    const QByteArray chunk = io_->readAll();
    const size_t frameBytes = static_cast<size_t>(channels_) * (sampleFormat_ == QAudioFormat::Float ? 4 : 2);
    const size_t frames = static_cast<size_t>(chunk.size()) / frameBytes;
    float peak = 0;
    for (size_t f = 0; f < frames; ++f) {
        float sum = 0;
        for (int c = 0; c < channels_; ++c) {
            const char* at = chunk.constData() + f * frameBytes + static_cast<size_t>(c) * (frameBytes / channels_);
            if (sampleFormat_ == QAudioFormat::Float) {
                float v;
                std::memcpy(&v, at, 4);
                sum += v;
            } else {
                int16_t v;
                std::memcpy(&v, at, 2);
                sum += v / 32768.0f;
            }
        }
        const float v = sum / static_cast<float>(channels_);
        sound_.samples.push_back(v);
        peak = std::max(peak, std::fabs(v));
    }
    // The meter: 60 dB of range, full at 0 dBFS.
    const double db = peak > 0 ? 20 * std::log10(peak) : -60;
    level_->setValue(static_cast<int>(std::clamp(db + 60, 0.0, 60.0)));
    time_->setText(DurationText(sound_.Seconds()));
}

void TRecordDialog::stop()
{
    if (!source_)
        return;
    if (io_)
        read();
    source_->stop();
    source_->deleteLater();
    source_ = nullptr;
    io_ = nullptr;
}

void TRecordDialog::done(int result)
{
    stop();
    QDialog::done(result);
}

// ---- speech

std::string SpeakToWav(const QString& text, const std::string& wavPath)
{
    QProcess process;
    process.setProgram(QString::fromLatin1(TSpeechDialog::kProgram));
    process.setArguments({QStringLiteral("-v"), QStringLiteral("ru"), QStringLiteral("-w"), Q(wavPath),
                          QStringLiteral("--stdin")});
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    process.start();
    if (!process.waitForStarted(0) && process.error() == QProcess::FailedToStart)
        return "Не удалось запустить " + std::string(TSpeechDialog::kProgram) + ": " + S(process.errorString());
    process.write(text.toUtf8());
    process.closeWriteChannel();
    timer.start(TSpeechDialog::kTimeoutMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        return std::string(TSpeechDialog::kProgram) + " не ответил за " +
               std::to_string(TSpeechDialog::kTimeoutMs / 1000) + " с.";
    }
    if (process.error() == QProcess::FailedToStart)
        return "Не удалось запустить " + std::string(TSpeechDialog::kProgram) + ": " + S(process.errorString());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString err = QString::fromUtf8(process.readAllStandardError()).trimmed();
        return std::string(TSpeechDialog::kProgram) + " завершился с ошибкой" + (err.isEmpty() ? "" : ": " + S(err));
    }
    if (QFileInfo(Q(wavPath)).size() <= 44)
        return std::string(TSpeechDialog::kProgram) + " не записал речь.";
    return "";
}

TSpeechDialog::TSpeechDialog(const std::string& wavPath, QWidget* parent) : QDialog(parent), path_(wavPath)
{
    setObjectName(QStringLiteral("VoiceSpeech"));
    setWindowTitle(QString::fromUtf8(kCaption));
    auto* layout = new QVBoxLayout(this);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("memText"));
    QLabel* caption = label(this, "lblText", QStringLiteral("Текст, который произнесёт синтезатор речи:"));
    caption->setBuddy(text_);
    layout->addWidget(caption);
    layout->addWidget(text_, 1);
    ok_ = button(this, "btnOK", "Синтезировать");
    ok_->setDefault(true);
    QPushButton* cancel = button(this, "btnCancel", "Отмена");
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    resize(420, 220);
}

void TSpeechDialog::accept()
{
    const QString text = text_->toPlainText().trimmed();
    if (text.isEmpty()) {
        ShowError("Введите текст для синтеза.");
        return;
    }
    setEnabled(false);
    const std::string error = SpeakToWav(text, path_);
    setEnabled(true);
    if (!error.empty()) {
        ShowError(error);
        return;
    }
    QDialog::accept();
}

// ---- the view

bool TQtVoiceView::ExecutePreview(TVoicePreview& preview)
{
    TVoicePreviewDialog dialog(preview, window_);
    return ExecModal(dialog) == QDialog::Accepted;
}

void TQtVoiceView::ExecuteListen(const TSound& sound, const std::string& title)
{
    TVoiceListenDialog dialog(sound, title, window_);
    ExecModal(dialog);
}

std::optional<TSound> TQtVoiceView::Record()
{
    TRecordDialog dialog(window_);
    if (!dialog.Start()) {
        ShowError(S(dialog.Error()));
        return std::nullopt;
    }
    if (ExecModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.Sound();
}

bool TQtVoiceView::Synthesize(const std::string& wavPath)
{
    TSpeechDialog dialog(wavPath, window_);
    return ExecModal(dialog) == QDialog::Accepted;
}

bool TQtVoiceView::ExecuteFormat(TVoiceFormatChoice& choice)
{
    TVoiceFormatDialog dialog(choice, window_);
    if (ExecModal(dialog) != QDialog::Accepted)
        return false;
    choice.choice = dialog.Choice();
    return true;
}

std::string TQtVoiceView::CacheFolder()
{
    const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (root.isEmpty())
        return "";
    return S(QDir(root).filePath(QStringLiteral("kvmanage")));
}

}  // namespace kv
