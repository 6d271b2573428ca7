#include "WaveView.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sound {

WaveView::WaveView(const WaveFormat& format, ReadAt readFile)
    : m_format(format), m_readFile(std::move(readFile)), m_header(canonicalWaveHeader(format)),
      m_length(static_cast<int64_t>(m_header.size()) + format.dataSize) {}

WaveView::~WaveView() {
    if (m_sound)
        sf_close(m_sound);
}

SF_VIRTUAL_IO WaveView::virtualIo() {
    return {&WaveView::length, &WaveView::seek, &WaveView::read, nullptr, &WaveView::tell};
}

SNDFILE* WaveView::open(SF_INFO& info, std::string& why) {
    SF_VIRTUAL_IO io = virtualIo();
    info = SF_INFO{};
    m_sound = sf_open_virtual(&io, SFM_READ, &info, this);
    if (!m_sound)
        why = sf_strerror(nullptr);
    else
        sf_command(m_sound, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    return m_sound;
}

sf_count_t WaveView::length(void* self) {
    return static_cast<WaveView*>(self)->m_length;
}

sf_count_t WaveView::tell(void* self) {
    return static_cast<WaveView*>(self)->m_position;
}

sf_count_t WaveView::seek(sf_count_t offset, int whence, void* self) {
    auto* view = static_cast<WaveView*>(self);
    const int64_t base = whence == SEEK_CUR   ? view->m_position
                         : whence == SEEK_END ? view->m_length
                                              : 0;
    if (offset < -base)
        return -1;
    view->m_position = base + offset;
    return view->m_position;
}

sf_count_t WaveView::read(void* into, sf_count_t count, void* self) {
    auto* view = static_cast<WaveView*>(self);
    auto* out = static_cast<char*>(into);
    const auto headerSize = static_cast<int64_t>(view->m_header.size());
    int64_t done = 0;
    if (view->m_position < headerSize && count > 0) {
        done = std::min<int64_t>(count, headerSize - view->m_position);
        std::memcpy(out, view->m_header.data() + view->m_position, static_cast<size_t>(done));
    }
    const int64_t at = view->m_position + done;
    const int64_t wanted = std::min<int64_t>(count - done, view->m_length - at);
    if (wanted > 0 && !view->failed()) {
        const int64_t fileAt = view->m_format.dataOffset + (at - headerSize);
        const int64_t got = view->m_readFile(fileAt, out + done, wanted);
        if (got < wanted) {
            view->m_errno = got < 0 ? errno : 0;
            view->m_failedAt = fileAt + std::max<int64_t>(got, 0);
        }
        done += std::max<int64_t>(got, 0);
    }
    view->m_position += done;
    return done;
}

} // namespace sound
