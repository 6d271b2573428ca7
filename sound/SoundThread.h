#pragma once

#include "SoundProblem.h"
#include "StreamPlayer.h"

#include <QFile>

#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace sound {

// What the GUI thread hands the sound thread. The GUI thread holds the mutex only to set
// flags, never while anything talks to the server.
struct Mailbox {
    std::mutex mutex;
    std::string path; // in the file system's encoding
    bool load = false;
    bool rewind = false;
    bool play = false;
    bool quit = false;
    // Counts the notes posted: the sound thread's loop watches it, and a note posted at any
    // moment leaves it readable until the thread has looked.
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    ~Mailbox() {
        if (wake >= 0)
            ::close(wake);
    }

    // The one way the sound thread reaches Qt: under the lock, and never once the player has
    // asked it to quit, after which the game may be tearing Qt down.
    void report(SoundProblem problem, const std::string& file, const std::string& detail) {
        const std::lock_guard lock(mutex);
        if (!quit)
            reportSoundProblem(problem, QFile::decodeName(file.c_str()),
                               QString::fromStdString(detail));
    }
};

// The sound thread's life: it plays as the mailbox asks until the mailbox asks it to quit.
void playSound(const std::shared_ptr<Mailbox>& box, const StreamLimits& limits,
               const std::function<void()>& afterCommandsTaken);

} // namespace sound
