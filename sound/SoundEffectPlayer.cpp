#include "MMControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

#include <cstdio>
#include <utility>

namespace sound {
namespace {

// Whatever goes wrong with the sound, the player reads about it once, in one line: the game
// itself goes on silently.
bool g_complained = false;
QtMessageHandler g_nextHandler = nullptr;

void complainOnce(const QString& what) {
    if (std::exchange(g_complained, true))
        return;
    std::fprintf(stderr, "warukyara: %s; playing without sound\n", qPrintable(what));
}

// Qt Multimedia warns in several lines when there is no sound server or the file is broken.
void quietSoundWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static const char* const kSoundChatter[] = {"PulseAudioService", "No audio device",
                                                "QSoundEffect", "QAudioSink", "QPulseAudio"};
    if (type == QtWarningMsg || type == QtDebugMsg || type == QtInfoMsg)
        for (const char* prefix : kSoundChatter)
            if (message.startsWith(QLatin1String(prefix))) {
                complainOnce(QStringLiteral("the sound device is not available"));
                return;
            }
    g_nextHandler(type, context, message);
}

class SoundEffectPlayer : public AudioPlayer {
public:
    SoundEffectPlayer() {
        if (!g_nextHandler)
            g_nextHandler = qInstallMessageHandler(quietSoundWarnings);
        QObject::connect(&m_effect, &QSoundEffect::statusChanged, [this] {
            if (m_effect.status() == QSoundEffect::Error)
                complainOnce(
                    QStringLiteral("%1 cannot be played").arg(m_effect.source().toLocalFile()));
        });
    }

    void load(const QString& path) override {
        if (path.isEmpty() || !QFileInfo(path).isReadable()) {
            complainOnce(QStringLiteral("the sound file sky.wav was not found"));
            return;
        }
        m_effect.setSource(QUrl::fromLocalFile(path));
    }

    // QSoundEffect always plays from the start, so rewinding is stopping.
    void rewind() override { m_effect.stop(); }

    void play() override { m_effect.play(); }

private:
    QSoundEffect m_effect;
};

} // namespace

std::unique_ptr<AudioPlayer> makeSoundEffectPlayer() {
    return std::make_unique<SoundEffectPlayer>();
}

QString findSoundFile(const QString& name) {
    const QDir programFolder(QCoreApplication::applicationDirPath());
    for (const QString& folder : {QStringLiteral("."), QStringLiteral(WARUKYARA_DATA_FROM_BIN)}) {
        const QFileInfo file(programFolder.filePath(folder + u'/' + name));
        if (file.isFile())
            return file.canonicalFilePath();
    }
    return {};
}

std::unique_ptr<runtime::MultimediaDevice> makeGameSound() {
    return std::make_unique<MMControl>(findSoundFile(QStringLiteral("sky.wav")),
                                       makeSoundEffectPlayer());
}

} // namespace sound
