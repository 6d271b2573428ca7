#include <runtime/Form.h>

#include "Accessibility.h"
#include "ClientArea.h"
#include "ControlHost.h"
#include "FormWindow.h"
#include "FrameClock.h"

#include <runtime/Fonts.h>
#include <runtime/FormHost.h>
#include <runtime/Twips.h>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QImage>
#include <QLayout>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcRuntime, "warukyara.runtime")

namespace runtime {

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

namespace {

bool isWindowBacked(ControlKind kind) {
    return kind == ControlKind::TextBox || kind == ControlKind::Multimedia;
}

} // namespace

Form::Form(const FormDefinition& definition)
    : m_dispatcher([this](int status, const RuntimeError* error) { end(status, error); }),
      m_window(std::make_unique<FormWindow>(*this)), m_clock(std::make_unique<FrameClock>(true)) {
    installAccessibility();
    m_window->setObjectName(QString::fromUtf8(definition.name));
    m_window->setWindowTitle(QString::fromUtf8(definition.caption));

    const QSize designSize(toPixels(definition.clientWidth), toPixels(definition.clientHeight));
    auto* client =
        new ClientArea(*this, QString::fromUtf8(definition.picture), designSize, m_window.get());
    m_window->setCentralWidget(client);

    // The menus speak the form's language, so they are drawn in the form's face.
    auto useFormFace = [&definition](QWidget* widget) {
        if (!definition.font)
            return;
        QFont font = widget->font();
        font.setFamilies(familiesOf(*definition.font));
        widget->setFont(font);
    };
    useFormFace(m_window->menuBar());
    for (const MenuDefinition& menu : definition.menus) {
        QMenu* qmenu = m_window->menuBar()->addMenu(QString::fromUtf8(menu.caption));
        qmenu->setObjectName(QString::fromUtf8(menu.name));
        useFormFace(qmenu);
        for (const MenuEntryDefinition& entry : menu.entries) {
            QAction* action = qmenu->addAction(QString::fromUtf8(entry.caption));
            action->setObjectName(QString::fromUtf8(entry.name));
            // Connected before the entry's handler, so a batch's owed ticks run before it.
            QObject::connect(action, &QAction::triggered, m_window.get(),
                             [this] { m_clock->rouse(); });
            auto* menuEntry = new MenuEntry(entry, m_dispatcher);
            m_controls.emplace_back(menuEntry);
            QObject::connect(action, &QAction::triggered, [menuEntry] { menuEntry->trigger(); });
        }
    }

    FrameClock& clock = *m_clock;
    for (const ControlDefinition& control : definition.controls) {
        switch (control.kind) {
        case ControlKind::Image:
            m_controls.emplace_back(new Image(control, m_dispatcher, clock, *client));
            break;
        case ControlKind::Label:
            m_controls.emplace_back(new Label(control, m_dispatcher, clock, *client));
            break;
        case ControlKind::TextBox:
            m_controls.emplace_back(new TextBox(control, m_dispatcher, clock, *client));
            break;
        case ControlKind::Timer:
            m_controls.emplace_back(new Timer(control, m_dispatcher, clock));
            break;
        case ControlKind::Multimedia:
            m_controls.emplace_back(new MultimediaControl(control, m_dispatcher, clock));
            break;
        case ControlKind::MenuEntry:
            break; // entries come from the menus
        }
    }

    // Stacking: window-backed controls above all others; among equals, the first created lies
    // on top.
    for (const bool windowBacked : {true, false})
        for (const auto& control : m_controls)
            if (auto* visual = dynamic_cast<VisualControl*>(control.get()))
                if (isWindowBacked(visual->kind()) == windowBacked)
                    m_stacking.push_back(visual);
    for (auto it = m_stacking.rbegin(); it != m_stacking.rend(); ++it)
        if (QWidget* widget = ControlHost::widget(**it))
            widget->raise();

    // The keyboard moves through the controls that take the focus in the order of their tab
    // indexes, not of their creation.
    std::vector<VisualControl*> tabOrder;
    for (VisualControl* visual : m_stacking)
        if (QWidget* widget = ControlHost::widget(*visual);
            widget && ControlHost::tabIndex(*visual) >= 0 && widget->focusPolicy() & Qt::TabFocus)
            tabOrder.push_back(visual);
    std::ranges::stable_sort(tabOrder, {},
                             [](const VisualControl* c) { return ControlHost::tabIndex(*c); });
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(ControlHost::widget(*tabOrder[i - 1]),
                             ControlHost::widget(*tabOrder[i]));

    m_window->resize(m_window->sizeHint());
    // The player may enlarge the window to eight times its size each way, more than a
    // maximised window on a 4K screen; beyond that only its memory and painting would grow.
    m_window->setMaximumSize(m_window->sizeHint() * 8);
    m_window->layout()->activate(); // the client area has its size before Load reads it
    m_clock->watch(m_window.get());

    // Unless the program around the form says otherwise, the end leaves the message loop; the
    // report waits until the loop has been left, so no dialog opens inside a handler.
    m_ending = [this](int status, const RuntimeError* error) {
        if (error) {
            m_report = QStringLiteral("Run-time error '%1':\n\n%2")
                           .arg(error->number())
                           .arg(error->message());
            qCCritical(lcRuntime, "%s", qUtf8Printable(m_report.simplified()));
        }
        QCoreApplication::exit(status);
    };
}

Form::~Form() = default;

void Form::end(int status, const RuntimeError* error) {
    m_clock->halt();
    if (m_ending)
        m_ending(status, error);
}

QString Form::caption() const {
    return m_window->windowTitle();
}

float Form::scaleWidth() const {
    return float(m_window->centralWidget()->width() * kTwipsPerPixel);
}
float Form::scaleHeight() const {
    return float(m_window->centralWidget()->height() * kTwipsPerPixel);
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
    m_dispatcher.enter(m_onLoad);
}

void Form::show() {
    if (!m_dispatcher.ended())
        m_window->show();
}

Control* Form::controlAt(QPoint pixel) {
    // Pictures test their own pixels, so their widgets must stand where their rectangles say.
    m_clock->applyGeometry();
    for (VisualControl* visual : m_stacking)
        if (ControlHost::hitAt(*visual, pixel))
            return visual;
    return nullptr;
}

} // namespace runtime
