#include "DisplayCheck.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QList>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include <runtime/Fonts.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
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
    if (type != QtFatalMsg) {
        g_held.append({type, QByteArray(context.category), message});
        return;
    }
    const bool wayland = startsWayland(g_requested);
    const QString reason = g_held.isEmpty() ? message : g_held.first().text;
    report(QStringLiteral("cannot open the %1 display %2 (%3)")
               .arg(wayland ? QStringLiteral("Wayland") : QStringLiteral("X11"),
                    displayNamed(wayland), reason.simplified()));
    ::_exit(kRefusalStatus);
}

// The Debian package of the best of the faces the window maps the form's Japanese gothic to.
constexpr const char16_t* kJapaneseGothicPackage = u"fonts-ipafont-gothic";

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
            return QStringLiteral("the platform '%1' shows no window on a desktop; the game "
                                  "plays on X11 (xcb) or Wayland")
                .arg(name);

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
    g_held.clear();
    g_qtHandler = qInstallMessageHandler(startMessageHandler);
}

void StartGuard::release() {
    if (!std::exchange(m_active, false))
        return;
    qInstallMessageHandler(g_qtHandler);
    for (const HeldMessage& held : std::exchange(g_held, {}))
        qt_message_output(held.type,
                          QMessageLogContext(nullptr, 0, nullptr, held.category.constData()),
                          held.text);
}

QString refusalAfterStart() {
    const QString platform = QGuiApplication::platformName();
    if (!isAccepted(platform))
        return QStringLiteral("the platform '%1' shows no window on a desktop; the game plays "
                              "on X11 (xcb) or Wayland")
            .arg(platform);
    // With fewer than 16 bits per pixel Qt has no paint engine for the window's backing store,
    // and the first paint of the text box crashes.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && screen->depth() < 16)
        return QStringLiteral("the display %1 has %2-bit colour; the game needs at least 16 bits")
            .arg(displayNamed(isWayland(platform)))
            .arg(screen->depth());
    return {};
}

QString missingFontNotice() {
    const QStringList installed = QFontDatabase::families();
    const QStringList gothics = runtime::japaneseGothics();
    if (std::any_of(gothics.begin(), gothics.end(),
                    [&](const QString& face) { return installed.contains(face); }))
        return {};
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    const QString effect = japanese.isEmpty()
                               ? QStringLiteral("the menu and the texts show empty boxes")
                               : QStringLiteral("the texts are drawn in %1").arg(japanese.first());
    return QStringLiteral("the Japanese font %1 is not installed (Debian package %2); %3")
        .arg(gothics.first(), QString::fromUtf16(kJapaneseGothicPackage), effect);
}

void report(const QString& line) {
    std::fprintf(stderr, "warukyara: %s\n", qPrintable(line));
}

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
