#pragma once

#include <runtime/Controls.h>

#include <QString>

#include <memory>

namespace sound {

// What plays the sound. The game's control drives it; tests put a recorder in its place.
class AudioPlayer {
public:
    virtual ~AudioPlayer() = default;
    // Prepares the file for playing from its start, silently. A file that cannot be played
    // leaves the player silent; it never throws.
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

// A player built on Qt Multimedia's QSoundEffect: it plays through the desktop's sound server
// and stays silent, without blocking, when there is no server or no playable file.
std::unique_ptr<AudioPlayer> makeSoundEffectPlayer();

// Where a sound file of the game lies: beside the program, then in the installed data folder.
// Empty if it is in neither.
QString findSoundFile(const QString& name);

// The game's own control: MMControl over QSoundEffect, with the game's sound file.
std::unique_ptr<runtime::MultimediaDevice> makeGameSound();

} // namespace sound
