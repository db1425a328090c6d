// The audio library's inner steps, shared by its sources and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/Voice.h"

struct soxr;

namespace kv::audio::detail {

// Why a RIFF WAV file's chunks do not fit the file (its data chunk promises
// more bytes than there are: the file was cut short), or "" when they fit.
std::string RiffDamage(const std::string& path);

// The samples with TPDF dither at the encoding's own step (one step of
// unsigned 8-bit PCM; the step of the A-law or µ-law segment the sample
// falls in), rounded to 16 bits so that the encoder's own quantisation
// lands on them. Digital silence stays silent. Always the same noise.
std::vector<int16_t> DitheredPcm(const std::vector<float>& samples, TEncoding encoding);

// 4th-order Butterworth high-pass at `lowHz` and low-pass at `highHz`, in place.
void BandLimit(std::vector<float>& samples, int rate, double lowHz, double highHz);

// The blocks a file is decoded in, and a sound in memory fed to the stream
// below in, so that both give the same samples.
constexpr size_t kBlockSamples = 65536;

// The conversion as a stream, so that a long file is never held whole at
// its own rate: mono sound at `rate` goes in block by block and is
// resampled to 8000 Hz as it comes (libsoxr, high quality); Finish then
// band-limits the 8000 Hz sound, normalises its loudness and limits it.
class TUnitRateStream {
public:
    // `expectedSamples`: the source's length when known (0 if not), to
    // reserve the output once.
    explicit TUnitRateStream(int rate, size_t expectedSamples = 0);
    ~TUnitRateStream();
    TUnitRateStream(const TUnitRateStream&) = delete;
    TUnitRateStream& operator=(const TUnitRateStream&) = delete;

    void Add(const float* samples, size_t count);
    TSound Finish(const TPrepareOptions& options);

private:
    void Take(const float* samples, size_t count);

    double ratio_ = 1.0;
    soxr* resampler_ = nullptr;
    std::vector<float> out_;
};

// A look-ahead limiter: afterwards no sample exceeds `ceiling` (linear).
void Limit(std::vector<float>& samples, int rate, float ceiling);

}  // namespace kv::audio::detail
