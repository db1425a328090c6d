// kvvoice run as a program: what it writes, what it prints, its exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "AudioTools.h"
#include "TempDir.h"
#include "audio/Voice.h"

using namespace kv::audio;
using kvtest::HaveTool;
using kvtest::Quoted;
using kvtest::Shell;

namespace {

struct TRun {
    int status = -1;
    std::string out, err;
};

class Kvvoice : public ::testing::Test {
protected:
    kvtest::TTempDir dir;

    void SetUp() override
    {
        if (!HaveTool("sox"))
            GTEST_SKIP() << "sox is not installed (Debian packages: sox libsox-fmt-all)";
    }

    TRun Run(const std::string& arguments)
    {
        const std::string out = dir / "stdout", err = dir / "stderr";
        int status = std::system((std::string(KVVOICE_PATH) + " " + arguments + " >" + Quoted(out) + " 2>" +
                                  Quoted(err))
                                     .c_str());
        TRun r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        auto text = [](const std::string& path) {
            std::ifstream in(path);
            std::stringstream s;
            s << in.rdbuf();
            return s.str();
        };
        r.out = text(out);
        r.err = text(err);
        return r;
    }

    std::string Tone(const std::string& name, const std::string& format, double seconds = 3)
    {
        const std::string path = dir / name;
        EXPECT_EQ(Shell("sox -R -n " + format + " " + Quoted(path) + " synth " + std::to_string(seconds) +
                        " sine 1000 vol 0.3"),
                  0);
        return path;
    }
};

TEST_F(Kvvoice, ConvertWritesWhatTheWindowWouldUpload)
{
    if (!HaveTool("lame"))
        GTEST_SKIP() << "lame is not installed (Debian package: lame)";
    const std::string wav = Tone("source.wav", "-r 44100 -c 2 -b 16");
    const std::string mp3 = dir / "greeting.mp3";
    ASSERT_EQ(Shell("lame --quiet " + Quoted(wav) + " " + Quoted(mp3)), 0);

    const std::string out = dir / "greeting.wav";
    TRun r = Run("convert " + Quoted(mp3) + " " + Quoted(out));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("MP3, 44100 Гц, 2 кан. -> WAV A-law, 3,00 с, -19,0 LUFS"), std::string::npos) << r.out;
    // The library's chain, byte for byte.
    auto decoded = Decode(mp3);
    ASSERT_TRUE(decoded.ok());
    const TUnitFormat alaw{TEncoding::ALaw, false};
    EXPECT_EQ(kvtest::ReadBytes(out), EncodeForUnit(PrepareForUnit(decoded.value->second), alaw));

    // Each encoding, headerless, at another loudness.
    for (const auto& [name, encoding] :
         {std::pair{"alaw", TEncoding::ALaw}, std::pair{"ulaw", TEncoding::ULaw}, std::pair{"u8", TEncoding::U8}}) {
        SCOPED_TRACE(name);
        const std::string raw = dir / (std::string(name) + ".raw");
        r = Run("convert " + Quoted(mp3) + " " + Quoted(raw) + " --raw --encoding " + name + " --loudness -16");
        ASSERT_EQ(r.status, 0) << r.err;
        const auto bytes = kvtest::ReadBytes(raw);
        EXPECT_NEAR(bytes.size(), 24000.0, 240.0);  // 8000 bytes a second
        auto heard = DecodeUnitBytes(bytes, {encoding, true});
        ASSERT_TRUE(heard.ok());
        EXPECT_NEAR(IntegratedLoudness(*heard.value), -16.0, 1.0);
    }
}

TEST_F(Kvvoice, AFileAlreadyInTheFormatIsCopiedByteForByte)
{
    for (const auto& [format, option] : {std::pair{"-r 8000 -c 1 -e a-law", ""},
                                         std::pair{"-r 8000 -c 1 -e u-law", "--encoding ulaw"},
                                         std::pair{"-r 8000 -c 1 -e unsigned -b 8", "--encoding u8"}}) {
        SCOPED_TRACE(format);
        // sox's own header, with the extra chunks it writes, is kept as it is.
        const std::string in = Tone("unit.wav", format, 2.5);
        const std::string out = dir / "copy.wav";
        TRun r = Run("convert " + Quoted(in) + " " + Quoted(out) + " " + option + " --loudness -30");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("скопирован без изменений"), std::string::npos) << r.out;
        EXPECT_EQ(kvtest::ReadBytes(out), kvtest::ReadBytes(in));
    }
    // Another encoding than asked: converted.
    const std::string in = Tone("alaw.wav", "-r 8000 -c 1 -e a-law", 2.5);
    TRun r = Run("convert " + Quoted(in) + " " + Quoted(dir / "u.wav") + " --encoding ulaw");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(UnitFormatOfFile(dir / "u.wav"), (TUnitFormat{TEncoding::ULaw, false}));
    EXPECT_NE(kvtest::ReadBytes(dir / "u.wav"), kvtest::ReadBytes(in));
}

TEST_F(Kvvoice, InfoDescribesAFile)
{
    const std::string in = Tone("tone.flac", "-r 48000 -c 2 -b 24", 2);
    TRun r = Run("info " + Quoted(in));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Формат: FLAC 24 бит\nЧастота: 48000 Гц\nКаналы: 2\nДлительность: 2,000 с\n"),
              std::string::npos)
        << r.out;
    // A 0.3 sine: -10,5 dBFS, about -13.5 LUFS as one channel.
    EXPECT_NE(r.out.find("Пик: -10,5 dBFS\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Громкость: -13,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Формат устройства: нет\n"), std::string::npos) << r.out;

    ASSERT_EQ(Run("convert " + Quoted(in) + " " + Quoted(dir / "unit.wav") + " --encoding u8").status, 0);
    r = Run("info " + Quoted(dir / "unit.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Формат: WAV PCM 8 бит\nЧастота: 8000 Гц\nКаналы: 1\nДлительность: 2,000 с\n"
                         "Громкость: -19,"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Формат устройства: да, WAV PCM 8 бит\n"), std::string::npos) << r.out;
}

TEST_F(Kvvoice, FailuresHaveTheirStatusAndMessageAndLeaveNoOutput)
{
    const std::string out = dir / "out.wav";
    // The input: missing, not sound, cut short.
    TRun r = Run("convert " + Quoted(dir / "нет.mp3") + " " + Quoted(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kvvoice: Файл «нет.mp3» не удалось прочитать: файла нет\n");
    kvtest::WriteBytes(dir / "notes.wav", {'t', 'e', 'x', 't', '\n'});
    r = Run("convert " + Quoted(dir / "notes.wav") + " " + Quoted(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kvvoice: Файл «notes.wav» не удалось прочитать: это не звуковой файл или его формат не "
                     "поддерживается\n");
    auto bytes = kvtest::ReadBytes(Tone("whole.wav", "-r 44100 -c 2 -b 16", 4));
    bytes.resize(bytes.size() / 2);
    kvtest::WriteBytes(dir / "half.wav", bytes);
    r = Run("convert " + Quoted(dir / "half.wav") + " " + Quoted(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("kvvoice: Файл «half.wav» не удалось прочитать: файл обрывается", 0), 0u) << r.err;
    r = Run("info " + Quoted(dir / "half.wav"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(out));

    // The output: a folder that does not exist.
    r = Run("convert " + Quoted(dir / "whole.wav") + " " + Quoted(dir / "no/such/out.wav"));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "kvvoice: Файл «out.wav» не удалось записать: нет такого файла или папки\n");

    // The command line.
    for (const std::string& bad : {std::string(""), std::string("play x"), std::string("info"),
                                   "convert " + Quoted(dir / "whole.wav"),
                                   "convert " + Quoted(dir / "whole.wav") + " " + Quoted(out) + " --encoding gsm",
                                   "convert " + Quoted(dir / "whole.wav") + " " + Quoted(out) + " --loudness loud",
                                   "convert " + Quoted(dir / "whole.wav") + " " + Quoted(out) + " --loudness -2",
                                   "convert " + Quoted(dir / "whole.wav") + " " + Quoted(out) + " --raw --raw",
                                   "convert " + Quoted(dir / "whole.wav") + " " + Quoted(out) + " extra"}) {
        SCOPED_TRACE(bad);
        r = Run(bad);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("kvvoice: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("Использование:"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    r = Run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("kvvoice convert ВХОД ВЫХОД"), std::string::npos);
    // Nothing of the attempts is left beside the files.
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename().string().find("kvvoice-"), std::string::npos) << entry.path();
}

}  // namespace
