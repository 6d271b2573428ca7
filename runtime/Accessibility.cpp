#include "Accessibility.h"

#include "ImageWidget.h"

#include <QAccessibleWidget>

namespace runtime {
namespace {

// A picture is an image to assistive technology, named by its control's accessible name;
// Qt would otherwise present a plain widget as an empty panel.
QAccessibleInterface* pictureFactory(const QString& /*className*/, QObject* object) {
    if (auto* picture = qobject_cast<ImageWidget*>(object))
        return new QAccessibleWidget(picture, QAccessible::Graphic);
    return nullptr;
}

} // namespace

void installAccessibility() {
    // Qt ignores a factory that is already installed.
    QAccessible::installFactory(pictureFactory);
}

} // namespace runtime
