#include "GameApplication.h"
#include "DisplayCheck.h"
#include "FontNotice.h"
#include "WindowDestroyWatch.h"

#include <Form1.h>
#include <runtime/FormHost.h>

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <optional>

int runGame(int argc, char* argv[], const std::function<void(Form1&)>& prepare) {
    const QString platform = display::requestedPlatform(argc, argv);
    if (const QString refusal = display::refusalBeforeStart(platform); !refusal.isEmpty()) {
        display::report(refusal);
        return display::kRefusalStatus;
    }
    display::StartGuard guard(platform);
    QApplication app(argc, argv);
    if (const QString refusal = display::refusalAfterStart(); !refusal.isEmpty()) {
        guard.release(display::StartGuard::Held::Drop);
        display::report(refusal);
        return display::kRefusalStatus;
    }
    guard.release();
    if (const QString notice = display::missingFontNotice(); !notice.isEmpty())
        display::report(notice);
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
    // The window may be destroyed from outside (a window manager's "kill"), which ends the game
    // like closing it; the watch needs the shown window's native id.
    std::optional<display::WindowDestroyWatch> destroyWatch;
    return runtime::FormHost::run(game.form(), [&destroyWatch, &game] {
        destroyWatch.emplace(*runtime::FormHost::window(game.form()),
                             [&game] { game.form().dispatcher().endProgram(0); });
    });
}
