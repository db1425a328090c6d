// The voice files' rules of the window: the unit's format per device, which
// way a file the user picks goes to the unit, the preview of a converted
// sound, recording and synthesis, and listening to a slot's file from a
// cache of the unit's files.
//
// The unit's format of a device is the one its own files have: read from
// the header of any file downloaded from it (kept under kUnitFormatKey and
// the device, "COM1"), else the user's choice in the format dialog (kept
// under kChoiceKey), else WAV A-law.
//
// A picked file already in the unit's format, or one the decoders do not
// recognise as sound, goes to the unit as it is, byte for byte; any other
// sound file is converted and shown in the preview first, and "Отмена"
// there sends nothing.
//
// Everything here runs on the UI thread; decoding and conversion run off it
// (TVoicePreview, RunOffUiThread).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/Voice.h"
#include "ui/VoiceView.h"

namespace kv {

class TFile;
class TForm1;
class TSettingsStore;

// Which way a file picked for an upload goes.
enum class TVoiceRoute {
    AsIs,     // already in the unit's format, or not a sound file
    Convert,  // a sound file in another format: conversion and preview
};
TVoiceRoute VoiceRouteOf(const std::string& path, const audio::TUnitFormat& unitFormat);

// The text a format is kept as ("wav-alaw", "raw-u8" ...), and back.
std::string FormatKeyText(const audio::TUnitFormat& format);
std::optional<audio::TUnitFormat> ParseFormatKeyText(const std::string& text);

// The unit's format of COMn as the store holds it.
TVoiceFormatChoice StoredVoiceFormat(const TSettingsStore& store, int port);

// The unit's voice files kept for "Прослушать", under the view's cache
// folder: one file a slot of a device, "COMn/NN" (NN: the slot's code, as
// the unit and the snapshots number it) with "NN.info" beside it holding
// the unit's size and name. A slot's file replaces the one before, so the
// cache holds at most one file a slot, however often the slot is fetched,
// uploaded or taken in a snapshot.
class TVoiceCache {
public:
    // `root` "": no cache; Path gives "" and nothing is kept.
    TVoiceCache(std::string root, std::string device);

    std::string Path(int32_t code) const;
    // Whether the cache holds the slot's file as the unit describes it.
    bool Holds(int32_t code, const std::string& name, int32_t size) const;
    // Makes the device's folder, so that a download can write Path(code).
    bool MakeFolder(std::string& error) const;
    // Path(code) now holds the unit's file `name` (downloaded there).
    bool Note(int32_t code, const std::string& name, int32_t size, std::string& error) const;
    // Keeps `bytes` as the slot's file `name`.
    bool Keep(int32_t code, const std::string& name, const std::string& bytes, std::string& error) const;
    // Forgets the slot's file (the unit's may have changed).
    void Drop(int32_t code) const;

private:
    std::string folder_;
};

class TFormVoice {
public:
    static constexpr const char* kUnitFormatKey = "Software/kv20rm/VoiceFormat/";
    static constexpr const char* kChoiceKey = "Software/kv20rm/VoiceFormatChoice/";
    static constexpr const char* kRecordingName = "record.wav";
    static constexpr const char* kSpeechName = "speech.wav";

    explicit TFormVoice(TForm1& form);
    ~TFormVoice();
    TFormVoice(const TFormVoice&) = delete;
    TFormVoice& operator=(const TFormVoice&) = delete;

    // The unit's format of the current port.
    TVoiceFormatChoice Format() const;
    // The format dialog; keeps the user's choice.
    void ChooseFormat();

    // Before an upload of `chosen`: the file that goes to the unit. The
    // chosen file itself when it goes as it is; else a converted file in a
    // private folder (removed by Finished) after the preview said upload;
    // "" when nothing goes (cancelled, or a file that cannot be read: its
    // message has been shown).
    std::string PrepareUpload(const std::string& chosen);
    // A recording or synthesised speech through the preview: the converted
    // file to upload, or "".
    std::string Record();
    std::string Synthesize();
    // After an upload: removes the converted file's folder.
    void Finished();
    // After an upload into `slot` (done or not): its cached file is no
    // longer the unit's, even where the name and size are the same.
    void Uploaded(const TFile& slot);

    // A file was downloaded from the unit to `path`: a WAV in one of the
    // unit's formats tells the device's format.
    void Downloaded(const std::string& path);

    // "Прослушать": plays the slot's file, fetched through the transfer
    // dialog into the unit's cache unless the cache holds it with the same
    // name and size. Nothing for an empty slot.
    void Listen(TFile& file);
    // The current device's cache (without a cache folder: keeps nothing).
    TVoiceCache Cache() const;

private:
    TVoiceView* view() const;
    int port() const;
    std::string device() const;
    // Shows the preview and writes the result; "" when cancelled.
    std::string preview(TVoicePreview& preview);
    std::string tempFolder();

    TForm1& form_;
    std::string temp_;
};

}  // namespace kv
