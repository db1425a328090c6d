// The whole conversion chain on a three-minute 44.1 kHz stereo file, beside
// sox doing the same chain in the same run (mono, 300-3400 Hz, 8000 Hz with
// its high-quality resampler, level, dither, A-law), as a ratio; and the
// waveform of a ten-minute voice file.
//
//   bench_audio [RUNS]      (default 3; the median run counts)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "audio/Voice.h"

using namespace kv::audio;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double medianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return median(std::move(times));
}

bool shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The library's chain, from the file to the unit's bytes on disk.
void ourChain(const std::string& in, const std::string& out)
{
    auto decoded = DecodeForUnit(in);
    if (!decoded.ok()) {
        std::fprintf(stderr, "%s\n", decoded.error.c_str());
        std::exit(1);
    }
    const auto bytes = EncodeForUnit(decoded.value->second, {TEncoding::ALaw, false});
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (!shell("command -v sox")) {
        std::printf("sox is not installed (Debian packages: sox libsox-fmt-all): no comparison\n");
        return 1;
    }
    kvtest::TTempDir dir;
    const std::string wav = dir / "source.wav";
    // Three minutes of a voice-like signal: pink noise shaped by a slow
    // tremolo, with a gliding tone over it.
    if (!shell("sox -R -n -r 44100 -c 2 -b 16 " + wav +
               " synth 180 pinknoise synth 180 sine mix 150-2500 tremolo 3 80 gain -n -6")) {
        std::printf("sox could not make the source file\n");
        return 1;
    }
    std::vector<std::string> sources = {wav};
    const std::string mp3 = dir / "source.mp3";
    if (shell("command -v lame") && shell("lame --quiet -b 128 " + wav + " " + mp3))
        sources.push_back(mp3);
    else
        std::printf("lame is not installed: WAV only\n");

    std::printf("conversion chain, 3 min 44.1 kHz stereo -> WAV A-law 8000 Hz, median of %d runs\n", runs);
    for (const std::string& in : sources) {
        const std::string kind = in.substr(in.rfind('.') + 1);
        // sox: peak normalisation (gain -n) is its nearest step to ours and
        // also reads the sound twice.
        const std::string soxCommand = "sox -R " + in + " -e a-law " + (dir / "sox.wav") +
                                       " remix - sinc 300-3400 rate -h 8000 gain -n -1 dither";
        bool soxFailed = false;
        // Turn about, so that a change in the machine's load falls on both.
        std::vector<double> oursTimes, soxTimes;
        for (int i = 0; i < runs; ++i) {
            oursTimes.push_back(medianMs(1, [&] { ourChain(in, dir / "ours.wav"); }));
            soxTimes.push_back(medianMs(1, [&] { soxFailed |= !shell(soxCommand); }));
        }
        const double ours = median(oursTimes);
        const double sox = median(soxTimes);
        if (soxFailed) {
            std::printf("  %-4s ours %7.1f ms   sox failed (%s)\n", kind.c_str(), ours, soxCommand.c_str());
            continue;
        }
        std::printf("  %-4s ours %7.1f ms   sox %7.1f ms   ours/sox %.2f (goal: <= 1)\n", kind.c_str(), ours, sox,
                    ours / sox);
    }

    // Where our time goes, on the WAV.
    TSound prepared;
    const double decodeMs = medianMs(runs, [&] { (void)Decode(wav); });
    const double prepareMs = medianMs(runs, [&] { prepared = DecodeForUnit(wav).value->second; });
    const double encodeMs = medianMs(runs, [&] { (void)EncodeForUnit(prepared, {TEncoding::ALaw, false}); });
    std::printf("  steps (WAV): decode alone %.1f ms; decode, resample, band, loudness, limit in one pass %.1f ms;"
                " dither, encode %.1f ms\n",
                decodeMs, prepareMs, encodeMs);

    // The waveform of ten minutes at 8000 Hz, at widths a window has.
    TSound tenMinutes{kUnitRate, {}};
    while (tenMinutes.samples.size() < 600u * kUnitRate)
        tenMinutes.samples.insert(tenMinutes.samples.end(), prepared.samples.begin(), prepared.samples.end());
    tenMinutes.samples.resize(600u * kUnitRate);
    std::printf("waveform of a 10-minute file (%zu samples), median of 21 runs\n", tenMinutes.samples.size());
    for (int pixels : {800, 1920, 4000}) {
        volatile float sink = 0;
        const double ms = medianMs(21, [&] {
            sink = sink + Waveform(tenMinutes, 0, tenMinutes.samples.size(), pixels)[0].max;
        });
        std::printf("  %4d pixels: %6.2f ms (goal: < 50 ms)\n", pixels, ms);
    }
    return 0;
}
