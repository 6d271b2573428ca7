#include <Form1Definition.h>
#include <runtime/Form.h>
#include <runtime/FormHost.h>
#include <runtime/Twips.h>

#include <QFileInfo>
#include <QImageReader>
#include <QTest>

// Every picture the form names, as Qt reads it from the resources. The pictures' own sizes,
// frames, delays and colours are art/check's to hold; here the game must be able to use them.
class PicturesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void picturesLoad_data() {
        QTest::addColumn<QString>("resource");
        const runtime::FormDefinition& definition = form::form1Definition();
        QTest::newRow(definition.name) << QString::fromUtf8(definition.picture);
        for (const runtime::ControlDefinition& control : definition.controls)
            if (control.picture)
                QTest::addRow("%s(%d)", control.name, control.index)
                    << QString::fromUtf8(control.picture);
    }
    // Only a GIF carries transparency, so a click through a character needs one; the two
    // animations must loop for as long as the game runs.
    void picturesLoad() {
        QFETCH(QString, resource);
        QImageReader reader(resource);
        const QString suffix = QFileInfo(resource).suffix();
        QCOMPARE(QString::fromLatin1(reader.format()),
                 suffix == u"jpg" ? QStringLiteral("jpeg") : suffix);
        const bool transparent = suffix == u"gif";
        if (reader.imageCount() > 1)
            QCOMPARE(reader.loopCount(), -1);
        const QSize size = reader.size();
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), size);
        QCOMPARE(image.hasAlphaChannel(), transparent);
        if (transparent) // the corner lies outside every figure
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    }

    // Each picture's twin for dense screens, as Qt reads it: twice the size, the same frames,
    // delays and transparency.
    void denseTwinsLoadAtTwiceTheSize_data() { picturesLoad_data(); }
    void denseTwinsLoadAtTwiceTheSize() {
        QFETCH(QString, resource);
        QImageReader normal(resource);
        QString twin = resource;
        twin.insert(twin.lastIndexOf(u'.'), QStringLiteral("@2x"));
        if (twin.endsWith(QStringLiteral(".bmp"))) // the sky's twin is a two-colour PNG
            twin.replace(QStringLiteral(".bmp"), QStringLiteral(".png"));
        QImageReader dense(twin);
        const QSize size = normal.size();
        const int frames = std::max(normal.imageCount(), 1);
        QCOMPARE(dense.size(), size * 2);
        QCOMPARE(std::max(dense.imageCount(), 1), frames);
        QCOMPARE(dense.loopCount(), normal.loopCount());
        for (int frame = 0; frame < frames; ++frame) {
            const QImage image = dense.read();
            QVERIFY2(!image.isNull(), qPrintable(dense.errorString()));
            QCOMPARE(image.size(), size * 2);
            QCOMPARE(image.devicePixelRatio(), 2.0);
            QCOMPARE(image.hasAlphaChannel(), normal.read().hasAlphaChannel());
            QCOMPARE(dense.nextImageDelay(), normal.nextImageDelay());
        }
    }

    // The controls report the size and frames of the picture they were given, and start at its
    // size twip for twip, but Image1(3), one pixel narrower.
    void theControlsCarryTheirPictures() {
        runtime::Form form(form::form1Definition());
        runtime::FormHost::stopRealClock(form);
        for (const runtime::ControlDefinition& control : form::form1Definition().controls) {
            if (!control.picture)
                continue;
            const runtime::Image& image =
                control.index < 0 ? form.image(QString::fromUtf8(control.name))
                                  : form.image(QString::fromUtf8(control.name), control.index);
            QImageReader reader(QString::fromUtf8(control.picture));
            QCOMPARE(runtime::FormHost::pictureSize(image), reader.size());
            QCOMPARE(runtime::FormHost::frameCount(image), std::max(reader.imageCount(), 1));
            const QSize pixels = reader.size() - QSize(control.index == 3 ? 1 : 0, 0);
            QCOMPARE(image.width(), float(pixels.width() * runtime::kTwipsPerPixel));
            QCOMPARE(image.height(), float(pixels.height() * runtime::kTwipsPerPixel));
        }
    }
};

QTEST_MAIN(PicturesTest)
#include "PicturesTest.moc"
