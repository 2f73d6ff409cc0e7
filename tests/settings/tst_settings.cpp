// The settings dialog: its boxes show the engine's choices and pass the
// user's on, and the two pipes to the ASIO driver.

#include "platform/NamedPipe.h"
#include "settings/AsioLink.h"
#include "settings/PipeASIO.h"
#include "settings/Settings.h"
#include "tests/support/DeviceFixture.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>

#include <memory>
#include <vector>

namespace {

using L = QStringList;
const QString kShown = "Received signal from pipe thread to show settings window.";
const QString kIdle = "No data received from pipe.";

// Every text in capitals, so that one not translated shows.
struct Capitals : QTranslator {
    bool isEmpty() const override { return false; }
    QString translate(const char*, const char* text, const char*, int) const override { return QString(text).toUpper(); }
};

} // namespace

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
        d.reset();
        fx->stopSim();
    }

    // Each box passes its choice on; what the engine loads, lowers or falls
    // back to shows; the file keeps its texts whatever the boxes show.
    void boxesFollowTheEngine()
    {
        Capitals capitals;
        QCoreApplication::installTranslator(&capitals);
        DeviceFixture::store("setting.ini", { { "Audio/BufferSize", "64" } });
        open({ "set usb-latency 16" });
        QVERIFY(d->connect2Driver());
        d->startSetup();
        QCOMPARE(L({ shown(64), shown(8) }), L({ "64", "8" }));
        QVERIFY(fx->sim().command({ "fail", "set_sample_rate", "once" }));
        for (const uint value : { 128, 24, 1, 48000 })
            box(value)->setCurrentIndex(box(value)->findData(value));
        QCOMPARE(L({ shown(1), shown(48000) }), L({ "ENABLED", "44100" }));
        const QJsonObject state = fx->sim().state();
        QVERIFY(state["bufferSize"] == 128 && state["usbLatency"] == 24 && state["safeMode"] == true);
        QCOMPARE(DeviceFixture::onDisk("setting.ini", "USB/SlowMode"), "Enabled");
        QCoreApplication::removeTranslator(&capitals);
    }

    // Requests are read in turn, also from clients that wrote and went away
    // while the listener paused; word 4 alone asks for the dialog.
    void asioRequests()
    {
        open();
        QSignalSpy asked(d->findChild<AsioLink*>(), &AsioLink::windowRequested);
        // Missing bytes read as zeros.
        for (const L& words : { L { "1", "2", "3", "4", "0" }, L { "--hex", "0102" }, L { "--length", "2000" }, L { "7", "8", "9", "10", "4294967295" } })
            QVERIFY(request(words));
        QVERIFY(asked.wait());
        QVERIFY(d->isVisible() && d->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        for (const char* line : { "Received data from pipe: 1 2 3 4 0", "Received data from pipe: 513 0 0 0 0",
                                  "Error reading from pipe. Error code: 234", "Received data from pipe: 7 8 9 10 4294967295" })
            QVERIFY2(log().contains(line), line);

        d->showMinimized();
        QVERIFY(request() && asked.wait());
        QVERIFY(!d->isMinimized());

        // Clients that connect and say nothing get their second to speak side
        // by side, and are dropped; the next one is served meanwhile.
        std::vector<platform::PipeHandle> silent(20);
        std::uint32_t error = 0;
        for (platform::PipeHandle& each : silent)
            QVERIFY((each = platform::openPipe(L"\\\\.\\pipe\\KestrumASIOToPannel", error)) != platform::kInvalidPipeHandle);
        QVERIFY(request() && asked.wait(900));
        QTRY_COMPARE(log().count("Error reading from pipe. Error code: 121"), 20);
        std::for_each(silent.begin(), silent.end(), platform::closePipe);
        // Whichever instance waits now, requests reach it.
        QVERIFY(request() && asked.wait() && request() && asked.wait());
        QCOMPARE(log().count(kShown), 5);
    }

    void okSendsOneNotice()
    {
        open();
        for (bool served : { true, false }) {
            QVERIFY(fx->sim().command({ "asio-serve", served ? "on" : "off" }));
            d->show();
            QTest::mouseClick(d->findChild<QPushButton*>(), Qt::LeftButton);
            QVERIFY(d->isHidden());
        }
        const QJsonObject asio = fx->sim().state()["asio"].toObject();
        QVERIFY(asio["notices"] == 1 && asio["messages"] == 1 && asio["lastMessage"] == "31");
        QVERIFY(log().contains("Error: Could not open pipe. Error code: 2"));
    }

    // The listener's wait is released and its pipe closed last; without a
    // pipe it retries and still stops.
    void listenerStops()
    {
        open();
        d.reset();
        // A second one, once the toolkit has what it keeps, leaves no descriptor behind.
        const auto descriptors = [] { return QDir("/proc/self/fd").count(); };
        const uint before = descriptors();
        d = std::make_unique<Settings>();
        QTRY_VERIFY(d->findChild<QThread*>()->isRunning());
        d.reset();
        QCOMPARE(descriptors(), before);
        QCOMPARE(log().lines().last(), "Pipe closed.");
        QVERIFY(!log().contains(kIdle));

        // A file where the pipe directory belongs makes the pipe impossible.
        const QString pipeDir = fx->environment().baseDir() + "/pipe";
        QVERIFY(QDir(pipeDir).removeRecursively() && QFile(pipeDir).open(QIODevice::WriteOnly));
        log().clear();
        QElapsedTimer tries;
        tries.start();
        d = std::make_unique<Settings>();
        QVERIFY(log().contains("Failed to create named pipe in ThreadSettingsPip."));
        // It tries again and again, pausing in between rather than spinning;
        // only its log shows it.
        QTRY_VERIFY(log().count(kIdle) >= 3);
        QVERIFY(tries.elapsed() >= 200);
        QVERIFY(log().contains("Error connecting to pipe. Error code: 6"));
        d.reset();
        QVERIFY(!log().contains("Pipe closed.") && QFile::remove(pipeDir));
    }

    // No flow of the panel writes through a server pipe, but it can.
    void pipeAsioWrites()
    {
        const std::wstring path = L"\\\\.\\pipe\\KestrumSettingsTest";
        PipeASIO pipe(QString::fromStdWString(path));
        QVERIFY(pipe.createPipe());
        std::uint32_t error = 0, length = 0;
        const platform::PipeHandle client = platform::openPipe(path, error);
        QVERIFY(pipe.write("1"));
        char buffer[PipeASIO::kMessageCapacity];
        QVERIFY(platform::readPipe(client, buffer, sizeof buffer, length, error));
        QCOMPARE(QByteArray(buffer, int(length)), "1");
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
    // The sim's client sends the words (or what the options make) to the listener.
    bool request(const L& words = { "0", "0", "0", "0", "1" }) { return fx->sim().command(L("asio-request") + words); }
    void open(const L& commands = {})
    {
        QVERIFY(fx->startSim({}, commands));
        d = std::make_unique<Settings>();
    }
    // The box that offers the value.
    QComboBox* box(uint value) const
    {
        for (QComboBox* each : d->findChildren<QComboBox*>())
            if (each->findData(value) >= 0)
                return each;
        return nullptr;
    }
    QString shown(uint value) const { return box(value)->currentText(); }

    std::unique_ptr<DeviceFixture> fx;
    std::unique_ptr<Settings> d;
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
