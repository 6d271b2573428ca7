// Feeds arbitrary files to the sound file check and, where it accepts one, lets the decoder
// open and read the view the player would give it. What must hold: nothing crashes or hangs,
// and what the check accepts the decoder opens in the layout the check found.
#include <WaveView.h>

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const sound::WaveCheck checked = sound::checkWaveHeader(file);
    if (checked.problem != sound::SoundProblem::None) {
        // Every refusal but "not a WAVE file" says what it refused.
        if (checked.problem != sound::SoundProblem::NotWave && checked.detail.empty())
            std::abort();
        return 0;
    }
    sound::WaveView view(checked.format, [file](int64_t at, char* into, int64_t length) {
        return sound::readFromMemory(file, at, into, length);
    });
    SF_INFO info;
    std::string why;
    SNDFILE* sound = view.open(info, why);
    if (!sound || info.channels != checked.format.channels ||
        info.samplerate != checked.format.sampleRate || view.failed())
        std::abort();
    sf_command(sound, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    std::vector<short> samples(1024 * size_t(info.channels));
    while (sf_readf_short(sound, samples.data(), 1024) > 0) {
    }
    return 0;
}
