// Voice files through the whole chain, on real files that Debian's own
// tools (sox, lame, espeak-ng) make at test time.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "AudioTools.h"
#include "TempDir.h"
#include "audio/Voice.h"
#include "audio/VoiceDetail.h"

using namespace kv::audio;
using kvtest::HaveTool;
using kvtest::Quoted;
using kvtest::Shell;

namespace {

#define REQUIRE_TOOL(name)                                                                      \
    if (!HaveTool(name))                                                                        \
    GTEST_SKIP() << name " is not installed (Debian packages: sox libsox-fmt-all lame espeak-ng)"

class VoiceFiles : public ::testing::Test {
protected:
    kvtest::TTempDir dir;

    // sox -n ... OUT synth ...: a generated sound written by sox.
    std::string Synth(const std::string& name, const std::string& format, const std::string& synth)
    {
        const std::string path = dir / name;
        EXPECT_EQ(Shell("sox -R -n " + format + " " + Quoted(path) + " " + synth), 0) << name;
        return path;
    }

    // The whole chain, as the window and kvvoice run it.
    std::vector<uint8_t> Convert(const std::string& path, const TUnitFormat& format, double lufs = kDefaultLoudnessLufs)
    {
        auto decoded = DecodeForUnit(path, {lufs});
        EXPECT_TRUE(decoded.ok()) << decoded.error;
        if (!decoded.ok())
            return {};
        return EncodeForUnit(decoded.value->second, format);
    }

    static TSound Heard(const std::vector<uint8_t>& bytes, const TUnitFormat& format)
    {
        auto sound = DecodeUnitBytes(bytes, format);
        EXPECT_TRUE(sound.ok()) << sound.error;
        return sound.ok() ? *sound.value : TSound{};
    }
};

TEST_F(VoiceFiles, FilesInTheUnitsFormatAreRecognisedAndNothingElseIs)
{
    REQUIRE_TOOL("sox");
    const std::string tone = "synth 1 sine 440 vol 0.5";
    EXPECT_EQ(UnitFormatOfFile(Synth("a.wav", "-r 8000 -c 1 -e a-law", tone)), (TUnitFormat{TEncoding::ALaw, false}));
    EXPECT_EQ(UnitFormatOfFile(Synth("u.wav", "-r 8000 -c 1 -e u-law", tone)), (TUnitFormat{TEncoding::ULaw, false}));
    EXPECT_EQ(UnitFormatOfFile(Synth("8.wav", "-r 8000 -c 1 -e unsigned -b 8", tone)),
              (TUnitFormat{TEncoding::U8, false}));
    // Close, but not the unit's: another depth, rate or channel count, or no header.
    EXPECT_FALSE(UnitFormatOfFile(Synth("16.wav", "-r 8000 -c 1 -b 16", tone)));
    EXPECT_FALSE(UnitFormatOfFile(Synth("st.wav", "-r 8000 -c 2 -e a-law", tone)));
    EXPECT_FALSE(UnitFormatOfFile(Synth("16k.wav", "-r 16000 -c 1 -e a-law", tone)));
    const std::string raw = Synth("a.al", "-r 8000 -c 1 -t al", tone);
    EXPECT_FALSE(UnitFormatOfFile(raw));
    EXPECT_FALSE(UnitFormatOfFile(dir / "missing.wav"));
    EXPECT_TRUE(IsAudio(dir / "16.wav"));

    // Headerless data, text and random bytes are not sound: they are sent as they are,
    // whatever their names say.
    EXPECT_FALSE(IsAudio(raw));
    std::filesystem::copy_file(raw, dir / "a.au");
    EXPECT_FALSE(IsAudio(dir / "a.au"));
    kvtest::WriteBytes(dir / "notes.mp3", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
    EXPECT_FALSE(IsAudio(dir / "notes.mp3"));
    std::vector<uint8_t> noise(20000);
    std::mt19937 gen(7);
    for (auto& b : noise)
        b = static_cast<uint8_t>(gen());
    kvtest::WriteBytes(dir / "noise.wav", noise);
    EXPECT_FALSE(IsAudio(dir / "noise.wav"));
    EXPECT_FALSE(UnitFormatOfBytes(noise));
}

TEST_F(VoiceFiles, OurOwnOutputIsTheUnitsFormatAndDecodesBack)
{
    REQUIRE_TOOL("sox");
    // 997 Hz, not 1000: a tone of 1000 Hz has the same eight samples in
    // every period at 8000 Hz, and its error would depend on where those
    // eight fall in the encoding's steps, not on the encoding.
    auto source = Decode(Synth("tone.wav", "-r 44100 -c 2 -b 16", "synth 2 sine 997 vol 0.3"));
    ASSERT_TRUE(source.ok()) << source.error;
    const TSound prepared = PrepareForUnit(source.value->second);
    for (TEncoding encoding : {TEncoding::ALaw, TEncoding::ULaw, TEncoding::U8}) {
        for (bool raw : {false, true}) {
            const TUnitFormat format{encoding, raw};
            SCOPED_TRACE(FormatName(format));
            const std::vector<uint8_t> bytes = EncodeForUnit(prepared, format);
            // 8000 bytes a second, the header apart.
            const size_t header = raw ? 0 : bytes.size() - prepared.samples.size();
            EXPECT_EQ(bytes.size() - header, prepared.samples.size());
            EXPECT_LT(header, 100u);
            EXPECT_EQ(UnitFormatOfBytes(bytes), raw ? std::nullopt : std::optional(format));
            // Another program reads our file the same way.
            const std::string path = dir / (raw ? "out.raw" : "out.wav");
            kvtest::WriteBytes(path, bytes);
            if (!raw) {
                EXPECT_EQ(Shell("sox --i " + Quoted(path)), 0);
                EXPECT_EQ(UnitFormatOfFile(path), std::optional(format));
            }
            const TSound heard = Heard(bytes, format);
            EXPECT_EQ(heard.rate, 8000);
            ASSERT_EQ(heard.samples.size(), prepared.samples.size());
            double error = 0, signal = 0;
            for (size_t i = 0; i < heard.samples.size(); ++i) {
                error += std::pow(heard.samples[i] - prepared.samples[i], 2);
                signal += std::pow(prepared.samples[i], 2);
            }
            // 8-bit PCM with its dither: under 30 dB at this level. G.711 with
            // a dither one step wide: 30 to 36 dB a sample by where it falls
            // in its segment, about 32 over a tone.
            EXPECT_GT(10 * std::log10(signal / error), encoding == TEncoding::U8 ? 26 : 31);
            // The same sound always gives the same bytes.
            EXPECT_EQ(EncodeForUnit(prepared, format), bytes);
            // A unit whose files are WAV may still hold headerless ones (its
            // factory prompts): they play in its encoding all the same.
            if (raw) {
                EXPECT_EQ(Heard(bytes, {encoding, false}).samples.size(), prepared.samples.size());
            }
        }
    }
    // A header that is there but damaged is refused, not played as noise.
    std::vector<uint8_t> damaged = EncodeForUnit(prepared, {TEncoding::ALaw, false});
    damaged.resize(20);
    for (bool raw : {false, true}) {
        const auto heard = DecodeUnitBytes(damaged, {TEncoding::ALaw, raw});
        EXPECT_FALSE(heard.ok());
        EXPECT_NE(heard.error.find("Звук устройства не удалось прочитать"), std::string::npos) << heard.error;
    }
}

struct TSourceCase {
    const char* name;
    const char* soxFormat;  // the sox options of the file (empty: made by lame)
    const char* expectedFormat;
    int rate;
    int channels;
};

class Sources : public VoiceFiles, public ::testing::WithParamInterface<TSourceCase> {};

// A 1 kHz tone in every kind of source: the output is the unit's format at
// 8000 Hz, as long as the source, at the target loudness, the tone kept.
TEST_P(Sources, BecomeTheUnitsFormatAtTheTargetLoudness)
{
    REQUIRE_TOOL("sox");
    const TSourceCase& c = GetParam();
    std::string path;
    const std::string synth = "synth 4 sine 1000 vol 0.25";
    if (std::string(c.soxFormat).empty()) {
        REQUIRE_TOOL("lame");
        const std::string wav = Synth("for-lame.wav", "-r 44100 -c 2 -b 16", synth);
        path = dir / c.name;
        ASSERT_EQ(Shell("lame --quiet " + Quoted(wav) + " " + Quoted(path)), 0);
    } else {
        path = Synth(c.name, c.soxFormat, synth);
    }
    ASSERT_TRUE(IsAudio(path));
    auto decoded = Decode(path);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    const TSourceInfo& info = decoded.value->first;
    EXPECT_EQ(info.format, c.expectedFormat);
    EXPECT_EQ(info.rate, c.rate);
    EXPECT_EQ(info.channels, c.channels);
    EXPECT_NEAR(info.seconds, 4.0, 0.04);

    for (double target : {kDefaultLoudnessLufs, -24.0}) {
        SCOPED_TRACE(target);
        const TUnitFormat format{TEncoding::ALaw, false};
        const std::vector<uint8_t> bytes = Convert(path, format, target);
        ASSERT_EQ(UnitFormatOfBytes(bytes), std::optional(format));
        const TSound heard = Heard(bytes, format);
        EXPECT_EQ(heard.rate, 8000);
        EXPECT_NEAR(heard.Seconds(), 4.0, 0.04);
        EXPECT_NEAR(IntegratedLoudness(heard), target, 1.0);
        EXPECT_NEAR(kvtest::ToneFrequency(heard, 4000, 28000), 1000.0, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Sources,
    ::testing::Values(TSourceCase{"s16.wav", "-r 44100 -c 2 -b 16", "WAV PCM 16 бит", 44100, 2},
                      TSourceCase{"s24.wav", "-r 48000 -c 1 -b 24", "WAV PCM 24 бит", 48000, 1},
                      TSourceCase{"u8.wav", "-r 22050 -c 1 -e unsigned -b 8", "WAV PCM 8 бит", 22050, 1},
                      TSourceCase{"f32.wav", "-r 96000 -c 6 -e float -b 32", "WAV float 32 бит", 96000, 6},
                      TSourceCase{"s16.flac", "-r 44100 -c 2 -b 16", "FLAC 16 бит", 44100, 2},
                      TSourceCase{"s.ogg", "-r 44100 -c 2", "Ogg Vorbis", 44100, 2},
                      TSourceCase{"s.mp3", "", "MP3", 44100, 2},
                      TSourceCase{"a16.wav", "-r 16000 -c 1 -e a-law", "WAV A-law", 16000, 1}),
    [](const ::testing::TestParamInfo<TSourceCase>& p) {
        std::string name = p.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST_F(VoiceFiles, TheTelephoneBandIsKeptAndNothingAliases)
{
    REQUIRE_TOOL("sox");
    // Equal tones at 1 kHz and 6 kHz; 6 kHz at 8000 Hz would fold onto 2 kHz.
    const std::string low = Synth("1k.wav", "-r 44100 -c 1 -b 16", "synth 3 sine 1000 vol 0.3");
    const std::string high = Synth("6k.wav", "-r 44100 -c 1 -b 16", "synth 3 sine 6000 vol 0.3");
    const std::string both = dir / "both.wav";
    ASSERT_EQ(Shell("sox -m " + Quoted(low) + " " + Quoted(high) + " " + Quoted(both)), 0);
    const TSound heard = Heard(Convert(both, {TEncoding::ALaw, false}), {TEncoding::ALaw, false});
    const double tone = kvtest::ToneDb(heard, 1000, 4000, 20000);
    EXPECT_GT(tone, -30.0);
    EXPECT_LT(kvtest::ToneDb(heard, 2000, 4000, 20000), tone - 40.0);

    // A sweep across the band: 1 kHz and 3 kHz pass alike, 100 Hz is cut.
    const std::string sweep = Synth("bands.wav", "-r 48000 -c 3 -b 16", "synth 3 sine 100 sine 1000 sine 3000 vol 0.5");
    auto decoded = Decode(sweep);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    TSound prepared = PrepareForUnit(decoded.value->second);
    const double k1 = kvtest::ToneDb(prepared, 1000, 4000, 20000);
    EXPECT_NEAR(kvtest::ToneDb(prepared, 3000, 4000, 20000), k1, 3.0);
    EXPECT_LT(kvtest::ToneDb(prepared, 100, 4000, 20000), k1 - 30.0);
}

TEST_F(VoiceFiles, NothingClipsHoweverLoudTheTarget)
{
    REQUIRE_TOOL("sox");
    // A square wave has peaks close to its loudness: raising it to -10 LUFS
    // would put them far over full scale without the limiter.
    const std::string square = Synth("square.wav", "-r 44100 -c 1 -b 16", "synth 3 square 440 vol 0.9");
    auto decoded = Decode(square);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    const TSound prepared = PrepareForUnit(decoded.value->second, {-10.0});
    EXPECT_LE(PeakDbfs(prepared), kCeilingDbfs + 0.01);
    for (TEncoding encoding : {TEncoding::ALaw, TEncoding::ULaw, TEncoding::U8}) {
        const TSound heard = Heard(EncodeForUnit(prepared, {encoding, false}), {encoding, false});
        EXPECT_LT(PeakDbfs(heard), -0.3) << FormatName({encoding, false});
    }
    EXPECT_GT(IntegratedLoudness(prepared), -13.0);
}

TEST_F(VoiceFiles, SpeechKeepsItsLengthAndItsSilenceIsFound)
{
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("espeak-ng");
    const std::string spoken = dir / "speech.wav";
    ASSERT_EQ(Shell("espeak-ng -v ru -w " + Quoted(spoken) + " " +
                    Quoted("Здравствуйте. Вы позвонили в офис. Оставайтесь на линии.")),
              0);
    // A second and a half of silence before, two after.
    const std::string padded = dir / "padded.wav";
    ASSERT_EQ(Shell("sox " + Quoted(spoken) + " " + Quoted(padded) + " pad 1.5 2"), 0);
    auto speech = Decode(spoken);
    auto source = Decode(padded);
    ASSERT_TRUE(speech.ok() && source.ok()) << speech.error << source.error;
    const double voiced = speech.value->first.seconds;

    const TUnitFormat format{TEncoding::ULaw, false};
    const TSound heard = Heard(Convert(padded, format), format);
    EXPECT_NEAR(heard.Seconds(), source.value->first.seconds, source.value->first.seconds * 0.01);
    EXPECT_NEAR(IntegratedLoudness(heard), kDefaultLoudnessLufs, 1.0);

    // espeak-ng's own file starts and ends with a little silence of its own.
    const auto [begin, end] = NonSilentRange(heard);
    EXPECT_GE(begin / 8000.0, 1.3);
    EXPECT_LE(begin / 8000.0, 1.6);
    EXPECT_GE(end / 8000.0, 1.5 + voiced - 0.3);
    EXPECT_LE(end / 8000.0, 1.7 + voiced);

    TSound kept = Trimmed(heard, begin, end);
    EXPECT_EQ(kept.samples.size(), end - begin);
    Fade(kept, 0.05, 0.05);
    EXPECT_LT(std::abs(kept.samples.front()), 0.001f);
    EXPECT_LT(std::abs(kept.samples.back()), 0.001f);
    const TSound trimmed = Heard(EncodeForUnit(kept, format), format);
    EXPECT_NEAR(trimmed.Seconds(), (end - begin) / 8000.0, 0.001);
    // Trimmed again, nothing more goes.
    const auto again = NonSilentRange(trimmed);
    EXPECT_LE(again.first, 400u);
    EXPECT_GE(again.second, trimmed.samples.size() - 400);
}

TEST_F(VoiceFiles, SilenceAndSoundsTooShortToMeasure)
{
    TSound silence{8000, std::vector<float>(16000, 0.0f)};
    EXPECT_LE(IntegratedLoudness(silence), -70.0);
    EXPECT_EQ(NonSilentRange(silence), (std::pair<size_t, size_t>{0, 16000}));
    const TSound prepared = PrepareForUnit(TSound{44100, std::vector<float>(44100, 0.0f)});
    EXPECT_NEAR(prepared.Seconds(), 1.0, 0.001);
    const TSound heard = Heard(EncodeForUnit(prepared, {TEncoding::ALaw, true}), {TEncoding::ALaw, true});
    EXPECT_TRUE(std::isinf(PeakDbfs(heard)) || PeakDbfs(heard) < -60) << PeakDbfs(heard);

    // A 0.2 s beep still reaches the target.
    TSound beep{48000, {}};
    for (int i = 0; i < 9600; ++i)
        beep.samples.push_back(0.05f * std::sin(2 * std::numbers::pi * 800 * i / 48000.0));
    EXPECT_NEAR(IntegratedLoudness(PrepareForUnit(beep)), kDefaultLoudnessLufs, 1.0);
}

TEST_F(VoiceFiles, AWaveformHoldsEveryPeak)
{
    TSound sound{8000, std::vector<float>(80000, 0.0f)};
    sound.samples[12345] = 0.75f;
    sound.samples[54321] = -0.5f;
    const auto peaks = Waveform(sound, 0, sound.samples.size(), 100);
    ASSERT_EQ(peaks.size(), 100u);
    float top = 0, bottom = 0;
    for (const TPeak& p : peaks) {
        top = std::max(top, p.max);
        bottom = std::min(bottom, p.min);
    }
    EXPECT_EQ(top, 0.75f);
    EXPECT_EQ(bottom, -0.5f);
    EXPECT_EQ(peaks[12345 * 100 / 80000].max, 0.75f);
    EXPECT_EQ(peaks[54321 * 100 / 80000].min, -0.5f);
    // A range narrower than the pixels, and an empty one.
    const auto zoomed = Waveform(sound, 12340, 12350, 40);
    ASSERT_EQ(zoomed.size(), 40u);
    int hits = 0;
    for (const TPeak& p : zoomed)
        hits += p.max == 0.75f;
    EXPECT_GE(hits, 3);
    EXPECT_EQ(Waveform(sound, 500, 500, 10).size(), 10u);
    EXPECT_EQ(ToPcm16(TSound{8000, {1.0f, -1.0f, 0.5f, 2.0f}}), (std::vector<int16_t>{32767, -32767, 16384, 32767}));
}

// A file the decoders recognise that turns out unreadable part-way gives
// one message naming it and the reason.
TEST_F(VoiceFiles, TruncatedAndDamagedFilesAreRefusedWithTheirMessage)
{
    REQUIRE_TOOL("sox");
    auto cut = [&](const std::string& path, double keep) {
        auto bytes = kvtest::ReadBytes(path);
        bytes.resize(static_cast<size_t>(bytes.size() * keep));
        const std::string out = dir / ("cut-" + std::filesystem::path(path).filename().string());
        kvtest::WriteBytes(out, bytes);
        return out;
    };
    const std::string synth = "synth 6 sine 300-3000 vol 0.5";
    std::vector<std::string> broken = {cut(Synth("long.wav", "-r 44100 -c 2 -b 16", synth), 0.5),
                                       cut(Synth("long.flac", "-r 44100 -c 2 -b 16", synth), 0.5)};
    if (HaveTool("lame")) {
        const std::string mp3 = dir / "long.mp3";
        ASSERT_EQ(Shell("lame --quiet " + Quoted(dir / "long.wav") + " " + Quoted(mp3)), 0);
        broken.push_back(cut(mp3, 0.5));
    }
    for (const std::string& path : broken) {
        const std::string name = std::filesystem::path(path).filename().string();
        SCOPED_TRACE(name);
        EXPECT_TRUE(IsAudio(path));
        auto decoded = Decode(path);
        EXPECT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error.rfind("Файл «" + name + "» не удалось прочитать: ", 0), 0u) << decoded.error;
        EXPECT_NE(decoded.error.find("обрывается"), std::string::npos) << decoded.error;
        // The one-pass conversion refuses it the same way.
        auto converted = DecodeForUnit(path);
        EXPECT_FALSE(converted.ok());
        EXPECT_EQ(converted.error, decoded.error);
    }

    // FLAC with its middle overwritten: the checksums of its frames fail.
    auto flac = kvtest::ReadBytes(dir / "long.flac");
    for (size_t i = flac.size() / 3; i < flac.size() / 3 + 4000; ++i)
        flac[i] = static_cast<uint8_t>(i * 7);
    kvtest::WriteBytes(dir / "damaged.flac", flac);
    auto damaged = Decode(dir / "damaged.flac");
    EXPECT_FALSE(damaged.ok());
    EXPECT_EQ(damaged.error.rfind("Файл «damaged.flac» не удалось прочитать: ", 0), 0u) << damaged.error;

    EXPECT_EQ(DecodeForUnit(dir / "damaged.flac").error, damaged.error);

    auto missing = Decode(dir / "нет.wav");
    EXPECT_EQ(missing.error, "Файл «нет.wav» не удалось прочитать: файла нет");
    EXPECT_EQ(DecodeForUnit(dir / "нет.wav").error, missing.error);
    kvtest::WriteBytes(dir / "text.ogg", {'n', 'o', 't', ' ', 's', 'o', 'u', 'n', 'd'});
    const std::string notSound =
        "Файл «text.ogg» не удалось прочитать: это не звуковой файл или его формат не поддерживается";
    EXPECT_EQ(Decode(dir / "text.ogg").error, notSound);
    EXPECT_EQ(DecodeForUnit(dir / "text.ogg").error, notSound);
}

// The window and kvvoice convert a file in one pass, block by block; a sound
// recorded or synthesised goes through PrepareForUnit whole. Both must give
// the same samples, to the end of a file that is not a whole number of
// blocks, whatever the blocks the stream is fed in.
TEST_F(VoiceFiles, TheOnePassConversionEqualsTheStepsOneAfterTheOther)
{
    REQUIRE_TOOL("sox");
    const std::string synth = "synth 13.3 sine 200-3800 vol 0.6";
    for (const std::string& path : {Synth("stereo.wav", "-r 44100 -c 2 -b 16", synth),
                                    Synth("five.flac", "-r 48000 -c 5 -b 24", synth),
                                    Synth("unit-rate.wav", "-r 8000 -c 1 -b 16", synth)}) {
        SCOPED_TRACE(path);
        auto decoded = Decode(path);
        ASSERT_TRUE(decoded.ok()) << decoded.error;
        ASSERT_GT(decoded.value->second.samples.size(), 3 * detail::kBlockSamples / 2);
        const TSound steps = PrepareForUnit(decoded.value->second, {-22.0});
        auto onePass = DecodeForUnit(path, {-22.0});
        ASSERT_TRUE(onePass.ok()) << onePass.error;
        EXPECT_EQ(onePass.value->first.format, decoded.value->first.format);
        EXPECT_EQ(onePass.value->first.channels, decoded.value->first.channels);
        EXPECT_DOUBLE_EQ(onePass.value->first.seconds, decoded.value->first.seconds);
        const TSound& one = onePass.value->second;
        EXPECT_EQ(one.rate, kUnitRate);
        EXPECT_NEAR(one.Seconds(), 13.3, 13.3 * 0.001);
        EXPECT_NEAR(IntegratedLoudness(one), -22.0, 0.5);
        // The same bytes for the unit, as kvvoice's file equals the window's upload.
        EXPECT_EQ(one.samples, steps.samples);

        // Fed in small blocks of odd sizes, the resampler's output is the same.
        const std::vector<float>& source = decoded.value->second.samples;
        detail::TUnitRateStream stream(decoded.value->second.rate);
        for (size_t i = 0, step = 1; i < source.size(); i += step, step = step * 7 % 997 + 1)
            stream.Add(source.data() + i, std::min(step, source.size() - i));
        const TSound small = stream.Finish({-22.0});
        ASSERT_EQ(small.samples.size(), steps.samples.size());
        double worst = 0;
        for (size_t i = 0; i < small.samples.size(); ++i)
            worst = std::max(worst, static_cast<double>(std::abs(small.samples[i] - steps.samples[i])));
        EXPECT_LT(worst, 1e-5);
    }
}

}  // namespace
