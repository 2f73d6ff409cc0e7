// What the panels cost on the GUI thread: building a panel (which sends the
// whole stored state), a burst of knob steps (a mixer record sent per step,
// the ini file written once per burst) next to its floor, and one meter poll with its
// readouts, hidden and shown, with the widgets each poll repaints.
//   build/bench/bench_panels

#include "DiskFlushCounter.h"

#include "controls/Button.h"
#include "controls/Knob.h"
#include "driver/KestrumIoControl.h"
#include "panels/kx2.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLoggingCategory>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kSteps = 200;
constexpr int kBurst = 1000;
constexpr int kPolls = 40;
// Entry of the headphone volume knob among the kx2 panel's knobs.
constexpr int kHeadphoneKnob = 4;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Step>
double timeMs(Step step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    return clock.nsecsElapsed() / 1e6;
}

// Counts paint events per kind of widget below the panel, and the panel's
// layout passes.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* panel)
        : panel(panel)
    {
        panel->installEventFilter(this);
        for (QWidget* widget : panel->findChildren<QWidget*>())
            widget->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++counts["layout passes"];
        if (event->type() == QEvent::Paint) {
            const char* kind = qobject_cast<Knob*>(watched) ? "knobs repainted"
                : qobject_cast<Button*>(watched)            ? "buttons repainted"
                : qobject_cast<QLabel*>(watched)            ? "labels repainted"
                : watched == panel                          ? "panel background repainted"
                                                            : "other widgets repainted";
            ++counts[kind];
        }
        return QObject::eventFilter(watched, event);
    }

    QString perPoll(int polls) const
    {
        QStringList parts;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            parts << QString("%1 %2").arg(double(it.value()) / polls, 0, 'f', 1).arg(it.key());
        return parts.isEmpty() ? QStringLiteral("nothing") : parts.join(", ");
    }

    QWidget* panel;
    QMap<QString, int> counts;
};

} // namespace

class BenchPanels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void buildKx2Panel();
    void diskFlushesOfAKx2Build();
    void headphoneKnobBurstAgainstItsFloor();
    void meterPollHiddenAgainstItsFloor();
    void meterPollRepaintsWhenShown_data();
    void meterPollRepaintsWhenShown();

private:
    TestEnvironment environment;
    std::unique_ptr<SimProcess> sim;
};

void BenchPanels::initTestCase()
{
    // Every handler logs; the log is not what is measured.
    QLoggingCategory::setFilterRules("kestrum.*.debug=false");
    sim = std::make_unique<SimProcess>(QStringList { "--model", "KX2" });
    QVERIFY(sim->waitUntilReady());
}

void BenchPanels::cleanupTestCase()
{
    sim.reset();
}

void BenchPanels::buildKx2Panel()
{
    QBENCHMARK {
        kx2 panel;
    }
}

void BenchPanels::diskFlushesOfAKx2Build()
{
    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/kx2.ini");
    for (const char* file : { "no kx2.ini", "kx2.ini unchanged" }) {
        const int flushesBefore = DiskFlushCounter::count();
        kx2 panel;
        std::printf("building a kx2 panel, %s: %d disk flushes\n", file, DiskFlushCounter::count() - flushesBefore);
    }
}

// A burst of quick steps, as a spun wheel makes, each followed by a pass of
// the event loop, and the loop run on until the burst's last value is
// written: steps per second, GUI time per step with the ini writes, and
// the disk flushes, next to the floors: one whole mixer record sent on a
// channel of its own, and one setValue+sync of kx2.ini by a bare settings
// object.
void BenchPanels::headphoneKnobBurstAgainstItsFloor()
{
    const QString file = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/kx2.ini";
    kx2 panel;
    Knob* headphone = panel.findChildren<Knob*>().at(kHeadphoneKnob);
    QSettings bareFile(file, QSettings::IniFormat);
    KestrumIoControl channel;
    QVERIFY(channel.createDevice());
    auto mixer = std::make_unique<_MIXER_FADER_DATA>();

    std::vector<double> mixerFloors;
    std::vector<double> syncFloors;
    const int floorFlushesBefore = DiskFlushCounter::count();
    for (int i = 0; i < kSteps; ++i) {
        mixer->outputGains[4] = i % 2;
        mixerFloors.push_back(timeMs([&] { channel.io_set_mixer(*mixer); }));
        syncFloors.push_back(timeMs([&] {
            bareFile.setValue("Dial/HeadphoneValue", i);
            bareFile.sync();
        }));
    }
    const double flushesPerSync = double(DiskFlushCounter::count() - floorFlushesBefore) / kSteps;

    const int flushesBefore = DiskFlushCounter::count();
    QElapsedTimer wall;
    wall.start();
    double gui = 0;
    int level = -80;
    for (int i = 0; i < kBurst; ++i) {
        level = level == 6 ? -80 : level + 1;
        gui += timeMs([&] {
            headphone->setValue(level);
            QCoreApplication::processEvents();
        });
    }
    const double burstMs = wall.nsecsElapsed() / 1e6;
    const QString last = QString::number(level);
    while (QSettings(file, QSettings::IniFormat).value("Dial/HeadphoneValue").toString() != last && wall.elapsed() < 2000)
        gui += timeMs([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    std::printf("headphone knob, burst of %d steps: %.0f steps/s, %.3f ms GUI time per step (ini writes "
                "included), %d disk flushes over %.0f ms, last value on disk %.0f ms after the last step; "
                "floor: io_set_mixer %.3f ms median, kx2.ini setValue+sync %.3f ms median (%.1f disk flushes)\n",
                kBurst, kBurst / (burstMs / 1000), gui / kBurst, DiskFlushCounter::count() - flushesBefore, burstMs,
                wall.elapsed() - burstMs, median(mixerFloors), median(syncFloors), flushesPerSync);
}

// The floor: the driver read alone, on a channel of its own.
void BenchPanels::meterPollHiddenAgainstItsFloor()
{
    QVERIFY(sim->command({ "meter", "moving" }));
    kx2 panel;
    KestrumIoControl channel;
    QVERIFY(channel.createDevice());
    _MIXER_METER_DATA meter {};

    std::vector<double> polls;
    std::vector<double> floors;
    for (int i = 0; i < kSteps; ++i) {
        polls.push_back(timeMs([&] { panel.readMeterDataFromDriver(); }));
        floors.push_back(timeMs([&] { channel.io_get_meter_data(meter); }));
    }
    const double poll = median(polls);
    const double floor = median(floors);
    std::printf("meter poll, panel hidden: %.3f ms median; floor (io_get_meter_data alone): %.3f ms median; "
                "ratio %.2f\n",
                poll, floor, poll / floor);
}

void BenchPanels::meterPollRepaintsWhenShown_data()
{
    QTest::addColumn<QStringList>("odd");
    QTest::addColumn<QStringList>("even");
    const QStringList levels { "1073741824", "21474836", "1073741824", "0" };
    QTest::newRow("levels change every poll") << levels << QStringList { "2147483647", "1", "-1000", "3" };
    QTest::newRow("levels unchanged") << levels << levels;
}

// What each poll of a shown panel repaints, once the first poll has put the
// levels in place.
void BenchPanels::meterPollRepaintsWhenShown()
{
    QFETCH(QStringList, odd);
    QFETCH(QStringList, even);
    QVERIFY(sim->command(QStringList { "meter" } + odd));
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* panel = new kx2;
    layout->addWidget(panel);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    panel->readMeterDataFromDriver();
    QTest::qWait(50);

    PaintCounter counter(panel);
    std::vector<double> polls;
    for (int i = 0; i < kPolls; ++i) {
        QVERIFY(sim->command(QStringList { "meter" } + (i % 2 ? odd : even)));
        polls.push_back(timeMs([&] {
            panel->readMeterDataFromDriver();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }));
    }
    std::printf("meter poll, panel shown (%s): %.3f ms median with its repaint; per poll: %s\n",
                QTest::currentDataTag(), median(polls), qPrintable(counter.perPoll(kPolls)));
}

QTEST_MAIN(BenchPanels)
#include "bench_panels.moc"
