#include "Form.h"

#include "FormWindow.h"
#include "Twips.h"

#include <QCloseEvent>
#include <QFont>
#include <QImage>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <utility>

namespace runtime {
namespace {

// Face names of form definitions made for another platform, and the installed faces with
// the same metrics that stand in for them.
// Installed Japanese proportional gothics with the metrics of the forms' own face, best first.
QStringList japaneseGothics() {
    return {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")};
}

void installFaceSubstitutes() {
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), japaneseGothics());
}

// Menus of a Japanese form are drawn in the same gothic as its texts, as a Japanese desktop
// would; otherwise a second Japanese font is mapped only for the menu's glyphs.
void useJapaneseGothic(QWidget* widget) {
    QFont font = widget->font();
    font.setFamilies(japaneseGothics());
    widget->setFont(font);
}

bool isWindowBacked(ControlKind kind) {
    return kind == ControlKind::TextBox || kind == ControlKind::Multimedia;
}

} // namespace

ClientArea::ClientArea(Form& form, const QString& picture, QSize designSize, QWidget* parent)
    : QWidget(parent), m_form(form), m_decoding(decodePicture(picture)), m_designSize(designSize) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(designSize);
}

const QPixmap& ClientArea::background() {
    if (m_decoding.valid())
        m_picture = QPixmap::fromImage(m_decoding.get().still);
    return m_picture;
}

void ClientArea::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QPixmap& pixmap = background();
    const QRect picture(QPoint(0, 0), pixmap.deviceIndependentSize().toSize());
    if (event->region().intersects(picture))
        painter.drawPixmap(0, 0, pixmap);
    // Beyond the picture, in an enlarged window, the window colour shows.
    for (const QRect& rect : event->region() - picture)
        painter.fillRect(rect, palette().window());
}

void ClientArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_form.mousePress(event->position().toPoint());
}

void ClientArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_form.mouseRelease(event->position().toPoint());
}

FormWindow::FormWindow(Form& form) : m_form(form) {}

void FormWindow::closeEvent(QCloseEvent* event) {
    m_form.dispatcher().endProgram(0);
    event->accept();
}

void FormWindow::resizeEvent(QResizeEvent* event) {
    // Only a window manager holds other clients to the maximum size; a window sized past it
    // without one is put back before its backing store and its paint grow with it.
    const QSize bounded = event->size().boundedTo(maximumSize());
    if (bounded != event->size()) {
        resize(bounded);
        return;
    }
    QMainWindow::resizeEvent(event);
}

Form::Form(const FormDefinition& definition, FormOptions options)
    : m_window(std::make_unique<FormWindow>(*this)) {
    installFaceSubstitutes();
    m_window->setObjectName(QString::fromUtf8(definition.name));
    m_window->setWindowTitle(QString::fromUtf8(definition.caption));

    const QSize designSize(toPixels(definition.clientWidth), toPixels(definition.clientHeight));
    auto* client =
        new ClientArea(*this, QString::fromUtf8(definition.picture), designSize, m_window.get());
    m_window->setCentralWidget(client);

    useJapaneseGothic(m_window->menuBar());
    for (const MenuDefinition& menu : definition.menus) {
        QMenu* qmenu = m_window->menuBar()->addMenu(QString::fromUtf8(menu.caption));
        qmenu->setObjectName(QString::fromUtf8(menu.name));
        useJapaneseGothic(qmenu);
        for (const MenuEntryDefinition& entry : menu.entries) {
            QAction* action = qmenu->addAction(QString::fromUtf8(entry.caption));
            action->setObjectName(QString::fromUtf8(entry.name));
            m_controls.push_back(std::make_unique<MenuEntry>(entry, m_dispatcher, action));
        }
    }

    for (const ControlDefinition& control : definition.controls) {
        switch (control.kind) {
        case ControlKind::Image:
            m_controls.push_back(std::make_unique<Image>(control, m_dispatcher, client));
            break;
        case ControlKind::Label:
            m_controls.push_back(std::make_unique<Label>(control, m_dispatcher, client));
            break;
        case ControlKind::TextBox:
            m_controls.push_back(std::make_unique<TextBox>(control, m_dispatcher, client));
            break;
        case ControlKind::Timer:
            m_controls.push_back(
                std::make_unique<Timer>(control, m_dispatcher, options.realTimers));
            break;
        case ControlKind::Multimedia:
            m_controls.push_back(std::make_unique<MultimediaControl>(control, m_dispatcher));
            break;
        case ControlKind::MenuEntry:
            break; // entries come from the menus
        }
    }

    // Stacking: the first control created lies on top; window-backed ones above all others.
    for (const bool windowBacked : {false, true})
        for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it)
            if (auto* visual = dynamic_cast<VisualControl*>(it->get()))
                if (isWindowBacked(visual->kind()) == windowBacked)
                    visual->raise();

    m_window->resize(m_window->sizeHint());
    // The player may enlarge the window to eight times its size each way, more than a
    // maximised window on a 4K screen; beyond that only its memory and painting would grow.
    m_window->setMaximumSize(m_window->sizeHint() * 8);
    m_window->layout()->activate(); // the client area has its size before Load reads it

    m_dispatcher.setOnEnd([this] {
        for (const auto& control : m_controls)
            if (auto* timer = dynamic_cast<Timer*>(control.get()))
                timer->stop();
    });
}

Form::~Form() = default;

QString Form::caption() const {
    return m_window->windowTitle();
}

float Form::scaleWidth() const {
    return float(clientArea()->width() * kTwipsPerPixel);
}
float Form::scaleHeight() const {
    return float(clientArea()->height() * kTwipsPerPixel);
}

template <typename T> T& Form::find(QStringView name, std::optional<int> index) {
    bool nameFound = false;
    for (const auto& control : m_controls) {
        if (control->name() != name)
            continue;
        nameFound = true;
        const bool isElement = control->index() >= 0;
        if (index ? isElement && control->index() == *index : !isElement)
            if (auto* typed = dynamic_cast<T*>(control.get()))
                return *typed;
    }
    if (nameFound && index)
        throw RuntimeError(ErrorNumber::ControlArrayElementMissing,
                           QStringLiteral("Control array element '%1' doesn't exist").arg(*index));
    throw RuntimeError(ErrorNumber::ControlNotFound,
                       QStringLiteral("No control named %1 of that kind").arg(name));
}

Image& Form::image(QStringView name) {
    return find<Image>(name);
}
Image& Form::image(QStringView arrayName, int index) {
    return find<Image>(arrayName, index);
}
Label& Form::label(QStringView name) {
    return find<Label>(name);
}
TextBox& Form::textBox(QStringView name) {
    return find<TextBox>(name);
}
Timer& Form::timer(QStringView name) {
    return find<Timer>(name);
}
MenuEntry& Form::menuEntry(QStringView name) {
    return find<MenuEntry>(name);
}
MultimediaControl& Form::multimedia(QStringView name) {
    return find<MultimediaControl>(name);
}

void Form::load() {
    if (m_loaded)
        return;
    m_loaded = true;
    if (m_onLoad)
        m_dispatcher.enter(m_onLoad);
}

void Form::show() {
    if (!m_dispatcher.ended())
        m_window->show();
}

Control* Form::controlAt(QPoint pixel) const {
    for (const bool windowBacked : {true, false})
        for (const auto& control : m_controls)
            if (isWindowBacked(control->kind()) == windowBacked)
                if (auto* visual = dynamic_cast<VisualControl*>(control.get()))
                    if (visual->hitAt(pixel))
                        return visual;
    return nullptr;
}

void Form::mousePress(QPoint pixel) {
    m_pressed = controlAt(pixel);
}

void Form::mouseRelease(QPoint) {
    // A click belongs to the control the mouse went down on, even if a quick character has
    // moved on before the button came up.
    if (auto* image = dynamic_cast<Image*>(std::exchange(m_pressed, nullptr)))
        image->click();
}

QWidget* Form::window() const {
    return m_window.get();
}
QWidget* Form::clientArea() const {
    return m_window->centralWidget();
}

QImage Form::grabClientArea() const {
    return clientArea()->grab().toImage();
}

} // namespace runtime
