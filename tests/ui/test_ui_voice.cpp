// Voice files through the window against kvsim, offscreen, with the real
// dialogs: an MP3 (made here by sox and lame) picked for "Загрузить" is
// shown converted in the preview and reaches the unit as the conversion's
// bytes; a selection made with the mouse and a fade go with it; "Отмена" in
// the preview sends nothing; the unit's own format goes byte for byte.
#include <gtest/gtest.h>

#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <memory>

#include "SimProcess.h"
#include "ScriptedForm.h"
#include "tests/audio/AudioTools.h"
#include "tests/support/SimState.h"
#include "tests/support/TempDir.h"
#include "tests/ui/QtSupport.h"
#include "ui/FormVoice.h"
#include "ui/VoicePreview.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/Program.h"
#include "ui/qt/VoiceDialogs.h"
#include "ui/qt/Waveform.h"

using namespace kv;
using namespace kv::audio;
using kvtest::Quoted;
using kvtest::Shell;
using test::Child;
using test::TModalAnswers;

namespace {

std::string Text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

struct WindowVoice : ::testing::Test {
    kvtest::TTempDir dir;
    std::unique_ptr<SimProcess> sim;
    TMemorySettingsStore store;
    std::unique_ptr<TProgram> program;
    TModalAnswers answers;
    size_t mark = 0;

    void SetUp() override
    {
        for (const char* tool : {"sox", "lame"})
            if (!kvtest::HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed: no MP3 can be made";
        // The unit's cache lives in the test's folder.
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(dir / "cache"));
    }
    void TearDown() override { program.reset(); }

    std::string State() const { return dir / "unit.state"; }
    void Start()
    {
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--state", State()});
        store.values[DeviceKey(1)] = sim->Path();
        program = std::make_unique<TProgram>(store, "kv20rcfg");
        Window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
        Window().PageControl()->setCurrentIndex(kTabGreetings);
        answers.Add([](QWidget* d) {
            auto* edit = Child<QLineEdit>(d, "edtPassword");
            test::Type(edit, QStringLiteral("1234"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QTest::mouseClick(Window().Button("btnConnect"), Qt::LeftButton);
        ASSERT_EQ(Window().Form().Session().mode, kModeAdmin);
        mark = sim->BytesFromTool().size();
    }
    TMainWindow& Window() { return program->Window(); }
    std::string Sent() const { return sim->BytesFromTool().substr(mark); }
    template <typename T = QWidget>
    T* Control(const char* name)
    {
        T* w = Window().findChild<T*>(QString::fromLatin1(name));
        if (!w)
            throw std::runtime_error(std::string("no control ") + name);
        return w;
    }
    void SelectGreeting(int row)
    {
        auto* table = Control<QTableView>("sgGreetings");
        const QModelIndex at = table->model()->index(row - 1, 0);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(at).center());
    }
    QString GreetingName(int row)
    {
        auto* table = Control<QTableView>("sgGreetings");
        return table->model()->index(row - 1, 1).data().toString();
    }
    // The open dialog of the upload, answered with `path`.
    void AnswerOpen(const std::string& path)
    {
        answers.Add([path](QWidget* d) {
            auto* f = qobject_cast<QFileDialog*>(d);
            ASSERT_NE(f, nullptr);
            auto* name = Child<QLineEdit>(d, "fileNameEdit");
            name->setText(QString::fromStdString(path));
            QTest::keyClick(name, Qt::Key_Return);
        });
    }
    // The transfer dialog closes by itself at the transfer's end.
    void LetTransferRun()
    {
        answers.Add([](QWidget* d) { EXPECT_EQ(d->objectName(), QStringLiteral("FormYMU")); });
    }
    // An MP3 of 44.1 kHz stereo: half a second of silence, two seconds of a
    // 1 kHz tone, half a second of silence.
    std::string MakeMp3(const std::string& name)
    {
        const std::string wav = dir / (name + ".source.wav");
        const std::string mp3 = dir / name;
        EXPECT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 " + Quoted(wav) + " synth 2 sine 1000 vol 0.3 pad 0.5 0.5"), 0);
        EXPECT_EQ(Shell("lame --quiet -b 128 " + Quoted(wav) + " " + Quoted(mp3)), 0);
        return mp3;
    }
    // The conversion chain of the library on `path`, cut as given.
    std::vector<uint8_t> Chain(const std::string& path, const TVoiceCut* cut)
    {
        auto decoded = Decode(path);
        EXPECT_TRUE(decoded.ok()) << decoded.error;
        if (!decoded.ok())
            return {};
        const TSound prepared = PrepareForUnit(decoded.value->second);
        const TVoiceCut whole{0, prepared.samples.size(), 0, 0};
        return TVoicePreview::Encode(prepared, cut ? *cut : whole, TUnitFormat{});
    }
};

TEST_F(WindowVoice, AnMp3ForUploadIsPreviewedAndReachesTheUnitAsTheConvertedFile)
{
    Start();
    const std::string mp3 = MakeMp3("greeting.mp3");
    SelectGreeting(1);
    AnswerOpen(mp3);
    QString source, format, loudness;
    answers.Add([&](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), QString::fromUtf8(TVoicePreviewDialog::kCaption));
        EXPECT_EQ(d->parentWidget(), &Window());
        source = Child<QLabel>(d, "lblSource")->text();
        format = Child<QLabel>(d, "lblFormat")->text();
        loudness = Child<QLabel>(d, "lblLoudness")->text();
        EXPECT_EQ(d->findChild<QLabel*>(QStringLiteral("lblSynthetic")), nullptr);
        // The whole sound, as the command line converts it.
        test::ClickButton(d, "btnSelectAll");
        test::ClickButton(d, "btnUpload");
    });
    LetTransferRun();
    QTest::mouseClick(Control<QPushButton>("btnGreetUpload"), Qt::LeftButton);
    EXPECT_EQ(answers.Pending(), 0u);
    EXPECT_EQ(answers.Unanswered(), 0);
    EXPECT_TRUE(source.startsWith(QStringLiteral("greeting.mp3 (MP3"))) << source.toStdString();
    EXPECT_TRUE(source.contains(QStringLiteral("44100 Гц"))) << source.toStdString();
    EXPECT_EQ(format, QString::fromStdString(FormatName(TUnitFormat{})));
    EXPECT_TRUE(loudness.contains(QStringLiteral("LUFS"))) << loudness.toStdString();

    EXPECT_EQ(GreetingName(1), QStringLiteral("greeting.wav"));
    const auto stored = kvtest::SimStoredFile(State(), "greeting.wav");
    ASSERT_TRUE(stored);
    // The same bytes as the kvvoice program writes for the same file.
    const std::string converted = dir / "kvvoice.wav";
    ASSERT_EQ(Shell(std::string(KVVOICE_PATH) + " convert " + Quoted(mp3) + " " + Quoted(converted)), 0);
    const std::vector<uint8_t> fromKvvoice = kvtest::ReadBytes(converted);
    EXPECT_GT(fromKvvoice.size(), 2u * 8000u);
    EXPECT_EQ(*stored, Text(fromKvvoice)) << "the same bytes as kvvoice convert";
    EXPECT_EQ(*stored, Text(Chain(mp3, nullptr)));
}

TEST_F(WindowVoice, ASelectionMadeWithTheMouseAndAFadeGoToTheUnit)
{
    Start();
    const std::string mp3 = MakeMp3("menu.mp3");
    SelectGreeting(2);
    AnswerOpen(mp3);
    TVoiceCut cut;
    answers.Add([&](QWidget* d) {
        auto* wave = Child<TWaveformView>(d, "Waveform");
        const QRect r = wave->rect();
        const QPoint from(r.left() + r.width() / 4, r.height() / 2);
        const QPoint to(r.left() + r.width() / 2, r.height() / 2);
        QTest::mousePress(wave, Qt::LeftButton, {}, from);
        QTest::mouseMove(wave, to);
        QTest::mouseRelease(wave, Qt::LeftButton, {}, to);
        cut.begin = wave->SampleAt(from.x());
        cut.end = wave->SampleAt(to.x());
        EXPECT_EQ(wave->SelectionBegin(), cut.begin);
        EXPECT_EQ(wave->SelectionEnd(), cut.end);
        EXPECT_TRUE(Child<QLabel>(d, "lblDuration")->text().startsWith(DurationText(double(cut.end - cut.begin) / 8000)));
        auto* fadeOut = Child<QDoubleSpinBox>(d, "edtFadeOut");
        fadeOut->setValue(0.2);
        cut.fadeOut = 0.2;
        test::ClickButton(d, "btnUpload");
    });
    LetTransferRun();
    QTest::mouseClick(Control<QPushButton>("btnGreetUpload"), Qt::LeftButton);
    EXPECT_EQ(answers.Unanswered(), 0);
    ASSERT_GT(cut.end, cut.begin);
    EXPECT_EQ(GreetingName(2), QStringLiteral("menu.wav"));
    const auto stored = kvtest::SimStoredFile(State(), "menu.wav");
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, Text(Chain(mp3, &cut)));
}

TEST_F(WindowVoice, CancelInThePreviewSendsNothingAndTheUnitsOwnFormatGoesByteForByte)
{
    Start();
    const std::string mp3 = MakeMp3("cancelled.mp3");
    SelectGreeting(1);
    AnswerOpen(mp3);
    answers.Add([](QWidget* d) { test::ClickButton(d, "btnCancel"); });
    QTest::mouseClick(Control<QPushButton>("btnGreetUpload"), Qt::LeftButton);
    EXPECT_EQ(answers.Unanswered(), 0);
    EXPECT_EQ(answers.Shown().size(), 3) << "the password, the open dialog, the preview: no transfer dialog";
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(GreetingName(1), QStringLiteral("day.pcm"));

    // A WAV already in the unit's format: open dialog, transfer, unchanged.
    const std::string own = dir / "own.wav";
    ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -e a-law -b 8 " + Quoted(own) + " synth 1 sine 600"), 0);
    AnswerOpen(own);
    LetTransferRun();
    QTest::mouseClick(Control<QPushButton>("btnGreetUpload"), Qt::LeftButton);
    EXPECT_EQ(answers.Unanswered(), 0);
    EXPECT_EQ(answers.Shown().last(), QStringLiteral("Передача/прием файла"));
    EXPECT_EQ(kvtest::SimStoredFile(State(), "own.wav"), Text(kvtest::ReadBytes(own)));
}

}  // namespace
