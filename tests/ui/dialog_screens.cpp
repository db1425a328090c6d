// Renders every dialog of the window over sample forms to PNG files:
//   dialog_screens DIR    writes DIR/dialog-<name>.png
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include <QTemporaryDir>
#include <cmath>
#include <numbers>

#include "tests/ui/SampleDialogs.h"
#include "ui/VoicePreview.h"
#include "ui/qt/QtTranslations.h"
#include "ui/qt/VoiceDialogs.h"

namespace {

// A sound that looks like a spoken phrase: syllables of a few tones under
// an envelope, with silence either side.
kv::audio::TSound samplePhrase()
{
    const int rate = 44100;
    kv::audio::TSound s{rate, std::vector<float>(static_cast<size_t>(rate * 6))};
    for (size_t i = 0; i < s.samples.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        if (t < 0.8 || t > 5.2)
            continue;
        const double syllable = std::pow(std::sin(std::numbers::pi * (t - 0.8) * 2.3), 2);
        const double word = 0.4 + 0.6 * std::pow(std::sin(std::numbers::pi * (t - 0.8) / 4.4), 2);
        const double f = 180 + 60 * std::sin(t * 3);
        double v = 0;
        for (int h = 1; h <= 6; ++h)
            v += std::sin(2 * std::numbers::pi * f * h * t) / h;
        s.samples[i] = static_cast<float>(0.3 * syllable * word * v);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kv::InstallQtTranslations(app);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;
    kv::test::TSampleDialogs samples;
    int failed = 0;
    for (auto& e : samples.dialogs) {
        e.dialog->show();
        const QString path = dir.filePath(QStringLiteral("dialog-%1.png").arg(QString::fromStdString(e.name)));
        if (!e.dialog->grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failed;
        }
        e.dialog->close();
    }
    // The voice files' dialogs over sample sounds.
    auto shoot = [&](QDialog& d, const char* name) {
        d.show();
        const QString path = dir.filePath(QStringLiteral("dialog-%1.png").arg(QLatin1String(name)));
        if (!d.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failed;
        }
        d.close();
    };
    {
        auto preview = kv::TVoicePreview::FromSound(samplePhrase(), {"MP3", 44100, 2, 6.0}, "greeting.mp3",
                                                    kv::audio::TUnitFormat{}, kv::TVoiceOrigin::File);
        preview->onChangeFormat = [] {};
        preview->SetFades(0.2, 0.5);
        kv::TVoicePreviewDialog dialog(*preview);
        shoot(dialog, "VoicePreview");
        kv::TVoiceListenDialog listen(preview->Heard(), "day.wav");
        shoot(listen, "VoiceListen");
    }
    QTemporaryDir temp;
    const std::string speech = (temp.path() + QStringLiteral("/speech.wav")).toStdString();
    const std::string spoken = kv::SpeakToWav(QStringLiteral("Здравствуйте! Вы позвонили в компанию. Дождитесь ответа оператора."), speech);
    if (spoken.empty()) {
        std::string error;
        auto preview = kv::TVoicePreview::FromFile(speech, kv::audio::TUnitFormat{}, kv::TVoiceOrigin::Synthesis, error);
        if (preview) {
            preview->SetName("speech.wav");
            kv::TVoicePreviewDialog dialog(*preview);
            shoot(dialog, "VoicePreview-speech");
        } else {
            std::fprintf(stderr, "%s\n", error.c_str());
        }
    } else {
        std::fprintf(stderr, "no synthetic speech: %s\n", spoken.c_str());
    }
    kv::TVoiceFormatDialog format({{kv::audio::TEncoding::ULaw, false}, true, {}});
    shoot(format, "VoiceFormat");
    kv::TRecordDialog record;
    shoot(record, "VoiceRecord");
    kv::TSpeechDialog speak(speech);
    shoot(speak, "VoiceSpeech");
    return failed == 0 ? 0 : 1;
}
