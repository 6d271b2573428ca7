#include <runtime/Conversions.h>
#include <runtime/RuntimeError.h>

#include <QRandomGenerator>
#include <QTest>

#include "ErrorOf.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

using runtime::lenientNumber;
using runtime::numberText;
using runtime::strictNumber;

using namespace Qt::StringLiterals;

namespace {

constexpr double kMax = std::numeric_limits<double>::max();

std::optional<int> strictError(const QString& text) {
    return errorOf([&] { strictNumber(text); });
}

} // namespace

class ConversionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lenientReadsTheLeadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("digits") << "12" << 12.0;
        QTest::newRow("fraction") << "2.5" << 2.5;
        QTest::newRow("leading blanks, trailing words") << "  \t12abc" << 12.0;
        QTest::newRow("negative") << "-3" << -3.0;
        QTest::newRow("plus") << "+4" << 4.0;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("exponent without digits") << "7e+" << 7.0;
        QTest::newRow("point first") << ".5" << 0.5;
        QTest::newRow("lone point") << "." << 0.0;
        QTest::newRow("lone sign") << "-" << 0.0;
        QTest::newRow("words") << "abc" << 0.0;
        QTest::newRow("nan") << "nan" << 0.0;
        QTest::newRow("inf") << "inf" << 0.0;
        QTest::newRow("hex is not read") << "0x10" << 0.0;
        QTest::newRow("full-width digits") << "１２" << 12.0;
        QTest::newRow("full-width fraction") << "－２．５" << -2.5;
        QTest::newRow("ideographic blank") << "\u30003" << 3.0;
        QTest::newRow("too large") << "1e999" << kMax;
        QTest::newRow("too large, negative") << "-1e999" << -kMax;
        QTest::newRow("huge exponent") << "1e99999999999999999999" << kMax;
        QTest::newRow("too small") << "1e-999" << 0.0;
        QTest::newRow("thousand nines") << QString(1000, u'9') << kMax;
        QTest::newRow("zeros then digits") << "0007" << 7.0;
        QTest::newRow("zeros before a tiny number") << QString(400, u'0') + u"1e-330"_s << 0.0;
    }
    void lenientReadsTheLeadingNumber() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(lenientNumber(text), expected);
    }

    void lenientCopesWithAMegabyte() {
        QCOMPARE(lenientNumber(QString(1 << 20, u'7')), kMax);
        QCOMPARE(lenientNumber(QStringLiteral("0.") + QString(1 << 20, u'0') + u'1'), 0.0);
        QCOMPARE(lenientNumber(QString(1 << 20, u'x')), 0.0);
        QCOMPARE(lenientNumber(QStringLiteral("5") + QString(1 << 20, u'.')), 5.0);
    }

    void numberTextWritesDigitsAlone_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one") << 1.0 << "1";
        QTest::newRow("twelve") << 12.0 << "12";
        QTest::newRow("fraction") << 3.5 << "3.5";
        QTest::newRow("negative") << -4.0 << "-4";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("beyond 2^53") << 1e20 << "100000000000000000000";
        QTest::newRow("small fraction") << 0.001 << "0.001";
    }
    void numberTextWritesDigitsAlone() {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(numberText(value), expected);
    }

    void numberTextOfTheLargestDoubleHasNoExponent() {
        const QString text = numberText(kMax);
        QCOMPARE(text.size(), 309);
        QVERIFY(text.front() == u'1' && !text.contains(u'e') && !text.contains(u'.'));
        QCOMPARE(strictNumber(text), kMax);
    }

    void numberTextRefusesInfinityAndNan() {
        for (double value :
             {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
              std::numeric_limits<double>::quiet_NaN()}) {
            try {
                numberText(value);
                QFAIL("no error");
            } catch (const runtime::RuntimeError& error) {
                QCOMPARE(error.number(), int(runtime::ErrorNumber::Overflow));
            }
        }
    }

    void strictReadsOnlyAWholeNumber() {
        QCOMPARE(strictNumber(u"1"_s), 1.0);
        QCOMPARE(strictNumber(u" 12 "_s), 12.0);
        QCOMPARE(strictNumber(u"3.5"_s), 3.5);
        QCOMPARE(strictNumber(u"-4"_s), -4.0);
        QCOMPARE(strictNumber(u"25"_s), 25.0);
        QCOMPARE(strictError(u""_s), 13);
        QCOMPARE(strictError(u"   "_s), 13);
        QCOMPARE(strictError(u"12abc"_s), 13);
        QCOMPARE(strictError(u"abc"_s), 13);
        QCOMPARE(strictError(u"-"_s), 13);
        QCOMPARE(strictError(u"1 2"_s), 13);
        QCOMPARE(strictError(u"nan"_s), 13);
        QCOMPARE(strictError(u"1e999"_s), 6);
    }

    // Whatever a number is, its text reads back as exactly that number, and integral values
    // are written as digits alone.
    void numberTextRoundTripsThroughStrict() {
        QRandomGenerator random(20261208);
        for (int i = 0; i < 200000; ++i) {
            double value = std::bit_cast<double>(random.generate64());
            if (!std::isfinite(value))
                continue;
            if (i % 2 && value != 0)
                value = std::trunc(std::ldexp(value, -std::ilogb(value) + int(random.bounded(70))));
            const QString text = numberText(value);
            QCOMPARE(strictNumber(text), value == 0 ? 0.0 : value);
            if (value == std::trunc(value))
                QVERIFY2(!text.contains(u'.') && !text.contains(u'e'), qPrintable(text));
        }
    }

    // Any text, then one more point: the score text that results always reads back.
    void anyTextGivesAScoreThatReadsBack() {
        const QString alphabet = QStringLiteral("0123456789+-.eE \tａ１－．x\u3000");
        QRandomGenerator random(8);
        for (int i = 0; i < 100000; ++i) {
            QString text;
            const int length = int(random.bounded(24));
            for (int j = 0; j < length; ++j)
                text += alphabet[int(random.bounded(alphabet.size()))];
            const double value = lenientNumber(text);
            QVERIFY2(std::isfinite(value), qPrintable(text));
            const QString score = numberText(value + 1);
            QCOMPARE(strictNumber(score), value + 1 == 0 ? 0.0 : value + 1);
        }
    }
};

QTEST_GUILESS_MAIN(ConversionsTest)
#include "ConversionsTest.moc"
