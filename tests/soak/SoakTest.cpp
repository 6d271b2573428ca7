#include "GameFixture.h"

#include <Taunts.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QWidget>

#include <array>
#include <cmath>

namespace {

constexpr long long kTicksPerTimer = 10'000'000;
constexpr int kClicks = 100'000;
constexpr long long kTicksPerRound = kTicksPerTimer / kClicks;

// A leak of a few bytes a tick or a hundred a click would grow the process by tens of
// megabytes over the run; the allocator's own drift stays far below this.
constexpr long long kFlatKb = 4096;

// The resident memory of this process, as the kernel counts it, in kB; -1 if unknown.
long long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

// Hours of play on a shown window: ten million ticks of each timer, a hundred thousand clicks
// between them, and the window's events delivered as the message loop would. The resident
// memory must stay flat once the first eighth of the run has warmed every cache.
class SoakTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tenMillionTicksOfEachTimerAndAHundredThousandClicks() {
        GameFixture f;
        f.form().load();
        f.form().show();
        f.start();
        QCoreApplication::processEvents();

        // The timers themselves, looked up once: the clock would fire them just so.
        std::array<runtime::Timer*, 5> timers{};
        for (int t = 1; t <= 5; ++t)
            timers[t - 1] = &f.form().timer(QStringLiteral("Timer%1").arg(t));

        QElapsedTimer clock;
        clock.start();
        long long warmKb = -1;
        auto report = [&](int round) {
            const long long kb = residentKb();
            qInfo("soak: %lld ticks of each timer, %d clicks: VmRSS %lld kB after %.1f s",
                  round * kTicksPerRound, round, kb, double(clock.elapsed()) / 1000);
            if (round == kClicks / 8)
                warmKb = kb;
        };
        report(0);
        for (int round = 1; round <= kClicks; ++round) {
            for (runtime::Timer* timer : timers)
                for (long long tick = 0; tick < kTicksPerRound; ++tick)
                    timer->fire();
            f.click(round % 5);
            if (round % 1000 == 0)
                QCoreApplication::processEvents();
            if (round % (kClicks / 8) == 0)
                report(round);
            if (!f.reports.empty() || !f.endings.empty())
                QFAIL(qPrintable(QStringLiteral("the game ended in round %1 (error %2)")
                                     .arg(round)
                                     .arg(f.reports.empty() ? 0 : f.reports.front())));
        }

        QVERIFY(f.reports.empty());
        QVERIFY(f.endings.empty());
#ifndef __SANITIZE_ADDRESS__
        // (AddressSanitizer's quarantine holds freed memory back; LeakSanitizer checks there.)
        const long long grownKb = residentKb() - warmKb;
        QVERIFY2(warmKb > 0 && grownKb < kFlatKb,
                 qPrintable(QStringLiteral("grew by %1 kB after warming up").arg(grownKb)));
#endif
        QCOMPARE(f.score(), QStringLiteral("100000"));
        QCOMPARE(f.taunt(), QString::fromUtf16(game::kTaunts.back().text));
        const QRect client = runtime::FormHost::clientArea(f.form())->rect();
        for (int i = 0; i <= 4; ++i) {
            const runtime::Image& c = f.character(i);
            QVERIFY2(std::isfinite(c.top()) && std::isfinite(c.left()),
                     qPrintable(QString::number(i)));
            QVERIFY2(c.top() < -6e8f && c.left() > 9e8f, qPrintable(QString::number(i)));
            QCOMPARE(c.width(), 0.0f);
            QCOMPARE(c.height(), 0.0f);
            QVERIFY(!runtime::FormHost::pixelRect(c).intersects(client));
        }
    }
};

QTEST_MAIN(SoakTest)
#include "SoakTest.moc"
