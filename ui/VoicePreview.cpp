#include "ui/VoicePreview.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <thread>

#include "serial/UiBridge.h"
#include "serial/VaSync.h"

namespace kv {

using namespace kv::audio;

void RunOffUiThread(const std::function<void()>& work)
{
    std::exception_ptr failure;
    TVaWaitEvent done;
    std::thread thread([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done.Signal();
        UiBridge().Wake();
    });
    if (UiBridge().IsUiThread()) {
        while (done.WaitMs(0) != wrSignaled)
            UiBridge().ProcessEvents(100);
    } else {
        done.WaitMs(-1);
    }
    thread.join();
    if (failure)
        std::rethrow_exception(failure);
}

std::unique_ptr<TVoicePreview> TVoicePreview::FromFile(const std::string& path, const TUnitFormat& unit,
                                                       TVoiceOrigin origin, std::string& error)
{
    std::unique_ptr<TVoicePreview> p(new TVoicePreview);
    p->name_ = std::filesystem::path(path).filename().string();
    p->origin_ = origin;
    p->format_ = unit;
    bool ok = false;
    RunOffUiThread([&] {
        auto decoded = DecodeForUnit(path);
        if (!decoded.ok()) {
            error = decoded.error;
            return;
        }
        p->source_ = decoded.value->first;
        p->prepared(std::move(decoded.value->second));
        ok = true;
    });
    if (!ok)
        return nullptr;
    return p;
}

std::unique_ptr<TVoicePreview> TVoicePreview::FromSound(TSound sound, TSourceInfo source, const std::string& name,
                                                        const TUnitFormat& unit, TVoiceOrigin origin)
{
    std::unique_ptr<TVoicePreview> p(new TVoicePreview);
    p->name_ = name;
    p->source_ = std::move(source);
    p->origin_ = origin;
    p->format_ = unit;
    RunOffUiThread([&] { p->prepare(sound); });
    return p;
}

void TVoicePreview::prepare(const TSound& sound)
{
    prepared(PrepareForUnit(sound));
}

void TVoicePreview::prepared(TSound sound8k)
{
    prepared_ = std::make_shared<const TSound>(std::move(sound8k));
    encodeHeard();
    suggested_ = NonSilentRange(*heard_);
    cut_ = TVoiceCut{suggested_.first, suggested_.second, 0, 0};
}

void TVoicePreview::encodeHeard()
{
    const TVoiceCut whole{0, prepared_->samples.size(), 0, 0};
    auto back = DecodeUnitBytes(Encode(*prepared_, whole, format_), format_);
    // The bytes were made here from a sound: reading them back cannot fail
    // but by a fault of the library, and then the prepared sound stands in.
    heard_ = std::make_shared<const TSound>(back.ok() ? std::move(*back.value) : *prepared_);
    loudness_ = IntegratedLoudness(*heard_);
    peak_ = PeakDbfs(*heard_);
}

void TVoicePreview::SetFormat(const TUnitFormat& format)
{
    if (format == format_)
        return;
    format_ = format;
    RunOffUiThread([this] { encodeHeard(); });
}

void TVoicePreview::Select(size_t begin, size_t end)
{
    const size_t n = heard_->samples.size();
    end = std::min(end, n);
    if (begin >= end) {
        SelectAll();
        return;
    }
    cut_.begin = begin;
    cut_.end = end;
    SetFades(cut_.fadeIn, cut_.fadeOut);
}

void TVoicePreview::SelectAll()
{
    cut_.begin = 0;
    cut_.end = heard_->samples.size();
    SetFades(cut_.fadeIn, cut_.fadeOut);
}

void TVoicePreview::SetFades(double inSeconds, double outSeconds)
{
    const double half = Seconds() / 2;
    cut_.fadeIn = std::clamp(inSeconds, 0.0, half);
    cut_.fadeOut = std::clamp(outSeconds, 0.0, half);
}

double TVoicePreview::Seconds() const
{
    return static_cast<double>(cut_.end - cut_.begin) / kUnitRate;
}

std::vector<uint8_t> TVoicePreview::Encode(const TSound& prepared, const TVoiceCut& cut, const TUnitFormat& format)
{
    TSound part = Trimmed(prepared, cut.begin, cut.end);
    Fade(part, cut.fadeIn, cut.fadeOut);
    return EncodeForUnit(part, format);
}

std::vector<uint8_t> TVoicePreview::Bytes() const
{
    std::vector<uint8_t> bytes;
    RunOffUiThread([&, prepared = prepared_, cut = cut_, format = format_] { bytes = Encode(*prepared, cut, format); });
    return bytes;
}

TSound TVoicePreview::Listening() const
{
    TSound sound;
    RunOffUiThread([&, prepared = prepared_, cut = cut_, format = format_] {
        auto back = DecodeUnitBytes(Encode(*prepared, cut, format), format);
        sound = back.ok() ? std::move(*back.value) : Trimmed(*prepared, cut.begin, cut.end);
    });
    return sound;
}

std::string TVoicePreview::UnitFileName() const
{
    std::string stem = std::filesystem::path(name_).stem().string();
    if (stem.empty())
        stem = "voice";
    return stem + (format_.raw ? ".raw" : ".wav");
}

}  // namespace kv
