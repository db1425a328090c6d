// The voice files' rules of the window against the simulated unit, with a
// scripted view: which way a picked file goes (as it is, byte for byte, or
// converted through the preview), the preview's cancel sending nothing, a
// damaged file refused with its message, the unit's format learnt from a
// downloaded file, and listening from the unit's cache. Files are made at
// test time by sox.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <cstdlib>
#include <set>

#include "ScriptedForm.h"
#include "SimProcess.h"
#include "backup/Backup.h"
#include "collections/File.h"
#include "collections/MenuDlg.h"
#include "collections/YModemU.h"
#include "tests/audio/AudioTools.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/SimState.h"
#include "tests/support/TempDir.h"
#include "tests/support/UiThread.h"
#include "ui/FormBackup.h"
#include "ui/FormVoice.h"
#include "ui/Screens.h"
#include "ui/Unit1.h"
#include "ui/VoicePreview.h"

using namespace kv;
using namespace kv::audio;
using namespace kvtest;

namespace {

std::string Text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The transfer dialog shown, and served until it closes, as the window does.
void ShowTransfer(TFormYMU& ymu)
{
    if (ymu.Show())
        ServeUntil([&] { return ymu.Closed(); }, 120000);
}

// The messages shown so far, one a line, for a failure's explanation.
std::string Shown(const TScriptedDialogs& dialogs)
{
    std::string text;
    for (const std::string& message : dialogs.Messages())
        text += message + "\n";
    return text;
}

// The last records of the simulator's transcript, each cut short and with
// control bytes escaped: what went over the line, for a failure's explanation.
std::string LineTail(const SimProcess& sim, size_t records = 40)
{
    const std::vector<TranscriptRecord> all = sim.Transcript();
    std::string text;
    for (size_t i = all.size() > records ? all.size() - records : 0; i < all.size(); ++i) {
        const TranscriptRecord& r = all[i];
        text += (r.dir == TranscriptRecord::Dir::FromTool ? "> " : "< ") + std::to_string(static_cast<long>(r.ms)) +
                " ms ";
        for (size_t k = 0; k < r.bytes.size() && k < 48; ++k) {
            const auto b = static_cast<unsigned char>(r.bytes[k]);
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            text += b >= 0x20 && b < 0x7f ? std::string(1, static_cast<char>(b)) : std::string(hex);
        }
        text += r.bytes.size() > 48 ? " ... (" + std::to_string(r.bytes.size()) + " bytes)\n" : "\n";
    }
    return text;
}

// The voice dialogs as a script: each preview is looked at and answered.
struct TScriptedVoiceView : TVoiceView {
    std::function<bool(TVoicePreview&)> onPreview;
    int previews = 0;
    std::vector<std::string> listened;
    std::vector<TSound> sounds;
    std::optional<TSound> recording;
    std::string speechSource;  // copied to the path the synthesis is asked for
    std::string cache;

    bool ExecutePreview(TVoicePreview& preview) override
    {
        ++previews;
        return onPreview ? onPreview(preview) : false;
    }
    void ExecuteListen(const TSound& sound, const std::string& title) override
    {
        listened.push_back(title);
        sounds.push_back(sound);
    }
    std::optional<TSound> Record() override { return recording; }
    bool Synthesize(const std::string& wavPath) override
    {
        if (speechSource.empty())
            return false;
        std::filesystem::copy_file(speechSource, wavPath);
        return true;
    }
    bool ExecuteFormat(TVoiceFormatChoice&) override { return false; }
    std::string CacheFolder() override { return cache; }
};

struct VoiceForm : ::testing::Test {
    TUiThread ui;
    TScriptedDialogs dialogs;
    TScriptedCollectionDialogs collections;
    TTempDir dir;
    std::unique_ptr<SimProcess> sim;
    TMemorySettingsStore store;
    TScriptedForm1View view;
    TScriptedVoiceView voice;
    std::unique_ptr<TForm1> form;
    size_t mark = 0;
    std::optional<std::string> oldTmp;

    void SetUp() override
    {
        if (!HaveTool("sox"))
            GTEST_SKIP() << "sox is not installed: no sound files can be made";
        voice.cache = dir / "cache";
        view.voiceView = &voice;
        // The conversion's private folders go to a temporary folder of this
        // test's own, so that other tests' folders are not taken for ours.
        const char* old = std::getenv("TMPDIR");
        oldTmp = old ? std::optional<std::string>(old) : std::nullopt;
        std::filesystem::create_directories(Tmp());
        setenv("TMPDIR", Tmp().c_str(), 1);
    }
    void TearDown() override
    {
        // A failure explains itself: the messages shown and the line's last
        // exchanges.
        if (HasFailure() && sim)
            std::fprintf(stderr, "Messages shown:\n%sThe line's last exchanges:\n%s", Shown(dialogs).c_str(),
                         LineTail(*sim, 80).c_str());
        form.reset();
        if (oldTmp)
            setenv("TMPDIR", oldTmp->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    std::string Tmp() const { return dir / "tmp"; }

    std::string State() const { return dir / "unit.state"; }
    void Start()
    {
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--state", State()});
        store.values[DeviceKey(1)] = sim->Path();
        form = std::make_unique<TForm1>(view, store, "kv20rcfg");
        view.currentTab = kTabMessages;
        dialogs.AnswerPassword("7777");
        form->btnConnectClick();
        ASSERT_EQ(form->Session().mode, kModeSystem);
        Mark();
    }
    void Mark()
    {
        mark = sim->BytesFromTool().size();
        dialogs.Clear();
    }
    std::string Sent() const { return sim->BytesFromTool().substr(mark); }
    TCatalogue& C() { return form->Catalogue(); }
    TScreens& S() { return form->Screens(); }
    // sox makes `name` in `format` (its output options) from `effects`.
    std::string Make(const std::string& name, const std::string& format, const std::string& effects)
    {
        const std::string path = dir / name;
        EXPECT_EQ(Shell("sox -n " + format + " " + Quoted(path) + " " + effects), 0) << format << effects;
        return path;
    }
    // Uploads `path` into the message of row 2 (slot 61).
    void UploadMessage(const std::string& path)
    {
        C().sgMessages.SetCurrent(1, 2);
        view.openNames.push_back(path);
        S().Click("btnMessageUpload");
    }
};

TEST_F(VoiceForm, AFileInTheUnitsFormatOrNotSoundGoesAsItIsAndAnyOtherSoundIsConverted)
{
    const TUnitFormat alaw{TEncoding::ALaw, false};
    const std::string unit = Make("unit.wav", "-r 8000 -c 1 -e a-law -b 8", "synth 1 sine 440");
    const std::string ulaw = Make("ulaw.wav", "-r 8000 -c 1 -e u-law -b 8", "synth 1 sine 440");
    const std::string cd = Make("cd.wav", "-r 44100 -c 2 -b 16", "synth 1 sine 440");
    const std::string flac = Make("tone.flac", "-r 48000 -c 1", "synth 1 sine 440");
    std::vector<uint8_t> noise(8000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 37 + i / 7);
    WriteBytes(dir / "raw.pcm", noise);
    WriteBytes(dir / "notes.txt", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});

    EXPECT_EQ(VoiceRouteOf(unit, alaw), TVoiceRoute::AsIs);
    EXPECT_EQ(VoiceRouteOf(ulaw, alaw), TVoiceRoute::Convert) << "the unit's rate, another encoding";
    EXPECT_EQ(VoiceRouteOf(ulaw, TUnitFormat{TEncoding::ULaw, false}), TVoiceRoute::AsIs);
    EXPECT_EQ(VoiceRouteOf(cd, alaw), TVoiceRoute::Convert);
    EXPECT_EQ(VoiceRouteOf(flac, alaw), TVoiceRoute::Convert);
    EXPECT_EQ(VoiceRouteOf(dir / "raw.pcm", alaw), TVoiceRoute::AsIs);
    EXPECT_EQ(VoiceRouteOf(dir / "notes.txt", alaw), TVoiceRoute::AsIs);
}

TEST_F(VoiceForm, TheUnitsFormatIsTheDownloadedFilesElseTheChoiceElseWavALaw)
{
    EXPECT_EQ(StoredVoiceFormat(store, 2).format, (TUnitFormat{TEncoding::ALaw, false}));
    EXPECT_FALSE(StoredVoiceFormat(store, 2).fromUnit);
    store.values["Software/kv20rm/VoiceFormatChoice/COM2"] = "raw-u8";
    EXPECT_EQ(StoredVoiceFormat(store, 2).format, (TUnitFormat{TEncoding::U8, true}));
    store.values["Software/kv20rm/VoiceFormat/COM2"] = "wav-ulaw";
    EXPECT_EQ(StoredVoiceFormat(store, 2).format, (TUnitFormat{TEncoding::ULaw, false}));
    EXPECT_TRUE(StoredVoiceFormat(store, 2).fromUnit);
    EXPECT_EQ(StoredVoiceFormat(store, 2).choice, (TUnitFormat{TEncoding::U8, true}));
    EXPECT_FALSE(StoredVoiceFormat(store, 1).fromUnit) << "kept per device";
    store.values["Software/kv20rm/VoiceFormat/COM3"] = "wav-gsm";
    EXPECT_FALSE(StoredVoiceFormat(store, 3).fromUnit) << "an unknown text counts as none";

    // A µ-law file downloaded from the unit teaches its format.
    Start();
    const std::string ulaw = Make("ulaw.wav", "-r 8000 -c 1 -e u-law -b 8", "synth 0.5 sine 440");
    UploadMessage(ulaw);
    ASSERT_EQ(voice.previews, 1) << "µ-law is not the unit's format yet: converted";
    EXPECT_EQ(C().sgMessages.Cell(1, 2), "msg61.pcm") << "the preview said no: the factory file stays";
    EXPECT_EQ(Sent(), "");
    store.values["Software/kv20rm/VoiceFormatChoice/COM1"] = "wav-ulaw";
    UploadMessage(ulaw);
    EXPECT_EQ(voice.previews, 1) << "now it is the chosen format: it goes as it is";
    EXPECT_EQ(C().sgMessages.Cell(1, 2), "ulaw.wav");
    store.values.erase("Software/kv20rm/VoiceFormatChoice/COM1");
    view.saveNames.push_back(dir / "back.wav");
    S().Click("btnMessageDownload");
    EXPECT_EQ(store.values["Software/kv20rm/VoiceFormat/COM1"], "wav-ulaw");
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(VoiceForm, AFileInTheUnitsFormatReachesTheUnitByteForByteWithoutPreview)
{
    Start();
    const std::string unit = Make("hello.wav", "-r 8000 -c 1 -e a-law -b 8", "synth 1.5 sine 700");
    UploadMessage(unit);
    EXPECT_EQ(voice.previews, 0);
    EXPECT_EQ(C().sgMessages.Cell(1, 2), "hello.wav");
    EXPECT_EQ(SimStoredFile(State(), "hello.wav"), Text(ReadBytes(unit)));
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(VoiceForm, ASoundFileIsConvertedShownAndTheChosenPartReachesTheUnit)
{
    Start();
    // Half a second of silence, a second of tone, half a second of silence.
    const std::string cd =
        Make("greeting.wav", "-r 44100 -c 2 -b 16", "synth 2 sine 1000 trim 0 2 pad 0.5 0.5 vol 0.1");
    TVoiceCut chosen;
    voice.onPreview = [&](TVoicePreview& p) {
        EXPECT_EQ(p.Name(), "greeting.wav");
        EXPECT_EQ(p.Source().rate, 44100);
        EXPECT_EQ(p.Source().channels, 2);
        EXPECT_NEAR(p.Source().seconds, 3.0, 0.01);
        EXPECT_EQ(p.Heard().rate, kUnitRate);
        EXPECT_NEAR(p.Heard().Seconds(), 3.0, 0.03);
        EXPECT_NEAR(p.Loudness(), kDefaultLoudnessLufs, 1.0);
        // The first selection leaves out the silence either side.
        EXPECT_NEAR(static_cast<double>(p.Cut().begin) / kUnitRate, 0.5, 0.1);
        EXPECT_NEAR(static_cast<double>(p.Cut().end) / kUnitRate, 2.5, 0.1);
        p.Select(kUnitRate, 2 * kUnitRate);
        p.SetFades(0.1, 5.0);
        EXPECT_DOUBLE_EQ(p.Cut().fadeOut, 0.5) << "a fade is at most half the selection";
        chosen = p.Cut();
        const TSound heard = p.Listening();
        EXPECT_EQ(heard.samples.size(), static_cast<size_t>(kUnitRate));
        return true;
    };
    // The converted file is sent from a private folder in the temporary one.
    bool privateFolder = false;
    view.onTransfer = [&](TFormYMU& ymu) {
        for (const auto& e : std::filesystem::directory_iterator(Tmp()))
            privateFolder |= e.path().filename().string().rfind("kvmanage-voice-", 0) == 0;
        ShowTransfer(ymu);
    };
    UploadMessage(cd);
    EXPECT_TRUE(privateFolder);
    ASSERT_EQ(voice.previews, 1);
    EXPECT_EQ(C().sgMessages.Cell(1, 2), "greeting.wav");

    // What the unit holds is the library's chain on the chosen part.
    auto decoded = Decode(cd);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    const TSound prepared = PrepareForUnit(decoded.value->second);
    const std::vector<uint8_t> expected = TVoicePreview::Encode(prepared, chosen, TUnitFormat{});
    const auto stored = SimStoredFile(State(), "greeting.wav");
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, Text(expected));
    EXPECT_EQ(UnitFormatOfBytes(std::vector<uint8_t>(stored->begin(), stored->end())), TUnitFormat{});
    EXPECT_TRUE(dialogs.Messages().empty());
    // The converted file's private folder is gone again.
    for (const auto& e : std::filesystem::directory_iterator(Tmp()))
        EXPECT_EQ(e.path().filename().string().rfind("kvmanage-voice-", 0), std::string::npos) << e.path();
}

TEST_F(VoiceForm, CancelInThePreviewAndADamagedFileSendNothing)
{
    Start();
    const std::string wave = Make("long.wav", "-r 22050 -c 1 -b 16", "synth 3 sine 500");
    UploadMessage(wave);
    EXPECT_EQ(voice.previews, 1);
    EXPECT_EQ(Sent(), "") << "cancelled in the preview";

    // Cut short in the middle of its data: recognised as sound, unreadable.
    std::vector<uint8_t> bytes = ReadBytes(wave);
    bytes.resize(bytes.size() / 2);
    WriteBytes(dir / "cut.wav", bytes);
    UploadMessage(dir / "cut.wav");
    EXPECT_EQ(voice.previews, 1) << "no preview of a damaged file";
    EXPECT_EQ(Sent(), "");
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_NE(dialogs.Messages()[0].find("cut.wav"), std::string::npos) << dialogs.Messages()[0];
    EXPECT_EQ(C().sgMessages.Cell(1, 2), "msg61.pcm");
}

TEST_F(VoiceForm, RecordingAndSpeechGoThroughThePreviewAndAreMarked)
{
    Start();
    TSound tone{16000, std::vector<float>(16000)};
    for (size_t i = 0; i < tone.samples.size(); ++i)
        tone.samples[i] = 0.3f * static_cast<float>(std::sin(2 * 3.14159265 * 800 * static_cast<double>(i) / 16000));
    voice.recording = tone;
    std::vector<TVoiceOrigin> origins;
    std::vector<std::string> names;
    voice.onPreview = [&](TVoicePreview& p) {
        origins.push_back(p.Origin());
        names.push_back(p.UnitFileName());
        return true;
    };
    C().sgMessages.SetCurrent(1, 3);
    S().Click("btnMessageRecord");
    EXPECT_EQ(C().sgMessages.Cell(1, 3), "record.wav");

    voice.speechSource = Make("speech.wav", "-r 22050 -c 1 -b 16", "synth 1 sine 300");
    C().sgMessages.SetCurrent(1, 4);
    S().Click("btnMessageSpeak");
    EXPECT_EQ(C().sgMessages.Cell(1, 4), "speech.wav");
    EXPECT_EQ(origins, (std::vector<TVoiceOrigin>{TVoiceOrigin::Recording, TVoiceOrigin::Synthesis}));
    EXPECT_TRUE(dialogs.Messages().empty());

    // Without a recording or a text nothing goes.
    voice.recording.reset();
    voice.speechSource.clear();
    Mark();
    S().Click("btnMessageRecord");
    S().Click("btnMessageSpeak");
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(origins.size(), 2u);
}

TEST_F(VoiceForm, ListeningFetchesTheSlotOnceAndAgainWhenTheUnitsFileChanged)
{
    Start();
    const std::string first = Make("first.wav", "-r 8000 -c 1 -e a-law -b 8", "synth 1 sine 440");
    UploadMessage(first);
    int transfers = 0;
    view.onTransfer = [&](TFormYMU& ymu) {
        ++transfers;
        ShowTransfer(ymu);
    };
    C().sgMessages.SetCurrent(1, 2);
    S().Click("btnMessageListen");
    S().Click("btnMessageListen");
    EXPECT_EQ(transfers, 1) << "the second time from the cache";
    ASSERT_EQ(voice.listened, (std::vector<std::string>{"first.wav", "first.wav"}));
    EXPECT_NEAR(voice.sounds[0].Seconds(), 1.0, 0.01);
    EXPECT_NEAR(ToneFrequency(voice.sounds[0], 100, 7900), 440, 2);
    EXPECT_EQ(Text(ReadBytes(S().Voice().Cache().Path(61))), Text(ReadBytes(first)));
    EXPECT_EQ(S().Voice().Cache().Path(61), voice.cache + "/COM1/61");
    EXPECT_EQ(store.values["Software/kv20rm/VoiceFormat/COM1"], "wav-alaw") << "learnt from the fetched file";

    // A new file of the same name and size: the unit's, not the cached one.
    std::filesystem::create_directory(dir / "again");
    const std::string same = dir / "again/first.wav";
    ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -e a-law -b 8 " + Quoted(same) + " synth 1 sine 1200"), 0);
    ASSERT_EQ(std::filesystem::file_size(same), std::filesystem::file_size(first));
    UploadMessage(same);
    S().Click("btnMessageListen");
    EXPECT_EQ(transfers, 3) << "the upload and the new fetch";
    ASSERT_EQ(voice.sounds.size(), 3u);
    EXPECT_NEAR(ToneFrequency(voice.sounds[2], 100, 7900), 1200, 2);
    voice.listened.clear();
    voice.sounds.clear();

    // Another file in the slot: fetched again.
    const std::string second = Make("second.wav", "-r 8000 -c 1 -e a-law -b 8", "synth 2 sine 880");
    UploadMessage(second);
    S().Click("btnMessageListen");
    EXPECT_EQ(transfers, 5) << "the upload and the new fetch";
    ASSERT_EQ(voice.listened.size(), 1u);
    EXPECT_EQ(voice.listened[0], "second.wav");
    EXPECT_NEAR(voice.sounds[0].Seconds(), 2.0, 0.01);

    // An empty slot plays nothing and fetches nothing.
    C().sgMessages.SetCurrent(1, 14);
    S().Click("btnMessageListen");
    EXPECT_EQ(voice.listened.size(), 1u);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(VoiceForm, TheUnitsHeaderlessFactoryGreetingPlaysInTheDevicesEncoding)
{
    Start();
    view.onTransfer = ShowTransfer;
    // The day greeting the unit came with has no header; nothing has told
    // the form the unit's format yet (WAV A-law is assumed).
    view.currentTab = kTabGreetings;
    form->TabShown(kTabGreetings);
    C().sgGreetings.SetCurrent(0, 1);
    S().Click("btnGreetListen");
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front();
    ASSERT_EQ(voice.listened, (std::vector<std::string>{"day.pcm"}));
    EXPECT_NEAR(voice.sounds[0].Seconds(), 5.0, 0.01) << "8000 bytes a second";
}

// The backup buttons' view: every snapshot saved to the next name, every
// table accepted as shown.
struct TAcceptingBackupView : TBackupView {
    std::deque<std::string> names;
    std::string SnapshotSaveName() override { return next(); }
    std::string SnapshotOpenName() override { return next(); }
    bool ExecuteDifferences(TFormDifferences&) override { return true; }
    void Progress(int, int, const std::string&) override {}
    std::string next()
    {
        if (names.empty())
            return {};
        std::string name = names.front();
        names.pop_front();
        return name;
    }
};

// The files of the device's cache folder, by name.
std::set<std::string> CacheFiles(const std::string& folder)
{
    std::set<std::string> names;
    if (std::filesystem::exists(folder))
        for (const auto& e : std::filesystem::directory_iterator(folder))
            names.insert(e.path().filename().string());
    return names;
}

TEST_F(VoiceForm, ASnapshotWithItsVoiceFilesFillsTheCacheOneFileASlotAndARestoreLeavesNoStaleOne)
{
    // A unit without its factory recordings: only the files uploaded here,
    // so that each snapshot fetches two short files.
    std::ofstream(State()) << "kvsim-state 1\n";
    Start();
    UploadMessage(Make("first.wav", "-r 8000 -c 1 -e a-law -b 8", "synth 1 sine 440"));
    C().sgMessages.SetCurrent(1, 3);
    view.openNames.push_back(Make("third.wav", "-r 8000 -c 1 -e a-law -b 8", "synth 1 sine 660"));
    S().Click("btnMessageUpload");
    ASSERT_EQ(C().sgMessages.Cell(1, 2), "first.wav") << Shown(dialogs) << LineTail(*sim);
    ASSERT_EQ(C().sgMessages.Cell(1, 3), "third.wav") << Shown(dialogs) << LineTail(*sim);
    ASSERT_TRUE(dialogs.Messages().empty()) << Shown(dialogs);
    int transfers = 0;
    view.onTransfer = [&](TFormYMU& ymu) {
        ++transfers;
        ShowTransfer(ymu);
    };
    TAcceptingBackupView backupView;
    TFormBackup buttons(*form, backupView);
    auto snapshot = [&](const std::string& name) {
        backupView.names.push_back(dir / name);
        collections.AnswerYesNo(true);  // with the voice files
        buttons.btnSnapshotClick();
        TSnapshot taken;
        std::string error;
        EXPECT_TRUE(TBackup(form->Unit()).Load(dir / name, taken, error)) << error;
        return taken;
    };
    const TSnapshot taken = snapshot("unit.kvs");
    ASSERT_TRUE(taken.files.count(61) && taken.files.count(62));
    EXPECT_EQ(taken.files.at(61).name, "first.wav") << Shown(dialogs) << LineTail(*sim);
    // Every file the snapshot took, and nothing else, is in the cache.
    const TVoiceCache cache = S().Voice().Cache();
    const std::string folder = voice.cache + "/COM1";
    std::set<std::string> expected;
    for (const auto& [code, values] : taken.files) {
        if (values.name.empty())
            continue;
        const std::string path = cache.Path(code);
        expected.insert(std::filesystem::path(path).filename().string());
        expected.insert(std::filesystem::path(path).filename().string() + ".info");
        EXPECT_EQ(Text(ReadBytes(path)), Text(ReadBytes(VoiceFilePath(dir / "unit.kvs", code, values.name))));
        EXPECT_TRUE(cache.Holds(code, values.name, values.size)) << code;
    }
    EXPECT_EQ(CacheFiles(folder), expected);
    EXPECT_TRUE(dialogs.Messages().empty()) << Shown(dialogs);

    // Played from the cache: no fetch.
    const int afterSnapshot = transfers;
    C().sgMessages.SetCurrent(1, 3);
    S().Click("btnMessageListen");
    EXPECT_EQ(transfers, afterSnapshot);
    ASSERT_EQ(voice.sounds.size(), 1u);
    EXPECT_NEAR(ToneFrequency(voice.sounds[0], 100, 7900), 660, 2);

    // Snapshots taken again do not add to it.
    snapshot("again.kvs");
    snapshot("and-again.kvs");
    EXPECT_EQ(CacheFiles(folder), expected);

    // Slot 61 changed on the unit and listened to, then restored from the
    // snapshot: its cached file is dropped, and the restored one is fetched.
    UploadMessage(Make("longer.wav", "-r 8000 -c 1 -e a-law -b 8", "synth 2 sine 880"));
    C().sgMessages.SetCurrent(1, 2);
    S().Click("btnMessageListen");
    ASSERT_EQ(voice.sounds.size(), 2u);
    EXPECT_NEAR(voice.sounds[1].Seconds(), 2.0, 0.01);
    backupView.names.push_back(dir / "unit.kvs");
    buttons.btnRestoreClick();
    EXPECT_EQ(C().sgMessages.Cell(1, 2), "first.wav") << Shown(dialogs);
    EXPECT_FALSE(std::filesystem::exists(cache.Path(61)));
    S().Click("btnMessageListen");
    ASSERT_EQ(voice.sounds.size(), 3u);
    EXPECT_NEAR(ToneFrequency(voice.sounds[2], 100, 7900), 440, 2);
    EXPECT_EQ(Text(ReadBytes(cache.Path(61))), Text(ReadBytes(dir / "first.wav")));
}

}  // namespace
