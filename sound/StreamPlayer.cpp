// The tune's player as the GUI thread sees it: it only sets a flag in a mailbox and wakes the
// sound thread through an eventfd, so no state of the sound server or of the file can hold up
// a handler.
#include "StreamPlayer.h"
#include "SoundThread.h"

#include <pthread.h>

#include <future>
#include <thread>

namespace sound {
namespace {

// How long the game may wait, at its end, for the sound thread to finish.
constexpr auto kEndWait = std::chrono::milliseconds(300);

class StreamPlayer : public AudioPlayer {
public:
    StreamPlayer(const StreamLimits& limits, std::function<void()> afterCommandsTaken)
        : m_box(std::make_shared<Mailbox>()) {
        if (m_box->wake < 0)
            return;
        std::promise<void> ended;
        m_ended = ended.get_future();
        m_thread = std::thread([box = m_box, limits, hook = std::move(afterCommandsTaken),
                                ended = std::move(ended)]() mutable {
            // Named, so that top and the debugger show whose thread it is.
            pthread_setname_np(pthread_self(), "sound");
            playSound(box, limits, hook);
            ended.set_value();
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
        if (m_ended.wait_for(kEndWait) == std::future_status::ready)
            m_thread.join();
        else
            m_thread.detach();
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
    std::future<void> m_ended;
};

} // namespace

std::unique_ptr<AudioPlayer> makeStreamPlayer(StreamLimits limits,
                                              std::function<void()> afterCommandsTaken) {
    return std::make_unique<StreamPlayer>(limits, std::move(afterCommandsTaken));
}

} // namespace sound
