#include "FrameClock.h"

#include <runtime/Form.h>
#include <runtime/FormHost.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <array>
#include <memory>
#include <string>
#include <vector>

using namespace runtime;

using namespace Qt::StringLiterals;

namespace {

// A 300 x 200 px form with a character the player may click and a title figure with no Click
// handler, both of one opaque picture.
struct Pictures {
    Pictures() {
        QImage square(20, 20, QImage::Format_RGB32);
        square.fill(Qt::red);
        square.save(QString::fromStdString(path));
    }
    QTemporaryDir folder;
    std::string path = (folder.path() + u"/square.png"_s).toStdString();
    std::array<ControlDefinition, 3> controls{
        ControlDefinition{
            .kind = ControlKind::Image, .name = "Char", .index = 0, .picture = path.c_str()},
        ControlDefinition{.kind = ControlKind::Image,
                          .name = "Title",
                          .width = 300,
                          .height = 300,
                          .picture = path.c_str()},
        ControlDefinition{.kind = ControlKind::Timer, .name = "Idle", .interval = 1},
    };
    FormDefinition definition{.name = "Pictures",
                              .caption = "Pictures",
                              .clientWidth = 4500,
                              .clientHeight = 3000,
                              .picture = path.c_str(),
                              .menus = {},
                              .controls = controls};
};

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private:
    Pictures m_pictures;
    std::unique_ptr<Form> m_form;
    int m_clicks = 0;
    std::vector<int> m_reports;

    QAccessibleInterface* accessible(const QString& name) {
        return QAccessible::queryAccessibleInterface(
            FormHost::clientArea(*m_form)->findChild<QWidget*>(name));
    }

private Q_SLOTS:
    void init() {
        m_form = std::make_unique<Form>(m_pictures.definition);
        FormHost::stopRealClock(*m_form);
        FormHost::onEnd(*m_form, [this](int, const RuntimeError* error) {
            if (error)
                m_reports.push_back(error->number());
        });
        m_clicks = 0;
        m_reports.clear();
        m_form->image(u"Char", 0).onClick([this] { ++m_clicks; });
        m_form->show();
    }

    // A character shows and can be pressed while some of it lies inside the client area at a
    // size above zero; pressed then, it scores as a click would, else nothing happens.
    void onlyAShowingCharacterCanBePressed_data() {
        QTest::addColumn<QRect>("pixels");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("showing");
        QTest::newRow("inside") << QRect(10, 10, 20, 20) << true << true;
        QTest::newRow("half past the left edge") << QRect(-10, 50, 20, 20) << true << true;
        QTest::newRow("half below the bottom") << QRect(50, 190, 20, 20) << true << true;
        QTest::newRow("one pixel in the top-left corner")
            << QRect(-19, -19, 20, 20) << true << true;
        QTest::newRow("one pixel in the bottom-right corner")
            << QRect(299, 199, 20, 20) << true << true;
        QTest::newRow("waiting below") << QRect(50, 200, 20, 20) << true << false;
        QTest::newRow("past the right edge") << QRect(300, 50, 20, 20) << true << false;
        QTest::newRow("gone over the top") << QRect(50, -20, 20, 20) << true << false;
        QTest::newRow("no width") << QRect(50, 50, 0, 20) << true << false;
        QTest::newRow("no height") << QRect(50, 50, 20, 0) << true << false;
        QTest::newRow("hidden") << QRect(10, 10, 20, 20) << false << false;
    }
    void onlyAShowingCharacterCanBePressed() {
        QFETCH(QRect, pixels);
        QFETCH(bool, visible);
        QFETCH(bool, showing);
        Image& character = m_form->image(u"Char", 0);
        character.setLeft(pixels.left() * 15);
        character.setTop(pixels.top() * 15);
        character.setWidth(pixels.width() * 15);
        character.setHeight(pixels.height() * 15);
        character.setVisible(visible);
        QAccessibleInterface* picture = accessible(u"Char(0)"_s);
        // Other actions of Qt's name nothing the picture does.
        picture->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
        QCOMPARE(m_clicks, 0);
        // The press places the widgets itself: the character is pressed where it now stands.
        picture->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(m_clicks, showing ? 1 : 0);
        QCOMPARE(!picture->state().invisible, showing);
        QCOMPARE(picture->actionInterface()->actionNames(),
                 showing ? QStringList{QAccessibleActionInterface::pressAction()} : QStringList{});
        // Its extents are where it is drawn, on the screen.
        if (visible)
            QCOMPARE(
                picture->rect(),
                QRect(FormHost::clientArea(*m_form)->mapToGlobal(pixels.topLeft()), pixels.size()));
    }

    // The title figure shows, but has no handler to press.
    void aPictureWithoutAClickHandlerOffersNothing() {
        QAccessibleInterface* title = accessible(u"Title"_s);
        QVERIFY(!title->state().invisible);
        QCOMPARE(title->actionInterface()->actionNames(), QStringList{});
        title->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(m_reports, std::vector<int>{});
        m_form->image(u"Title").setVisible(false);
        QVERIFY(title->state().invisible);
    }

    // A press goes through the one dispatch: a run-time error in the handler ends the program
    // with its report, and after the end a press reaches no handler.
    void aPressIsDispatchedAsAClick() {
        Image& character = m_form->image(u"Char", 0);
        character.setWidth(150);
        character.setHeight(150);
        character.onClick([&] {
            ++m_clicks;
            character.setWidth(-1);
        });
        QAccessibleActionInterface* press = accessible(u"Char(0)"_s)->actionInterface();
        press->doAction(QAccessibleActionInterface::pressAction());
        press->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(m_clicks, 1);
        QCOMPARE(m_reports, std::vector<int>{380});
    }

    // A press is input: a clock batching the ticks of an idle window goes back to its frame
    // pace, as it does at a click.
    void aPressRousesTheClock() {
        m_form->image(u"Char", 0).setWidth(150);
        m_form->image(u"Char", 0).setHeight(150);
        FrameClock& clock = FormHost::frameClock(*m_form);
        for (qint64 t = 0; !clock.batching() && t < kBatchMs; t += kFrameMs)
            clock.wake(t);
        QVERIFY(clock.batching());
        accessible(u"Char(0)"_s)
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(m_clicks, 1);
        QVERIFY(!clock.batching());
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
