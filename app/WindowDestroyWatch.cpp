#include "WindowDestroyWatch.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <utility>

namespace display {

WindowDestroyWatch::WindowDestroyWatch(const QWidget& window, std::function<void()> onDestroyed)
    : m_onDestroyed(std::move(onDestroyed)) {
    if (QGuiApplication::platformName() != u"xcb")
        return; // elsewhere the window is closed through the compositor, as by the player
    m_window = quint32(window.winId());
    QCoreApplication::instance()->installNativeEventFilter(this);
}

WindowDestroyWatch::~WindowDestroyWatch() {
    if (m_window != 0)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool WindowDestroyWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_DESTROY_NOTIFY)
        return false;
    if (static_cast<const xcb_destroy_notify_event_t*>(message)->window == m_window)
        m_onDestroyed();
    return false;
}

} // namespace display
