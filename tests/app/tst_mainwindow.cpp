// Device detection and watching in the main window, with the simulated
// interface plugged, unplugged and misbehaving in a separate process.

#include "app/MainWindow.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "settings/Settings.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>

#include <memory>
#include <sys/socket.h>

namespace {

constexpr quint32 kGetDevicePid = 0xFFDC2084;
constexpr quint32 kSetMixer = 0xFFDC2040;
constexpr quint32 kReadUsbControl = 0xFFDC20A0;
constexpr quint32 kSetSampleRate = 0xFFDC2038;

const QString kNoDevice = QStringLiteral("声卡未连接！");
const QString kUnknownDevice = QStringLiteral("未知设备，请检查连接！");
const QString kFirmwareUnreadable = QStringLiteral("获取固件版本失败，请检查连接！");
const QString kKx2Title = QStringLiteral("Kestrum KX2 - FW: K2.06.0915");

QString hexCode(quint32 code)
{
    return "0x" + QString::number(code, 16);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsHiddenSearchingWithTheNoDeviceLabel();
    void devicePresentAtStartIsDetectedAndWatched();
    void eachKnownModelGetsItsTitle_data();
    void eachKnownModelGetsItsTitle();
    void unknownPidShowsItsLabelEverySecond();
    void withoutTheSettingsChannelDetectionAndWatchingBothRun();
    void unreadableFirmwareIsRetriedAloneUntilItReads();
    void aZeroFirmwareByteBecomesANulCharacter();
    void twoFailedPollsThenAGoodOneChangeNothing();
    void unplugShowsNoDeviceAndReplugRestoresThePanel();
    void closingHidesTheWindowAndKeepsThePanel();

private:
    void startSim(const QStringList& arguments);
    void startWindow();
    QStringList labelTexts() const;
    int panelCount() const;
    int failedCalls(quint32 code) const;
    int goodCalls(quint32 code) const;

    TestEnvironment environment;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<MainWindow> window;
};

void TestMainWindow::initTestCase()
{
    log = std::make_unique<LogCapture>();
}

void TestMainWindow::init()
{
    log->clear();
}

void TestMainWindow::cleanup()
{
    window.reset();
    settings.reset();
    sim.reset();
}

void TestMainWindow::startSim(const QStringList& arguments)
{
    sim = std::make_unique<SimProcess>(arguments);
    QVERIFY(sim->waitUntilReady());
}

void TestMainWindow::startWindow()
{
    settings = std::make_unique<Settings>();
    window = std::make_unique<MainWindow>(nullptr);
    window->setSettings(settings.get());
}

static bool isStatusLabel(const QWidget* widget)
{
    const QLabel* label = qobject_cast<const QLabel*>(widget);
    return label && QStringList({ kNoDevice, kUnknownDevice, kFirmwareUnreadable }).contains(label->text());
}

// The status texts the layout shows, in order.
QStringList TestMainWindow::labelTexts() const
{
    const QLayout* layout = window->centralWidget()->layout();
    QStringList texts;
    for (int i = 0; i < layout->count(); ++i) {
        const QWidget* widget = layout->itemAt(i)->widget();
        if (isStatusLabel(widget))
            texts << qobject_cast<const QLabel*>(widget)->text();
    }
    return texts;
}

// A panel is whatever widget of the layout is not a status label.
int TestMainWindow::panelCount() const
{
    const QLayout* layout = window->centralWidget()->layout();
    int panels = 0;
    for (int i = 0; i < layout->count(); ++i) {
        const QWidget* widget = layout->itemAt(i)->widget();
        if (widget && !isStatusLabel(widget))
            ++panels;
    }
    return panels;
}

int TestMainWindow::failedCalls(quint32 code) const
{
    int failed = 0;
    for (const QJsonObject& call : sim->calls(code))
        failed += call.value("status").toInt() == 0 ? 1 : 0;
    return failed;
}

int TestMainWindow::goodCalls(quint32 code) const
{
    return sim->calls(code).size() - failedCalls(code);
}

void TestMainWindow::startsHiddenSearchingWithTheNoDeviceLabel()
{
    startWindow();
    QCOMPARE(window->windowTitle(), QString("Kestrum Driver"));
    QVERIFY(!window->isVisible());
    QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(labelTexts(), QStringList { kNoDevice });

    // No device: every second one line with PID 0, and the label stays.
    QTRY_COMPARE_WITH_TIMEOUT(log->count("Device PID: 0"), 2, 3000);
    QCOMPARE(labelTexts(), QStringList { kNoDevice });

    // A driver that listens but never takes a connection holds no tick for good.
    std::string socketPath;
    std::uint32_t error = 0;
    platform::posix::socketPathFor(L"\\\\.\\KestrumAudioBus0", socketPath, error);
    const int stuck = platform::posix::listenSeqPacket(socketPath, error);
    QVERIFY(stuck != platform::posix::kInvalidSocket && ::listen(stuck, 0) == 0);
    const int filler = platform::posix::connectSeqPacket(socketPath, error);
    const int before = log->count("Device PID: 0");
    QTRY_VERIFY_WITH_TIMEOUT(log->count("Device PID: 0") >= before + 2, 10000);
    platform::posix::closeSocket(filler);
    platform::posix::closeSocket(stuck);
}

void TestMainWindow::devicePresentAtStartIsDetectedAndWatched()
{
    startSim({ "--model", "KX2", "--firmware", "K2.06.0915" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);
    QVERIFY(!window->isVisible());
    QCOMPARE(panelCount(), 1);
    QVERIFY(log->contains("Device PID: 2"));
    QVERIFY(log->contains("Adding kx2 widget to layout."));
    QVERIFY(log->contains("Device found with PID: 2"));

    // Watching: PID reads every 400 ms on one channel of its own, detection stopped.
    QTRY_VERIFY_WITH_TIMEOUT(sim->calls(kGetDevicePid).size() >= 4, 3000);
    const QList<QJsonObject> reads = sim->calls(kGetDevicePid);
    const QJsonObject first = reads.at(1), second = reads.at(2);
    QCOMPARE(first.value("conn"), second.value("conn"));
    QVERIFY(first.value("conn") != reads.at(0).value("conn"));
    const double gapMs = (second.value("timeUs").toDouble() - first.value("timeUs").toDouble()) / 1000.0;
    QVERIFY2(gapMs > 300 && gapMs < 700, qPrintable(QString("poll gap %1 ms").arg(gapMs)));

    // The detection channel was closed; the settings dialog, the panel and the poll keep theirs.
    QCOMPARE(sim->state().value("connections").toInt(), 3);
    QCOMPARE(log->count("Device PID: 2"), 1);
}

void TestMainWindow::eachKnownModelGetsItsTitle_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("addedLine");
    QTest::newRow("KX1") << "KX1" << "0123456789" << "Kestrum KX1 - FW: 0123456789" << "Adding kx1 widget to layout.";
    QTest::newRow("KQ") << "KQ" << "0123456789" << "Kestrum KQ - FW: 0123456789" << "Adding kq widget to layout.";
    // Firmware characters are taken as they are, never as placeholders.
    QTest::newRow("KX2, placeholder-like bytes") << "KX2" << "%1%2%3%10%" << "Kestrum KX2 - FW: %1%2%3%10%"
                                                 << "Adding kx2 widget to layout.";
}

void TestMainWindow::eachKnownModelGetsItsTitle()
{
    QFETCH(QString, model);
    QFETCH(QString, firmware);
    QFETCH(QString, title);
    QFETCH(QString, addedLine);
    const QString file = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/" + model.toLower() + ".ini";
    QFile::remove(file);
    startSim({ "--model", model, "--firmware", firmware });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), title, 3000);
    QVERIFY(log->contains(addedLine));

    // The model's own panel was built and sent its state from its own file.
    QCOMPARE(panelCount(), 1);
    QVERIFY(QFile::exists(file));
    QVERIFY(sim->calls(kSetMixer).size() > 0);
}

void TestMainWindow::unknownPidShowsItsLabelEverySecond()
{
    startSim({ "--model", "3" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(log->count("Unknown device PID: 3"), 2, 3000);
    QCOMPARE(labelTexts(), QStringList { kUnknownDevice });
    QCOMPARE(panelCount(), 0);
    QCOMPARE(window->windowTitle(), QString("Kestrum Driver"));
    QVERIFY(!log->contains("Failed to connect to driver in settings window."));

    // Only the detection channel ever opened, and each tick closed its own.
    QTRY_COMPARE(sim->state().value("connections").toInt(), 0);
    int opens = 0;
    for (const QJsonValue& entry : sim->record())
        opens += entry.toObject().value("kind").toString() == "open" ? 1 : 0;
    QCOMPARE(opens, sim->calls(kGetDevicePid).size());
    QCOMPARE(sim->calls(kReadUsbControl).size(), 0);

    // Once it is gone, there is no device, not an unknown one.
    QVERIFY(sim->command({ "unplug" }));
    QTRY_COMPARE(labelTexts(), QStringList { kNoDevice });
}

void TestMainWindow::withoutTheSettingsChannelDetectionAndWatchingBothRun()
{
    startSim({ "--model", "KX2" });
    window = std::make_unique<MainWindow>(nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(log->count("Failed to connect to driver in settings window."), 2, 3000);
    QCOMPARE(panelCount(), 0);
    QCOMPARE(labelTexts(), QStringList { kNoDevice });
    QCOMPARE(window->windowTitle(), QString("Kestrum Driver"));

    // Each detection tick replaced the watch channel, which polls meanwhile.
    QTRY_COMPARE(sim->state().value("connections").toInt(), 1);
    QVERIFY(sim->calls(kGetDevicePid).size() > 2);
    QVERIFY(!log->contains("Error reading device PID from driver, error count: 1"));

    // The watch still notices the loss.
    QVERIFY(sim->command({ "unplug" }));
    QTRY_VERIFY(log->contains("Meter driver handle deleted."));
    QCOMPARE(labelTexts(), QStringList { kNoDevice });
}

void TestMainWindow::unreadableFirmwareIsRetriedAloneUntilItReads()
{
    startSim({ "--model", "KX2", "--firmware", "K2.06.0915" });
    QVERIFY(sim->command({ "fail", hexCode(kReadUsbControl), "always" }));
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(log->count("Failed to get firmware version."), 3, 5000);
    QCOMPARE(window->windowTitle(), QString("Kestrum Driver"));
    QCOMPARE(panelCount(), 1);
    QCOMPARE(labelTexts(), QStringList { kFirmwareUnreadable });
    // One panel and one programming of the driver, whatever the retries.
    QCOMPARE(log->count("Adding kx2 widget to layout."), 1);
    QCOMPARE(sim->calls(kSetSampleRate).size(), 1);

    QVERIFY(sim->command({ "fail", hexCode(kReadUsbControl), "off" }));
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);
    QCOMPARE(log->count("Adding kx2 widget to layout."), 1);
    QCOMPARE(panelCount(), 1);
    QCOMPARE(labelTexts(), QStringList());

    // Unplugged while the firmware keeps failing: the window says so.
    window.reset();
    log->clear();
    QVERIFY(sim->command({ "fail", hexCode(kReadUsbControl), "always" }));
    startWindow();
    QTRY_VERIFY_WITH_TIMEOUT(log->contains("Failed to get firmware version."), 3000);
    QVERIFY(sim->command({ "unplug" }));
    QTRY_COMPARE(labelTexts(), QStringList { kNoDevice });
    QCOMPARE(panelCount(), 0);
}

void TestMainWindow::aZeroFirmwareByteBecomesANulCharacter()
{
    startSim({ "--model", "KX2" });
    QVERIFY(sim->command({ "firmware", "--hex", "4b0032303030303030ff" }));
    startWindow();
    const QString expected = QString("Kestrum KX2 - FW: K") + QChar(0) + "2000000" + QChar(0xFF);
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), expected, 3000);
}

void TestMainWindow::twoFailedPollsThenAGoodOneChangeNothing()
{
    startSim({ "--model", "KX2", "--firmware", "K2.06.0915" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);

    for (int round = 0; round < 2; ++round) {
        const int goodBefore = goodCalls(kGetDevicePid);
        QVERIFY(sim->command({ "fail", hexCode(kGetDevicePid), "2" }));
        QTRY_VERIFY_WITH_TIMEOUT(goodCalls(kGetDevicePid) > goodBefore + 1, 3000);
    }
    QCOMPARE(log->count("Error reading device PID from driver, error count: 1"), 2);
    QCOMPARE(log->count("Error reading device PID from driver, error count: 2"), 2);
    QVERIFY(!log->contains("Error reading device PID from driver, error count: 3"));
    QVERIFY(!log->contains("Meter driver handle deleted."));
    QCOMPARE(panelCount(), 1);
}

void TestMainWindow::unplugShowsNoDeviceAndReplugRestoresThePanel()
{
    startSim({ "--model", "KX2", "--firmware", "K2.06.0915" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);

    QVERIFY(sim->command({ "unplug" }));
    QTRY_VERIFY_WITH_TIMEOUT(log->contains("Meter driver handle deleted."), 3000);
    QVERIFY(log->contains("Error reading device PID from driver, error count: 3"));
    QVERIFY(log->contains("Cleared all widgets from base layout."));
    QTRY_COMPARE(labelTexts(), QStringList { kNoDevice });
    QCOMPARE(panelCount(), 0);
    QCOMPARE(window->windowTitle(), kKx2Title);

    // Plugged in again, the whole detection runs anew, and the first poll on
    // the new channel failing once no longer counts as a loss.
    QVERIFY(sim->command({ "plug" }));
    QTRY_COMPARE_WITH_TIMEOUT(log->count("Device found with PID: 2"), 2, 3000);
    QTRY_COMPARE(panelCount(), 1);
    QVERIFY(!labelTexts().contains(kNoDevice));

    const int failedBefore = failedCalls(kGetDevicePid);
    QVERIFY(sim->command({ "fail", hexCode(kGetDevicePid), "once" }));
    QTRY_VERIFY_WITH_TIMEOUT(failedCalls(kGetDevicePid) > failedBefore, 3000);
    const int goodAfterFailure = goodCalls(kGetDevicePid);
    QTRY_VERIFY_WITH_TIMEOUT(goodCalls(kGetDevicePid) > goodAfterFailure, 3000);
    QCOMPARE(log->count("Meter driver handle deleted."), 1);
    QCOMPARE(panelCount(), 1);
}

void TestMainWindow::closingHidesTheWindowAndKeepsThePanel()
{
    startSim({ "--model", "KX2", "--firmware", "K2.06.0915" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    // With a tray the close is refused and the window only hides; without
    // one it closes, but the window object lives on either way.
    QCOMPARE(window->close(), !QSystemTrayIcon::isSystemTrayAvailable());
    QVERIFY(!window->isVisible());
    window->show();
    QVERIFY(window->isVisible());
    QCOMPARE(panelCount(), 1);
    QCOMPARE(window->windowTitle(), kKx2Title);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
