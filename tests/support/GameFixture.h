#pragma once

#include "RecordingSound.h"

#include <Form1.h>
#include <runtime/FormHost.h>

#include <QStringList>
#include <QTest>

#include <memory>
#include <vector>

// The game with a recording sound device, no real clock, and the end of the program and any
// run-time error report recorded instead of acted on.
struct GameFixture {
    explicit GameFixture(QString soundFailsAt = {})
        : sound(std::make_shared<QStringList>()),
          game(std::make_unique<RecordingSound>(sound, std::move(soundFailsAt),
                                                [this](const QString& write) {
                                                    if (onSound)
                                                        onSound(write);
                                                })) {
        runtime::FormHost::stopRealClock(form());
        runtime::FormHost::onEnd(form(), [this](int status, const runtime::RuntimeError* error) {
            if (error)
                reports.push_back(error->number());
            endings.push_back(status);
        });
    }

    runtime::Form& form() { return game.form(); }
    // Load, then the window on screen as the player first sees it; false if it never showed.
    bool showWindow() {
        form().load();
        form().show();
        return QTest::qWaitForWindowExposed(runtime::FormHost::window(form()));
    }
    runtime::Image& character(int index) { return form().image(u"Image1", index); }
    void start() { form().menuEntry(u"MenuStart").trigger(); }
    void tick(int timer, int times = 1) {
        for (int i = 0; i < times; ++i)
            form().timer(QStringLiteral("Timer%1").arg(timer)).fire();
    }
    void click(int index) { character(index).click(); }
    QString score() { return form().textBox(u"Text1").text(); }
    void typeScore(const QString& text) { form().textBox(u"Text1").setText(text); }
    QString taunt() { return form().label(u"Label1").caption(); }

    std::shared_ptr<QStringList> sound;
    // Sees each write to the sound device as it happens, with the game as it stands then.
    std::function<void(const QString& write)> onSound;
    Form1 game;
    std::vector<int> reports;
    std::vector<int> endings;
};
