#include "Form1.h"

#include "Form1Definition.h"
#include "Taunts.h"

#include <MMControl.h>
#include <runtime/Conversions.h>

#include <algorithm>
#include <array>

namespace {

// One character's flight: the timer that moves it, that timer's interval in the form's
// milliseconds (each lasts one frame of the clock), and what a tick does to it in twips.
struct Flight {
    int timer;
    int interval;
    double rise = 65;
    double drift = 100;
    double narrowing = 10;
    double flattening = 8;
};

// Load sets the timers going in this order, which is also the order in which timers due in the
// same frame tick.
constexpr std::array kFlights{
    Flight{.timer = 1, .interval = 1}, // Image1(0)
    Flight{.timer = 2, .interval = 5}, // Image1(1)
    Flight{.timer = 3, .interval = 2}, // Image1(2)
    Flight{.timer = 4, .interval = 3}, // Image1(3)
    Flight{.timer = 5, .interval = 4}, // Image1(4)
};

} // namespace

Form1::Form1() : Form1(sound::makeGameSound()) {}

Form1::Form1(std::unique_ptr<runtime::MultimediaDevice> sound) : m_form(form::form1Definition()) {
    MMControl1().attach(std::move(sound));
    m_form.onLoad([this] { Form_Load(); });
    m_form.menuEntry(u"MenuStart").onClick([this] { MenuStart_Click(); });
    m_form.menuEntry(u"MenuEnd").onClick([this] { MenuEnd_Click(); });
    Timer(1).onTimer([this] { Timer1_Timer(); });
    Timer(2).onTimer([this] { Timer2_Timer(); });
    Timer(3).onTimer([this] { Timer3_Timer(); });
    Timer(4).onTimer([this] { Timer4_Timer(); });
    Timer(5).onTimer([this] { Timer5_Timer(); });
    for (std::int16_t index = 0; index <= 4; ++index)
        Image1(index).onClick([this, index] { Image1_Click(index); });
}

runtime::Timer& Form1::Timer(int number) {
    return m_form.timer(QStringLiteral("Timer%1").arg(number));
}

void Form1::Form_Load() {
    for (int i = 0; i <= 4; ++i)
        Image1(i).setTop(m_form.scaleHeight());
    for (const Flight& flight : kFlights)
        Timer(flight.timer).setInterval(flight.interval);
    MMControl1().setDeviceType(QStringLiteral("WaveAudio"));
    MMControl1().setCommand(QStringLiteral("Open"));
}

void Form1::MenuStart_Click() {
    startFlag = 1;
    MMControl1().setCommand(QStringLiteral("Prev"));
    MMControl1().setCommand(QStringLiteral("Play"));
    Label2().setVisible(false);
    Image2().setVisible(false);
}

void Form1::MenuEnd_Click() {
    m_form.dispatcher().endProgram(0);
}

void Form1::Timer1_Timer() {
    fly(1);
}
void Form1::Timer2_Timer() {
    fly(2);
}
void Form1::Timer3_Timer() {
    fly(3);
}
void Form1::Timer4_Timer() {
    fly(4);
}
void Form1::Timer5_Timer() {
    fly(5);
}

void Form1::fly(int timer) {
    if (startFlag != 1)
        return;
    const auto flight = std::ranges::find(kFlights, timer, &Flight::timer);
    runtime::Image& character = Image1(int(flight - kFlights.begin()));
    character.setTop(double(character.top()) - flight->rise);
    character.setLeft(double(character.left()) + flight->drift);
    // A size cannot go below zero: the character shrinks to nothing and flies on unseen.
    character.setWidth(std::max(0.0, double(character.width()) - flight->narrowing));
    character.setHeight(std::max(0.0, double(character.height()) - flight->flattening));
}

void Form1::Image1_Click(std::int16_t) {
    runtime::TextBox& score = Text1();
    const QString written = runtime::numberText(runtime::lenientNumber(score.text()) + 1);
    score.setText(written);
    const double scored = runtime::strictNumber(written);
    for (const game::Taunt& taunt : game::kTaunts)
        if (scored == taunt.score)
            Label1().setCaption(QString::fromUtf16(taunt.text));
}
