// What a connect costs: the main window's detection tick that finds a KX2,
// programs the driver through the settings dialog and builds the panel (which
// sends the whole stored state), measured from the first PID read to the
// panel in place, with the disk flushes it makes; then the same against a
// real unplug and plug of the simulated interface, from the plug to the
// panel in place, with the window's own timers running; and beside the
// panel's own restore, a recall of a preset that changes every control.
//   build/bench/bench_connect

#include "DiskFlushCounter.h"

#include "app/MainWindow.h"
#include "panels/kx2.h"
#include "presets/PresetBook.h"
#include "settings/Settings.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QChildEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr double kConnectGoalMs = 150.0;
constexpr double kPlugGoalMs = 1100.0;
constexpr int kConnects = 10;
// The settings dialog sleeps this long while programming the sample rate.
constexpr int kSettlePauseMs = 100;
constexpr int kPlugCycles = 10;
// Longer than the settings dialog's deferred phone-chip steps (2 x 200 ms),
// so one connect's tail does not run inside the next one's measurement.
constexpr int kSettleMs = 600;
constexpr int kWaitLimitMs = 10000;
// The main window's detection period: a plug waits for its next tick.
constexpr int kDetectIntervalMs = 1000;

struct Sample {
    double ms;
    int flushes;
};

QString dataFile(const char* name)
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + name;
}

bool hasKx2Panel(const QWidget& window)
{
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (dynamic_cast<kx2*>(widget))
            return true;
    }
    return false;
}

// Notes when the window's detection timer fires and when the panel is
// handed to the window's layout.
class PanelArrival : public QObject
{
public:
    explicit PanelArrival(MainWindow& window)
    {
        window.centralWidget()->installEventFilter(this);
        for (QTimer* timer : window.findChildren<QTimer*>()) {
            if (timer->interval() == kDetectIntervalMs)
                timer->installEventFilter(this);
        }
        clock.start();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer)
            tickAt = clock.nsecsElapsed();
        if (event->type() == QEvent::ChildAdded
            && dynamic_cast<kx2*>(static_cast<QChildEvent*>(event)->child())) {
            arrivedAt = clock.nsecsElapsed();
            flushesAtArrival = DiskFlushCounter::count();
        }
        return QObject::eventFilter(watched, event);
    }

    QElapsedTimer clock;
    qint64 tickAt = -1;
    qint64 arrivedAt = -1;
    int flushesAtArrival = 0;
};

Sample connectOnce(Settings& settings)
{
    MainWindow window;
    window.setSettings(&settings);
    const int flushesBefore = DiskFlushCounter::count();
    QElapsedTimer clock;
    clock.start();
    window.callDriverTimerCallback();
    const Sample sample { clock.nsecsElapsed() / 1e6, DiskFlushCounter::count() - flushesBefore };
    if (!window.windowTitle().startsWith("Kestrum KX2 - FW:"))
        std::fprintf(stderr, "the connect did not put a KX2 panel in place\n");
    QTest::qWait(kSettleMs);
    return sample;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void printConnects(Settings& settings)
{
    std::printf("(each connect includes the settings dialog's fixed %d ms settle pause)\n", kSettlePauseMs);
    QFile::remove(dataFile("/kx2.ini"));
    QFile::remove(dataFile("/setting.ini"));
    const Sample first = connectOnce(settings);
    std::printf("connect, first start (no kx2.ini):  %7.1f ms  %3d disk flushes   goal <= %.0f ms\n",
                first.ms, first.flushes, kConnectGoalMs);

    std::vector<double> times;
    int flushes = 0;
    for (int i = 0; i < kConnects; ++i) {
        const Sample sample = connectOnce(settings);
        times.push_back(sample.ms);
        flushes = std::max(flushes, sample.flushes);
    }
    std::printf("connect, stored state (%d runs):     %7.1f ms median, %.1f ms max  %3d disk flushes at most   goal <= %.0f ms\n",
                kConnects, median(times), *std::max_element(times.begin(), times.end()), flushes, kConnectGoalMs);
}

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, kWaitLimitMs);
}

void printPlugCycles(Settings& settings, SimProcess& sim)
{
    MainWindow window;
    window.setSettings(&settings);
    PanelArrival arrival(window);
    if (!waitFor([&] { return hasKx2Panel(window); })) {
        std::fprintf(stderr, "no panel at start\n");
        return;
    }

    std::vector<double> times;
    for (int cycle = 1; cycle <= kPlugCycles; ++cycle) {
        sim.command({ "unplug" });
        if (!waitFor([&] { return !hasKx2Panel(window); })) {
            std::fprintf(stderr, "the panel stayed after unplugging\n");
            return;
        }
        QTest::qWait(0); // the old panel's deferred delete
        arrival.arrivedAt = -1;
        const qint64 pluggedAt = arrival.clock.nsecsElapsed();
        const int flushesBefore = DiskFlushCounter::count();
        sim.command({ "plug" });
        if (!waitFor([&] { return arrival.arrivedAt >= 0; })) {
            std::fprintf(stderr, "no panel after plugging in\n");
            return;
        }
        const double ms = (arrival.arrivedAt - pluggedAt) / 1e6;
        const double waitedMs = (arrival.tickAt - pluggedAt) / 1e6;
        times.push_back(ms);
        std::printf("plug -> panel in place, cycle %2d:   %7.1f ms (%6.1f ms waiting for the detection tick, "
                    "%5.1f ms connect)  %3d disk flushes   goal <= %.0f ms\n",
                    cycle, ms, waitedMs, ms - waitedMs, arrival.flushesAtArrival - flushesBefore, kPlugGoalMs);
        QTest::qWait(kSettleMs);
    }
    std::printf("plug -> panel in place, %d cycles:  %7.1f ms median, %.1f ms max   goal <= %.0f ms each\n",
                kPlugCycles, median(times), *std::max_element(times.begin(), times.end()), kPlugGoalMs);
}

// Every control at one end of its range, or at the other.
QMap<QString, int> fullState(const QList<ControlInfo>& infos, bool high)
{
    QMap<QString, int> values;
    for (const ControlInfo& info : infos)
        values.insert(info.name, info.isSwitch ? int(high) : high ? info.maximum - 10 : info.minimum + 10);
    return values;
}

// The floor a recall is held to: the panel restoring the stored state, on
// its own, then a full preset recalled back and forth, each with its write.
void printRecalls(Settings& settings)
{
    std::vector<double> restores;
    for (int i = 0; i < kConnects; ++i) {
        QElapsedTimer clock;
        clock.start();
        kx2 panel;
        restores.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("panel restore alone (%d runs):       %7.1f ms median, %.1f ms max\n", kConnects, median(restores),
                *std::max_element(restores.begin(), restores.end()));

    MainWindow window;
    window.setSettings(&settings);
    window.callDriverTimerCallback();
    ModelPanel* panel = window.deviceSession()->panel();
    PresetBook book(window.deviceSession());
    if (!panel || !panel->applyControls(fullState(panel->controlInfo(), true)).isEmpty() || book.save("high").status != PresetBook::Status::Done
        || !panel->applyControls(fullState(panel->controlInfo(), false)).isEmpty() || book.save("low").status != PresetBook::Status::Done) {
        std::fprintf(stderr, "no panel to recall presets on\n");
        return;
    }
    std::vector<double> times;
    int flushes = 0;
    for (int i = 0; i < kConnects; ++i) {
        const int flushesBefore = DiskFlushCounter::count();
        QElapsedTimer clock;
        clock.start();
        const PresetBook::Outcome outcome = book.recall(i % 2 ? "low" : "high");
        times.push_back(clock.nsecsElapsed() / 1e6);
        QTest::qWait(kSettleMs);
        flushes = std::max(flushes, DiskFlushCounter::count() - flushesBefore);
        if (outcome.status != PresetBook::Status::Done)
            std::fprintf(stderr, "a recall failed: %s\n", qPrintable(outcome.message));
    }
    std::printf("recall, every KX2 control (%d runs): %7.1f ms median, %.1f ms max  %3d disk flushes at most   goal <= the restore\n",
                kConnects, median(times), *std::max_element(times.begin(), times.end()), flushes);
}

} // namespace

int main(int argc, char* argv[])
{
    TestEnvironment environment;
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules("kestrum.*.debug=false");

    SimProcess sim({ "--model", "KX2" });
    if (!sim.waitUntilReady())
        return 1;
    Settings settings;
    printConnects(settings);
    printRecalls(settings);
    printPlugCycles(settings, sim);
    return 0;
}
