#include "WaveHeader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sound {
namespace {

constexpr uint16_t kPcm = 0x0001;
constexpr uint16_t kMsAdpcm = 0x0002;
constexpr uint16_t kFloat = 0x0003;
constexpr uint16_t kALaw = 0x0006;
constexpr uint16_t kMuLaw = 0x0007;
constexpr uint16_t kImaAdpcm = 0x0011;
constexpr uint16_t kExtensible = 0xFFFE;
// More channels than a sound server mixes (PulseAudio's limit) means a broken header.
constexpr int kMaxChannels = 32;
constexpr int kMaxSampleRate = 384000;
// An extensible format chunk is 40 bytes; nothing past them is needed.
constexpr int kFormatBytes = 40;
// Microsoft ADPCM's fixed predictor pairs, which every file carries and every decoder assumes.
constexpr int16_t kMsAdpcmCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                {240, 0}, {460, -208}, {392, -232}};

uint16_t u16(const char* at) {
    const auto* b = reinterpret_cast<const unsigned char*>(at);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint32_t u32(const char* at) {
    const auto* b = reinterpret_cast<const unsigned char*>(at);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8 & 0xFF);
}

void put32(std::string& out, uint64_t value) {
    put16(out, static_cast<unsigned>(value & 0xFFFF));
    put16(out, static_cast<unsigned>(value >> 16 & 0xFFFF));
}

std::string n(int64_t value) {
    return std::to_string(value);
}

WaveCheck corrupt(std::string what) {
    return {SoundProblem::Corrupt, std::move(what), {}};
}

WaveCheck unplayable(std::string encoding) {
    return {SoundProblem::UnplayableEncoding, std::move(encoding), {}};
}

bool isPrintableId(const char* id) {
    return std::all_of(id, id + 4, [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// A chunk name as it can be shown in one line.
std::string printable(const char* id) {
    std::string name(id, 4);
    for (char& c : name)
        if (c < 0x20 || c > 0x7E)
            c = '?';
    return name;
}

int imaSamplesPerBlock(const WaveFormat& f) {
    return (f.blockAlign - 4 * f.channels) * 2 / f.channels + 1;
}

int msSamplesPerBlock(const WaveFormat& f) {
    return (f.blockAlign - 7 * f.channels) * 2 / f.channels + 2;
}

// The sample layouts each decodable encoding allows; anything else is refused by name.
WaveCheck checkEncoding(const WaveFormat& f) {
    const int frameBytes = f.channels * f.bitsPerSample / 8;
    switch (f.encoding) {
    case kPcm:
        if (f.bitsPerSample != 8 && f.bitsPerSample != 16 && f.bitsPerSample != 24 &&
            f.bitsPerSample != 32)
            return unplayable(n(f.bitsPerSample) + "-bit PCM");
        break;
    case kFloat:
        if (f.bitsPerSample != 32 && f.bitsPerSample != 64)
            return unplayable(n(f.bitsPerSample) + "-bit float");
        break;
    case kALaw:
    case kMuLaw:
        if (f.bitsPerSample != 8)
            return corrupt(waveEncodingName(f.encoding) + " with " + n(f.bitsPerSample) +
                           " bits a sample");
        break;
    case kImaAdpcm:
    case kMsAdpcm: {
        if (f.bitsPerSample != 4)
            return unplayable(n(f.bitsPerSample) + "-bit " + waveEncodingName(f.encoding));
        // The decoder knows ADPCM of one or two channels only.
        if (f.channels > 2)
            return unplayable(n(f.channels) + "-channel " + waveEncodingName(f.encoding));
        // Each block opens with a header per channel (IMA: 4 bytes; Microsoft: 7), and IMA
        // interleaves its channels in words of 4 bytes.
        const bool ima = f.encoding == kImaAdpcm;
        const int headers = (ima ? 4 : 7) * f.channels;
        const int rest = f.blockAlign - headers;
        // The format chunk counts a block's samples in 16 bits, and the decoder wants a
        // Microsoft block to hold at least 7 samples a channel.
        const int samples = ima ? imaSamplesPerBlock(f) : msSamplesPerBlock(f);
        if (rest <= 0 || (ima ? rest % headers : rest * 2 % f.channels) != 0 || samples > 0xFFFF ||
            (!ima && samples < 7 * f.channels))
            return corrupt("ADPCM blocks of " + n(f.blockAlign) + " bytes for " + n(f.channels) +
                           " channels");
        return {};
    }
    default:
        return unplayable(waveEncodingName(f.encoding));
    }
    if (f.blockAlign != frameBytes)
        return corrupt("frames of " + n(f.blockAlign) + " bytes for " + n(f.channels) +
                       " channels of " + n(f.bitsPerSample) + " bits");
    return {};
}

WaveCheck readFormat(const char* chunk, int64_t size, WaveFormat& f) {
    if (size < 16)
        return corrupt("a format chunk of " + n(size) + " bytes");
    f.encoding = u16(chunk);
    f.channels = u16(chunk + 2);
    const uint32_t rate = u32(chunk + 4);
    f.sampleRate = static_cast<int>(std::min<uint32_t>(rate, 0x7FFFFFFF));
    f.blockAlign = u16(chunk + 12);
    f.bitsPerSample = u16(chunk + 14);
    if (f.encoding == kExtensible) {
        if (size < kFormatBytes)
            return corrupt("an extensible format chunk of " + n(size) + " bytes");
        f.encoding = u16(chunk + 24);
    }
    if (f.channels == 0 || f.channels > kMaxChannels)
        return corrupt(n(f.channels) + " channels");
    if (f.sampleRate < 1 || f.sampleRate > kMaxSampleRate)
        return corrupt("a sample rate of " + n(rate) + " Hz");
    return checkEncoding(f);
}

// Where the chunk after one of `size` bytes at `body` starts. Odd chunks are padded to an even
// length, but some writers leave the pad byte out; where the next chunk's name shows up a byte
// early and not where the pad would put it, it is taken from there.
int64_t nextChunk(int64_t body, int64_t size, int64_t end, const ReadAt& readAt) {
    const int64_t unpadded = body + size;
    if ((size & 1) == 0)
        return unpadded;
    char ids[5];
    if (unpadded + 5 <= end && readAt(unpadded, ids, 5) == 5) {
        const bool known = std::memcmp(ids, "data", 4) == 0 || std::memcmp(ids, "fmt ", 4) == 0;
        if (known || (isPrintableId(ids) && !isPrintableId(ids + 1)))
            return unpadded;
    }
    return unpadded + 1;
}

} // namespace

std::string waveEncodingName(uint16_t tag) {
    struct Named {
        uint16_t tag;
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
            return named.name;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (int shift = 12; shift >= 0; shift -= 4)
        hex += kHex[tag >> shift & 0xF];
    return "unknown (format tag 0x" + hex + ")";
}

WaveCheck checkWaveHeader(int64_t fileSize, const ReadAt& readAt) {
    char riff[12];
    if (fileSize < 12 || readAt(0, riff, 12) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return {SoundProblem::NotWave, {}, {}};
    // A missing pad byte after an odd last chunk is common and harmless.
    const int64_t riffEnd = int64_t(u32(riff + 4)) + 8;
    if (riffEnd > fileSize + 1)
        return corrupt("the header claims " + n(riffEnd) + " bytes, the file has " + n(fileSize));
    const int64_t end = std::min(riffEnd, fileSize);

    WaveFormat format;
    bool haveFormat = false;
    int64_t at = 12;
    for (int chunks = 0; at + 8 <= end; ++chunks) {
        if (chunks == kMaxChunks)
            return corrupt("no sound in its first " + n(kMaxChunks) + " chunks");
        char head[8];
        if (readAt(at, head, 8) != 8)
            return corrupt("the file cannot be read past byte " + n(at));
        const int64_t size = u32(head + 4);
        const int64_t body = at + 8;
        if (body + size > end)
            return corrupt("the '" + printable(head) + "' chunk claims " + n(size) + " bytes, " +
                           n(end - body) + " follow");
        if (std::memcmp(head, "fmt ", 4) == 0 && !haveFormat) {
            char chunk[kFormatBytes];
            const int64_t length = std::min<int64_t>(size, kFormatBytes);
            if (readAt(body, chunk, length) != length)
                return corrupt("the file cannot be read past byte " + n(body));
            WaveCheck checked = readFormat(chunk, size, format);
            if (checked.problem != SoundProblem::None)
                return checked;
            haveFormat = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat)
                return corrupt("the sound data comes before its format");
            if (size == 0)
                return corrupt("no sound data");
            format.dataOffset = body;
            format.dataSize = size;
            return {SoundProblem::None, {}, format};
        }
        at = nextChunk(body, size, end, readAt);
    }
    return corrupt(haveFormat ? "no data chunk" : "no format chunk");
}

int64_t readFromMemory(std::string_view bytes, int64_t offset, char* into, int64_t length) {
    const auto size = static_cast<int64_t>(bytes.size());
    if (offset < 0 || offset >= size)
        return 0;
    const int64_t count = std::min(length, size - offset);
    std::memcpy(into, bytes.data() + offset, static_cast<size_t>(count));
    return count;
}

int64_t readFromFile(int fd, int64_t offset, char* into, int64_t length) {
    int64_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, into + done, static_cast<size_t>(length - done),
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

WaveCheck checkWaveHeader(std::string_view file) {
    return checkWaveHeader(static_cast<int64_t>(file.size()),
                           [file](int64_t offset, char* into, int64_t length) {
                               return readFromMemory(file, offset, into, length);
                           });
}

std::string canonicalWaveHeader(const WaveFormat& f) {
    // The decoders want the ADPCM block layout spelled out; it follows from the block size.
    const bool ima = f.encoding == kImaAdpcm;
    const bool ms = f.encoding == kMsAdpcm;
    const int samplesPerBlock = ima ? imaSamplesPerBlock(f) : ms ? msSamplesPerBlock(f) : 1;
    const uint64_t bytesPerSecond =
        (uint64_t(f.sampleRate) * uint64_t(f.blockAlign) + uint64_t(samplesPerBlock) / 2) /
        uint64_t(samplesPerBlock);
    std::string format;
    put16(format, f.encoding);
    put16(format, static_cast<unsigned>(f.channels));
    put32(format, static_cast<uint64_t>(f.sampleRate));
    put32(format, bytesPerSecond);
    put16(format, static_cast<unsigned>(f.blockAlign));
    put16(format, static_cast<unsigned>(f.bitsPerSample));
    if (ima) {
        put16(format, 2);
        put16(format, static_cast<unsigned>(samplesPerBlock));
    } else if (ms) {
        put16(format, 4 + 4 * 7);
        put16(format, static_cast<unsigned>(samplesPerBlock));
        put16(format, 7);
        for (const auto& pair : kMsAdpcmCoefficients) {
            put16(format, static_cast<uint16_t>(pair[0]));
            put16(format, static_cast<uint16_t>(pair[1]));
        }
    }
    std::string header = "RIFF";
    // A data region close to 4 GiB cannot be described exactly; the decoder is told the most.
    const uint64_t riffSize = 4 + 8 + format.size() + 8 + uint64_t(f.dataSize);
    put32(header, std::min<uint64_t>(riffSize, 0xFFFFFFFF));
    header += "WAVEfmt ";
    put32(header, format.size());
    header += format;
    header += "data";
    put32(header, static_cast<uint64_t>(f.dataSize));
    return header;
}

} // namespace sound
