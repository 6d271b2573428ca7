#include "GameFixture.h"

#include <QTest>

#include <utility>

namespace {

struct Flight {
    int timer;
    int character;
    float width;
    float height;
};

// Timer k moves Image1(k-1)... but not in that order: each timer has its own character.
constexpr Flight kFlights[] = {
    {1, 0, 750, 1110}, {2, 1, 1500, 1515}, {3, 2, 1200, 1200}, {4, 3, 585, 600}, {5, 4, 2190, 1170},
};

} // namespace

class FlightTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void nothingMovesBeforeTheStart() {
        GameFixture f;
        f.form().load();
        for (int t = 1; t <= 5; ++t)
            f.tick(t, 100);
        for (int i = 0; i <= 4; ++i) {
            QCOMPARE(f.character(i).top(), 6960.0f);
            QCOMPARE(f.character(i).left(), 120.0f);
        }
        QCOMPARE(f.character(0).width(), 750.0f);
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
            QTest::addRow("Timer%d n=%d", kFlights[k].timer, n) << k << n;
    }
    void eachCharacterFollowsTheFormula() {
        QFETCH(int, flight);
        QFETCH(int, ticks);
        const Flight& fl = kFlights[flight];
        GameFixture f;
        f.form().load();
        f.start();
        f.tick(fl.timer, ticks);
        const runtime::Image& c = f.character(fl.character);
        QCOMPARE(c.top(), float(6960 - 65 * ticks));
        QCOMPARE(c.left(), float(120 + 100 * ticks));
        QCOMPARE(c.width(), std::max(0.0f, fl.width - 10 * ticks));
        QCOMPARE(c.height(), std::max(0.0f, fl.height - 8 * ticks));
        for (int other = 0; other <= 4; ++other)
            if (other != fl.character)
                QCOMPARE(f.character(other).top(), 6960.0f);
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
        for (int i = 0; i < 5; ++i)
            f.click(1);
        QCOMPARE(f.character(1).top(), float(6960 - 65 * 30));
        QCOMPARE(f.character(1).width(), float(1500 - 300));
        QVERIFY(f.character(1).visible());
        f.tick(2);
        QCOMPARE(f.character(1).left(), float(120 + 100 * 31));
    }
};

QTEST_MAIN(FlightTest)
#include "FlightTest.moc"
