#include <MMControl.h>
#include <runtime/RuntimeError.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "ErrorOf.h"

#include <optional>

using namespace Qt::StringLiterals;

namespace {

class RecordingPlayer : public sound::AudioPlayer {
public:
    explicit RecordingPlayer(QStringList& log) : m_log(log) {}
    void load(const QString& path) override {
        m_log.append(u"load "_s + QFileInfo(path).fileName());
    }
    void rewind() override { m_log.append(u"rewind"_s); }
    void play() override { m_log.append(u"play"_s); }

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

private Q_SLOTS:
    void init() {
        m_log.clear();
        m_control = std::make_unique<sound::MMControl>(u"/data/sky.wav"_s,
                                                       std::make_unique<RecordingPlayer>(m_log));
    }

    void openLoadsSilentlyThenPrevAndPlayRestart() {
        m_control->setDeviceType(u"WaveAudio"_s);
        m_control->setCommand(u"Open"_s);
        QCOMPARE(m_log, QStringList{QStringLiteral("load sky.wav")});
        for (int start = 0; start < 2; ++start) {
            m_control->setCommand(u"Prev"_s);
            m_control->setCommand(u"Play"_s);
        }
        QCOMPARE(m_log, (QStringList{QStringLiteral("load sky.wav"), QStringLiteral("rewind"),
                                     QStringLiteral("play"), QStringLiteral("rewind"),
                                     QStringLiteral("play")}));
    }

    void unknownCommandsAndDevicesAreRuntimeErrors() {
        QCOMPARE(errorOf([&] { m_control->setCommand(u"Play"_s); }), 5);   // nothing is open
        QCOMPARE(errorOf([&] { m_control->setCommand(u"Open"_s); }), 380); // no device type
        m_control->setDeviceType(u"Sequencer"_s);
        QCOMPARE(errorOf([&] { m_control->setCommand(u"Open"_s); }), 380);
        m_control->setDeviceType(u"WaveAudio"_s);
        m_control->setCommand(u"Open"_s);
        QCOMPARE(errorOf([&] { m_control->setCommand(u"Eject"_s); }), 380);
        QCOMPARE(errorOf([&] { m_control->setCommand(u""_s); }), 380);
        QCOMPARE(m_log, QStringList{QStringLiteral("load sky.wav")});
    }

    // The tune is found beside the program, wherever the program is started from.
    void theSoundFileIsFoundBesideTheProgram() {
        const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(u"sky.wav"_s);
        QFile::remove(beside);
        QCOMPARE(sound::findSoundFile(u"sky.wav"_s), QString());
        QFile file(beside);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString before = QDir::currentPath();
        QDir::setCurrent(QDir::rootPath());
        QCOMPARE(sound::findSoundFile(u"sky.wav"_s),
                 QDir::cleanPath(QFileInfo(beside).absoluteFilePath()));
        QDir::setCurrent(before);
        QFile::remove(beside);
    }

    // The real player, with a file that is not a sound: it stays quiet and never throws.
    void theRealPlayerCopesWithABrokenFile() {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"sky.wav"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a sound");
        file.close();
        sound::MMControl control(path, sound::makeStreamPlayer());
        control.setDeviceType(u"WaveAudio"_s);
        QVERIFY_THROWS_NO_EXCEPTION(control.setCommand(u"Open"_s));
        QVERIFY_THROWS_NO_EXCEPTION(control.setCommand(u"Prev"_s));
        QVERIFY_THROWS_NO_EXCEPTION(control.setCommand(u"Play"_s));
        QTest::qWait(100);
        sound::MMControl missing(folder.filePath(u"none.wav"_s), sound::makeStreamPlayer());
        missing.setDeviceType(u"WaveAudio"_s);
        QVERIFY_THROWS_NO_EXCEPTION(missing.setCommand(u"Open"_s));
        QVERIFY_THROWS_NO_EXCEPTION(missing.setCommand(u"Play"_s));
    }

    // With no sound server the real player says so in one line, however often it is asked
    // to play, and the commands neither wait nor throw.
    void theRealPlayerSaysOnceThatThereIsNoServer() {
        QTemporaryDir folder;
        qputenv("PULSE_SERVER", "unix:" + folder.filePath(u"none.sock"_s).toLocal8Bit());
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
            control.setDeviceType(u"WaveAudio"_s);
            control.setCommand(u"Open"_s);
            for (int start = 0; start < 3; ++start) {
                control.setCommand(u"Prev"_s);
                control.setCommand(u"Play"_s);
                QTest::qWait(100);
            }
            QTRY_COMPARE(lines.size(), 1);
        }
        qInstallMessageHandler(previous);
        qunsetenv("PULSE_SERVER");
        QCOMPARE(lines,
                 QStringList{u"no sound server (Connection refused); playing without sound"_s});
    }
};

QTEST_GUILESS_MAIN(MMControlTest)
#include "MMControlTest.moc"
