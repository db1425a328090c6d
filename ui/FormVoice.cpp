#include "ui/FormVoice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "collections/File.h"
#include "collections/YModemU.h"
#include "session/Dialogs.h"
#include "ui/SettingsStore.h"
#include "ui/Unit1.h"
#include "ui/VoicePreview.h"

namespace kv {

namespace fs = std::filesystem;
using namespace kv::audio;

namespace {

std::string portName(int port)
{
    return "COM" + std::to_string(port);
}

std::string systemReason(int error)
{
    return std::strerror(error);
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (out)
        out.close();
    if (!out) {
        error = "Не удалось записать файл «" + path + "»: " + systemReason(errno);
        return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// ---- which way

TVoiceRoute VoiceRouteOf(const std::string& path, const TUnitFormat& unitFormat)
{
    const auto own = UnitFormatOfFile(path);
    if (own && *own == unitFormat)
        return TVoiceRoute::AsIs;
    return IsAudio(path) ? TVoiceRoute::Convert : TVoiceRoute::AsIs;
}

// ---- the format in the store

std::string FormatKeyText(const TUnitFormat& format)
{
    const char* encoding = format.encoding == TEncoding::ALaw   ? "alaw"
                           : format.encoding == TEncoding::ULaw ? "ulaw"
                                                                : "u8";
    return std::string(format.raw ? "raw-" : "wav-") + encoding;
}

std::optional<TUnitFormat> ParseFormatKeyText(const std::string& text)
{
    for (bool raw : {false, true})
        for (TEncoding e : {TEncoding::ALaw, TEncoding::ULaw, TEncoding::U8}) {
            const TUnitFormat f{e, raw};
            if (FormatKeyText(f) == text)
                return f;
        }
    return std::nullopt;
}

TVoiceFormatChoice StoredVoiceFormat(const TSettingsStore& store, int port)
{
    TVoiceFormatChoice c;
    const std::string name = portName(port);
    if (auto v = store.Value(TFormVoice::kChoiceKey + name))
        if (auto f = ParseFormatKeyText(*v))
            c.choice = *f;
    c.format = c.choice;
    if (auto v = store.Value(TFormVoice::kUnitFormatKey + name))
        if (auto f = ParseFormatKeyText(*v)) {
            c.format = *f;
            c.fromUnit = true;
        }
    return c;
}

// ---- TFormVoice

TFormVoice::TFormVoice(TForm1& form) : form_(form) {}

TFormVoice::~TFormVoice()
{
    Finished();
}

TVoiceView* TFormVoice::view() const
{
    return form_.View().VoiceView();
}

int TFormVoice::port() const
{
    return form_.Session().port;
}

std::string TFormVoice::device() const
{
    return portName(port());
}

TVoiceFormatChoice TFormVoice::Format() const
{
    return StoredVoiceFormat(form_.Store(), port());
}

void TFormVoice::ChooseFormat()
{
    TVoiceView* v = view();
    if (!v)
        return;
    TVoiceFormatChoice c = Format();
    if (v->ExecuteFormat(c))
        form_.Store().SetValue(kChoiceKey + device(), FormatKeyText(c.choice));
}

void TFormVoice::Downloaded(const std::string& path)
{
    if (const auto f = UnitFormatOfFile(path))
        form_.Store().SetValue(kUnitFormatKey + device(), FormatKeyText(*f));
}

std::string TFormVoice::tempFolder()
{
    if (!temp_.empty())
        return temp_;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/kvmanage-voice-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        ShowError("Не удалось создать временную папку: " + systemReason(errno));
        return "";
    }
    temp_ = pattern;
    return temp_;
}

void TFormVoice::Finished()
{
    if (temp_.empty())
        return;
    std::error_code ec;
    fs::remove_all(temp_, ec);
    temp_.clear();
}

std::string TFormVoice::preview(TVoicePreview& p)
{
    TVoiceView* v = view();
    p.onChangeFormat = [this, &p] {
        ChooseFormat();
        p.SetFormat(Format().format);
    };
    const bool upload = v && v->ExecutePreview(p);
    p.onChangeFormat = nullptr;
    if (!upload)
        return "";
    const std::string folder = tempFolder();
    if (folder.empty())
        return "";
    const std::string path = (fs::path(folder) / p.UnitFileName()).string();
    std::string error;
    if (!writeBytes(path, p.Bytes(), error)) {
        ShowError(error);
        return "";
    }
    return path;
}

std::string TFormVoice::PrepareUpload(const std::string& chosen)
{
    const TUnitFormat unit = Format().format;
    // Even the headers are read off the UI thread: a file may sit on a slow disk.
    TVoiceRoute route = TVoiceRoute::AsIs;
    form_.BeginBusy();
    RunOffUiThread([&] { route = VoiceRouteOf(chosen, unit); });
    std::string error;
    std::unique_ptr<TVoicePreview> p;
    if (route == TVoiceRoute::Convert)
        p = TVoicePreview::FromFile(chosen, unit, TVoiceOrigin::File, error);
    form_.EndBusy();
    if (route == TVoiceRoute::AsIs)
        return chosen;
    if (!p) {
        ShowError(error);
        return "";
    }
    return preview(*p);
}

std::string TFormVoice::Record()
{
    TVoiceView* v = view();
    if (!v)
        return "";
    auto sound = v->Record();
    if (!sound || sound->samples.empty())
        return "";
    TSourceInfo info{"Запись с микрофона", sound->rate, 1, sound->Seconds()};
    form_.BeginBusy();
    auto p = TVoicePreview::FromSound(std::move(*sound), info, kRecordingName, Format().format,
                                      TVoiceOrigin::Recording);
    form_.EndBusy();
    return preview(*p);
}

std::string TFormVoice::Synthesize()
{
    TVoiceView* v = view();
    const std::string folder = v ? tempFolder() : "";
    if (folder.empty())
        return "";
    const std::string wav = (fs::path(folder) / "speech-source.wav").string();
    if (!v->Synthesize(wav))
        return "";
    std::string error;
    form_.BeginBusy();
    auto p = TVoicePreview::FromFile(wav, Format().format, TVoiceOrigin::Synthesis, error);
    form_.EndBusy();
    std::error_code ec;
    fs::remove(wav, ec);
    if (!p) {
        ShowError(error);
        return "";
    }
    p->SetName(kSpeechName);
    return preview(*p);
}

// ---- listening

std::string TFormVoice::CachePath(const std::string& slot) const
{
    TVoiceView* v = view();
    const std::string root = v ? v->CacheFolder() : "";
    if (root.empty())
        return "";
    return (fs::path(root) / device() / slot).string();
}

void TFormVoice::Listen(TFile& file, const std::string& slot)
{
    TVoiceView* v = view();
    if (!v || file.fileName.empty())
        return;
    const std::string path = CachePath(slot);
    if (path.empty())
        return;
    // The cache holds the file with what the unit said of it beside it.
    const std::string info = path + ".info";
    const std::string expected = std::to_string(file.fileSize) + "\n" + file.fileName + "\n";
    const auto held = readBytes(info);
    std::error_code ec;
    const bool fresh = held && std::string(held->begin(), held->end()) == expected &&
                       fs::file_size(path, ec) == static_cast<uintmax_t>(file.fileSize);
    if (!fresh) {
        fs::remove(info, ec);
        fs::remove(path, ec);
        fs::create_directories(fs::path(path).parent_path(), ec);
        if (ec) {
            ShowError("Не удалось создать папку «" + fs::path(path).parent_path().string() + "»: " + ec.message());
            return;
        }
        const int32_t size = file.fileSize;
        {
            file.action = 40;
            TFormYMU dialog(form_.Session(), form_.Comm(), file, path);
            form_.View().ExecuteTransfer(dialog);
            form_.Session().WaitIdle();
            if (dialog.ExitCode() != 0)
                return;
        }
        if (fs::file_size(path, ec) != static_cast<uintmax_t>(size) || ec)
            return;
        std::string error;
        if (!writeBytes(info, std::vector<uint8_t>(expected.begin(), expected.end()), error))
            ShowError(error);
        Downloaded(path);
    }
    const auto bytes = readBytes(path);
    if (!bytes)
        return;
    const TUnitFormat format = UnitFormatOfBytes(*bytes).value_or(Format().format);
    TAudioResult<TSound> sound;
    form_.BeginBusy();
    RunOffUiThread([&] { sound = DecodeUnitBytes(*bytes, format); });
    form_.EndBusy();
    if (!sound.ok()) {
        ShowError(sound.error);
        return;
    }
    v->ExecuteListen(*sound.value, file.fileName);
}

}  // namespace kv
