// "Подготовить для устройства": a sound on its way to the unit, as the
// preview dialog shows it.
//
// A preview is made from a sound file, a recording or synthesised speech:
// the sound is prepared for the unit (telephone band, 8000 Hz, the common
// loudness), encoded in the unit's format and decoded back, so that what
// the dialog draws and plays is what a caller will hear. The user selects
// the part to keep (first offered: the sound without its leading and
// trailing silence) and the fades; Bytes() is then the file for the unit.
//
// Making a preview and encoding its result are the slow parts: they run on
// a thread of their own (RunOffUiThread) while the UI thread waits through
// the bridge's event loop. Everything else here is quick and runs on the UI
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/Voice.h"

namespace kv {

// Where the sound came from; the dialog marks synthetic speech as such.
enum class TVoiceOrigin { File, Recording, Synthesis };

// The part of the prepared sound that goes to the unit, and its fades.
struct TVoiceCut {
    size_t begin = 0;
    size_t end = 0;
    double fadeIn = 0;
    double fadeOut = 0;
};

class TVoicePreview {
public:
    // A sound file decoded and prepared (UI thread; the work runs off it).
    // Null, with `error` set to the decoder's message naming the file, when
    // the file cannot be read.
    static std::unique_ptr<TVoicePreview> FromFile(const std::string& path, const audio::TUnitFormat& unit,
                                                   TVoiceOrigin origin, std::string& error);
    // A sound already in memory (a recording), described by `source`.
    static std::unique_ptr<TVoicePreview> FromSound(audio::TSound sound, audio::TSourceInfo source,
                                                    const std::string& name, const audio::TUnitFormat& unit,
                                                    TVoiceOrigin origin);

    // The source's name (a file's name without its folder) and what it held.
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    const audio::TSourceInfo& Source() const { return source_; }
    TVoiceOrigin Origin() const { return origin_; }
    // The unit's format the result is written in. Changing it encodes the
    // heard sound again (off the UI thread).
    const audio::TUnitFormat& Format() const { return format_; }
    void SetFormat(const audio::TUnitFormat& format);

    // The whole prepared sound as the unit plays it (encoded and decoded
    // back): what the waveform shows.
    const audio::TSound& Heard() const { return *heard_; }
    // Integrated loudness of the heard sound, LUFS, and its peak, dBFS.
    double Loudness() const { return loudness_; }
    double Peak() const { return peak_; }

    // The selection, in samples of the heard sound [begin, end), and the
    // fades in seconds. Select keeps begin < end inside the sound; an empty
    // or reversed range selects the whole sound.
    const TVoiceCut& Cut() const { return cut_; }
    void Select(size_t begin, size_t end);
    void SelectAll();
    // The sound without its leading and trailing silence: the first selection.
    std::pair<size_t, size_t> Suggested() const { return suggested_; }
    // Fades are cut to half the selection each; negative counts as none.
    void SetFades(double inSeconds, double outSeconds);
    // Duration of the selection, seconds.
    double Seconds() const;

    // The file for the unit: the selection with its fades, encoded in the
    // unit's format (off the UI thread).
    std::vector<uint8_t> Bytes() const;
    // What a caller hears of Bytes(), decoded back, for listening (off the
    // UI thread).
    audio::TSound Listening() const;
    // The name the file gets on the unit: the source's stem and ".wav"
    // (".raw" for headerless data). A synthesised or recorded sound's stem
    // is that of its name.
    std::string UnitFileName() const;

    // The dialog's "Формат..." asks for this: the format dialog, then
    // SetFormat with its outcome. Empty: the dialog offers no such button.
    std::function<void()> onChangeFormat;

    // The same work, callable on any thread.
    static std::vector<uint8_t> Encode(const audio::TSound& prepared, const TVoiceCut& cut,
                                       const audio::TUnitFormat& format);

private:
    TVoicePreview() = default;
    // Prepares `source_sound`, encodes and decodes back (any thread).
    void prepare(const audio::TSound& sound);
    void prepared(audio::TSound sound8k);
    void encodeHeard();

    std::string name_;
    audio::TSourceInfo source_;
    TVoiceOrigin origin_ = TVoiceOrigin::File;
    audio::TUnitFormat format_;
    std::shared_ptr<const audio::TSound> prepared_;
    std::shared_ptr<const audio::TSound> heard_;
    double loudness_ = 0;
    double peak_ = 0;
    std::pair<size_t, size_t> suggested_{0, 0};
    TVoiceCut cut_;
};

// Runs `work` on a thread of its own and returns once it has ended. On the
// UI thread the wait runs the bridge's event loop (UiBridge().ProcessEvents),
// so the window keeps drawing and taking events; elsewhere it simply waits.
// An exception thrown by `work` is thrown again here.
void RunOffUiThread(const std::function<void()>& work);

}  // namespace kv
