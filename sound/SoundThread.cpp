// The sound thread: libsndfile decodes the file a piece at a time and PulseAudio's
// asynchronous API plays it, both on libpulse's own loop.
//
// What the sound thread may touch: its SoundThread, the libpulse and libsndfile objects that
// it owns, the file it opened and the Mailbox, whose share it holds. Nothing of Qt and no
// function-local static, except through Mailbox::report, which speaks only while the player
// still lives: a thread left behind at the game's end would otherwise meet them half
// destroyed.
#include "SoundThread.h"
#include "SoundFile.h"
#include "StreamFeed.h"
#include "Watchdog.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>

#include <cassert>
#include <cerrno>

namespace sound {
namespace {

// Where the player stands. Only SoundThread::enter() changes it.
enum class Stage {
    NoServer,         // not connected: the next load or start connects
    Connecting,       // the connection is being made
    ConnectingToPlay, // the same, and a start waits for it
    Opening,          // the stream for the file's format is being opened
    OpeningToPlay,    // the same, and a start waits for it
    Quiet,            // the stream is corked: loaded, rewound or played out
    Playing,          // the stream is fed as the server asks
    Draining,         // all of the start is fed; the server plays out what it holds
};

void dropOperation(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}

// The names the desktop's volume mixer shows for the tune.
pa_proplist* gameProperties() {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "warukyara");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "warukyara");
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "game");
    return properties;
}

// libpulse calls it through its on… callbacks; what they call is named for what it does.
class SoundThread {
public:
    SoundThread(std::shared_ptr<Mailbox> box, pa_mainloop* loop, const StreamLimits& limits,
                std::function<void()> afterCommandsTaken)
        : m_box(std::move(box)), m_loop(loop), m_api(pa_mainloop_get_api(loop)), m_limits(limits),
          m_afterCommandsTaken(std::move(afterCommandsTaken)),
          m_watchdog(m_api, limits, [this] { giveUp(); }) {}

    ~SoundThread() {
        dropLink();
        if (m_woken)
            m_api->io_free(m_woken);
        if (m_dropLater)
            m_api->defer_free(m_dropLater);
    }

    void run() {
        m_woken = m_api->io_new(m_api, m_box->wake, PA_IO_EVENT_INPUT, &SoundThread::onWoken, this);
        m_dropLater = m_api->defer_new(m_api, &SoundThread::onDropLater, this);
        m_api->defer_enable(m_dropLater, 0);
        int status = 0;
        // A quit is not a failure: the loop then returns 1. A report after the quit is
        // silenced by the mailbox anyway.
        if (pa_mainloop_run(m_loop, &status) < 0)
            report({SoundProblem::PlaybackFailed, "the sound thread's loop failed"});
    }

private:
    static void onWoken(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        uint64_t notes = 0;
        // Read before the mailbox is: a note posted after this read makes the fd readable
        // again, so the loop comes back for it whatever it is doing meanwhile.
        if (::read(fd, &notes, sizeof notes) < 0 && errno != EAGAIN)
            thread->report({SoundProblem::PlaybackFailed, "the sound thread cannot be woken"});
        thread->takeCommands();
    }

    static void onContextState(pa_context* context, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_UNCONNECTED:
        case PA_CONTEXT_CONNECTING:
        case PA_CONTEXT_AUTHORIZING:
        case PA_CONTEXT_SETTING_NAME:
            return;
        case PA_CONTEXT_READY:
            return thread->connected();
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            return thread->disconnected();
        }
    }

    static void onStreamState(pa_stream* stream, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_UNCONNECTED:
        case PA_STREAM_CREATING:
            return;
        case PA_STREAM_READY:
            return thread->streamReady();
        case PA_STREAM_FAILED:
            return thread->streamLost();
        case PA_STREAM_TERMINATED:
            return thread->dropLater();
        }
    }

    static void onWritable(pa_stream*, size_t bytes, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        if (thread->m_stage == Stage::Playing)
            thread->feed(bytes);
    }

    static void onDrained(pa_stream* stream, int, void* self) {
        auto* thread = static_cast<SoundThread*>(self);
        // A drain that a rewind or another stream overtook was cancelled, and never ends here.
        assert(thread->m_stage == Stage::Draining && stream == thread->m_stream);
        // A corked stream costs the server and the game no wake-ups until the next start.
        dropOperation(pa_stream_cork(stream, 1, nullptr, nullptr));
        thread->enter(Stage::Quiet);
    }

    static void onDropLater(pa_mainloop_api*, pa_defer_event*, void* self) {
        static_cast<SoundThread*>(self)->dropLink();
    }

    // The one place where the stage changes, and with it what the watchdog watches.
    void enter(Stage next) {
        m_stage = next;
        if (next != Stage::Draining)
            cancelDrain();
        switch (next) {
        case Stage::NoServer:
        case Stage::Quiet:
            return m_watchdog.watch(Watchdog::Watch::Resting);
        case Stage::Connecting:
        case Stage::ConnectingToPlay:
        case Stage::Opening:
        case Stage::OpeningToPlay:
            return m_watchdog.watch(Watchdog::Watch::Answer);
        case Stage::Playing:
        case Stage::Draining:
            return m_watchdog.watch(Watchdog::Watch::Stream, m_stream);
        }
    }

    void report(const Fault& fault) { m_box->report(fault.problem, m_path, fault.detail); }

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
        if (m_afterCommandsTaken)
            m_afterCommandsTaken();
    }

    // The device is opened with the file, so that the first start is heard at once and a
    // missing server is said at load.
    void loadFile(const std::string& path) {
        rewindTune();
        m_path = path;
        if (openFile())
            fit(false);
    }

    void rewindTune() {
        switch (m_stage) {
        case Stage::NoServer:
        case Stage::Connecting:
        case Stage::Opening:
            return;
        case Stage::ConnectingToPlay:
            return enter(Stage::Connecting);
        case Stage::OpeningToPlay:
            return enter(Stage::Opening);
        case Stage::Quiet:
        case Stage::Playing:
        case Stage::Draining:
            // Drop what the server still holds of the last start, and stay quiet until "Play".
            dropOperation(pa_stream_cork(m_stream, 1, nullptr, nullptr));
            dropOperation(pa_stream_flush(m_stream, nullptr, nullptr));
            return enter(Stage::Quiet);
        }
    }

    void playTune() {
        switch (m_stage) {
        case Stage::ConnectingToPlay:
        case Stage::OpeningToPlay:
        case Stage::Playing:
        case Stage::Draining:
            return; // the start under way goes on
        case Stage::NoServer:
        case Stage::Connecting:
        case Stage::Opening:
        case Stage::Quiet:
            if (openFile())
                fit(true);
            return;
        }
    }

    // Opens and checks the file afresh: it may have been rewritten or cut since the last time.
    bool openFile() {
        const Fault fault = m_file.open(m_path, m_limits.longestStart);
        if (fault)
            report(fault);
        return !fault;
    }

    // Makes the connection and the stream fit the opened file, then starts it if `play`, at
    // once or when they are ready. A file of another format needs a stream of its own; the
    // connection stays.
    void fit(bool play) {
        const bool sameFormat =
            m_stream && pa_sample_spec_equal(&m_file.format(), pa_stream_get_sample_spec(m_stream));
        switch (m_stage) {
        case Stage::NoServer:
            return connect(play);
        case Stage::Connecting:
            return enter(play ? Stage::ConnectingToPlay : Stage::Connecting);
        case Stage::Opening:
            if (!sameFormat)
                return openStream(play);
            return enter(play ? Stage::OpeningToPlay : Stage::Opening);
        case Stage::Quiet:
            if (!sameFormat)
                return openStream(play);
            if (play)
                startStream();
            return;
        case Stage::ConnectingToPlay:
        case Stage::OpeningToPlay:
        case Stage::Playing:
        case Stage::Draining:
            assert(!"a start under way ends before the file is opened again");
            return;
        }
    }

    void connect(bool play) {
        pa_proplist* properties = gameProperties();
        m_context = pa_context_new_with_proplist(m_api, "warukyara", properties);
        pa_proplist_free(properties);
        if (!m_context)
            return report({SoundProblem::NoServer, "out of memory"});
        pa_context_set_state_callback(m_context, &SoundThread::onContextState, this);
        m_watchdog.start(m_context);
        enter(play ? Stage::ConnectingToPlay : Stage::Connecting);
        // Never start a server of our own: the desktop decides whether there is one. A server
        // that cannot be reached fails through the state callback, even when it fails at once.
        pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    }

    void connected() {
        assert(!m_stream);
        assert(m_stage == Stage::Connecting || m_stage == Stage::ConnectingToPlay);
        // A file that failed to load meanwhile leaves nothing to connect for.
        if (!m_file.isOpen())
            return dropLater();
        openStream(m_stage == Stage::ConnectingToPlay);
    }

    // A server that was never reached is worth a line; one that went away mid-run is found
    // out, and said, at the next start.
    void disconnected() {
        if (m_stage == Stage::Connecting || m_stage == Stage::ConnectingToPlay)
            report({SoundProblem::NoServer, pa_strerror(pa_context_errno(m_context))});
        dropLater();
    }

    void openStream(bool play) {
        dropStream();
        enter(play ? Stage::OpeningToPlay : Stage::Opening);
        const pa_sample_spec& format = m_file.format();
        // WAVE files order their channels as WAVEFORMATEXTENSIBLE does.
        pa_channel_map map;
        pa_channel_map_init_extend(&map, format.channels, PA_CHANNEL_MAP_WAVEEX);
        pa_proplist* properties = gameProperties();
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "background tune");
        m_stream =
            pa_stream_new_with_proplist(m_context, "background tune", &format, &map, properties);
        pa_proplist_free(properties);
        if (!m_stream)
            return streamRefused();
        pa_stream_set_state_callback(m_stream, &SoundThread::onStreamState, this);
        pa_stream_set_write_callback(m_stream, &SoundThread::onWritable, this);
        // Half a second of buffer, asked for in tenths: about 10 wake-ups a second, and a
        // restart flushes what is buffered. Asking in halves would make the server run its
        // sink at the least latency it can (tlength - 2 minreq = 0): measured, twice its CPU.
        const auto second = static_cast<uint32_t>(pa_bytes_per_second(&format));
        const auto any = static_cast<uint32_t>(-1);
        const pa_buffer_attr buffer{.maxlength = any,
                                    .tlength = second / 2,
                                    .prebuf = any,
                                    .minreq = second / 10,
                                    .fragsize = any};
        if (pa_stream_connect_playback(
                m_stream, nullptr, &buffer,
                static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY),
                nullptr, nullptr) < 0)
            streamRefused();
    }

    void streamReady() {
        assert(m_stage == Stage::Opening || m_stage == Stage::OpeningToPlay);
        if (m_stage == Stage::OpeningToPlay)
            startStream();
        else
            enter(Stage::Quiet);
    }

    // A stream that never came up on a live server is a fault of its own; one lost with its
    // server goes with the connection.
    void streamLost() {
        const bool opening = m_stage == Stage::Opening || m_stage == Stage::OpeningToPlay;
        if (opening && pa_context_get_state(m_context) == PA_CONTEXT_READY)
            streamRefused();
        else
            dropLater();
    }

    void streamRefused() {
        report({SoundProblem::PlaybackFailed, std::string("the sound server refused the stream: ") +
                                                  pa_strerror(pa_context_errno(m_context))});
        dropLater();
    }

    void startStream() {
        enter(Stage::Playing);
        feed(pa_stream_writable_size(m_stream));
        dropOperation(pa_stream_cork(m_stream, 0, nullptr, nullptr));
    }

    // Once all of the start is fed, or a fault ended it, the server plays out what it holds
    // and the stream falls quiet. The next start opens and checks the file afresh.
    void feed(size_t bytes) {
        Fault fault;
        const bool more = feedStream(m_stream, bytes, m_file, fault);
        if (fault)
            report(fault);
        if (more)
            return;
        enter(Stage::Draining);
        m_drain = pa_stream_drain(m_stream, &SoundThread::onDrained, this);
    }

    void giveUp() {
        report({SoundProblem::ServerNotAnswering, {}});
        dropLink();
    }

    // A connection or a stream that failed is dropped from the loop, not from its own callback.
    void dropLater() { m_api->defer_enable(m_dropLater, 1); }

    void cancelDrain() {
        if (m_drain) {
            pa_operation_cancel(m_drain);
            pa_operation_unref(std::exchange(m_drain, nullptr));
        }
    }

    void dropStream() {
        cancelDrain();
        if (!m_stream)
            return;
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(std::exchange(m_stream, nullptr));
    }

    // Closes the connection without waiting for the server: both calls only close our end.
    void dropLink() {
        if (m_dropLater)
            m_api->defer_enable(m_dropLater, 0);
        dropStream();
        m_watchdog.stop();
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(std::exchange(m_context, nullptr));
        }
        enter(Stage::NoServer);
    }

    const std::shared_ptr<Mailbox> m_box;
    pa_mainloop* const m_loop;
    pa_mainloop_api* const m_api;
    const StreamLimits m_limits;
    const std::function<void()> m_afterCommandsTaken;
    pa_io_event* m_woken = nullptr;
    pa_defer_event* m_dropLater = nullptr;

    std::string m_path;
    SoundFile m_file;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_operation* m_drain = nullptr;
    Stage m_stage = Stage::NoServer;
    Watchdog m_watchdog;
};

} // namespace

void playSound(const std::shared_ptr<Mailbox>& box, const StreamLimits& limits,
               const std::function<void()>& afterCommandsTaken) {
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return;
    {
        SoundThread thread(box, loop, limits, afterCommandsTaken);
        thread.run();
    }
    pa_mainloop_free(loop);
}

} // namespace sound
