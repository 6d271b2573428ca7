#pragma once

#include <runtime/Controls.h>

#include <QString>

#include <atomic>
#include <chrono>
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
    // Plays from the current position to the end, once, and returns at once.
    virtual void play() = 0;
};

// The multimedia control behind the form's MMControl1: string commands written into its
// Command property, each carried out at the write.
class MMControl : public runtime::MultimediaDevice {
public:
    MMControl(QString fileName, std::unique_ptr<AudioPlayer> player);
    ~MMControl() override;

    void setDeviceType(const QString& deviceType) override;
    // "Open", "Prev" and "Play"; any other command is a programming fault and a run-time error.
    void setCommand(const QString& command) override;

private:
    QString m_fileName;
    std::unique_ptr<AudioPlayer> m_player;
    QString m_deviceType;
    bool m_open = false;
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
std::unique_ptr<AudioPlayer> makeStreamPlayer(StreamLimits limits = {});

// Called on the sound thread each time it has taken the commands waiting for it, so that a
// test can hold the thread there while it posts more. Null in the game.
extern std::atomic<void (*)()> afterCommandsTaken;

// Where a sound file of the game lies: beside the program, then in the installed data folder.
// Empty if it is in neither.
QString findSoundFile(const QString& name);

// The game's own control: MMControl over the real player, with the game's sound file.
std::unique_ptr<runtime::MultimediaDevice> makeGameSound();

} // namespace sound
