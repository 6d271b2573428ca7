#pragma once

#include "StreamPlayer.h"

#include <runtime/Controls.h>

#include <QString>

#include <memory>

namespace sound {

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

// Where a sound file of the game lies: beside the program, then in the installed data folder.
// Empty if it is in neither.
QString findSoundFile(const QString& name);

// The game's own control: MMControl over the real player, with the game's sound file.
std::unique_ptr<runtime::MultimediaDevice> makeGameSound();

} // namespace sound
