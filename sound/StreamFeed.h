#pragma once

#include "SoundFile.h"

#include <pulse/stream.h>

namespace sound {

// Decodes `bytes` of the file, as the server asks for them, straight into the stream's buffer:
// only what the server asks for is in memory. Whether the start goes on: false once all of it
// is fed, or once a fault, left in `fault`, ended it.
bool feedStream(pa_stream* stream, size_t bytes, SoundFile& file, Fault& fault);

} // namespace sound
