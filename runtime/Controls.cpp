#include "ControlHost.h"

#include "ClientArea.h"
#include "Clipboard.h"
#include "FrameClock.h"
#include "ImageWidget.h"

#include <runtime/Fonts.h>
#include <runtime/Twips.h>

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>

#include <cmath>
#include <limits>

namespace runtime {
namespace {

QColor colourOf(Colour bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

void applyColours(QWidget* widget, const ControlDefinition& definition, QPalette::ColorRole fore,
                  QPalette::ColorRole back) {
    QPalette palette = widget->palette();
    if (definition.foreColour)
        palette.setColor(fore, colourOf(*definition.foreColour));
    if (definition.backColour)
        palette.setColor(back, colourOf(*definition.backColour));
    widget->setPalette(palette);
    if (definition.font)
        widget->setFont(fontOf(*definition.font));
}

} // namespace

Control::Control(ControlKind kind, const char* name, int index, Dispatcher& dispatcher)
    : m_kind(kind), m_name(QString::fromUtf8(name)), m_index(index), m_dispatcher(dispatcher) {}

Control::~Control() = default;

QString Control::displayName() const {
    return m_index < 0 ? m_name : QStringLiteral("%1(%2)").arg(m_name).arg(m_index);
}

VisualControl::VisualControl(const ControlDefinition& definition, Dispatcher& dispatcher,
                             FrameClock& clock)
    : Control(definition.kind, definition.name, definition.index, dispatcher),
      m_left(definition.left), m_top(definition.top), m_width(definition.width),
      m_height(definition.height), m_tabIndex(definition.tabIndex), m_clock(clock),
      m_accessibleName(definition.accessibleName) {}

float VisualControl::storeSingle(double value, const char* property) const {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        throw RuntimeError(
            ErrorNumber::Overflow,
            QStringLiteral("Overflow: %1.%2").arg(displayName(), QLatin1String(property)));
    return static_cast<float>(value);
}

float VisualControl::storeSize(double value, const char* property) const {
    if (value < 0)
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Invalid property value: %1.%2 = %3")
                               .arg(displayName(), QLatin1String(property))
                               .arg(value));
    return storeSingle(value, property);
}

void VisualControl::setLeft(double twips) {
    m_left = storeSingle(twips, "Left");
    moved();
}

void VisualControl::setTop(double twips) {
    m_top = storeSingle(twips, "Top");
    moved();
}

void VisualControl::setWidth(double twips) {
    m_width = storeSize(twips, "Width");
    moved();
}

void VisualControl::setHeight(double twips) {
    m_height = storeSize(twips, "Height");
    moved();
}

void VisualControl::setVisible(bool visible) {
    m_visible = visible;
    changed();
    if (m_widget)
        ControlHost::widget(*this)->setVisible(visible);
}

QRect VisualControl::pixelRect() const {
    const int x = toPixels(m_left);
    const int y = toPixels(m_top);
    return QRect(x, y, toPixels(double(m_left) + m_width) - x,
                 toPixels(double(m_top) + m_height) - y);
}

bool VisualControl::hitAt(QPoint pixel) const {
    return m_visible && pixelRect().contains(pixel);
}

void VisualControl::changed() {
    m_clock.changed();
}

void VisualControl::moved() {
    if (m_widget)
        m_clock.moved(*this);
}

QWidget* ControlHost::widget(const VisualControl& control) {
    return static_cast<QWidget*>(control.m_widget);
}

ImageWidget& ControlHost::picture(const Image& image) {
    return *static_cast<ImageWidget*>(image.m_widget);
}

bool ControlHost::markMoved(VisualControl& control) {
    return !std::exchange(control.m_moved, true);
}

void ControlHost::place(VisualControl& control) {
    control.m_moved = false;
    const QRect rect = control.pixelRect();
    // A move of less than a pixel, or one undone within the frame, costs the widget nothing.
    if (control.m_widget && rect != std::exchange(control.m_placed, rect))
        moveWidget(control, rect);
}

void ControlHost::attach(VisualControl& control, QWidget* widget) {
    control.m_widget = widget;
    if (control.m_accessibleName)
        widget->setAccessibleName(QString::fromUtf8(control.m_accessibleName));
    place(control);
}

Image::Image(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock,
             ClientArea& client)
    : VisualControl(definition, dispatcher, clock) {
    auto* picture =
        new ImageWidget(*this, QString::fromUtf8(definition.picture), definition.stretch, &client);
    picture->setObjectName(displayName());
    ControlHost::attach(*this, picture);
}

Image::~Image() {
    // The client area outlives the controls: what assistive technology asks of the picture
    // meanwhile no longer reaches the control.
    ControlHost::picture(*this).detach();
}

bool Image::stretch() const {
    return ControlHost::picture(*this).stretch();
}

bool Image::hitAt(QPoint pixel) const {
    return VisualControl::hitAt(pixel) &&
           ControlHost::picture(*this).opaqueAt(pixel - pixelRect().topLeft());
}

void Image::click() {
    dispatcher().enter(m_onClick);
}

Label::Label(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock,
             ClientArea& client)
    : VisualControl(definition, dispatcher, clock) {
    auto* label = new QLabel(&client);
    label->setObjectName(displayName());
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    applyColours(label, definition, QPalette::WindowText, QPalette::Window);
    label->setText(QString::fromUtf8(definition.caption));
    ControlHost::attach(*this, label);
}

QString Label::caption() const {
    return static_cast<QLabel*>(ControlHost::widget(*this))->text();
}
void Label::setCaption(const QString& caption) {
    changed();
    static_cast<QLabel*>(ControlHost::widget(*this))->setText(caption);
}

TextBox::TextBox(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock,
                 ClientArea& client)
    : VisualControl(definition, dispatcher, clock) {
    auto* edit = new QLineEdit(&client);
    edit->setObjectName(displayName());
    // A line edit lays out its whole text again on every blink of the caret, so a pasted
    // megabyte keeps a core busy. 4096 characters hold any number a player may mean: the score
    // is written as at most 310 characters (the digits of the largest double and a sign), and
    // the longest exact decimal of a double, the smallest subnormal written out, has 1076.
    edit->setMaxLength(4096);
    pasteWithoutWaiting(edit);
    applyColours(edit, definition, QPalette::Text, QPalette::Base);
    edit->setText(QString::fromUtf8(definition.caption));
    ControlHost::attach(*this, edit);
}

QString TextBox::text() const {
    return static_cast<QLineEdit*>(ControlHost::widget(*this))->text();
}
void TextBox::setText(const QString& text) {
    changed();
    static_cast<QLineEdit*>(ControlHost::widget(*this))->setText(text);
}

Timer::Timer(const ControlDefinition& definition, Dispatcher& dispatcher, FrameClock& clock)
    : Control(definition.kind, definition.name, definition.index, dispatcher),
      m_interval(definition.interval), m_clock(clock) {
    m_clock.schedule(*this, m_interval);
}

Timer::~Timer() {
    m_clock.unschedule(*this);
}

void Timer::setInterval(int milliseconds) {
    if (milliseconds < 0)
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Invalid property value: %1.Interval = %2")
                               .arg(displayName())
                               .arg(milliseconds));
    m_interval = milliseconds;
    m_clock.schedule(*this, m_interval);
}

void Timer::fire() {
    dispatcher().enter(m_onTimer);
}

MenuEntry::MenuEntry(const MenuEntryDefinition& definition, Dispatcher& dispatcher)
    : Control(ControlKind::MenuEntry, definition.name, -1, dispatcher),
      m_caption(QString::fromUtf8(definition.caption)) {}

void MenuEntry::trigger() {
    dispatcher().enter(m_onClick);
}

MultimediaControl::MultimediaControl(const ControlDefinition& definition, Dispatcher& dispatcher,
                                     FrameClock& clock)
    : VisualControl(definition, dispatcher, clock) {}

MultimediaControl::~MultimediaControl() = default;

MultimediaDevice& MultimediaControl::device() const {
    if (!m_device)
        throw RuntimeError(ErrorNumber::InvalidProcedureCall,
                           QStringLiteral("%1 has no device").arg(displayName()));
    return *m_device;
}

void MultimediaControl::setDeviceType(const QString& deviceType) {
    changed();
    device().setDeviceType(deviceType);
}

void MultimediaControl::setCommand(const QString& command) {
    changed();
    device().setCommand(command);
}

} // namespace runtime
