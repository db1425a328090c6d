// Recognising, decoding and encoding sound files through libsndfile.
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>

#include "audio/Voice.h"
#include "audio/VoiceDetail.h"

namespace kv::audio {

namespace {

struct TCloseSndfile {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using TSndfile = std::unique_ptr<SNDFILE, TCloseSndfile>;

// libsndfile's virtual I/O over bytes in memory: reads them, or writes a
// growing buffer.
struct TMemoryFile {
    std::vector<uint8_t>* bytes = nullptr;
    const std::vector<uint8_t>* readOnly = nullptr;
    sf_count_t pos = 0;
    const std::vector<uint8_t>& Data() const { return bytes ? *bytes : *readOnly; }
};

sf_count_t memLength(void* user)
{
    return static_cast<sf_count_t>(static_cast<TMemoryFile*>(user)->Data().size());
}

sf_count_t memSeek(sf_count_t offset, int whence, void* user)
{
    auto* m = static_cast<TMemoryFile*>(user);
    sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? memLength(user) : 0;
    sf_count_t to = base + offset;
    if (to < 0)
        return -1;
    m->pos = to;
    return to;
}

sf_count_t memRead(void* ptr, sf_count_t count, void* user)
{
    auto* m = static_cast<TMemoryFile*>(user);
    const auto& data = m->Data();
    sf_count_t size = static_cast<sf_count_t>(data.size());
    if (m->pos >= size || count <= 0)
        return 0;
    sf_count_t n = std::min(count, size - m->pos);
    std::memcpy(ptr, data.data() + m->pos, static_cast<size_t>(n));
    m->pos += n;
    return n;
}

sf_count_t memWrite(const void* ptr, sf_count_t count, void* user)
{
    auto* m = static_cast<TMemoryFile*>(user);
    if (!m->bytes || count <= 0)
        return 0;
    size_t end = static_cast<size_t>(m->pos + count);
    if (m->bytes->size() < end)
        m->bytes->resize(end);
    std::memcpy(m->bytes->data() + m->pos, ptr, static_cast<size_t>(count));
    m->pos += count;
    return count;
}

sf_count_t memTell(void* user)
{
    return static_cast<TMemoryFile*>(user)->pos;
}

SF_VIRTUAL_IO memoryIo()
{
    SF_VIRTUAL_IO io{};
    io.get_filelen = memLength;
    io.seek = memSeek;
    io.read = memRead;
    io.write = memWrite;
    io.tell = memTell;
    return io;
}

int subtypeOf(TEncoding encoding)
{
    switch (encoding) {
    case TEncoding::ALaw:
        return SF_FORMAT_ALAW;
    case TEncoding::ULaw:
        return SF_FORMAT_ULAW;
    case TEncoding::U8:
        return SF_FORMAT_PCM_U8;
    }
    return SF_FORMAT_ALAW;
}

std::optional<TUnitFormat> unitFormatOf(const SF_INFO& info)
{
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV || info.samplerate != kUnitRate ||
        info.channels != 1)
        return std::nullopt;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_ALAW:
        return TUnitFormat{TEncoding::ALaw, false};
    case SF_FORMAT_ULAW:
        return TUnitFormat{TEncoding::ULaw, false};
    case SF_FORMAT_PCM_U8:
        return TUnitFormat{TEncoding::U8, false};
    default:
        return std::nullopt;
    }
}

// Opens a file by its descriptor, so that libsndfile recognises it from its
// contents alone and never guesses from the name.
TSndfile openFile(const std::string& path, SF_INFO& info, int& openErrno)
{
    openErrno = 0;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        openErrno = errno;
        return nullptr;
    }
    info = SF_INFO{};
    SNDFILE* f = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!f)
        ::close(fd);
    return TSndfile(f);
}

std::string majorName(int major)
{
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
        return "WAV";
    case SF_FORMAT_W64:
        return "W64";
    case SF_FORMAT_AIFF:
        return "AIFF";
    case SF_FORMAT_AU:
        return "AU";
    case SF_FORMAT_CAF:
        return "CAF";
    case SF_FORMAT_FLAC:
        return "FLAC";
    case SF_FORMAT_OGG:
        return "Ogg";
    case SF_FORMAT_MPEG:
        return "MP3";
    default: {
        SF_FORMAT_INFO fi{};
        fi.format = major;
        if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &fi, sizeof fi) == 0 && fi.name)
            return fi.name;
        return "?";
    }
    }
}

std::string subtypeName(int sub)
{
    switch (sub) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return "PCM 8 бит";
    case SF_FORMAT_PCM_16:
        return "PCM 16 бит";
    case SF_FORMAT_PCM_24:
        return "PCM 24 бит";
    case SF_FORMAT_PCM_32:
        return "PCM 32 бит";
    case SF_FORMAT_FLOAT:
        return "float 32 бит";
    case SF_FORMAT_DOUBLE:
        return "float 64 бит";
    case SF_FORMAT_ALAW:
        return "A-law";
    case SF_FORMAT_ULAW:
        return "µ-law";
    case SF_FORMAT_VORBIS:
        return "Vorbis";
    case SF_FORMAT_OPUS:
        return "Opus";
    default: {
        SF_FORMAT_INFO fi{};
        fi.format = sub;
        if (sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &fi, sizeof fi) == 0 && fi.name)
            return fi.name;
        return "";
    }
    }
}

std::string formatDescription(int format)
{
    int major = format & SF_FORMAT_TYPEMASK;
    int sub = format & SF_FORMAT_SUBMASK;
    std::string name = majorName(major);
    if (major == SF_FORMAT_MPEG)
        return name;
    std::string subName = subtypeName(sub);
    if (major == SF_FORMAT_FLAC && subName.rfind("PCM ", 0) == 0)
        subName = subName.substr(4);
    return subName.empty() ? name : name + " " + subName;
}

std::string fileName(const std::string& path)
{
    std::string name = std::filesystem::path(path).filename().string();
    return name.empty() ? path : name;
}

std::string systemReason(int error)
{
    switch (error) {
    case ENOENT:
        return "файла нет";
    case EACCES:
    case EPERM:
        return "нет прав на чтение";
    case EISDIR:
        return "это папка";
    default:
        return std::strerror(error);
    }
}

std::string seconds1(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    std::string s = text;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

}  // namespace

namespace detail {

std::string RiffDamage(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    in.seekg(0, std::ios::end);
    const uint64_t size = static_cast<uint64_t>(in.tellg());
    in.seekg(0);
    auto le32 = [](const unsigned char* b) {
        return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    };
    unsigned char head[12];
    if (!in.read(reinterpret_cast<char*>(head), sizeof head) || std::memcmp(head, "RIFF", 4) != 0)
        return "";
    uint64_t offset = 12;
    while (offset + 8 <= size) {
        unsigned char chunk[8];
        in.seekg(static_cast<std::streamoff>(offset));
        if (!in.read(reinterpret_cast<char*>(chunk), sizeof chunk))
            return "";
        const uint32_t length = le32(chunk + 4);
        const uint64_t end = offset + 8 + length;
        if (std::memcmp(chunk, "data", 4) == 0) {
            // 0 and 0xFFFFFFFF: written by a program that could not go back
            // to fill the length in; the data runs to the end of the file.
            if (length != 0 && length != 0xFFFFFFFFu && end > size) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "файл обрывается: в заголовке %llu байт звука, в файле %llu",
                              static_cast<unsigned long long>(length),
                              static_cast<unsigned long long>(size - offset - 8));
                return text;
            }
            return "";
        }
        if (end > size)
            return "заголовок повреждён (блок «" + std::string(reinterpret_cast<char*>(chunk), 4) +
                   "» длиннее файла)";
        offset = end + (length & 1);
    }
    return "";
}

}  // namespace detail

std::string FormatName(const TUnitFormat& format)
{
    std::string encoding = format.encoding == TEncoding::ALaw ? "A-law"
                           : format.encoding == TEncoding::ULaw ? "µ-law"
                                                                : "PCM 8 бит";
    return format.raw ? encoding + " без заголовка" : "WAV " + encoding;
}

double TSound::Seconds() const
{
    return rate > 0 ? static_cast<double>(samples.size()) / rate : 0.0;
}

std::optional<TUnitFormat> UnitFormatOfFile(const std::string& path)
{
    SF_INFO info{};
    int err = 0;
    TSndfile f = openFile(path, info, err);
    if (!f)
        return std::nullopt;
    return unitFormatOf(info);
}

std::optional<TUnitFormat> UnitFormatOfBytes(const std::vector<uint8_t>& bytes)
{
    TMemoryFile m;
    m.readOnly = &bytes;
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info{};
    TSndfile f(sf_open_virtual(&io, SFM_READ, &info, &m));
    if (!f)
        return std::nullopt;
    return unitFormatOf(info);
}

bool IsAudio(const std::string& path)
{
    SF_INFO info{};
    int err = 0;
    TSndfile f = openFile(path, info, err);
    return f && info.channels > 0 && info.samplerate > 0;
}

namespace {

// Reads a whole file, the channels mixed to mono, handing the sound on in
// blocks of at most detail::kBlockSamples samples; so a caller that brings it to the
// unit's rate never holds the file's sound whole. The same messages as
// Decode. `opened` is filled in before the first block (its frames 0 when
// the file does not tell its length).
TAudioResult<TSourceInfo> readMono(const std::string& path, const std::function<void(const float*, size_t)>& sink,
                                   SF_INFO* opened = nullptr)
{
    TAudioResult<TSourceInfo> result;
    const std::string name = fileName(path);
    auto fail = [&](const std::string& reason) {
        result.value.reset();
        result.error = "Файл «" + name + "» не удалось прочитать: " + reason;
        return result;
    };

    SF_INFO info{};
    int openErrno = 0;
    TSndfile f = openFile(path, info, openErrno);
    if (openErrno != 0)
        return fail(systemReason(openErrno));
    if (!f || info.channels <= 0 || info.samplerate <= 0)
        return fail("это не звуковой файл или его формат не поддерживается");

    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) {
        std::string damage = detail::RiffDamage(path);
        if (!damage.empty())
            return fail(damage);
    }

    TSourceInfo source;
    source.format = formatDescription(info.format);
    source.rate = info.samplerate;
    source.channels = info.channels;

    const bool lengthKnown = info.frames > 0 && info.frames < SF_COUNT_MAX;
    if (opened) {
        *opened = info;
        if (!lengthKnown)
            opened->frames = 0;
    }
    const size_t channels = static_cast<size_t>(info.channels);
    const sf_count_t block = static_cast<sf_count_t>(detail::kBlockSamples);
    std::vector<float> buffer(detail::kBlockSamples * channels);
    const float scale = 1.0f / static_cast<float>(channels);
    size_t frames = 0;
    bool finite = true;
    for (;;) {
        const sf_count_t got = sf_readf_float(f.get(), buffer.data(), block);
        if (got <= 0)
            break;
        const size_t n = static_cast<size_t>(got);
        // Mixed in place: frame i's mono sample goes to buffer[i], which its
        // own channels have been read from already.
        if (channels > 1) {
            for (size_t i = 0; i < n; ++i) {
                const float* frame = buffer.data() + i * channels;
                float sum = 0;
                for (size_t c = 0; c < channels; ++c)
                    sum += frame[c];
                buffer[i] = sum * scale;
            }
        }
        for (size_t i = 0; i < n && finite; ++i)
            finite = std::isfinite(buffer[i]);
        if (finite)
            sink(buffer.data(), n);
        frames += n;
    }
    if (lengthKnown) {
        const double expected = static_cast<double>(info.frames);
        const double got = static_cast<double>(frames);
        // An MP3 without a length in its first frame has an estimated one.
        const double tolerance = major == SF_FORMAT_MPEG ? expected * 0.02 : 0.0;
        if (got + tolerance < expected)
            return fail("файл обрывается: прочитано " + seconds1(got / info.samplerate) + " с из " +
                        seconds1(expected / info.samplerate) + " с");
    }
    if (int e = sf_error(f.get()); e != SF_ERR_NO_ERROR)
        return fail(std::string("данные повреждены (") + sf_error_number(e) + ")");
    if (!finite)
        return fail("данные повреждены (недопустимые значения отсчётов)");
    if (frames == 0)
        return fail("в файле нет звука");
    source.seconds = static_cast<double>(frames) / info.samplerate;
    result.value = std::move(source);
    return result;
}

}  // namespace

TAudioResult<std::pair<TSourceInfo, TSound>> Decode(const std::string& path)
{
    TAudioResult<std::pair<TSourceInfo, TSound>> result;
    TSound sound;
    SF_INFO opened{};
    auto read = readMono(
        path,
        [&](const float* samples, size_t n) {
            if (sound.samples.empty())
                sound.samples.reserve(static_cast<size_t>(opened.frames));
            sound.samples.insert(sound.samples.end(), samples, samples + n);
        },
        &opened);
    if (!read.ok()) {
        result.error = std::move(read.error);
        return result;
    }
    sound.rate = read.value->rate;
    result.value.emplace(std::move(*read.value), std::move(sound));
    return result;
}

TAudioResult<std::pair<TSourceInfo, TSound>> DecodeForUnit(const std::string& path, const TPrepareOptions& options)
{
    TAudioResult<std::pair<TSourceInfo, TSound>> result;
    std::unique_ptr<detail::TUnitRateStream> stream;
    SF_INFO opened{};
    auto read = readMono(
        path,
        [&](const float* samples, size_t n) {
            if (!stream)
                stream = std::make_unique<detail::TUnitRateStream>(opened.samplerate,
                                                                   static_cast<size_t>(opened.frames));
            stream->Add(samples, n);
        },
        &opened);
    if (!read.ok()) {
        result.error = std::move(read.error);
        return result;
    }
    result.value.emplace(std::move(*read.value), stream->Finish(options));
    return result;
}

std::vector<uint8_t> EncodeForUnit(const TSound& sound8k, const TUnitFormat& format)
{
    std::vector<int16_t> pcm = detail::DitheredPcm(sound8k.samples, format.encoding);
    std::vector<uint8_t> bytes;
    bytes.reserve(pcm.size() + 1024);  // one byte a sample and the header
    TMemoryFile m;
    m.bytes = &bytes;
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info{};
    info.samplerate = kUnitRate;
    info.channels = 1;
    info.format = (format.raw ? SF_FORMAT_RAW : SF_FORMAT_WAV) | subtypeOf(format.encoding);
    TSndfile f(sf_open_virtual(&io, SFM_WRITE, &info, &m));
    if (!f)
        return bytes;
    // No PEAK chunk or anything else beyond the format and the data.
    sf_command(f.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sf_writef_short(f.get(), pcm.data(), static_cast<sf_count_t>(pcm.size()));
    f.reset();
    return bytes;
}

TAudioResult<TSound> DecodeUnitBytes(const std::vector<uint8_t>& bytes, const TUnitFormat& format)
{
    TAudioResult<TSound> result;
    TMemoryFile m;
    m.readOnly = &bytes;
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info{};
    TSndfile f;
    // A header decides; bytes without one (the unit keeps its factory
    // prompts so, whatever the format of the files it is sent) are read in
    // the format's encoding. A header that is there but damaged is an error,
    // not raw data to be played as noise.
    const bool header = bytes.size() >= 4 && (std::memcmp(bytes.data(), "RIFF", 4) == 0 ||
                                              std::memcmp(bytes.data(), "RIFX", 4) == 0);
    if (header || !format.raw || UnitFormatOfBytes(bytes)) {
        f.reset(sf_open_virtual(&io, SFM_READ, &info, &m));
    }
    if (!f && !header) {
        m.pos = 0;
        info = SF_INFO{};
        info.samplerate = kUnitRate;
        info.channels = 1;
        info.format = SF_FORMAT_RAW | subtypeOf(format.encoding);
        if (bytes.empty()) {
            result.value = TSound{kUnitRate, {}};
            return result;
        }
        f.reset(sf_open_virtual(&io, SFM_READ, &info, &m));
    }
    if (!f || info.channels <= 0 || info.samplerate <= 0) {
        result.error = "Звук устройства не удалось прочитать: " + std::string(sf_strerror(nullptr));
        return result;
    }
    TSound sound;
    sound.rate = info.samplerate;
    const size_t channels = static_cast<size_t>(info.channels);
    std::vector<float> buffer(8192 * channels);
    for (;;) {
        sf_count_t got = sf_readf_float(f.get(), buffer.data(), 8192);
        if (got <= 0)
            break;
        for (sf_count_t i = 0; i < got; ++i) {
            float sum = 0;
            for (size_t c = 0; c < channels; ++c)
                sum += buffer[static_cast<size_t>(i) * channels + c];
            sound.samples.push_back(sum / static_cast<float>(channels));
        }
    }
    result.value = std::move(sound);
    return result;
}

}  // namespace kv::audio
