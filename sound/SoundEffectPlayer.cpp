#include "MMControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

#include <cstdio>

namespace sound {
namespace {

class SoundEffectPlayer : public AudioPlayer {
public:
    SoundEffectPlayer() {
        QObject::connect(&m_effect, &QSoundEffect::statusChanged, [this] {
            if (m_effect.status() == QSoundEffect::Error)
                complain("cannot be played");
        });
    }

    void load(const QString& path) override {
        m_path = path;
        if (path.isEmpty() || !QFileInfo(path).isReadable()) {
            complain("was not found");
            return;
        }
        m_effect.setSource(QUrl::fromLocalFile(path));
    }

    // QSoundEffect always plays from the start, so rewinding is stopping.
    void rewind() override { m_effect.stop(); }

    void play() override { m_effect.play(); }

private:
    // One line at most, however often the sound fails: the game goes on silently.
    void complain(const char* what) {
        if (m_complained)
            return;
        m_complained = true;
        std::fprintf(stderr, "warukyara: the sound %s %s; playing without sound\n",
                     qPrintable(m_path.isEmpty() ? QStringLiteral("sky.wav") : m_path), what);
    }

    QSoundEffect m_effect;
    QString m_path;
    bool m_complained = false;
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
