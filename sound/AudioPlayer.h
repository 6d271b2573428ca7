#pragma once

#include <QString>

namespace sound {

// What plays the sound. The game's control drives it; tests put a recorder in its place.
// Every call returns at once: the playing itself happens elsewhere.
class AudioPlayer {
public:
    virtual ~AudioPlayer() = default;
    // Prepares the file for playing from its start, silently. A file that cannot be played
    // leaves the player silent, with one line saying why; it never throws.
    virtual void load(const QString& path) = 0;
    virtual void rewind() = 0;
    // Plays from the current position to the end, once, and returns at once.
    virtual void play() = 0;
};

} // namespace sound
