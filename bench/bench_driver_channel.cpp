// What one driver call costs through the stand-in: the main window polls the
// PID every 400 ms, each panel reads meters every 500 ms and sends the whole
// 66304-byte mixer record on every knob step, all on the GUI thread.

#include "driver/KestrumIoControl.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QTest>

#include <memory>

class BenchDriverChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void readPid();
    void readMeters();
    void sendMixerRecord();
    void openAndClose();

private:
    TestEnvironment environment;
    std::unique_ptr<SimProcess> sim;
    KestrumIoControl channel;
};

void BenchDriverChannel::initTestCase()
{
    sim = std::make_unique<SimProcess>(QStringList { "--model", "KX2" });
    QVERIFY(sim->waitUntilReady());
    QVERIFY(channel.createDevice());
}

void BenchDriverChannel::cleanupTestCase()
{
    channel.closeHandle();
    sim.reset();
}

void BenchDriverChannel::readPid()
{
    unsigned int pid = 0;
    QBENCHMARK {
        channel.io_get_device_pid(pid);
    }
    QCOMPARE(pid, 2u);
}

void BenchDriverChannel::readMeters()
{
    _MIXER_METER_DATA meter {};
    bool ok = true;
    QBENCHMARK {
        ok = channel.io_get_meter_data(meter) && ok;
    }
    QVERIFY(ok);
}

void BenchDriverChannel::sendMixerRecord()
{
    auto mixer = std::make_unique<_MIXER_FADER_DATA>();
    mixer->outputGains[4] = 0.5;
    bool ok = true;
    QBENCHMARK {
        ok = channel.io_set_mixer(*mixer) && ok;
    }
    QVERIFY(ok);
}

void BenchDriverChannel::openAndClose()
{
    QBENCHMARK {
        KestrumIoControl detection;
        detection.createDevice();
    }
}

QTEST_GUILESS_MAIN(BenchDriverChannel)
#include "bench_driver_channel.moc"
