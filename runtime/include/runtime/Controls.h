#pragma once

#include <runtime/Dispatcher.h>
#include <runtime/FormDefinition.h>

#include <QPoint>
#include <QRect>
#include <QString>

#include <memory>

class QObject;

// The controls a form is made of. Each exposes only the properties and events the game uses, in
// the form's units: twips as float, texts as QString. Only the form builds them; the Qt objects
// behind them stay out of reach of the game.
namespace runtime {

class ClientArea;
class ControlHost;
class FrameClock;

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
// control has one) follows it once per frame.
class VisualControl : public Control {
public:
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

protected:
    VisualControl(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock);
    // The rectangle in logical pixels of the client area.
    QRect pixelRect() const;
    // A property the player may see or hear was written: the clock leaves its idle pace.
    void changed();
    // Whether a click at this client-area pixel lands on this control.
    virtual bool hitAt(QPoint pixel) const;

private:
    friend class Form;
    friend class ControlHost;

    float storeSingle(double value, const char* property) const;
    float storeSize(double value, const char* property) const;
    void moved();

    float m_left;
    float m_top;
    float m_width;
    float m_height;
    bool m_visible = true;
    int m_tabIndex;
    FrameClock& m_clock;
    QObject* m_widget = nullptr; // the widget, owned by the client area
    QRect m_placed;
    bool m_moved = false;
    const char* m_accessibleName;
};

class Image : public VisualControl {
public:
    ~Image() override;

    bool stretch() const;

    void onClick(Dispatcher::Handler handler) { m_onClick = std::move(handler); }
    // A click on the control, as the player makes it: enters the Click handler.
    void click();

private:
    friend class Form;
    friend class ControlHost;
    Image(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock,
          ClientArea& client);
    bool hitAt(QPoint pixel) const override;

    Dispatcher::Handler m_onClick;
};

class Label : public VisualControl {
public:
    QString caption() const;
    void setCaption(const QString& caption);

private:
    friend class Form;
    Label(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock,
          ClientArea& client);
};

class TextBox : public VisualControl {
public:
    QString text() const;
    void setText(const QString& text);

private:
    friend class Form;
    TextBox(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock,
            ClientArea& client);
};

// Ticks on the form's frame clock: a timer of n milliseconds ticks on every n-th frame.
class Timer : public Control {
public:
    ~Timer() override;

    int interval() const { return m_interval; }
    // 0 stops the timer; a negative interval is an InvalidPropertyValue.
    void setInterval(int milliseconds);

    void onTimer(Dispatcher::Handler handler) { m_onTimer = std::move(handler); }
    // One tick, as the clock would deliver it: enters the Timer handler.
    void fire();

private:
    friend class Form;
    Timer(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock);

    int m_interval;
    FrameClock& m_clock;
    Dispatcher::Handler m_onTimer;
};

class MenuEntry : public Control {
public:
    const QString& caption() const { return m_caption; }
    void onClick(Dispatcher::Handler handler) { m_onClick = std::move(handler); }
    // The player chooses the entry: enters the Click handler.
    void trigger();

private:
    friend class Form;
    MenuEntry(const MenuEntryDefinition& definition, Dispatcher& dispatcher);

    QString m_caption;
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
    ~MultimediaControl() override;

    void attach(std::unique_ptr<MultimediaDevice> device) { m_device = std::move(device); }
    void setDeviceType(const QString& deviceType);
    void setCommand(const QString& command);

private:
    friend class Form;
    MultimediaControl(const ControlDefinition& definition, Dispatcher& dispatcher,
                      FrameClock& clock);
    MultimediaDevice& device() const;

    std::unique_ptr<MultimediaDevice> m_device;
};

} // namespace runtime
