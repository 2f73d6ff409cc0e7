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

#include <memory>

namespace {

using L = QStringList;
using S = AudioSettings;
constexpr int StartUp = -1;

// The phone-chip steps are USB control packets; byte 1 is the command.
const QString kOff = "usb 5e";
const QString kOn = "usb 5f";
// Pauses are 100 ms sleeps and deferred steps 200 ms timers. The times are
// taken where the sim receives the calls, so a late delivery of the earlier
// call shortens a gap: a quarter of it is allowed for.
constexpr qint64 kPauseUs = 75000;
constexpr qint64 kDeferUs = 150000;
const QString kStop = "stop_all_audio";
const QString kRestart = "restart_audio";
const QString kInit = "audio_init";
const QString kGetSize = "get_buffer_size";
const QString kGetLat = "get_usb_buffer_size";

// A failing step's sequence: the calls that reached the driver, the log line,
// whether the choice stands and what setting.ini holds after it.
struct Fail {
    int which;
    // Which call fails, and how often.
    QString failing;
    L calls;
    QString message;
    bool applied;
    L stored;
};

// What a failing sequence chooses, by setting + 1: start-up keeps the default rate.
const unsigned kChoice[] = { 44100, 32, 512, 1, 48000 };

QString failed(const char* step)
{
    return QString::fromUtf8(step) + "失败，可能是驱动未正确加载或设备未连接。";
}

// "name argument", without the "io_" every name starts with.
QString describe(const QJsonObject& call)
{
    const QString name = call["name"].toString().mid(3);
    const QByteArray in = DeviceFixture::input(call);
    if (name == "write_usb_control")
        return "usb " + QString::fromLatin1(in.mid(1, 1).toHex());
    return in.size() == 4 ? name + " " + QString::number(qFromLittleEndian<quint32>(in.constData())) : name;
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
        fx->log().clear();
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
        QTest::addColumn<L>("after");
        // The driver runs 8 frames, 256 samples and safe mode in every row.
        const L rate { "get_sample_rate", kStop, "set_sample_rate 44100", "set_wdm_num 4", kOff, kOn, kInit };
        const L buffer { kGetSize, kGetLat, kStop, "set_buffer_size 192", kRestart };
        // Only the default buffer size differs from the first choice; only
        // the change the driver accepted is stored.
        QTest::newRow("nothing stored") << QVariantMap() << buffer + rate << L { "[Audio]", "BufferSize=192" };
        QTest::newRow("latency up, then down for the size")
            << QVariantMap({ { "USB/LatencySize", "32" }, { "Audio/BufferSize", "64" } })
            << L { kGetLat, kStop, "set_usb_buffer_size 32", kRestart, kGetSize,
                   kGetLat, kGetLat, kStop, "set_usb_buffer_size 8", kRestart,
                   kStop, "set_buffer_size 64", kRestart } + rate
            << L { "[Audio]", "BufferSize=64", "[USB]", "LatencySize=8" };
        // Loading runs the rate change; start-up adds nothing of its own.
        QTest::newRow("48000 Hz") << QVariantMap({ { "Audio/SampleRate", "48000" } })
                                  << buffer + L { kStop, "set_sample_rate 48000", "set_wdm_num 4", kInit,
                                                  "get_sample_rate", kOff, kOn }
                                  << L { "[Audio]", "BufferSize=192", "SampleRate=48000" };
        // A value that is no choice changes nothing and is kept; one chosen
        // already is applied all the same.
        QTest::newRow("no choice, one chosen") << QVariantMap({ { "Audio/BufferSize", "100" }, { "USB/SlowMode", "Disabled" } })
                                               << L { kStop, "set_safe_mode_off", kRestart } + rate
                                               << L { "[Audio]", "BufferSize=100", "[USB]", "SlowMode=Disabled" };
    }

    void startup()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(L, want);
        QFETCH(L, after);
        DeviceFixture::store("setting.ini", stored);
        connectEngine({ "set usb-latency 8", "set safe-mode on" });
        e->startSetup();
        QTRY_VERIFY(!e->pending());
        QCOMPARE(calls(), want);
        QCOMPARE(onDisk(), after);
    }

    // The interface came back from a reset at its own defaults while the
    // choices stand: the next connect puts them back.
    void afterDeviceReset()
    {
        connectEngine();
        e->choose(S::BufferSize, 64);
        e->choose(S::SafeMode, 1);
        fx->sim().clearRecord();
        e->choose(S::SampleRate, 48000);
        // Stored once the driver took the rate, before the deferred steps.
        QCOMPARE(onDisk(), L({ "[Audio]", "BufferSize=64", "SampleRate=48000", "[USB]", "LatencySize=8", "SlowMode=Enabled" }));
        QTRY_VERIFY(!e->pending());
        QCOMPARE(calls(), L({ kStop, "set_sample_rate 48000", "set_wdm_num 4", kInit, kOff, kOn }));
        QVERIFY(gap("set_sample_rate 48000") >= kPauseUs && gap(kInit) >= kPauseUs);
        QVERIFY(gap(kOff) >= kDeferUs && gap(kOn) >= kDeferUs);

        QVERIFY(fx->sim().reset());
        fx->sim().clearRecord();
        QVERIFY(e->connect2Driver());
        e->startSetup();
        QTRY_VERIFY(!e->pending());
        const QJsonObject state = fx->sim().state();
        QCOMPARE(state["bufferSize"].toInt(), 64);
        QCOMPARE(state["usbLatency"].toInt(), 8);
        QCOMPARE(state["safeMode"].toBool(), true);
        // The rate is the device's own default, so the calls show it was set,
        // with start-up's pauses.
        QVERIFY(gap("set_sample_rate 48000") >= kPauseUs);
        QVERIFY(gap(kOff) >= kDeferUs && gap(kOn) >= kDeferUs);
    }

    // Nothing is sent, but it is the user's choice from now on.
    void choiceTheDriverRuns()
    {
        DeviceFixture::store("setting.ini", { { "Audio/BufferSize", "256" } });
        connectEngine({ "set buffer-size 512", "set usb-latency 24" });
        e->choose(S::BufferSize, 512);
        e->choose(S::UsbLatency, 24);
        QCOMPARE(calls(), L({ kGetSize, kGetLat }));
        QCOMPARE(onDisk(), L({ "[Audio]", "BufferSize=512", "[USB]", "LatencySize=24" }));
        QVERIFY(fx->log().contains("USB延迟大小设置已保存： \"24\""));
    }

    // A file that cannot be written, whoever runs the test: the log says so
    // and never "saved", the user is told once, and the next change once it
    // can be written writes every choice.
    void unsavableFileIsToldOnceAndRetried()
    {
        const QString file = DeviceFixture::iniPath("setting.ini");
        QSignalSpy told(&SaveFailureNotice::instance(), &SaveFailureNotice::notKept);
        QVERIFY(QDir().mkpath(file));
        connectEngine({ "set buffer-size 512", "set usb-latency 24" });
        e->choose(S::BufferSize, 512);
        e->choose(S::UsbLatency, 24);
        QCOMPARE(fx->log().lines().filter("Failed to save settings to").size(), 2);
        QCOMPARE(fx->log().lines().filter("设置已保存").size(), 0);
        QCOMPARE(told.size(), 1);
        QVERIFY(QDir(file).removeRecursively() && fx->sim().command({ "set", "buffer-size", "1024" }));
        e->choose(S::BufferSize, 1024);
        QCOMPARE(onDisk(), L({ "[Audio]", "BufferSize=1024", "[USB]", "LatencySize=24" }));
        QVERIFY(fx->log().contains("音频缓冲区大小设置已保存： \"1024\""));
    }

    // A refused choice falls back to what the driver runs, and falling back
    // runs nothing. What the driver runs may have been taken without a
    // restart, or with nothing sent at all.
    void refusalFallsBack()
    {
        connectEngine();
        QSignalSpy told(e.get(), &SettingsEngine::selectionChanged);
        struct Change { S::Setting s; QString failsAfter; unsigned taken, refused; QString failing; };
        for (const Change& c : { Change { S::SampleRate, "set_wdm_num", 48000, 44100, "set_sample_rate" },
                                 Change { S::BufferSize, {}, 256, 1024, "set_buffer_size" },
                                 Change { S::BufferSize, kRestart, 512, 1024, "set_buffer_size" },
                                 Change { S::UsbLatency, kRestart, 24, 32, "set_usb_buffer_size" },
                                 Change { S::SafeMode, kRestart, 1, 0, "set_safe_mode_off" } }) {
            QVERIFY(c.failsAfter.isEmpty() || fx->sim().command({ "fail", c.failsAfter, "once" }));
            e->choose(c.s, c.taken);
            QVERIFY(fx->sim().command({ "fail", c.failing, "once" }));
            told.clear();
            e->choose(c.s, c.refused);
            QCOMPARE(e->selection()[c.s], c.taken);
            QCOMPARE(told.size(), 2);
            const L done = calls();
            // The refused call, then the engine is restarted.
            QCOMPARE(done.at(done.size() - 2).section(' ', 0, 0), c.failing);
        }
    }

    void sizeCapsLatency_data()
    {
        QTest::addColumn<unsigned>("chosen");
        QTest::addColumn<QString>("runs");
        QTest::addColumn<unsigned>("size");
        // The latency set first, if any.
        QTest::addColumn<QString>("lowered");
        QTest::newRow("64 at 16") << 16u << "16" << 64u << "8";
        // The cap may be chosen already while the driver runs more.
        QTest::newRow("64 at 16, 8 chosen") << 8u << "16" << 64u << "8";
        QTest::newRow("128 at 24") << 24u << "24" << 128u << "16";
        QTest::newRow("256 at 32") << 32u << "32" << 256u << "24";
        QTest::newRow("1024 at 8") << 8u << "8" << 1024u << "";
    }

    void sizeCapsLatency()
    {
        QFETCH(unsigned, chosen);
        QFETCH(QString, runs);
        QFETCH(unsigned, size);
        QFETCH(QString, lowered);
        connectEngine({ "set usb-latency " + runs, "set buffer-size 192" });
        // What the driver runs already: only a read.
        e->choose(S::UsbLatency, chosen);
        DeviceFixture::removeIni("setting.ini");
        fx->sim().clearRecord();

        e->choose(S::BufferSize, size);
        const bool lowers = !lowered.isEmpty();
        const L lowering { kGetLat, kStop, "set_usb_buffer_size " + lowered, kRestart };
        const QString sized = QString::number(size);
        QCOMPARE(calls(), L({ kGetSize, kGetLat }) + (lowers ? lowering : L()) + L({ kStop, "set_buffer_size " + sized, kRestart }));
        QCOMPARE(onDisk(), L({ "[Audio]", "BufferSize=" + sized }) + (lowers ? L({ "[USB]", "LatencySize=" + lowered }) : L()));
        QCOMPARE(e->selection()[S::UsbLatency], lowers ? lowered.toUInt() : chosen);
    }

    void failingStep_data()
    {
        QTest::addColumn<Fail>("f");
        // Unless said otherwise, the last call fails once; a refusal after the
        // audio stop brings the engine back with the call `then`.
        const auto row = [](const char* name, int which, const L& calls, const char* step, bool applied, const QString& then = {},
                            const L& stored = {}, const QString& failing = {}) {
            const QString last = calls.last().startsWith("usb") ? "write_usb_control" : calls.last().section(' ', 0, 0);
            QTest::newRow(name) << Fail { which, failing.isEmpty() ? last + " once" : failing, then.isEmpty() ? calls : calls + L(then),
                                          failed(step), applied, stored };
        };
        const L rate { kStop, "set_sample_rate 48000", "set_wdm_num 4", kInit, kOff };
        row("rate: stop", S::SampleRate, rate.first(1), "停止音频", false);
        row("rate: set", S::SampleRate, rate.first(2), "设置音频采样率", false, kInit);
        row("rate: wdm", S::SampleRate, rate.first(3), "设置WDM通道数量", true, kInit);
        row("rate: init", S::SampleRate, rate.first(4), "重新启动音频", true);
        // The rate is stored already; chip-on never comes.
        row("rate: chip off", S::SampleRate, rate, "关闭OTG芯片", true, {}, { "[Audio]", "SampleRate=48000" });

        const L buffer { kGetSize, kGetLat, kStop, "set_buffer_size 512", kRestart };
        row("buffer: read size", S::BufferSize, buffer.first(1), "获取音频缓冲区大小", false);
        row("buffer: read latency", S::BufferSize, buffer.first(2), "获取USB延迟大小", false);
        row("buffer: set", S::BufferSize, buffer.first(4), "设置音频缓冲区大小", false, kRestart);
        row("buffer: restart", S::BufferSize, buffer, "重新启动音频", true);

        const L latency { kGetLat, kStop, "set_usb_buffer_size 32", kRestart };
        row("latency: stop", S::UsbLatency, latency.first(2), "停止音频", false);
        row("latency: set", S::UsbLatency, latency.first(3), "设置USB延迟大小", false, kRestart);
        row("latency: restart", S::UsbLatency, latency, "重新启动音频", true);

        const L safe { kStop, "set_safe_mode_on", kRestart };
        row("safe: stop", S::SafeMode, safe.first(1), "停止音频", false);
        row("safe: switch", S::SafeMode, safe.first(2), "设置USB慢速模式", false, kRestart);
        row("safe: restart", S::SafeMode, safe, "重新启动音频", true);

        // Loading finds the driver at the default buffer size and only stores it.
        const L loaded { "[Audio]", "BufferSize=192" };
        const L start { kGetSize, "get_sample_rate", kStop, "set_sample_rate 44100", "set_wdm_num 4", kOff, kOn, kInit };
        row("start-up: stop", StartUp, start.first(3), "停止音频", true, {}, loaded);
        row("start-up: set", StartUp, start.first(4), "设置音频采样率", true, kInit, loaded);
        row("start-up: wdm", StartUp, start.first(5), "设置WDM通道数量", true, kInit, loaded);
        // Unlike the rate change, start-up goes on to initialise the engine.
        row("start-up: chip", StartUp, start, "开启OTG芯片", true, {}, loaded, "write_usb_control 2");
        row("start-up: init", StartUp, start, "初始化音频", true, {}, loaded);
    }

    // Nothing is rolled back; nothing is stored that the driver refused; the
    // choice is what the driver runs; the engine runs unless restarting it failed.
    void failingStep()
    {
        QFETCH(Fail, f);
        connectEngine({ "set buffer-size 192", "fail " + f.failing });
        const S::Setting changed = f.which == StartUp ? S::SampleRate : S::Setting(f.which);
        const unsigned before = e->selection()[changed], choice = kChoice[f.which + 1];
        if (f.which == StartUp)
            e->startSetup();
        else
            e->choose(changed, choice);
        QTRY_VERIFY(!e->pending());
        QVERIFY(fx->log().contains(f.message));
        QCOMPARE(calls(), f.calls);
        QCOMPARE(onDisk(), f.stored);
        QCOMPARE(e->selection()[changed], f.applied ? choice : before);
        QCOMPARE(fx->sim().state()["audioRunning"].toBool(), !f.failing.startsWith(kRestart) && !f.failing.startsWith(kInit));
    }

    // Quitting between the phone-chip steps finishes them at once.
    void quitLeavesChipOn_data()
    {
        QTest::addColumn<bool>("startUp");
        QTest::addColumn<bool>("offSent");
        for (const bool startUp : { false, true })
            for (const bool offSent : { false, true })
                QTest::addRow("%s, off %s", startUp ? "start-up" : "rate", offSent ? "sent" : "due") << startUp << offSent;
    }

    void quitLeavesChipOn()
    {
        QFETCH(bool, startUp);
        QFETCH(bool, offSent);
        connectEngine();
        if (startUp)
            e->startSetup();
        else
            e->choose(S::SampleRate, 48000);
        if (offSent)
            QTRY_VERIFY(calls().contains(kOff));
        e.reset();
        const L done = calls();
        QCOMPARE(done.mid(done.indexOf(kOff)), L({ kOff, kOn }) + (startUp ? L(kInit) : L()));
        QVERIFY(gap(kOn) < kDeferUs);
        const QJsonObject state = fx->sim().state();
        QVERIFY(state["phoneChip"].toBool() && state["audioRunning"].toBool());
    }

    void noDevice()
    {
        // Never connected: the engine has no channel at all.
        QVERIFY(fx->startSim());
        e = std::make_unique<SettingsEngine>();
        for (const auto& [s, value] : { std::pair { S::SampleRate, 48000u }, { S::SafeMode, 1u }, { S::BufferSize, 64u }, { S::UsbLatency, 32u } })
            e->choose(s, value);
        QVERIFY(!e->pending());
        // Rate, safe mode, and latency after its ignored read.
        QCOMPARE(fx->log().count(failed("停止音频")), 3);
        QCOMPARE(fx->log().count(failed("获取音频缓冲区大小")), 1);
        QVERIFY(fx->sim().calls().isEmpty() && fx->sim().state()["connections"].toInt() == 0);
        QCOMPARE(onDisk(), L());
        // The first choices, as at the start.
        for (const S::Setting s : { S::BufferSize, S::UsbLatency, S::SampleRate, S::SafeMode })
            QCOMPARE(e->selection()[s], S::choices(s).first());
    }

private:
    void connectEngine(const L& commands = {})
    {
        QVERIFY(fx->startSim({}, commands));
        e = std::make_unique<SettingsEngine>();
        QVERIFY(e->connect2Driver());
        fx->sim().clearRecord();
    }
    // The driver calls since the record was last cleared.
    L calls()
    {
        L described;
        for (const QJsonObject& call : fx->sim().calls())
            described << describe(call);
        return described;
    }
    // The time between the last such call and the one before it.
    qint64 gap(const QString& call)
    {
        const QList<QJsonObject> all = fx->sim().calls();
        const qsizetype at = calls().lastIndexOf(call);
        return all.value(at)["timeUs"].toInteger() - all.value(at - 1)["timeUs"].toInteger();
    }
    // The lines of setting.ini on disk.
    L onDisk() const
    {
        QFile file(DeviceFixture::iniPath("setting.ini"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : L();
    }

    std::unique_ptr<DeviceFixture> fx;
    std::unique_ptr<SettingsEngine> e;
};

QTEST_GUILESS_MAIN(TestSettingsEngine)
#include "tst_settingsengine.moc"
