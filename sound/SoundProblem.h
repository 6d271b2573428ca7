#pragma once

#include <QLoggingCategory>
#include <QString>

namespace sound {

// The game's own lines about its sound, printed as "warukyara.sound: ...";
// QT_LOGGING_RULES="warukyara.sound=false" silences them.
Q_DECLARE_LOGGING_CATEGORY(lcSound)

// Why the tune cannot be heard. Each cause has exactly one line.
enum class SoundProblem {
    None,
    NotFound,           // no sky.wav where the game looks
    NotReadable,        // it exists, but cannot be opened (permissions, a folder)
    NotWave,            // something else than a RIFF WAVE file
    Corrupt,            // a WAVE file whose header or sizes do not hold together
    UnplayableEncoding, // a WAVE file in an encoding the game does not decode
    NoServer,           // no sound server to connect to
    ServerNotAnswering, // the server accepted us but stopped answering
    PlaybackFailed,     // the server or the sound thread's loop failed while playing
};

// The line for a problem with the file `file` (its name only is shown); `detail` says what
// exactly, where the cause has more than one form.
QString soundProblemLine(SoundProblem problem, const QString& file, const QString& detail);

// Writes that line to the sound category, each distinct line once per run: the game goes on
// silently, and one word about it is enough. Safe from any thread.
void reportSoundProblem(SoundProblem problem, const QString& file, const QString& detail = {});

} // namespace sound
