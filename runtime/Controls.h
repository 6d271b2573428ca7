#pragma once

#include "Dispatcher.h"
#include "FormDefinition.h"

#include <QPoint>
#include <QRect>
#include <QString>

#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QTimer;
class QWidget;

// The controls a form is made of. Each owns (or points at) its Qt object and exposes only the
// properties the game uses, in the form's units: twips as float, texts as QString.
namespace runtime {

class ImageWidget;

class Control {
public:
    Control(ControlKind kind, const char* name, int index, Dispatcher& dispatcher);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    ControlKind kind() const { return m_kind; }
    const QString& name() const { return m_name; }
    int index() const { return m_index; }
    // "Image1(3)" for an array element, "Text1" otherwise: the name error reports use.
    QString displayName() const;

protected:
    Dispatcher& dispatcher() const { return m_dispatcher; }

private:
    ControlKind m_kind;
    QString m_name;
    int m_index;
    Dispatcher& m_dispatcher;
};

// A control with a place on the form. The geometry lives here, in twips; the widget (if the
// control has one) is placed from it.
class VisualControl : public Control {
public:
    VisualControl(const ControlDefinition& definition, Dispatcher& dispatcher);

    float left() const { return m_left; }
    float top() const { return m_top; }
    float width() const { return m_width; }
    float height() const { return m_height; }
    // The value is computed in double and stored as float; a value a float cannot hold is an
    // Overflow, a negative size an InvalidPropertyValue.
    void setLeft(double twips);
    void setTop(double twips);
    void setWidth(double twips);
    void setHeight(double twips);

    bool visible() const { return m_visible; }
    void setVisible(bool visible);

    // The rectangle in logical pixels of the client area.
    QRect pixelRect() const;
    // Whether a click at this client-area pixel lands on this control.
    virtual bool hitAt(QPoint pixel) const;
    // Puts the control's widget above its siblings.
    void raise();

protected:
    void setWidget(QWidget* widget);
    QWidget* widget() const { return m_widget; }

private:
    float storeSingle(double value, const char* property) const;
    float storeSize(double value, const char* property) const;
    void place();

    float m_left;
    float m_top;
    float m_width;
    float m_height;
    bool m_visible = true;
    QWidget* m_widget = nullptr;
    const char* m_accessibleName;
};

class Image : public VisualControl {
public:
    Image(const ControlDefinition& definition, Dispatcher& dispatcher, QWidget* parent);
    ~Image() override;

    bool stretch() const;
    QSize pictureSize() const;
    int frameCount() const;
    bool hitAt(QPoint pixel) const override;

    void onClick(Dispatcher::Handler handler) { m_onClick = std::move(handler); }
    // A click on the control, as the player makes it: enters the Click handler.
    void click();

private:
    ImageWidget* m_picture;
    Dispatcher::Handler m_onClick;
};

class Label : public VisualControl {
public:
    Label(const ControlDefinition& definition, Dispatcher& dispatcher, QWidget* parent);

    QString caption() const;
    void setCaption(const QString& caption);

private:
    QLabel* m_label;
};

class TextBox : public VisualControl {
public:
    TextBox(const ControlDefinition& definition, Dispatcher& dispatcher, QWidget* parent);

    QString text() const;
    void setText(const QString& text);

private:
    QLineEdit* m_edit;
};

// The stretched clock: desktop timers cannot deliver ticks of 1 to 5 ms faithfully, and a
// character crossing the window in 83 ms could not be played. One millisecond of the form's
// clock lasts one 60 Hz frame, which keeps the designed ratio of the five speeds.
inline constexpr int kRealMsPerFormMs = 16;

class Timer : public Control {
public:
    Timer(const ControlDefinition& definition, Dispatcher& dispatcher, bool realClock);
    ~Timer() override;

    int interval() const { return m_interval; }
    // Real milliseconds between two ticks on the stretched clock; 0 when it does not tick.
    int periodMs() const { return m_interval > 0 ? m_interval * kRealMsPerFormMs : 0; }
    // 0 stops the timer; a negative interval is an InvalidPropertyValue.
    void setInterval(int milliseconds);
    void stop();

    void onTimer(Dispatcher::Handler handler) { m_onTimer = std::move(handler); }
    // One tick, as the clock would deliver it: enters the Timer handler.
    void fire();

private:
    void restart();

    int m_interval;
    bool m_realClock;
    std::unique_ptr<QTimer> m_timer;
    Dispatcher::Handler m_onTimer;
};

class MenuEntry : public Control {
public:
    MenuEntry(const MenuEntryDefinition& definition, Dispatcher& dispatcher, QAction* action);

    QString caption() const;
    void onClick(Dispatcher::Handler handler) { m_onClick = std::move(handler); }
    // The player chooses the entry: enters the Click handler.
    void trigger();

private:
    QAction* m_action;
    Dispatcher::Handler m_onClick;
};

// What stands behind a multimedia control: it receives the string properties the game writes
// and carries each out at the write. It may throw RuntimeError for what it does not know.
class MultimediaDevice {
public:
    virtual ~MultimediaDevice() = default;
    virtual void setDeviceType(const QString& deviceType) = 0;
    virtual void setCommand(const QString& command) = 0;
};

// Draws nothing: the form keeps it below its client area, and the game never shows its buttons.
class MultimediaControl : public VisualControl {
public:
    MultimediaControl(const ControlDefinition& definition, Dispatcher& dispatcher);
    ~MultimediaControl() override;

    void attach(std::unique_ptr<MultimediaDevice> device) { m_device = std::move(device); }
    void setDeviceType(const QString& deviceType);
    void setCommand(const QString& command);

private:
    MultimediaDevice& device() const;

    std::unique_ptr<MultimediaDevice> m_device;
};

} // namespace runtime
