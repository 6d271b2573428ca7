#pragma once

#include "WaveHeader.h"

#include <sndfile.h>

#include <string>

namespace sound {

// What the decoder is allowed to read of a checked WAVE file: the game's own header for its
// checked format, then the checked data region read from the file, and nothing else. Plain
// C++ and libsndfile only, like the rest of the sound thread.
class WaveView {
public:
    // `readFile` reads the real file; only the data region is ever asked of it.
    WaveView(const WaveFormat& format, ReadAt readFile);
    ~WaveView();
    WaveView(const WaveView&) = delete;
    WaveView& operator=(const WaveView&) = delete;

    // Opens the decoder over the view, reading float samples scaled to the 16-bit range (unscaled,
    // -1..1 would read as silence): null, with the decoder's reason in `why`, if it refuses.
    SNDFILE* open(SF_INFO& info, std::string& why);

    // Set once reading the file failed: errno (0 when the file simply ended early) and the
    // byte of the file that could not be read. The view reads nothing more after that.
    bool failed() const { return m_failedAt >= 0; }
    int failedErrno() const { return m_errno; }
    int64_t failedAt() const { return m_failedAt; }

    // The calls the decoder reads the view through, each taking the view as `self`.
    static SF_VIRTUAL_IO virtualIo();

private:
    static sf_count_t length(void* self);
    static sf_count_t seek(sf_count_t offset, int whence, void* self);
    static sf_count_t read(void* into, sf_count_t count, void* self);
    static sf_count_t tell(void* self);

    WaveFormat m_format;
    ReadAt m_readFile;
    std::string m_header;
    int64_t m_length;
    int64_t m_position = 0;
    int64_t m_failedAt = -1;
    int m_errno = 0;
    SNDFILE* m_sound = nullptr;
};

} // namespace sound
