#include "DisplayCheck.h"

#include <QGuiApplication>
#include <QList>
#include <QScreen>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace display {
namespace {

bool isWayland(QStringView platform) {
    return platform == u"wayland" || platform.startsWith(u"wayland-");
}

// X11 and Wayland show the window to a player. Offscreen draws into memory for automated
// runs: it needs no display and cannot fail to start. Every other plugin (linuxfb, eglfs,
// vnc, minimal, ...) would take over a console, serve a remote viewer or show nothing, and
// several of them abort when their device is missing.
bool isAccepted(QStringView platform) {
    return platform == u"xcb" || isWayland(platform) || platform == u"offscreen";
}

// Qt takes a list of plugins to try in turn ("wayland;xcb"), each with options after a colon.
QStringList platformNames(const QString& requested) {
    QStringList names;
    for (const QString& entry : requested.split(u';', Qt::SkipEmptyParts))
        names << entry.section(u':', 0, 0).trimmed();
    return names;
}

QString platformRefusal(const QString& platform) {
    return QStringLiteral("the platform '%1' shows no window on a desktop; the game plays on X11 "
                          "(xcb) or Wayland")
        .arg(platform);
}

QString displayNamed(bool wayland) {
    const char* variable = wayland ? "WAYLAND_DISPLAY" : "DISPLAY";
    return QStringLiteral("%1=%2").arg(QLatin1String(variable), qEnvironmentVariable(variable));
}

// A message Qt gave while the application started, kept until Qt has either started or given up.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

QString g_requested;
QtMessageHandler g_qtHandler = nullptr;
// Qt may log from any of its threads while the application starts.
std::mutex g_heldLock;
QList<HeldMessage> g_held;

// Qt tries the first requested plugin first; left to itself, it picks Wayland only in a Wayland
// session.
bool startsWayland(const QString& requested) {
    const QStringList names = platformNames(requested);
    return names.isEmpty() ? qgetenv("XDG_SESSION_TYPE") == "wayland" : isWayland(names.first());
}

// While the application starts, a platform plugin that cannot reach its display says so in
// several lines and then Qt aborts; the player gets one line instead, with the first reason.
// Until then every message is held back, and passed on once Qt has started.
void startMessageHandler(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
    std::unique_lock lock(g_heldLock);
    if (type != QtFatalMsg) {
        g_held.append({type, QByteArray(context.category), message});
        return;
    }
    const bool wayland = startsWayland(g_requested);
    const QString reason = g_held.isEmpty() ? message : g_held.first().text;
    lock.unlock();
    report(QStringLiteral("cannot open the %1 display %2 (%3)")
               .arg(wayland ? QStringLiteral("Wayland") : QStringLiteral("X11"),
                    displayNamed(wayland), reason.simplified()));
    ::_exit(kRefusalStatus);
}

} // namespace

QString requestedPlatform(int argc, char* argv[]) {
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return QString::fromLocal8Bit(argv[i + 1]);
    return qEnvironmentVariable("QT_QPA_PLATFORM");
}

QString refusalBeforeStart(const QString& requested) {
    const QStringList names = platformNames(requested);
    for (const QString& name : names)
        if (!isAccepted(name))
            return platformRefusal(name);

    const bool x11 = names.isEmpty() || names.contains(QStringLiteral("xcb"));
    const bool wayland =
        names.isEmpty() || std::any_of(names.begin(), names.end(),
                                       [](const QString& name) { return isWayland(name); });
    if (!x11 && !wayland)
        return {}; // offscreen
    if ((x11 && !qEnvironmentVariableIsEmpty("DISPLAY")) ||
        (wayland && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")))
        return {};
    const QString reason = x11 && wayland
                               ? QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set")
                           : x11 ? QStringLiteral("DISPLAY is not set")
                                 : QStringLiteral("WAYLAND_DISPLAY is not set");
    return QStringLiteral("no display (%1); start the game in a desktop session").arg(reason);
}

StartGuard::StartGuard(const QString& requested) {
    g_requested = requested;
    {
        const std::lock_guard lock(g_heldLock);
        g_held.clear();
    }
    g_qtHandler = qInstallMessageHandler(startMessageHandler);
}

void StartGuard::release(Held held) {
    if (!std::exchange(m_active, false))
        return;
    qInstallMessageHandler(g_qtHandler);
    QList<HeldMessage> messages;
    {
        const std::lock_guard lock(g_heldLock);
        messages = std::exchange(g_held, {});
    }
    if (held == Held::Drop)
        return;
    for (const HeldMessage& message : messages)
        qt_message_output(message.type,
                          QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
                          message.text);
}

QString refusalAfterStart() {
    const QString platform = QGuiApplication::platformName();
    if (!isAccepted(platform))
        return platformRefusal(platform);
    // With fewer than 16 bits per pixel Qt has no paint engine for the window's backing store,
    // and the first paint of the text box crashes.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && screen->depth() < 16)
        return QStringLiteral("the display %1 has %2-bit colour; the game needs at least 16 bits")
            .arg(displayNamed(isWayland(platform)))
            .arg(screen->depth());
    return {};
}

void report(const QString& line) {
    std::fprintf(stderr, "warukyara: %s\n", qPrintable(line));
}

} // namespace display
