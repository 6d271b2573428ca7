#include "GameFixture.h"

#include <QTest>

#include <utility>

class FlightTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void nothingMovesBeforeTheStart() {
        GameFixture f;
        f.form().load();
        const QRect loaded = runtime::FormHost::pixelRect(f.character(0));
        for (int t = 1; t <= 5; ++t)
            f.tick(t, 100);
        for (int i = 0; i <= 4; ++i)
            QCOMPARE(f.character(i).top(), f.form().scaleHeight());
        QCOMPARE(runtime::FormHost::pixelRect(f.character(0)), loaded);
    }

    // After n ticks a character stands where the flight's formula puts it; sizes stop at zero
    // and the character keeps moving.
    void eachCharacterFollowsTheFormula_data() {
        QTest::addColumn<int>("flight");
        QTest::addColumn<int>("ticks");
        // Each row catches its own fault: a step in the wrong direction or for the wrong
        // character, a width or a height that goes negative or stops the flight, a size that
        // reaches zero exactly.
        const std::pair<int, int> rows[] = {{0, 1},  {1, 2},   {2, 120}, {3, 59},
                                            {3, 76}, {4, 147}, {0, 400}};
        for (const auto& [k, n] : rows)
            QTest::addRow("Timer%d n=%d", k + 1, n) << k << n;
    }
    // Timer k moves Image1(k-1) from wherever Load left it.
    void eachCharacterFollowsTheFormula() {
        QFETCH(int, flight);
        QFETCH(int, ticks);
        GameFixture f;
        f.form().load();
        const runtime::Image& c = f.character(flight);
        const float bottom = f.form().scaleHeight();
        const float left = c.left(), width = c.width(), height = c.height();
        f.start();
        f.tick(flight + 1, ticks);
        QCOMPARE(c.top(), bottom - 65 * ticks);
        QCOMPARE(c.left(), left + 100 * ticks);
        QCOMPARE(c.width(), std::max(0.0f, width - 10 * ticks));
        QCOMPARE(c.height(), std::max(0.0f, height - 8 * ticks));
        for (int other = 0; other <= 4; ++other)
            if (other != flight)
                QCOMPARE(f.character(other).top(), bottom);
        QVERIFY(f.reports.empty());
    }

    void theFirstTickBringsACharacterIntoView() {
        GameFixture f;
        f.form().load();
        f.start();
        f.tick(4);
        QVERIFY(runtime::FormHost::pixelRect(f.character(3))
                    .intersects(runtime::FormHost::clientArea(f.form())->rect()));
        QVERIFY(!runtime::FormHost::pixelRect(f.character(0))
                     .intersects(runtime::FormHost::clientArea(f.form())->rect()));
    }

    void clicksDoNotMoveOrHideACharacter() {
        GameFixture f;
        f.form().load();
        f.start();
        f.tick(2, 30);
        const runtime::Image& c = f.character(1);
        const float top = c.top(), left = c.left(), width = c.width(), height = c.height();
        for (int i = 0; i < 5; ++i)
            f.click(1);
        QCOMPARE(c.top(), top);
        QCOMPARE(c.left(), left);
        QCOMPARE(c.width(), width);
        QCOMPARE(c.height(), height);
        QVERIFY(c.visible());
        f.tick(2);
        QCOMPARE(c.left(), left + 100);
    }
};

QTEST_MAIN(FlightTest)
#include "FlightTest.moc"
