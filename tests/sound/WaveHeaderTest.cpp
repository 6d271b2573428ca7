#include <WaveHeader.h>

#include <QBuffer>
#include <QTest>
#include <QtEndian>

namespace {

QByteArray u16(quint16 v) {
    QByteArray bytes(2, '\0');
    qToLittleEndian(v, bytes.data());
    return bytes;
}

QByteArray u32(quint32 v) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(v, bytes.data());
    return bytes;
}

QByteArray chunk(const char* name, const QByteArray& body) {
    return QByteArray(name) + u32(quint32(body.size())) + body + QByteArray(body.size() % 2, '\0');
}

QByteArray fmt(quint16 tag, quint16 channels, quint32 rate, quint16 bits, quint16 block) {
    return u16(tag) + u16(channels) + u32(rate) + u32(rate * block) + u16(block) + u16(bits);
}

QByteArray pcm16Format() {
    return chunk("fmt ", fmt(1, 2, 44100, 16, 4));
}

QByteArray riff(const QByteArray& chunks) {
    return "RIFF" + u32(quint32(chunks.size() + 4)) + "WAVE" + chunks;
}

// WAVE_FORMAT_EXTENSIBLE with the given sub-format tag and a fmt chunk of `size` bytes.
QByteArray extensible(quint16 subFormat, int size = 40) {
    QByteArray body = fmt(0xFFFE, 2, 48000, 32, 8) + u16(22) + u16(32) + u32(3) + u16(subFormat) +
                      QByteArray(14, '\x10');
    return chunk("fmt ", body.left(size));
}

sound::WaveCheck check(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return sound::checkWaveHeader(buffer);
}

} // namespace

Q_DECLARE_METATYPE(sound::SoundProblem)

// The header check stands between a file's claims and the decoder: every size is held against
// the real file, and every refusal says what it refused.
class WaveHeaderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refusesWhatItCannotTrust_data() {
        using sound::SoundProblem;
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<SoundProblem>("problem");
        QTest::addColumn<QString>("detail");
        const QByteArray data = chunk("data", QByteArray(400, '\1'));

        QTest::newRow("RIFF but not WAVE")
            << QByteArray("RIFF" + u32(4) + "AVI ") << SoundProblem::NotWave << QString();
        QTest::newRow("shorter than a RIFF header")
            << QByteArray("RIFF") << SoundProblem::NotWave << QString();
        QTest::newRow("RIFF size past the end")
            << QByteArray("RIFF" + u32(1000) + "WAVE" + pcm16Format()) << SoundProblem::Corrupt
            << QStringLiteral("the header claims 1008 bytes, the file has 36");
        QTest::newRow("chunk header cut off") << riff(pcm16Format() + "da") << SoundProblem::Corrupt
                                              << QStringLiteral("no data chunk");
        QTest::newRow("unprintable chunk name past the end")
            << riff(pcm16Format() + QByteArray("d\x01t\xff") + u32(8)) << SoundProblem::Corrupt
            << QStringLiteral("the 'd?t?' chunk claims 8 bytes, 0 follow");
        QTest::newRow("format chunk of 14 bytes")
            << riff(chunk("fmt ", fmt(1, 2, 44100, 16, 4).left(14)) + data) << SoundProblem::Corrupt
            << QStringLiteral("a format chunk of 14 bytes");
        QTest::newRow("no format chunk") << riff(chunk("LIST", "abcd")) << SoundProblem::Corrupt
                                         << QStringLiteral("no format chunk");
        QTest::newRow("sample rate of 0")
            << riff(chunk("fmt ", fmt(1, 1, 0, 16, 2)) + data) << SoundProblem::Corrupt
            << QStringLiteral("a sample rate of 0 Hz");
        QTest::newRow("sample rate of 4 GHz")
            << riff(chunk("fmt ", fmt(1, 1, 0xFFFFFFFF, 16, 2)) + data) << SoundProblem::Corrupt
            << QStringLiteral("a sample rate of 4294967295 Hz");
        QTest::newRow("100 channels") << riff(chunk("fmt ", fmt(1, 100, 8000, 8, 100)) + data)
                                      << SoundProblem::Corrupt << QStringLiteral("100 channels");
        QTest::newRow("A-law of 16 bits")
            << riff(chunk("fmt ", fmt(6, 1, 8000, 16, 2)) + data) << SoundProblem::Corrupt
            << QStringLiteral("A-law with 16 bits a sample");
        QTest::newRow("ADPCM blocks too small for their headers")
            << riff(chunk("fmt ", fmt(0x11, 2, 8000, 4, 4)) + data) << SoundProblem::Corrupt
            << QStringLiteral("ADPCM blocks of 4 bytes");
        QTest::newRow("extensible chunk cut short")
            << riff(extensible(1, 30) + data) << SoundProblem::Corrupt
            << QStringLiteral("an extensible format chunk of 30 bytes");
        QTest::newRow("extensible MP3")
            << riff(extensible(0x55) + data) << SoundProblem::UnplayableEncoding
            << QStringLiteral("MP3");
        QTest::newRow("16-bit float")
            << riff(chunk("fmt ", fmt(3, 1, 8000, 16, 2)) + data)
            << SoundProblem::UnplayableEncoding << QStringLiteral("16-bit float");
        QTest::newRow("3-bit IMA ADPCM")
            << riff(chunk("fmt ", fmt(0x11, 1, 8000, 3, 256)) + data)
            << SoundProblem::UnplayableEncoding << QStringLiteral("3-bit IMA ADPCM");
        QTest::newRow("a tag nobody knows")
            << riff(chunk("fmt ", fmt(0x1234, 1, 8000, 8, 1)) + data)
            << SoundProblem::UnplayableEncoding << QStringLiteral("unknown (format tag 0x1234)");
    }

    void refusesWhatItCannotTrust() {
        QFETCH(QByteArray, file);
        QFETCH(sound::SoundProblem, problem);
        QFETCH(QString, detail);
        const sound::WaveCheck result = check(file);
        QCOMPARE(result.problem, problem);
        QCOMPARE(result.detail, detail);
    }

    // Chunks of odd size are padded, chunks the game does not know are stepped over, a
    // missing pad byte at the very end is forgiven, and bytes after the RIFF body are ignored.
    void findsTheSoundPastOtherChunks() {
        const QByteArray body = chunk("LIST", "odd") + extensible(3) + chunk("fact", u32(50)) +
                                chunk("data", QByteArray(400, '\2'));
        QByteArray file = riff(body) + "trailing junk";
        sound::WaveCheck result = check(file);
        QCOMPARE(result.problem, sound::SoundProblem::None);
        QCOMPARE(result.format.encoding, quint16(3));
        QCOMPARE(result.format.channels, 2);
        QCOMPARE(result.format.sampleRate, 48000);
        QCOMPARE(result.format.bitsPerSample, 32);
        QCOMPARE(result.format.dataSize, qint64(400));
        QCOMPARE(result.format.dataOffset, qint64(12 + 12 + 48 + 12 + 8));

        const QByteArray odd = riff(pcm16Format() + chunk("data", QByteArray(5, '\3')));
        QCOMPARE(check(odd.chopped(1)).problem, sound::SoundProblem::None);
        QCOMPARE(check(odd.chopped(2)).problem, sound::SoundProblem::Corrupt);
    }
};

QTEST_GUILESS_MAIN(WaveHeaderTest)
#include "WaveHeaderTest.moc"
