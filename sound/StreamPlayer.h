#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

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
    // Plays from the current position to the end, once.
    virtual void play() = 0;
};

// How long the real player waits on its server, and how much of a file it plays. The game
// keeps the defaults; tests shorten them.
struct StreamLimits {
    // A server that has not answered for this long while the game waits on it is given up;
    // the next start tries a fresh connection.
    std::chrono::milliseconds answerTimeout{5000};
    // While waiting on the server, it is asked this often whether it is still there.
    std::chrono::milliseconds watchdogTick{1000};
    // How much of a file one start plays: a background tune is short, and a lying or huge
    // file must not keep the thread decoding for hours.
    std::chrono::seconds longestStart{10 * 60};
};

// The real player: the desktop's PulseAudio server (or PipeWire's stand-in for it) plays the
// file, decoded by libsndfile, from a thread of the player's own. No server, a server that
// dies or stops answering, or a file that cannot be played leave the game silent and
// running; the next start after the server is back plays again.
// `afterCommandsTaken`, for tests, is called on the sound thread each time it has taken the
// commands waiting for it, so that a test can hold the thread there while it posts more.
std::unique_ptr<AudioPlayer> makeStreamPlayer(StreamLimits limits = {},
                                              std::function<void()> afterCommandsTaken = {});

} // namespace sound
