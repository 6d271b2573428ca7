#pragma once

#include <QString>

// The start-up guard: checks of the desktop the game starts on. A display it cannot draw on is
// refused in one line with status 2 (kRefusalStatus), as a missing display is, instead of Qt's
// abort or a crash later in a paint.
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
// naming that display and exit status 2, and holds back Qt's other messages meanwhile.
// release() (or the destructor) puts Qt's own handler back once the application has started,
// passing the held messages on, or dropping them when the game refuses anyway, so a refusal
// stays one line.
class StartGuard {
public:
    enum class Held { Pass, Drop };

    explicit StartGuard(const QString& requested);
    ~StartGuard() { release(); }
    void release(Held held = Held::Pass);
    StartGuard(const StartGuard&) = delete;
    StartGuard& operator=(const StartGuard&) = delete;

private:
    bool m_active = true;
};

// Once Qt runs: why the game cannot draw on the platform and screen Qt opened, or empty.
QString refusalAfterStart();

} // namespace display
