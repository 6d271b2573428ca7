// The game with one planted fault, for tests/e2e/test_error.py: the real program, except that
// Timer1's tick, some seconds after "はじまり", gives Image1(0) a negative width. That is a real
// run-time error raised by the runtime, so the report, the stop and the exit status are the
// ones a player would meet.
#include <Controls.h>
#include <Form1.h>
#include <GameApplication.h>

namespace {

// Timer1 ticks every 16 ms: the fault comes about 4 s after the start, when the two characters
// with animated pictures have shrunk to nothing, so only tick-driven motion can change the
// window while the report is open.
constexpr int kFaultTick = 250;

} // namespace

int main(int argc, char* argv[]) {
    return runGame(argc, argv, [](Form1& game) {
        // Timer1's own flight is left out: its character stays below the window.
        game.form().timer(u"Timer1").onTimer([&game, ticks = 0]() mutable {
            if (game.startFlagValue() != 1)
                return;
            if (++ticks == kFaultTick)
                game.form().image(u"Image1", 0).setWidth(-1);
        });
    });
}
