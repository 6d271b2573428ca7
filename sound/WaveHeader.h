#pragma once

#include "SoundProblem.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Plain C++ only: the sound thread runs this, and it may outlive Qt (see StreamPlayer.cpp).
namespace sound {

// What the header of a WAVE file says about its sound.
struct WaveFormat {
    uint16_t encoding = 0; // the format tag, WAVE_FORMAT_EXTENSIBLE resolved to its sub-format
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int blockAlign = 0;
    int64_t dataOffset = 0;
    int64_t dataSize = 0;
};

struct WaveCheck {
    SoundProblem problem = SoundProblem::None;
    std::string detail; // what is wrong, for Corrupt; the encoding's name, for UnplayableEncoding
    WaveFormat format;
};

// Reads up to `length` bytes at `offset` of a file into `into`: how many it read (fewer only at
// the file's end), or -1 with errno set when the file cannot be read.
using ReadAt = std::function<int64_t(int64_t offset, char* into, int64_t length)>;

// Checks a WAVE file's chunks and format before any decoder sees them: every size in the
// header against the file's real size, and the encoding against those the game decodes
// (PCM of 8, 16, 24 and 32 bits, 32- and 64-bit float, A-law, µ-law, IMA and Microsoft ADPCM).
// Reads only chunk headers and the format chunk, never the sound, and at most kMaxChunks of
// them.
WaveCheck checkWaveHeader(int64_t fileSize, const ReadAt& readAt);
WaveCheck checkWaveHeader(std::string_view file);

// A file with more chunks than this before its sound is refused rather than walked.
constexpr int kMaxChunks = 1024;

// The header the decoder is shown in place of the file's own: a RIFF header, a format chunk
// written from `format` alone and the head of a data chunk of format.dataSize bytes, which the
// file's checked data region follows.
std::string canonicalWaveHeader(const WaveFormat& format);

// The usual name of a WAVE format tag, or its number.
std::string waveEncodingName(uint16_t tag);

// Reads the file `length` bytes at `offset` of `bytes`, as a ReadAt over memory.
int64_t readFromMemory(std::string_view bytes, int64_t offset, char* into, int64_t length);

// Reads `length` bytes at `offset` of the open file `fd`, as a ReadAt over a real file: short
// reads are taken up, an interrupted one is retried, the file's end gives a short count.
int64_t readFromFile(int fd, int64_t offset, char* into, int64_t length);

} // namespace sound
