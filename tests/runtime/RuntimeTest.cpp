#include <runtime/Fonts.h>
#include <runtime/Form.h>
#include <runtime/FormHost.h>
#include <runtime/Twips.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "ErrorOf.h"
#include <QWidget>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <string>

using namespace runtime;

using namespace Qt::StringLiterals;

namespace {

// A form of the runtime's own, 300 x 200 px: two overlapping pictures, a label, and a text
// box created after them over a corner of both. "Pic(0)" lies over "Pic(1)"; its left half is
// transparent. The form's picture covers only the top-left 100 x 100 px.
struct TestForm {
    explicit TestForm(const QString& folder) {
        QImage front(20, 20, QImage::Format_ARGB32);
        front.fill(Qt::red);
        QPainter painter(&front);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(0, 0, 10, 20, Qt::transparent);
        painter.end();
        front.save(folder + u"/front.png"_s);
        QImage back(40, 40, QImage::Format_RGB32);
        back.fill(Qt::blue);
        back.save(folder + u"/back.png"_s);
        QImage sky(100, 100, QImage::Format_RGB32);
        sky.fill(Qt::cyan);
        sky.save(folder + u"/sky.png"_s);
        paths = {(folder + u"/front.png"_s).toStdString(), (folder + u"/back.png"_s).toStdString(),
                 (folder + u"/sky.png"_s).toStdString()};
        controls = {
            ControlDefinition{.kind = ControlKind::Image,
                              .name = "Pic",
                              .index = 0,
                              .left = 150,
                              .top = 150,
                              .width = 300,
                              .height = 300,
                              .picture = paths[0].c_str(),
                              .stretch = true},
            ControlDefinition{.kind = ControlKind::Image,
                              .name = "Pic",
                              .index = 1,
                              .left = 0,
                              .top = 0,
                              .width = 600,
                              .height = 600,
                              .picture = paths[1].c_str(),
                              .stretch = true},
            ControlDefinition{.kind = ControlKind::Label,
                              .name = "Note",
                              .left = 1500,
                              .top = 0,
                              .width = 600,
                              .height = 300,
                              .caption = "note"},
            ControlDefinition{.kind = ControlKind::TextBox,
                              .name = "Box",
                              .left = 0,
                              .top = 450,
                              .width = 900,
                              .height = 300},
            ControlDefinition{.kind = ControlKind::Timer, .name = "Clock", .interval = 3},
        };
        definition = FormDefinition{.name = "Test",
                                    .caption = "Test",
                                    .clientWidth = 4500,
                                    .clientHeight = 3000,
                                    .picture = paths[2].c_str(),
                                    .menus = {},
                                    .controls = controls};
    }
    std::array<std::string, 3> paths;
    std::array<ControlDefinition, 5> controls;
    FormDefinition definition;
};

// Two timers created in the opposite order to the one the test sets them going in.
struct TwoTimers {
    std::array<ControlDefinition, 2> controls{
        ControlDefinition{.kind = ControlKind::Timer, .name = "Early"},
        ControlDefinition{.kind = ControlKind::Timer, .name = "Late"},
    };
    FormDefinition definition{.name = "Clocks",
                              .caption = "Clocks",
                              .clientWidth = 150,
                              .clientHeight = 150,
                              .picture = "",
                              .menus = {},
                              .controls = controls};
};

// Text boxes whose tab indexes run against their creation order; the last takes no tab.
struct Boxes {
    std::array<ControlDefinition, 4> controls{
        ControlDefinition{.kind = ControlKind::TextBox, .name = "B", .tabIndex = 1},
        ControlDefinition{.kind = ControlKind::TextBox, .name = "C", .tabIndex = 2},
        ControlDefinition{.kind = ControlKind::TextBox, .name = "A", .tabIndex = 0},
        ControlDefinition{.kind = ControlKind::TextBox, .name = "D"},
    };
    FormDefinition definition{.name = "Boxes",
                              .caption = "Boxes",
                              .clientWidth = 150,
                              .clientHeight = 150,
                              .picture = "",
                              .menus = {},
                              .controls = controls};
};

} // namespace

class RuntimeTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_folder;
    std::unique_ptr<TestForm> m_definition;
    std::unique_ptr<Form> m_form;
    std::vector<int> m_reports;
    std::vector<int> m_endings;

private Q_SLOTS:
    void init() {
        m_definition = std::make_unique<TestForm>(m_folder.path());
        m_form = std::make_unique<Form>(m_definition->definition);
        FormHost::stopRealClock(*m_form);
        m_reports.clear();
        m_endings.clear();
        FormHost::onEnd(*m_form, [this](int status, const RuntimeError* error) {
            if (error)
                m_reports.push_back(error->number());
            m_endings.push_back(status);
        });
    }

    void clientAreaHasTheDefinedSize() {
        QCOMPARE(m_form->scaleWidth(), 4500.0f);
        QCOMPARE(m_form->scaleHeight(), 3000.0f);
        QCOMPARE(FormHost::clientArea(*m_form)->size(), QSize(300, 200));
        // The player may enlarge the window up to eight times each way, and not shrink it.
        QWidget* window = FormHost::window(*m_form);
        const QSize designed = window->size();
        window->resize(designed * 100);
        QCOMPARE(window->size(), designed * 8);
        window->resize(10, 10);
        QCOMPARE(window->size(), designed);
    }

    void aBoldFaceIsDrawnBold() {
        QCOMPARE(fontOf(FontDefinition{"Face", 9, 700, 0}).weight(), QFont::Bold);
    }

    void theTabKeyFollowsTheTabIndexes() {
        Boxes boxes;
        Form form(boxes.definition);
        QString order;
        QWidget* window = FormHost::window(form);
        for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
            if (w->parentWidget() == FormHost::clientArea(form))
                order += w->objectName();
        QCOMPARE(order, u"ABCD"_s);
    }

    void geometryIsStoredAsSinglePrecision() {
        Image& pic = m_form->image(u"Pic", 0);
        pic.setLeft(0.1);
        QCOMPARE(pic.left(), 0.1f);
        pic.setTop(-65.5);
        QCOMPARE(pic.top(), -65.5f);
        QCOMPARE(runtime::FormHost::pixelRect(pic), QRect(0, -4, 20, 20));
    }

    void badGeometryIsARuntimeErrorAndChangesNothing() {
        Image& pic = m_form->image(u"Pic", 0);
        QCOMPARE(errorOf([&] { pic.setWidth(-1); }), 380);
        QCOMPARE(errorOf([&] { pic.setHeight(-0.001); }), 380);
        QCOMPARE(errorOf([&] { pic.setTop(1e39); }), 6);
        QCOMPARE(errorOf([&] { pic.setLeft(std::numeric_limits<double>::quiet_NaN()); }), 6);
        QCOMPARE(errorOf([&] { pic.setLeft(std::numeric_limits<double>::infinity()); }), 6);
        QCOMPARE(pic.width(), 300.0f);
        QCOMPARE(pic.height(), 300.0f);
        QCOMPARE(pic.left(), 150.0f);
        pic.setWidth(0);
        QCOMPARE(runtime::FormHost::pixelRect(pic).width(), 0);
        pic.setLeft(std::numeric_limits<float>::max()); // the largest single still fits
        QCOMPARE(pic.left(), std::numeric_limits<float>::max());
    }

    // Each geometry property moves the control's widget, found by the control's name, to
    // where the control's rectangle says, once the frame's placement has run.
    void aMovedControlsWidgetFollowsItsRectangle() {
        QWidget* client = FormHost::clientArea(*m_form);
        Image& pic = m_form->image(u"Pic", 0);
        auto* widget = client->findChild<QWidget*>(u"Pic(0)"_s);
        QVERIFY(widget);
        const std::array<std::function<void()>, 4> moves{
            [&] { pic.setLeft(300); }, [&] { pic.setTop(600); }, [&] { pic.setWidth(450); },
            [&] { pic.setHeight(150); }};
        for (const auto& move : moves) {
            move();
            FormHost::advanceFrames(*m_form, 1);
            QCOMPARE(widget->geometry(), runtime::FormHost::pixelRect(pic));
        }
        QCOMPARE(widget->geometry(), QRect(20, 40, 30, 10));
    }

    void farAwayPositionsStillGiveWidgetCoordinates() {
        Image& pic = m_form->image(u"Pic", 0);
        pic.setLeft(3e38);
        pic.setTop(-3e38);
        const QRect rect = runtime::FormHost::pixelRect(pic);
        QVERIFY(rect.left() > 0 && rect.top() < 0);
        QCOMPARE(rect.width(), 0); // 300 twips vanish next to 3e38 in a float
        QCOMPARE(toPixels(std::numeric_limits<double>::quiet_NaN()), 0);
        QCOMPARE(toPixels(1e300), 1'000'000);
    }

    void controlsAreFoundByNameKindAndIndex() {
        QCOMPARE(m_form->image(u"Pic", 1).index(), 1);
        QCOMPARE(m_form->image(u"Pic", 1).displayName(), QStringLiteral("Pic(1)"));
        QCOMPARE(errorOf([&] { m_form->image(u"Pic", 2); }), 340);
        QCOMPARE(errorOf([&] { m_form->image(u"Pic", -1); }), 340);
        QCOMPARE(errorOf([&] { m_form->image(u"Nothing"); }), 730);
        QCOMPARE(errorOf([&] { m_form->label(u"Pic"); }), 730);
        QCOMPARE(m_form->label(u"Note").caption(), QStringLiteral("note"));
    }

    // One clock: a timer of n ms ticks on every n-th frame, timers due together tick in the
    // order they were set going, a restarted timer waits its full period, and 0 stops it.
    void timersTickOnTheFrameClock() {
        Timer& clock = m_form->timer(u"Clock");
        QString ticks;
        clock.onTimer([&] { ticks += u'c'; });
        FormHost::advanceFrames(*m_form, 7);
        QCOMPARE(ticks, QStringLiteral("cc"));
        clock.setInterval(2);
        FormHost::advanceFrames(*m_form, 1);
        QCOMPARE(ticks, QStringLiteral("cc"));
        FormHost::advanceFrames(*m_form, 1);
        QCOMPARE(ticks, QStringLiteral("ccc"));
        QCOMPARE(errorOf([&] { clock.setInterval(-1); }), 380);
        QCOMPARE(clock.interval(), 2);
        clock.setInterval(0);
        FormHost::advanceFrames(*m_form, 10);
        QCOMPARE(ticks, QStringLiteral("ccc"));
    }

    void timersDueTogetherTickInTheOrderTheyWereSetGoing() {
        TwoTimers two;
        Form form(two.definition);
        FormHost::stopRealClock(form);
        QString ticks;
        Timer& early = form.timer(u"Early");
        Timer& late = form.timer(u"Late");
        early.onTimer([&] { ticks += u'e'; });
        late.onTimer([&] { ticks += u'l'; });
        late.setInterval(1);
        early.setInterval(2);
        FormHost::advanceFrames(form, 4);
        QCOMPARE(ticks, QStringLiteral("llelle"));
        FormHost::onEnd(form, [](int, const RuntimeError*) {});
        form.dispatcher().endProgram(0);
        FormHost::advanceFrames(form, 4);
        QCOMPARE(ticks, QStringLiteral("llelle"));
    }

    void anErrorStopsAllDispatchAndIsReportedOnce() {
        Timer& clock = m_form->timer(u"Clock");
        int statementsAfter = 0;
        int ticks = 0;
        clock.onTimer([&] {
            ++ticks;
            m_form->image(u"Pic", 0).setWidth(-10);
            ++statementsAfter;
        });
        bool clicked = false;
        m_form->image(u"Pic", 1).onClick([&] { clicked = true; });
        clock.fire();
        clock.fire();
        m_form->image(u"Pic", 1).click();
        m_form->dispatcher().endProgram(0);
        QCOMPARE(ticks, 1);
        QCOMPARE(statementsAfter, 0);
        QVERIFY(!clicked);
        QCOMPARE(m_reports, std::vector<int>{380});
        QCOMPARE(m_endings, std::vector<int>{1});
        QCOMPARE(m_form->dispatcher().exitStatus(), 1);
    }

    // Left to itself, the form logs the report in one line as it ends.
    void anErrorIsLoggedInOneLine() {
        TwoTimers two;
        Form form(two.definition);
        Timer& early = form.timer(u"Early");
        early.onTimer([&] { early.setInterval(-1); });
        QTest::ignoreMessage(QtCriticalMsg,
                             "Run-time error '380': Invalid property value: Early.Interval = -1");
        early.fire();
    }

    // Memory running out inside a handler ends the game with a report, like any run-time error.
    void runningOutOfMemoryEndsWithAReport() {
        m_form->timer(u"Clock").onTimer([] { throw std::bad_alloc(); });
        m_form->timer(u"Clock").fire();
        QCOMPARE(m_reports, std::vector<int>{7});
        QCOMPARE(m_endings, std::vector<int>{1});
    }

    void endingTheProgramStopsDispatch() {
        int loads = 0;
        m_form->onLoad([&] {
            ++loads;
            m_form->dispatcher().endProgram(0);
        });
        m_form->load();
        m_form->load();
        int ticks = 0;
        m_form->timer(u"Clock").onTimer([&] { ++ticks; });
        m_form->timer(u"Clock").fire();
        QCOMPARE(loads, 1);
        QCOMPARE(ticks, 0);
        QCOMPARE(m_endings, std::vector<int>{0});
        QVERIFY(m_reports.empty());
    }

    // The program's status is the one it ended with, whatever the message loop returned; a Load
    // that ends the program never shows the window.
    void runShowsTheLoadedFormUntilTheProgramEnds() {
        FormHost::onEnd(*m_form, [](int, const RuntimeError*) { QCoreApplication::exit(0); });
        int loads = 0;
        m_form->onLoad([&] { ++loads; });
        QTimer::singleShot(0, FormHost::window(*m_form),
                           [&] { m_form->dispatcher().endProgram(3); });
        bool shownVisible = false;
        QCOMPARE(
            FormHost::run(*m_form, [&] { shownVisible = FormHost::window(*m_form)->isVisible(); }),
            3);
        QCOMPARE(loads, 1);
        QVERIFY(shownVisible);

        TwoTimers two;
        Form ended(two.definition);
        FormHost::onEnd(ended, [](int, const RuntimeError*) {});
        ended.onLoad([&] { ended.dispatcher().endProgram(4); });
        bool shown = false;
        QCOMPARE(FormHost::run(ended,
                               [&] {
                                   shown = true; // only to leave the loop of a faulty run
                                   QTimer::singleShot(0, FormHost::window(ended),
                                                      [] { QCoreApplication::exit(0); });
                               }),
                 4);
        QVERIFY(!shown && !FormHost::window(ended)->isVisible());
    }

    void aHandlerIsNeverEnteredWhileAnotherRuns() {
        int inner = 0;
        m_form->timer(u"Clock").onTimer([&] { ++inner; });
        m_form->image(u"Pic", 0).onClick([&] { m_form->timer(u"Clock").fire(); });
        m_form->image(u"Pic", 0).click();
        QCOMPARE(inner, 0);
        m_form->timer(u"Clock").fire();
        QCOMPARE(inner, 1);
    }

    // Front (index 0) lies over Back; its left half is transparent, the box lies above both.
    void aClickReachesTheTopmostOpaqueControl() {
        auto nameAt = [&](int x, int y) {
            const Control* control = FormHost::controlAt(*m_form, QPoint(x, y));
            return control ? control->displayName() : QString();
        };
        QCOMPARE(nameAt(25, 15), QStringLiteral("Pic(0)"));
        QCOMPARE(nameAt(12, 15), QStringLiteral("Pic(1)")); // through transparent pixels
        QCOMPARE(nameAt(5, 35), QStringLiteral("Box"));     // window-backed, above all
        QCOMPARE(nameAt(25, 35), QStringLiteral("Box"));
        QCOMPARE(nameAt(35, 25), QStringLiteral("Pic(1)"));
        QCOMPARE(nameAt(105, 5), QStringLiteral("Note"));
        QCOMPARE(nameAt(200, 150), QString());
        m_form->image(u"Pic", 0).setVisible(false);
        QCOMPARE(nameAt(25, 15), QStringLiteral("Pic(1)"));
        // Halved, the front picture keeps its transparent left half.
        m_form->image(u"Pic", 0).setVisible(true);
        m_form->image(u"Pic", 0).setWidth(150);
        QCOMPARE(nameAt(13, 15), QStringLiteral("Pic(1)"));
        QCOMPARE(nameAt(17, 15), QStringLiteral("Pic(0)"));
    }

    void aClickBelongsToWhereTheMouseWentDown() {
        std::vector<int> clicks;
        for (int index : {0, 1})
            m_form->image(u"Pic", index).onClick([&clicks, index] { clicks.push_back(index); });
        FormHost::mousePress(*m_form, QPoint(25, 15));
        m_form->image(u"Pic", 0).setLeft(3000); // it flies off before the button comes up
        FormHost::mouseRelease(*m_form, QPoint(25, 15));
        FormHost::mousePress(*m_form, QPoint(35, 25));
        FormHost::mouseRelease(*m_form, QPoint(35, 25));
        FormHost::mousePress(*m_form, QPoint(200, 150));
        FormHost::mouseRelease(*m_form, QPoint(200, 150));
        QCOMPARE(clicks, (std::vector<int>{0, 1}));
    }

    void theStackingOrderIsDrawn() {
        const QImage shot = FormHost::grabClientArea(*m_form);
        QCOMPARE(shot.size(), QSize(300, 200));
        QCOMPARE(shot.pixelColor(25, 15), QColor(Qt::red));  // front over back
        QCOMPARE(shot.pixelColor(12, 15), QColor(Qt::blue)); // through the transparent half
        QCOMPARE(shot.pixelColor(60, 60), QColor(Qt::cyan)); // the form's picture
        QCOMPARE(shot.pixelColor(250, 150),
                 FormHost::clientArea(*m_form)->palette().window().color());
    }
};

QTEST_MAIN(RuntimeTest)
#include "RuntimeTest.moc"
