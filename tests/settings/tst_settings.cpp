// The settings dialog against the simulated interface: each choice's driver
// sequence as it reached the device (order, arguments, pauses), what ends up
// in "setting.ini", and the two pipes to the ASIO driver.

#include "platform/NamedPipe.h"
#include "settings/PipeASIO.h"
#include "settings/Settings.h"
#include "tests/support/DeviceFixture.h"
#include "settings/SaveFailureNotice.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using L = QStringList;

// The boxes in the order the dialog creates them.
enum Box { Buffer, Latency, Rate, Safe, StartUp = -1 };

const QString kShown = "Received signal from pipe thread to show settings window.";
const QString kWaiting = "ThreadSettingsPip is running waiting Asio Info...";
// The phone-chip steps are USB control packets; byte 1 is the command.
const QString kOff = "usb 5e";
const QString kOn = "usb 5f";

// Pauses are 100 ms sleeps and deferred steps 200 ms timers. The times are
// taken where the sim receives the calls, so a late delivery of the earlier
// call shortens a gap: a quarter of it is allowed for.
constexpr qint64 kPauseUs = 75000;
constexpr qint64 kDeferUs = 150000;

// Calls that most sequences make.
const QString kStop = "stop_all_audio";
const QString kRestart = "restart_audio";
const QString kInit = "audio_init";
const QString kGetSize = "get_buffer_size";
const QString kGetLat = "get_usb_buffer_size";

// A failing step's sequence: the calls that reached the driver, the log line,
// whether the box shows the choice and what setting.ini holds after it.
struct Fail {
    Box which;
    // Which call fails, and how often.
    QString failing;
    L calls;
    QString message;
    bool applied;
    L stored;
};

// What a failing sequence sets, by Box + 1: start-up sets the default rate.
const char* const kChoice[] = { "44100", "512", "32", "48000", "Enabled" };

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

class TestSettings : public QObject
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
        dialog.reset();
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
        // Only the default buffer size differs from its box's first entry; only
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
        // A value that is no entry changes nothing and is kept; one the box
        // shows already is applied all the same.
        QTest::newRow("no entry, one shown") << QVariantMap({ { "Audio/BufferSize", "100" }, { "USB/SlowMode", "Disabled" } })
                                             << L { kStop, "set_safe_mode_off", kRestart } + rate
                                             << L { "[Audio]", "BufferSize=100", "[USB]", "SlowMode=Disabled" };
    }

    void startup()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(L, want);
        QFETCH(L, after);
        DeviceFixture::store("setting.ini", stored);
        connectDialog({ "set usb-latency 8", "set safe-mode on" });
        dialog->startSetup();
        QTRY_VERIFY(!pending());
        QCOMPARE(calls(), want);
        QCOMPARE(onDisk(), after);
    }

    // The interface came back from a reset at its own defaults while the
    // boxes still show the stored choices: the next connect puts them back.
    void afterDeviceReset()
    {
        connectDialog();
        choose(Buffer, "64");
        choose(Safe, "Enabled");
        sim().clearRecord();
        choose(Rate, "48000");
        // Stored once the driver took the rate, before the deferred steps.
        QCOMPARE(onDisk(), L({ "[Audio]", "BufferSize=64", "SampleRate=48000", "[USB]", "LatencySize=8", "SlowMode=Enabled" }));
        QTRY_VERIFY(!pending());
        QCOMPARE(calls(), L({ kStop, "set_sample_rate 48000", "set_wdm_num 4", kInit, kOff, kOn }));
        QVERIFY(gap("set_sample_rate 48000") >= kPauseUs && gap(kInit) >= kPauseUs);
        QVERIFY(gap(kOff) >= kDeferUs && gap(kOn) >= kDeferUs);

        QVERIFY(sim().reset());
        sim().clearRecord();
        QVERIFY(dialog->connect2Driver());
        dialog->startSetup();
        QTRY_VERIFY(!pending());
        const QJsonObject state = sim().state();
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
        connectDialog({ "set buffer-size 512", "set usb-latency 24" });
        choose(Buffer, "512");
        choose(Latency, "24");
        QCOMPARE(calls(), L({ kGetSize, kGetLat }));
        QCOMPARE(onDisk(), L({ "[Audio]", "BufferSize=512", "[USB]", "LatencySize=24" }));
        QVERIFY(log().contains("USB延迟大小设置已保存： \"24\""));
    }

    // A file that cannot be written, whoever runs the test: the log says so
    // and never "saved", the user is told once, and the next change once it
    // can be written writes every choice.
    void unsavableFileIsToldOnceAndRetried()
    {
        const QString file = DeviceFixture::iniPath("setting.ini");
        QSignalSpy told(&SaveFailureNotice::instance(), &SaveFailureNotice::notKept);
        QVERIFY(QDir().mkpath(file));
        connectDialog({ "set buffer-size 512", "set usb-latency 24" });
        choose(Buffer, "512");
        choose(Latency, "24");
        QCOMPARE(log().lines().filter("Failed to save settings to").size(), 2);
        QCOMPARE(log().lines().filter("设置已保存").size(), 0);
        QCOMPARE(told.size(), 1);
        QVERIFY(QDir(file).removeRecursively() && sim().command({ "set", "buffer-size", "1024" }));
        choose(Buffer, "1024");
        QCOMPARE(onDisk(), L({ "[Audio]", "BufferSize=1024", "[USB]", "LatencySize=24" }));
        QVERIFY(log().contains("音频缓冲区大小设置已保存： \"1024\""));
    }

    // A refused change puts the box back to what the driver runs, and putting
    // it back runs nothing. What the driver runs may have been taken without
    // a restart, or with nothing sent at all.
    void refusalPutsBoxBack()
    {
        connectDialog();
        struct Change { Box box; QString failsAfter, taken, refused, failing; };
        for (const Change& c : { Change { Rate, "set_wdm_num", "48000", "44100", "set_sample_rate" },
                                 Change { Buffer, {}, "256", "1024", "set_buffer_size" },
                                 Change { Buffer, kRestart, "512", "1024", "set_buffer_size" },
                                 Change { Latency, kRestart, "24", "32", "set_usb_buffer_size" },
                                 Change { Safe, kRestart, "Enabled", "Disabled", "set_safe_mode_off" } }) {
            QVERIFY(c.failsAfter.isEmpty() || sim().command({ "fail", c.failsAfter, "once" }));
            choose(c.box, c.taken);
            QVERIFY(sim().command({ "fail", c.failing, "once" }));
            choose(c.box, c.refused);
            QCOMPARE(text(c.box), c.taken);
            const L done = calls();
            // The refused call, then the engine is restarted.
            QCOMPARE(done.at(done.size() - 2).section(' ', 0, 0), c.failing);
        }
    }

    void sizeCapsLatency_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("runs");
        QTest::addColumn<QString>("size");
        // The latency set first, if any.
        QTest::addColumn<QString>("lowered");
        QTest::newRow("64 at 16") << "16" << "16" << "64" << "8";
        // The box may already show the cap while the driver runs more.
        QTest::newRow("64 at 16, 8 shown") << "8" << "16" << "64" << "8";
        QTest::newRow("128 at 24") << "24" << "24" << "128" << "16";
        QTest::newRow("256 at 32") << "32" << "32" << "256" << "24";
        QTest::newRow("1024 at 8") << "8" << "8" << "1024" << "";
    }

    void sizeCapsLatency()
    {
        QFETCH(QString, shown);
        QFETCH(QString, runs);
        QFETCH(QString, size);
        QFETCH(QString, lowered);
        connectDialog({ "set usb-latency " + runs, "set buffer-size 192" });
        // What the driver runs already: only a read.
        choose(Latency, shown);
        DeviceFixture::removeIni("setting.ini");
        sim().clearRecord();

        choose(Buffer, size);
        const bool lowers = !lowered.isEmpty();
        const L lowering { kGetLat, kStop, "set_usb_buffer_size " + lowered, kRestart };
        QCOMPARE(calls(), L({ kGetSize, kGetLat }) + (lowers ? lowering : L())
                              + L({ kStop, "set_buffer_size " + size, kRestart }));
        QCOMPARE(onDisk(), L({ "[Audio]", "BufferSize=" + size }) + (lowers ? L({ "[USB]", "LatencySize=" + lowered }) : L()));
        QCOMPARE(text(Latency), lowers ? lowered : shown);
    }

    void failingStep_data()
    {
        QTest::addColumn<Fail>("f");
        // Unless said otherwise, the last call fails once; a refusal after the
        // audio stop brings the engine back with the call `then`.
        const auto row = [](const char* name, Box which, const L& calls, const char* step, bool applied, const QString& then = {},
                            const L& stored = {}, const QString& failing = {}) {
            const QString last = calls.last().startsWith("usb") ? "write_usb_control" : calls.last().section(' ', 0, 0);
            QTest::newRow(name) << Fail { which, failing.isEmpty() ? last + " once" : failing, then.isEmpty() ? calls : calls + L(then),
                                          failed(step), applied, stored };
        };
        const L rate { kStop, "set_sample_rate 48000", "set_wdm_num 4", kInit, kOff };
        row("rate: stop", Rate, rate.first(1), "停止音频", false);
        row("rate: set", Rate, rate.first(2), "设置音频采样率", false, kInit);
        row("rate: wdm", Rate, rate.first(3), "设置WDM通道数量", true, kInit);
        row("rate: init", Rate, rate.first(4), "重新启动音频", true);
        // The rate is stored already; chip-on never comes.
        row("rate: chip off", Rate, rate, "关闭OTG芯片", true, {}, { "[Audio]", "SampleRate=48000" });

        const L buffer { kGetSize, kGetLat, kStop, "set_buffer_size 512", kRestart };
        row("buffer: read size", Buffer, buffer.first(1), "获取音频缓冲区大小", false);
        row("buffer: read latency", Buffer, buffer.first(2), "获取USB延迟大小", false);
        row("buffer: set", Buffer, buffer.first(4), "设置音频缓冲区大小", false, kRestart);
        row("buffer: restart", Buffer, buffer, "重新启动音频", true);

        const L latency { kGetLat, kStop, "set_usb_buffer_size 32", kRestart };
        row("latency: stop", Latency, latency.first(2), "停止音频", false);
        row("latency: set", Latency, latency.first(3), "设置USB延迟大小", false, kRestart);
        row("latency: restart", Latency, latency, "重新启动音频", true);

        const L safe { kStop, "set_safe_mode_on", kRestart };
        row("safe: stop", Safe, safe.first(1), "停止音频", false);
        row("safe: switch", Safe, safe.first(2), "设置USB慢速模式", false, kRestart);
        row("safe: restart", Safe, safe, "重新启动音频", true);

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
    // box shows what the driver runs; the engine runs unless restarting it failed.
    void failingStep()
    {
        QFETCH(Fail, f);
        connectDialog({ "set buffer-size 192", "fail " + f.failing });
        const Box changed = f.which == StartUp ? Rate : f.which;
        const QString before = text(changed), choice = kChoice[f.which + 1];
        if (f.which == StartUp)
            dialog->startSetup();
        else
            choose(changed, choice);
        QTRY_VERIFY(!pending());
        QVERIFY(log().contains(f.message));
        QCOMPARE(calls(), f.calls);
        QCOMPARE(onDisk(), f.stored);
        QCOMPARE(text(changed), f.applied ? choice : before);
        QCOMPARE(sim().state()["audioRunning"].toBool(), !f.failing.startsWith(kRestart) && !f.failing.startsWith(kInit));
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
        connectDialog();
        if (startUp)
            dialog->startSetup();
        else
            choose(Rate, "48000");
        if (offSent)
            QTRY_VERIFY(calls().contains(kOff));
        dialog.reset();
        const L done = calls();
        QCOMPARE(done.mid(done.indexOf(kOff)), L({ kOff, kOn }) + (startUp ? L(kInit) : L()));
        QVERIFY(gap(kOn) < kDeferUs);
        const QJsonObject state = sim().state();
        QVERIFY(state["phoneChip"].toBool() && state["audioRunning"].toBool());
    }

    void noDevice()
    {
        // Never connected: the dialog has no channel at all.
        openDialog();
        choose(Rate, "48000");
        choose(Safe, "Enabled");
        choose(Buffer, "64");
        choose(Latency, "32");
        QVERIFY(!pending());
        // Rate, safe mode, and latency after its ignored read.
        QCOMPARE(log().count(failed("停止音频")), 3);
        QCOMPARE(log().count(failed("获取音频缓冲区大小")), 1);
        QVERIFY(sim().calls().isEmpty() && sim().state()["connections"].toInt() == 0);
        QCOMPARE(onDisk(), L());
        // The first entries, as at the start.
        QCOMPARE(L({ text(Buffer), text(Latency), text(Rate), text(Safe) }), L({ "48", "8", "44100", "Disabled" }));
    }

    // Requests are read in turn, also from clients that wrote and went away
    // while the listener paused; word 4 alone asks for the dialog.
    void asioRequests()
    {
        openDialog();
        QVERIFY(request({ "1", "2", "3", "4", "0" }));
        // Missing bytes read as zeros.
        QVERIFY(request({ "--hex", "0102" }));
        QVERIFY(request({ "--length", "2000" }));
        QVERIFY(request({ "7", "8", "9", "10", "4294967295" }));
        QTRY_VERIFY(dialog->isVisible());
        QVERIFY(dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(log().count(kShown), 1);
        for (const char* line : { "Received data from pipe: 1 2 3 4 0", "Received data from pipe: 513 0 0 0 0",
                                  "Error reading from pipe. Error code: 234", "Received data from pipe: 7 8 9 10 4294967295" })
            QVERIFY2(log().contains(line), line);

        dialog->showMinimized();
        QVERIFY(request());
        QTRY_COMPARE(log().count(kShown), 2);
        QVERIFY(!dialog->isMinimized());

        // Clients that connect and say nothing get their second to speak side
        // by side, and are dropped; the next one is served meanwhile.
        std::vector<platform::PipeHandle> silent(20);
        std::uint32_t error = 0;
        for (platform::PipeHandle& each : silent)
            QVERIFY((each = platform::openPipe(L"\\\\.\\pipe\\KestrumASIOToPannel", error)) != platform::kInvalidPipeHandle);
        QVERIFY(request());
        QTRY_COMPARE_WITH_TIMEOUT(log().count(kShown), 3, 3000);
        QTRY_COMPARE(log().count("Error reading from pipe. Error code: 121"), 20);
        std::for_each(silent.begin(), silent.end(), platform::closePipe);
        // Whichever instance waits now, requests reach it.
        for (const int shown : { 4, 5 }) {
            QVERIFY(request());
            QTRY_COMPARE(log().count(kShown), shown);
        }
    }

    void okSendsOneNotice()
    {
        openDialog();
        for (bool served : { true, false }) {
            QVERIFY(sim().command({ "asio-serve", served ? "on" : "off" }));
            dialog->show();
            QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
            QVERIFY(dialog->isHidden());
        }
        const QJsonObject asio = sim().state()["asio"].toObject();
        QCOMPARE(asio["notices"].toInt(), 1);
        QCOMPARE(asio["messages"].toInt(), 1);
        QCOMPARE(asio["lastMessage"].toString(), "31");
        QVERIFY(log().contains("Error: Could not open pipe. Error code: 2"));
    }

    // The listener's wait is released and its pipe closed last; without a
    // pipe it retries and still stops.
    void listenerStops()
    {
        openDialog();
        dialog.reset();
        // A second one, once the toolkit has what it keeps, leaves no descriptor behind.
        const auto descriptors = [] { return QDir("/proc/self/fd").count(); };
        const uint before = descriptors();
        dialog = std::make_unique<Settings>();
        QTRY_COMPARE(log().count(kWaiting), 2);
        dialog.reset();
        QCOMPARE(descriptors(), before);
        QCOMPARE(log().lines().last(), "Pipe closed.");
        QVERIFY(!log().contains("No data received from pipe."));

        // A file where the pipe directory belongs makes the pipe impossible.
        const QString pipeDir = fx->environment().baseDir() + "/pipe";
        QVERIFY(QDir(pipeDir).removeRecursively() && QFile(pipeDir).open(QIODevice::WriteOnly));
        log().clear();
        QElapsedTimer tries;
        tries.start();
        dialog = std::make_unique<Settings>();
        QVERIFY(log().contains("Failed to create named pipe in ThreadSettingsPip."));
        // It tries again and again, pausing in between rather than spinning.
        QTRY_VERIFY(log().count("No data received from pipe.") >= 3);
        QVERIFY(tries.elapsed() >= 200);
        QVERIFY(log().contains("Error connecting to pipe. Error code: 6"));
        dialog.reset();
        QVERIFY(!log().contains("Pipe closed."));
        QVERIFY(QFile::remove(pipeDir));
    }

    // No flow of the panel writes through a server pipe, but it can.
    void pipeAsioWrites()
    {
        const std::wstring path = L"\\\\.\\pipe\\KestrumSettingsTest";
        PipeASIO pipe(QString::fromStdWString(path));
        QVERIFY(pipe.createPipe());
        std::uint32_t error = 0;
        const platform::PipeHandle client = platform::openPipe(path, error);
        QVERIFY(pipe.write("1"));
        char buffer[PipeASIO::kMessageCapacity];
        std::uint32_t length = 0;
        QVERIFY(platform::readPipe(client, buffer, sizeof buffer, length, error));
        QCOMPARE(QByteArray(buffer, int(length)), QByteArray("1"));
        // One message, then the client is dropped.
        QVERIFY(!platform::readPipe(client, buffer, sizeof buffer, length, error));
        platform::closePipe(client);
        platform::closePipe(platform::openPipe(path, error));
        // The client went before the message.
        QVERIFY(!pipe.write("2"));

        pipe.close();
        pipe.close();
        QCOMPARE(log().count("Pipe closed."), 1);
        QVERIFY(!pipe.read(buffer) && !pipe.write("1"));
        QVERIFY(!PipeASIO("KestrumSettingsTest").createPipe());
    }

private:
    LogCapture& log() { return fx->log(); }
    SimProcess& sim() { return fx->sim(); }
    // The sim's client sends the words (or what the options make) to the listener.
    bool request(const L& words = { "0", "0", "0", "0", "1" }) { return sim().command(L("asio-request") + words); }
    void openDialog(const L& commands = {})
    {
        QVERIFY(fx->startSim({}, commands));
        dialog = std::make_unique<Settings>();
        // The listener must be waiting before a test speaks to it.
        QTRY_VERIFY(log().contains(kWaiting));
    }
    void connectDialog(const L& commands = {})
    {
        openDialog(commands);
        QVERIFY(dialog->connect2Driver());
        sim().clearRecord();
    }
    void choose(Box which, const QString& text) { box(which)->setCurrentText(text); }
    QComboBox* box(Box which) const { return dialog->findChildren<QComboBox*>().at(which); }
    QString text(Box which) const { return box(which)->currentText(); }

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
    // A deferred step of a sequence is still to come, or its used timer not yet gone.
    bool pending() const { return dialog->engine().pending(); }
    // The lines of setting.ini on disk.
    L onDisk() const
    {
        QFile file(DeviceFixture::iniPath("setting.ini"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : L();
    }

    std::unique_ptr<DeviceFixture> fx;
    std::unique_ptr<Settings> dialog;
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
