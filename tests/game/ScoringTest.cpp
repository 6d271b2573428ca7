#include "GameFixture.h"

#include <Taunts.h>
#include <runtime/Conversions.h>

#include <QTest>

class ScoringTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void clicksScoreAndTaunt() {
        GameFixture f;
        f.form().load();
        f.start();
        QHash<int, QString> taunts;
        for (const game::Taunt& taunt : game::kTaunts)
            taunts.insert(int(taunt.score), QString::fromUtf16(taunt.text));
        QString expectedTaunt;
        for (int click = 1; click <= 26; ++click) {
            f.click(click % 5); // every character scores the same
            expectedTaunt = taunts.value(click, expectedTaunt);
            QCOMPARE(f.score(), QString::number(click));
            QCOMPARE(f.taunt(), expectedTaunt);
        }
        QVERIFY(f.reports.empty());
    }

    // A character is never used up by a click: every click on it scores, in flight as well.
    void everyClickOnTheSameCharacterScores() {
        GameFixture f;
        f.form().load();
        f.start();
        int expected = 0;
        for (int index = 0; index <= 4; ++index)
            for (int click = 0; click < 3; ++click) {
                f.click(index);
                QCOMPARE(f.score(), QString::number(++expected));
                f.tick(index + 1);
            }
    }

    void theInstructionsAreNeverWritten() {
        GameFixture f;
        f.form().load();
        const QString instructions = f.form().label(u"Label2").caption();
        for (int click = 0; click < 25; ++click)
            f.click(0);
        QCOMPARE(f.form().label(u"Label2").caption(), instructions);
    }

    void aTypedScoreCarriesOn_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("score");
        QTest::addColumn<QString>("taunt");
        QTest::newRow("11") << "11"
                            << "12"
                            << "まだまだだね";
        QTest::newRow("fraction") << "2.5"
                                  << "3.5"
                                  << "";
        QTest::newRow("not a number") << "abc"
                                      << "1"
                                      << "お前なんか俺の敵じゃねぇ";
        QTest::newRow("number then words") << "19 points"
                                           << "20"
                                           << "うっ・・・";
        QTest::newRow("full-width") << "２４"
                                    << "25"
                                    << "燃え尽きたぜ";
        QTest::newRow("negative") << "-3"
                                  << "-2"
                                  << "";
        QTest::newRow("beyond a double's digits") << "100000000000000000000"
                                                  << "100000000000000000000"
                                                  << "";
    }
    void aTypedScoreCarriesOn() {
        QFETCH(QString, typed);
        QFETCH(QString, score);
        QFETCH(QString, taunt);
        GameFixture f;
        f.form().load();
        f.typeScore(typed);
        f.click(3);
        QCOMPARE(f.score(), score);
        QCOMPARE(f.taunt(), taunt);
    }

    // Whatever is in the score box, a click leaves a score that reads back and never ends
    // the game.
    void hostileTextNeverEndsTheGame_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("score");
        const QString largest = runtime::numberText(std::numeric_limits<double>::max());
        QTest::newRow("1e999") << "1e999" << largest;
        QTest::newRow("-1e999") << "-1e999" << u'-' + largest;
        QTest::newRow("1e-999") << "1e-999"
                                << "1";
        QTest::newRow("minus") << "-"
                               << "1";
        QTest::newRow("nan") << "nan"
                             << "1";
        QTest::newRow("inf") << "inf"
                             << "1";
        QTest::newRow("thousand nines") << QString(1000, u'9') << largest;
        QTest::newRow("blanks") << "   "
                                << "1";
        QTest::newRow("megabyte of digits") << QString(1 << 20, u'3') << largest;
        // The box keeps its first 4096 characters, so the 9 never counts.
        QTest::newRow("past the box's limit") << QString(4095, u'0') + QStringLiteral("79") << "8";
        QTest::newRow("megabyte of words") << QString(1 << 20, u'あ') << "1";
        QTest::newRow("tiny fraction") << "-0.9999999999999999"
                                       << "0.00000000000000011102230246251565";
    }
    void hostileTextNeverEndsTheGame() {
        QFETCH(QString, typed);
        QFETCH(QString, score);
        GameFixture f;
        f.form().load();
        f.typeScore(typed);
        f.click(0);
        QCOMPARE(f.score(), score);
        QVERIFY(f.reports.empty());
        f.click(0);
        QVERIFY(f.reports.empty());
        QVERIFY(f.endings.empty());
    }
};

QTEST_MAIN(ScoringTest)
#include "ScoringTest.moc"
