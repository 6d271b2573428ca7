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
