// The audio library's inner steps, shared by its sources and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/Voice.h"

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

// libsoxr, high quality.
std::vector<float> Resample(const std::vector<float>& samples, int fromRate, int toRate);

// A look-ahead limiter: afterwards no sample exceeds `ceiling` (linear).
void Limit(std::vector<float>& samples, int rate, float ceiling);

}  // namespace kv::audio::detail
