#include "GameApplication.h"

#include <Form1.h>

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// Without a display Qt prints several lines and aborts; a player deserves one clear line.
bool displayReachable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QtMessageHandler g_qtDefaultHandler = nullptr;
QString g_firstPlatformWarning;

// While the application starts, Qt's platform plugin reports a display it cannot reach in
// several lines and then aborts; the player gets one line instead, with Qt's first reason.
void startupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type == QtFatalMsg) {
        const QString reason = g_firstPlatformWarning.isEmpty() ? message : g_firstPlatformWarning;
        std::fprintf(stderr, "warukyara: cannot open the display %s (%s)\n",
                     qgetenv("DISPLAY").constData(), qPrintable(reason.simplified()));
        ::_exit(2);
    }
    if (qstrncmp(context.category ? context.category : "", "qt.qpa", 6) == 0) {
        if (g_firstPlatformWarning.isEmpty())
            g_firstPlatformWarning = message;
        return;
    }
    g_qtDefaultHandler(type, context, message);
}

} // namespace

int runGame(int argc, char* argv[], const std::function<void(Form1&)>& prepare) {
    if (!displayReachable()) {
        std::fputs("warukyara: no display (DISPLAY is not set); start the game in a desktop "
                   "session\n",
                   stderr);
        return 2;
    }
    g_qtDefaultHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_qtDefaultHandler);
    QApplication::setApplicationName(QStringLiteral("warukyara"));
    QApplication::setApplicationVersion(QStringLiteral(WARUKYARA_VERSION));
    // Wayland's app id, so the desktop matches the window with its launcher and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("jp.warukyara.Warukyara"));
    // The title bar and the task switcher need no more than 64 px; the larger sizes, slow to
    // decode at start-up, are for the desktop's launcher, which reads the installed files.
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/warukyara.png").arg(size));
    QApplication::setWindowIcon(icon);

    Form1 game;
    if (prepare)
        prepare(game);
    runtime::Dispatcher& dispatcher = game.form().dispatcher();

    // A run-time error is reported once the failing handler has returned: no dialog opens
    // inside a timer tick, and the dispatcher has already stopped every further event.
    QString report;
    auto showReport = [&] {
        if (!report.isEmpty())
            QMessageBox::critical(game.form().window(), QStringLiteral("warukyara"), report);
    };
    dispatcher.setReporter([&report](const runtime::RuntimeError& error) {
        report =
            QStringLiteral("Run-time error '%1':\n\n%2").arg(error.number()).arg(error.message());
        std::fprintf(stderr, "warukyara: %s\n", qPrintable(report.simplified()));
    });
    dispatcher.setEnder([&](int status) {
        QMetaObject::invokeMethod(
            &app,
            [&, status] {
                showReport();
                QApplication::exit(status);
            },
            Qt::QueuedConnection);
    });

    game.form().load();
    if (dispatcher.ended()) {
        showReport();
        return dispatcher.exitStatus();
    }
    game.form().show();
    const int status = QApplication::exec();
    return dispatcher.ended() ? dispatcher.exitStatus() : status;
}
