// The settings engine against the simulated interface, with no window: each
// choice's driver sequence as it reached the device (order, arguments,
// pauses), and what ends up in "setting.ini".

#include "settings/SaveFailureNotice.h"
#include "settings/SettingsEngine.h"
#include "tests/support/DeviceFixture.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

namespace {

using L = QStringList;
using S = AudioSettings;
constexpr S::Setting Lat = S::UsbLatency, Buf = S::BufferSize, Safe = S::SafeMode, Rate = S::SampleRate;
constexpr int StartUp = -1;

// The phone-chip steps are USB control packets; byte 1 is the command.
const QString kOff = "usb 5e", kOn = "usb 5f";
// Pauses are 100 ms sleeps and deferred steps 200 ms timers. The times are
// taken where the sim receives the calls, so a late delivery of the earlier
// call shortens a gap: a quarter of it is allowed for.
constexpr qint64 kPauseUs = 75000, kDeferUs = 150000;
const QString kStop = "stop_all_audio", kRestart = "restart_audio", kInit = "audio_init";
const QString kGetSize = "get_buffer_size", kGetLat = "get_usb_buffer_size", kWdm = "set_wdm_num 4";
const QString kFailed = "失败，可能是驱动未正确加载或设备未连接。";
const char *const kStopped = "停止音频", *const kRestarted = "重新启动音频";

// A failing step's sequence: the calls that reached the driver, the log line,
// whether the choice stands and what setting.ini holds after it.
struct Fail {
    int which;
    // Which call fails, and how often.
    QString failing;
    L calls;
    QString message;
    bool applied;
    QString stored;
};

// What a failing sequence chooses, by setting + 1: start-up keeps the default rate.
const unsigned kChoice[] = { 44100, 32, 512, 1, 48000 };

// "name argument", without the "io_" every name starts with; a USB
// control packet by its command byte.
QString describe(const QJsonObject& call)
{
    const QString name = call["name"].toString().mid(3);
    const QByteArray in = DeviceFixture::input(call);
    if (in.size() == 4)
        return name + " " + QString::number(qFromLittleEndian<quint32>(in.constData()));
    return in.isEmpty() ? name : "usb " + in.mid(1, 1).toHex();
}

} // namespace

Q_DECLARE_METATYPE(Fail)

class TestSettingsEngine : public QObject
{
    Q_OBJECT

private slots:
    // After the test framework took the message handler, so the log is captured.
    void initTestCase() { fx = std::make_unique<DeviceFixture>(); }
    void init()
    {
        DeviceFixture::removeIni("setting.ini");
        log().clear();
    }
    void cleanup()
    {
        e.reset();
        fx->stopSim();
    }

    void startup_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<L>("want");
        QTest::addColumn<QString>("after");
        // The driver runs 8 frames, 256 samples and safe mode in every row.
        const L rate { "get_sample_rate", kStop, "set_sample_rate 44100", kWdm, kOff, kOn, kInit };
        const L buffer { kGetSize, kGetLat, kStop, "set_buffer_size 192", kRestart };
        // Only the change the driver accepted is stored.
        QTest::newRow("latency up, down")
            << QVariantMap({ { "USB/LatencySize", "32" }, { "Audio/BufferSize", "64" } })
            << L { kGetLat, kStop, "set_usb_buffer_size 32", kRestart, kGetSize, kGetLat,
                   kGetLat, kStop, "set_usb_buffer_size 8", kRestart, kStop, "set_buffer_size 64", kRestart } + rate
            << "[Audio] BufferSize=64 [USB] LatencySize=8";
        // Loading runs the rate change; start-up adds nothing of its own.
        QTest::newRow("48000 Hz") << QVariantMap({ { "Audio/SampleRate", "48000" } })
                                  << buffer + L { kStop, "set_sample_rate 48000", kWdm, kInit, "get_sample_rate", kOff, kOn }
                                  << "[Audio] BufferSize=192 SampleRate=48000";
        // A value that is no choice changes nothing and is kept; one chosen
        // already is applied all the same.
        QTest::newRow("no choice") << QVariantMap({ { "Audio/BufferSize", "100" }, { "USB/SlowMode", "Disabled" } })
                                               << L { kStop, "set_safe_mode_off", kRestart } + rate
                                               << "[Audio] BufferSize=100 [USB] SlowMode=Disabled";
    }

    void startup()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(L, want);
        QFETCH(QString, after);
        DeviceFixture::store("setting.ini", stored);
        start({ "set usb-latency 8", "set safe-mode on" });
        e->startSetup();
        QTRY_VERIFY(!e->pending());
        QCOMPARE(calls(), want);
        QCOMPARE(onDisk(), after);
        // Either rate sequence pauses before the rate, and defers the chip steps.
        QVERIFY(gap(want.filter("set_sample").last()) >= kPauseUs && gap(kOff) >= kDeferUs && gap(kOn) >= kDeferUs);
    }

    // The interface came back from a reset at its own defaults while 48000
    // Hz is chosen: the next connect sets it, with start-up's pause.
    void afterDeviceReset()
    {
        start();
        e->choose(Rate, 48000);
        // The rate change's second pause.
        QVERIFY(gap(kInit) >= kPauseUs && sim().reset() && e->connect2Driver());
        sim().clearRecord();
        e->startSetup();
        QVERIFY(gap("set_sample_rate 48000") >= kPauseUs);
    }

    // Choices the driver runs already: nothing is sent, but they are the
    // user's from now on. A file that cannot be written, whoever runs the
    // test: the log says so and never "saved", the user is told once, and the
    // next change once it can be written writes every choice.
    void unsavableFileIsToldOnceAndRetried()
    {
        const QString file = DeviceFixture::iniPath("setting.ini");
        QSignalSpy told(&SaveFailureNotice::instance(), &SaveFailureNotice::notKept);
        QVERIFY(QDir().mkpath(file));
        start({ "set buffer-size 512", "set usb-latency 24" });
        e->choose(Buf, 512);
        e->choose(Lat, 24);
        QCOMPARE(calls(), L({ kGetSize, kGetLat }));
        QVERIFY(log().lines().filter("Failed to save").size() == 2 && log().lines().filter("设置已保存").isEmpty() && told.size() == 1);
        QVERIFY(QDir(file).removeRecursively() && sim().command({ "set", "buffer-size", "1024" }));
        e->choose(Buf, 1024);
        QCOMPARE(onDisk(), "[Audio] BufferSize=1024 [USB] LatencySize=24");
        QVERIFY(log().contains("音频缓冲区大小设置已保存： \"1024\""));
    }

    // A refused choice falls back to what the driver runs, which may have
    // been taken without a restart, or with nothing sent at all.
    void refusalFallsBack()
    {
        start();
        struct Change { S::Setting s; QString failsAfter; unsigned taken, refused; QString failing; };
        for (const Change& c : { Change { Rate, "set_wdm_num", 48000, 44100, "set_sample_rate" },
                                 Change { Buf, {}, 256, 1024, "set_buffer_size" },
                                 Change { Buf, kRestart, 512, 1024, "set_buffer_size" },
                                 Change { Lat, kRestart, 24, 32, "set_usb_buffer_size" },
                                 Change { Safe, kRestart, 1, 0, "set_safe_mode_off" } }) {
            QVERIFY(c.failsAfter.isEmpty() || sim().command({ "fail", c.failsAfter, "once" }));
            e->choose(c.s, c.taken);
            QVERIFY(sim().command({ "fail", c.failing, "once" }));
            e->choose(c.s, c.refused);
            QCOMPARE(e->selection()[c.s], c.taken);
        }
    }

    // The latency first chosen, 8, is set when it is the cap, as is any lower one.
    void sizeCapsLatency_data()
    {
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("size");
        // What the latency is lowered to, first; 0: it stays.
        QTest::addColumn<int>("lowered");
        QTest::newRow("64 at 16") << 16 << 64 << 8;
        QTest::newRow("128 at 24") << 24 << 128 << 16;
        QTest::newRow("256 at 32") << 32 << 256 << 24;
        QTest::newRow("1024 at 8") << 8 << 1024 << 0;
    }

    void sizeCapsLatency()
    {
        QFETCH(int, runs);
        QFETCH(int, size);
        QFETCH(int, lowered);
        start({ "set usb-latency " + QString::number(runs), "set buffer-size 192" });
        e->choose(Buf, size);
        const QJsonObject state = sim().state();
        QVERIFY(state["usbLatency"] == (lowered ? lowered : runs) && state["bufferSize"] == size);
        QCOMPARE(onDisk(), QString("[Audio] BufferSize=%1").arg(size) + (lowered ? QString(" [USB] LatencySize=%1").arg(lowered) : ""));
    }

    void failingStep_data()
    {
        QTest::addColumn<Fail>("f");
        // The n first calls go out, the last failing once unless `failing`
        // says otherwise; a refusal after the audio stop brings the engine
        // back with the call `then`.
        const auto row = [](int which, const L& calls, int n, const char* step, bool applied, const QString& then = {},
                            const QString& stored = {}, const QString& failing = {}) {
            const QString last = n == 5 && which == Rate ? "write_usb_control" : calls[n - 1].section(' ', 0, 0);
            QTest::addRow("%d %s", which, step) << Fail { which, failing.isEmpty() ? last + " once" : failing,
                                                          calls.first(n) + (then.isEmpty() ? L() : L(then)), step + kFailed, applied, stored };
        };
        const L rate { kStop, "set_sample_rate 48000", kWdm, kInit, kOff };
        row(Rate, rate, 1, kStopped, false);
        row(Rate, rate, 2, "设置音频采样率", false, kInit);
        row(Rate, rate, 3, "设置WDM通道数量", true, kInit);
        row(Rate, rate, 4, kRestarted, true);
        // The rate is stored already; chip-on never comes.
        row(Rate, rate, 5, "关闭OTG芯片", true, {}, "[Audio] SampleRate=48000");

        const L buffer { kGetSize, kGetLat, kStop, "set_buffer_size 512", kRestart };
        row(Buf, buffer, 1, "获取音频缓冲区大小", false);
        row(Buf, buffer, 2, "获取USB延迟大小", false);
        row(Buf, buffer, 4, "设置音频缓冲区大小", false, kRestart);
        row(Buf, buffer, 5, kRestarted, true);

        const L latency { kGetLat, kStop, "set_usb_buffer_size 32", kRestart };
        row(Lat, latency, 2, kStopped, false);
        row(Lat, latency, 3, "设置USB延迟大小", false, kRestart);
        row(Lat, latency, 4, kRestarted, true);

        const L safe { kStop, "set_safe_mode_on", kRestart };
        row(Safe, safe, 1, kStopped, false);
        row(Safe, safe, 2, "设置USB慢速模式", false, kRestart);
        row(Safe, safe, 3, kRestarted, true);

        // Loading finds the driver at the default buffer size and only stores it.
        const QString loaded = "[Audio] BufferSize=192";
        const L start { kGetSize, "get_sample_rate", kStop, "set_sample_rate 44100", kWdm, kOff, kOn, kInit };
        row(StartUp, start, 3, kStopped, true, {}, loaded);
        row(StartUp, start, 4, "设置音频采样率", true, kInit, loaded);
        row(StartUp, start, 5, "设置WDM通道数量", true, kInit, loaded);
        // Unlike the rate change, start-up goes on to initialise the engine.
        row(StartUp, start, 8, "开启OTG芯片", true, {}, loaded, "write_usb_control 2");
        row(StartUp, start, 8, "初始化音频", true, {}, loaded);
    }

    // Nothing is rolled back; nothing is stored that the driver refused; the
    // choice is what the driver runs.
    void failingStep()
    {
        QFETCH(Fail, f);
        start({ "set buffer-size 192", "fail " + f.failing });
        const S::Setting changed = f.which == StartUp ? Rate : S::Setting(f.which);
        const unsigned before = e->selection()[changed], choice = kChoice[f.which + 1];
        if (f.which == StartUp)
            e->startSetup();
        else
            e->choose(changed, choice);
        QTRY_VERIFY(!e->pending());
        QVERIFY(log().contains(f.message));
        QCOMPARE(calls(), f.calls);
        QCOMPARE(onDisk(), f.stored);
        QCOMPARE(e->selection()[changed], f.applied ? choice : before);
    }

    // Quitting between the phone-chip steps finishes them at once: the
    // rate change's before chip-off, start-up's before chip-on.
    void quitLeavesChipOn_data()
    {
        QTest::addColumn<bool>("startUp");
        QTest::newRow("rate") << false;
        QTest::newRow("start-up") << true;
    }

    void quitLeavesChipOn()
    {
        QFETCH(bool, startUp);
        start();
        startUp ? e->startSetup() : e->choose(Rate, 48000);
        if (startUp)
            QTRY_VERIFY(calls().contains(kOff));
        e.reset();
        const L done = calls();
        QCOMPARE(done.mid(done.indexOf(kOff)), L({ kOff, kOn }) + (startUp ? L(kInit) : L()));
        QVERIFY(gap(kOn) < kDeferUs);
    }

    // Never connected: the engine has no channel at all. Rate, safe mode,
    // and latency after its ignored read fail at the stop; the first choices
    // stand, as at the start.
    void noDevice()
    {
        QVERIFY(fx->startSim());
        e = std::make_unique<SettingsEngine>();
        for (const auto& [s, value] : { std::pair { Rate, 48000u }, { Safe, 1u }, { Buf, 64u }, { Lat, 32u } }) {
            e->choose(s, value);
            QCOMPARE(e->selection()[s], S::choices(s).first());
        }
        QVERIFY(log().count(kStopped + kFailed) == 3 && log().count("获取音频缓冲区大小" + kFailed) == 1);
        QVERIFY(sim().calls().isEmpty() && sim().state()["connections"] == 0 && onDisk().isEmpty());
    }

private:
    SimProcess& sim() { return fx->sim(); }
    LogCapture& log() { return fx->log(); }
    void start(const L& commands = {})
    {
        QVERIFY(fx->startSim({}, commands));
        e = std::make_unique<SettingsEngine>();
        QVERIFY(e->connect2Driver());
        sim().clearRecord();
    }
    // The driver calls since the record was last cleared.
    L calls()
    {
        L described;
        for (const QJsonObject& call : sim().calls())
            described << describe(call);
        return described;
    }
    // The time between the last such call and the one before it.
    qint64 gap(const QString& call)
    {
        const QList<QJsonObject> all = sim().calls();
        const qsizetype at = calls().lastIndexOf(call);
        return all.value(at)["timeUs"].toInteger() - all.value(at - 1)["timeUs"].toInteger();
    }
    // The lines of setting.ini on disk, one space between them.
    QString onDisk() const
    {
        QFile file(DeviceFixture::iniPath("setting.ini"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).simplified() : QString();
    }

    std::unique_ptr<DeviceFixture> fx;
    std::unique_ptr<SettingsEngine> e;
};

QTEST_GUILESS_MAIN(TestSettingsEngine)
#include "tst_settingsengine.moc"
