#pragma once

#include "SoundFile.h"

#include <pulse/error.h>
#include <pulse/stream.h>

namespace sound {

// Decodes `bytes` of the file, as the server asks for them, straight into the stream's buffer:
// only what the server asks for is in memory. Whether the start goes on: false once all of it
// is fed, or once a fault, left in `fault`, ended it.
inline bool feedStream(pa_stream* stream, size_t bytes, SoundFile& file, Fault& fault) {
    const auto serverTookNone = [stream] {
        return Fault{SoundProblem::PlaybackFailed,
                     std::string("the sound server took no sound: ") +
                         pa_strerror(pa_context_errno(pa_stream_get_context(stream)))};
    };
    const size_t frameBytes = pa_frame_size(&file.format());
    while (bytes >= frameBytes && !file.allRead()) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || !data) {
            fault = serverTookNone();
            return false;
        }
        const sf_count_t got =
            file.read(static_cast<short*>(data), static_cast<sf_count_t>(size / frameBytes), fault);
        const size_t written = static_cast<size_t>(got) * frameBytes;
        if (got == 0)
            pa_stream_cancel_write(stream);
        else if (pa_stream_write(stream, data, written, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            fault = serverTookNone();
        if (fault)
            return false;
        bytes -= std::min(bytes, written);
    }
    return !file.allRead();
}

} // namespace sound
