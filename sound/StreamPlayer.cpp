// The tune's player: libsndfile decodes the file a piece at a time and PulseAudio's
// asynchronous API plays it, both on a thread of the player's own that runs libpulse's own
// loop. The GUI thread only sets a flag in a mailbox and wakes that thread through an eventfd,
// so no state of the sound server or of the file can hold up a handler.
//
// What the sound thread may touch: its SoundThread, the libpulse and libsndfile objects that
// it owns, the file it opened and the Mailbox, whose share it holds. Nothing of Qt and no
// function-local static, except through Mailbox::report, which speaks only while the player
// still lives: a thread left behind at the game's end would otherwise meet them half
// destroyed.
#include "MMControl.h"
#include "SoundProblem.h"
#include "WaveView.h"

#include <QFile>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/timeval.h>
#include <sndfile.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
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

// How long the game may wait, at its end, for the sound thread to finish.
constexpr auto kEndWait = std::chrono::milliseconds(300);

std::string errnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

// What the GUI thread hands the sound thread. The GUI thread holds the mutex only to set
// flags, never while anything talks to the server.
struct Mailbox {
    std::mutex mutex;
    std::string path; // in the file system's encoding
    bool load = false;
    bool rewind = false;
    bool play = false;
    bool quit = false;
    bool finished = false;
    std::condition_variable finishedChanged;
    // Counts the notes posted: the sound thread's loop watches it, and a note posted at any
    // moment leaves it readable until the thread has looked.
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    ~Mailbox() {
        if (wake >= 0)
            ::close(wake);
    }

    // The one way the sound thread reaches Qt: under the lock, and never once the player has
    // asked it to quit, after which the game may be tearing Qt down.
    void report(SoundProblem problem, const std::string& file, const std::string& detail = {}) {
        const std::lock_guard lock(mutex);
        if (!quit)
            reportSoundProblem(problem, QFile::decodeName(file.c_str()),
                               QString::fromStdString(detail));
    }
};

void dropOperation(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}

struct OpenedFile {
    int fd = -1;
    int64_t size = 0;
    SoundProblem problem = SoundProblem::None;
    std::string detail;
};

// Opens a regular file only, and never waits to do it: a FIFO without a writer would hold
// open() for good, a device could be endless.
OpenedFile openRegularFile(const std::string& path) {
    OpenedFile file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file.fd < 0) {
        const int error = errno;
        file.problem = error == ENOENT ? SoundProblem::NotFound : SoundProblem::NotReadable;
        file.detail = errnoText(error);
        return file;
    }
    struct stat status {};
    const char* what = nullptr;
    if (::fstat(file.fd, &status) != 0)
        file.detail = errnoText(errno);
    else if (S_ISDIR(status.st_mode))
        what = "it is a folder";
    else if (S_ISFIFO(status.st_mode))
        what = "it is a FIFO";
    else if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        what = "it is a device";
    else if (S_ISSOCK(status.st_mode))
        what = "it is a socket";
    if (what)
        file.detail = what;
    if (!file.detail.empty()) {
        ::close(file.fd);
        file.fd = -1;
        file.problem = SoundProblem::NotReadable;
        return file;
    }
    file.size = status.st_size;
    return file;
}

// Everything below runs on the sound thread only.
class SoundThread {
public:
    SoundThread(std::shared_ptr<Mailbox> box, pa_mainloop* loop, const StreamLimits& limits)
        : m_box(std::move(box)), m_loop(loop), m_api(pa_mainloop_get_api(loop)), m_limits(limits) {}

    ~SoundThread() {
        dropLink();
        closeFile();
        if (m_woken)
            m_api->io_free(m_woken);
        if (m_dropLater)
            m_api->defer_free(m_dropLater);
    }

    void run() {
        m_woken = m_api->io_new(m_api, m_box->wake, PA_IO_EVENT_INPUT, &SoundThread::woken, this);
        m_dropLater = m_api->defer_new(m_api, &SoundThread::dropDeferred, this);
        m_api->defer_enable(m_dropLater, 0);
        int status = 0;
        // A quit is not a failure: the loop then returns 1. A report after the quit is
        // silenced by the mailbox anyway.
        if (pa_mainloop_run(m_loop, &status) < 0)
            report(SoundProblem::PlaybackFailed, "the sound thread's loop failed");
    }

private:
    enum class Link { Down, Connecting, Up };

    static void woken(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
        uint64_t notes = 0;
        // Read before the mailbox is: a note posted after this read makes the fd readable
        // again, so the loop comes back for it whatever it is doing meanwhile.
        if (::read(fd, &notes, sizeof notes) < 0 && errno != EAGAIN)
            static_cast<SoundThread*>(self)->report(SoundProblem::PlaybackFailed,
                                                    "the sound thread cannot be woken");
        auto* thread = static_cast<SoundThread*>(self);
        thread->takeCommands();
        if (const auto hook = afterCommandsTaken.load())
            hook();
        thread->updateWatchdog();
    }

    // Carries out what the GUI thread asked since the last look, in its order of effect:
    // a rewind cancels an earlier play, a later play follows it.
    void takeCommands() {
        std::string path;
        bool load, rewind, play;
        {
            const std::lock_guard lock(m_box->mutex);
            if (m_box->quit) {
                pa_mainloop_quit(m_loop, 0);
                return;
            }
            path = m_box->path;
            load = std::exchange(m_box->load, false);
            rewind = std::exchange(m_box->rewind, false);
            play = std::exchange(m_box->play, false);
        }
        if (load)
            loadFile(path);
        if (rewind)
            rewindTune();
        if (play)
            playTune();
    }

    void report(SoundProblem problem, const std::string& detail = {}) {
        m_box->report(problem, m_path, detail);
    }

    void loadFile(const std::string& path) {
        m_path = path;
        if (!openFile())
            return;
        // The device is opened with the file, so that the first start is heard at once and
        // a missing server is reported at load.
        if (m_link == Link::Down)
            connect();
        else
            followFormat();
    }

    // Opens and checks the file afresh: it may have been rewritten or cut since the last time.
    bool openFile() {
        closeFile();
        OpenedFile file = openRegularFile(m_path);
        if (file.problem != SoundProblem::None) {
            report(file.problem, file.detail);
            return false;
        }
        m_fd = file.fd;
        const int fd = m_fd;
        const ReadAt readAt = [fd](int64_t offset, char* into, int64_t length) {
            return readFromFile(fd, offset, into, length);
        };
        const WaveCheck check = checkWaveHeader(file.size, readAt);
        if (check.problem != SoundProblem::None) {
            report(check.problem, check.detail);
            closeFile();
            return false;
        }
        m_view = std::make_unique<WaveView>(check.format, readAt);
        SF_INFO info{};
        std::string why;
        m_sound = m_view->open(info, why);
        if (!m_sound || info.frames <= 0 || info.channels != check.format.channels) {
            report(SoundProblem::Corrupt, m_sound ? "no sound data" : why);
            closeFile();
            return false;
        }
        m_spec.format = PA_SAMPLE_S16NE;
        m_spec.rate = static_cast<uint32_t>(info.samplerate);
        m_spec.channels = static_cast<uint8_t>(info.channels);
        m_frameBytes = pa_frame_size(&m_spec);
        m_framesInFile = info.frames;
        m_framesRead = 0;
        m_framesLeft = m_limits.longestStart.count() * info.samplerate;
        return true;
    }

    void closeFile() {
        m_view.reset(); // closes the decoder over it
        m_sound = nullptr;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_playing = false;
    }

    // A file of another format needs a stream of its own; the connection stays.
    void followFormat() {
        if (m_stream && pa_sample_spec_equal(&m_spec, &m_streamSpec))
            return;
        dropStream();
        if (m_contextReady)
            openStream();
    }

    void rewindTune() {
        m_playing = false;
        m_draining = false;
        ++m_generation;
        if (m_link == Link::Up && m_stream) {
            // Drop what the server still holds of the last start, and stay quiet until "Play".
            dropOperation(pa_stream_cork(m_stream, 1, nullptr, nullptr));
            dropOperation(pa_stream_flush(m_stream, nullptr, nullptr));
        }
    }

    void playTune() {
        if (m_playing || !openFile())
            return;
        m_playing = true;
        ++m_generation;
        if (m_link == Link::Down)
            connect();
        else
            followFormat();
        if (m_link == Link::Up)
            startStream();
        // While connecting, the stream starts once it is ready.
    }

    void connect() {
        pa_proplist* properties = gameProperties();
        m_context = pa_context_new_with_proplist(m_api, "warukyara", properties);
        pa_proplist_free(properties);
        if (!m_context) {
            report(SoundProblem::NoServer, "out of memory");
            m_playing = false;
            return;
        }
        m_link = Link::Connecting;
        m_connectingSince = Clock::now();
        pa_context_set_state_callback(m_context, &SoundThread::contextChanged, this);
        m_watchdog = pa_context_rttime_new(m_context, PA_USEC_INVALID, &SoundThread::watch, this);
        // Never start a server of our own: the desktop decides whether there is one.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            report(SoundProblem::NoServer, pa_strerror(pa_context_errno(m_context)));
            dropLink();
        }
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
        auto* thread = static_cast<SoundThread*>(self);
        thread->contextChanged(pa_context_get_state(context));
        thread->updateWatchdog();
    }

    void contextChanged(pa_context_state_t state) {
        if (state == PA_CONTEXT_READY) {
            m_contextReady = true;
            // Without a playable file the stream waits for one.
            if (m_sound)
                openStream();
            else
                m_link = Link::Up;
        } else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            // A server that was never reached is worth a line; one that went away mid-run is
            // found out, and said, at the next start.
            if (!m_contextReady)
                report(SoundProblem::NoServer, pa_strerror(pa_context_errno(m_context)));
            dropLater();
        }
    }

    void openStream() {
        m_link = Link::Connecting;
        m_connectingSince = Clock::now();
        // WAVE files order their channels as WAVEFORMATEXTENSIBLE does.
        pa_channel_map map;
        pa_channel_map_init_extend(&map, m_spec.channels, PA_CHANNEL_MAP_WAVEEX);
        pa_proplist* properties = gameProperties();
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "background tune");
        m_stream =
            pa_stream_new_with_proplist(m_context, "background tune", &m_spec, &map, properties);
        pa_proplist_free(properties);
        if (!m_stream) {
            streamFailed();
            return;
        }
        m_streamSpec = m_spec;
        pa_stream_set_state_callback(m_stream, &SoundThread::streamChanged, this);
        pa_stream_set_write_callback(m_stream, &SoundThread::writable, this);
        // Half a second of buffer, asked for in tenths: about 10 wake-ups a second, and a
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
            streamFailed();
    }

    void streamFailed() {
        report(SoundProblem::PlaybackFailed, std::string("the sound server refused the stream: ") +
                                                 pa_strerror(pa_context_errno(m_context)));
        dropLater();
    }

    static void streamChanged(pa_stream* stream, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        thread->streamChanged(pa_stream_get_state(stream));
        thread->updateWatchdog();
    }

    void streamChanged(pa_stream_state_t state) {
        if (state == PA_STREAM_READY) {
            m_link = Link::Up;
            if (m_playing)
                startStream();
        } else if (state == PA_STREAM_FAILED) {
            // A stream that never came up on a live server is a fault of its own; one lost
            // with its server goes with the connection.
            if (m_link == Link::Connecting && pa_context_get_state(m_context) == PA_CONTEXT_READY)
                streamFailed();
            else
                dropLater();
        } else if (state == PA_STREAM_TERMINATED) {
            dropLater();
        }
    }

    void startStream() {
        feed(pa_stream_writable_size(m_stream));
        dropOperation(pa_stream_cork(m_stream, 0, nullptr, nullptr));
    }

    static void writable(pa_stream*, size_t bytes, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        if (thread->m_playing && !thread->m_draining)
            thread->feed(bytes);
    }

    // Decodes straight into the server's buffer: only what the server asks for is in memory.
    void feed(size_t bytes) {
        while (bytes >= m_frameBytes && m_framesLeft > 0) {
            void* data = nullptr;
            size_t size = bytes;
            if (pa_stream_begin_write(m_stream, &data, &size) < 0 || !data) {
                stopFeeding(SoundProblem::PlaybackFailed,
                            std::string("the sound server took no sound: ") +
                                pa_strerror(pa_context_errno(m_context)));
                break;
            }
            const sf_count_t frames =
                std::min<sf_count_t>(static_cast<sf_count_t>(size / m_frameBytes), m_framesLeft);
            const sf_count_t got = sf_readf_short(m_sound, static_cast<short*>(data), frames);
            if (got <= 0) {
                pa_stream_cancel_write(m_stream);
                if (!readFailed() && m_framesRead < m_framesInFile)
                    stopFeeding(SoundProblem::Corrupt, "the sound cannot be decoded past frame " +
                                                           std::to_string(m_framesRead));
                m_framesLeft = 0;
                break;
            }
            const size_t written = static_cast<size_t>(got) * m_frameBytes;
            if (pa_stream_write(m_stream, data, written, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                stopFeeding(SoundProblem::PlaybackFailed,
                            std::string("the sound server took no sound: ") +
                                pa_strerror(pa_context_errno(m_context)));
                break;
            }
            m_framesRead += got;
            m_framesLeft -= got;
            bytes = bytes > written ? bytes - written : 0;
            if (readFailed())
                break;
        }
        if (m_framesLeft <= 0 && !m_draining) {
            // The end of the file: let the server play out what it holds, then fall quiet.
            m_draining = true;
            m_drainGeneration = m_generation;
            dropOperation(pa_stream_drain(m_stream, &SoundThread::drained, this));
        }
    }

    // A file that fails or ends early while it plays ends this start, with one line; the next
    // start opens and checks it afresh.
    bool readFailed() {
        if (!m_view->failed())
            return false;
        report(SoundProblem::NotReadable,
               m_view->failedErrno() != 0
                   ? errnoText(m_view->failedErrno())
                   : "it ended at byte " + std::to_string(m_view->failedAt()) + " while playing");
        m_framesLeft = 0;
        return true;
    }

    void stopFeeding(SoundProblem problem, const std::string& detail) {
        report(problem, detail);
        m_framesLeft = 0;
    }

    static void drained(pa_stream*, int, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        // A drain that a newer start has overtaken says nothing about the tune now playing.
        if (thread->m_drainGeneration != thread->m_generation || !thread->m_stream)
            return;
        thread->m_playing = false;
        thread->m_draining = false;
        // A corked stream costs the server and the game no wake-ups until the next start.
        dropOperation(pa_stream_cork(thread->m_stream, 1, nullptr, nullptr));
        thread->updateWatchdog();
    }

    bool waitingOnServer() const {
        return m_link == Link::Connecting || (m_link == Link::Up && m_playing);
    }

    // The watchdog ticks only while the game waits on the server: nothing wakes the thread
    // once the tune has ended.
    void updateWatchdog() {
        const bool waiting = m_watchdog && waitingOnServer();
        if (waiting == m_watching)
            return;
        m_watching = waiting;
        m_asked = false;
        if (m_watchdog)
            pa_context_rttime_restart(m_context, m_watchdog,
                                      waiting ? nextTick() : PA_USEC_INVALID);
    }

    static void watch(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        static_cast<SoundThread*>(self)->watch();
    }

    // A server that stops answering (stopped, or a socket nobody serves) is given up, so that
    // the next start tries afresh. It is asked for the stream's timing rather than judged by
    // its requests for data: a suspended sink asks for none and still answers.
    void watch() {
        if (!waitingOnServer()) {
            m_watching = false;
            return;
        }
        const auto now = Clock::now();
        if (m_link == Link::Connecting) {
            if (now - m_connectingSince > m_limits.answerTimeout)
                return giveUp();
        } else if (m_playing && m_asked) {
            if (now - m_askedAt > m_limits.answerTimeout)
                return giveUp();
        } else if (m_playing) {
            pa_operation* asking =
                pa_stream_update_timing_info(m_stream, &SoundThread::answered, this);
            m_asked = asking != nullptr;
            m_askedAt = now;
            dropOperation(asking);
        }
        pa_context_rttime_restart(m_context, m_watchdog, nextTick());
    }

    pa_usec_t nextTick() const {
        return pa_rtclock_now() +
               static_cast<pa_usec_t>(std::chrono::microseconds(m_limits.watchdogTick).count());
    }

    static void answered(pa_stream*, int, void* self) {
        static_cast<SoundThread*>(self)->m_asked = false;
    }

    void giveUp() {
        report(SoundProblem::ServerNotAnswering);
        dropLink();
    }

    void dropLater() { m_api->defer_enable(m_dropLater, 1); }

    static void dropDeferred(pa_mainloop_api* api, pa_defer_event* event, void* self) {
        api->defer_enable(event, 0);
        static_cast<SoundThread*>(self)->dropLink();
    }

    void dropStream() {
        if (m_stream) {
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_set_write_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
        }
        m_stream = nullptr;
        m_link = m_context ? Link::Connecting : Link::Down;
        m_connectingSince = Clock::now();
        m_draining = false;
        // A question to a stream that is gone is never answered.
        m_asked = false;
    }

    // Closes the connection without waiting for the server: both calls only close our end.
    void dropLink() {
        if (m_dropLater)
            m_api->defer_enable(m_dropLater, 0);
        dropStream();
        if (m_watchdog)
            m_api->time_free(m_watchdog);
        m_watchdog = nullptr;
        m_watching = false;
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        m_context = nullptr;
        m_contextReady = false;
        m_link = Link::Down;
        m_playing = false;
    }

    std::shared_ptr<Mailbox> m_box;
    pa_mainloop* m_loop;
    pa_mainloop_api* m_api;
    pa_io_event* m_woken = nullptr;
    pa_defer_event* m_dropLater = nullptr;
    const StreamLimits m_limits;

    std::string m_path;
    int m_fd = -1;
    std::unique_ptr<WaveView> m_view;
    SNDFILE* m_sound = nullptr;
    pa_sample_spec m_spec{};
    size_t m_frameBytes = 0;
    sf_count_t m_framesInFile = 0;
    sf_count_t m_framesRead = 0;
    sf_count_t m_framesLeft = 0;

    pa_context* m_context = nullptr;
    bool m_contextReady = false;
    pa_stream* m_stream = nullptr;
    pa_sample_spec m_streamSpec{};
    Link m_link = Link::Down;
    bool m_playing = false;
    bool m_draining = false;
    unsigned m_generation = 0;
    unsigned m_drainGeneration = 0;

    pa_time_event* m_watchdog = nullptr;
    bool m_watching = false;
    bool m_asked = false;
    Clock::time_point m_askedAt;
    Clock::time_point m_connectingSince;
};

class StreamPlayer : public AudioPlayer {
public:
    explicit StreamPlayer(const StreamLimits& limits) : m_box(std::make_shared<Mailbox>()) {
        if (m_box->wake < 0)
            return;
        m_thread = std::thread([box = m_box, limits] {
            // Named, so that top and the debugger show whose thread it is.
            pthread_setname_np(pthread_self(), "sound");
            if (pa_mainloop* loop = pa_mainloop_new()) {
                {
                    SoundThread thread(box, loop, limits);
                    thread.run();
                }
                pa_mainloop_free(loop);
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
        post([name = QFile::encodeName(path).toStdString()](Mailbox& box) {
            box.path = name;
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
        if (m_box->wake < 0)
            return;
        {
            const std::lock_guard lock(m_box->mutex);
            change(*m_box);
        }
        const uint64_t note = 1;
        // Only a counter near its 2^64 limit refuses a note, and it then wakes the thread anyway.
        [[maybe_unused]] const ssize_t written = ::write(m_box->wake, &note, sizeof note);
    }

    std::shared_ptr<Mailbox> m_box;
    std::thread m_thread;
};

} // namespace

std::atomic<void (*)()> afterCommandsTaken{nullptr};

std::unique_ptr<AudioPlayer> makeStreamPlayer(StreamLimits limits) {
    return std::make_unique<StreamPlayer>(limits);
}

} // namespace sound
