// Playing through a real sound server: a PulseAudio of the test's own with
// a null sink; what the program's player plays is recorded from the sink's
// monitor and the played tone is looked for in it. The preview dialog's
// "Прослушать" plays the converted sound and moves its play position.
// Without a sound server the tests skip and say why.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <cmath>
#include <memory>
#include <numbers>

#include "tests/audio/AudioTools.h"
#include "tests/support/TempDir.h"
#include "tests/ui/QtSupport.h"
#include "tests/ui/SoundServer.h"
#include "ui/VoicePreview.h"
#include "ui/qt/AudioPlayer.h"
#include "ui/qt/QtUiBridge.h"
#include "ui/qt/VoiceDialogs.h"
#include "ui/qt/Waveform.h"

using namespace kv;
using namespace kv::audio;

namespace {

TSound Tone(int rate, double hz, double seconds, float amplitude)
{
    TSound s{rate, std::vector<float>(static_cast<size_t>(rate * seconds))};
    for (size_t i = 0; i < s.samples.size(); ++i)
        s.samples[i] = amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return s;
}

// The strongest stretch of `hz` in the recording: its level in dB over
// windows of 0.1 s, the best window's.
double BestToneDb(const TSound& recorded, double hz)
{
    const size_t window = static_cast<size_t>(recorded.rate / 10);
    double best = -200;
    for (size_t at = 0; at + window <= recorded.samples.size(); at += window / 2)
        best = std::max(best, kvtest::ToneDb(recorded, hz, at, at + window));
    return best;
}

// Waits in an event loop until done() or `ms` have passed.
template <class Done>
bool WaitUntil(Done done, int ms)
{
    return QTest::qWaitFor(done, ms);
}

struct Sound : ::testing::Test {
    static inline std::unique_ptr<test::TSoundServer> server;

    static void SetUpTestSuite() { server = std::make_unique<test::TSoundServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override
    {
        if (!server->Started())
            GTEST_SKIP() << server->Why();
    }
};

TEST_F(Sound, ThePlayerPlaysAToneThatTheSinkHearsAndTellsItsPositionAndEnd)
{
    ASSERT_TRUE(server->StartRecording(16000)) << server->Why();
    TAudioPlayer player;
    std::vector<size_t> positions;
    int stopped = 0;
    player.onPosition = [&] { positions.push_back(player.Position()); };
    player.onStopped = [&] { ++stopped; };
    const TSound tone = Tone(8000, 1000, 1.5, 0.5f);
    ASSERT_TRUE(player.Play(tone)) << player.Error().toStdString();
    EXPECT_TRUE(player.Playing());
    ASSERT_TRUE(WaitUntil([&] { return stopped > 0; }, 10000)) << "the player never reached the end";
    const TSound recorded = server->StopRecording();
    EXPECT_FALSE(player.Playing());
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(player.Position(), tone.samples.size());
    ASSERT_GE(positions.size(), 3u) << "positions while playing";
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_GT(positions[positions.size() / 2], 0u);

    ASSERT_GT(recorded.Seconds(), 1.0) << "the recorder ran";
    const double at1k = BestToneDb(recorded, 1000);
    const double at3k = BestToneDb(recorded, 3000);
    EXPECT_GT(at1k, -20) << "the played tone reached the sink";
    EXPECT_LT(at3k, at1k - 30) << "and it is that tone, not noise";
}

TEST_F(Sound, StopEndsPlayingAtOnceAndSilenceFollows)
{
    TAudioPlayer player;
    int stopped = 0;
    player.onStopped = [&] { ++stopped; };
    ASSERT_TRUE(player.Play(Tone(8000, 1000, 20, 0.5f))) << player.Error().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return player.Position() > 800; }, 10000));
    player.Stop();
    EXPECT_EQ(stopped, 1);
    EXPECT_FALSE(player.Playing());
    EXPECT_LT(player.Position(), 8000u * 10);
    // After the stop the sink hears no more of it.
    ASSERT_TRUE(server->StartRecording(16000)) << server->Why();
    QTest::qWait(400);
    const TSound after = server->StopRecording();
    ASSERT_GT(after.samples.size(), 1000u);
    EXPECT_LT(BestToneDb(after, 1000), -60);
}

TEST_F(Sound, ThePreviewPlaysTheConvertedSoundAndMovesItsPlayPosition)
{
    // Three seconds at 44.1 kHz stereo: a 1 kHz tone between silences.
    TSound source = Tone(44100, 1000, 3, 0.05f);
    for (size_t i = 0; i < 44100; ++i) {
        source.samples[i] = 0;
        source.samples[source.samples.size() - 1 - i] = 0;
    }
    auto preview = TVoicePreview::FromSound(source, TSourceInfo{"WAV PCM 16 бит", 44100, 2, 3}, "tone.wav",
                                            TUnitFormat{}, TVoiceOrigin::File);
    TVoicePreviewDialog dialog(*preview);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    TWaveformView* wave = dialog.Panel()->Waveform();
    // The silence either side is left out of the first selection.
    EXPECT_NEAR(static_cast<double>(wave->SelectionBegin()) / kUnitRate, 1.0, 0.1);
    EXPECT_NEAR(static_cast<double>(wave->SelectionEnd()) / kUnitRate, 2.0, 0.1);

    ASSERT_TRUE(server->StartRecording(16000)) << server->Why();
    QPushButton* play = dialog.Panel()->PlayButton();
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(play->text(), QStringLiteral("Стоп"));
    std::vector<size_t> seen;
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (wave->PlayPosition() != TWaveformView::npos)
                seen.push_back(wave->PlayPosition());
            return !dialog.Panel()->Player().Playing();
        },
        10000));
    const TSound recorded = server->StopRecording();
    EXPECT_EQ(play->text(), QStringLiteral("Прослушать"));
    EXPECT_EQ(wave->PlayPosition(), TWaveformView::npos);
    ASSERT_FALSE(seen.empty());
    // The position runs inside the selection, from its start.
    EXPECT_GE(seen.front(), wave->SelectionBegin());
    EXPECT_LE(seen.back(), wave->SelectionEnd());
    EXPECT_GT(seen.back(), seen.front());
    // The unit's sound (band-limited, A-law, normalised) still carries the tone.
    EXPECT_GT(BestToneDb(recorded, 1000), -30);
    EXPECT_LT(BestToneDb(recorded, 5000), -60) << "nothing above the telephone band";
    dialog.reject();
}

}  // namespace
