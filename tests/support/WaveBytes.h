#pragma once

// The bytes of WAVE files, built piece by piece, for tests that need a file of a given shape.

#include <QByteArray>
#include <QtEndian>

inline QByteArray u16(quint16 v) {
    QByteArray bytes(2, '\0');
    qToLittleEndian(v, bytes.data());
    return bytes;
}

inline QByteArray u32(quint32 v) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(v, bytes.data());
    return bytes;
}

inline QByteArray chunk(const char* name, const QByteArray& body, bool pad = true) {
    return QByteArray(name) + u32(quint32(body.size())) + body +
           QByteArray(pad ? body.size() % 2 : 0, '\0');
}

inline QByteArray fmt(quint16 tag, quint16 channels, quint32 rate, quint16 bits, quint16 block) {
    return u16(tag) + u16(channels) + u32(rate) + u32(rate * block) + u16(block) + u16(bits);
}

inline QByteArray format(quint16 tag, quint16 channels, quint32 rate, quint16 bits, quint16 block) {
    return chunk("fmt ", fmt(tag, channels, rate, bits, block));
}

inline QByteArray riff(const QByteArray& chunks) {
    return "RIFF" + u32(quint32(chunks.size() + 4)) + "WAVE" + chunks;
}
