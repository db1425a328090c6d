#include "ui/FormVoice.h"

#include <cerrno>
#include <cstdio>
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

TVoiceCache::TVoiceCache(std::string root, std::string device)
{
    if (!root.empty())
        folder_ = (fs::path(root) / device).string();
}

std::string TVoiceCache::Path(int32_t code) const
{
    if (folder_.empty())
        return "";
    char name[16];
    std::snprintf(name, sizeof name, "%.2d", static_cast<int>(code));
    return (fs::path(folder_) / name).string();
}

namespace {

std::string infoText(const std::string& name, int32_t size)
{
    return std::to_string(size) + "\n" + name + "\n";
}

}  // namespace

bool TVoiceCache::Holds(int32_t code, const std::string& name, int32_t size) const
{
    const std::string path = Path(code);
    if (path.empty())
        return false;
    const auto held = readBytes(path + ".info");
    std::error_code ec;
    return held && std::string(held->begin(), held->end()) == infoText(name, size) &&
           fs::file_size(path, ec) == static_cast<uintmax_t>(size) && !ec;
}

bool TVoiceCache::MakeFolder(std::string& error) const
{
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) {
        error = "Не удалось создать папку «" + folder_ + "»: " + ec.message();
        return false;
    }
    return true;
}

bool TVoiceCache::Note(int32_t code, const std::string& name, int32_t size, std::string& error) const
{
    const std::string text = infoText(name, size);
    return writeBytes(Path(code) + ".info", std::vector<uint8_t>(text.begin(), text.end()), error);
}

bool TVoiceCache::Keep(int32_t code, const std::string& name, const std::string& bytes, std::string& error) const
{
    if (folder_.empty())
        return true;
    // Without its .info the file is not taken for the unit's until whole.
    Drop(code);
    if (!MakeFolder(error))
        return false;
    const std::string path = Path(code);
    if (!writeBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.end()), error) ||
        !Note(code, name, static_cast<int32_t>(bytes.size()), error)) {
        Drop(code);
        return false;
    }
    return true;
}

void TVoiceCache::Drop(int32_t code) const
{
    const std::string path = Path(code);
    if (path.empty())
        return;
    std::error_code ec;
    fs::remove(path + ".info", ec);
    fs::remove(path, ec);
}

TVoiceCache TFormVoice::Cache() const
{
    TVoiceView* v = view();
    return TVoiceCache(v ? v->CacheFolder() : "", device());
}

void TFormVoice::Uploaded(const TFile& slot)
{
    Cache().Drop(slot.code);
}

void TFormVoice::Listen(TFile& file)
{
    TVoiceView* v = view();
    if (!v || file.fileName.empty())
        return;
    const TVoiceCache cache = Cache();
    const std::string path = cache.Path(file.code);
    if (path.empty())
        return;
    if (!cache.Holds(file.code, file.fileName, file.fileSize)) {
        cache.Drop(file.code);
        std::string error;
        if (!cache.MakeFolder(error)) {
            ShowError(error);
            return;
        }
        const int32_t size = file.fileSize;
        const std::string name = file.fileName;
        {
            // The window's transfer dialog, then the unit's transfer result.
            int exitCode = -1;
            form_.Unit().Download(file, path, &exitCode);
            if (exitCode != 0)
                return;
        }
        std::error_code ec;
        const uintmax_t got = fs::file_size(path, ec);
        if (ec || got != static_cast<uintmax_t>(size)) {
            // Not what the unit listed: nothing is played, nothing cached.
            fs::remove(path, ec);
            ShowError("Файл «" + name + "» получен не целиком: " + std::to_string(ec ? 0 : got) + " байт из " +
                      std::to_string(size) + ".");
            return;
        }
        if (!cache.Note(file.code, name, size, error))
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
