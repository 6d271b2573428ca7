#include "Accessibility.h"

#include "ControlHost.h"
#include "FrameClock.h"
#include "ImageWidget.h"

#include <QAccessibleWidget>

namespace runtime {

bool ControlHost::showing(const VisualControl& control) {
    const QWidget* shown = widget(control);
    // A widget of no width still "intersects" in Qt's sense; its overlap is empty.
    return shown->isVisible() &&
           !shown->geometry().intersected(shown->parentWidget()->rect()).isEmpty();
}

void ControlHost::moveWidget(VisualControl& control, QRect rect) {
    QWidget* moved = widget(control);
    // Without assistive technology nobody asks; of the controls, only a picture's showing
    // follows where it stands.
    const bool told = QAccessible::isActive() && control.kind() == ControlKind::Image;
    const bool wasShowing = told && showing(control);
    moved->setGeometry(rect);
    if (told && showing(control) != wasShowing) {
        // Qt tells of a widget shown or hidden, not of one moved into view or out of it.
        QAccessibleEvent event(moved,
                               wasShowing ? QAccessible::ObjectHide : QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&event);
    }
}

bool ControlHost::pressable(const Image& image) {
    return image.m_onClick && showing(image);
}

void ControlHost::press(Image& image) {
    // As at a click: the frames a batch owes run first, and the widgets stand where the twips
    // say before anyone asks what the player can see.
    image.m_clock.rouse();
    image.m_clock.applyGeometry();
    if (pressable(image))
        image.click();
}

namespace {

// A picture is an image to assistive technology, named by its control's accessible name; Qt
// would otherwise present a plain widget as an empty panel. It is showing only while the
// player can see some of it, and one the player could click offers to press it instead.
class PictureAccessible : public QAccessibleWidget {
public:
    explicit PictureAccessible(ImageWidget* picture)
        : QAccessibleWidget(picture, QAccessible::Graphic) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        // Characters wait below the client area, whole and shown, until the game starts.
        const Image* control = picture()->control();
        state.invisible = !control || !ControlHost::showing(*control);
        return state;
    }

    QStringList actionNames() const override {
        const Image* control = picture()->control();
        return control && ControlHost::pressable(*control) ? QStringList{pressAction()}
                                                           : QStringList{};
    }

    void doAction(const QString& actionName) override {
        if (Image* control = picture()->control(); control && actionName == pressAction())
            ControlHost::press(*control);
    }

private:
    ImageWidget* picture() const { return static_cast<ImageWidget*>(widget()); }
};

QAccessibleInterface* pictureFactory(const QString& /*className*/, QObject* object) {
    if (auto* picture = qobject_cast<ImageWidget*>(object))
        return new PictureAccessible(picture);
    return nullptr;
}

} // namespace

void installAccessibility() {
    // Qt ignores a factory that is already installed.
    QAccessible::installFactory(pictureFactory);
}

} // namespace runtime
