#include "MMControl.h"

#include <runtime/RuntimeError.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace sound {

MMControl::MMControl(QString fileName, std::unique_ptr<AudioPlayer> player)
    : m_fileName(std::move(fileName)), m_player(std::move(player)) {}

MMControl::~MMControl() = default;

void MMControl::setDeviceType(const QString& deviceType) {
    m_deviceType = deviceType;
}

void MMControl::setCommand(const QString& command) {
    using runtime::ErrorNumber;
    using runtime::RuntimeError;
    if (command.compare(u"Open", Qt::CaseInsensitive) == 0) {
        if (m_deviceType.compare(u"WaveAudio", Qt::CaseInsensitive) != 0)
            throw RuntimeError(
                ErrorNumber::InvalidPropertyValue,
                QStringLiteral("Device type '%1' is not supported").arg(m_deviceType));
        m_player->load(m_fileName);
        m_open = true;
        return;
    }
    const bool prev = command.compare(u"Prev", Qt::CaseInsensitive) == 0;
    const bool play = command.compare(u"Play", Qt::CaseInsensitive) == 0;
    if (!prev && !play)
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Unknown multimedia command '%1'").arg(command));
    if (!m_open)
        throw RuntimeError(ErrorNumber::InvalidProcedureCall,
                           QStringLiteral("Multimedia command '%1' before Open").arg(command));
    if (prev)
        m_player->rewind();
    else
        m_player->play();
}

QString findSoundFile(const QString& name) {
    const QDir programFolder(QCoreApplication::applicationDirPath());
    for (const QString& folder : {QStringLiteral("."), QStringLiteral(WARUKYARA_DATA_FROM_BIN)}) {
        const QFileInfo file(programFolder.filePath(folder + u'/' + name));
        // Not the canonical path: a linked sky.wav keeps its own name in the game's lines.
        if (file.isFile())
            return QDir::cleanPath(file.absoluteFilePath());
    }
    return {};
}

std::unique_ptr<runtime::MultimediaDevice> makeGameSound() {
    const QString name = QStringLiteral("sky.wav");
    QString path = findSoundFile(name);
    // Not found: the player is handed the first place looked at, and says it is not there.
    if (path.isEmpty())
        path = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    return std::make_unique<MMControl>(path, makeStreamPlayer());
}

} // namespace sound
