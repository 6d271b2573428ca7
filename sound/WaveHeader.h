#pragma once

#include "SoundProblem.h"

#include <QIODevice>
#include <QString>

namespace sound {

// What the header of a WAVE file says about its sound.
struct WaveFormat {
    quint16 encoding = 0; // the format tag, WAVE_FORMAT_EXTENSIBLE resolved to its sub-format
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int blockAlign = 0;
    qint64 dataOffset = 0;
    qint64 dataSize = 0;
};

struct WaveCheck {
    SoundProblem problem = SoundProblem::None;
    QString detail; // what is wrong, for Corrupt; the encoding's name, for UnplayableEncoding
    WaveFormat format;
};

// Checks a WAVE file's chunks and format before any decoder trusts them: every size in the
// header against the file's real size, and the encoding against those the game decodes
// (PCM of 8, 16, 24 and 32 bits, 32- and 64-bit float, A-law, µ-law, IMA and Microsoft ADPCM).
// Reads only the header chunks, never the sound.
WaveCheck checkWaveHeader(QIODevice& file);

// The usual name of a WAVE format tag, or its number.
QString waveEncodingName(quint16 tag);

} // namespace sound
