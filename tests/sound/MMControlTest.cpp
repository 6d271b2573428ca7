#include <MMControl.h>
#include <StreamPlayer.h>
#include <runtime/RuntimeError.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include "ErrorOf.h"
#include "SoundLines.h"

#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// The sound thread waits in this player, the first time it has taken its commands (a load of
// path), until the test has posted another; null if the thread never got there.
QSemaphore s_threadHeld;
QSemaphore s_posted;
std::unique_ptr<sound::AudioPlayer> heldPlayer(const QString& path) {
    auto player = sound::makeStreamPlayer({}, [held = false]() mutable {
        if (std::exchange(held, true))
            return;
        s_threadHeld.release();
        s_posted.tryAcquire(1, 5000);
    });
    player->load(path);
    return s_threadHeld.tryAcquire(1, 5000) ? std::move(player) : nullptr;
}

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

    // The real player opens only regular files, without waiting on any, and says what it
    // found instead in one line; the commands neither wait nor throw.
    void theRealPlayerNamesWhatItCannotOpen_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("line");
        QTest::newRow("missing") << u"missing"_s << u"was not found"_s;
        QTest::newRow("text") << u"text"_s << u"is not a WAVE file"_s;
        QTest::newRow("folder") << u"folder"_s << u"cannot be read (it is a folder)"_s;
        QTest::newRow("fifo") << u"fifo"_s << u"cannot be read (it is a FIFO)"_s;
        QTest::newRow("device") << u"device"_s << u"cannot be read (it is a device)"_s;
        QTest::newRow("link loop")
            << u"loop"_s << u"cannot be read (Too many levels of symbolic links)"_s;
        QTest::newRow("unreadable") << u"unreadable"_s << u"cannot be read (Permission denied)"_s;
        QTest::newRow("12-bit") << u"12-bit"_s
                                << u"uses the 12-bit PCM encoding, which the game cannot play"_s;
    }

    void theRealPlayerNamesWhatItCannotOpen() {
        QFETCH(QString, kind);
        QFETCH(QString, line);
        QTemporaryDir folder;
        const QString path = folder.filePath(kind + u".wav"_s);
        const QByteArray name = QFile::encodeName(path);
        if (kind == u"text"_s || kind == u"12-bit"_s) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write(kind == u"text"_s
                                   ? "not a sound"_ba
                                   : QByteArray::fromHex("524946462800000057415645666d74201000"
                                                         "0000010001002256000044ac000002000c00"
                                                         "646174610400000000000000")) > 0);
        } else if (kind == u"folder"_s) {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == u"fifo"_s) {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else if (kind == u"device"_s) {
            QCOMPARE(::symlink("/dev/zero", name.constData()), 0);
        } else if (kind == u"loop"_s) {
            QCOMPARE(::symlink(name.constData(), name.constData()), 0);
        } else if (kind == u"unreadable"_s) {
            QFile::copy(QFINDTESTDATA("../../sound/sky.wav"), path);
            QVERIFY(QFile::setPermissions(path, {}));
            // Root reads every ordinary file; a write-only kernel setting refuses even root.
            if (::geteuid() == 0) {
                const char* refusing = "/sys/bus/pci/rescan";
                const int fd = ::open(refusing, O_RDONLY);
                if (fd >= 0 || errno != EACCES) {
                    if (fd >= 0)
                        ::close(fd);
                    QSKIP("no file here that root cannot read");
                }
                QVERIFY(QFile::remove(path));
                QCOMPARE(::symlink(refusing, name.constData()), 0);
            }
        }
        const SoundLines lines;
        {
            sound::MMControl control(path, sound::makeStreamPlayer());
            control.setDeviceType(u"WaveAudio"_s);
            QVERIFY_THROWS_NO_EXCEPTION(control.setCommand(u"Open"_s));
            QVERIFY_THROWS_NO_EXCEPTION(control.setCommand(u"Prev"_s));
            QVERIFY_THROWS_NO_EXCEPTION(control.setCommand(u"Play"_s));
            QTRY_VERIFY(!lines.taken().isEmpty());
        }
        QCOMPARE(lines.taken(),
                 QStringList{u"the sound file %1.wav %2; playing without sound"_s.arg(kind, line)});
    }

    // With no sound server the real player says so in one line, however often it is asked
    // to play, and the commands neither wait nor throw.
    void theRealPlayerSaysOnceThatThereIsNoServer() {
        QTemporaryDir folder;
        qputenv("PULSE_SERVER", "unix:" + folder.filePath(u"none.sock"_s).toLocal8Bit());
        const SoundLines lines;
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
            QTRY_COMPARE(lines.taken().size(), 1);
        }
        qunsetenv("PULSE_SERVER");
        QCOMPARE(lines.taken(),
                 QStringList{u"no sound server (Connection refused); playing without sound"_s});
    }

    // A command posted while the sound thread is still busy with the last one is not lost,
    // even when nothing else will wake the thread.
    void aCommandPostedWhileTheThreadIsBusyIsCarriedOut() {
        QTemporaryDir folder;
        const SoundLines lines;
        const auto player = heldPlayer(folder.filePath(u"first.wav"_s));
        QVERIFY(player);
        player->load(folder.filePath(u"second.wav"_s));
        s_posted.release();
        QTRY_VERIFY(lines.taken().contains(
            u"the sound file second.wav was not found; playing without sound"_s));
    }

    // The game's end does not wait for a sound thread that is stuck (say, reading a file from
    // a hung disk): the thread is left behind.
    void theEndDoesNotWaitForAStuckSoundThread() {
        QTemporaryDir folder;
        const SoundLines lines;
        auto player = heldPlayer(folder.filePath(u"stuck.wav"_s));
        QVERIFY(player);
        QElapsedTimer ending;
        ending.start();
        player.reset();
        const qint64 took = ending.elapsed();
        s_posted.release();
        QVERIFY2(took < 2000, qPrintable(u"the end waited %1 ms"_s.arg(took)));
    }
};

QTEST_GUILESS_MAIN(MMControlTest)
#include "MMControlTest.moc"
