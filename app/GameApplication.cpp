#include "GameApplication.h"
#include "DisplayCheck.h"

#include <Form1.h>

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>

#include <cstdio>

int runGame(int argc, char* argv[], const std::function<void(Form1&)>& prepare) {
    const QString platform = display::requestedPlatform(argc, argv);
    if (const QString refusal = display::refusalBeforeStart(platform); !refusal.isEmpty()) {
        display::report(refusal);
        return display::kRefusalStatus;
    }
    display::StartGuard guard(platform);
    QApplication app(argc, argv);
    guard.release();
    if (const QString refusal = display::refusalAfterStart(); !refusal.isEmpty()) {
        display::report(refusal);
        return display::kRefusalStatus;
    }
    if (const QString notice = display::missingFontNotice(); !notice.isEmpty())
        display::report(notice);
    QApplication::setApplicationName(QStringLiteral("warukyara"));
    QApplication::setApplicationVersion(QStringLiteral(WARUKYARA_VERSION));
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
    const display::WindowDestroyWatch destroyWatch(*game.form().window(),
                                                   [&dispatcher] { dispatcher.endProgram(0); });
    const int status = QApplication::exec();
    return dispatcher.ended() ? dispatcher.exitStatus() : status;
}
