#include "SoundProblem.h"

#include <QFileInfo>
#include <QMutex>
#include <QSet>

namespace sound {

Q_LOGGING_CATEGORY(lcSound, "warukyara.sound")

QString soundProblemLine(SoundProblem problem, const QString& file, const QString& detail) {
    const QString name = QFileInfo(file).fileName();
    QString what;
    switch (problem) {
    case SoundProblem::None:
        return {};
    case SoundProblem::NotFound:
        what = QStringLiteral("the sound file %1 was not found").arg(name);
        break;
    case SoundProblem::NotReadable:
        what = QStringLiteral("the sound file %1 cannot be read (%2)").arg(name, detail);
        break;
    case SoundProblem::NotWave:
        what = QStringLiteral("the sound file %1 is not a WAVE file").arg(name);
        break;
    case SoundProblem::Corrupt:
        what = QStringLiteral("the sound file %1 is corrupt (%2)").arg(name, detail);
        break;
    case SoundProblem::UnplayableEncoding:
        what = QStringLiteral("the sound file %1 uses the %2 encoding, which the game cannot play")
                   .arg(name, detail);
        break;
    case SoundProblem::NoServer:
        what = QStringLiteral("no sound server (%1)").arg(detail);
        break;
    case SoundProblem::ServerNotAnswering:
        what = QStringLiteral("the sound server stopped answering");
        break;
    case SoundProblem::PlaybackFailed:
        what = QStringLiteral("the tune could not be played (%1)").arg(detail);
        break;
    }
    return what + QStringLiteral("; playing without sound");
}

void reportSoundProblem(SoundProblem problem, const QString& file, const QString& detail) {
    static QMutex mutex;
    static QSet<QString> said;
    const QString line = soundProblemLine(problem, file, detail);
    if (line.isEmpty())
        return;
    {
        const QMutexLocker lock(&mutex);
        if (said.contains(line))
            return;
        said.insert(line);
    }
    qCWarning(lcSound).noquote() << line;
}

} // namespace sound
