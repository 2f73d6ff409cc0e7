// Device detection and watching in the main window, with the simulated
// interface plugged, unplugged and misbehaving in a separate process.

#include "app/MainWindow.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "settings/Settings.h"
#include "tests/support/DeviceFixture.h"

#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <typeinfo>
#include <unistd.h>

namespace {

const QString kNoDevice = QStringLiteral("声卡未连接！");
const QString kUnknownDevice = QStringLiteral("未知设备，请检查连接！");
const QString kFirmwareUnreadable = QStringLiteral("获取固件版本失败，请检查连接！");
const QString kSettingsFailed = QStringLiteral("Failed to connect to driver in settings window.");
const QString kLost = QStringLiteral("Meter driver handle deleted.");
const QString kKx2Title = QStringLiteral("Kestrum KX2 - FW: K2.06.0915");

QString failedReads(int count)
{
    return QStringLiteral("Error reading device PID from driver, error count: %1").arg(count);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // After the test framework took the message handler, so the log is captured.
    void initTestCase() { fixture = std::make_unique<DeviceFixture>(); }
    void init() { fixture->log().clear(); }
    void cleanup();

    void searchingKeepsOneLabelAndNoOpenHoldsIt();
    void deviceAtStartIsProgrammedThenGetsItsPanelAndIsWatched();
    void eachKnownModelGetsItsPanelAndTitle_data();
    void eachKnownModelGetsItsPanelAndTitle();
    void unknownPidShowsItsLabelUntilNothingAnswers();
    void settingsChannelFailureShowsNoDeviceAndDetectionGoesOn();
    void unreadableFirmwareIsRetriedAlone();
    void twoFailedPollsThenAGoodOneChangeNothing();
    void unplugDeletesThePanelAndReplugBuildsANewOne();

private:
    void startSim(const QStringList& arguments, const QStringList& commands = {})
    {
        QVERIFY(fixture->startSim(arguments, commands));
    }
    void startWindow();
    SimProcess& sim() { return fixture->sim(); }
    int count(const QString& line) const { return fixture->log().count(line); }
    QList<QWidget*> shownWidgets() const;
    QStringList labelTexts() const;
    QWidget* panel() const;
    int calls(const char* name, int status = -1);

    std::unique_ptr<DeviceFixture> fixture;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<MainWindow> window;
};

void TestMainWindow::cleanup()
{
    window.reset();
    settings.reset();
    fixture->stopSim();
}

void TestMainWindow::startWindow()
{
    settings = std::make_unique<Settings>();
    window = std::make_unique<MainWindow>(nullptr);
    window->setSettings(settings.get());
}

QList<QWidget*> TestMainWindow::shownWidgets() const
{
    const QLayout* layout = window->centralWidget()->layout();
    QList<QWidget*> widgets;
    for (int i = 0; i < layout->count(); ++i)
        widgets << layout->itemAt(i)->widget();
    return widgets;
}

QStringList TestMainWindow::labelTexts() const
{
    QStringList texts;
    for (const QWidget* widget : shownWidgets()) {
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts << label->text();
    }
    return texts;
}

// The one widget of the layout that is not a status label, if any.
QWidget* TestMainWindow::panel() const
{
    QWidget* found = nullptr;
    for (QWidget* widget : shownWidgets()) {
        if (!qobject_cast<QLabel*>(widget)) {
            if (found)
                return nullptr;
            found = widget;
        }
    }
    return found;
}

// Recorded calls of one name; with status 0 or 1, only the failed or good ones.
int TestMainWindow::calls(const char* name, int status)
{
    int found = 0;
    for (const QJsonObject& call : sim().calls())
        found += call["name"].toString() == QLatin1String(name) && (status < 0 || call["status"].toInt() == status);
    return found;
}

void TestMainWindow::searchingKeepsOneLabelAndNoOpenHoldsIt()
{
    startWindow();
    QVERIFY(window->isHidden());
    QCOMPARE(labelTexts(), QStringList { kNoDevice });
    const QPointer<QWidget> label = shownWidgets().first();
    QTRY_COMPARE_WITH_TIMEOUT(count("Device PID: 0"), 2, 3000);
    QCOMPARE(shownWidgets(), QList<QWidget*> { label.data() });

    // A driver that listens but never takes a connection holds no tick for good.
    std::string socketPath;
    std::uint32_t error = 0;
    platform::posix::socketPathFor(L"\\\\.\\KestrumAudioBus0", socketPath, error);
    const int stuck = platform::posix::listenSeqPacket(socketPath, error);
    QVERIFY(stuck != platform::posix::kInvalidSocket && ::listen(stuck, 0) == 0);
    const int filler = platform::posix::connectSeqPacket(socketPath, error);
    QTRY_VERIFY_WITH_TIMEOUT(count("Device PID: 0") >= 4, 10000);
    platform::posix::closeSocket(filler);
    platform::posix::closeSocket(stuck);
}

void TestMainWindow::deviceAtStartIsProgrammedThenGetsItsPanelAndIsWatched()
{
    startSim({ "--model", "KX2" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);
    QVERIFY(window->isHidden());
    QVERIFY(panel());
    QCOMPARE(labelTexts(), QStringList());

    // The settings dialog programs the driver before the panel opens its channel.
    const QJsonArray record = sim().record();
    const qint64 panelConnection = sim().calls(0xFFDC2040).first()["conn"].toInteger();
    qsizetype settingsDone = -1, panelOpened = -1;
    for (qsizetype i = 0; i < record.size(); ++i) {
        const QJsonObject entry = record[i].toObject();
        if (settingsDone < 0 && entry["name"] == "io_set_wdm_num")
            settingsDone = i;
        if (entry["kind"] == "open" && entry["conn"].toInteger() == panelConnection)
            panelOpened = i;
    }
    QVERIFY(settingsDone >= 0 && settingsDone < panelOpened);

    // Watching: PID reads at 400 ms on a channel of their own, detection stopped.
    QTRY_VERIFY_WITH_TIMEOUT(sim().calls(0xFFDC2084).size() >= 4, 3000);
    const QList<QJsonObject> reads = sim().calls(0xFFDC2084);
    QCOMPARE(reads[1]["conn"], reads[2]["conn"]);
    QVERIFY(reads[1]["conn"] != reads[0]["conn"]);
    QVERIFY(reads[2]["t_us"].toInteger() - reads[1]["t_us"].toInteger() >= 300000);
    // The detection channel was closed; the settings dialog, the panel and the poll keep theirs.
    QCOMPARE(sim().state()["connections"].toInt(), 3);
    QCOMPARE(count("Device PID: 2"), 1);
}

void TestMainWindow::eachKnownModelGetsItsPanelAndTitle_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("firmware");
    QTest::addColumn<QString>("panelType");
    QTest::addColumn<QString>("title");
    QTest::newRow("KX1") << "KX1" << QStringList { "0123456789" } << typeid(kx1).name() << "Kestrum KX1 - FW: 0123456789";
    QTest::newRow("KQ") << "KQ" << QStringList { "0123456789" } << typeid(kq).name() << "Kestrum KQ - FW: 0123456789";
    // Firmware bytes are taken as they are: never as placeholders, a zero as U+0000.
    QTest::newRow("KX2, placeholder-like") << "KX2" << QStringList { "%1%2%3%10%" } << typeid(kx2).name()
                                           << "Kestrum KX2 - FW: %1%2%3%10%";
    QTest::newRow("KX2, zero byte") << "KX2" << QStringList { "--hex", "4b0032303030303030ff" } << typeid(kx2).name()
                                    << QString("Kestrum KX2 - FW: K") + QChar(0) + "2000000" + QChar(0xFF);
}

void TestMainWindow::eachKnownModelGetsItsPanelAndTitle()
{
    QFETCH(QString, model);
    QFETCH(QStringList, firmware);
    QFETCH(QString, panelType);
    QFETCH(QString, title);
    startSim({ "--model", model });
    QVERIFY(sim().command(QStringList { "firmware" } + firmware));
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), title, 3000);
    QVERIFY(panel());
    QCOMPARE(QString(typeid(*panel()).name()), panelType);
}

void TestMainWindow::unknownPidShowsItsLabelUntilNothingAnswers()
{
    startSim({ "--model", "3" });
    startWindow();
    QTRY_VERIFY_WITH_TIMEOUT(count("Unknown device PID: 3") >= 1, 3000);
    QCOMPARE(labelTexts(), QStringList { kUnknownDevice });
    // Each second the label is shown anew; the one before goes.
    const QPointer<QWidget> first = shownWidgets().first();
    QTRY_COMPARE_WITH_TIMEOUT(count("Unknown device PID: 3"), 2, 3000);
    QTRY_VERIFY(first.isNull());
    QCOMPARE(labelTexts(), QStringList { kUnknownDevice });
    QCOMPARE(window->windowTitle(), QStringLiteral("Kestrum Driver"));

    // Only the detection channel ever opened, and each tick closed its own.
    QTRY_COMPARE(sim().state()["connections"].toInt(), 0);
    int opens = 0;
    for (const QJsonValue& entry : sim().record())
        opens += entry["kind"] == "open";
    QCOMPARE(opens, calls("io_get_device_pid"));
    QVERIFY(!fixture->log().contains(kSettingsFailed));

    // A read that fails is no device, not the unknown one of before.
    QVERIFY(sim().command({ "fail", "io_get_device_pid", "always" }));
    QTRY_COMPARE(labelTexts(), QStringList { kNoDevice });
}

// Run out of descriptors, the dialog cannot open its channel while the
// detection tick holds one.
void TestMainWindow::settingsChannelFailureShowsNoDeviceAndDetectionGoesOn()
{
    startSim({ "--model", "KX2" });
    startWindow();
    const int lowestFree = ::open("/dev/null", O_RDONLY);
    ::close(lowestFree);
    rlimit limit {};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
    const rlimit tight { rlim_t(lowestFree + 1), limit.rlim_max };
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &tight) == 0);
    const bool failedTwice = QTest::qWaitFor([this] { return count(kSettingsFailed) >= 2; }, 5000);
    const QStringList labels = labelTexts();
    const bool noPanel = !panel();
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &limit) == 0);
    QVERIFY(failedTwice);
    QCOMPARE(labels, QStringList { kNoDevice });
    QVERIFY(noPanel);
    QVERIFY(fixture->log().contains(failedReads(1)));

    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);
    QVERIFY(panel());
}

void TestMainWindow::unreadableFirmwareIsRetriedAlone()
{
    startSim({ "--model", "KX2" }, { "fail io_read_usb_control always" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(count("Failed to get firmware version."), 3, 5000);
    QCOMPARE(window->windowTitle(), QStringLiteral("Kestrum Driver"));
    const QPointer<QWidget> firstPanel = panel();
    QVERIFY(firstPanel);
    QCOMPARE(labelTexts(), QStringList { kFirmwareUnreadable });
    const QPointer<QWidget> label = shownWidgets().last();
    // One panel and one programming of the driver, whatever the retries.
    QCOMPARE(count("Adding kx2 widget to layout."), 1);
    QCOMPARE(calls("io_set_sample_rate"), 1);

    QVERIFY(sim().command({ "fail", "io_read_usb_control", "off" }));
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);
    QTRY_VERIFY(label.isNull());
    QCOMPARE(shownWidgets(), QList<QWidget*> { firstPanel.data() });

    // Unplugged while the firmware keeps failing: the window says so.
    window.reset();
    QVERIFY(sim().command({ "fail", "io_read_usb_control", "always" }));
    fixture->log().clear();
    startWindow();
    QTRY_VERIFY_WITH_TIMEOUT(fixture->log().contains("Failed to get firmware version."), 3000);
    QVERIFY(sim().command({ "unplug" }));
    QTRY_COMPARE(labelTexts(), QStringList { kNoDevice });
    QVERIFY(!panel());
}

void TestMainWindow::twoFailedPollsThenAGoodOneChangeNothing()
{
    startSim({ "--model", "KX2" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);
    for (int round = 0; round < 2; ++round) {
        const int goodBefore = calls("io_get_device_pid", 1);
        QVERIFY(sim().command({ "fail", "io_get_device_pid", "2" }));
        QTRY_VERIFY_WITH_TIMEOUT(calls("io_get_device_pid", 1) > goodBefore + 1, 3000);
    }
    QCOMPARE(count(failedReads(2)), 2);
    QVERIFY(!fixture->log().contains(failedReads(3)));
    QVERIFY(panel());
}

void TestMainWindow::unplugDeletesThePanelAndReplugBuildsANewOne()
{
    startSim({ "--model", "KX2" });
    startWindow();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kKx2Title, 3000);
    const QPointer<QWidget> oldPanel = panel();

    // Three failed reads in a row, and not one more, mean the device is gone.
    QVERIFY(sim().command({ "unplug" }));
    QTRY_VERIFY_WITH_TIMEOUT(fixture->log().contains(kLost), 3000);
    const QStringList lines = fixture->log().lines();
    QCOMPARE(lines.at(lines.indexOf(failedReads(3)) + 1), kLost);
    QTRY_VERIFY(oldPanel.isNull());
    QCOMPARE(labelTexts(), QStringList { kNoDevice });
    QCOMPARE(window->windowTitle(), kKx2Title);

    // Plugged in again: programmed and built anew, and the first poll on the
    // new channel failing once no longer counts as a loss.
    sim().clearRecord();
    QVERIFY(sim().command({ "plug" }));
    QTRY_COMPARE_WITH_TIMEOUT(count("Device found with PID: 2"), 2, 3000);
    QVERIFY(panel());
    QCOMPARE(labelTexts(), QStringList());
    QCOMPARE(calls("io_set_sample_rate"), 1);
    QVERIFY(sim().command({ "fail", "io_get_device_pid", "once" }));
    QTRY_VERIFY_WITH_TIMEOUT(calls("io_get_device_pid", 0) == 1, 3000);
    const int goodAfterFailure = calls("io_get_device_pid", 1);
    QTRY_VERIFY_WITH_TIMEOUT(calls("io_get_device_pid", 1) > goodAfterFailure, 3000);
    QCOMPARE(count(kLost), 1);
    QVERIFY(panel());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
