// The voice files' dialogs and sound devices as the form layer sees them.
//
// TFormVoice (ui/FormVoice.h) holds the rules; the Qt window implements
// this with its dialogs, QAudioSink and QAudioSource, tests with a scripted
// one. Every call is made on the UI thread; each dialog is modal and
// returns once it has closed.
#pragma once

#include <optional>
#include <string>

#include "audio/Voice.h"

namespace kv {

class TVoicePreview;

// What the small dialog of the unit's format shows and returns.
struct TVoiceFormatChoice {
    // The format in force, and whether it was read from the unit's own file
    // (then it wins over the choice).
    audio::TUnitFormat format;
    bool fromUnit = false;
    // The user's choice: the dialog starts with it and returns it.
    audio::TUnitFormat choice;
};

class TVoiceView {
public:
    virtual ~TVoiceView() = default;

    // "Подготовить для устройства": the preview of a converted sound. True
    // when the user chose to upload it (with the selection and fades it
    // holds then), false on "Отмена" or the close box.
    virtual bool ExecutePreview(TVoicePreview& preview) = 0;
    // "Прослушать" of a slot: plays the unit's file, shown as `title`.
    virtual void ExecuteListen(const audio::TSound& sound, const std::string& title) = 0;
    // "Записать": records from the microphone until the user stops; nothing
    // when cancelled (or when no sound could be recorded: the view has said why).
    virtual std::optional<audio::TSound> Record() = 0;
    // "Синтезировать": asks for the text and speaks it into a WAV file at
    // `wavPath`. False when cancelled or failed (the view has said why).
    virtual bool Synthesize(const std::string& wavPath) = 0;
    // The small dialog of the unit's format; true with `choice.choice` set
    // when closed with "OK".
    virtual bool ExecuteFormat(TVoiceFormatChoice& choice) = 0;
    // The folder under which each unit's files are kept for listening
    // (a folder per device is made in it).
    virtual std::string CacheFolder() = 0;
};

}  // namespace kv
