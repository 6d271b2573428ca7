#pragma once

#include <QAbstractNativeEventFilter>

#include <functional>

class QWidget;

namespace display {

// Calls `onDestroyed` when another X11 client destroys the shown window: Qt carries on without
// it, and the player would be left with a game that no window can end.
class WindowDestroyWatch : public QAbstractNativeEventFilter {
public:
    WindowDestroyWatch(const QWidget& window, std::function<void()> onDestroyed);
    ~WindowDestroyWatch() override;
    WindowDestroyWatch(const WindowDestroyWatch&) = delete;
    WindowDestroyWatch& operator=(const WindowDestroyWatch&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    quint32 m_window = 0;
    std::function<void()> m_onDestroyed;
};

} // namespace display
