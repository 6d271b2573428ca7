#pragma once

#include <QAbstractNativeEventFilter>
#include <QString>

#include <functional>

class QWidget;

// Checks of the desktop the game starts on. A display it cannot draw on is refused in one line
// with status 2 (kRefusalStatus), as a missing display is, instead of Qt's abort or a crash
// later in a paint.
namespace display {

inline constexpr int kRefusalStatus = 2;

// Writes one line for the player on standard error: "warukyara: " and the line.
void report(const QString& line);

// The platform the player asked Qt for: the -platform argument, else QT_QPA_PLATFORM; empty
// when Qt is left to choose.
QString requestedPlatform(int argc, char* argv[]);

// Before Qt starts: why the game cannot start with this request and environment, or empty.
QString refusalBeforeStart(const QString& requested);

// While Qt starts: turns Qt's abort on a platform that cannot open its display into one line
// naming that display and exit status 2. release() (or the destructor) puts Qt's own handler
// back once the application has started.
class StartGuard {
public:
    explicit StartGuard(const QString& requested);
    ~StartGuard() { release(); }
    void release();
    StartGuard(const StartGuard&) = delete;
    StartGuard& operator=(const StartGuard&) = delete;

private:
    bool m_active = true;
};

// Once Qt runs: why the game cannot draw on the platform and screen Qt opened, or empty.
QString refusalAfterStart();

// One line when the Japanese font the window's texts are drawn in is missing, or empty.
QString missingFontNotice();

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
