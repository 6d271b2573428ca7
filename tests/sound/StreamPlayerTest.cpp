#include <StreamPlayer.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "SoundLines.h"
#include "WaveBytes.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/sample.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A PulseAudio server of the test's own, with one null sink, on a private socket. The game's
// player and the test reach it, and only it, through the environment while it lives.
class PrivateServer {
public:
    // Without an output, the server has no sink to play on.
    QString start(bool withOutput = true) {
        const QString pulseaudio = QStandardPaths::findExecutable(u"pulseaudio"_s);
        if (pulseaudio.isEmpty())
            return u"pulseaudio is needed"_s;
        QDir(m_folder.path()).mkdir(u"xdg"_s);
        QFile config(m_folder.filePath(u"client.conf"_s));
        if (!config.open(QIODevice::WriteOnly) || config.write("autospawn = no\n") < 0)
            return u"cannot write the client configuration"_s;
        config.close();
        const QString socket = m_folder.filePath(u"pulse.sock"_s);
        m_previousServer = qgetenv("PULSE_SERVER");
        m_previousConfig = qgetenv("PULSE_CLIENTCONFIG");
        qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
        qputenv("PULSE_CLIENTCONFIG", config.fileName().toLocal8Bit());
        // -n loads only the two modules named; realtime scheduling would ask rtkit.
        QStringList arguments =
            QStringList{pulseaudio} +
            u"-n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no --realtime=no "
            u"--high-priority=no --log-target=stderr"_s.split(u' ') +
            QStringList{u"-L"_s,
                        u"module-native-protocol-unix auth-anonymous=1 socket="_s + socket};
        if (withOutput)
            arguments << u"-L"_s << u"module-null-sink sink_name=test_sink"_s;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, m_folder.path());
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_folder.filePath(u"xdg"_s));
        m_pid = spawn(arguments, environment.toStringList(), m_folder.filePath(u"pulse.log"_s));
        if (m_pid < 0)
            return u"pulseaudio could not be started"_s;
        QElapsedTimer waited;
        waited.start();
        while (!askStreams()) {
            if (::waitpid(m_pid, nullptr, WNOHANG) != 0 || waited.elapsed() > 10000) {
                QFile log(m_folder.filePath(u"pulse.log"_s));
                return u"pulseaudio did not answer: "_s +
                       (log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll().right(2000))
                                                      : QString());
            }
            QTest::qWait(50);
        }
        return {};
    }

    ~PrivateServer() {
        if (m_previousServer) {
            qputenv("PULSE_SERVER", *m_previousServer);
            qputenv("PULSE_CLIENTCONFIG", m_previousConfig);
        }
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }

    void pause() { ::kill(m_pid, SIGSTOP); }
    void resume() { ::kill(m_pid, SIGCONT); }

    // The sample format of each stream the server has, corked or playing.
    QStringList streams(bool corked) const {
        const std::optional<QStringList> asked = askStreams();
        if (!asked)
            return {u"(the server did not answer)"_s};
        QStringList found;
        for (const QString& stream : *asked) {
            if (stream.endsWith(u" corked"_s) == corked)
                found.append(stream.chopped(corked ? 7 : 0));
        }
        return found;
    }

private:
    // Runs a program with its output in a log, to be killed with the test even when a failed
    // check aborts it. Forked by hand: QProcess's vfork-like start shares the test's memory
    // with the child, which ThreadSanitizer takes for the test itself forking.
    static pid_t spawn(const QStringList& arguments, const QStringList& environment,
                       const QString& logPath) {
        // Everything the child needs is made before the fork: after it, only system calls.
        std::vector<QByteArray> held;
        const auto pointers = [&held](const QStringList& strings) {
            std::vector<char*> list;
            for (const QString& string : strings)
                list.push_back(held.emplace_back(string.toLocal8Bit()).data());
            list.push_back(nullptr);
            return list;
        };
        std::vector<char*> argv = pointers(arguments);
        std::vector<char*> envp = pointers(environment);
        const QByteArray log = logPath.toLocal8Bit();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::dup2(fd, STDOUT_FILENO);
                ::dup2(fd, STDERR_FILENO);
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        return pid;
    }

    // Each stream's format, with " corked" after a corked one's; nothing when the server does
    // not answer within 3 s. Asked through libpulse, as pactl would be forked from a process
    // whose player thread runs, which ThreadSanitizer does not allow.
    static std::optional<QStringList> askStreams() {
        struct Asked {
            QStringList streams;
            bool done = false;
            bool failed = false;
        } asked;
        const auto listed = [](pa_context*, const pa_sink_input_info* info, int end, void* to) {
            auto* asked = static_cast<Asked*>(to);
            if (end != 0) {
                asked->done = true;
                asked->failed = end < 0;
                return;
            }
            char format[PA_SAMPLE_SPEC_SNPRINT_MAX];
            pa_sample_spec_snprint(format, sizeof format, &info->sample_spec);
            asked->streams.append(QString::fromLatin1(format) +
                                  (info->corked ? u" corked"_s : QString()));
        };
        pa_mainloop* loop = pa_mainloop_new();
        pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "test");
        bool good = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
        pa_operation* listing = nullptr;
        QElapsedTimer waited;
        waited.start();
        // Never blocking, so that a stopped server cannot hold the test past the deadline.
        while (good && !asked.done && waited.elapsed() < 3000) {
            pa_mainloop_iterate(loop, 0, nullptr);
            const pa_context_state_t state = pa_context_get_state(context);
            good = PA_CONTEXT_IS_GOOD(state);
            if (state == PA_CONTEXT_READY && !listing)
                listing = pa_context_get_sink_input_info_list(context, listed, &asked);
            if (!asked.done)
                std::this_thread::sleep_for(2ms);
        }
        if (listing)
            pa_operation_unref(listing);
        pa_context_disconnect(context);
        pa_context_unref(context);
        pa_mainloop_free(loop);
        if (!good || !asked.done || asked.failed)
            return std::nullopt;
        return asked.streams;
    }

    QTemporaryDir m_folder;
    pid_t m_pid = -1;
    // The environment this server replaced, restored when it goes.
    std::optional<QByteArray> m_previousServer;
    QByteArray m_previousConfig;
};

// A socket that takes each connection and closes it at once, made the sound server while it
// lives.
class HangingUpServer {
public:
    explicit HangingUpServer(const QString& path)
        : m_listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)),
          m_previous(qgetenv("PULSE_SERVER")) {
        const QByteArray name = path.toLocal8Bit();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, name.constData(), sizeof address.sun_path);
        if (::bind(m_listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listening, 4) != 0)
            return;
        m_hangingUp = std::thread([fd = m_listening] {
            for (int client; (client = ::accept(fd, nullptr, nullptr)) >= 0;)
                ::close(client);
        });
        qputenv("PULSE_SERVER", "unix:" + name);
    }
    ~HangingUpServer() {
        qputenv("PULSE_SERVER", m_previous);
        ::shutdown(m_listening, SHUT_RDWR);
        if (m_hangingUp.joinable())
            m_hangingUp.join();
        ::close(m_listening);
    }
    bool listening() const { return m_hangingUp.joinable(); }

private:
    const int m_listening;
    const QByteArray m_previous;
    std::thread m_hangingUp;
};

// A silent 16-bit WAVE file of the given format and length.
void writeWave(const QString& path, int rate, int channels, double seconds) {
    const auto block = static_cast<quint16>(channels * 2);
    const QByteArray bytes =
        riff(format(1, static_cast<quint16>(channels), static_cast<quint32>(rate), 16, block) +
             chunk("data", QByteArray(qRound(rate * seconds) * block, '\0')));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void start(sound::AudioPlayer& player, const QString& path) {
    player.load(path);
    player.rewind();
    player.play();
}

} // namespace

// The real player against a real sound server.
class StreamPlayerTest : public QObject {
    Q_OBJECT
private:
    PrivateServer m_server;
    QTemporaryDir m_folder;

private Q_SLOTS:
    void initTestCase() {
        const QString problem = m_server.start();
        if (!problem.isEmpty())
            QFAIL(qPrintable(problem));
    }

    // Each case begins with the server holding no stream of an earlier one.
    void init() { QTRY_VERIFY(m_server.streams(false) + m_server.streams(true) == QStringList()); }

    // However long a file says it is, one start plays no more than the limit, then falls quiet.
    void oneStartEndsAtTheLimit() {
        const SoundLines lines;
        const QString path = m_folder.filePath(u"long.wav"_s);
        writeWave(path, 8000, 1, 12);
        auto player = sound::makeStreamPlayer({.longestStart = 1s});
        start(*player, path);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(false), QStringList{u"s16le 1ch 8000Hz"_s},
                                  5000);
        // One second played and drained, against the twelve of the file.
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(true), QStringList{u"s16le 1ch 8000Hz"_s}, 7000);
        QCOMPARE(lines.taken(), QStringList());
    }

    // A file rewritten in another format between two starts gets a stream of its own, on the
    // same connection, and the second start plays.
    void aFileRewrittenInAnotherFormatPlays() {
        const SoundLines lines;
        const QString path = m_folder.filePath(u"rewritten.wav"_s);
        writeWave(path, 44100, 2, 5);
        auto player = sound::makeStreamPlayer();
        // Loaded, the tune waits quietly; a rewind quiets it again until the next play. The
        // stream is awaited in either state: one that played at once would be corked again
        // once the file ran out.
        player->load(path);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(false) + m_server.streams(true),
                                  QStringList{u"s16le 2ch 44100Hz"_s}, 5000);
        QTest::qWait(500);
        QCOMPARE(m_server.streams(true), QStringList{u"s16le 2ch 44100Hz"_s});
        player->rewind();
        player->play();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(false), QStringList{u"s16le 2ch 44100Hz"_s},
                                  5000);
        player->rewind();
        QTest::qWait(500);
        QCOMPARE(m_server.streams(true), QStringList{u"s16le 2ch 44100Hz"_s});
        writeWave(path, 22050, 1, 5);
        player->rewind();
        player->play();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(false), QStringList{u"s16le 1ch 22050Hz"_s},
                                  5000);
        QTest::qWait(300);
        // The stream of the old format is gone, not left corked beside the new one.
        QCOMPARE(m_server.streams(false) + m_server.streams(true),
                 QStringList{u"s16le 1ch 22050Hz"_s});
        QCOMPARE(lines.taken(), QStringList());
    }

    // A file of a single frame is short, not corrupt.
    void aFileOfOneFramePlays() {
        const SoundLines lines;
        const QString path = m_folder.filePath(u"one-frame.wav"_s);
        writeWave(path, 8000, 1, 1.0 / 8000);
        auto player = sound::makeStreamPlayer();
        start(*player, path);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(false) + m_server.streams(true),
                                  QStringList{u"s16le 1ch 8000Hz"_s}, 5000);
        QCOMPARE(lines.taken(), QStringList());
    }

    // A start while the last one drains plays on: the old start's end must not cork it.
    void aStartWhileTheLastDrainsPlaysOn() {
        const SoundLines lines;
        const QString path = m_folder.filePath(u"restarted.wav"_s);
        writeWave(path, 8000, 1, 5);
        auto player = sound::makeStreamPlayer();
        start(*player, path);
        // A null sink without streams sleeps in blocks of 2 s: the first start wakes it.
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(false), QStringList{u"s16le 1ch 8000Hz"_s},
                                  5000);
        QTest::qWait(2500);
        // Shorter than the stream's buffer: fed whole at once, then drained.
        writeWave(path, 8000, 1, 0.5);
        start(*player, path);
        QTest::qWait(250);
        writeWave(path, 8000, 1, 5);
        player->rewind();
        player->play();
        QTest::qWait(1500);
        QCOMPARE(m_server.streams(false), QStringList{u"s16le 1ch 8000Hz"_s});
        QCOMPARE(lines.taken(), QStringList());
    }

    // A file cut while it plays ends the start with one line: where it ended, and not also
    // that the sound past it cannot be decoded.
    void aFileCutWhilePlayingIsSaidOnce() {
        const SoundLines lines;
        const QString path = m_folder.filePath(u"cut.wav"_s);
        writeWave(path, 8000, 1, 20);
        auto player = sound::makeStreamPlayer();
        start(*player, path);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(false), QStringList{u"s16le 1ch 8000Hz"_s},
                                  5000);
        // Down to its header: the next read finds nothing at all.
        QVERIFY(QFile::resize(path, 44));
        QTRY_VERIFY_WITH_TIMEOUT(!lines.taken().isEmpty(), 6000);
        QTest::qWait(300);
        const QStringList said = lines.taken();
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].startsWith(u"the sound file cut.wav cannot be read (it ended at byte "_s),
                 qPrintable(said[0]));
    }

    // A server with nowhere to play refuses the stream, and says why, once: the connection is
    // not kept waiting for a stream that will not come.
    void aServerWithoutAnOutputIsSaid() {
        const SoundLines lines;
        {
            PrivateServer outputless;
            const QString problem = outputless.start(false);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            const QString path = m_folder.filePath(u"nowhere.wav"_s);
            writeWave(path, 8000, 1, 1);
            auto player = sound::makeStreamPlayer({.answerTimeout = 1s, .watchdogTick = 250ms});
            start(*player, path);
            QTRY_VERIFY_WITH_TIMEOUT(!lines.taken().isEmpty(), 5000);
            QTest::qWait(1500);
        }
        QCOMPARE(lines.taken(), QStringList{u"the tune could not be played (the sound server "
                                            u"refused the stream: No such entity); playing "
                                            u"without sound"_s});
    }

    // A server that went away while the game ran is looked for again at the next start, and a
    // new one plays the tune.
    void theNextStartReachesAServerThatCameBack() {
        const SoundLines lines;
        const QString path = m_folder.filePath(u"again.wav"_s);
        writeWave(path, 8000, 1, 20);
        auto player = sound::makeStreamPlayer();
        {
            PrivateServer first;
            const QString problem = first.start();
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            start(*player, path);
            QTRY_COMPARE_WITH_TIMEOUT(first.streams(false), QStringList{u"s16le 1ch 8000Hz"_s},
                                      5000);
        }
        PrivateServer second;
        const QString problem = second.start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        player->rewind();
        player->play();
        QTRY_COMPARE_WITH_TIMEOUT(second.streams(false), QStringList{u"s16le 1ch 8000Hz"_s}, 5000);
        QCOMPARE(lines.taken(), QStringList());
    }

    // A server that hangs up on the player is said at once, not after the wait for an answer.
    void aServerThatHangsUpIsSaidAtOnce() {
        const HangingUpServer server(m_folder.filePath(u"hangs-up.sock"_s));
        QVERIFY(server.listening());
        const SoundLines lines;
        const QString tune = m_folder.filePath(u"tune.wav"_s);
        writeWave(tune, 8000, 1, 1);
        {
            auto player = sound::makeStreamPlayer({.answerTimeout = 10s});
            start(*player, tune);
            QTRY_VERIFY_WITH_TIMEOUT(!lines.taken().isEmpty(), 2500);
        }
        QCOMPARE(lines.taken(),
                 QStringList{u"no sound server (Connection terminated); playing without sound"_s});
    }

    // A server that answers is kept however long the tune plays; one that stops answering
    // while it plays is given up, with one line.
    void aServerStoppedWhilePlayingIsGivenUp() {
        const SoundLines lines;
        const QString path = m_folder.filePath(u"stopped.wav"_s);
        writeWave(path, 8000, 1, 20);
        auto player = sound::makeStreamPlayer({.answerTimeout = 1s, .watchdogTick = 250ms});
        // Loaded and quiet first, as at the game's start: the watchdog rests until the start.
        player->load(path);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(true), QStringList{u"s16le 1ch 8000Hz"_s}, 5000);
        player->rewind();
        player->play();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.streams(false), QStringList{u"s16le 1ch 8000Hz"_s},
                                  5000);
        QTest::qWait(2500);
        QCOMPARE(lines.taken(), QStringList());
        m_server.pause();
        QTRY_VERIFY_WITH_TIMEOUT(!lines.taken().isEmpty(), 6000);
        m_server.resume();
        QCOMPARE(lines.taken(),
                 QStringList{u"the sound server stopped answering; playing without sound"_s});
    }
};

QTEST_GUILESS_MAIN(StreamPlayerTest)
#include "StreamPlayerTest.moc"
