#include <Form1Definition.h>
#include <runtime/Form.h>
#include <runtime/FormHost.h>

#include <QImageReader>
#include <QSet>
#include <QTest>

// Every picture of the form loads from the resources with its natural size, frames and
// transparency.
class PicturesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void picturesLoad_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("frames");
        QTest::addColumn<bool>("transparent");
        QTest::newRow("background") << QStringLiteral(":/form1/background.bmp") << QByteArray("bmp")
                                    << QSize(664, 495) << 1 << false;
        QTest::newRow("title") << QStringLiteral(":/form1/title.gif") << QByteArray("gif")
                               << QSize(178, 239) << 1 << true;
        QTest::newRow("character 0") << QStringLiteral(":/form1/character0.gif")
                                     << QByteArray("gif") << QSize(50, 74) << 2 << true;
        QTest::newRow("character 1") << QStringLiteral(":/form1/character1.jpg")
                                     << QByteArray("jpeg") << QSize(100, 101) << 1 << false;
        QTest::newRow("character 2") << QStringLiteral(":/form1/character2.gif")
                                     << QByteArray("gif") << QSize(80, 80) << 1 << true;
        QTest::newRow("character 3") << QStringLiteral(":/form1/character3.gif")
                                     << QByteArray("gif") << QSize(40, 40) << 2 << true;
        QTest::newRow("character 4") << QStringLiteral(":/form1/character4.jpg")
                                     << QByteArray("jpeg") << QSize(146, 78) << 1 << false;
    }
    void picturesLoad() {
        QFETCH(QString, resource);
        QFETCH(QByteArray, format);
        QFETCH(QSize, size);
        QFETCH(int, frames);
        QFETCH(bool, transparent);
        QImageReader reader(resource);
        QCOMPARE(reader.format(), format);
        QCOMPARE(reader.size(), size);
        QCOMPARE(std::max(reader.imageCount(), 1), frames);
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
        QFETCH(QSize, size);
        QFETCH(int, frames);
        QFETCH(bool, transparent);
        QImageReader normal(resource);
        QString twin = resource;
        twin.insert(twin.lastIndexOf(u'.'), QStringLiteral("@2x"));
        if (twin.endsWith(QStringLiteral(".bmp"))) // the sky's twin is a two-colour PNG
            twin.replace(QStringLiteral(".bmp"), QStringLiteral(".png"));
        QImageReader dense(twin);
        QCOMPARE(dense.size(), size * 2);
        QCOMPARE(std::max(dense.imageCount(), 1), frames);
        QCOMPARE(dense.loopCount(), normal.loopCount());
        for (int frame = 0; frame < frames; ++frame) {
            const QImage image = dense.read();
            QVERIFY2(!image.isNull(), qPrintable(dense.errorString()));
            QCOMPARE(image.size(), size * 2);
            QCOMPARE(image.devicePixelRatio(), 2.0);
            QCOMPARE(image.hasAlphaChannel(), transparent);
            normal.read();
            QCOMPARE(dense.nextImageDelay(), normal.nextImageDelay());
        }
    }

    void animationsLoopWithTheirDelays() {
        QImageReader portrait(QStringLiteral(":/form1/character0.gif"));
        QCOMPARE(portrait.loopCount(), -1);
        portrait.read();
        QCOMPARE(portrait.nextImageDelay(), 1000);
        portrait.read();
        QCOMPARE(portrait.nextImageDelay(), 350);
        QImageReader creature(QStringLiteral(":/form1/character3.gif"));
        QCOMPARE(creature.loopCount(), -1);
        creature.read();
        QCOMPARE(creature.nextImageDelay(), 1000);
        // Column 0 is never painted: the frames are 39 pixels wide from x = 1.
        const QImage frame = creature.read();
        for (int y = 0; y < frame.height(); ++y)
            QCOMPARE(qAlpha(frame.pixel(0, y)), 0);
    }

    void theSkyHasTwoColours() {
        const QImage sky(QStringLiteral(":/form1/background.bmp"));
        QSet<QRgb> colours;
        for (int y = 0; y < sky.height(); ++y)
            for (int x = 0; x < sky.width(); ++x)
                colours.insert(sky.pixel(x, y));
        QCOMPARE(colours, (QSet<QRgb>{qRgb(173, 230, 248), qRgb(255, 255, 255)}));
    }

    void theControlsCarryTheirPictures() {
        runtime::Form form(form::form1Definition());
        runtime::FormHost::stopRealClock(form);
        const QSize natural[] = {{50, 74}, {100, 101}, {80, 80}, {40, 40}, {146, 78}};
        const int frames[] = {2, 1, 1, 2, 1};
        for (int i = 0; i <= 4; ++i) {
            QCOMPARE(runtime::FormHost::pictureSize(form.image(u"Image1", i)), natural[i]);
            QCOMPARE(runtime::FormHost::frameCount(form.image(u"Image1", i)), frames[i]);
        }
        QCOMPARE(runtime::FormHost::pictureSize(form.image(u"Image2")), QSize(178, 239));
    }
};

QTEST_MAIN(PicturesTest)
#include "PicturesTest.moc"
