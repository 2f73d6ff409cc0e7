// kestrumctl against the running panel, which drives a simulated KX2: what
// reaches the device and the ini files, and what the program prints and
// returns.

#include "remote/RemoteProtocol.h"
#include "sim/IoCodes.h"
#include "tests/support/DeviceFixture.h"
#include "tests/support/RunningProgram.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QSettings>
#include <QTest>

#include <memory>

namespace {

using L = QStringList;

struct Run {
    int code;
    QString out;
    QString err;
};

Run ctl(const L& arguments, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(KESTRUM_CTL_PATH, arguments);
    if (!process.waitForFinished(20000))
        process.kill();
    process.waitForFinished();
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return { code, QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
}

// A key of the panel's own file, as it is on disk now.
QString ini(const QString& file, const QString& key)
{
    return QSettings(qEnvironmentVariable("XDG_DATA_HOME") + "/kestrum-panel/" + file, QSettings::IniFormat).value(key).toString();
}

// A value of the sim's state by its path ("mixer/outputGains/4"), as text.
QString state(SimProcess& sim, const QString& path)
{
    QJsonValue value = sim.state();
    for (const QString& step : path.split('/'))
        value = value.isArray() ? value[step.toInt()] : value[step];
    return value.isBool() ? QString(value.toBool() ? "true" : "false") : QString::number(value.toDouble());
}

// Calls that change the device: mixer records and USB control packets.
int changes(SimProcess& sim)
{
    return int(sim.calls(iocode::kSetMixer).size() + sim.calls(iocode::kWriteUsbControl).size());
}

QLocalSocket* client(QObject* parent)
{
    QString error;
    auto* socket = new QLocalSocket(parent);
    socket->connectToServer(RemoteProtocol::serverName(error));
    return socket;
}

} // namespace

class TestRemote : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(fixture.startSim({ "--model", "KX2" }));
        // What a killed panel left behind does not keep this one from listening.
        QString error;
        QFile leftover(RemoteProtocol::serverName(error));
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        panel = std::make_unique<RunningProgram>(KESTRUM_PANEL_PATH, L());
        QTRY_COMPARE_WITH_TIMEOUT(ctl({ "get" }).code, 0, 15000);
    }

    // Each kind of control, alone and together; get reads back what was set.
    void set_data()
    {
        QTest::addColumn<L>("before");
        QTest::addColumn<L>("assignments");
        QTest::addColumn<L>("device"); // state path, value
        QTest::addColumn<L>("file"); // key, value
        QTest::newRow("volume") << L() << L { "headphone.volume=-20" } << L { "mixer/outputGains/5", "0.1" } << L { "Dial/HeadphoneValue", "-20" };
        QTest::newRow("gain, shown with the preamp's 9 dB") << L() << L { "mic2.gain=30" } << L { "micGain/2", "42" } << L { "Dial/Mic2Value", "21" };
        QTest::newRow("switch") << L { "mic1.48v=off" } << L { "mic1.48v=on" } << L { "phantom48v/1", "true" } << L { "Button/Mic148VIsChecked", "true" };
        QTest::newRow("toggle") << L { "mic2.pad=off" } << L { "mic2.pad=toggle" } << L { "pad20db/2", "true" } << L { "Button/Mic220dBIsChecked", "true" };
        QTest::newRow("dimmed volume") << L { "speaker.mute=off" } << L { "speaker.dim=on", "speaker.volume=-6" }
                                       << L { "mixer/outputGains/0", QString::number(std::pow(10, -26 / 20.0)) } << L { "Dial/SpeakerValue", "-6" };
    }

    void set()
    {
        QFETCH(L, before);
        QFETCH(L, assignments);
        QFETCH(L, device);
        QFETCH(L, file);
        QVERIFY(before.isEmpty() || ctl(L { "set" } + before).code == 0);
        const Run run = ctl(L { "set" } + assignments);
        QCOMPARE(run.code, 0);
        QCOMPARE(state(fixture.sim(), device[0]), device[1]);
        QTRY_COMPARE(ini("kx2.ini", file[0]), file[1]);
        const QString name = assignments.last().section('=', 0, 0);
        QCOMPARE(ctl({ "get", name }).out.trimmed(), name + "=" + assignments.last().section('=', 1).replace("toggle", "on"));
    }

    // Nothing reaches the device unless every name and value is good; the
    // panel checks a request again, whole, whoever sends it.
    void refused_data()
    {
        QTest::addColumn<L>("arguments");
        QTest::addColumn<QByteArray>("request"); // sent straight to the panel instead
        QTest::newRow("unknown control") << L { "set", "headphone.volume=-10", "mic3.gain=20" } << QByteArray();
        QTest::newRow("a KX1's control") << L { "set", "mic1.inst=on" } << QByteArray();
        QTest::newRow("above the knob") << L { "set", "headphone.volume=7" } << QByteArray();
        QTest::newRow("below the gain's offset") << L { "set", "mic1.gain=8" } << QByteArray();
        QTest::newRow("not whole") << L { "set", "headphone.volume=-20.5" } << QByteArray();
        QTest::newRow("not a number") << L { "set", "headphone.volume=loud" } << QByteArray();
        QTest::newRow("switch to a number") << L { "set", "mic1.48v=1" } << QByteArray();
        QTest::newRow("no value") << L { "set", "mic1.48v" } << QByteArray();
        QTest::newRow("unknown command") << L { "mute" } << QByteArray();
        QTest::newRow("get of no control") << L { "get", "mic9.gain" } << QByteArray();
        QTest::newRow("panel: one bad switch value") << L() << QByteArray(R"({"command":"set","controls":{"headphone.volume":-10,"mic1.48v":2}})");
        QTest::newRow("panel: one unknown name") << L() << QByteArray(R"({"command":"set","controls":{"mic1.48v":1,"mic1.inst":1}})");
        QTest::newRow("panel: not a request") << L() << QByteArray("{\"command\":");
    }

    void refused()
    {
        QFETCH(L, arguments);
        QFETCH(QByteArray, request);
        SimProcess& sim = fixture.sim();
        sim.clearRecord();
        if (request.isEmpty()) {
            const Run run = ctl(arguments);
            QCOMPARE(run.code, 2);
            QCOMPARE(run.err.count('\n'), 1);
        } else {
            QLocalSocket* socket = client(this);
            socket->write(request + '\n');
            QTRY_VERIFY(socket->canReadLine());
            QCOMPARE(RemoteProtocol::parse(socket->readLine()).value_or(QJsonObject())["status"], 2);
            QTRY_COMPARE(socket->state(), QLocalSocket::UnconnectedState);
        }
        QCOMPARE(changes(sim), 0);
    }

    // A client that says nothing holds no one up and is dropped after a
    // while; one that floods is dropped at once.
    void rudeClients()
    {
        QLocalSocket* silent = client(this);
        QLocalSocket* flood = client(this);
        QVERIFY(silent->waitForConnected(1000) && flood->waitForConnected(1000));
        flood->write(QByteArray(1 << 20, 'x'));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ctl({ "get", "mic1.48v" }).code, 0);
        QVERIFY2(clock.elapsed() < RemoteProtocol::kIdleMs, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(flood->state(), QLocalSocket::UnconnectedState);
        QCOMPARE(silent->state(), QLocalSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(silent->state(), QLocalSocket::UnconnectedState, RemoteProtocol::kIdleMs + 2000);
    }

    // A watcher sees the state it starts in, then each change another command makes.
    void watch()
    {
        QVERIFY(ctl({ "set", "headphone.volume=-30", "mic2.48v=on" }).code == 0);
        RunningProgram watcher(KESTRUM_CTL_PATH, { "watch" });
        QString seen;
        QTRY_VERIFY((seen += watcher.process.readAllStandardOutput()).contains('\n'));
        QCOMPARE(seen, "{\"model\":\"KX2\",\"modified\":false,\"preset\":null}\n");
        QCOMPARE(ctl({ "set", "headphone.volume=-12", "mic2.48v=toggle" }).code, 0);
        QTRY_COMPARE((seen += watcher.process.readAllStandardOutput()).count('\n'), 3);
        QVERIFY(seen.contains("{\"control\":\"headphone.volume\",\"value\":-12}\n"));
        QVERIFY(seen.contains("{\"control\":\"mic2.48v\",\"value\":false}\n"));
    }

    // The device fails: nothing is stored that it did not take.
    void deviceFails_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("mend");
        QTest::newRow("refused") << "fail set_mixer once" << "";
        QTest::newRow("unplugged") << "unplug" << "plug";
    }

    void deviceFails()
    {
        QFETCH(QString, fault);
        QFETCH(QString, mend);
        QCOMPARE(ctl({ "set", "headphone.volume=-25" }).code, 0);
        QVERIFY(fixture.sim().command(fault.split(' ')));
        if (!mend.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(ctl({ "get" }).code, 3, 5000);
        QCOMPARE(ctl({ "set", "headphone.volume=-5" }).code, 3);
        QVERIFY(mend.isEmpty() || fixture.sim().command({ mend }));
        QTRY_COMPARE_WITH_TIMEOUT(ctl({ "get", "headphone.volume" }).out, "headphone.volume=-25\n", 10000);
        QCOMPARE(ini("kx2.ini", "Dial/HeadphoneValue"), "-25");
    }

    // Save, recall, undo and a recall the device refuses, from the command
    // line: the device and the file follow each step.
    void presets_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<L>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("volume"); // dB, on the device and in the file
        QTest::newRow("load") << "" << L { "preset", "load", "live" } << 0 << "-10";
        QTest::newRow("undo") << "" << L { "undo" } << 0 << "-40";
        QTest::newRow("nothing more to undo") << "" << L { "undo" } << 2 << "-40";
        QTest::newRow("load, refused") << "fail set_mixer once" << L { "preset", "load", "live" } << 3 << "-40";
        QTest::newRow("no such preset") << "" << L { "preset", "load", "dead" } << 2 << "-40";
        QTest::newRow("bad name") << "" << L { "preset", "save", "../live" } << 2 << "-40";
    }

    void presets()
    {
        QFETCH(QString, fault);
        QFETCH(L, arguments);
        QFETCH(int, code);
        QFETCH(QString, volume);
        if (QTest::currentDataTag() == QByteArray("load")) {
            QCOMPARE(ctl({ "set", "headphone.volume=-10" }).code, 0);
            QCOMPARE(ctl({ "preset", "save", "live" }).code, 0);
            QCOMPARE(ctl({ "set", "headphone.volume=-40" }).code, 0);
        }
        QVERIFY(fault.isEmpty() || fixture.sim().command(fault.split(' ')));
        QCOMPARE(ctl(arguments).code, code);
        QCOMPARE(state(fixture.sim(), "mixer/outputGains/4"), QString::number(std::pow(10, volume.toInt() / 20.0)));
        QTRY_COMPARE(ini("kx2.ini", "Dial/HeadphoneValue"), volume);
        const QJsonObject shown = QJsonDocument::fromJson(ctl({ "get", "--json", "headphone.volume" }).out.toUtf8()).object();
        QCOMPARE(shown, QJsonObject({ { "model", "KX2" }, { "controls", QJsonObject { { "headphone.volume", volume.toInt() } } },
                                      { "preset", "live" }, { "modified", volume != "-10" } }));
        QCOMPARE(ctl({ "preset", "list" }).out, "live\n");
    }

    // A KX2's preset on a KX1: what both have is applied, the rest named.
    void otherModel()
    {
        QVERIFY(fixture.sim().command({ "model", "KX1" }));
        QTRY_COMPARE_WITH_TIMEOUT(ctl({ "get", "mic1.inst" }).code, 0, 10000);
        const Run run = ctl({ "preset", "load", "live" });
        QCOMPARE(run.code, 0);
        L skipped = run.out.trimmed().section(": ", 1).split(", ");
        skipped.sort();
        QCOMPARE(skipped, L({ "mic2.48v", "mic2.direct", "mic2.gain", "mic2.pad", "speaker.dim", "speaker.mute", "speaker.phone", "speaker.volume" }));
        QCOMPARE(state(fixture.sim(), "mixer/outputGains/0"), QString::number(std::pow(10, -10 / 20.0)));
        QTRY_COMPARE(ini("kx1.ini", "Dial/HeadphoneValue"), "-10");
    }

    // With no panel the program says so in one line, at once.
    void noPanel()
    {
        QTemporaryDir elsewhere;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", elsewhere.path());
        QElapsedTimer clock;
        clock.start();
        const Run run = ctl({ "set", "headphone.volume=-5" }, env);
        QCOMPARE(run.code, 1);
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(run.err.count('\n'), 1);
    }

private:
    DeviceFixture fixture;
    std::unique_ptr<RunningProgram> panel;
};

QTEST_GUILESS_MAIN(TestRemote)
#include "tst_remote.moc"
