#include "GameFixture.h"
#include "ImageWidget.h"

#include <runtime/Twips.h>

#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <array>
#include <utility>

namespace {

QSize designSize(runtime::Form& form) {
    return {runtime::toPixels(form.scaleWidth()), runtime::toPixels(form.scaleHeight())};
}

bool insideAny(QPoint p, const QList<QRect>& rects) {
    return std::any_of(rects.begin(), rects.end(), [p](const QRect& r) { return r.contains(p); });
}

} // namespace

// The window as the player sees it, checked pixel by pixel on an offscreen grab.
class RenderingTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<GameFixture> m_game;
    QImage m_sky;

    QImage shot() {
        return runtime::FormHost::grabClientArea(m_game->form())
            .convertToFormat(QImage::Format_RGB32);
    }

private Q_SLOTS:
    void init() {
        m_sky =
            QImage(QStringLiteral(":/form1/background.bmp")).convertToFormat(QImage::Format_RGB32);
        m_game = std::make_unique<GameFixture>();
        QVERIFY(m_game->showWindow());
    }

    void theSkyIsDrawnAtNaturalSizeFromTheTopLeft() {
        const QImage image = shot();
        QCOMPARE(image.size(), designSize(m_game->form()));
        const QList<QRect> controls = {
            runtime::FormHost::pixelRect(m_game->form().textBox(u"Text1")),
            runtime::FormHost::pixelRect(m_game->form().label(u"Label2")),
            runtime::FormHost::pixelRect(m_game->form().image(u"Image2"))};
        int compared = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!insideAny(QPoint(x, y), controls)) {
                    QCOMPARE(image.pixel(x, y), m_sky.pixel(x, y));
                    ++compared;
                }
        QVERIFY(compared > 180000); // all but the three controls
    }

    void theTitleFigureIsUnscaledAndGoesAtTheStart() {
        const QImage title(QStringLiteral(":/form1/title.gif"));
        const QRect place = runtime::FormHost::pixelRect(m_game->form().image(u"Image2"));
        QCOMPARE(place.size(), title.size());
        QImage image = shot();
        for (int y = 0; y < title.height(); ++y)
            for (int x = 0; x < title.width(); ++x) {
                const QPoint at = place.topLeft() + QPoint(x, y);
                const QRgb picture = title.pixel(x, y);
                if (qAlpha(picture) == 255)
                    QCOMPARE(image.pixel(at), picture);
                else if (qAlpha(picture) == 0)
                    QCOMPARE(image.pixel(at), m_sky.pixel(at));
            }
        m_game->start();
        image = shot();
        for (int y = place.top(); y <= place.bottom(); ++y)
            for (int x = place.left(); x <= place.right(); ++x)
                QCOMPARE(image.pixel(x, y), m_sky.pixel(x, y));
    }

    void theNarrowCreatureIsScaledFromTheStart() {
        runtime::Image& creature = m_game->character(3);
        creature.setTop(3000);
        QCOMPARE(runtime::FormHost::pixelRect(creature), QRect(8, 200, 39, 40));
        const QImage image = shot();
        QRect drawn;
        for (int y = 190; y < 250; ++y)
            for (int x = 0; x < 60; ++x)
                if (image.pixel(x, y) != m_sky.pixel(x, y))
                    drawn |= QRect(x, y, 1, 1);
        QVERIFY2(drawn.left() >= 8 && drawn.right() < 8 + 39,
                 qPrintable(QString::number(drawn.right())));
        QVERIFY(drawn.width() > 30);
    }

    // The opaque picture covers its whole rectangle, exactly at natural size.
    void anOpaqueCharacterCoversItsRectangle() {
        const QImage ink =
            QImage(QStringLiteral(":/form1/character1.jpg")).convertToFormat(QImage::Format_RGB32);
        runtime::Image& ninja = m_game->character(1);
        ninja.setTop(4500);
        ninja.setLeft(6000);
        const QRect place = runtime::FormHost::pixelRect(ninja);
        QCOMPARE(place.size(), ink.size());
        const QImage image = shot();
        for (int y = 0; y < ink.height(); ++y)
            for (int x = 0; x < ink.width(); ++x)
                QCOMPARE(image.pixel(place.topLeft() + QPoint(x, y)), ink.pixel(x, y));
    }

    // A shrunk portrait still lets the sky show through the pixels around its head.
    void transparentPixelsShowTheSkyAtAnyScale() {
        m_game->start();
        m_game->tick(1, 20);
        runtime::Image& portrait = m_game->character(0);
        const QRect place = runtime::FormHost::pixelRect(portrait);
        QVERIFY(QRect(QPoint(), designSize(m_game->form())).contains(place));
        QVERIFY(place.width() < 50 && place.height() < 74);
        const QImage image = shot();
        for (const QPoint corner : {place.topLeft(), place.topRight()})
            QCOMPARE(image.pixel(corner), m_sky.pixel(corner));
        // The whole picture is squeezed into the rectangle: it looks like the picture scaled
        // to that size over the sky, not like a clipped corner of it.
        QImage expected = m_sky.copy(place);
        QPainter(&expected).drawImage(
            0, 0,
            QImage(QStringLiteral(":/form1/character0.gif"))
                .scaled(place.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        double difference = 0;
        for (int y = 0; y < place.height(); ++y)
            for (int x = 0; x < place.width(); ++x) {
                const QRgb a = image.pixel(place.topLeft() + QPoint(x, y));
                const QRgb b = expected.pixel(x, y);
                difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                              std::abs(qBlue(a) - qBlue(b));
            }
        difference /= 3.0 * place.width() * place.height();
        QVERIFY2(difference < 12, qPrintable(QString::number(difference)));
    }

    // Stretched pictures are fitted once per size; on a normal screen that must look exactly
    // like stretching the picture straight onto the sky, as the window always did.
    void aStretchedCharacterLooksStretchedStraightOntoTheSky() {
        runtime::Image& elf = m_game->character(2);
        elf.setLeft(5700);
        elf.setTop(3750);
        elf.setWidth(float(53 * 15));
        elf.setHeight(float(47 * 15));
        const QRect place = runtime::FormHost::pixelRect(elf);
        QImage expected = m_sky.copy(place);
        {
            QPainter painter(&expected);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawPixmap(expected.rect(), QPixmap(QStringLiteral(":/form1/character2.gif")));
        }
        // the first paint at a size draws straight, the next ones copy the fitted picture
        for (int paint = 0; paint < 2; ++paint) {
            const QImage image = shot();
            for (int y = 0; y < place.height(); ++y)
                for (int x = 0; x < place.width(); ++x)
                    QCOMPARE(image.pixel(place.topLeft() + QPoint(x, y)), expected.pixel(x, y));
        }
    }

    // A stretched picture whose frame changes is fitted afresh: a copy kept from one frame never
    // stands in for the next, and on a dense screen the copy keeps the logical size.
    void aFittedCopyFollowsItsSource() {
        using Colours = std::pair<QColor, QColor>;
        auto frame = [](Colours colours) {
            QPixmap source(7, 5); // any size but the drawn one, so it is scaled
            source.fill(colours.first);
            QPainter(&source).fillRect(4, 0, 3, 5, colours.second);
            return source;
        };
        const std::array<Colours, 3> frames{Colours{Qt::red, Qt::blue},
                                            Colours{Qt::green, Qt::yellow},
                                            Colours{Qt::cyan, Qt::black}};
        const std::array<QPixmap, 3> sources{frame(frames[0]), frame(frames[1]), frame(frames[2])};
        runtime::FittedPixmap fitted;
        const QSize logical(30, 20);
        // the first paint at a size draws straight, the next ones copy the fitted picture
        for (const int shown : {0, 0, 1, 2}) {
            QImage target(logical * 2, QImage::Format_RGB32);
            target.setDevicePixelRatio(2);
            target.fill(Qt::white);
            QPainter painter(&target);
            fitted.draw(painter, sources[shown], logical, QRect(QPoint(), logical));
            QCOMPARE(Colours(target.pixelColor(10, 20), target.pixelColor(50, 20)), frames[shown]);
        }
        // A painter that mirrors what it draws still puts one device pixel in a logical one.
        QImage mirror(4, 4, QImage::Format_RGB32);
        QPainter mirrored(&mirror);
        mirrored.scale(-1, 1);
        QCOMPARE(runtime::paintedRatio(mirrored), 1.0);
    }

    void aShrunkToNothingCharacterDrawsNothing() {
        m_game->start();
        m_game->tick(4, 60); // Image1(3)'s width is held at zero
        runtime::Image& creature = m_game->character(3);
        QCOMPARE(creature.width(), 0.0f);
        creature.setTop(3000);
        creature.setLeft(3000);
        const QImage image = shot();
        for (int y = 190; y < 240; ++y)
            for (int x = 190; x < 230; ++x)
                QCOMPARE(image.pixel(x, y), m_sky.pixel(x, y));
    }

    void anEnlargedWindowShowsTheWindowColourBeyondTheSky() {
        runtime::FormHost::window(m_game->form())->resize(800, 600);
        QTRY_COMPARE(runtime::FormHost::clientArea(m_game->form())->width(), 800);
        const QImage image = shot();
        const QRgb window =
            runtime::FormHost::clientArea(m_game->form())->palette().window().color().rgb();
        QCOMPARE(image.pixel(700, 100), window);
        QCOMPARE(image.pixel(300, 520), window);
        QCOMPARE(image.pixel(600, 100), m_sky.pixel(600, 100));
        QCOMPARE(image.pixel(600, 490), m_sky.pixel(600, 490));
    }
};

QTEST_MAIN(RenderingTest)
#include "RenderingTest.moc"
