// What the game's hot paths cost on this machine: a timer tick of a flying character, a click
// on one, the lenient score parse, and painting the whole window. Measures only; asserts
// nothing. Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <Form1.h>
#include <runtime/Conversions.h>
#include <runtime/FormHost.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// MMControl1 with nothing behind it: sound is not what these benchmarks measure.
class NullSound : public runtime::MultimediaDevice {
public:
    void setDeviceType(const QString&) override {}
    void setCommand(const QString&) override {}
};

// The game as the tests drive it: no real clock, ticks and clicks fired by hand, after Load
// and (unless it is to stay on its title screen) "はじまり".
struct StartedGame {
    explicit StartedGame(bool start = true) : game(std::make_unique<NullSound>()) {
        runtime::FormHost::stopRealClock(form());
        runtime::FormHost::onEnd(form(), [](int, const runtime::RuntimeError*) {});
        form().load();
        if (start)
            form().menuEntry(u"MenuStart").trigger();
    }
    runtime::Form& form() { return game.form(); }

    Form1 game;
};

// Where a character starts its flight, so that a long benchmark keeps it on screen instead of
// timing a character that has long left the window.
struct Placement {
    explicit Placement(const runtime::Image& image)
        : left(image.left()), top(image.top()), width(image.width()), height(image.height()) {}
    void restore(runtime::Image& image) const {
        image.setLeft(left);
        image.setTop(top);
        image.setWidth(width);
        image.setHeight(height);
    }
    float left, top, width, height;
};

// A character is in view for about 70 ticks; every flight here is shorter than that.
constexpr int kTicksPerFlight = 50;

void BM_TimerTick(benchmark::State& state) {
    StartedGame game;
    runtime::Timer& timer = game.form().timer(u"Timer1");
    runtime::Image& character = game.form().image(u"Image1", 0);
    const Placement start(character);
    int ticks = 0;
    for (auto _ : state) {
        timer.fire();
        if (++ticks == kTicksPerFlight) {
            state.PauseTiming();
            start.restore(character);
            ticks = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_TimerTick);

// The same tick in a shown window, followed by the repaint it causes: what the real clock
// costs the program per tick.
void BM_TimerTickRepainted(benchmark::State& state) {
    StartedGame game;
    game.form().show();
    QApplication::processEvents();
    runtime::Timer& timer = game.form().timer(u"Timer1");
    runtime::Image& character = game.form().image(u"Image1", 0);
    const Placement start(character);
    int ticks = 0;
    for (auto _ : state) {
        timer.fire();
        QApplication::processEvents();
        if (++ticks == kTicksPerFlight) {
            state.PauseTiming();
            start.restore(character);
            QApplication::processEvents();
            ticks = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_TimerTickRepainted);

void BM_Click(benchmark::State& state) {
    StartedGame game;
    runtime::Image& character = game.form().image(u"Image1", 0);
    for (auto _ : state)
        character.click();
}
BENCHMARK(BM_Click);

void BM_LenientNumberTypical(benchmark::State& state) {
    const QString text = QStringLiteral("12");
    for (auto _ : state)
        benchmark::DoNotOptimize(runtime::lenientNumber(text));
}
BENCHMARK(BM_LenientNumberTypical);

// A megabyte pasted into the score box: 2^20 characters, all of them one long number, so the
// parse has to read every one.
void BM_LenientNumberMegabyte(benchmark::State& state) {
    QString text;
    text.reserve(1 << 20);
    while (text.size() < (1 << 20))
        text += QStringLiteral("1234567890");
    text.truncate(1 << 20);
    for (auto _ : state)
        benchmark::DoNotOptimize(runtime::lenientNumber(text));
    state.SetBytesProcessed(state.iterations() * text.size() * qsizetype(sizeof(QChar)));
}
BENCHMARK(BM_LenientNumberMegabyte)->Unit(benchmark::kMicrosecond);

// Paints the whole shown window (menu bar, background, every control) into an image, as a
// full expose would; the first arg is 0 for the title screen, 1 for the window in flight, the
// second the image's device pixel ratio in percent (200: a screen of twice the density).
void BM_FullWindowRender(benchmark::State& state) {
    StartedGame game(state.range(0) == 1);
    game.form().show();
    QApplication::processEvents();
    if (state.range(0) == 1)
        for (int timer = 1; timer <= 5; ++timer)
            for (int tick = 0; tick < 20; ++tick)
                game.form().timer(QStringLiteral("Timer%1").arg(timer)).fire();
    QApplication::processEvents();
    QWidget* window = runtime::FormHost::window(game.form());
    const qreal ratio = window->devicePixelRatioF() * qreal(state.range(1)) / 100;
    QImage target(window->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(ratio);
    for (auto _ : state) {
        window->render(&target);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FullWindowRender)->ArgsProduct({{0, 1}, {100, 200}})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication app(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
