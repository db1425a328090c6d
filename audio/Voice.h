// Voice files: what the unit plays (8000 Hz, mono, 8 bits: 8000 bytes a
// second), recognising that format, decoding any other sound file and
// preparing it for the unit, and the measurements the preview and kvvoice
// show. Plain C++ on libsndfile (decoding, the G.711 and 8-bit encodings),
// libsoxr (resampling) and libebur128 (loudness); no Qt.
//
// The conversion chain: Decode -> PrepareForUnit -> (trim, fade on the
// 8000 Hz sound) -> EncodeForUnit; DecodeForUnit does the first two in one
// pass over a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv::audio {

// The unit's encodings: G.711 A-law, G.711 mu-law, unsigned 8-bit PCM.
enum class TEncoding { ALaw, ULaw, U8 };

// The unit's format: 8000 Hz mono in one encoding, in a WAV (RIFF) file or
// headerless (raw).
struct TUnitFormat {
    TEncoding encoding = TEncoding::ALaw;
    bool raw = false;
    bool operator==(const TUnitFormat&) const = default;
};

// "WAV A-law", "WAV µ-law", "WAV PCM 8 бит", "A-law без заголовка" ...
std::string FormatName(const TUnitFormat& format);

// The unit's bytes a second, whatever the encoding.
constexpr int kUnitRate = 8000;

// Mono sound in floats, -1..1.
struct TSound {
    int rate = 0;
    std::vector<float> samples;
    double Seconds() const;
};

// What a sound file holds.
struct TSourceInfo {
    std::string format;  // "MP3", "WAV PCM 16 бит", "FLAC 24 бит", "Ogg Vorbis" ...
    int rate = 0;
    int channels = 0;
    double seconds = 0;
};

// One outcome: a value, or a Russian message naming the file and the reason.
template <class T>
struct TAudioResult {
    std::optional<T> value;
    std::string error;
    bool ok() const { return value.has_value(); }
};

// The unit's format of a WAV file (8000 Hz, mono, A-law, µ-law or unsigned
// 8-bit), else nullopt. Headerless data is never recognised: nothing in it
// tells its format.
std::optional<TUnitFormat> UnitFormatOfFile(const std::string& path);
std::optional<TUnitFormat> UnitFormatOfBytes(const std::vector<uint8_t>& bytes);

// Whether the decoders recognise the file as sound at all (from its
// contents, never its name); a file they do not recognise is sent as it is.
bool IsAudio(const std::string& path);

// Decodes a whole file (WAV of any rate, depth and channel count, FLAC, Ogg
// Vorbis, Opus, MP3 ...), the channels mixed to mono. A file that cannot be
// opened, is not recognised, ends early or is damaged gives its message:
// "Файл «x.mp3» не удалось прочитать: ...".
TAudioResult<std::pair<TSourceInfo, TSound>> Decode(const std::string& path);

// The loudness every prompt is brought to; why this value: docs/audio.md.
constexpr double kDefaultLoudnessLufs = -19.0;
// The highest sample after the limiter, dBFS.
constexpr double kCeilingDbfs = -1.0;

struct TPrepareOptions {
    double loudnessLufs = kDefaultLoudnessLufs;
};

// Resamples to 8000 Hz (libsoxr, high quality), band-limits to the
// telephone band (300-3400 Hz), normalises the integrated loudness (libebur128)
// and limits so that no sample exceeds kCeilingDbfs. Result: 8000 Hz floats.
TSound PrepareForUnit(const TSound& source, const TPrepareOptions& options = {});

// Decode and PrepareForUnit in one pass, block by block: the file's sound is
// never held whole at its own rate. The same sound and the same messages as
// the two steps one after the other; the info is the source's.
TAudioResult<std::pair<TSourceInfo, TSound>> DecodeForUnit(const std::string& path,
                                                           const TPrepareOptions& options = {});

// Dithers to 8 bits and encodes in the unit's format (libsndfile), with a
// WAV header or raw. The same sound always gives the same bytes.
// `sound8k` must be at 8000 Hz (PrepareForUnit's result).
std::vector<uint8_t> EncodeForUnit(const TSound& sound8k, const TUnitFormat& format);

// Decodes the unit's bytes back (what a caller hears), for playing and
// drawing. A WAV header, if there is one, decides; bytes without a header
// are read in `format`'s encoding at 8000 Hz, whether or not `format` says
// raw (a unit that takes WAV files may still hold headerless ones).
TAudioResult<TSound> DecodeUnitBytes(const std::vector<uint8_t>& bytes, const TUnitFormat& format);

// Integrated loudness (EBU R128), LUFS; -70 for silence. A sound shorter
// than one measuring block (0.4 s) is measured as if it repeated.
double IntegratedLoudness(const TSound& sound);
// The highest sample, dBFS; -inf for silence.
double PeakDbfs(const TSound& sound);

struct TPeak {
    float min = 0, max = 0;
};
// Lowest and highest sample per pixel of samples [begin, end); `pixels`
// entries (an empty range gives zeros).
std::vector<TPeak> Waveform(const TSound& sound, size_t begin, size_t end, int pixels);

// The range [begin, end) without leading and trailing silence (quieter than
// -50 dBFS or 40 dB below the loudest 10 ms), with 50 ms kept either side;
// the whole sound when all of it is silence.
std::pair<size_t, size_t> NonSilentRange(const TSound& sound);
// Samples [begin, end) of the sound (clamped to it).
TSound Trimmed(const TSound& sound, size_t begin, size_t end);
// Fades in over the first `inSeconds` and out over the last `outSeconds`.
void Fade(TSound& sound, double inSeconds, double outSeconds);
// 16-bit PCM of the sound (native byte order, little-endian on our
// machines), for playing.
std::vector<int16_t> ToPcm16(const TSound& sound);

}  // namespace kv::audio
