// The settings dialog against the simulated interface: each choice's driver
// sequence as it reached the device (order, arguments, pauses), what ends up
// in "setting.ini", and the two pipes to the ASIO driver.

#include "platform/NamedPipe.h"
#include "platform/posix/RuntimeDir.h"
#include "settings/PipeASIO.h"
#include "settings/Settings.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

#include <cstring>
#include <memory>

namespace {

// The boxes in the order the dialog creates them.
enum Box { BufferSize, UsbLatency, SampleRate, SafeMode };

const QString kStopFailed = QStringLiteral("停止音频失败，可能是驱动未正确加载或设备未连接。");
const QString kRestartFailed = QStringLiteral("重新启动音频失败，可能是驱动未正确加载或设备未连接。");
const QString kSetRateFailed = QStringLiteral("设置音频采样率失败，可能是驱动未正确加载或设备未连接。");
const QString kWdmFailed = QStringLiteral("设置WDM通道数量失败，可能是驱动未正确加载或设备未连接。");
const QString kChipOffFailed = QStringLiteral("关闭OTG芯片失败，可能是驱动未正确加载或设备未连接。");
const QString kChipOnFailed = QStringLiteral("开启OTG芯片失败，可能是驱动未正确加载或设备未连接。");
const QString kGetBufferFailed = QStringLiteral("获取音频缓冲区大小失败，可能是驱动未正确加载或设备未连接。");
const QString kSetBufferFailed = QStringLiteral("设置音频缓冲区大小失败，可能是驱动未正确加载或设备未连接。");
const QString kGetLatencyFailed = QStringLiteral("获取USB延迟大小失败，可能是驱动未正确加载或设备未连接。");
const QString kSetLatencyFailed = QStringLiteral("设置USB延迟大小失败，可能是驱动未正确加载或设备未连接。");
const QString kSafeModeFailed = QStringLiteral("设置USB慢速模式失败，可能是驱动未正确加载或设备未连接。");
const QString kRateDone = QStringLiteral("设置采样频率完成");
const QString kStartupDone = QStringLiteral("设置初始化完成");
const QString kShownByAsio = QStringLiteral("Received signal from pipe thread to show settings window.");
const QString kListening = QStringLiteral("ThreadSettingsPip is running waiting Asio Info...");

// The phone-chip steps are USB control packets; byte 1 is the command.
const QString kChipOff = QStringLiteral("usb 5e");
const QString kChipOn = QStringLiteral("usb 5f");

// The deferred phone-chip steps are 200 ms timers and the pauses 100 ms
// sleeps. The times are taken where the simulator receives the calls, so a
// late delivery of the earlier call shortens a gap: allow a quarter of it,
// which still tells a pause from none.
constexpr qint64 kDeferredMinUs = 150000;
constexpr qint64 kPauseMinUs = 75000;

QString iniPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/setting.ini";
}

QString describeCall(const QJsonObject& call)
{
    const QString name = call["name"].toString();
    const QByteArray input = QByteArray::fromHex(call["in"].toString().toLatin1());
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
    void initTestCase();
    void init();
    void cleanup();

    void freshDialogShowsTheFirstEntriesAndHasNoChannel();
    void firstStartupSelectsTheDefaultsAndProgramsTheDriver();
    void startupLowersTheStoredLatencyForTheStoredBufferSize();
    void startupWithStoredRatesAndLaterConnections();
    void sampleRateChangeRunsItsStepsWithTheirPauses();
    void bufferSizeChangeCapsTheUsbLatency_data();
    void bufferSizeChangeCapsTheUsbLatency();
    void choosingWhatTheDriverRunsSendsNothingButStoresIt();
    void reconnectAfterADeviceResetAppliesTheStoredSettings();
    void safeModeChangeStopsSwitchesAndRestarts();
    void failingStepEndsItsSequenceAndWritesNothing_data();
    void failingStepEndsItsSequenceAndWritesNothing();
    void phoneChipFailuresAfterTheRateWasStored();
    void withoutADeviceEachChangeFailsAtItsFirstStep();
    void asioRequestsShowTheDialogOnTop();
    void asioMessagesThatAskForNothingOrNeverComeOrAreTooLong();
    void asioRequestsFromClientsAlreadyGoneAreNotLost();
    void okSendsOneResetNoticeOrLogsWhyNot();
    void programEndWhileTheListenerWaitsIsPrompt();
    void listenerWithoutItsPipeRetriesAndStillStops();
    void pipeAsioServesOneMessagePerClient();

private:
    void startSim(const QStringList& commands = {});
    void openDialog();
    void connectDialog();
    void choose(Box box, const QString& text);
    QComboBox* box(Box which) const;
    QStringList driverCalls() const;
    QList<qint64> callTimes() const;
    QStringList storedKeys() const;
    QString stored(const QString& key) const;
    void store(const QMap<QString, QString>& values) const;
    void asioRequest(const QStringList& arguments);

    TestEnvironment environment;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Settings> dialog;
};

void TestSettings::initTestCase()
{
    log = std::make_unique<LogCapture>();
}

void TestSettings::init()
{
    QFile::remove(iniPath());
    log->clear();
}

void TestSettings::cleanup()
{
    dialog.reset();
    sim.reset();
}

void TestSettings::startSim(const QStringList& commands)
{
    sim = std::make_unique<SimProcess>();
    QVERIFY(sim->waitUntilReady());
    for (const QString& command : commands)
        QVERIFY2(sim->command(command.split(' ')), qPrintable(command));
}

void TestSettings::openDialog()
{
    dialog = std::make_unique<Settings>();
    // The listener must be waiting before a test speaks to it.
    QTRY_VERIFY(log->contains(kListening));
}

void TestSettings::connectDialog()
{
    openDialog();
    QVERIFY(dialog->connect2Driver());
    sim->clearRecord();
}

void TestSettings::choose(Box which, const QString& text)
{
    box(which)->setCurrentText(text);
}

QComboBox* TestSettings::box(Box which) const
{
    return dialog->findChildren<QComboBox*>().at(which);
}

// The driver calls since the record was last cleared, as "name argument".
QStringList TestSettings::driverCalls() const
{
    QStringList calls;
    for (const QJsonObject& call : sim->calls())
        calls << describeCall(call);
    return calls;
}

QList<qint64> TestSettings::callTimes() const
{
    QList<qint64> times;
    for (const QJsonObject& call : sim->calls())
        times << call["timeUs"].toInteger();
    return times;
}

QStringList TestSettings::storedKeys() const
{
    return QSettings(iniPath(), QSettings::IniFormat).allKeys();
}

QString TestSettings::stored(const QString& key) const
{
    return QSettings(iniPath(), QSettings::IniFormat).value(key).toString();
}

void TestSettings::store(const QMap<QString, QString>& values) const
{
    QSettings file(iniPath(), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        file.setValue(it.key(), it.value());
}

void TestSettings::asioRequest(const QStringList& arguments)
{
    QByteArray answer;
    QVERIFY2(sim->command(QStringList { "asio-request" } + arguments, &answer), answer.constData());
}

void TestSettings::freshDialogShowsTheFirstEntriesAndHasNoChannel()
{
    startSim();
    openDialog();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Settings"));
    QStringList captions;
    for (const QLabel* label : dialog->findChildren<QLabel*>())
        captions << label->text();
    QCOMPARE(captions, QStringList({ "Settings", "Buffer Size:", "USB Latency Size:", "Samplerate:", "Safe Mode:" }));
    QCOMPARE(box(BufferSize)->currentText(), QStringLiteral("48"));
    QCOMPARE(box(BufferSize)->count(), 8);
    QCOMPARE(box(UsbLatency)->currentText(), QStringLiteral("8"));
    QCOMPARE(box(SampleRate)->currentText(), QStringLiteral("44100"));
    QCOMPARE(box(SafeMode)->currentText(), QStringLiteral("Disabled"));
    QVERIFY(dialog->isHidden());

    // Nothing is connected and nothing is written before a device appears.
    QVERIFY(sim->calls().isEmpty());
    QCOMPARE(sim->state()["connections"].toInt(), 0);
    QVERIFY(!QFile::exists(iniPath()));
}

void TestSettings::firstStartupSelectsTheDefaultsAndProgramsTheDriver()
{
    startSim(); // 48000 Hz, 256 samples, 16 frames
    connectDialog();
    dialog->startSetup();
    QCOMPARE(box(UsbLatency)->currentText(), QStringLiteral("8"));
    QCOMPARE(box(BufferSize)->currentText(), QStringLiteral("192"));
    QCOMPARE(box(SafeMode)->currentText(), QStringLiteral("Disabled"));
    QCOMPARE(box(SampleRate)->currentText(), QStringLiteral("44100"));

    QTRY_VERIFY(log->contains(kStartupDone));
    QCOMPARE(driverCalls(), QStringList({
        "io_get_buffer_size", "io_get_usb_buffer_size", // 24 frames allowed, 16 run: kept
        "io_stop_all_audio", "io_set_buffer_size 192", "io_restart_audio",
        "io_get_sample_rate",
        "io_stop_all_audio", "io_set_sample_rate 44100", "io_set_wdm_num 4",
        kChipOff, kChipOn, "io_audio_init" }));
    const QList<qint64> times = callTimes();
    QVERIFY(times[7] - times[6] >= kPauseMinUs);
    QVERIFY(times[9] - times[8] >= kDeferredMinUs);
    QVERIFY(times[10] - times[9] >= kDeferredMinUs);

    // Only the change the driver accepted is stored.
    QCOMPARE(storedKeys(), QStringList({ "Audio/BufferSize" }));
    QCOMPARE(stored("Audio/BufferSize"), QStringLiteral("192"));
    const QJsonObject state = sim->state();
    QCOMPARE(state["sampleRate"].toInt(), 44100);
    QCOMPARE(state["bufferSize"].toInt(), 192);
    QCOMPARE(state["usbLatency"].toInt(), 16);
    QCOMPARE(state["wdmCount"].toInt(), 4);
    QCOMPARE(state["phoneChip"].toBool(), true);
}

void TestSettings::startupLowersTheStoredLatencyForTheStoredBufferSize()
{
    startSim({ "set usb-latency 8", "set buffer-size 192" });
    store({ { "USB/LatencySize", "32" }, { "Audio/BufferSize", "64" } });
    connectDialog();
    dialog->startSetup();

    const QStringList calls = driverCalls();
    QCOMPARE(calls.mid(0, calls.indexOf("io_get_sample_rate")), QStringList({
        "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_usb_buffer_size 32", "io_restart_audio",
        "io_get_buffer_size", "io_get_usb_buffer_size",
        "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_usb_buffer_size 8", "io_restart_audio",
        "io_stop_all_audio", "io_set_buffer_size 64", "io_restart_audio" }));
    QCOMPARE(box(UsbLatency)->currentText(), QStringLiteral("8"));
    QCOMPARE(stored("USB/LatencySize"), QStringLiteral("8"));
    QCOMPARE(stored("Audio/BufferSize"), QStringLiteral("64"));
    QCOMPARE(sim->state()["usbLatency"].toInt(), 8);
    QCOMPARE(sim->state()["bufferSize"].toInt(), 64);
}

void TestSettings::startupWithStoredRatesAndLaterConnections()
{
    startSim({ "set buffer-size 192", "set usb-latency 8" });
    store({ { "Audio/SampleRate", "48000" } });
    connectDialog();
    dialog->startSetup();
    QTRY_VERIFY(log->contains(kRateDone));
    // Loading ran the rate change; start-up adds nothing of its own.
    QCOMPARE(driverCalls(), QStringList({
        "io_get_buffer_size",
        "io_stop_all_audio", "io_set_sample_rate 48000", "io_set_wdm_num 4", "io_audio_init",
        "io_get_sample_rate", kChipOff, kChipOn }));
    QVERIFY(!log->contains(kStartupDone));

    // A re-plugged interface gets the rate the dialog shows all the same.
    QVERIFY(dialog->connect2Driver());
    sim->clearRecord();
    log->clear();
    dialog->startSetup();
    QTRY_VERIFY(log->contains(kStartupDone));
    QCOMPARE(driverCalls(), QStringList({
        "io_get_buffer_size", // stored at the first start, though the driver ran it already
        "io_get_sample_rate",
        "io_stop_all_audio", "io_set_sample_rate 48000", "io_set_wdm_num 4",
        kChipOff, kChipOn, "io_audio_init" }));

    // A stored value that is no entry changes nothing and is kept as it is.
    store({ { "Audio/BufferSize", "100" } });
    sim->clearRecord();
    dialog->startSetup();
    QCOMPARE(box(BufferSize)->currentText(), QStringLiteral("192"));
    QVERIFY(!driverCalls().contains("io_get_buffer_size"));
    QCOMPARE(stored("Audio/BufferSize"), QStringLiteral("100"));
}

void TestSettings::sampleRateChangeRunsItsStepsWithTheirPauses()
{
    startSim({ "set sample-rate 44100" });
    connectDialog();
    choose(SampleRate, "48000");
    // Stored as soon as the driver took the rate, before the deferred steps.
    QCOMPARE(stored("Audio/SampleRate"), QStringLiteral("48000"));
    QCOMPARE(driverCalls(), QStringList({ "io_stop_all_audio", "io_set_sample_rate 48000",
                                          "io_set_wdm_num 4", "io_audio_init" }));
    QVERIFY(log->contains(QStringLiteral("设置音频采样率为： 48000 Hz")));
    QVERIFY(log->contains(QStringLiteral("音频采样率设置已保存： \"48000\"")));

    QTRY_VERIFY(log->contains(kRateDone));
    QCOMPARE(driverCalls().mid(4), QStringList({ kChipOff, kChipOn }));
    const QList<qint64> t = callTimes();
    QVERIFY(t[1] - t[0] >= kPauseMinUs);
    QVERIFY(t[3] - t[2] >= kPauseMinUs);
    QVERIFY(t[4] - t[3] >= kDeferredMinUs);
    QVERIFY(t[5] - t[4] >= kDeferredMinUs);
    QVERIFY2(t[5] - t[3] < 2000000, "the deferred steps come due about 200 ms apart");
    QCOMPARE(sim->state()["sampleRate"].toInt(), 48000);
    QCOMPARE(storedKeys(), QStringList({ "Audio/SampleRate" }));
}

void TestSettings::bufferSizeChangeCapsTheUsbLatency_data()
{
    QTest::addColumn<QString>("latencyShown");
    QTest::addColumn<int>("driverLatency");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("storedLatency");

    const QStringList lowerTo8 { "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_usb_buffer_size 8", "io_restart_audio" };
    QTest::newRow("48 at 16 frames lowers to 8 first")
        << "16" << 16 << "48"
        << QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size" }) + lowerTo8
               + QStringList({ "io_stop_all_audio", "io_set_buffer_size 48", "io_restart_audio" })
        << "8";
    // The box may already show the cap while the driver runs more.
    QTest::newRow("48 at 16 frames with 8 shown")
        << "8" << 16 << "48"
        << QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size" }) + lowerTo8
               + QStringList({ "io_stop_all_audio", "io_set_buffer_size 48", "io_restart_audio" })
        << "8";
    QTest::newRow("1024 at 8 frames keeps 8")
        << "8" << 8 << "1024"
        << QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size",
                         "io_stop_all_audio", "io_set_buffer_size 1024", "io_restart_audio" })
        << QString();
    QTest::newRow("128 at 24 frames lowers to 16")
        << "24" << 24 << "128"
        << QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size",
                         "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_usb_buffer_size 16", "io_restart_audio",
                         "io_stop_all_audio", "io_set_buffer_size 128", "io_restart_audio" })
        << "16";
}

void TestSettings::bufferSizeChangeCapsTheUsbLatency()
{
    QFETCH(QString, latencyShown);
    QFETCH(int, driverLatency);
    QFETCH(QString, size);
    QFETCH(QStringList, calls);
    QFETCH(QString, storedLatency);

    startSim({ QStringLiteral("set usb-latency %1").arg(driverLatency) });
    connectDialog();
    // What the driver runs already: only reads reach it.
    choose(BufferSize, "256");
    choose(UsbLatency, latencyShown);
    QFile::remove(iniPath());
    sim->clearRecord();

    choose(BufferSize, size);
    QCOMPARE(driverCalls(), calls);
    QCOMPARE(stored("Audio/BufferSize"), size);
    QCOMPARE(stored("USB/LatencySize"), storedLatency);
    QCOMPARE(sim->state()["bufferSize"].toInt(), size.toInt());
}

void TestSettings::choosingWhatTheDriverRunsSendsNothingButStoresIt()
{
    startSim({ "set buffer-size 512", "set usb-latency 24" });
    store({ { "Audio/BufferSize", "256" } });
    connectDialog();
    choose(BufferSize, "512");
    choose(UsbLatency, "24");
    QCOMPARE(driverCalls(), QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size" }));
    QVERIFY(log->contains(QStringLiteral("当前音频缓冲区大小： 512")));
    QCOMPARE(stored("Audio/BufferSize"), QStringLiteral("512"));
    QCOMPARE(stored("USB/LatencySize"), QStringLiteral("24"));
}

// The interface came back from a reset at its own defaults while the boxes
// still show the stored choices: the next connect puts them back.
void TestSettings::reconnectAfterADeviceResetAppliesTheStoredSettings()
{
    startSim();
    connectDialog();
    choose(BufferSize, "64");
    choose(SafeMode, "Enabled");
    QCOMPARE(stored("USB/LatencySize"), QStringLiteral("8"));

    for (const char* reset : { "set buffer-size 256", "set usb-latency 16", "set safe-mode off", "set sample-rate 48000" })
        QVERIFY(sim->command(QString::fromLatin1(reset).split(' ')));
    QVERIFY(dialog->connect2Driver());
    dialog->startSetup();
    QTRY_VERIFY(log->contains(kStartupDone));
    const QJsonObject state = sim->state();
    QCOMPARE(state["bufferSize"].toInt(), 64);
    QCOMPARE(state["usbLatency"].toInt(), 8);
    QCOMPARE(state["safeMode"].toBool(), true);
    QCOMPARE(state["sampleRate"].toInt(), 44100);
}

void TestSettings::safeModeChangeStopsSwitchesAndRestarts()
{
    startSim();
    connectDialog();
    choose(SafeMode, "Enabled");
    QCOMPARE(sim->state()["safeMode"].toBool(), true);
    choose(SafeMode, "Disabled");
    QCOMPARE(driverCalls(), QStringList({ "io_stop_all_audio", "io_set_safe_mode_on", "io_restart_audio",
                                          "io_stop_all_audio", "io_set_safe_mode_off", "io_restart_audio" }));
    QCOMPARE(sim->state()["safeMode"].toBool(), false);
    QCOMPARE(stored("USB/SlowMode"), QStringLiteral("Disabled"));
    QCOMPARE(log->count(QStringLiteral("USB慢速模式设置已保存： \"Enabled\"")), 1);
}

void TestSettings::failingStepEndsItsSequenceAndWritesNothing_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("applied"); // the value reached the driver before the failure

    QTest::newRow("rate: stop") << int(SampleRate) << "48000" << "io_stop_all_audio"
                                << QStringList({ "io_stop_all_audio" }) << kStopFailed << false;
    QTest::newRow("rate: set") << int(SampleRate) << "48000" << "io_set_sample_rate"
                               << QStringList({ "io_stop_all_audio", "io_set_sample_rate 48000" }) << kSetRateFailed << false;
    QTest::newRow("rate: wdm") << int(SampleRate) << "48000" << "io_set_wdm_num"
                               << QStringList({ "io_stop_all_audio", "io_set_sample_rate 48000", "io_set_wdm_num 4" }) << kWdmFailed << true;
    QTest::newRow("rate: init") << int(SampleRate) << "48000" << "io_audio_init"
                                << QStringList({ "io_stop_all_audio", "io_set_sample_rate 48000", "io_set_wdm_num 4", "io_audio_init" })
                                << kRestartFailed << true;
    QTest::newRow("buffer: read size") << int(BufferSize) << "64" << "io_get_buffer_size"
                                       << QStringList({ "io_get_buffer_size" }) << kGetBufferFailed << false;
    QTest::newRow("buffer: read latency") << int(BufferSize) << "64" << "io_get_usb_buffer_size"
                                          << QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size" }) << kGetLatencyFailed << false;
    QTest::newRow("buffer: set") << int(BufferSize) << "512" << "io_set_buffer_size"
                                 << QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_buffer_size 512" })
                                 << kSetBufferFailed << false;
    QTest::newRow("buffer: restart") << int(BufferSize) << "512" << "io_restart_audio"
                                     << QStringList({ "io_get_buffer_size", "io_get_usb_buffer_size", "io_stop_all_audio",
                                                      "io_set_buffer_size 512", "io_restart_audio" })
                                     << kRestartFailed << true;
    QTest::newRow("latency: set") << int(UsbLatency) << "32" << "io_set_usb_buffer_size"
                                  << QStringList({ "io_get_usb_buffer_size", "io_stop_all_audio", "io_set_usb_buffer_size 32" })
                                  << kSetLatencyFailed << false;
    QTest::newRow("safe mode: switch") << int(SafeMode) << "Enabled" << "io_set_safe_mode_on"
                                       << QStringList({ "io_stop_all_audio", "io_set_safe_mode_on" }) << kSafeModeFailed << false;
}

void TestSettings::failingStepEndsItsSequenceAndWritesNothing()
{
    QFETCH(int, which);
    QFETCH(QString, choice);
    QFETCH(QString, failing);
    QFETCH(QStringList, calls);
    QFETCH(QString, message);
    QFETCH(bool, applied);

    startSim({ "fail " + failing + " once" });
    connectDialog();
    const QString before = box(Box(which))->currentText();
    choose(Box(which), choice);
    QVERIFY(log->contains(message));
    // Nothing is rolled back and nothing comes later, not even deferred steps.
    QTest::qWait(450);
    QCOMPARE(driverCalls(), calls);
    QCOMPARE(sim->calls().last()["status"].toInt(), 0);
    QVERIFY(!QFile::exists(iniPath()));
    // The box shows what the driver runs, and undoing the selection ran nothing.
    QCOMPARE(box(Box(which))->currentText(), applied ? choice : before);
    QCOMPARE(driverCalls(), calls);
}

void TestSettings::phoneChipFailuresAfterTheRateWasStored()
{
    startSim({ "set sample-rate 44100", "fail io_write_usb_control once" });
    connectDialog();
    choose(SampleRate, "48000");
    QTRY_VERIFY(log->contains(kChipOffFailed));
    QTest::qWait(450);
    QCOMPARE(driverCalls().mid(4), QStringList({ kChipOff }));
    QVERIFY(!log->contains(kRateDone));
    QCOMPARE(stored("Audio/SampleRate"), QStringLiteral("48000"));
    QCOMPARE(sim->state()["sampleRate"].toInt(), 48000);

    // A failing chip-on step is logged and the sequence still completes. The
    // deferred steps run only from this event loop, so the fault can be
    // armed between them.
    sim->clearRecord();
    log->clear();
    choose(SampleRate, "44100");
    QTRY_VERIFY(driverCalls().contains(kChipOff));
    QVERIFY(sim->command({ "fail", "io_write_usb_control", "once" }));
    QTRY_VERIFY(log->contains(kRateDone));
    QVERIFY(log->contains(kChipOnFailed));
    QCOMPARE(driverCalls().mid(4), QStringList({ kChipOff, kChipOn }));

    // At start-up a refused chip-off is logged and the engine still initialised.
    QVERIFY(sim->command({ "fail", "io_write_usb_control", "once" }));
    sim->clearRecord();
    log->clear();
    dialog->startSetup();
    QTRY_VERIFY(log->contains(kStartupDone));
    QVERIFY(log->contains(kChipOffFailed));
    const QStringList calls = driverCalls();
    QCOMPARE(calls.mid(calls.indexOf("io_set_wdm_num 4") + 1), QStringList({ kChipOff, kChipOn, "io_audio_init" }));
}

void TestSettings::withoutADeviceEachChangeFailsAtItsFirstStep()
{
    startSim();
    openDialog(); // never connected: the dialog has no channel at all
    choose(SampleRate, "48000");
    choose(SafeMode, "Enabled");
    choose(BufferSize, "64");
    choose(UsbLatency, "32");
    QTest::qWait(450);
    QCOMPARE(log->count(kStopFailed), 3); // rate, safe mode, and latency after its ignored read
    QCOMPARE(log->count(kGetBufferFailed), 1);
    QVERIFY(!log->contains(kChipOffFailed)); // the rate change ended before scheduling anything
    QVERIFY(sim->calls().isEmpty());
    QVERIFY(!QFile::exists(iniPath()));

    // A channel whose device went away behaves the same, and so does start-up.
    QVERIFY(dialog->connect2Driver());
    QVERIFY(sim->command({ "unplug" }));
    log->clear();
    dialog->startSetup();
    QVERIFY(log->contains(kStopFailed));
    QVERIFY(!QFile::exists(iniPath()));
}

void TestSettings::asioRequestsShowTheDialogOnTop()
{
    startSim();
    openDialog();
    asioRequest({ "0", "0", "0", "0", "1" });
    QTRY_VERIFY(dialog->isVisible());
    QVERIFY(dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(log->contains(QStringLiteral("Received data from pipe: 0 0 0 0 1")));
    QVERIFY(log->contains(QStringLiteral("Open Window Signal from ASIO.")));

    // Any non-zero word 4 asks; a second request shows it again.
    dialog->hide();
    asioRequest({ "7", "8", "9", "10", "4294967295" });
    QTRY_COMPARE(log->count(kShownByAsio), 2);
    QVERIFY(dialog->isVisible());
    QVERIFY(log->contains(QStringLiteral("Received data from pipe: 7 8 9 10 4294967295")));

    dialog->showMinimized();
    asioRequest({ "0", "0", "0", "0", "1" });
    QTRY_COMPARE(log->count(kShownByAsio), 3);
    QVERIFY(!dialog->isMinimized());
}

// The ASIO driver writes and closes at once; a request that arrives while
// the listener pauses between clients is read when it waits again.
void TestSettings::asioRequestsFromClientsAlreadyGoneAreNotLost()
{
    startSim();
    openDialog();
    asioRequest({ "0", "0", "0", "0", "1" });
    asioRequest({ "0", "0", "0", "0", "2" });
    asioRequest({ "0", "0", "0", "0", "3" });
    QTRY_COMPARE(log->count(kShownByAsio), 3);
    for (const char* words : { "0 0 0 0 1", "0 0 0 0 2", "0 0 0 0 3" })
        QVERIFY(log->contains(QStringLiteral("Received data from pipe: ") + words));
    for (const QString& line : log->lines())
        QVERIFY2(!line.startsWith("Error connecting to pipe."), qPrintable(line));
}

void TestSettings::asioMessagesThatAskForNothingOrNeverComeOrAreTooLong()
{
    startSim();
    openDialog();
    asioRequest({ "1", "2", "3", "4", "0" });
    QTRY_VERIFY(log->contains(QStringLiteral("Received data from pipe: 1 2 3 4 0")));
    // Missing bytes read as zeros: word 0 is 0x0201, word 4 nothing.
    asioRequest({ "--hex", "0102" });
    QTRY_VERIFY(log->contains(QStringLiteral("Received data from pipe: 513 0 0 0 0")));

    asioRequest({ "--length", "2000" });
    QTRY_VERIFY(log->contains(QStringLiteral("Error reading from pipe. Error code: 234")));
    QTRY_VERIFY(log->contains(QStringLiteral("No data received from pipe.")));
    QVERIFY(dialog->isHidden());
    QCOMPARE(log->count(kShownByAsio), 0);

    // The listener keeps serving after the error.
    asioRequest({ "0", "0", "0", "0", "1" });
    QTRY_VERIFY(dialog->isVisible());

    // A client that connects and says nothing is dropped, and the next one served.
    dialog->hide();
    std::uint32_t error = 0;
    const platform::PipeHandle silent = platform::openPipe(L"\\\\.\\pipe\\KestrumASIOToPannel", error);
    QVERIFY(silent != platform::kInvalidPipeHandle);
    asioRequest({ "0", "0", "0", "0", "1" });
    QTRY_VERIFY(dialog->isVisible());
    QVERIFY(log->contains(QStringLiteral("Error reading from pipe. Error code: 121")));
    platform::closePipe(silent);
}

void TestSettings::okSendsOneResetNoticeOrLogsWhyNot()
{
    startSim();
    openDialog();
    QPushButton* ok = dialog->findChild<QPushButton*>();
    QCOMPARE(ok->text(), QStringLiteral("OK"));

    dialog->show();
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(dialog->isHidden());
    QVERIFY(log->contains(QStringLiteral("ASIO reset signal sent successfully.")));
    QTRY_COMPARE(sim->state()["asio"].toObject()["notices"].toInt(), 1);
    const QJsonObject asio = sim->state()["asio"].toObject();
    QCOMPARE(asio["messages"].toInt(), 1);
    QCOMPARE(asio["lastMessage"].toString(), QStringLiteral("31"));

    // Nobody serves the notice pipe: the dialog hides all the same.
    QVERIFY(sim->command({ "asio-serve", "off" }));
    log->clear();
    dialog->show();
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(dialog->isHidden());
    QVERIFY(log->contains(QStringLiteral("Error: Could not open pipe. Error code: 2")));
    QVERIFY(!log->contains(QStringLiteral("设置通知ASIO逻辑")));
    QCOMPARE(sim->state()["asio"].toObject()["notices"].toInt(), 1);
}

void TestSettings::programEndWhileTheListenerWaitsIsPrompt()
{
    openDialog();
    QTest::qWait(100);
    QElapsedTimer timer;
    timer.start();
    dialog.reset();
    QVERIFY2(timer.elapsed() < 1000, "the listener must not hold the program end");
    const QStringList lines = log->lines();
    QVERIFY(lines.contains(QStringLiteral("Pipe closed.")));
    QCOMPARE(lines.last(), QStringLiteral("Pipe closed."));
    QVERIFY(!lines.contains(QStringLiteral("No data received from pipe.")));
}

void TestSettings::listenerWithoutItsPipeRetriesAndStillStops()
{
    // A file where the pipe directory belongs makes the pipe impossible.
    std::string base;
    std::uint32_t error = 0;
    QVERIFY(platform::posix::runtimeBaseDir(base, error));
    QDir(environment.baseDir() + "/pipe").removeRecursively();
    QFile blocker(environment.baseDir() + "/pipe");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    dialog = std::make_unique<Settings>();
    QVERIFY(log->contains(QStringLiteral("Failed to create named pipe in ThreadSettingsPip.")));
    QTRY_VERIFY(log->count(QStringLiteral("Error connecting to pipe. Error code: 6")) >= 2);
    QVERIFY(log->count(QStringLiteral("No data received from pipe.")) >= 2);
    QElapsedTimer timer;
    timer.start();
    dialog.reset();
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(!log->contains(QStringLiteral("Pipe closed."))); // there was none to close
    QVERIFY(QFile::remove(environment.baseDir() + "/pipe"));
}

void TestSettings::pipeAsioServesOneMessagePerClient()
{
    const std::wstring path = L"\\\\.\\pipe\\KestrumSettingsTest";
    PipeASIO pipe(QString::fromStdWString(path));
    QVERIFY(pipe.createPipe());
    QVERIFY(log->contains(QStringLiteral("Pipe created successfully.")));

    // The client connects and writes first; the read takes its message and
    // copies exactly the bytes that came.
    std::uint32_t error = 0;
    platform::PipeHandle client = platform::openPipe(path, error);
    QVERIFY(platform::writePipe(client, "abc", 3, error));
    char buffer[PipeASIO::kMessageCapacity];
    std::memset(buffer, 'z', sizeof buffer);
    QVERIFY(pipe.read(buffer));
    QCOMPARE(QByteArray(buffer, 4), QByteArray("abcz"));
    platform::closePipe(client);

    // Each client gets one exchange, then is dropped.
    client = platform::openPipe(path, error);
    QVERIFY(pipe.write("1"));
    QVERIFY(log->contains(QStringLiteral("Data written to pipe: \"1\"")));
    std::uint32_t length = 0;
    QVERIFY(platform::readPipe(client, buffer, sizeof buffer, length, error));
    QCOMPARE(QByteArray(buffer, int(length)), QByteArray("1"));
    QVERIFY(!platform::readPipe(client, buffer, sizeof buffer, length, error));
    platform::closePipe(client);

    pipe.close();
    pipe.close();
    QCOMPARE(log->count(QStringLiteral("Pipe closed.")), 1);
    QVERIFY(!pipe.read(buffer));
    QVERIFY(log->contains(QStringLiteral("Error connecting to pipe. Error code: 6")));

    PipeASIO misnamed(QStringLiteral("KestrumSettingsTest"));
    QVERIFY(!misnamed.createPipe());
    QVERIFY(log->contains(QStringLiteral("Error: Could not create pipe. Error code: 123")));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
