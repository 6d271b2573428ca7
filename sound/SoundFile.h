#pragma once

#include "SoundProblem.h"
#include "WaveView.h"

#include <pulse/sample.h>
#include <sndfile.h>

#include <chrono>
#include <memory>
#include <string>

namespace sound {

// What went wrong, with the detail its line shows; nothing when all is well.
struct Fault {
    SoundProblem problem = SoundProblem::None;
    std::string detail;
    explicit operator bool() const { return problem != SoundProblem::None; }
};

// The tune's file, opened and checked afresh for each start, then decoded a piece at a time.
// Plain C++, POSIX and libsndfile only, like the rest of the sound thread.
class SoundFile {
public:
    SoundFile() = default;
    ~SoundFile() { close(); }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // Opens `path`, ready to decode at most `longest` of it from its start. A file that cannot
    // be played is left closed, and the fault says why.
    Fault open(const std::string& path, std::chrono::seconds longest);
    void close();
    bool isOpen() const { return m_sound != nullptr; }
    // 16-bit samples, at the file's rate and channels.
    const pa_sample_spec& format() const { return m_format; }

    // Decodes up to `frames` frames into `into`, and returns how many. A file that fails, ends
    // early or cannot be decoded while it plays is a fault; what came before it is returned.
    sf_count_t read(short* into, sf_count_t frames, Fault& fault);
    // Whether this start has decoded all it may: the whole file, or the longest start.
    bool allRead() const { return m_left <= 0; }

private:
    int m_fd = -1;
    std::unique_ptr<WaveView> m_view;
    SNDFILE* m_sound = nullptr; // closed with the view
    pa_sample_spec m_format{};
    sf_count_t m_read = 0;
    sf_count_t m_left = 0;
};

} // namespace sound
