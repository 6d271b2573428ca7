#include "Controls.h"

#include "ImageWidget.h"
#include "Twips.h"

#include <QAction>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QTimer>

#include <cmath>
#include <limits>

namespace runtime {
namespace {

QColor colourOf(Colour bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

// Font sizes are points at the form's 96 dpi, so a pixel size keeps text and twips in step on
// any screen.
QFont fontOf(const FontDefinition& definition) {
    QFont font(QString::fromUtf8(definition.face));
    font.setPixelSize(int(std::lround(definition.points * 96.0 / 72.0)));
    font.setWeight(QFont::Weight(definition.weight));
    return font;
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

VisualControl::VisualControl(const ControlDefinition& definition, Dispatcher& dispatcher)
    : Control(definition.kind, definition.name, definition.index, dispatcher),
      m_left(definition.left), m_top(definition.top), m_width(definition.width),
      m_height(definition.height) {}

float VisualControl::storeSingle(double value, const char* property) const {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        throw RuntimeError(ErrorNumber::Overflow,
                           QStringLiteral("Overflow: %1.%2").arg(displayName(), property));
    return static_cast<float>(value);
}

float VisualControl::storeSize(double value, const char* property) const {
    if (value < 0)
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Invalid property value: %1.%2 = %3")
                               .arg(displayName(), property)
                               .arg(value));
    return storeSingle(value, property);
}

void VisualControl::setLeft(double twips) {
    m_left = storeSingle(twips, "Left");
    place();
}

void VisualControl::setTop(double twips) {
    m_top = storeSingle(twips, "Top");
    place();
}

void VisualControl::setWidth(double twips) {
    m_width = storeSize(twips, "Width");
    place();
}

void VisualControl::setHeight(double twips) {
    m_height = storeSize(twips, "Height");
    place();
}

void VisualControl::setVisible(bool visible) {
    m_visible = visible;
    if (m_widget)
        m_widget->setVisible(visible);
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

void VisualControl::raise() {
    if (m_widget)
        m_widget->raise();
}

void VisualControl::setWidget(QWidget* widget) {
    m_widget = widget;
    place();
}

void VisualControl::place() {
    if (m_widget)
        m_widget->setGeometry(pixelRect());
}

Image::Image(const ControlDefinition& definition, Dispatcher& dispatcher, QWidget* parent)
    : VisualControl(definition, dispatcher),
      m_picture(
          new ImageWidget(QString::fromUtf8(definition.picture), definition.stretch, parent)) {
    m_picture->setObjectName(displayName());
    setWidget(m_picture);
}

Image::~Image() = default;

bool Image::stretch() const {
    return m_picture->stretch();
}
QSize Image::pictureSize() const {
    return m_picture->pictureSize();
}
int Image::frameCount() const {
    return m_picture->frameCount();
}

bool Image::hitAt(QPoint pixel) const {
    return VisualControl::hitAt(pixel) && m_picture->opaqueAt(pixel - pixelRect().topLeft());
}

void Image::click() {
    dispatcher().enter(m_onClick);
}

Label::Label(const ControlDefinition& definition, Dispatcher& dispatcher, QWidget* parent)
    : VisualControl(definition, dispatcher), m_label(new QLabel(parent)) {
    m_label->setObjectName(displayName());
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    applyColours(m_label, definition, QPalette::WindowText, QPalette::Window);
    m_label->setText(QString::fromUtf8(definition.caption));
    setWidget(m_label);
}

QString Label::caption() const {
    return m_label->text();
}
void Label::setCaption(const QString& caption) {
    m_label->setText(caption);
}

TextBox::TextBox(const ControlDefinition& definition, Dispatcher& dispatcher, QWidget* parent)
    : VisualControl(definition, dispatcher), m_edit(new QLineEdit(parent)) {
    m_edit->setObjectName(displayName());
    // A line edit lays out its whole text again on every blink of the caret, so a pasted
    // megabyte keeps a core busy. 4096 characters hold any number a player may mean: the score
    // is written as at most 310 characters (the digits of the largest double and a sign), and
    // the longest exact decimal of a double, the smallest subnormal written out, has 1076.
    m_edit->setMaxLength(4096);
    applyColours(m_edit, definition, QPalette::Text, QPalette::Base);
    m_edit->setText(QString::fromUtf8(definition.caption));
    setWidget(m_edit);
}

QString TextBox::text() const {
    return m_edit->text();
}
void TextBox::setText(const QString& text) {
    m_edit->setText(text);
}

Timer::Timer(const ControlDefinition& definition, Dispatcher& dispatcher, bool realClock)
    : Control(definition.kind, definition.name, definition.index, dispatcher),
      m_interval(definition.interval), m_realClock(realClock), m_timer(std::make_unique<QTimer>()) {
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { fire(); });
    restart();
}

Timer::~Timer() = default;

void Timer::setInterval(int milliseconds) {
    if (milliseconds < 0)
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Invalid property value: %1.Interval = %2")
                               .arg(displayName())
                               .arg(milliseconds));
    m_interval = milliseconds;
    restart();
}

void Timer::stop() {
    m_realClock = false;
    m_timer->stop();
}

void Timer::restart() {
    if (m_realClock && m_interval > 0)
        m_timer->start(periodMs());
    else
        m_timer->stop();
}

void Timer::fire() {
    dispatcher().enter(m_onTimer);
}

MenuEntry::MenuEntry(const MenuEntryDefinition& definition, Dispatcher& dispatcher, QAction* action)
    : Control(ControlKind::MenuEntry, definition.name, -1, dispatcher), m_action(action) {
    QObject::connect(m_action, &QAction::triggered, [this] { trigger(); });
}

QString MenuEntry::caption() const {
    return m_action->text();
}

void MenuEntry::trigger() {
    dispatcher().enter(m_onClick);
}

MultimediaControl::MultimediaControl(const ControlDefinition& definition, Dispatcher& dispatcher)
    : VisualControl(definition, dispatcher) {}

MultimediaControl::~MultimediaControl() = default;

MultimediaDevice& MultimediaControl::device() const {
    if (!m_device)
        throw RuntimeError(ErrorNumber::InvalidProcedureCall,
                           QStringLiteral("%1 has no device").arg(displayName()));
    return *m_device;
}

void MultimediaControl::setDeviceType(const QString& deviceType) {
    device().setDeviceType(deviceType);
}

void MultimediaControl::setCommand(const QString& command) {
    device().setCommand(command);
}

} // namespace runtime
