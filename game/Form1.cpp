#include "Form1.h"

#include "Form1Definition.h"

#include <MMControl.h>
#include <runtime/Conversions.h>

#include <algorithm>
#include <array>

namespace {

// One tick of flight, in twips: up, to the right, narrower, flatter.
constexpr double kRise = 65;
constexpr double kDrift = 100;
constexpr double kNarrowing = 10;
constexpr double kFlattening = 8;

struct Taunt {
    double score;
    const char16_t* text;
};

constexpr std::array kTaunts{
    Taunt{1, u"お前なんか俺の敵じゃねぇ"},
    Taunt{5, u"ちゃんと目ひらいてる？"},
    Taunt{8, u"やる気ないだろお前"},
    Taunt{12, u"まだまだだね"},
    Taunt{15, u"痛くもかゆくもない"},
    Taunt{20, u"うっ・・・"},
    Taunt{25, u"燃え尽きたぜ"},
};

} // namespace

Form1::Form1() : Form1(sound::makeGameSound(), runtime::FormOptions{}) {}

Form1::Form1(std::unique_ptr<runtime::MultimediaDevice> sound, runtime::FormOptions options)
    : m_form(form::form1Definition(), options) {
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
    Timer(1).setInterval(1);
    Timer(2).setInterval(5);
    Timer(3).setInterval(2);
    Timer(4).setInterval(3);
    Timer(5).setInterval(4);
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
    fly(Image1(0));
}
void Form1::Timer2_Timer() {
    fly(Image1(1));
}
void Form1::Timer3_Timer() {
    fly(Image1(2));
}
void Form1::Timer4_Timer() {
    fly(Image1(3));
}
void Form1::Timer5_Timer() {
    fly(Image1(4));
}

void Form1::fly(runtime::Image& character) {
    if (startFlag != 1)
        return;
    character.setTop(double(character.top()) - kRise);
    character.setLeft(double(character.left()) + kDrift);
    // A size cannot go below zero: the character shrinks to nothing and flies on unseen.
    character.setWidth(std::max(0.0, double(character.width()) - kNarrowing));
    character.setHeight(std::max(0.0, double(character.height()) - kFlattening));
}

void Form1::Image1_Click(std::int16_t) {
    runtime::TextBox& score = Text1();
    const QString written = runtime::numberText(runtime::lenientNumber(score.text()) + 1);
    score.setText(written);
    const double scored = runtime::strictNumber(written);
    for (const Taunt& taunt : kTaunts)
        if (scored == taunt.score)
            Label1().setCaption(QString::fromUtf16(taunt.text));
}
