// The conversion's steps on samples in memory: band limit, resampling,
// loudness, limiter, dither; and the measurements and edits of the preview.
#include <ebur128.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <numbers>

#include "audio/Voice.h"
#include "audio/VoiceDetail.h"

namespace kv::audio {

namespace detail {

namespace {

// One second-order section, transposed direct form II, state in doubles
// (a 300 Hz corner at 48 kHz is too close to DC for float state).
struct TBiquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double z1 = 0, z2 = 0;

    double Run(double x)
    {
        double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
    void Flush()
    {
        // Decaying state would end in denormals, which are slow.
        if (std::abs(z1) < 1e-30)
            z1 = 0;
        if (std::abs(z2) < 1e-30)
            z2 = 0;
    }
};

TBiquad section(bool highPass, double hz, int rate, double q)
{
    const double w0 = 2.0 * std::numbers::pi * hz / rate;
    const double cosw = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * q);
    const double a0 = 1.0 + alpha;
    TBiquad s;
    if (highPass) {
        s.b0 = (1.0 + cosw) / 2.0 / a0;
        s.b1 = -(1.0 + cosw) / a0;
    } else {
        s.b0 = (1.0 - cosw) / 2.0 / a0;
        s.b1 = (1.0 - cosw) / a0;
    }
    s.b2 = s.b0;
    s.a1 = -2.0 * cosw / a0;
    s.a2 = (1.0 - alpha) / a0;
    return s;
}

// The two sections' Q of a 4th-order Butterworth filter.
const double kButterworthQ[2] = {0.54119610014619698, 1.3065629648763766};

// A deterministic noise source (the same input always gives the same bytes).
struct TNoise {
    uint32_t state = 0x9E3779B9u;
    float Uniform()  // [0, 1)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(state >> 8) * (1.0f / 16777216.0f);
    }
};

// The quantisation step, in 16-bit units, of the encoding near magnitude `m`.
float stepAt(float m, TEncoding encoding)
{
    switch (encoding) {
    case TEncoding::U8:
        return 256.0f;
    case TEncoding::ALaw: {
        if (m < 512.0f)
            return 16.0f;
        int e = std::ilogb(m);
        return std::ldexp(1.0f, std::min(e, 14) - 4);
    }
    case TEncoding::ULaw: {
        int e = std::ilogb(m / 4.0f + 33.0f);
        return std::ldexp(1.0f, std::clamp(e - 2, 3, 10));
    }
    }
    return 256.0f;
}

}  // namespace

void BandLimit(std::vector<float>& samples, int rate, double lowHz, double highHz)
{
    if (rate <= 0 || samples.empty())
        return;
    std::vector<TBiquad> sections;
    const double nyquist = rate / 2.0;
    if (lowHz > 0 && lowHz < nyquist * 0.9) {
        for (double q : kButterworthQ)
            sections.push_back(section(true, lowHz, rate, q));
    }
    if (highHz > lowHz && highHz < nyquist * 0.9) {
        for (double q : kButterworthQ)
            sections.push_back(section(false, highHz, rate, q));
    }
    if (sections.empty())
        return;
    const size_t n = samples.size();
    const size_t block = 4096;
    for (size_t start = 0; start < n; start += block) {
        const size_t end = std::min(n, start + block);
        for (TBiquad& s : sections) {
            for (size_t i = start; i < end; ++i)
                samples[i] = static_cast<float>(s.Run(samples[i]));
            s.Flush();
        }
    }
}

void Limit(std::vector<float>& samples, int rate, float ceiling)
{
    const size_t n = samples.size();
    if (n == 0 || rate <= 0)
        return;
    bool over = false;
    for (float s : samples) {
        if (std::abs(s) > ceiling) {
            over = true;
            break;
        }
    }
    if (!over)
        return;
    // The gain each sample needs, the lowest of it over the next `look`
    // samples, a slow release, then a moving average over `look`: the
    // gain falls smoothly before a peak and is low enough at it.
    const size_t look = std::max<size_t>(1, static_cast<size_t>(rate * 0.002));
    const double release = 1.0 - std::exp(-1.0 / (0.08 * rate));
    auto need = [&](size_t i) {
        float a = std::abs(samples[i]);
        return a > ceiling ? ceiling / a : 1.0f;
    };
    std::vector<float> gain(n);
    std::deque<size_t> window;  // indices of rising need over [j, j + look)
    size_t next = 0;
    double held = 1.0;
    for (size_t j = 0; j < n; ++j) {
        while (next < n && next < j + look) {
            const float g = need(next);
            while (!window.empty() && need(window.back()) >= g)
                window.pop_back();
            window.push_back(next);
            ++next;
        }
        while (window.front() < j)
            window.pop_front();
        const double lowest = need(window.front());
        held = std::min(lowest, held + (1.0 - held) * release);
        gain[j] = static_cast<float>(held);
    }
    double sum = 0;
    std::vector<float> averaged(n);
    for (size_t i = 0; i < n; ++i) {
        sum += gain[i];
        sum -= i >= look ? gain[i - look] : 1.0;
        averaged[i] = static_cast<float>((sum + static_cast<double>(look)) / static_cast<double>(look));
    }
    for (size_t i = 0; i < n; ++i)
        samples[i] = std::clamp(samples[i] * averaged[i], -ceiling, ceiling);
}

std::vector<int16_t> DitheredPcm(const std::vector<float>& samples, TEncoding encoding)
{
    std::vector<int16_t> pcm(samples.size());
    TNoise noise;
    for (size_t i = 0; i < samples.size(); ++i) {
        const float x = std::isfinite(samples[i]) ? std::clamp(samples[i], -2.0f, 2.0f) : 0.0f;
        if (std::abs(x) < 1e-6f) {
            pcm[i] = 0;
            continue;
        }
        float v = x * 32768.0f;
        const float step = stepAt(std::abs(v), encoding);
        v += (noise.Uniform() + noise.Uniform() - 1.0f) * step;
        if (encoding == TEncoding::U8)
            v = std::round(v / 256.0f) * 256.0f;
        pcm[i] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L,
                                                 encoding == TEncoding::U8 ? 32512L : 32767L));
    }
    return pcm;
}

}  // namespace detail

namespace {

double fromDb(double db)
{
    return std::pow(10.0, db / 20.0);
}

constexpr double kSilenceLufs = -70.0;
// A file of residue only (a tone the band limit removed) is not raised into noise.
constexpr double kMaxGainDb = 40.0;

}  // namespace

double IntegratedLoudness(const TSound& sound)
{
    if (sound.rate <= 0 || sound.samples.empty())
        return kSilenceLufs;
    ebur128_state* state = ebur128_init(1, static_cast<unsigned long>(sound.rate), EBUR128_MODE_I);
    if (!state)
        return kSilenceLufs;
    const size_t minimum = static_cast<size_t>(sound.rate);  // one second
    if (sound.samples.size() >= minimum) {
        ebur128_add_frames_float(state, sound.samples.data(), sound.samples.size());
    } else {
        std::vector<float> looped;
        looped.reserve(minimum + sound.samples.size());
        while (looped.size() < minimum)
            looped.insert(looped.end(), sound.samples.begin(), sound.samples.end());
        ebur128_add_frames_float(state, looped.data(), looped.size());
    }
    double lufs = kSilenceLufs;
    if (ebur128_loudness_global(state, &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
        lufs = kSilenceLufs;
    ebur128_destroy(&state);
    return std::max(lufs, kSilenceLufs);
}

double PeakDbfs(const TSound& sound)
{
    float peak = 0;
    for (float s : sound.samples)
        peak = std::max(peak, std::abs(s));
    return peak > 0 ? 20.0 * std::log10(static_cast<double>(peak))
                    : -std::numeric_limits<double>::infinity();
}

namespace detail {

TUnitRateStream::TUnitRateStream(int rate, size_t expectedSamples)
{
    if (rate <= 0) {
        ratio_ = 0;  // no rate: nothing goes through
        return;
    }
    ratio_ = static_cast<double>(kUnitRate) / rate;
    if (rate != kUnitRate) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        resampler_ = soxr_create(rate, kUnitRate, 1, &error, &io, &quality, &runtime);
        if (error) {
            soxr_delete(resampler_);
            resampler_ = nullptr;
        }
    }
    if (expectedSamples > 0)
        out_.reserve(static_cast<size_t>(std::ceil(static_cast<double>(expectedSamples) * ratio_)) + 256);
}

TUnitRateStream::~TUnitRateStream()
{
    soxr_delete(resampler_);
}

void TUnitRateStream::Take(const float* samples, size_t count)
{
    // `samples` null: the end of the input, the resampler's tail comes out.
    size_t offset = 0;
    for (;;) {
        const size_t left = samples ? count - offset : 0;
        const size_t room = static_cast<size_t>(std::ceil(static_cast<double>(left) * ratio_)) + 256;
        const size_t before = out_.size();
        out_.resize(before + room);
        size_t used = 0, made = 0;
        const soxr_error_t error = soxr_process(resampler_, samples ? samples + offset : nullptr, left,
                                                samples ? &used : nullptr, out_.data() + before, room, &made);
        out_.resize(before + (error ? 0 : made));
        if (error)
            return;
        offset += used;
        if (samples ? offset >= count || (used == 0 && made == 0) : made == 0)
            return;
    }
}

void TUnitRateStream::Add(const float* samples, size_t count)
{
    if (count == 0 || ratio_ <= 0)
        return;
    if (resampler_)
        Take(samples, count);
    else if (ratio_ == 1.0)
        out_.insert(out_.end(), samples, samples + count);
}

TSound TUnitRateStream::Finish(const TPrepareOptions& options)
{
    if (resampler_)
        Take(nullptr, 0);
    TSound out{kUnitRate, std::move(out_)};
    out_ = {};
    if (out.samples.empty())
        return out;
    // The telephone band, at the unit's rate: the resampler's own filter has
    // removed everything over 4 kHz already, so nothing can fold back.
    BandLimit(out.samples, kUnitRate, 300.0, 3400.0);

    const float ceiling = static_cast<float>(fromDb(kCeilingDbfs));
    double total = 0;
    // The limiter takes a little loudness where it acts: measure again.
    for (int pass = 0; pass < 3; ++pass) {
        const double measured = IntegratedLoudness(out);
        if (measured <= kSilenceLufs)
            break;
        double change = options.loudnessLufs - measured;
        if (pass > 0 && std::abs(change) < 0.1)
            break;
        change = std::min(change, kMaxGainDb - total);
        total += change;
        const float gain = static_cast<float>(fromDb(change));
        for (float& s : out.samples)
            s *= gain;
        Limit(out.samples, kUnitRate, ceiling);
    }
    return out;
}

}  // namespace detail

TSound PrepareForUnit(const TSound& source, const TPrepareOptions& options)
{
    if (source.rate <= 0 || source.samples.empty())
        return TSound{kUnitRate, {}};
    detail::TUnitRateStream stream(source.rate, source.samples.size());
    const size_t n = source.samples.size();
    for (size_t i = 0; i < n; i += detail::kBlockSamples)
        stream.Add(source.samples.data() + i, std::min(detail::kBlockSamples, n - i));
    return stream.Finish(options);
}

std::vector<TPeak> Waveform(const TSound& sound, size_t begin, size_t end, int pixels)
{
    std::vector<TPeak> peaks(static_cast<size_t>(std::max(pixels, 0)));
    end = std::min(end, sound.samples.size());
    if (begin >= end || peaks.empty())
        return peaks;
    const size_t count = end - begin;
    const float* data = sound.samples.data() + begin;
    const size_t width = peaks.size();
    for (size_t p = 0; p < width; ++p) {
        size_t from = p * count / width;
        size_t to = (p + 1) * count / width;
        if (to <= from)
            to = std::min(count, from + 1);
        float lo = data[from], hi = data[from];
        for (size_t i = from + 1; i < to; ++i) {
            lo = std::min(lo, data[i]);
            hi = std::max(hi, data[i]);
        }
        peaks[p] = TPeak{lo, hi};
    }
    return peaks;
}

std::pair<size_t, size_t> NonSilentRange(const TSound& sound)
{
    const size_t n = sound.samples.size();
    if (n == 0 || sound.rate <= 0)
        return {0, 0};
    const size_t window = std::max<size_t>(1, static_cast<size_t>(sound.rate / 100));
    std::vector<double> levels;
    for (size_t start = 0; start < n; start += window) {
        const size_t end = std::min(n, start + window);
        double sum = 0;
        for (size_t i = start; i < end; ++i)
            sum += static_cast<double>(sound.samples[i]) * sound.samples[i];
        const double rms = std::sqrt(sum / static_cast<double>(end - start));
        levels.push_back(rms > 0 ? 20.0 * std::log10(rms) : -200.0);
    }
    const double loudest = *std::max_element(levels.begin(), levels.end());
    const double threshold = std::max(-50.0, loudest - 40.0);
    if (loudest < threshold)
        return {0, n};
    size_t first = 0;
    while (levels[first] < threshold)
        ++first;
    size_t last = levels.size() - 1;
    while (levels[last] < threshold)
        --last;
    const size_t pad = static_cast<size_t>(sound.rate / 20);
    const size_t begin = first * window > pad ? first * window - pad : 0;
    const size_t end = std::min(n, (last + 1) * window + pad);
    return {begin, end};
}

TSound Trimmed(const TSound& sound, size_t begin, size_t end)
{
    TSound out;
    out.rate = sound.rate;
    end = std::min(end, sound.samples.size());
    if (begin < end)
        out.samples.assign(sound.samples.begin() + static_cast<std::ptrdiff_t>(begin),
                           sound.samples.begin() + static_cast<std::ptrdiff_t>(end));
    return out;
}

void Fade(TSound& sound, double inSeconds, double outSeconds)
{
    const size_t n = sound.samples.size();
    auto length = [&](double seconds) {
        return std::min(n, static_cast<size_t>(std::max(0.0, seconds) * sound.rate));
    };
    // Raised-cosine ramps.
    auto ramp = [](size_t i, size_t len) {
        return static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * (static_cast<double>(i) + 0.5) /
                                                        static_cast<double>(len)));
    };
    const size_t in = length(inSeconds);
    for (size_t i = 0; i < in; ++i)
        sound.samples[i] *= ramp(i, in);
    const size_t out = length(outSeconds);
    for (size_t i = 0; i < out; ++i)
        sound.samples[n - 1 - i] *= ramp(i, out);
}

std::vector<int16_t> ToPcm16(const TSound& sound)
{
    std::vector<int16_t> pcm(sound.samples.size());
    for (size_t i = 0; i < pcm.size(); ++i) {
        const float x = std::isfinite(sound.samples[i]) ? std::clamp(sound.samples[i], -1.0f, 1.0f) : 0.0f;
        pcm[i] = static_cast<int16_t>(std::lround(x * 32767.0f));
    }
    return pcm;
}

}  // namespace kv::audio
