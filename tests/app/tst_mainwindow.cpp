// Device detection and watching as the main window shows them, with the
// simulated interface plugged, unplugged and misbehaving in a separate process.

#include "app/InterfaceLanguage.h"
#include "app/MainWindow.h"
#include "app/SingleInstanceGuard.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"
#include "settings/Settings.h"
#include "sim/IoCodes.h"
#include "tests/support/DeviceFixture.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTranslator>

#include <memory>
#include <thread>
#include <typeinfo>

namespace {

using L = QStringList;
using W = QList<QWidget*>;

const QString kNoDevice = "声卡未连接！";
const QString kUnknown = "未知设备，请检查连接！";
const QString kLost = "Meter driver handle deleted.";
const QString kKx2Title = "Kestrum KX2 - FW: K2.06.0915";
const QString kNoTitle = "Kestrum Driver";
const QString kPid = "io_get_device_pid";

QString failedReads(int count)
{
    return QString("Error reading device PID from driver, error count: %1").arg(count);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // After the test framework took the message handler, so the log is captured.
    void initTestCase() { fixture = std::make_unique<DeviceFixture>(); }
    void init() { fixture->log().clear(); }
    void cleanup() { window.reset(); settings.reset(); fixture->stopSim(); }

    void detected_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("next");
        QTest::newRow("KX1") << "KX1" << "0123456789" << typeid(kx1).name() << "Kestrum KX1 - FW: 0123456789" << "KQ";
        QTest::newRow("KQ") << "KQ" << "0123456789" << typeid(kq).name() << "Kestrum KQ - FW: 0123456789" << "KX2";
        // Firmware bytes are taken as they are: never as placeholders, a zero as U+0000.
        QTest::newRow("KX2") << "KX2" << "--hex 2531002532253130ff25" << typeid(kx2).name()
                             << QString("Kestrum KX2 - FW: %1") + QChar(0) + "%2%10" + QChar(0xFF) + "%" << "KX1";
    }

    void detected()
    {
        QFETCH(QString, model);
        QFETCH(QString, firmware);
        QFETCH(QString, type);
        QFETCH(QString, named);
        QFETCH(QString, next);
        startSim({ "firmware " + firmware }, model);
        startWindow();
        QTRY_COMPARE(title(), named);
        QVERIFY(window->isHidden());
        QCOMPARE(panelType(), type);
        QCOMPARE(labels(), L());

        // The settings dialog programs the driver before the panel's first command.
        const qsizetype wdm = calls().indexOf("io_set_wdm_num");
        QVERIFY(wdm >= 0 && wdm < calls().indexOf("io_set_mixer"));

        // Watching: PID reads on a channel of their own, detection stopped.
        QTRY_VERIFY(sim().calls(iocode::kGetDevicePid).size() >= 4);
        const QList<QJsonObject> reads = sim().calls(iocode::kGetDevicePid);
        QVERIFY(reads[1]["conn"] == reads[2]["conn"] && reads[1]["conn"] != reads[0]["conn"]);
        // The detection channel was closed; the settings dialog, the panel and the watch keep theirs.
        QCOMPARE(sim().state()["connections"].toInt(), 3);
        QCOMPARE(count("Device PID: " + QString::number(sim().state()["pid"].toInt())), 1);

        // Another model on the bus between two polls: a loss, then a new detection.
        QVERIFY(sim().command({ "model", next }));
        QTRY_VERIFY_WITH_TIMEOUT(title().startsWith("Kestrum " + next + " - FW: "), 3000);
        QVERIFY(!panelType().isEmpty() && panelType() != type);
    }

    // Each second the label is shown anew, no connect is tried and no channel
    // stays open, not even the watch of a connect that failed before.
    void unknownPid()
    {
        startSim({}, "3");
        startWindow();
        QTRY_COMPARE(labels(), L { kUnknown });
        const QPointer<QWidget> first = shown().first();
        QTRY_VERIFY(first.isNull());
        QCOMPARE(labels(), L { kUnknown });
        QCOMPARE(title(), kNoTitle);
        QTRY_COMPARE(sim().state()["connections"].toInt(), 0);

        // Refused presets: no panel, while the settings dialog and the watch keep a channel.
        QVERIFY(sim().command({ "fail", "io_write_usb_control", "always" }) && sim().command({ "model", "KX2" }));
        QTRY_VERIFY(logged("Device PID: 2"));
        QCOMPARE(labels(), L { kNoDevice });
        QTRY_COMPARE(sim().state()["connections"].toInt(), 2);
        QVERIFY(sim().command({ "model", "3" }));
        window->callDriverTimerCallback();
        QCOMPARE(labels(), L { kUnknown });
        QTRY_COMPARE(sim().state()["connections"].toInt(), 1);

        // A read that fails is no device, not the unknown one of before.
        QVERIFY(sim().command({ "fail", kPid, "always" }));
        QTRY_COMPARE(labels(), L { kNoDevice });
    }

    // During a slow PID read the device's socket goes away (the settings
    // dialog's channel cannot open), the device is set to refuse the panel's
    // output presets, or to stop answering. The tick holds the GUI for one
    // call's time-out at most and shows "no device" without a panel; the
    // watch runs meanwhile, and the next tick connects anew.
    void failedConnect_data()
    {
        // Sim commands; none: the socket goes.
        QTest::addColumn<L>("fault");
        QTest::newRow("settings channel") << L();
        QTest::newRow("presets refused") << L { "slow 0", "fail io_write_usb_control once" };
        QTest::newRow("no answer") << L { "slow 2500" };
    }

    void failedConnect()
    {
        QFETCH(L, fault);
        startSim({ "slow 600" });
        const QString socket = fixture->environment().baseDir() + "/KestrumAudioBus0";
        std::thread faulter([&] {
            const QDeadlineTimer deadline(5000);
            while (!logged("Open device \\\\.\\KestrumAudioBus0 success!") && !deadline.hasExpired())
                QThread::msleep(1);
            if (fault.isEmpty())
                QFile::rename(socket, socket + ".away");
            for (const QString& command : fault)
                sim().command(command.split(' '));
        });
        startWindow();
        QElapsedTimer stall;
        stall.start();
        window->callDriverTimerCallback();
        const qint64 stalledMs = stall.elapsed();
        faulter.join();
        QVERIFY(stalledMs < 4000);
        QCOMPARE(labels(), L { kNoDevice });
        QVERIFY(!panel());
        QCOMPARE(count("Failed to connect to driver in settings window."), fault.isEmpty() ? 1 : 0);
        QTRY_COMPARE(logged(failedReads(1)), fault.isEmpty());
        QVERIFY(sim().command({ "slow", "0" }) && (!fault.isEmpty() || QFile::rename(socket + ".away", socket)));
        QTRY_COMPARE(title(), kKx2Title);
        QVERIFY(!panel()->findChildren<QWidget*>().isEmpty());
    }

    void noFirmware_data()
    {
        QTest::addColumn<bool>("replug");
        QTest::newRow("then read") << false;
        QTest::newRow("replugged, then read") << true;
    }

    void noFirmware()
    {
        QFETCH(bool, replug);
        startSim({ "fail io_read_usb_control always" });
        startWindow();
        QTRY_VERIFY(panel());
        // Unplugged while the firmware keeps failing: the window says so.
        QVERIFY(sim().command({ "unplug" }));
        QTRY_COMPARE(labels(), L { kNoDevice });
        QVERIFY(!panel());

        sim().clearRecord();
        fixture->log().clear();
        QVERIFY(sim().command({ "plug" }));
        QTRY_COMPARE(count("Failed to get firmware version."), 3);
        QCOMPARE(title(), kNoTitle);
        QCOMPARE(labels(), L { "获取固件版本失败，请检查连接！" });
        const QPointer<QWidget> firstPanel = panel();
        const QPointer<QWidget> label = shown().last();
        // One panel and one programming of the driver, whatever the retries.
        QCOMPARE(count("Adding kx2 widget to layout."), 1);
        QCOMPARE(calls().count("io_set_sample_rate"), 1);
        if (replug) {
            sim().clearRecord();
            QVERIFY(sim().command({ "unplug" }) && sim().command({ "plug" }));
        }
        QVERIFY(sim().command({ "fail", "io_read_usb_control", "off" }));
        QTRY_COMPARE(title(), kKx2Title);
        QTRY_VERIFY(label.isNull());
        if (!replug) {
            QCOMPARE(shown(), W { firstPanel.data() });
            return;
        }
        // A replug while the read was retried is a loss: the device is
        // programmed anew and its new panel reads the meters.
        QTRY_VERIFY(firstPanel.isNull() && panel());
        QTRY_VERIFY(calls(1).contains("io_get_meter_data"));
        for (const char* call : { "io_set_sample_rate", "io_set_mixer", "io_write_usb_control" })
            QVERIFY2(calls(1).contains(call), call);
    }

    // The texts are Chinese: the English translation serves only a user
    // who ranks English above every Chinese language.
    void english_data()
    {
        QTest::addColumn<L>("languages");
        QTest::addColumn<bool>("english");
        QTest::newRow("zh_CN:en_US") << L { "zh-CN", "en-US" } << false;
        QTest::newRow("fr, zh_TW, en") << L { "fr-FR", "zh-Hant-TW", "en" } << false;
        QTest::newRow("de, en_GB, zh") << L { "de-DE", "en-GB", "zh" } << true;
    }

    void english()
    {
        QFETCH(L, languages);
        QFETCH(bool, english);
        QTranslator translator;
        QCOMPARE(InterfaceLanguage::install(translator, languages), english);
        startWindow();
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(labels() != L { kNoDevice }, english);
    }

    void failedPolls()
    {
        startSim();
        startWindow();
        QTRY_COMPARE(title(), kKx2Title);
        const QPointer<QWidget> oldPanel = panel();
        // Two failed reads and a good one change nothing, twice.
        for (int round = 0; round < 2; ++round) {
            const int goodBefore = calls(1).count(kPid);
            QVERIFY(sim().command({ "fail", kPid, "2" }));
            QTRY_VERIFY(calls(1).count(kPid) > goodBefore + 1);
        }
        QCOMPARE(count(failedReads(2)), 2);
        QVERIFY(!logged(failedReads(3)) && oldPanel);

        // Three, and not one more, mean the device is gone.
        QVERIFY(sim().command({ "unplug" }));
        QTRY_VERIFY_WITH_TIMEOUT(logged(kLost), 3000);
        const L lines = fixture->log().lines();
        QCOMPARE(lines.at(lines.indexOf(failedReads(3)) + 1), kLost);
        // At once, not at the next detection tick.
        QVERIFY(!panel());
        QTRY_VERIFY(oldPanel.isNull());
        QCOMPARE(labels(), L { kNoDevice });
        QCOMPARE(title(), kKx2Title);

        // Plugged in again: programmed and built anew, and the first poll on
        // the new channel failing once no longer counts as a loss.
        sim().clearRecord();
        QVERIFY(sim().command({ "plug" }));
        QTRY_COMPARE_WITH_TIMEOUT(count("Device found with PID: 2"), 2, 3000);
        QVERIFY(panel() && labels().isEmpty());
        QVERIFY(sim().command({ "fail", kPid, "once" }));
        QTRY_VERIFY(calls(0).count(kPid) == 1);
        const int goodAfterFailure = calls(1).count(kPid);
        QTRY_VERIFY(calls(1).count(kPid) > goodAfterFailure);
        QCOMPARE(count(kLost), 1);
    }

    // The marker goes with its guard, not only with the process.
    void guardReleasesItsMarker()
    {
        using C = SingleInstanceGuard::Claim;
        auto first = std::make_unique<SingleInstanceGuard>();
        QCOMPARE(first->claim(), C::First);
        QCOMPARE(SingleInstanceGuard().claim(), C::AlreadyRunning);
        first.reset();
        QCOMPARE(SingleInstanceGuard().claim(), C::First);
    }

private:
    void startSim(const L& commands = {}, const QString& model = "KX2")
    {
        QVERIFY(fixture->startSim({ "--model", model }, commands));
    }
    void startWindow()
    {
        settings = std::make_unique<Settings>();
        window = std::make_unique<MainWindow>(nullptr);
        window->setSettings(settings.get());
    }
    SimProcess& sim() { return fixture->sim(); }
    QString title() const { return window->windowTitle(); }
    int count(const QString& line) const { return fixture->log().count(line); }
    bool logged(const QString& line) const { return fixture->log().contains(line); }
    W shown() const
    {
        const QLayout* layout = window->centralWidget()->layout();
        W widgets;
        for (int i = 0; i < layout->count(); ++i)
            widgets << layout->itemAt(i)->widget();
        return widgets;
    }
    L labels() const
    {
        L texts;
        for (const QWidget* widget : shown()) {
            if (const auto* label = qobject_cast<const QLabel*>(widget))
                texts << label->text();
        }
        return texts;
    }
    // The first widget of the layout, when it is not a status label.
    QWidget* panel() const
    {
        const W widgets = shown();
        return widgets.isEmpty() || qobject_cast<QLabel*>(widgets.first()) ? nullptr : widgets.first();
    }
    QString panelType() const { return panel() ? typeid(*panel()).name() : ""; }
    // The names of the recorded calls; with status 0 or 1, of the failed or good ones.
    L calls(int status = -1)
    {
        L names;
        for (const QJsonObject& call : sim().calls()) {
            if (status < 0 || call["status"].toInt() == status)
                names << call["name"].toString();
        }
        return names;
    }

    std::unique_ptr<DeviceFixture> fixture;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<MainWindow> window;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
