#pragma once

#include <runtime/Controls.h>

#include <QRect>

class QWidget;

namespace runtime {

class ImageWidget;

// What the runtime's own machinery reaches inside a control and the game may not: the widget
// behind it, its rectangle in pixels, and placing it once a frame.
class ControlHost {
public:
    static QWidget* widget(const VisualControl& control);
    static ImageWidget& picture(const Image& image);
    static QRect pixelRect(const VisualControl& control) { return control.pixelRect(); }
    // Where the widget stands now, which may lag the twips until the end of the frame.
    static QRect placedRect(const VisualControl& control) { return control.m_placed; }
    static int tabIndex(const VisualControl& control) { return control.m_tabIndex; }
    static bool hitAt(const VisualControl& control, QPoint pixel) { return control.hitAt(pixel); }
    // Marks the control as moved since it was last placed; false if it already was.
    static bool markMoved(VisualControl& control);
    // Puts the widget where the twips say, if that is somewhere else in pixels.
    static void place(VisualControl& control);
    static void attach(VisualControl& control, QWidget* widget);
    // Sets the widget's geometry, and tells assistive technology of a picture that comes into
    // the client area or leaves it by the move.
    static void moveWidget(VisualControl& control, QRect rect);
    // Whether the player can see any of the control: shown, of some size, and some of it
    // inside the client area, where its widget is drawn.
    static bool showing(const VisualControl& control);
    // Whether assistive technology may press the picture: it has a Click handler and it is
    // showing.
    static bool pressable(const Image& image);
    // Assistive technology presses the picture: a left click on it, if it may be pressed
    // once the clock has caught up as it does at input; otherwise nothing at all.
    static void press(Image& image);
};

} // namespace runtime
