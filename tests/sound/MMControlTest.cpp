#include <MMControl.h>
#include <RuntimeError.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "ErrorOf.h"

#include <optional>

namespace {

class RecordingPlayer : public sound::AudioPlayer {
public:
    explicit RecordingPlayer(QStringList& log) : m_log(log) {}
    void load(const QString& path) override { m_log.append("load " + QFileInfo(path).fileName()); }
    void rewind() override { m_log.append("rewind"); }
    void play() override { m_log.append("play"); }

private:
    QStringList& m_log;
};

} // namespace

// The control carries out each command at the write; what it does not know is a fault.
class MMControlTest : public QObject {
    Q_OBJECT
private:
    QStringList m_log;
    std::unique_ptr<sound::MMControl> m_control;

private slots:
    void init() {
        m_log.clear();
        m_control = std::make_unique<sound::MMControl>("/data/sky.wav",
                                                       std::make_unique<RecordingPlayer>(m_log));
    }

    void openLoadsSilentlyThenPrevAndPlayRestart() {
        m_control->setDeviceType("WaveAudio");
        m_control->setCommand("Open");
        QCOMPARE(m_log, QStringList{"load sky.wav"});
        for (int start = 0; start < 2; ++start) {
            m_control->setCommand("Prev");
            m_control->setCommand("Play");
        }
        QCOMPARE(m_log, (QStringList{"load sky.wav", "rewind", "play", "rewind", "play"}));
    }

    void unknownCommandsAndDevicesAreRuntimeErrors() {
        QCOMPARE(errorOf([&] { m_control->setCommand("Play"); }), 5);   // nothing is open
        QCOMPARE(errorOf([&] { m_control->setCommand("Open"); }), 380); // no device type
        m_control->setDeviceType("Sequencer");
        QCOMPARE(errorOf([&] { m_control->setCommand("Open"); }), 380);
        m_control->setDeviceType("WaveAudio");
        m_control->setCommand("Open");
        QCOMPARE(errorOf([&] { m_control->setCommand("Eject"); }), 380);
        QCOMPARE(errorOf([&] { m_control->setCommand(""); }), 380);
        QCOMPARE(m_log, QStringList{"load sky.wav"});
    }

    // The tune is found beside the program, wherever the program is started from.
    void theSoundFileIsFoundBesideTheProgram() {
        const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("sky.wav");
        QFile::remove(beside);
        QCOMPARE(sound::findSoundFile("sky.wav"), QString());
        QFile file(beside);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString before = QDir::currentPath();
        QDir::setCurrent(QDir::rootPath());
        QCOMPARE(sound::findSoundFile("sky.wav"),
                 QDir::cleanPath(QFileInfo(beside).absoluteFilePath()));
        QDir::setCurrent(before);
        QFile::remove(beside);
    }

    // The real player, with a file that is not a sound: it stays quiet and never throws.
    void theRealPlayerCopesWithABrokenFile() {
        QTemporaryDir folder;
        const QString path = folder.filePath("sky.wav");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a sound");
        file.close();
        sound::MMControl control(path, sound::makeStreamPlayer());
        control.setDeviceType("WaveAudio");
        QVERIFY_THROWS_NO_EXCEPTION(control.setCommand("Open"));
        QVERIFY_THROWS_NO_EXCEPTION(control.setCommand("Prev"));
        QVERIFY_THROWS_NO_EXCEPTION(control.setCommand("Play"));
        QTest::qWait(100);
        sound::MMControl missing(folder.filePath("none.wav"), sound::makeStreamPlayer());
        missing.setDeviceType("WaveAudio");
        QVERIFY_THROWS_NO_EXCEPTION(missing.setCommand("Open"));
        QVERIFY_THROWS_NO_EXCEPTION(missing.setCommand("Play"));
    }

    // With no sound server the real player says so in one line, however often it is asked
    // to play, and the commands neither wait nor throw.
    void theRealPlayerSaysOnceThatThereIsNoServer() {
        QTemporaryDir folder;
        qputenv("PULSE_SERVER", "unix:" + folder.filePath("none.sock").toLocal8Bit());
        static QStringList lines;
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext& context, const QString& text) {
                if (QLatin1String(context.category) == QLatin1String("warukyara.sound"))
                    lines.append(text);
            });
        {
            const QString tune = QFINDTESTDATA("../../sound/sky.wav");
            QVERIFY(!tune.isEmpty());
            sound::MMControl control(tune, sound::makeStreamPlayer());
            control.setDeviceType("WaveAudio");
            control.setCommand("Open");
            for (int start = 0; start < 3; ++start) {
                control.setCommand("Prev");
                control.setCommand("Play");
                QTest::qWait(100);
            }
            QTRY_COMPARE(lines.size(), 1);
        }
        qInstallMessageHandler(previous);
        qunsetenv("PULSE_SERVER");
        QCOMPARE(lines, QStringList{"no sound server (Connection refused); playing without sound"});
    }
};

QTEST_GUILESS_MAIN(MMControlTest)
#include "MMControlTest.moc"
