// The settings dialog: its boxes show the engine's choices and pass the
// user's on, and the two pipes to the ASIO driver.

#include "platform/NamedPipe.h"
#include "settings/AsioLink.h"
#include "settings/PipeASIO.h"
#include "settings/Settings.h"
#include "settings/ThreadSettingsPip.h"
#include "tests/support/DeviceFixture.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>

using namespace platform;

namespace {

using L = QStringList;
const QString kIdle = "No data received from pipe.";

// Every text in capitals, so that one not translated shows.
struct Capitals : QTranslator {
    QString translate(const char*, const char* text, const char*, int) const override { return QString(text).toUpper(); }
};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    // After the test framework took the message handler, so the log is captured.
    void initTestCase()
    {
        fx = std::make_unique<DeviceFixture>();
        DeviceFixture::removeIni("setting.ini");
    }
    void init() { log().clear(); }
    void cleanup() { d.reset(); }

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
    }

    // Requests are read in turn, also from clients that wrote and went away
    // while the listener paused; word 4 alone asks for the dialog. "OK" hides
    // it and sends one notice, if the driver serves its pipe.
    void asioLink()
    {
        open();
        QSignalSpy asked(d->findChild<AsioLink*>(), &AsioLink::windowRequested);
        QSignalSpy passed(d->findChild<ThreadSettingsPip*>(), &ThreadSettingsPip::progressUpdated);
        // Missing bytes read as zeros.
        for (const char* words : { "1 2 3 4 0", "--hex 0102", "--length 2000", "7 8 9 10 4294967295" })
            QVERIFY(request(words));
        QVERIFY(asked.wait());
        QVERIFY(d->isVisible() && d->windowFlags().testFlag(Qt::WindowStaysOnTopHint) && passed.at(0) == QVariantList { 1 });
        for (const char* words : { "1 2 3 4 0", "513 0 0 0 0", "7 8 9 10 4294967295" })
            QVERIFY(log().contains(QString("Received data from pipe: ") + words));
        QVERIFY(log().contains("Error reading from pipe. Error code: 234"));
        d->showMinimized();
        QVERIFY(request() && asked.wait() && !d->isMinimized());

        // Clients that connect and say nothing get their second to speak side
        // by side, and are dropped, one more than there are readers too (the
        // listener reads that one itself); then the next one is served.
        std::uint32_t error = 0;
        QList<PipeHandle> silent;
        for (int i = 0; i < 33; ++i)
            silent << openPipe(L"\\\\.\\pipe\\KestrumASIOToPannel", error);
        QVERIFY(!silent.contains(kInvalidPipeHandle) && request() && asked.wait());
        // Only the log tells when they are dropped.
        QTRY_COMPARE(log().count("Error reading from pipe. Error code: 121"), 33);
        std::for_each(silent.begin(), silent.end(), closePipe);
        // Whichever instance waits now, requests reach it.
        QVERIFY(request() && asked.wait() && request() && asked.wait());
        QCOMPARE(log().count("Received signal from pipe thread to show settings window."), 5);

        for (const char* serve : { "on", "off" }) {
            QVERIFY(fx->sim().command({ "asio-serve", serve }));
            QTest::mouseClick(d->findChild<QPushButton*>(), Qt::LeftButton);
            QVERIFY(d->isHidden());
            d->show();
        }
        const QJsonObject asio = fx->sim().state()["asio"].toObject();
        QVERIFY(asio["notices"] == 1 && asio["messages"] == 1 && asio["lastMessage"] == "31");
        QVERIFY(log().contains("Error: Could not open pipe. Error code: 2") && log().count("设置通知ASIO逻辑") == 1);
        // The listener's wait is released and its pipe closed last.
        log().clear();
        d.reset();
        QVERIFY(log().lines().last() == "Pipe closed." && !log().contains(kIdle));
    }

    // Without a pipe the listener retries, and still stops.
    void listenerStops()
    {

        // A file where the pipe directory belongs makes the pipe impossible.
        const QString pipeDir = fx->environment().baseDir() + "/pipe";
        QVERIFY(QDir(pipeDir).removeRecursively() && QFile(pipeDir).open(QIODevice::WriteOnly));
        QElapsedTimer tries;
        tries.start();
        open();
        QVERIFY(log().contains("Failed to create named pipe in ThreadSettingsPip."));
        // It tries again and again, pausing in between rather than spinning;
        // only its log shows it.
        QTRY_VERIFY(log().count(kIdle) >= 3);
        QVERIFY(tries.elapsed() >= 200 && log().contains("Error connecting to pipe. Error code: 6"));
        log().clear();
        d.reset();
        QVERIFY(!log().contains("Pipe closed.") && QFile::remove(pipeDir));
    }

    // No flow of the panel writes through a server pipe, but it can: one
    // message, then the client is dropped.
    void pipeAsioWrites()
    {
        const std::wstring path = L"\\\\.\\pipe\\KestrumSettingsTest";
        PipeASIO pipe(QString::fromStdWString(path));
        QVERIFY(pipe.createPipe());
        std::uint32_t error = 0, length = 0;
        const PipeHandle client = openPipe(path, error);
        char buffer[PipeASIO::kMessageCapacity];
        QVERIFY(pipe.write("1") && readPipe(client, buffer, sizeof buffer, length, error));
        QVERIFY(QByteArray(buffer, int(length)) == "1" && !readPipe(client, buffer, sizeof buffer, length, error));
        closePipe(client);
        pipe.close();
        pipe.close();
        QCOMPARE(log().count("Pipe closed."), 1);
        QVERIFY(!pipe.read(buffer) && !pipe.write("1") && !PipeASIO("KestrumSettingsTest").createPipe());
    }

private:
    LogCapture& log() { return fx->log(); }
    // The sim's client sends the words (or what the options make) to the listener.
    bool request(const QString& words = "0 0 0 0 1") { return fx->sim().command(("asio-request " + words).split(' ')); }
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
