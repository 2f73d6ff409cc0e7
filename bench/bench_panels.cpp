// What the panels cost on the GUI thread: building a panel (which sends the
// whole stored state), one knob step (a mixer record sent and the ini file
// rewritten and flushed) and one meter poll with its readouts.

#include "controls/Knob.h"
#include "panels/kx2.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QLoggingCategory>
#include <QTest>

#include <iostream>
#include <memory>

class BenchPanels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void buildKx2Panel();
    void headphoneKnobStep();
    void meterPoll();

private:
    TestEnvironment environment;
    std::unique_ptr<SimProcess> sim;
};

void BenchPanels::initTestCase()
{
    std::wcout.setstate(std::ios::badbit);
    // Every handler logs; the log is not what is measured.
    QLoggingCategory::setFilterRules("default.debug=false");
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

void BenchPanels::headphoneKnobStep()
{
    kx2 panel;
    Knob* headphone = panel.findChildren<Knob*>().at(4);
    int level = -80;
    QBENCHMARK {
        level = level == 6 ? -80 : level + 1;
        headphone->setValue(level);
    }
}

void BenchPanels::meterPoll()
{
    kx2 panel;
    QBENCHMARK {
        panel.readMeterDataFromDriver();
    }
}

QTEST_MAIN(BenchPanels)
#include "bench_panels.moc"
