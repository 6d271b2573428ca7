#include <Form1Definition.h>
#include <runtime/Form.h>
#include <runtime/FormHost.h>
#include <runtime/Twips.h>

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>

#include <memory>

// Form1 as the runtime builds it, before the game's Load changes anything.
class FormDefinitionTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<runtime::Form> m_form;

    template <typename T> T* widget(const char* name) {
        return runtime::FormHost::window(*m_form)->findChild<T*>(QString::fromUtf8(name));
    }

private Q_SLOTS:
    void init() {
        m_form = std::make_unique<runtime::Form>(form::form1Definition());
        runtime::FormHost::stopRealClock(*m_form);
    }

    void theWindowHasItsDesignSize() {
        QCOMPARE(m_form->caption(), QStringLiteral("Form1"));
        QCOMPARE(m_form->scaleWidth(), 8370.0f);
        QCOMPARE(m_form->scaleHeight(), 6960.0f);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(runtime::FormHost::window(*m_form)));
        QCOMPARE(runtime::FormHost::clientArea(*m_form)->size(),
                 QSize(runtime::toPixels(m_form->scaleWidth()),
                       runtime::toPixels(m_form->scaleHeight())));
        QCOMPARE(m_form->scaleHeight(), 6960.0f);
    }

    void theMenuHoldsStartThenEnd() {
        auto* bar = static_cast<QMainWindow*>(runtime::FormHost::window(*m_form))->menuBar();
        QCOMPARE(bar->actions().size(), 1);
        QCOMPARE(bar->actions().first()->text(), QStringLiteral("ゲーム"));
        const QList<QAction*> entries = bar->actions().first()->menu()->actions();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->text(), QStringLiteral("はじまり"));
        QCOMPARE(entries[1]->text(), QStringLiteral("おわり"));
        QCOMPARE(m_form->menuEntry(u"MenuStart").caption(), QStringLiteral("はじまり"));
        for (QAction* entry : entries)
            QVERIFY(entry->isEnabled() && entry->isVisible() && entry->shortcut().isEmpty());
    }

    void controlsStartWithTheirDesignValues() {
        QCOMPARE(m_form->textBox(u"Text1").text(), QString());
        QCOMPARE(m_form->label(u"Label1").caption(), QString());
        QCOMPARE(m_form->timer(u"Timer1").interval(), 100);
        for (const char16_t* name : {u"Timer2", u"Timer3", u"Timer4", u"Timer5"})
            QCOMPARE(m_form->timer(QStringView(name)).interval(), 0);
        for (int i = 0; i <= 4; ++i)
            QVERIFY(m_form->image(u"Image1", i).visible() && m_form->image(u"Image1", i).stretch());
        QVERIFY(m_form->image(u"Image2").visible() && !m_form->image(u"Image2").stretch());
        QVERIFY(m_form->label(u"Label1").visible() && m_form->label(u"Label2").visible());
        QVERIFY(m_form->textBox(u"Text1").visible());
        const runtime::Image& smallest = m_form->image(u"Image1", 3);
        QCOMPARE(runtime::FormHost::pixelRect(smallest), QRect(8, 448, 39, 40));
        QCOMPARE(runtime::FormHost::pixelRect(m_form->image(u"Image2")), QRect(184, 192, 178, 239));
        const runtime::MultimediaControl& sound = m_form->multimedia(u"MMControl1");
        QCOMPARE(runtime::FormHost::pixelRect(sound), QRect(216, 472, 236, 22));
        QVERIFY(!runtime::FormHost::pixelRect(sound).intersects(QRect(0, 0, 558, 464)));
    }

    // Character for character as written, blank runs and slips included.
    void captionsAreShownAsWritten() {
        for (const runtime::ControlDefinition& control : form::form1Definition().controls)
            if (control.kind == runtime::ControlKind::Label)
                QCOMPARE(m_form->label(QString::fromUtf8(control.name)).caption(),
                         QString::fromUtf8(control.caption));
    }

    // The menu speaks Japanese, so it is drawn in the form's Japanese face, not a fallback.
    void theMenuIsDrawnInTheFormsFace() {
        auto* bar = static_cast<QMainWindow*>(runtime::FormHost::window(*m_form))->menuBar();
        QCOMPARE(QFontInfo(bar->font()).family(), QStringLiteral("IPAPGothic"));
    }

    void textsHaveTheirColoursAndFonts() {
        auto* text1 = widget<QLineEdit>("Text1");
        auto* label1 = widget<QLabel>("Label1");
        auto* label2 = widget<QLabel>("Label2");
        QCOMPARE(text1->palette().color(QPalette::Base), QColor(255, 255, 255));
        QCOMPARE(text1->palette().color(QPalette::Text), QColor(192, 0, 192));
        QCOMPARE(label2->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(label1->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QCOMPARE(text1->font().pixelSize(), 16);
        QCOMPARE(label2->font().pixelSize(), 19);
        QCOMPARE(label1->font().pixelSize(), 24);
        QCOMPARE(label1->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        for (const QWidget* text : std::initializer_list<const QWidget*>{text1, label1, label2})
            QCOMPARE(text->font().weight(), QFont::Normal);
        QVERIFY(!label1->autoFillBackground() && !label2->autoFillBackground());
        QCOMPARE(label1->textFormat(), Qt::PlainText);
        // The face is mapped to an installed Japanese gothic.
        QCOMPARE(QFontInfo(label1->font()).family(), QStringLiteral("IPAPGothic"));
    }

    // Window-backed controls lie over the others; then the first created lies on top, so a
    // higher-indexed character covers a lower one.
    void aPointReachesTheControlOnTop() {
        auto nameAt = [&](int x, int y) {
            const runtime::Control* control = runtime::FormHost::controlAt(*m_form, QPoint(x, y));
            return control ? control->displayName() : QStringLiteral("(form)");
        };
        QCOMPARE(nameAt(20, 40), QStringLiteral("Text1"));
        QCOMPARE(nameAt(200, 30), QStringLiteral("Label1"));
        QCOMPARE(nameAt(60, 120), QStringLiteral("Label2"));
        QCOMPARE(nameAt(540, 10), QStringLiteral("(form)"));
        QCOMPARE(nameAt(230, 480), QStringLiteral("MMControl1"));
        for (int i = 0; i <= 4; ++i)
            m_form->image(u"Image1", i).setTop(3000);
        m_form->textBox(u"Text1").setVisible(false);
        QCOMPARE(nameAt(40, 230), QStringLiteral("Image1(4)"));
        m_form->image(u"Image1", 4).setVisible(false);
        // An opaque pixel of the elf, right of the narrower Image1(3).
        const QImage elf(QStringLiteral(":/form1/character2.gif"));
        QPoint opaque(-1, -1);
        for (int y = 0; y < elf.height() && opaque.x() < 0; ++y)
            for (int x = 45; x < elf.width() && opaque.x() < 0; ++x)
                if (qAlpha(elf.pixel(x, y)) == 255)
                    opaque = QPoint(x + 8, y + 200);
        QVERIFY(opaque.x() >= 0);
        QCOMPARE(nameAt(opaque.x(), opaque.y()), QStringLiteral("Image1(2)"));
        m_form->image(u"Image1", 2).setVisible(false);
        QCOMPARE(nameAt(opaque.x(), opaque.y()), QStringLiteral("Image1(1)"));
    }

    void theInstructionsWrapInsideTheirLabel() {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(runtime::FormHost::window(*m_form)));
        auto* label2 = widget<QLabel>("Label2");
        QCOMPARE(label2->geometry(), QRect(48, 112, 473, 65));
        const QImage shot = runtime::FormHost::grabClientArea(*m_form);
        int reddest = -1, lowest = -1, highest = 1000;
        for (int y = 90; y < 190; ++y) // between the score box and the title figure
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (c.red() > 200 && c.green() < 80 && c.blue() < 80) {
                    reddest = std::max(reddest, x);
                    lowest = std::max(lowest, y);
                    highest = std::min(highest, y);
                }
            }
        QVERIFY2(reddest >= 400 && reddest < 48 + 473, qPrintable(QString::number(reddest)));
        QVERIFY(highest >= 112 && lowest < 112 + 65);
        QVERIFY2(lowest - highest > 2 * 19, "the caption wraps onto at least three lines");
    }
};

QTEST_MAIN(FormDefinitionTest)
#include "FormDefinitionTest.moc"
