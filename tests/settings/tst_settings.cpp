// The settings dialog against the simulated interface: each choice's driver
// sequence as it reached the device (order, arguments, pauses), what ends up
// in "setting.ini", and the two pipes to the ASIO driver.

#include "platform/NamedPipe.h"
#include "settings/PipeASIO.h"
#include "settings/Settings.h"
#include "tests/support/DeviceFixture.h"
#include "tray/SaveFailureNotice.h"

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

// The boxes in the order the dialog creates them.
enum Box { BufferSize, UsbLatency, SampleRate, SafeMode, StartUp = -1 };

const QString kStopFailed = QStringLiteral("停止音频失败，可能是驱动未正确加载或设备未连接。");
const QString kShownByAsio = QStringLiteral("Received signal from pipe thread to show settings window.");

// The phone-chip steps are USB control packets; byte 1 is the command.
const QString kChipOff = QStringLiteral("usb 5e");
const QString kChipOn = QStringLiteral("usb 5f");

// Pauses are 100 ms sleeps and deferred steps 200 ms timers. The times are
// taken where the sim receives the calls, so a late delivery of the earlier
// call shortens a gap: a quarter of it is allowed for.
constexpr qint64 kPauseUs = 75000;
constexpr qint64 kDeferredUs = 150000;

QString describeCall(const QJsonObject& call)
{
    const QString name = call["name"].toString();
    const QByteArray input = DeviceFixture::input(call);
    if (name == "io_write_usb_control")
        return "usb " + QString::fromLatin1(input.mid(1, 1).toHex());
    if (input.size() == 4)
        return name + " " + QString::number(qFromLittleEndian<quint32>(input.constData()));
    return name;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    // After the test framework took the message handler, so the log is captured.
    void initTestCase() { fixture = std::make_unique<DeviceFixture>(); }
    void init()
    {
        DeviceFixture::removeIni("setting.ini");
        fixture->log().clear();
    }
    void cleanup()
    {
        dialog.reset();
        fixture->stopSim();
    }

    void startupAppliesTheStoredChoices_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("storedAfter");
        // The driver runs 8 frames, 256 samples and safe mode in every row.
        const QStringList rate44100 { "io_get_sample_rate", "io_stop_all_audio", "io_set_sample_rate 44100", "io_set_wdm_num 4",
                                      kChipOff, kChipOn, "io_audio_init" };
        const QStringList buffer192 { "io_get_buffer_size", "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_buffer_size 192",
                                      "io_restart_audio" };
        // Only the default buffer size differs from its box's first entry; only
        // the change the driver accepted is stored.
        QTest::newRow("nothing stored") << QVariantMap() << buffer192 + rate44100 << QStringList({ "[Audio]", "BufferSize=192" });
        QTest::newRow("latency raised, then lowered again for the buffer size")
            << QVariantMap({ { "USB/LatencySize", "32" }, { "Audio/BufferSize", "64" } })
            << QStringList({ "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_usb_buffer_size 32", "io_restart_audio",
                             "io_get_buffer_size", "io_get_usb_buffer_size", "io_get_usb_buffer_size", "io_stop_all_audio",
                             "io_set_usb_buffer_size 8", "io_restart_audio", "io_stop_all_audio", "io_set_buffer_size 64",
                             "io_restart_audio" }) + rate44100
            << QStringList({ "[Audio]", "BufferSize=64", "[USB]", "LatencySize=8" });
        // Loading runs the rate change; start-up adds nothing of its own.
        QTest::newRow("48000 Hz") << QVariantMap({ { "Audio/SampleRate", "48000" } })
                                  << buffer192 + QStringList({ "io_stop_all_audio", "io_set_sample_rate 48000", "io_set_wdm_num 4",
                                                               "io_audio_init", "io_get_sample_rate", kChipOff, kChipOn })
                                  << QStringList({ "[Audio]", "BufferSize=192", "SampleRate=48000" });
        // A value that is no entry changes nothing and is kept; one the box
        // shows already is applied all the same.
        QTest::newRow("no entry, one shown")
            << QVariantMap({ { "Audio/BufferSize", "100" }, { "USB/SlowMode", "Disabled" } })
            << QStringList({ "io_stop_all_audio", "io_set_safe_mode_off", "io_restart_audio" }) + rate44100
            << QStringList({ "[Audio]", "BufferSize=100", "[USB]", "SlowMode=Disabled" });
    }

    void startupAppliesTheStoredChoices()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, storedAfter);
        DeviceFixture::store("setting.ini", stored);
        connectDialog({ "set usb-latency 8", "set safe-mode on" });
        dialog->startSetup();
        QTRY_VERIFY(!pendingSteps());
        QCOMPARE(this->calls(), calls);
        QCOMPARE(onDisk(), storedAfter);
    }

    // The interface came back from a reset at its own defaults while the
    // boxes still show the stored choices: the next connect puts them back.
    void storedChoicesComeBackAfterADeviceReset()
    {
        connectDialog();
        choose(BufferSize, "64");
        choose(SafeMode, "Enabled");
        sim().clearRecord();
        choose(SampleRate, "48000");
        // Stored once the driver took the rate, before the deferred steps.
        QCOMPARE(onDisk(), QStringList({ "[Audio]", "BufferSize=64", "SampleRate=48000", "[USB]", "LatencySize=8", "SlowMode=Enabled" }));
        QTRY_VERIFY(!pendingSteps());
        QCOMPARE(calls(), QStringList({ "io_stop_all_audio", "io_set_sample_rate 48000", "io_set_wdm_num 4", "io_audio_init",
                                        kChipOff, kChipOn }));
        QVERIFY(gapBeforeUs("io_set_sample_rate 48000") >= kPauseUs && gapBeforeUs("io_audio_init") >= kPauseUs);
        QVERIFY(gapBeforeUs(kChipOff) >= kDeferredUs && gapBeforeUs(kChipOn) >= kDeferredUs);

        QVERIFY(sim().reset());
        sim().clearRecord();
        QVERIFY(dialog->connect2Driver());
        dialog->startSetup();
        QTRY_VERIFY(!pendingSteps());
        const QJsonObject state = sim().state();
        QCOMPARE(state["bufferSize"].toInt(), 64);
        QCOMPARE(state["usbLatency"].toInt(), 8);
        QCOMPARE(state["safeMode"].toBool(), true);
        // The rate is the device's own default, so the calls show it was set,
        // with start-up's pauses.
        QVERIFY(gapBeforeUs("io_set_sample_rate 48000") >= kPauseUs);
        QVERIFY(gapBeforeUs(kChipOff) >= kDeferredUs && gapBeforeUs(kChipOn) >= kDeferredUs);
    }

    // Nothing is sent, but it is the user's choice from now on.
    void choosingWhatTheDriverRunsStoresWithoutSending()
    {
        DeviceFixture::store("setting.ini", { { "Audio/BufferSize", "256" } });
        connectDialog({ "set buffer-size 512", "set usb-latency 24" });
        choose(BufferSize, "512");
        choose(UsbLatency, "24");
        QCOMPARE(calls(), QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size" }));
        QCOMPARE(onDisk(), QStringList({ "[Audio]", "BufferSize=512", "[USB]", "LatencySize=24" }));
        QVERIFY(fixture->log().contains("USB延迟大小设置已保存： \"24\""));
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
        choose(BufferSize, "512");
        choose(UsbLatency, "24");
        QCOMPARE(fixture->log().lines().filter("Failed to save settings to").size(), 2);
        QCOMPARE(fixture->log().lines().filter("设置已保存").size(), 0);
        QCOMPARE(told.size(), 1);
        QVERIFY(QDir(file).removeRecursively() && sim().command({ "set", "buffer-size", "1024" }));
        choose(BufferSize, "1024");
        QCOMPARE(onDisk(), QStringList({ "[Audio]", "BufferSize=1024", "[USB]", "LatencySize=24" }));
        QVERIFY(fixture->log().contains("音频缓冲区大小设置已保存： \"1024\""));
    }

    // A refused change puts the box back to what the driver runs, and putting
    // it back runs nothing. What the driver runs may have been taken without
    // a restart, or with nothing sent at all.
    void aRefusedChangePutsTheBoxBack()
    {
        connectDialog();
        struct Change { Box box; const char* failsAfter; const char* taken; const char* refused; const char* failing; };
        for (const Change& change : { Change { SampleRate, "io_set_wdm_num", "48000", "44100", "io_set_sample_rate" },
                                      Change { BufferSize, nullptr, "256", "1024", "io_set_buffer_size" },
                                      Change { BufferSize, "io_restart_audio", "512", "1024", "io_set_buffer_size" },
                                      Change { UsbLatency, "io_restart_audio", "24", "32", "io_set_usb_buffer_size" },
                                      Change { SafeMode, "io_restart_audio", "Enabled", "Disabled", "io_set_safe_mode_off" } }) {
            QVERIFY(!change.failsAfter || sim().command({ "fail", change.failsAfter, "once" }));
            choose(change.box, change.taken);
            QVERIFY(sim().command({ "fail", change.failing, "once" }));
            choose(change.box, change.refused);
            QCOMPARE(box(change.box)->currentText(), change.taken);
            const QList<QJsonObject> record = sim().calls();
            QCOMPARE(record.at(record.size() - 2)["name"].toString(), change.failing); // then the engine is restarted
        }
    }

    void bufferSizeChangeCapsTheUsbLatency_data()
    {
        QTest::addColumn<QString>("latencyShown");
        QTest::addColumn<int>("driverLatency");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("lowered"); // the latency set first, if any
        QTest::newRow("64 at 16 frames") << "16" << 16 << "64" << "8";
        // The box may already show the cap while the driver runs more.
        QTest::newRow("64 at 16 frames, 8 shown") << "8" << 16 << "64" << "8";
        QTest::newRow("128 at 24 frames") << "24" << 24 << "128" << "16";
        QTest::newRow("256 at 32 frames") << "32" << 32 << "256" << "24";
        QTest::newRow("1024 at 8 frames") << "8" << 8 << "1024" << "";
    }

    void bufferSizeChangeCapsTheUsbLatency()
    {
        QFETCH(QString, latencyShown);
        QFETCH(int, driverLatency);
        QFETCH(QString, size);
        QFETCH(QString, lowered);
        connectDialog({ QStringLiteral("set usb-latency %1").arg(driverLatency), "set buffer-size 192" });
        choose(UsbLatency, latencyShown); // what the driver runs already: only a read
        DeviceFixture::removeIni("setting.ini");
        sim().clearRecord();

        choose(BufferSize, size);
        const QStringList lowering { "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_usb_buffer_size " + lowered, "io_restart_audio" };
        QCOMPARE(calls(), QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size" }) + (lowered.isEmpty() ? QStringList() : lowering)
                              + QStringList({ "io_stop_all_audio", "io_set_buffer_size " + size, "io_restart_audio" }));
        QCOMPARE(onDisk(), QStringList({ "[Audio]", "BufferSize=" + size })
                               + (lowered.isEmpty() ? QStringList() : QStringList({ "[USB]", "LatencySize=" + lowered })));
        QCOMPARE(box(UsbLatency)->currentText(), lowered.isEmpty() ? latencyShown : lowered);
    }

    void failingStepEndsItsSequence_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("failing"); // which call fails, and how often
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("applied"); // the value reached the driver before the failure
        QTest::addColumn<QStringList>("stored");
        // Unless said otherwise, the last call fails once; a refusal after the
        // audio stop brings the engine back with the calls in `then`.
        const auto row = [](const char* name, Box which, const char* choice, const QStringList& calls, const char* failed,
                            bool applied, const QStringList& stored = {}, const QString& failing = {}, const QStringList& then = {}) {
            const QString last = calls.last().startsWith("usb") ? "io_write_usb_control" : calls.last().section(' ', 0, 0);
            QTest::newRow(name) << int(which) << choice << (failing.isEmpty() ? last + " once" : failing) << calls + then
                                << QString::fromUtf8(failed) + "失败，可能是驱动未正确加载或设备未连接。" << applied << stored;
        };
        const QStringList init { "io_audio_init" };
        const QStringList restart { "io_restart_audio" };
        const QStringList rate { "io_stop_all_audio", "io_set_sample_rate 48000", "io_set_wdm_num 4", "io_audio_init", kChipOff };
        row("rate: stop", SampleRate, "48000", rate.mid(0, 1), "停止音频", false);
        row("rate: set", SampleRate, "48000", rate.mid(0, 2), "设置音频采样率", false, {}, {}, init);
        row("rate: wdm", SampleRate, "48000", rate.mid(0, 3), "设置WDM通道数量", true, {}, {}, init);
        row("rate: init", SampleRate, "48000", rate.mid(0, 4), "重新启动音频", true);
        // The rate is stored already; chip-on never comes.
        row("rate: chip off", SampleRate, "48000", rate, "关闭OTG芯片", true, { "[Audio]", "SampleRate=48000" });

        const QStringList buffer { "io_get_buffer_size", "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_buffer_size 512",
                                   "io_restart_audio" };
        row("buffer: read size", BufferSize, "512", buffer.mid(0, 1), "获取音频缓冲区大小", false);
        row("buffer: read latency", BufferSize, "512", buffer.mid(0, 2), "获取USB延迟大小", false);
        row("buffer: set", BufferSize, "512", buffer.mid(0, 4), "设置音频缓冲区大小", false, {}, {}, restart);
        row("buffer: restart", BufferSize, "512", buffer, "重新启动音频", true);

        const QStringList latency { "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_usb_buffer_size 32", "io_restart_audio" };
        row("latency: stop", UsbLatency, "32", latency.mid(0, 2), "停止音频", false);
        row("latency: set", UsbLatency, "32", latency.mid(0, 3), "设置USB延迟大小", false, {}, {}, restart);
        row("latency: restart", UsbLatency, "32", latency, "重新启动音频", true);

        const QStringList safeMode { "io_stop_all_audio", "io_set_safe_mode_on", "io_restart_audio" };
        row("safe mode: stop", SafeMode, "Enabled", safeMode.mid(0, 1), "停止音频", false);
        row("safe mode: switch", SafeMode, "Enabled", safeMode.mid(0, 2), "设置USB慢速模式", false, {}, {}, restart);
        row("safe mode: restart", SafeMode, "Enabled", safeMode, "重新启动音频", true);

        // Loading finds the driver at the default buffer size and only stores it.
        const QStringList loaded { "[Audio]", "BufferSize=192" };
        const QStringList startup { "io_get_buffer_size", "io_get_sample_rate", "io_stop_all_audio", "io_set_sample_rate 44100",
                                    "io_set_wdm_num 4", kChipOff, kChipOn, "io_audio_init" };
        row("start-up: stop", StartUp, "44100", startup.mid(0, 3), "停止音频", true, loaded);
        row("start-up: set", StartUp, "44100", startup.mid(0, 4), "设置音频采样率", true, loaded, {}, init);
        row("start-up: wdm", StartUp, "44100", startup.mid(0, 5), "设置WDM通道数量", true, loaded, {}, init);
        // Unlike the rate change, start-up goes on to initialise the engine.
        row("start-up: both chip steps", StartUp, "44100", startup, "开启OTG芯片", true, loaded, "io_write_usb_control 2");
        row("start-up: init", StartUp, "44100", startup, "初始化音频", true, loaded);
    }

    // Nothing is rolled back; nothing is stored that the driver refused; the
    // box shows what the driver runs; the engine runs unless restarting it failed.
    void failingStepEndsItsSequence()
    {
        QFETCH(int, which);
        QFETCH(QString, choice);
        QFETCH(QString, failing);
        QFETCH(QStringList, calls);
        QFETCH(QString, message);
        QFETCH(bool, applied);
        QFETCH(QStringList, stored);
        connectDialog({ "set buffer-size 192", "fail " + failing });
        const Box changed = which == StartUp ? SampleRate : Box(which);
        const QString before = box(changed)->currentText();
        if (which == StartUp)
            dialog->startSetup();
        else
            choose(changed, choice);
        QTRY_VERIFY(!pendingSteps());
        QVERIFY(fixture->log().contains(message));
        QCOMPARE(this->calls(), calls);
        QCOMPARE(onDisk(), stored);
        QCOMPARE(box(changed)->currentText(), applied ? choice : before);
        QCOMPARE(sim().state()["audioRunning"].toBool(), !failing.startsWith("io_restart_audio") && !failing.startsWith("io_audio_init"));
    }

    // Quitting between the phone-chip steps finishes them at once.
    void quittingMidSequenceLeavesThePhoneChipOn_data()
    {
        QTest::addColumn<bool>("startUp");
        QTest::addColumn<bool>("chipOffSent");
        for (const bool startUp : { false, true })
            for (const bool chipOffSent : { false, true })
                QTest::addRow("%s, chip off %s", startUp ? "start-up" : "rate change", chipOffSent ? "sent" : "due") << startUp << chipOffSent;
    }

    void quittingMidSequenceLeavesThePhoneChipOn()
    {
        QFETCH(bool, startUp);
        QFETCH(bool, chipOffSent);
        connectDialog();
        if (startUp)
            dialog->startSetup();
        else
            choose(SampleRate, "48000");
        if (chipOffSent)
            QTRY_VERIFY(calls().contains(kChipOff));
        dialog.reset();
        const QStringList done = calls();
        QCOMPARE(done.mid(done.indexOf(kChipOff)), QStringList({ kChipOff, kChipOn }) + (startUp ? QStringList("io_audio_init") : QStringList()));
        QVERIFY(gapBeforeUs(kChipOn) < kDeferredUs);
        const QJsonObject state = sim().state();
        QVERIFY(state["phoneChip"].toBool() && state["audioRunning"].toBool());
    }

    void withoutADeviceEachChangeFailsAtItsFirstStep()
    {
        openDialog(); // never connected: the dialog has no channel at all
        choose(SampleRate, "48000");
        choose(SafeMode, "Enabled");
        choose(BufferSize, "64");
        choose(UsbLatency, "32");
        QVERIFY(!pendingSteps());
        QCOMPARE(fixture->log().count(kStopFailed), 3); // rate, safe mode, and latency after its ignored read
        QCOMPARE(fixture->log().count("获取音频缓冲区大小失败，可能是驱动未正确加载或设备未连接。"), 1);
        QVERIFY(sim().calls().isEmpty() && sim().state()["connections"].toInt() == 0);
        QCOMPARE(onDisk(), QStringList());
        QCOMPARE(shown(), QStringList({ "48", "8", "44100", "Disabled" })); // the first entries, as at the start
    }

    // Requests are read in turn, also from clients that wrote and went away
    // while the listener paused; word 4 alone asks for the dialog.
    void asioRequestsShowTheDialog()
    {
        openDialog();
        QVERIFY(sim().command({ "asio-request", "1", "2", "3", "4", "0" }));
        QVERIFY(sim().command({ "asio-request", "--hex", "0102" })); // missing bytes read as zeros
        QVERIFY(sim().command({ "asio-request", "--length", "2000" }));
        QVERIFY(sim().command({ "asio-request", "7", "8", "9", "10", "4294967295" }));
        QTRY_VERIFY(dialog->isVisible());
        QVERIFY(dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(fixture->log().count(kShownByAsio), 1);
        for (const char* line : { "Received data from pipe: 1 2 3 4 0", "Received data from pipe: 513 0 0 0 0",
                                  "Error reading from pipe. Error code: 234", "Received data from pipe: 7 8 9 10 4294967295" })
            QVERIFY2(fixture->log().contains(line), line);

        dialog->showMinimized();
        QVERIFY(sim().command({ "asio-request", "0", "0", "0", "0", "1" }));
        QTRY_COMPARE(fixture->log().count(kShownByAsio), 2);
        QVERIFY(!dialog->isMinimized());

        // Clients that connect and say nothing get their second to speak side
        // by side, and are dropped; the next one is served meanwhile.
        std::vector<platform::PipeHandle> silent(20);
        std::uint32_t error = 0;
        for (platform::PipeHandle& each : silent)
            QVERIFY((each = platform::openPipe(L"\\\\.\\pipe\\KestrumASIOToPannel", error)) != platform::kInvalidPipeHandle);
        QVERIFY(sim().command({ "asio-request", "0", "0", "0", "0", "1" }));
        QTRY_COMPARE_WITH_TIMEOUT(fixture->log().count(kShownByAsio), 3, 3000);
        QTRY_COMPARE(fixture->log().count("Error reading from pipe. Error code: 121"), 20);
        std::for_each(silent.begin(), silent.end(), platform::closePipe);
        // Whichever instance waits now, requests reach it.
        for (const int shown : { 4, 5 }) {
            QVERIFY(sim().command({ "asio-request", "0", "0", "0", "0", "1" }));
            QTRY_COMPARE(fixture->log().count(kShownByAsio), shown);
        }
    }

    void okSendsOneResetNoticeOrLogsWhyNot()
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
        QCOMPARE(asio["lastMessage"].toString(), QStringLiteral("31"));
        QVERIFY(fixture->log().contains("Error: Could not open pipe. Error code: 2"));
    }

    // The listener's wait is released and its pipe closed last; without a
    // pipe it retries and still stops.
    void theListenerStopsWithTheDialog()
    {
        openDialog();
        dialog.reset();
        // A second one, once the toolkit has what it keeps, leaves no descriptor behind.
        const auto descriptors = [] { return QDir("/proc/self/fd").count(); };
        const uint before = descriptors();
        dialog = std::make_unique<Settings>();
        QTRY_COMPARE(fixture->log().count("ThreadSettingsPip is running waiting Asio Info..."), 2);
        dialog.reset();
        QCOMPARE(descriptors(), before);
        QCOMPARE(fixture->log().lines().last(), QStringLiteral("Pipe closed."));
        QVERIFY(!fixture->log().contains("No data received from pipe."));

        // A file where the pipe directory belongs makes the pipe impossible.
        const QString pipeDir = fixture->environment().baseDir() + "/pipe";
        QVERIFY(QDir(pipeDir).removeRecursively() && QFile(pipeDir).open(QIODevice::WriteOnly));
        fixture->log().clear();
        QElapsedTimer tries;
        tries.start();
        dialog = std::make_unique<Settings>();
        QVERIFY(fixture->log().contains("Failed to create named pipe in ThreadSettingsPip."));
        // It tries again and again, pausing in between rather than spinning.
        QTRY_VERIFY(fixture->log().count("No data received from pipe.") >= 3);
        QVERIFY(tries.elapsed() >= 200);
        QVERIFY(fixture->log().contains("Error connecting to pipe. Error code: 6"));
        dialog.reset();
        QVERIFY(!fixture->log().contains("Pipe closed."));
        QVERIFY(QFile::remove(pipeDir));
    }

    // No flow of the panel writes through a server pipe, but it can.
    void pipeAsioWritesOneMessagePerClientAndClosesOnce()
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
        QVERIFY(!platform::readPipe(client, buffer, sizeof buffer, length, error)); // dropped
        platform::closePipe(client);
        platform::closePipe(platform::openPipe(path, error));
        QVERIFY(!pipe.write("2")); // the client went before the message

        pipe.close();
        pipe.close();
        QCOMPARE(fixture->log().count("Pipe closed."), 1);
        QVERIFY(!pipe.read(buffer) && !pipe.write("1"));
        QVERIFY(!PipeASIO(QStringLiteral("KestrumSettingsTest")).createPipe());
    }

private:
    SimProcess& sim() { return fixture->sim(); }
    void openDialog(const QStringList& commands = {})
    {
        QVERIFY(fixture->startSim({}, commands));
        dialog = std::make_unique<Settings>();
        // The listener must be waiting before a test speaks to it.
        QTRY_VERIFY(fixture->log().contains("ThreadSettingsPip is running waiting Asio Info..."));
    }
    void connectDialog(const QStringList& commands = {})
    {
        openDialog(commands);
        QVERIFY(dialog->connect2Driver());
        sim().clearRecord();
    }
    void choose(Box which, const QString& text) { box(which)->setCurrentText(text); }
    QComboBox* box(Box which) const { return dialog->findChildren<QComboBox*>().at(which); }
    QStringList shown() const
    {
        return { box(BufferSize)->currentText(), box(UsbLatency)->currentText(), box(SampleRate)->currentText(),
                 box(SafeMode)->currentText() };
    }

    // The driver calls since the record was last cleared, as "name argument".
    QStringList calls()
    {
        QStringList described;
        for (const QJsonObject& call : sim().calls())
            described << describeCall(call);
        return described;
    }
    // The time between the last such call and the one before it.
    qint64 gapBeforeUs(const QString& call)
    {
        const QList<QJsonObject> all = sim().calls();
        const qsizetype at = calls().lastIndexOf(call);
        return all.value(at)["timeUs"].toInteger() - all.value(at - 1)["timeUs"].toInteger();
    }
    // A deferred step of a sequence is still to come, or its used timer not yet gone.
    bool pendingSteps() const { return !dialog->findChildren<QTimer*>(Qt::FindDirectChildrenOnly).isEmpty(); }
    // The lines of setting.ini on disk.
    QStringList onDisk() const
    {
        QFile file(DeviceFixture::iniPath("setting.ini"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
    }

    std::unique_ptr<DeviceFixture> fixture;
    std::unique_ptr<Settings> dialog;
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
