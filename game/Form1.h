#pragma once

#include <runtime/Form.h>

#include <cstdint>
#include <memory>

// The game: the window's event handlers and its one flag. Each handler is a short straight
// sequence of property reads and writes on named controls.
class Form1 {
public:
    // The game as it is played, with its tune.
    Form1();
    // The game with another sound device behind MMControl1.
    explicit Form1(std::unique_ptr<runtime::MultimediaDevice> sound);

    runtime::Form& form() { return m_form; }
    std::int16_t startFlagValue() const { return startFlag; }

private:
    void Form_Load();
    void MenuStart_Click();
    void MenuEnd_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void Timer5_Timer();
    void Image1_Click(std::int16_t Index);

    // The one step a timer takes with its own character.
    void fly(int timer);

    runtime::Image& Image1(int index) { return m_form.image(u"Image1", index); }
    runtime::Image& Image2() { return m_form.image(u"Image2"); }
    runtime::Label& Label1() { return m_form.label(u"Label1"); }
    runtime::Label& Label2() { return m_form.label(u"Label2"); }
    runtime::TextBox& Text1() { return m_form.textBox(u"Text1"); }
    runtime::Timer& Timer(int number);
    runtime::MultimediaControl& MMControl1() { return m_form.multimedia(u"MMControl1"); }

    runtime::Form m_form;
    std::int16_t startFlag = 0;
};
