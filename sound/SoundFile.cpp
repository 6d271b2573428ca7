#include "SoundFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>

namespace sound {
namespace {

std::string errnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

// Opens a regular file only, and never waits to do it: a FIFO without a writer would hold
// open() for good, a device could be endless. -1, with the fault, for anything else.
int openRegularFile(const std::string& path, int64_t& size, Fault& fault) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        fault = {error == ENOENT ? SoundProblem::NotFound : SoundProblem::NotReadable,
                 errnoText(error)};
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        fault.detail = errnoText(errno);
    else if (S_ISDIR(status.st_mode))
        fault.detail = "it is a folder";
    else if (S_ISFIFO(status.st_mode))
        fault.detail = "it is a FIFO";
    else if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        fault.detail = "it is a device";
    else if (S_ISSOCK(status.st_mode))
        fault.detail = "it is a socket";
    if (!fault.detail.empty()) {
        fault.problem = SoundProblem::NotReadable;
        ::close(fd);
        return -1;
    }
    size = status.st_size;
    return fd;
}

} // namespace

Fault SoundFile::open(const std::string& path, std::chrono::seconds longest) {
    close();
    Fault fault;
    int64_t size = 0;
    m_fd = openRegularFile(path, size, fault);
    if (m_fd < 0)
        return fault;
    const ReadAt readAt = [fd = m_fd](int64_t offset, char* into, int64_t length) {
        return readFromFile(fd, offset, into, length);
    };
    const WaveCheck check = checkWaveHeader(size, readAt);
    fault = {check.problem, check.detail};
    if (!fault) {
        m_view = std::make_unique<WaveView>(check.format, readAt);
        SF_INFO info{};
        std::string why;
        m_sound = m_view->open(info, why);
        if (m_sound && info.frames > 0 && info.channels == check.format.channels) {
            m_format = {PA_SAMPLE_S16NE, static_cast<uint32_t>(info.samplerate),
                        static_cast<uint8_t>(info.channels)};
            m_read = 0;
            m_left = std::min<sf_count_t>(info.frames, longest.count() * info.samplerate);
            return {};
        }
        fault = {SoundProblem::Corrupt, m_sound ? "no sound data" : why};
    }
    close();
    return fault;
}

void SoundFile::close() {
    m_view.reset();
    m_sound = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

sf_count_t SoundFile::read(short* into, sf_count_t frames, Fault& fault) {
    assert(isOpen() && !allRead());
    const sf_count_t got = sf_readf_short(m_sound, into, std::min(frames, m_left));
    if (m_view->failed())
        fault = {SoundProblem::NotReadable,
                 m_view->failedErrno() != 0
                     ? errnoText(m_view->failedErrno())
                     : "it ended at byte " + std::to_string(m_view->failedAt()) + " while playing"};
    else if (got <= 0)
        fault = {SoundProblem::Corrupt,
                 "the sound cannot be decoded past frame " + std::to_string(m_read)};
    if (got <= 0)
        return 0;
    m_read += got;
    m_left -= got;
    return got;
}

} // namespace sound
