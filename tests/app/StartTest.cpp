#include <DisplayCheck.h>
#include <Form1.h>
#include <GameApplication.h>
#include <WindowDestroyWatch.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QIcon>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

#include <vector>

using namespace Qt::StringLiterals;

namespace {

QStringList s_caught;
void catchMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
    s_caught.append(text);
}
QStringList s_caughtLater;
void catchLater(QtMsgType, const QMessageLogContext&, const QString& text) {
    s_caughtLater.append(text);
}

// An argv as main() gets it, owning its strings.
struct Arguments {
    explicit Arguments(const QStringList& list) {
        for (const QString& arg : list)
            texts.push_back(arg.toLocal8Bit());
        for (QByteArray& text : texts)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
        argc = int(texts.size());
    }
    std::vector<QByteArray> texts;
    std::vector<char*> pointers;
    int argc;
};

} // namespace

// The program's start without a desktop: what it refuses before Qt starts, what Qt says
// meanwhile, and the application it then sets up.
class StartTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void thePlatformIsTheArgumentElseTheEnvironment() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const auto requested = [](const QStringList& list) {
            Arguments args(list);
            return display::requestedPlatform(args.argc, args.pointers.data());
        };
        QCOMPARE(requested({u"warukyara"_s, u"-platform"_s, u"xcb"_s}), u"xcb"_s);
        QCOMPARE(requested({u"warukyara"_s, u"-reverse"_s, u"--platform"_s, u"vnc"_s}), u"vnc"_s);
        // A trailing -platform has no value: Qt itself ignores it.
        QCOMPARE(requested({u"warukyara"_s, u"-platform"_s}), u"offscreen"_s);
    }

    void refusesWhatCannotShowAWindow_data() {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QByteArray>("x11");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QString>("refusal"); // a part of the line; empty: no refusal
        QTest::newRow("x11") << u"xcb"_s << ":5"_ba
                             << ""_ba << QString();
        QTest::newRow("x11 options") << u"xcb:nogl"_s << ":5"_ba
                                     << ""_ba << QString();
        QTest::newRow("x11 without DISPLAY") << u"xcb"_s << ""_ba
                                             << "w-0"_ba << u"(DISPLAY is not set)"_s;
        QTest::newRow("wayland without WAYLAND_DISPLAY")
            << u"wayland-egl"_s << ":5"_ba
            << ""_ba << u"(WAYLAND_DISPLAY is not set)"_s;
        QTest::newRow("either, one set") << u"wayland;xcb"_s << ":5"_ba
                                         << ""_ba << QString();
        QTest::newRow("Qt's choice, none set")
            << QString() << ""_ba
            << ""_ba << u"(neither DISPLAY nor WAYLAND_DISPLAY is set)"_s;
        QTest::newRow("offscreen") << u"offscreen"_s << ""_ba
                                   << ""_ba << QString();
        QTest::newRow("console") << u"linuxfb"_s << ":5"_ba
                                 << ""_ba << u"platform 'linuxfb'"_s;
        QTest::newRow("a console behind X11") << u"xcb; vnc:size=800x600"_s << ":5"_ba
                                              << ""_ba << u"platform 'vnc'"_s;
    }

    void refusesWhatCannotShowAWindow() {
        QFETCH(QString, requested);
        QFETCH(QByteArray, x11);
        QFETCH(QByteArray, wayland);
        QFETCH(QString, refusal);
        qputenv("DISPLAY", x11);
        qputenv("WAYLAND_DISPLAY", wayland);
        const QString line = display::refusalBeforeStart(requested);
        if (refusal.isEmpty())
            QCOMPARE(line, QString());
        else
            QVERIFY2(line.contains(refusal), qPrintable(line));
    }

    // Qt's messages while it starts are held; once it has started they are passed on, or
    // dropped when the game refuses, and the guard then leaves the handler alone.
    void qtsMessagesWhileStartingArePassedOnOrDropped() {
        const QtMessageHandler before = qInstallMessageHandler(catchMessage);
        s_caught.clear();
        {
            display::StartGuard guard(u"offscreen"_s);
            qWarning("while starting");
            QCOMPARE(s_caught, QStringList());
            guard.release();
            qWarning("started");
            QCOMPARE(s_caught, (QStringList{u"while starting"_s, u"started"_s}));
        }
        s_caught.clear();
        {
            display::StartGuard guard(u"offscreen"_s);
            qWarning("refused");
            guard.release(display::StartGuard::Held::Drop);
            qInstallMessageHandler(catchLater);
        }
        qWarning("later");
        qInstallMessageHandler(before);
        QCOMPARE(s_caught, QStringList());
        QCOMPARE(s_caughtLater, QStringList{u"later"_s});
    }

    // Off X11 the window is not watched (its id stays none, 0); the filter itself calls back
    // only for a destroy notice of that id, also one another client sent.
    void theDestroyWatchCallsBackForItsWindowOnly() {
        Arguments args({u"start_test"_s});
        QApplication app(args.argc, args.pointers.data());
        QCOMPARE(display::refusalAfterStart(), QString());
        QWidget window;
        int destroyed = 0;
        display::WindowDestroyWatch watch(window, [&destroyed] { ++destroyed; });
        xcb_destroy_notify_event_t event{};
        event.response_type = XCB_DESTROY_NOTIFY;
        event.window = quint32(window.winId());
        qintptr result = 0;
        QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &event,
                                                                &result);
        QCOMPARE(destroyed, 0);

        event.window = 0;
        event.response_type = XCB_DESTROY_NOTIFY | 0x80;
        QVERIFY(!watch.nativeEventFilter("xcb_generic_event_t", &event, &result));
        QCOMPARE(destroyed, 1);
        event.window = 7;
        QVERIFY(!watch.nativeEventFilter("xcb_generic_event_t", &event, &result));
        event.window = 0;
        event.response_type = XCB_UNMAP_NOTIFY;
        QVERIFY(!watch.nativeEventFilter("xcb_generic_event_t", &event, &result));
        event.response_type = XCB_DESTROY_NOTIFY;
        QVERIFY(!watch.nativeEventFilter("windows_generic_MSG", &event, &result));
        QCOMPARE(destroyed, 1);
    }

    void aRefusedPlatformNeverStartsTheGame() {
        Arguments args({u"warukyara"_s, u"-platform"_s, u"vnc"_s});
        bool prepared = false;
        QCOMPARE(runGame(args.argc, args.pointers.data(), [&prepared](Form1&) { prepared = true; }),
                 display::kRefusalStatus);
        QVERIFY(!prepared);
    }

    void theGameRunsNamedWithItsIconAndQtSpeaksFreely() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        Arguments args({u"start_test"_s});
        QString name;
        QList<QSize> iconSizes;
        bool heardAtOnce = false;
        const QtMessageHandler before = qInstallMessageHandler(catchMessage);
        s_caught.clear();
        const int status = runGame(args.argc, args.pointers.data(), [&](Form1& game) {
            name = QCoreApplication::applicationName();
            iconSizes = QApplication::windowIcon().availableSizes();
            qWarning("while playing");
            // Held until the game ends, a warning would come too late to tell what went wrong.
            heardAtOnce = s_caught.contains(u"while playing"_s);
            game.form().dispatcher().endProgram(0);
        });
        QStringList caught = s_caught;
        qInstallMessageHandler(before);
        QCOMPARE(status, 0);
        QCOMPARE(name, u"warukyara"_s);
        QCOMPARE(iconSizes, (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {64, 64}}));
        QVERIFY2(heardAtOnce, qPrintable(caught.join(u'|')));
    }
};

QTEST_APPLESS_MAIN(StartTest)
#include "StartTest.moc"
