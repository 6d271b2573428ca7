// Feeds arbitrary files to the sound file check and, where it accepts one, lets the decoder
// open and read the view the player would give it. What must hold: nothing crashes or hangs,
// and what the check accepts the decoder opens in the layout the check found.
#include <WaveView.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

// The most work one input may cost, counted in this thread's CPU time rather than on the wall
// clock: the fuzzer shares the machine with the other tests, and a stall there once made a
// 20 µs input outlast a wall-clock second. An input that never returns is left to the
// fuzzer's own timeout.
constexpr double kCpuBudgetSeconds = 1.0;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void checkOne(const uint8_t* data, size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const sound::WaveCheck checked = sound::checkWaveHeader(file);
    if (checked.problem != sound::SoundProblem::None) {
        // Every refusal but "not a WAVE file" says what it refused.
        if (checked.problem != sound::SoundProblem::NotWave && checked.detail.empty())
            std::abort();
        return;
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
    std::vector<short> samples(1024 * size_t(info.channels));
    while (sf_readf_short(sound, samples.data(), 1024) > 0) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const double began = threadCpuSeconds();
    checkOne(data, size);
    const double spent = threadCpuSeconds() - began;
    if (spent > kCpuBudgetSeconds) {
        std::fprintf(stderr, "one input took %.3f s of CPU\n", spent);
        std::abort();
    }
    return 0;
}
