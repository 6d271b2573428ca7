#include <WaveView.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "WaveBytes.h"

#include <cerrno>
#include <cmath>

namespace {

// WAVE_FORMAT_EXTENSIBLE with the given sub-format tag and a fmt chunk of `size` bytes.
QByteArray extensible(quint16 subFormat, int size = 40) {
    QByteArray body = fmt(0xFFFE, 2, 48000, 32, 8) + u16(22) + u16(32) + u32(3) + u16(subFormat) +
                      QByteArray(14, '\x10');
    return chunk("fmt ", body.left(size));
}

QByteArray empties(int count) {
    QByteArray chunks;
    for (int i = 0; i < count; ++i)
        chunks += chunk("junk", {});
    return chunks;
}

std::string_view view(const QByteArray& bytes) {
    return {bytes.constData(), size_t(bytes.size())};
}

// What the check made of a file, in one line: the format and where its sound lies, or the
// refusal's detail.
QString verdict(const sound::WaveCheck& c) {
    if (c.problem != sound::SoundProblem::None)
        return QString::fromStdString(c.detail);
    const sound::WaveFormat& f = c.format;
    return QStringLiteral("tag %1, %2 ch, %3 Hz, %4 bits, block %5, data %6+%7")
        .arg(f.encoding)
        .arg(f.channels)
        .arg(f.sampleRate)
        .arg(f.bitsPerSample)
        .arg(f.blockAlign)
        .arg(f.dataOffset)
        .arg(f.dataSize);
}

struct Decoded {
    QString why; // the decoder's refusal, if any
    sf_count_t frames = 0;
    sf_count_t promised = 0; // what the decoder said the file holds
    double rms = 0;
};

// Decodes what the check accepted through the view the player gives the decoder.
Decoded decode(const QByteArray& file, const sound::WaveFormat& format) {
    sound::WaveView wave(format, [file](int64_t at, char* into, int64_t length) {
        return sound::readFromMemory(view(file), at, into, length);
    });
    SF_INFO info;
    std::string why;
    SNDFILE* sound = wave.open(info, why);
    Decoded decoded{QString::fromStdString(why), 0, info.frames};
    if (!sound)
        return decoded;
    std::vector<short> samples(4096 * size_t(info.channels));
    double sum = 0;
    sf_count_t got;
    while ((got = sf_readf_short(sound, samples.data(), 4096)) > 0) {
        for (sf_count_t i = 0; i < got * info.channels; ++i)
            sum += double(samples[size_t(i)]) * samples[size_t(i)];
        decoded.frames += got;
    }
    if (decoded.frames > 0)
        decoded.rms = std::sqrt(sum / double(decoded.frames * info.channels)) / 32768;
    return decoded;
}

} // namespace

Q_DECLARE_METATYPE(sound::SoundProblem)

// The header check stands between a file's claims and the decoder: every size is held against
// the real file, every refusal says what it refused, and the decoder sees only what passed.
class WaveHeaderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void judgesEachFile_data() {
        using sound::SoundProblem;
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<SoundProblem>("problem");
        QTest::addColumn<QString>("verdict");
        const QByteArray data = chunk("data", QByteArray(400, '\1'));
        const QByteArray mono = format(1, 1, 22050, 16, 2);
        const QString pcm = QStringLiteral("tag 1, 1 ch, 22050 Hz, 16 bits, block 2, data %1+400");
        const auto ok = SoundProblem::None;
        const auto bad = SoundProblem::Corrupt;
        const auto unplayable = SoundProblem::UnplayableEncoding;

        QTest::newRow("text") << QByteArray("this is not a sound\n") << SoundProblem::NotWave
                              << QString();
        QTest::newRow("empty") << QByteArray() << SoundProblem::NotWave << QString();
        QTest::newRow("RIFF but not WAVE")
            << QByteArray("RIFF" + u32(4) + "AVI ") << SoundProblem::NotWave << QString();
        QTest::newRow("RIFF size past the end")
            << QByteArray("RIFF" + u32(1000) + "WAVE" + mono) << bad
            << QStringLiteral("the header claims 1008 bytes, the file has 36");
        QTest::newRow("chunk header cut off")
            << riff(mono + "da") << bad << QStringLiteral("no data chunk");
        QTest::newRow("header only") << riff(mono) << bad << QStringLiteral("no data chunk");
        QTest::newRow("no format chunk")
            << riff(chunk("LIST", "abcd")) << bad << QStringLiteral("no format chunk");
        QTest::newRow("data claims 4 GiB")
            << riff(mono + "data" + u32(0xFFFFFFF0)) << bad
            << QStringLiteral("the 'data' chunk claims 4294967280 bytes, 0 follow");
        QTest::newRow("unprintable chunk name past the end")
            << riff(mono + QByteArray("d\x01t\xff") + u32(8)) << bad
            << QStringLiteral("the 'd?t?' chunk claims 8 bytes, 0 follow");
        QTest::newRow("empty data")
            << riff(mono + chunk("data", {})) << bad << QStringLiteral("no sound data");
        QTest::newRow("data before format")
            << riff(data + mono) << bad << QStringLiteral("the sound data comes before its format");
        QTest::newRow("format chunk of 15 bytes")
            << riff(chunk("fmt ", fmt(1, 2, 44100, 16, 4).left(15)) + data) << bad
            << QStringLiteral("a format chunk of 15 bytes");
        QTest::newRow("format chunk of 16 bytes, the least")
            << riff(mono + data) << ok << pcm.arg(44);
        QTest::newRow("0 channels")
            << riff(format(1, 0, 8000, 16, 2) + data) << bad << QStringLiteral("0 channels");
        QTest::newRow("33 channels")
            << riff(format(1, 33, 8000, 8, 33) + data) << bad << QStringLiteral("33 channels");
        QTest::newRow("32 channels, the most")
            << riff(format(1, 32, 8000, 8, 32) + data) << ok
            << QStringLiteral("tag 1, 32 ch, 8000 Hz, 8 bits, block 32, data 44+400");
        QTest::newRow("sample rate of 0") << riff(format(1, 1, 0, 16, 2) + data) << bad
                                          << QStringLiteral("a sample rate of 0 Hz");
        QTest::newRow("sample rate of 4 GHz") << riff(format(1, 1, 0xFFFFFFFF, 16, 2) + data) << bad
                                              << QStringLiteral("a sample rate of 4294967295 Hz");
        QTest::newRow("sample rate of 384001 Hz") << riff(format(1, 1, 384001, 16, 2) + data) << bad
                                                  << QStringLiteral("a sample rate of 384001 Hz");
        QTest::newRow("sample rate of 384000 Hz, the most")
            << riff(format(1, 1, 384000, 16, 2) + data) << ok
            << QStringLiteral("tag 1, 1 ch, 384000 Hz, 16 bits, block 2, data 44+400");
        QTest::newRow("sample rate of 1 Hz, the least")
            << riff(format(1, 1, 1, 16, 2) + data) << ok
            << QStringLiteral("tag 1, 1 ch, 1 Hz, 16 bits, block 2, data 44+400");
        QTest::newRow("frames of 3 bytes")
            << riff(format(1, 1, 22050, 16, 3) + data) << bad
            << QStringLiteral("frames of 3 bytes for 1 channels of 16 bits");
        for (int bits : {8, 24, 32})
            QTest::addRow("%d-bit PCM", bits)
                << riff(format(1, 2, 8000, quint16(bits), quint16(bits / 4)) + data) << ok
                << QStringLiteral("tag 1, 2 ch, 8000 Hz, %1 bits, block %2, data 44+400")
                       .arg(bits)
                       .arg(bits / 4);
        QTest::newRow("12-bit PCM") << riff(format(1, 1, 22050, 12, 2) + data) << unplayable
                                    << QStringLiteral("12-bit PCM");
        QTest::newRow("64-bit float")
            << riff(format(3, 1, 8000, 64, 8) + data) << ok
            << QStringLiteral("tag 3, 1 ch, 8000 Hz, 64 bits, block 8, data 44+400");
        QTest::newRow("16-bit float") << riff(format(3, 1, 8000, 16, 2) + data) << unplayable
                                      << QStringLiteral("16-bit float");
        QTest::newRow("A-law of 16 bits") << riff(format(6, 1, 8000, 16, 2) + data) << bad
                                          << QStringLiteral("A-law with 16 bits a sample");
        QTest::newRow("µ-law") << riff(format(7, 1, 8000, 8, 1) + data) << ok
                               << QStringLiteral(
                                      "tag 7, 1 ch, 8000 Hz, 8 bits, block 1, data 44+400");
        QTest::newRow("IMA ADPCM blocks of their headers only")
            << riff(format(0x11, 2, 8000, 4, 8) + data) << bad
            << QStringLiteral("ADPCM blocks of 8 bytes for 2 channels");
        QTest::newRow("IMA ADPCM blocks that split a word")
            << riff(format(0x11, 2, 8000, 4, 12) + data) << bad
            << QStringLiteral("ADPCM blocks of 12 bytes for 2 channels");
        QTest::newRow("Microsoft ADPCM blocks shorter than their headers")
            << riff(format(2, 2, 8000, 4, 13) + data) << bad
            << QStringLiteral("ADPCM blocks of 13 bytes for 2 channels");
        QTest::newRow("Microsoft ADPCM blocks that split a frame")
            << riff(format(2, 1, 8000, 4, 7) + data) << bad
            << QStringLiteral("ADPCM blocks of 7 bytes for 1 channels");
        QTest::newRow("IMA ADPCM blocks of more samples than a header counts")
            << riff(format(0x11, 1, 8000, 4, 32772) + data) << bad
            << QStringLiteral("ADPCM blocks of 32772 bytes for 1 channels");
        QTest::newRow("IMA ADPCM blocks of the most samples")
            << riff(format(0x11, 1, 8000, 4, 32768) + data) << ok
            << QStringLiteral("tag 17, 1 ch, 8000 Hz, 4 bits, block 32768, data 44+400");
        QTest::newRow("Microsoft ADPCM blocks of too few samples")
            << riff(format(2, 2, 8000, 4, 25) + data) << bad
            << QStringLiteral("ADPCM blocks of 25 bytes for 2 channels");
        QTest::newRow("Microsoft ADPCM blocks of the fewest samples")
            << riff(format(2, 2, 8000, 4, 26) + data) << ok
            << QStringLiteral("tag 2, 2 ch, 8000 Hz, 4 bits, block 26, data 44+400");
        QTest::newRow("Microsoft ADPCM blocks of more samples than a header counts")
            << riff(format(2, 1, 8000, 4, 32775) + data) << bad
            << QStringLiteral("ADPCM blocks of 32775 bytes for 1 channels");
        QTest::newRow("IMA ADPCM of 3 channels")
            << riff(format(0x11, 3, 8000, 4, 1536) + data) << unplayable
            << QStringLiteral("3-channel IMA ADPCM");
        QTest::newRow("3-bit IMA ADPCM") << riff(format(0x11, 1, 8000, 3, 256) + data) << unplayable
                                         << QStringLiteral("3-bit IMA ADPCM");
        QTest::newRow("MP3") << riff(format(0x55, 1, 22050, 0, 1) + data) << unplayable
                             << QStringLiteral("MP3");
        QTest::newRow("GSM") << riff(format(0x31, 1, 8000, 0, 65) + data) << unplayable
                             << QStringLiteral("GSM 6.10");
        QTest::newRow("a tag nobody knows")
            << riff(format(0xA1B2, 1, 8000, 8, 1) + data) << unplayable
            << QStringLiteral("unknown (format tag 0xa1b2)");
        QTest::newRow("extensible chunk cut short")
            << riff(extensible(1, 39) + data) << bad
            << QStringLiteral("an extensible format chunk of 39 bytes");
        QTest::newRow("extensible MP3")
            << riff(extensible(0x55) + data) << unplayable << QStringLiteral("MP3");
        // Chunks of odd size are padded, and chunks the game does not know are stepped over.
        QTest::newRow("other chunks around an extensible format")
            << riff(chunk("LIST", "odd") + extensible(3) + chunk("fact", u32(50)) + data) +
                   "trailing junk"
            << ok << QStringLiteral("tag 3, 2 ch, 48000 Hz, 32 bits, block 8, data 92+400");
        // Some writers leave out the pad byte after an odd chunk.
        QTest::newRow("no pad byte after an odd last chunk")
            << riff(mono + chunk("data", "\1\2\3")).chopped(1) << ok
            << QStringLiteral("tag 1, 1 ch, 22050 Hz, 16 bits, block 2, data 44+3");
        QTest::newRow("no pad byte and a byte missing")
            << riff(mono + chunk("data", "\1\2\3")).chopped(2) << bad
            << QStringLiteral("the header claims 48 bytes, the file has 46");
        QTest::newRow("no pad byte after an odd inner chunk")
            << riff(chunk("LIST", "odd", false) + mono + data) << ok << pcm.arg(55);
        QTest::newRow("no pad byte, then data whose size reads as a name")
            << riff(mono + chunk("LIST", "odd", false) + chunk("data", QByteArray(0x41, '\1')))
            << ok << QStringLiteral("tag 1, 1 ch, 22050 Hz, 16 bits, block 2, data 55+65");
        QTest::newRow("a pad byte, then a name of printable bytes")
            << riff(mono + chunk("LIST", "odd") + chunk("junk", "ab") + data) << ok << pcm.arg(66);
        // A header of endless empty chunks is refused without walking all of them.
        QTest::newRow("the most chunks before the sound")
            << riff(empties(sound::kMaxChunks - 2) + mono + data) << ok
            << pcm.arg(12 + 8 * (sound::kMaxChunks - 2) + 32);
        QTest::newRow("a chunk more")
            << riff(empties(sound::kMaxChunks - 1) + mono + data) << bad
            << QStringLiteral("no sound in its first %1 chunks").arg(sound::kMaxChunks);
        // A LIST whose sub-chunk claims 4 GiB once made the decoder loop for good; the check
        // steps over it, and the decoder never sees it.
        QTest::newRow("the fuzzer's 70-byte file")
            << QByteArray::fromHex("524946463e000000574156454c4953540f000000494e464f4953baabf4ffff"
                                   "ff9ea20000666d742010000000010001002256000044ac0000020010006461"
                                   "7461020000000000")
            << ok << QStringLiteral("tag 1, 1 ch, 22050 Hz, 16 bits, block 2, data 68+2");
    }

    void judgesEachFile() {
        QFETCH(QByteArray, file);
        QFETCH(sound::SoundProblem, problem);
        QFETCH(QString, verdict);
        const sound::WaveCheck checked = sound::checkWaveHeader(view(file));
        QCOMPARE(::verdict(checked), verdict);
        QCOMPARE(checked.problem, problem);
        if (problem != sound::SoundProblem::None)
            return;
        // Whatever the check accepts, the decoder opens, in the format the check found.
        const Decoded decoded = decode(file, checked.format);
        QCOMPARE(decoded.why, QString());
        QVERIFY(decoded.frames > 0);
        // The header the game writes for the decoder passes the same check, sizes included.
        const std::string own = sound::canonicalWaveHeader(checked.format);
        const QByteArray samples = file.mid(checked.format.dataOffset, checked.format.dataSize);
        const sound::WaveCheck again =
            sound::checkWaveHeader(view(QByteArray::fromStdString(own) + samples));
        QCOMPARE(::verdict(again), ::verdict(checked).replace(
                                       QStringLiteral("data %1+").arg(checked.format.dataOffset),
                                       QStringLiteral("data %1+").arg(own.size())));
    }

    // Each encoding the game plays, written by sox from the game's own tune, decodes through
    // the view to the tune's length and loudness.
    void decodesEveryPlayableEncoding_data() {
        QTest::addColumn<QString>("options");
        QTest::newRow("pcm-8") << QStringLiteral("-b 8 -e unsigned-integer");
        QTest::newRow("pcm-24") << QStringLiteral("-b 24");
        QTest::newRow("pcm-32") << QStringLiteral("-b 32 -e signed-integer");
        QTest::newRow("float-32") << QStringLiteral("-b 32 -e floating-point");
        QTest::newRow("float-64") << QStringLiteral("-b 64 -e floating-point");
        QTest::newRow("a-law") << QStringLiteral("-e a-law");
        QTest::newRow("mu-law") << QStringLiteral("-e u-law");
        QTest::newRow("ima-adpcm") << QStringLiteral("-e ima-adpcm");
        QTest::newRow("ms-adpcm") << QStringLiteral("-e ms-adpcm");
        QTest::newRow("ms-adpcm-stereo") << QStringLiteral("-e ms-adpcm -c 2");
        QTest::newRow("stereo-48k") << QStringLiteral("-c 2 -r 48000");
        QTest::newRow("6-channel-float") << QStringLiteral("-c 6 -e floating-point");
    }

    void decodesEveryPlayableEncoding() {
        QFETCH(QString, options);
        const QString tune = QFINDTESTDATA("../../sound/sky.wav");
        QVERIFY(!tune.isEmpty());
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("sky.wav"));
        QProcess sox;
        sox.start(QStringLiteral("sox"),
                  QStringList{tune} + options.split(u' ') + QStringList{path});
        QVERIFY(sox.waitForFinished(60000));
        QCOMPARE(sox.exitCode(), 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const sound::WaveCheck checked = sound::checkWaveHeader(view(bytes));
        QCOMPARE(checked.problem, sound::SoundProblem::None);
        // Where sox wrote the plain form, the game's own header says what sox's says, ADPCM
        // block layout and predictor pairs included (the decoder itself takes those as given).
        const std::string own = sound::canonicalWaveHeader(checked.format);
        const qsizetype formatAt = bytes.indexOf("fmt ") + 8;
        const QByteArray ownFormat = QByteArray::fromStdString(own).mid(20, own.size() - 20 - 8);
        if (bytes.mid(formatAt, 2) == ownFormat.left(2))
            QCOMPARE(bytes.mid(formatAt, ownFormat.size()).toHex(' '), ownFormat.toHex(' '));
        const Decoded decoded = decode(bytes, checked.format);
        QCOMPARE(decoded.why, QString());
        // Fewer frames than promised would be told as a decoding error while playing.
        QCOMPARE(decoded.frames, decoded.promised);
        // The tune lasts 17.56 s and measures about 0.19; ADPCM blocks round its length up.
        const double seconds = double(decoded.frames) / checked.format.sampleRate;
        QVERIFY2(std::abs(seconds - 17.56) < 0.05, qPrintable(QString::number(seconds)));
        QVERIFY2(decoded.rms > 0.15 && decoded.rms < 0.25,
                 qPrintable(QString::number(decoded.rms)));
    }

    // The decoder reads the game's header, asking nothing of the file, then the file's
    // samples after whatever chunks lie between; it may read a single byte of either, and seek back
    // to the very start.
    void theViewShowsTheOwnHeaderThenTheSamples() {
        const QByteArray file = riff(format(1, 1, 8000, 16, 2) +
                                     chunk("LIST", QByteArray(10, 'x')) + chunk("data", "abcd"));
        const sound::WaveCheck checked = sound::checkWaveHeader(view(file));
        QCOMPARE(checked.problem, sound::SoundProblem::None);
        int asked = 0;
        sound::WaveView wave(checked.format, [&](int64_t at, char* into, int64_t length) {
            ++asked;
            return sound::readFromMemory(view(file), at, into, length);
        });
        const SF_VIRTUAL_IO io = sound::WaveView::virtualIo();
        const QByteArray own =
            QByteArray::fromStdString(sound::canonicalWaveHeader(checked.format));
        QCOMPARE(io.get_filelen(&wave), sf_count_t(own.size() + 4));
        char bytes[8] = {};
        QCOMPARE(io.read(bytes, 1, &wave), 1);
        QCOMPARE(bytes[0], 'R');
        QCOMPARE(asked, 0);
        QCOMPARE(io.seek(own.size() - 3, SEEK_CUR, &wave), sf_count_t(own.size() - 2));
        QCOMPARE(io.read(bytes, 8, &wave), 6);
        QCOMPARE(QByteArray(bytes, 6), own.right(2) + "abcd");
        QCOMPARE(io.seek(own.size() + 1, SEEK_SET, &wave), sf_count_t(own.size() + 1));
        QCOMPARE(io.read(bytes, 1, &wave), 1);
        QCOMPARE(bytes[0], 'b');
        QCOMPARE(io.seek(-io.tell(&wave), SEEK_CUR, &wave), 0);
        QVERIFY(io.seek(-1, SEEK_SET, &wave) < 0);
        QCOMPARE(io.tell(&wave), 0);
    }

    // A file cut short under the decoder is noticed at the byte where it ends, also where a
    // read finds nothing at all (the end of a file sets no errno, so any left from before is
    // no cause), and the file is asked nothing more.
    void aFileCutWhileDecodedSaysWhere_data() {
        QTest::addColumn<int>("cut");
        QTest::newRow("within a read") << 1000;
        QTest::newRow("where the samples begin") << 44;
    }

    void aFileCutWhileDecodedSaysWhere() {
        QFETCH(int, cut);
        const QByteArray bytes =
            riff(format(1, 1, 8000, 16, 2) + chunk("data", QByteArray(4000, '\7')));
        const sound::WaveCheck checked = sound::checkWaveHeader(view(bytes));
        QCOMPARE(checked.problem, sound::SoundProblem::None);
        QTemporaryDir folder;
        QFile file(folder.filePath(QStringLiteral("cut.wav")));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(file.write(bytes), bytes.size());
        QVERIFY(file.flush());
        int asked = 0;
        sound::WaveView wave(checked.format, [&](int64_t at, char* into, int64_t length) {
            ++asked;
            errno = EIO;
            return sound::readFromFile(file.handle(), at, into, length);
        });
        SF_INFO info;
        std::string why;
        SNDFILE* sound = wave.open(info, why);
        QVERIFY(sound);
        QVERIFY(file.resize(cut));
        short samples[4000];
        QCOMPARE(sf_readf_short(sound, samples, 4000), sf_count_t((cut - 44) / 2));
        QVERIFY(wave.failed());
        QCOMPARE(wave.failedAt(), int64_t(cut));
        QCOMPARE(wave.failedErrno(), 0);
        const int askedBefore = asked;
        sf_readf_short(sound, samples, 4000);
        QCOMPARE(asked, askedBefore);
        // A file that cannot be read at all says so, with its reason.
        errno = 0;
        QCOMPARE(sound::readFromFile(-1, 0, reinterpret_cast<char*>(samples), 2), int64_t(-1));
        QCOMPARE(errno, EBADF);
    }
};

QTEST_GUILESS_MAIN(WaveHeaderTest)
#include "WaveHeaderTest.moc"
