// The tune's player: libsndfile decodes the file a piece at a time and PulseAudio's
// asynchronous API plays it, both on a thread of the player's own. The GUI thread only sets a
// flag in a mailbox and wakes that thread, so no state of the sound server or of the file can
// hold up a handler.
#include "MMControl.h"
#include "SoundProblem.h"
#include "WaveHeader.h"

#include <QFile>
#include <QFileInfo>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <sndfile.h>

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace sound {
namespace {

using Clock = std::chrono::steady_clock;

// A server that has not answered for this long while we wait on it is given up; the next
// "Play" tries a fresh connection.
constexpr auto kAnswerTimeout = std::chrono::seconds(5);
// While waiting on the server the thread looks at the clock this often.
constexpr int kWatchdogPollUs = 200 * 1000;
// How much of a file is decoded for one start: a background tune is short, and a lying or
// huge file must not keep the thread decoding for hours.
constexpr qint64 kMaxSecondsPlayed = 10 * 60;
// How long the game may wait, at its end, for the sound thread to finish.
constexpr auto kEndWait = std::chrono::milliseconds(300);

// What the GUI thread hands the sound thread. The GUI thread holds the mutex only to set
// flags, never while anything talks to the server.
struct Mailbox {
    std::mutex mutex;
    QString path;
    bool load = false;
    bool rewind = false;
    bool play = false;
    bool quit = false;
    bool finished = false;
    std::condition_variable finishedChanged;
    // Shared by both sides: the GUI thread only wakes it. It goes when the last side lets go,
    // so a wake-up never reaches a freed loop.
    pa_mainloop* loop = pa_mainloop_new();

    ~Mailbox() {
        if (loop)
            pa_mainloop_free(loop);
    }
};

template <typename T> void unref(T*& object, void (*release)(T*)) {
    if (object)
        release(object);
    object = nullptr;
}

void dropOperation(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}

// Everything below runs on the sound thread only.
class SoundThread {
public:
    explicit SoundThread(std::shared_ptr<Mailbox> box) : m_box(std::move(box)) {}

    ~SoundThread() {
        dropLink();
        closeFile();
    }

    void run() {
        pa_mainloop* loop = m_box->loop;
        for (;;) {
            if (!takeCommands())
                break;
            watchServer();
            const int timeout = waitingOnServer() ? kWatchdogPollUs : -1;
            if (pa_mainloop_prepare(loop, timeout) < 0 || pa_mainloop_poll(loop) < 0 ||
                pa_mainloop_dispatch(loop) < 0)
                break;
            if (m_dropPending)
                dropLink();
        }
    }

private:
    enum class Link { Down, Connecting, Up };

    // Carries out what the GUI thread asked since the last look, in its order of effect:
    // a rewind cancels an earlier play, a later play follows it. False when the game ends.
    bool takeCommands() {
        QString path;
        bool load, rewind, play;
        {
            const std::lock_guard lock(m_box->mutex);
            if (m_box->quit)
                return false;
            path = m_box->path;
            load = std::exchange(m_box->load, false);
            rewind = std::exchange(m_box->rewind, false);
            play = std::exchange(m_box->play, false);
        }
        if (load)
            openFile(path);
        if (rewind)
            rewindTune();
        if (play)
            playTune();
        return true;
    }

    void openFile(const QString& path) {
        closeFile();
        m_path = path;
        const QFileInfo info(path);
        if (!info.exists()) {
            reportSoundProblem(SoundProblem::NotFound, path);
            return;
        }
        if (info.isDir()) {
            reportSoundProblem(SoundProblem::NotReadable, path, QStringLiteral("it is a folder"));
            return;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            reportSoundProblem(SoundProblem::NotReadable, path, file.errorString());
            return;
        }
        const WaveCheck check = checkWaveHeader(file);
        if (check.problem != SoundProblem::None) {
            reportSoundProblem(check.problem, path, check.detail);
            return;
        }
        // The decoder reads the very file that was checked, not whatever the path names now.
        const int fd = ::dup(file.handle());
        if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
            if (fd >= 0)
                ::close(fd);
            reportSoundProblem(SoundProblem::NotReadable, path,
                               QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        SF_INFO sf{};
        m_sound = sf_open_fd(fd, SFM_READ, &sf, SF_TRUE);
        if (!m_sound) {
            reportSoundProblem(SoundProblem::Corrupt, path,
                               QString::fromLocal8Bit(sf_strerror(nullptr)));
            return;
        }
        if (sf.frames <= 0 || sf.channels != check.format.channels) {
            reportSoundProblem(SoundProblem::Corrupt, path, QStringLiteral("no sound data"));
            closeFile();
            return;
        }
        // Float files hold -1..1; unscaled, they would read as 16-bit silence.
        sf_command(m_sound, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
        m_spec.format = PA_SAMPLE_S16NE;
        m_spec.rate = static_cast<uint32_t>(sf.samplerate);
        m_spec.channels = static_cast<uint8_t>(sf.channels);
        m_frameBytes = pa_frame_size(&m_spec);
        m_framesLeft = kMaxSecondsPlayed * sf.samplerate;
        // The device is opened with the file, so that the first start is heard at once and
        // a missing server is reported at load.
        if (m_link == Link::Down)
            connect();
    }

    void closeFile() {
        if (m_sound)
            sf_close(m_sound);
        m_sound = nullptr;
        m_playing = false;
    }

    void rewindTune() {
        if (!m_sound)
            return;
        sf_seek(m_sound, 0, SEEK_SET);
        m_framesLeft = kMaxSecondsPlayed * m_spec.rate;
        m_playing = false;
        m_draining = false;
        ++m_generation;
        if (m_link == Link::Up) {
            // Drop what the server still holds of the last start, and stay quiet until "Play".
            dropOperation(pa_stream_cork(m_stream, 1, nullptr, nullptr));
            dropOperation(pa_stream_flush(m_stream, nullptr, nullptr));
        }
    }

    void playTune() {
        if (!m_sound || m_playing)
            return;
        m_playing = true;
        ++m_generation;
        if (m_link == Link::Down)
            connect();
        else if (m_link == Link::Up)
            startStream();
        // While connecting, the stream starts once it is ready.
    }

    void connect() {
        pa_proplist* properties = gameProperties();
        m_context =
            pa_context_new_with_proplist(pa_mainloop_get_api(m_box->loop), "warukyara", properties);
        pa_proplist_free(properties);
        if (!m_context) {
            reportSoundProblem(SoundProblem::NoServer, m_path, QStringLiteral("out of memory"));
            m_playing = false;
            return;
        }
        pa_context_set_state_callback(m_context, &SoundThread::contextChanged, this);
        // Never start a server of our own: the desktop decides whether there is one.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            reportSoundProblem(SoundProblem::NoServer, m_path,
                               QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
            dropLink();
            return;
        }
        m_link = Link::Connecting;
        m_lastHeard = Clock::now();
    }

    // The names the desktop's volume mixer shows for the tune.
    static pa_proplist* gameProperties() {
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "warukyara");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "warukyara");
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "game");
        return properties;
    }

    static void contextChanged(pa_context* context, void* self) {
        static_cast<SoundThread*>(self)->contextChanged(pa_context_get_state(context));
    }

    void contextChanged(pa_context_state_t state) {
        m_lastHeard = Clock::now();
        if (state == PA_CONTEXT_READY) {
            openStream();
        } else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            // A server that was never reached is worth a line; one that went away mid-run is
            // found out, and said, at the next start.
            if (m_link == Link::Connecting)
                reportSoundProblem(SoundProblem::NoServer, m_path,
                                   QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
            m_dropPending = true;
        }
    }

    void openStream() {
        pa_channel_map map;
        pa_channel_map_init_extend(&map, m_spec.channels, PA_CHANNEL_MAP_DEFAULT);
        pa_proplist* properties = gameProperties();
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "background tune");
        m_stream =
            pa_stream_new_with_proplist(m_context, "background tune", &m_spec, &map, properties);
        pa_proplist_free(properties);
        if (!m_stream) {
            m_dropPending = true;
            return;
        }
        pa_stream_set_state_callback(m_stream, &SoundThread::streamChanged, this);
        pa_stream_set_write_callback(m_stream, &SoundThread::writable, this);
        // Half a second of buffer, asked for in tenths: about 20 wake-ups a second, and a
        // restart flushes what is buffered. Asking in halves would make the server run its
        // sink at the least latency it can (tlength - 2 minreq = 0): measured, twice its CPU.
        const auto second = static_cast<uint32_t>(pa_bytes_per_second(&m_spec));
        pa_buffer_attr buffer;
        buffer.maxlength = static_cast<uint32_t>(-1);
        buffer.tlength = second / 2;
        buffer.prebuf = static_cast<uint32_t>(-1);
        buffer.minreq = second / 10;
        buffer.fragsize = static_cast<uint32_t>(-1);
        if (pa_stream_connect_playback(
                m_stream, nullptr, &buffer,
                static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY),
                nullptr, nullptr) < 0)
            m_dropPending = true;
    }

    static void streamChanged(pa_stream* stream, void* self) {
        static_cast<SoundThread*>(self)->streamChanged(pa_stream_get_state(stream));
    }

    void streamChanged(pa_stream_state_t state) {
        m_lastHeard = Clock::now();
        if (state == PA_STREAM_READY) {
            m_link = Link::Up;
            if (m_playing)
                startStream();
        } else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            m_dropPending = true;
        }
    }

    void startStream() {
        m_lastHeard = Clock::now();
        feed(pa_stream_writable_size(m_stream));
        dropOperation(pa_stream_cork(m_stream, 0, nullptr, nullptr));
    }

    static void writable(pa_stream*, size_t bytes, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        thread->m_lastHeard = Clock::now();
        if (thread->m_playing && !thread->m_draining)
            thread->feed(bytes);
    }

    // Decodes straight into the server's buffer: only what the server asks for is in memory.
    void feed(size_t bytes) {
        while (bytes >= m_frameBytes && m_framesLeft > 0) {
            void* data = nullptr;
            size_t size = bytes;
            if (pa_stream_begin_write(m_stream, &data, &size) < 0 || !data)
                return;
            const sf_count_t frames =
                qMin<sf_count_t>(static_cast<sf_count_t>(size / m_frameBytes), m_framesLeft);
            const sf_count_t got = sf_readf_short(m_sound, static_cast<short*>(data), frames);
            if (got <= 0) {
                pa_stream_cancel_write(m_stream);
                m_framesLeft = 0;
                break;
            }
            const size_t written = static_cast<size_t>(got) * m_frameBytes;
            pa_stream_write(m_stream, data, written, nullptr, 0, PA_SEEK_RELATIVE);
            m_framesLeft -= got;
            bytes = bytes > written ? bytes - written : 0;
        }
        if (m_framesLeft <= 0 && !m_draining) {
            // The end of the file: let the server play out what it holds, then fall quiet.
            m_draining = true;
            m_drainGeneration = m_generation;
            dropOperation(pa_stream_drain(m_stream, &SoundThread::drained, this));
        }
    }

    static void drained(pa_stream*, int, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        thread->m_lastHeard = Clock::now();
        // A drain that a newer start has overtaken says nothing about the tune now playing.
        if (thread->m_drainGeneration != thread->m_generation || !thread->m_stream)
            return;
        thread->m_playing = false;
        thread->m_draining = false;
        // A corked stream costs the server and the game no wake-ups until the next start.
        dropOperation(pa_stream_cork(thread->m_stream, 1, nullptr, nullptr));
    }

    bool waitingOnServer() const {
        return m_link == Link::Connecting || (m_link == Link::Up && m_playing);
    }

    // A server that stops answering (stopped, or a socket nobody serves) is given up, so
    // that the next start tries afresh.
    void watchServer() {
        if (waitingOnServer() && Clock::now() - m_lastHeard > kAnswerTimeout) {
            reportSoundProblem(SoundProblem::ServerNotAnswering, m_path);
            dropLink();
        }
    }

    // Closes the connection without waiting for the server: both calls only close our end.
    void dropLink() {
        m_dropPending = false;
        if (m_stream) {
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_set_write_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
        }
        unref(m_stream, &pa_stream_unref);
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
        }
        unref(m_context, &pa_context_unref);
        m_link = Link::Down;
        m_playing = false;
        m_draining = false;
    }

    std::shared_ptr<Mailbox> m_box;
    QString m_path;
    SNDFILE* m_sound = nullptr;
    pa_sample_spec m_spec{};
    size_t m_frameBytes = 0;
    sf_count_t m_framesLeft = 0;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    Link m_link = Link::Down;
    bool m_dropPending = false;
    bool m_playing = false;
    bool m_draining = false;
    unsigned m_generation = 0;
    unsigned m_drainGeneration = 0;
    Clock::time_point m_lastHeard;
};

class StreamPlayer : public AudioPlayer {
public:
    StreamPlayer() : m_box(std::make_shared<Mailbox>()) {
        if (!m_box->loop)
            return;
        m_thread = std::thread([box = m_box] {
            // Named, so that top and the debugger show whose thread it is.
            pthread_setname_np(pthread_self(), "sound");
            {
                SoundThread thread(box);
                thread.run();
            }
            const std::lock_guard lock(box->mutex);
            box->finished = true;
            box->finishedChanged.notify_all();
        });
    }

    // The game's end never waits on the sound: the thread is asked to stop and given a
    // moment. One that does not stop in time (say, stuck reading a file from a hung disk) is
    // left behind, detached; it holds its own share of the mailbox, so it touches nothing
    // freed, and the process ends around it.
    ~StreamPlayer() override {
        if (!m_thread.joinable())
            return;
        post([](Mailbox& box) { box.quit = true; });
        std::unique_lock lock(m_box->mutex);
        if (m_box->finishedChanged.wait_for(lock, kEndWait, [this] { return m_box->finished; })) {
            lock.unlock();
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }

    void load(const QString& path) override {
        post([&path](Mailbox& box) {
            box.path = path;
            box.load = true;
        });
    }

    void rewind() override {
        post([](Mailbox& box) {
            box.rewind = true;
            box.play = false;
        });
    }

    void play() override {
        post([](Mailbox& box) { box.play = true; });
    }

private:
    template <typename Change> void post(Change change) {
        if (!m_box->loop)
            return;
        {
            const std::lock_guard lock(m_box->mutex);
            change(*m_box);
        }
        pa_mainloop_wakeup(m_box->loop);
    }

    std::shared_ptr<Mailbox> m_box;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<AudioPlayer> makeStreamPlayer() {
    return std::make_unique<StreamPlayer>();
}

} // namespace sound
