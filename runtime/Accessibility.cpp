#include "Accessibility.h"

#include "ControlHost.h"
#include "ImageWidget.h"

#include <QAccessibleWidget>

namespace runtime {
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
        state.invisible = !picture()->showing();
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
