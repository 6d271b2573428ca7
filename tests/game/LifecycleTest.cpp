#include "GameFixture.h"

#include <Form1Definition.h>

#include <QTest>

// Start-up, the start command and the end command.
class LifecycleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadPutsCharactersBelowTheClientArea() {
        GameFixture f;
        f.form().load();
        // Load moves them down only: across and in size they stay as designed.
        for (const runtime::ControlDefinition& designed : form::form1Definition().controls) {
            if (designed.index < 0)
                continue;
            const runtime::Image& character = f.character(designed.index);
            QCOMPARE(character.top(), f.form().scaleHeight());
            QCOMPARE(character.left(), designed.left);
            QCOMPARE(character.width(), designed.width);
            QCOMPARE(character.height(), designed.height);
            QVERIFY(!runtime::FormHost::pixelRect(character).intersects(
                runtime::FormHost::clientArea(f.form())->rect()));
        }
    }

    // The sound opens last: by then the characters wait below the window and the timers
    // have their periods, so a device that fails at "Open" leaves a ready flight behind.
    void loadReadiesTheFlightBeforeOpeningTheSound() {
        GameFixture f;
        std::vector<float> topsAtOpen;
        std::vector<int> intervalsAtOpen;
        f.onSound = [&](const QString& write) {
            if (write != u"Command=Open")
                return;
            for (int i = 0; i <= 4; ++i)
                topsAtOpen.push_back(f.character(i).top());
            for (int t = 1; t <= 5; ++t)
                intervalsAtOpen.push_back(
                    f.form().timer(QStringLiteral("Timer%1").arg(t)).interval());
        };
        f.form().load();
        QCOMPARE(*f.sound, (QStringList{QStringLiteral("DeviceType=WaveAudio"),
                                        QStringLiteral("Command=Open")}));
        QCOMPARE(topsAtOpen, std::vector<float>(5, f.form().scaleHeight()));
        std::vector<int> intervals;
        for (int t = 1; t <= 5; ++t)
            intervals.push_back(f.form().timer(QStringLiteral("Timer%1").arg(t)).interval());
        QCOMPARE(intervalsAtOpen, intervals);
        QCOMPARE(f.game.startFlagValue(), 0);
    }

    // On the form's own clock the five characters keep the speeds 1 : 5 : 2 : 3 : 4.
    void theFiveTimersTickInTheirRatio() {
        GameFixture f;
        f.form().load();
        f.start();
        runtime::FormHost::advanceFrames(f.form(), 60);
        const int ticks[] = {60, 12, 30, 20, 15};
        for (int i = 0; i <= 4; ++i)
            QCOMPARE(f.character(i).top(), f.form().scaleHeight() - 65.0f * float(ticks[i]));
    }

    void startRewindsAndPlaysThenHidesTheTitle() {
        GameFixture f;
        f.form().load();
        f.start();
        QCOMPARE(f.game.startFlagValue(), 1);
        QCOMPARE(f.sound->mid(2),
                 (QStringList{QStringLiteral("Command=Prev"), QStringLiteral("Command=Play")}));
        QVERIFY(!f.form().label(u"Label2").visible());
        QVERIFY(!f.form().image(u"Image2").visible());
    }

    // A second start replays the sound and resets nothing.
    void startingAgainResetsNothing() {
        GameFixture f;
        f.form().load();
        f.start();
        f.tick(1, 10);
        f.click(2);
        f.start();
        QCOMPARE(f.sound->mid(2),
                 (QStringList{QStringLiteral("Command=Prev"), QStringLiteral("Command=Play"),
                              QStringLiteral("Command=Prev"), QStringLiteral("Command=Play")}));
        QCOMPARE(f.character(0).top(), 6960.0f - 650);
        QCOMPARE(f.score(), QStringLiteral("1"));
        QCOMPARE(f.game.startFlagValue(), 1);
        QVERIFY(!f.form().label(u"Label2").visible());
    }

    void ticksAndClicksSendNothingToTheSound() {
        GameFixture f;
        f.form().load();
        f.start();
        const qsizetype sent = f.sound->size();
        for (int t = 1; t <= 5; ++t)
            f.tick(t, 20);
        for (int i = 0; i <= 4; ++i)
            f.click(i);
        QCOMPARE(f.sound->size(), sent);
    }

    void endEndsTheProgramWithStatusZero() {
        GameFixture f;
        f.form().load();
        f.form().menuEntry(u"MenuEnd").trigger();
        QCOMPARE(f.endings, std::vector<int>{0});
        f.start();
        QCOMPARE(f.game.startFlagValue(), 0);
        QVERIFY(f.reports.empty());
    }

    void closingTheWindowEndsLikeEnd() {
        GameFixture f;
        f.form().load();
        f.form().show();
        runtime::FormHost::window(f.form())->close();
        QCOMPARE(f.endings, std::vector<int>{0});
    }

    // The sound device refuses "Prev": the start command stops there, the error is reported
    // once, the program ends with a non-zero status, and nothing is dispatched again.
    void aFailingPropertyWriteEndsTheGame() {
        GameFixture f(QStringLiteral("Prev"));
        f.form().load();
        f.start();
        QCOMPARE(f.game.startFlagValue(), 1);
        QCOMPARE(f.sound->last(), QStringLiteral("Command=Prev"));
        QVERIFY(f.form().label(u"Label2").visible());
        QCOMPARE(f.reports, std::vector<int>{380});
        QCOMPARE(f.endings, std::vector<int>{1});
        f.tick(1, 5);
        f.click(0);
        f.form().menuEntry(u"MenuEnd").trigger();
        QCOMPARE(f.character(0).top(), 6960.0f);
        QCOMPARE(f.score(), QString());
        QCOMPARE(f.reports.size(), 1u);
        QCOMPARE(f.endings.size(), 1u);
    }

    void aFailingLoadSkipsItsLaterSteps() {
        GameFixture f(QStringLiteral("Open"));
        f.form().load();
        QCOMPARE(*f.sound, (QStringList{QStringLiteral("DeviceType=WaveAudio"),
                                        QStringLiteral("Command=Open")}));
        QCOMPARE(f.reports, std::vector<int>{380});
        QCOMPARE(f.form().dispatcher().exitStatus(), 1);
    }
};

QTEST_MAIN(LifecycleTest)
#include "LifecycleTest.moc"
