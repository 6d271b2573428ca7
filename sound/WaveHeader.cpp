#include "WaveHeader.h"

#include <QtEndian>

namespace sound {
namespace {

constexpr quint16 kPcm = 0x0001;
constexpr quint16 kMsAdpcm = 0x0002;
constexpr quint16 kFloat = 0x0003;
constexpr quint16 kALaw = 0x0006;
constexpr quint16 kMuLaw = 0x0007;
constexpr quint16 kImaAdpcm = 0x0011;
constexpr quint16 kExtensible = 0xFFFE;
// More channels than a sound server mixes (PulseAudio's limit) means a broken header.
constexpr int kMaxChannels = 32;
constexpr int kMaxSampleRate = 384000;

quint16 u16(const QByteArray& bytes, int at) {
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 u32(const QByteArray& bytes, int at) {
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

WaveCheck corrupt(const QString& what) {
    return {SoundProblem::Corrupt, what, {}};
}

WaveCheck unplayable(const QString& encoding) {
    return {SoundProblem::UnplayableEncoding, encoding, {}};
}

// A chunk name as it can be shown in one line.
QString printable(QByteArray id) {
    for (char& c : id)
        if (c < 0x20 || c > 0x7E)
            c = '?';
    return QString::fromLatin1(id);
}

QByteArray readAt(QIODevice& file, qint64 offset, qint64 length) {
    if (!file.seek(offset))
        return {};
    return file.read(length);
}

// The sample layouts each decodable encoding allows; anything else is refused by name.
WaveCheck checkEncoding(const WaveFormat& f) {
    const int frameBytes = f.channels * f.bitsPerSample / 8;
    switch (f.encoding) {
    case kPcm:
        if (f.bitsPerSample != 8 && f.bitsPerSample != 16 && f.bitsPerSample != 24 &&
            f.bitsPerSample != 32)
            return unplayable(QStringLiteral("%1-bit PCM").arg(f.bitsPerSample));
        break;
    case kFloat:
        if (f.bitsPerSample != 32 && f.bitsPerSample != 64)
            return unplayable(QStringLiteral("%1-bit float").arg(f.bitsPerSample));
        break;
    case kALaw:
    case kMuLaw:
        if (f.bitsPerSample != 8)
            return corrupt(QStringLiteral("%1 with %2 bits a sample")
                               .arg(waveEncodingName(f.encoding))
                               .arg(f.bitsPerSample));
        break;
    case kImaAdpcm:
    case kMsAdpcm:
        if (f.bitsPerSample != 4)
            return unplayable(
                QStringLiteral("%1-bit %2").arg(f.bitsPerSample).arg(waveEncodingName(f.encoding)));
        if (f.blockAlign < 4 * f.channels)
            return corrupt(QStringLiteral("ADPCM blocks of %1 bytes").arg(f.blockAlign));
        return {};
    default:
        return unplayable(waveEncodingName(f.encoding));
    }
    if (f.blockAlign != frameBytes)
        return corrupt(QStringLiteral("frames of %1 bytes for %2 channels of %3 bits")
                           .arg(f.blockAlign)
                           .arg(f.channels)
                           .arg(f.bitsPerSample));
    return {};
}

WaveCheck readFormat(const QByteArray& chunk, WaveFormat& f) {
    if (chunk.size() < 16)
        return corrupt(QStringLiteral("a format chunk of %1 bytes").arg(chunk.size()));
    f.encoding = u16(chunk, 0);
    f.channels = u16(chunk, 2);
    f.sampleRate = static_cast<int>(qMin<quint32>(u32(chunk, 4), 0x7FFFFFFF));
    f.blockAlign = u16(chunk, 12);
    f.bitsPerSample = u16(chunk, 14);
    if (f.encoding == kExtensible) {
        if (chunk.size() < 40)
            return corrupt(
                QStringLiteral("an extensible format chunk of %1 bytes").arg(chunk.size()));
        f.encoding = u16(chunk, 24);
    }
    if (f.channels == 0 || f.channels > kMaxChannels)
        return corrupt(QStringLiteral("%1 channels").arg(f.channels));
    if (f.sampleRate < 1 || f.sampleRate > kMaxSampleRate)
        return corrupt(QStringLiteral("a sample rate of %1 Hz").arg(u32(chunk, 4)));
    return checkEncoding(f);
}

} // namespace

QString waveEncodingName(quint16 tag) {
    struct Named {
        quint16 tag;
        const char* name;
    };
    static constexpr Named kNames[] = {
        {kPcm, "PCM"},
        {kMsAdpcm, "Microsoft ADPCM"},
        {kFloat, "float"},
        {kALaw, "A-law"},
        {kMuLaw, "µ-law"},
        {kImaAdpcm, "IMA ADPCM"},
        {0x0022, "TrueSpeech"},
        {0x0031, "GSM 6.10"},
        {0x0040, "G.721 ADPCM"},
        {0x0050, "MPEG"},
        {0x0055, "MP3"},
        {0x00FF, "AAC"},
        {0x1610, "AAC"},
        {0x0161, "Windows Media Audio"},
        {0x0162, "Windows Media Audio"},
        {0x0163, "Windows Media Audio"},
        {0x2000, "AC-3"},
        {0xF1AC, "FLAC"},
    };
    for (const Named& named : kNames)
        if (named.tag == tag)
            return QString::fromUtf8(named.name);
    return QStringLiteral("unknown (format tag 0x%1)").arg(tag, 4, 16, QLatin1Char('0'));
}

WaveCheck checkWaveHeader(QIODevice& file) {
    const qint64 fileSize = file.size();
    const QByteArray riff = readAt(file, 0, 12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        return {SoundProblem::NotWave, {}, {}};
    // A missing pad byte after an odd last chunk is common and harmless.
    const qint64 riffEnd = qint64(u32(riff, 4)) + 8;
    if (riffEnd > fileSize + 1)
        return corrupt(QStringLiteral("the header claims %1 bytes, the file has %2")
                           .arg(riffEnd)
                           .arg(fileSize));
    const qint64 end = qMin(riffEnd, fileSize);

    WaveFormat format;
    bool haveFormat = false;
    for (qint64 at = 12; at + 8 <= end;) {
        const QByteArray head = readAt(file, at, 8);
        if (head.size() < 8)
            return corrupt(QStringLiteral("the file cannot be read past byte %1").arg(at));
        const QByteArray id = head.left(4);
        const qint64 size = u32(head, 4);
        const qint64 body = at + 8;
        if (body + size > end)
            return corrupt(QStringLiteral("the '%1' chunk claims %2 bytes, %3 follow")
                               .arg(printable(id))
                               .arg(size)
                               .arg(end - body));
        if (id == "fmt " && !haveFormat) {
            // The format chunk is small; anything past its first 40 bytes is not needed.
            const WaveCheck checked =
                readFormat(readAt(file, body, qMin<qint64>(size, 40)), format);
            if (checked.problem != SoundProblem::None)
                return checked;
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return corrupt(QStringLiteral("the sound data comes before its format"));
            if (size == 0)
                return corrupt(QStringLiteral("no sound data"));
            format.dataOffset = body;
            format.dataSize = size;
            return {SoundProblem::None, {}, format};
        }
        at = body + size + (size & 1);
    }
    return corrupt(haveFormat ? QStringLiteral("no data chunk")
                              : QStringLiteral("no format chunk"));
}

} // namespace sound
