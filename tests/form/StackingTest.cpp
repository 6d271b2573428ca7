#include "GameFixture.h"

#include <Taunts.h>

#include <QImage>
#include <QImageReader>
#include <QTest>

#include <algorithm>

// What lies over what in the game's own window, seen in an offscreen grab of its client area.
class StackingTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<GameFixture> m_game;

    QImage shot() {
        return runtime::FormHost::grabClientArea(m_game->form())
            .convertToFormat(QImage::Format_RGB32);
    }

    // How many pixels inside the rectangle pass the test.
    template <typename Test> static int count(const QImage& image, QRect rect, Test test) {
        int n = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                n += test(QColor(image.pixel(x, y))) ? 1 : 0;
        return n;
    }

private Q_SLOTS:
    void init() {
        m_game = std::make_unique<GameFixture>();
        QVERIFY(m_game->showWindow());
    }

    // The score box and the taunt stay readable over a character flying behind them.
    void theScoreAndTheTauntAreDrawnOverACharacter() {
        runtime::Image& character = m_game->character(4); // an opaque photograph
        character.setLeft(0);
        character.setTop(0);
        character.setWidth(8370);
        character.setHeight(1200);
        const QRect score = runtime::FormHost::pixelRect(m_game->form().textBox(u"Text1"));
        const QRect taunt = runtime::FormHost::pixelRect(m_game->form().label(u"Label1"));
        QVERIFY(runtime::FormHost::pixelRect(character).contains(score) &&
                runtime::FormHost::pixelRect(character).contains(taunt));
        auto blue = [](const QColor& c) {
            return c.blue() > 200 && c.red() < 60 && c.green() < 60;
        };
        const int blueWithoutTaunt = count(shot(), taunt, blue);

        m_game->click(0);
        QCOMPARE(m_game->taunt(), QString::fromUtf16(game::kTaunts.front().text));
        const QImage image = shot();
        const int white = count(image, score.adjusted(3, 3, -3, -3),
                                [](const QColor& c) { return c == QColor(Qt::white); });
        QVERIFY2(white > score.adjusted(3, 3, -3, -3).width() * 10,
                 qPrintable(QString::number(white)));
        const int blueWithTaunt = count(image, taunt, blue);
        QVERIFY2(blueWithTaunt > blueWithoutTaunt + 100,
                 qPrintable(QStringLiteral("%1 then %2").arg(blueWithoutTaunt).arg(blueWithTaunt)));
    }

    // Image1(3) lies over Image1(2); where its picture is transparent, Image1(2) shows.
    void oneCharacterIsSeenThroughAnotherOnesTransparentPixels() {
        m_game->start(); // the instructions would lie over both
        runtime::Image& front = m_game->character(3);
        runtime::Image& back = m_game->character(2);
        for (runtime::Image* character : {&front, &back}) {
            character->setLeft(1500);
            character->setTop(1500);
            character->setWidth(1200);
            character->setHeight(1200);
        }
        const QRect place = runtime::FormHost::pixelRect(back);
        QCOMPARE(runtime::FormHost::pixelRect(front), place);
        const QImage backPicture =
            QImage(QStringLiteral(":/form1/character2.gif")).convertToFormat(QImage::Format_ARGB32);
        // The front picture animates: a pixel counts as transparent only in every frame.
        QImageReader frames(QStringLiteral(":/form1/character3.gif"));
        QList<QImage> frontFrames;
        while (frames.canRead())
            frontFrames << frames.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(frontFrames.size() > 1);
        const QImage& frontPicture = frontFrames.first();
        QCOMPARE(backPicture.size(), place.size());
        const int scale = place.width() / frontPicture.width();

        // Pixels well inside a transparent area of the front picture and an opaque one of the
        // back picture, so that smooth scaling at the edges cannot blur the answer.
        auto alphaAround = [](const QImage& image, int x, int y, int alpha) {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const QPoint p(x + dx, y + dy);
                    if (!image.valid(p) || qAlpha(image.pixel(p)) != alpha)
                        return false;
                }
            return true;
        };
        QList<QPoint> through;
        for (int y = 0; y < place.height(); ++y)
            for (int x = 0; x < place.width(); ++x)
                if (std::all_of(frontFrames.begin(), frontFrames.end(),
                                [&](const QImage& frame) {
                                    return alphaAround(frame, x / scale, y / scale, 0);
                                }) &&
                    alphaAround(backPicture, x, y, 255))
                    through << QPoint(x, y);
        QVERIFY(through.size() > 20);

        QImage image = shot();
        for (const QPoint& p : through)
            QCOMPARE(QColor(image.pixel(place.topLeft() + p)), QColor(backPicture.pixel(p)));
        back.setVisible(false);
        image = shot();
        const QImage sky = QImage(QStringLiteral(":/form1/background.bmp"));
        for (const QPoint& p : through)
            QCOMPARE(QColor(image.pixel(place.topLeft() + p)),
                     QColor(sky.pixel(place.topLeft() + p)));
    }
};

QTEST_MAIN(StackingTest)
#include "StackingTest.moc"
