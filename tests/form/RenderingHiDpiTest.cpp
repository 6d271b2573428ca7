#include "GameFixture.h"

#include <runtime/FormHost.h>

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

// Mean difference per colour channel over the pixels where `mask` is fully opaque.
double difference(const QImage& shot, QPoint at, const QImage& expected, const QImage& mask) {
    double sum = 0;
    int count = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            if (qAlpha(mask.pixel(x, y)) != 255)
                continue;
            const QRgb a = shot.pixel(at + QPoint(x, y));
            const QRgb b = expected.pixel(x, y);
            sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                   std::abs(qBlue(a) - qBlue(b));
            ++count;
        }
    return count ? sum / (3.0 * count) : 1e9;
}

QImage scaledTo(const QString& resource, QSize size) {
    return QImage(resource)
        .convertToFormat(QImage::Format_ARGB32)
        .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

// The window on a screen of 150 % or 200 % (QT_SCALE_FACTOR, set by the test's runner): every
// picture drawn from its dense twin, at the same logical size, and clicks still per pixel.
class RenderingHiDpiTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<GameFixture> m_game;
    qreal m_ratio = 1;

    QImage shot() {
        return runtime::FormHost::grabClientArea(m_game->form())
            .convertToFormat(QImage::Format_RGB32);
    }
    QPoint device(QPoint logical) const {
        return QPoint(int(std::lround(logical.x() * m_ratio)),
                      int(std::lround(logical.y() * m_ratio)));
    }
    QSize device(QSize logical) const {
        return QSize(int(std::lround(logical.width() * m_ratio)),
                     int(std::lround(logical.height() * m_ratio)));
    }

private Q_SLOTS:
    void init() {
        m_game = std::make_unique<GameFixture>();
        QVERIFY(m_game->showWindow());
        m_ratio = runtime::FormHost::clientArea(m_game->form())->devicePixelRatioF();
        const qreal asked = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble();
        QVERIFY2(asked > 1, "run with QT_SCALE_FACTOR above 1");
        QCOMPARE(m_ratio, asked);
    }

    // Compared with the dense twin fitted to the ratio, and with the normal picture enlarged to
    // the same size: the window must show the first.
    void theTitleFigureIsDrawnFromItsDenseTwin() {
        const QRect place = runtime::FormHost::pixelRect(m_game->form().image(u"Image2"));
        QCOMPARE(place.size(), QSize(178, 239));
        const QSize size = device(place.size());
        const QImage dense = scaledTo(QStringLiteral(":/form1/title@2x.gif"), size);
        const QImage enlarged = scaledTo(QStringLiteral(":/form1/title.gif"), size);
        const QImage image = shot();
        QCOMPARE(image.size(), device(QSize(558, 464)));
        const double fromDense = difference(image, device(place.topLeft()), dense, dense);
        const double fromNormal = difference(image, device(place.topLeft()), enlarged, dense);
        if (m_ratio == 2)
            QCOMPARE(fromDense, 0.0); // the twin itself, pixel for pixel
        QVERIFY2(fromDense < 6 && fromDense < fromNormal / 2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(fromDense).arg(fromNormal)));
    }

    // An animated character plays its dense twin too: whichever frame is showing, it is one of
    // the twin's frames, not one of the normal picture's enlarged.
    void anAnimatedCharacterPlaysItsDenseTwin() {
        runtime::Image& character = m_game->character(0);
        character.setLeft(5700); // clear of every other control
        character.setTop(3750);
        const QRect place = runtime::FormHost::pixelRect(character);
        const QImage image = shot();
        const auto nearest = [&](const QString& resource) {
            QImageReader reader(resource);
            double best = 1e9;
            for (QImage frame = reader.read(); !frame.isNull(); frame = reader.read()) {
                frame = frame.convertToFormat(QImage::Format_ARGB32)
                            .scaled(device(place.size()), Qt::IgnoreAspectRatio,
                                    Qt::SmoothTransformation);
                best = std::min(best, difference(image, device(place.topLeft()), frame, frame));
            }
            return best;
        };
        const double fromDense = nearest(QStringLiteral(":/form1/character0@2x.gif"));
        const double fromNormal = nearest(QStringLiteral(":/form1/character0.gif"));
        if (m_ratio == 2)
            QCOMPARE(fromDense, 0.0);
        QVERIFY2(fromDense < 6 && fromDense < fromNormal / 2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(fromDense).arg(fromNormal)));
    }

    // The sky keeps its logical size: in an enlarged window the window colour begins at logical
    // 664 × 495, and the top rows are the dense sky fitted to the ratio.
    void theSkyHasItsLogicalSize() {
        runtime::FormHost::window(m_game->form())->resize(800, 600);
        QTRY_COMPARE(runtime::FormHost::clientArea(m_game->form())->width(), 800);
        const QImage image = shot();
        QCOMPARE(image.size(), device(runtime::FormHost::clientArea(m_game->form())->size()));
        const QRgb window =
            runtime::FormHost::clientArea(m_game->form())->palette().window().color().rgb();
        const QPoint corner = device(QPoint(664, 495));
        // x 500 is clear of the characters waiting below the sky
        const int clearX = device(QPoint(500, 0)).x();
        for (const QPoint beyond :
             {QPoint(corner.x() + 1, 100), QPoint(clearX, corner.y() + 1), corner + QPoint(1, 1)})
            QCOMPARE(image.pixel(beyond), window);
        const QImage sky =
            scaledTo(QStringLiteral(":/form1/background@2x.png"), QSize(corner.x(), corner.y()));
        for (const QPoint inside : {QPoint(corner.x() - 2, 100), QPoint(clearX, corner.y() - 2)})
            QVERIFY(image.pixel(inside) != window);
        // The top rows, above every control: the dense sky, not the normal one enlarged.
        const QImage top = sky.copy(0, 0, sky.width(), device(QSize(1, 14)).height());
        const QImage enlarged =
            scaledTo(QStringLiteral(":/form1/background.bmp"), sky.size()).copy(top.rect());
        const double fromDense = difference(image, QPoint(0, 0), top, top);
        const double fromNormal = difference(image, QPoint(0, 0), enlarged, top);
        if (m_ratio == 2)
            QCOMPARE(fromDense, 0.0);
        QVERIFY2(fromDense < 12 && fromDense < fromNormal,
                 qPrintable(QStringLiteral("%1 vs %2").arg(fromDense).arg(fromNormal)));
    }

    // The elf's transparent pixels show what lies beneath it, and its opaque ones are drawn;
    // shrunk, it is scaled from its dense twin.
    void aGifCharacterShowsTheSkyThroughItsTransparentPixels() {
        const QImage before = shot();
        runtime::Image& elf = m_game->character(2);
        elf.setLeft(5700); // 380, 250: clear of every other control
        elf.setTop(3750);
        const QRect place = runtime::FormHost::pixelRect(elf);
        const QImage dense =
            scaledTo(QStringLiteral(":/form1/character2@2x.gif"), device(place.size()));
        QImage image = shot();
        int clear = 0, drawn = 0;
        for (int y = 0; y < dense.height(); ++y)
            for (int x = 0; x < dense.width(); ++x) {
                const QPoint at = device(place.topLeft()) + QPoint(x, y);
                if (qAlpha(dense.pixel(x, y)) == 0) {
                    QCOMPARE(image.pixel(at), before.pixel(at));
                    ++clear;
                } else if (qAlpha(dense.pixel(x, y)) == 255) {
                    drawn += image.pixel(at) != before.pixel(at);
                }
            }
        QVERIFY(clear > 1000);
        QVERIFY(drawn > 1000);

        elf.setWidth(float(53 * 15)); // an odd size, as the flight leaves it
        elf.setHeight(float(47 * 15));
        const QSize shrunk = device(runtime::FormHost::pixelRect(elf).size());
        image = shot();
        const QImage fromDense = scaledTo(QStringLiteral(":/form1/character2@2x.gif"), shrunk);
        const QImage fromNormal = scaledTo(QStringLiteral(":/form1/character2.gif"), shrunk);
        const double dense2 = difference(image, device(place.topLeft()), fromDense, fromDense);
        const double normal2 = difference(image, device(place.topLeft()), fromNormal, fromDense);
        QVERIFY2(dense2 < 16 && dense2 < normal2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(dense2).arg(normal2)));
    }

    // A click on a transparent pixel of the elf reaches the ink drawing beneath it; on its
    // opaque pixels it reaches the elf; beside both, nobody.
    void clicksPassThroughTransparentPixels() {
        runtime::Image& elf = m_game->character(2);
        runtime::Image& ink = m_game->character(1);
        for (runtime::Image* image : {&elf, &ink}) {
            image->setLeft(5700);
            image->setTop(3750);
        }
        const QImage dense(QStringLiteral(":/form1/character2@2x.gif"));
        QPoint clear(-1, -1), opaque(-1, -1);
        for (int y = 0; y < 80 && (clear.x() < 0 || opaque.x() < 0); ++y)
            for (int x = 0; x < 80; ++x) {
                // where the dense twin is transparent or opaque all over the logical pixel
                int alpha = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        alpha += qAlpha(dense.pixel(2 * x + dx, 2 * y + dy));
                if (alpha == 0 && clear.x() < 0 && x > 10 && y > 10)
                    clear = QPoint(x, y);
                if (alpha == 4 * 255 && opaque.x() < 0)
                    opaque = QPoint(x, y);
            }
        QVERIFY(clear.x() >= 0 && opaque.x() >= 0);
        const QPoint origin = runtime::FormHost::pixelRect(elf).topLeft();
        runtime::Form& form = m_game->form();
        QCOMPARE(runtime::FormHost::controlAt(form, origin + clear), &ink);
        QCOMPARE(runtime::FormHost::controlAt(form, origin + opaque), &elf);
        QCOMPARE(runtime::FormHost::controlAt(form, origin + QPoint(-1, -1)), nullptr);

        // The real mouse, through the window: the click under the elf's clear pixel scores.
        QTest::mouseClick(runtime::FormHost::clientArea(form), Qt::LeftButton, {}, origin + clear);
        QCOMPARE(m_game->score(), QStringLiteral("1"));
        ink.setLeft(0);
        QTest::mouseClick(runtime::FormHost::clientArea(form), Qt::LeftButton, {}, origin + clear);
        QCOMPARE(m_game->score(), QStringLiteral("1"));
    }
};

QTEST_MAIN(RenderingHiDpiTest)
#include "RenderingHiDpiTest.moc"
