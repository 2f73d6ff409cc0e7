// The three model panels against the simulated interface: what reaches the
// device on a first start, on a restore and on every control change, what
// the ini files hold, and the level readouts.

#include "controls/Button.h"
#include "controls/Knob.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"
#include "sim/IoCodes.h"
#include "sim/MixerRecord.h"
#include "sim/ReceivedUsbPacket.h"
#include "tests/support/DeviceFixture.h"
#include "tray/SaveFailureNotice.h"

#include <QAccessible>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <memory>

namespace {

const QString kSaved = QStringLiteral("控件状态已保存到配置文件");
const QStringList kModels = { "KX2", "KX1", "KQ" };

double gainOf(int dB)
{
    return std::pow(10.0, dB / 20.0);
}

// Expected entries of TestPanels::view.
QString gainIs(int k, double gain)
{
    return QString("gain/%1=%2").arg(k).arg(gain, 0, 'g', 12);
}

QString cellIs(int row, int column, double gain)
{
    return QString("cell/%1,%2=%3").arg(row).arg(column).arg(gain, 0, 'g', 12);
}

// A DIRECT switch's cells: the channel's column into the given rows.
QStringList directCells(int column, QList<int> rows, double gain)
{
    QStringList cells;
    for (int row : rows)
        cells << cellIs(row, column, gain);
    return cells;
}

// The unity routing every model starts from, plus the model's own cells.
QStringList unityCells(const QStringList& modelCells)
{
    QStringList cells = { cellIs(0, 0, 0.0) };
    for (const QString& cell : QStringList { "4,0", "5,1", "6,2", "7,3", "8,4", "9,5", "10,6", "11,7", "96,0", "97,1", "128,0", "129,1", "130,0", "131,1",
                                             "160,0", "161,1", "162,2", "163,3", "164,4", "165,5", "166,6", "167,7" } + modelCells)
        cells << "cell/" + cell + "=1";
    return cells;
}

QString iniOf(const QString& model)
{
    return model.toLower() + ".ini";
}

std::unique_ptr<QWidget> makePanel(const QString& model)
{
    if (model == "KX1")
        return std::make_unique<kx1>();
    if (model == "KQ")
        return std::make_unique<kq>();
    return std::make_unique<kx2>();
}

// The panel's control with the given accessible name.
QWidget* named(const QWidget* panel, const QString& name)
{
    for (QWidget* widget : panel->findChildren<QWidget*>()) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible->text(QAccessible::Name) == name)
            return widget;
    }
    qWarning("no control named %s", qPrintable(name));
    return nullptr;
}

// The level readouts in creation order, as "description=text".
QStringList readouts(const QWidget* panel)
{
    QStringList texts;
    for (QLabel* label : panel->findChildren<QLabel*>()) {
        if (!label->accessibleDescription().isEmpty())
            texts << label->accessibleDescription() + "=" + label->text();
    }
    return texts;
}

bool laysOut(const QLayout* layout, const QWidget* widget)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget || (item->layout() && laysOut(item->layout(), widget)))
            return true;
    }
    return false;
}

} // namespace

class TestPanels : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void connectSendsTheStoredStateNeverLouder_data();
    void connectSendsTheStoredStateNeverLouder();
    void controlsReachTheDeviceAndTheFile_data();
    void controlsReachTheDeviceAndTheFile();
    void panelStaysEmptyWhenTheDeviceCannotBeUsed_data();
    void panelStaysEmptyWhenTheDeviceCannotBeUsed();
    void shownPanelIsLaidOutAndShowsLevels_data();
    void shownPanelIsLaidOutAndShowsLevels();
    void burstOfStepsIsWrittenOnceAsItsLast();
    void unsavableFileIsToldOnceAndRetried_data();
    void unsavableFileIsToldOnceAndRetried();
    void lostReplyReconnectsAndSendsAgain_data();
    void lostReplyReconnectsAndSendsAgain();

private:
    bool start(const QString& model, const QStringList& simCommands = {});
    QStringList deviceCalls(bool records = false);
    QList<MixerRecord> mixerRecords();
    QStringList view(const QStringList& expected);
    void set(const QString& step);

    // Made once the test library has installed its message handler, so that
    // the fixture's log capture comes after it.
    std::unique_ptr<DeviceFixture> device;
    QString model;
    std::unique_ptr<QWidget> panel;
};

// Each test starts without panel, device or ini files.
void TestPanels::init()
{
    panel.reset();
    if (!device)
        device = std::make_unique<DeviceFixture>();
    device->stopSim();
    for (const QString& each : kModels)
        DeviceFixture::removeIni(iniOf(each));
    device->log().clear();
}

bool TestPanels::start(const QString& panelModel, const QStringList& simCommands)
{
    model = panelModel;
    const bool started = device->startSim({ "--model", model }, simCommands);
    panel = makePanel(model);
    return started;
}

// The driver calls so far, the meter polls left out: a USB packet as the
// device understood it, a mixer record as "mixer" (with its bytes if asked).
QStringList TestPanels::deviceCalls(bool records)
{
    QStringList calls;
    for (const QJsonObject& call : device->sim().calls()) {
        const quint32 code = call["code"].toInteger();
        if (code == iocode::kWriteUsbControl)
            calls << ReceivedUsbPacket(DeviceFixture::input(call)).describeWrite();
        else if (code != iocode::kGetMeterData)
            calls << (code == iocode::kSetMixer ? "mixer" + (records ? call["in"].toString() : QString()) : call["name"].toString());
    }
    return calls;
}

QList<MixerRecord> TestPanels::mixerRecords()
{
    QList<MixerRecord> records;
    for (const QJsonObject& call : device->sim().calls(iocode::kSetMixer))
        records << MixerRecord(DeviceFixture::input(call));
    return records;
}

// What the expected "key=value" entries say, as found: "gain/k" and
// "cell/row,column" in the last mixer record sent, "ini/<key>" in the file
// on disk, "text/<control>" and "reads/<control>" as the user and
// assistive tools see a control, anything else ("micGain/1") in the
// device's state.
QStringList TestPanels::view(const QStringList& expected)
{
    QStringList found;
    for (const QString& entry : expected) {
        const QString key = entry.section('=', 0, 0);
        const QString what = key.section('/', 0, 0);
        const QString which = key.section('/', 1);
        QString value;
        if (what == "ini")
            value = DeviceFixture::onDisk(iniOf(model), which);
        else if (what == "text")
            value = qobject_cast<QAbstractButton*>(named(panel.get(), which))->text();
        else if (what == "reads")
            value = QAccessible::queryAccessibleInterface(named(panel.get(), which))->text(QAccessible::Value);
        else if (what == "gain" || what == "cell")
            value = QString::number(what == "gain" ? mixerRecords().last().outputGain(which.toInt())
                                                   : mixerRecords().last().cell(which.section(',', 0, 0).toInt(), which.section(',', 1).toInt()), 'g', 12);
        else
            value = device->sim().state()[what].toObject()[which].toVariant().toString();
        found << key + "=" + value;
    }
    return found;
}

// "<control>=<value>" sets a knob, "<control>" switches a button, as an
// assistive tool's user does.
void TestPanels::set(const QString& step)
{
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(named(panel.get(), step.section('=', 0, 0)));
    if (step.contains('='))
        control->valueInterface()->setCurrentValue(step.section('=', 1).toInt());
    else
        control->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

void TestPanels::connectSendsTheStoredStateNeverLouder_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("calls"); // all of them, when given
    QTest::addColumn<int>("flushLines");

    // A first start: the defaults go out, buttons off, volumes silent from
    // the first record on, gains and phone levels at 0, and the file holds
    // them at once.
    QTest::newRow("KX2 first start")
        << "KX2" << QVariantMap {}
        << QStringList { "ini/Dial/SpeakerValue=-80", "ini/Dial/HeadphoneValue=-80", "ini/Button/HeadphoneDimIsChecked=false", "ini/Dial/OtgToSPValue=0",
                         "reads/Mic 2 gain=9 dB", gainIs(0, 0.0), gainIs(2, 1.0), gainIs(3, 1.0), gainIs(5, 0.0) }
            + unityCells({ "100,0", "101,1", "132,0", "133,1", "64,2", "65,3", "68,2", "69,3" })
        << QStringList { "output volume ch 1 = 100", "output volume ch 2 = 100", "output volume ch 5 = 100", "output volume ch 6 = 100", "20dB pad ch 1 off",
                         "48V ch 1 off", "mixer", "mic volume ch 1 = 0", "mic volume ch 2 = 0", "20dB pad ch 2 off", "48V ch 2 off" } + QStringList(9, "mixer")
        << 1;
    QTest::newRow("KX1 first start")
        << "KX1" << QVariantMap {}
        << QStringList { "ini/Dial/HeadphoneValue=-80", "ini/Button/MicInstrIsChecked=false", "ini/Dial/OtgToHpValue=0", gainIs(2, 1.0) }
            + unityCells({ "64,2", "65,3" })
        << QStringList { "output volume ch 1 = 100", "output volume ch 2 = 100", "instrument ch 1 off", "20dB pad ch 1 off", "48V ch 1 off",
                         "mixer", "mic volume ch 1 = 0", "mixer", "mixer", "mixer", "mixer" }
        << 0;
    QTest::newRow("KQ first start")
        << "KQ" << QVariantMap {} << QStringList { "ini/Dial/HeadphoneValue=-80", "ini/Dial/MicValue=0", gainIs(2, 1.0) } + unityCells({ "64,2", "65,3" })
        << QStringList { "output volume ch 1 = 100", "output volume ch 2 = 100", "mixer", "mic volume ch 1 = 0", "mixer", "mixer", "mixer" } << 0;

    // A stored state: no two channels or outputs share a value, and a value
    // the control clamps, or cannot read, is written back.
    QTest::newRow("KX2 stored")
        << "KX2"
        << QVariantMap { { "Button/Mic120dBIsChecked", true }, { "Button/Mic148VIsChecked", false }, { "Button/MonitorMic1IsChecked", true },
                         { "Dial/Mic1Value", 100 }, { "Dial/Mic2Value", 17 }, { "Button/Mic220dBIsChecked", false }, { "Button/Mic248VIsChecked", true },
                         { "Button/MonitorMic2IsChecked", false }, { "Dial/SpeakerValue", -10 }, { "Button/SpeakerMuteIsChecked", true },
                         { "Button/SpeakerDimIsChecked", false }, { "Dial/HeadphoneValue", -4 }, { "Button/HeadphoneMuteIsChecked", false },
                         { "Button/HeadphoneDimIsChecked", true }, { "Dial/OtgToHpValue", "loud" }, { "Dial/OtgToSPValue", -30 } }
        << QStringList { "ini/Dial/Mic1Value=56", "ini/Dial/OtgToHpValue=0", "ini/Dial/SpeakerValue=-10", "ini/Dial/Mic2Value=17", "pad20db/1=true",
                         "pad20db/2=false", "phantom48v/1=false", "phantom48v/2=true", "micGain/1=112", "micGain/2=34", "reads/Mic 1 gain=65 dB",
                         gainIs(0, 0.0), gainIs(1, 0.0), gainIs(4, gainOf(-24)), gainIs(5, gainOf(-24)), cellIs(64, 2, gainOf(-30)),
                         cellIs(65, 3, gainOf(-30)), cellIs(68, 2, 1.0), cellIs(69, 3, 1.0) }
            + directCells(0, { 64, 65, 68, 69 }, 1.0) + directCells(1, { 64, 65, 68, 69 }, 0.0) << QStringList() << 1;
    QTest::newRow("KX1 stored")
        << "KX1"
        << QVariantMap { { "Button/MicInstrIsChecked", true }, { "Button/Mic20dBIsChecked", false }, { "Button/Mic48VIsChecked", true },
                         { "Button/MonitorMicIsChecked", true }, { "Dial/MicValue", 50 }, { "Dial/HeadphoneValue", -8 },
                         { "Button/HeadphoneMuteIsChecked", true }, { "Button/HeadphoneDimIsChecked", false }, { "Dial/OtgToHpValue", -12 } }
        << QStringList { "ini/Dial/MicValue=42", "ini/Dial/HeadphoneValue=-8", "instrument/1=true", "text/Mic instrument input=INST", "pad20db/1=false",
                         "phantom48v/1=true", "micGain/1=84", cellIs(64, 0, 1.0), cellIs(65, 1, 1.0), cellIs(64, 2, gainOf(-12)),
                         cellIs(65, 3, gainOf(-12)), gainIs(0, 0.0), gainIs(1, 0.0) } << QStringList() << 0;
    QTest::newRow("KQ stored")
        << "KQ"
        << QVariantMap { { "Button/MonitorMicIsChecked", false }, { "Dial/MicValue", 13 }, { "Dial/HeadphoneValue", -3 },
                         { "Button/HeadphoneMuteIsChecked", false }, { "Button/HeadphoneDimIsChecked", true } }
        << QStringList { "ini/Dial/MicValue=13", "micGain/1=26", cellIs(64, 0, 0.0), cellIs(65, 1, 0.0), cellIs(64, 2, 1.0), cellIs(65, 3, 1.0),
                         gainIs(0, gainOf(-23)), gainIs(1, gainOf(-23)) } << QStringList() << 0;
    // What is no finite number loads as the key's default, never as unity,
    // and is written back; a fraction is rounded.
    QTest::newRow("KX2 stored, unreadable")
        << "KX2" << QVariantMap { { "Dial/SpeakerValue", "loud" }, { "Dial/HeadphoneValue", "nan" }, { "Dial/Mic2Value", "inf" }, { "Dial/OtgToSPValue", "-30.4" } }
        << QStringList { "ini/Dial/SpeakerValue=-80", "ini/Dial/HeadphoneValue=-80", "ini/Dial/Mic2Value=0", "ini/Dial/OtgToSPValue=-30", gainIs(0, 0.0),
                         gainIs(5, 0.0), cellIs(64, 2, gainOf(-30)) } << QStringList() << 1;
    // The other way round: each output's MUTE and DIM come before its volume.
    QTest::newRow("KX2 stored, speaker dimmed") << "KX2" << QVariantMap { { "Dial/SpeakerValue", -2 }, { "Button/SpeakerDimIsChecked", true },
                                                                          { "Dial/HeadphoneValue", -5 }, { "Button/HeadphoneMuteIsChecked", true } }
                                                << QStringList { gainIs(0, gainOf(-22)), gainIs(4, 0.0) } << QStringList() << 1;
    QTest::newRow("KX1 stored, dimmed") << "KX1" << QVariantMap { { "Dial/HeadphoneValue", -2 }, { "Button/HeadphoneDimIsChecked", true } }
                                        << QStringList { gainIs(0, gainOf(-22)) } << QStringList() << 0;
    QTest::newRow("KQ stored, muted") << "KQ" << QVariantMap { { "Dial/HeadphoneValue", -2 }, { "Button/HeadphoneMuteIsChecked", true } }
                                      << QStringList { gainIs(0, 0.0) } << QStringList() << 0;
}

void TestPanels::connectSendsTheStoredStateNeverLouder()
{
    QFETCH(QString, model);
    QFETCH(QVariantMap, stored);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, calls);
    QFETCH(int, flushLines);

    // Another model's file is never read.
    for (const QString& other : kModels)
        DeviceFixture::store(iniOf(other), { { "Dial/MicValue", 30 }, { "Dial/Mic1Value", 30 }, { "Dial/HeadphoneValue", 6 } });
    DeviceFixture::removeIni(iniOf(model));
    DeviceFixture::store(iniOf(model), stored);
    QVERIFY(start(model));
    QCOMPARE(view(expected), expected);
    QCOMPARE(device->log().count(kSaved), flushLines);
    if (!calls.isEmpty())
        QCOMPARE(deviceCalls(), calls);
    // No record on the way drives a volume output louder than the state restored.
    const QList<MixerRecord> records = mixerRecords();
    for (int k : model == "KX2" ? QList<int> { 0, 1, 4, 5 } : QList<int> { 0, 1 }) {
        for (const MixerRecord& record : records)
            QVERIFY2(record.outputGain(k) <= records.last().outputGain(k), qPrintable(QString("output gain %1").arg(k)));
    }
    // Meters are read twice a second for the panel's whole life.
    const QList<QTimer*> timers = panel->findChildren<QTimer*>();
    QVERIFY(std::any_of(timers.begin(), timers.end(), [](const QTimer* timer) { return timer->isActive() && timer->interval() == 500; }));

    // Connected again, the same state goes out, and the file, which now holds
    // what the controls hold, is left alone.
    const QStringList firstSent = deviceCalls(true);
    panel.reset();
    const QDateTime longAgo(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    {
        QFile file(DeviceFixture::iniPath(iniOf(model)));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }
    device->sim().clearRecord();
    device->log().clear();
    panel = makePanel(model);
    QCOMPARE(deviceCalls(true), firstSent);
    QCOMPARE(QFileInfo(DeviceFixture::iniPath(iniOf(model))).lastModified(), longAgo);
    QCOMPARE(device->log().count(kSaved), 0);
}

void TestPanels::controlsReachTheDeviceAndTheFile_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("refused"); // a driver code the sim refuses meanwhile
    QTest::addColumn<QString>("steps");   // "<control>=<value>" sets a knob, "<control>" switches a button
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("logged"); // "!<text>": nothing starting so is logged

    const auto add = [](const char* name, const QString& model, const QString& steps, const QStringList& expected, const QString& logged = {},
                        const QString& refused = {}) { QTest::newRow(name) << model << refused << steps << expected << logged; };
    add("KX2 mic 1 gain", "KX2", "Mic 1 gain=20", { "micGain/1=40", "micGain/2=0", "ini/Dial/Mic1Value=20", "reads/Mic 1 gain=29 dB" }, "Mic volume set to: 20");
    add("KX2 mic 1 pad", "KX2", "Mic 1 20 dB pad", { "pad20db/1=true", "pad20db/2=false", "ini/Button/Mic120dBIsChecked=true", "reads/Mic 1 20 dB pad=on" },
        "Mic 20dB switched for channel 1.");
    add("KX2 mic 2 48V", "KX2", "Mic 2 48V", { "phantom48v/2=true", "phantom48v/1=false", "ini/Button/Mic248VIsChecked=true" }, "Mic 48V switched for channel 2.");
    add("KX2 mic 1 direct", "KX2", "Mic 1 direct monitoring",
        directCells(0, { 64, 65, 68, 69 }, 1.0) + directCells(1, { 64, 65, 68, 69 }, 0.0) << "ini/Button/MonitorMic1IsChecked=true", "Monitor Mic set to: 1");
    add("KX2 phone to speaker", "KX2", "Phone to speaker level=-20", { cellIs(64, 2, 0.1), cellIs(65, 3, 0.1), cellIs(68, 2, 1.0), "ini/Dial/OtgToSPValue=-20" },
        "OTG to SP volume set to: 0.1");
    add("KX2 phone to headphone", "KX2", "Phone to headphone level=20", { cellIs(68, 2, gainOf(6)), cellIs(69, 3, gainOf(6)), cellIs(64, 2, 1.0), "ini/Dial/OtgToHpValue=6" });
    add("KX1 mic gain", "KX1", "Mic gain=50", { "micGain/1=84", "ini/Dial/MicValue=42", "reads/Mic gain=42 dB" });
    add("KX1 instrument", "KX1", "Mic instrument input", { "instrument/1=true", "text/Mic instrument input=INST", "ini/Button/MicInstrIsChecked=true" },
        "Mic instruction switched for channel 1.");
    add("KX1 instrument off", "KX1", "Mic instrument input;Mic instrument input", { "instrument/1=false", "text/Mic instrument input=MIC", "ini/Button/MicInstrIsChecked=false" });
    add("KX1 pad", "KX1", "Mic 20 dB pad", { "pad20db/1=true", "ini/Button/Mic20dBIsChecked=true" });
    add("KX1 48V", "KX1", "Mic 48V", { "phantom48v/1=true", "ini/Button/Mic48VIsChecked=true" });
    add("KX1 direct", "KX1", "Mic direct monitoring", { cellIs(64, 0, 1.0), cellIs(65, 1, 1.0), cellIs(65, 0, 0.0), cellIs(64, 1, 0.0), "ini/Button/MonitorMicIsChecked=true" });
    add("KX1 phone below the range", "KX1", "Phone to headphone level=-100", { cellIs(64, 2, 0.0), cellIs(65, 3, 0.0), "ini/Dial/OtgToHpValue=-80" });

    // Volumes: MUTE silences whatever DIM says, DIM lowers by 20 dB, and the
    // knob keeps its own value.
    add("KX2 speaker", "KX2", "Speaker volume=-6", { gainIs(0, gainOf(-6)), gainIs(1, gainOf(-6)), gainIs(4, 0.0), "ini/Dial/SpeakerValue=-6" }, "Speaker volume set to: -6");
    add("KX2 speaker muted and dimmed", "KX2", "Speaker volume=3;Speaker mute;Speaker dim",
        { gainIs(1, 0.0), "ini/Button/SpeakerMuteIsChecked=true", "ini/Button/SpeakerDimIsChecked=true", "reads/Speaker volume=3 dB" }, "Speaker Mute Button Clicked: Mute ON");
    add("KX2 speaker unmuted, dimmed", "KX2", "Speaker volume=3;Speaker mute;Speaker dim;Speaker mute", { gainIs(0, gainOf(-17)), "ini/Button/SpeakerMuteIsChecked=false" });
    add("KX2 speaker undimmed", "KX2", "Speaker volume=3;Speaker dim;Speaker dim", { gainIs(1, gainOf(3)), "ini/Button/SpeakerDimIsChecked=false" });
    add("KX2 headphone", "KX2", "Headphone volume=-6", { gainIs(4, gainOf(-6)), gainIs(5, gainOf(-6)), gainIs(0, 0.0), "ini/Dial/HeadphoneValue=-6" },
        "Headphone volume set to: -6");
    add("KX2 headphone muted and dimmed", "KX2", "Headphone volume=3;Headphone mute;Headphone dim", { gainIs(5, 0.0), "ini/Button/HeadphoneDimIsChecked=true" });
    add("KX2 headphone unmuted, dimmed", "KX2", "Headphone volume=3;Headphone mute;Headphone dim;Headphone mute",
        { gainIs(4, gainOf(-17)), "ini/Button/HeadphoneMuteIsChecked=false" });
    add("KX1 headphone", "KX1", "Headphone volume=-6", { gainIs(0, gainOf(-6)), gainIs(1, gainOf(-6)), "ini/Dial/HeadphoneValue=-6" }, "Headphone volume set to: 0.501187");
    add("KX1 headphone muted and dimmed", "KX1", "Headphone volume=3;Headphone mute;Headphone dim",
        { gainIs(1, 0.0), "ini/Button/HeadphoneDimIsChecked=true", "reads/Headphone volume=3 dB" }, "Headphone Mute Button Clicked: Mute ON");
    add("KX1 headphone unmuted, dimmed", "KX1", "Headphone volume=3;Headphone mute;Headphone dim;Headphone mute",
        { gainIs(0, gainOf(-17)), "ini/Button/HeadphoneMuteIsChecked=false" }, "Headphone Dim Button Clicked: Dim ON");
    // The KQ shares the KX1's volume handling, but logs only failures.
    add("KQ headphone", "KQ", "Headphone volume=-6", { gainIs(0, gainOf(-6)), gainIs(1, gainOf(-6)), "ini/Dial/HeadphoneValue=-6" }, "!Headphone volume set to:");

    // Refused by the device: the failure is logged, the state is stored and
    // kept, and the next record accepted carries it.
    const QString mixer = "io_set_mixer";
    const QString usb = "io_write_usb_control";
    add("KX2 headphone refused", "KX2", "Headphone volume=-12", { gainIs(4, gainOf(-12)), "ini/Dial/HeadphoneValue=-12" }, "Failed to set headphone volume.", mixer);
    add("KX2 speaker refused", "KX2", "Speaker volume=-3", { gainIs(1, gainOf(-3)), "ini/Dial/SpeakerValue=-3" }, "Failed to set speaker volume.", mixer);
    add("KX2 direct refused", "KX2", "Mic 1 direct monitoring", { cellIs(68, 0, 1.0), "ini/Button/MonitorMic1IsChecked=true" }, "Failed to set Monitor Mic.", mixer);
    add("KX2 phone refused", "KX2", "Phone to speaker level=-1", { cellIs(64, 2, gainOf(-1)), "ini/Dial/OtgToSPValue=-1" }, "Failed to set OTG to SP volume.", mixer);
    add("KX2 gain refused", "KX2", "Mic 1 gain=20", { "micGain/1=0", "ini/Dial/Mic1Value=20" }, "Failed to set mic volume.", usb);
    add("KX2 48V refused", "KX2", "Mic 2 48V", { "phantom48v/2=false", "ini/Button/Mic248VIsChecked=true", "reads/Mic 2 48V=on" }, "Failed to switch mic 48V.", usb);
    add("KX1 instrument refused", "KX1", "Mic instrument input", { "instrument/1=false", "text/Mic instrument input=MIC", "ini/Button/MicInstrIsChecked=true" },
        "Failed to switch mic instruction.", usb);
    add("KX1 headphone refused", "KX1", "Headphone volume=-7", { gainIs(0, gainOf(-7)), "ini/Dial/HeadphoneValue=-7" }, "Failed to set headphone volume.", mixer);
}

// Each control driven as an assistive tool's user drives it, by its name:
// the device gets it at once, and the file on disk too.
void TestPanels::controlsReachTheDeviceAndTheFile()
{
    QFETCH(QString, model);
    QFETCH(QString, refused);
    QFETCH(QString, steps);
    QFETCH(QStringList, expected);
    QFETCH(QString, logged);

    QVERIFY(start(model));
    device->log().clear();
    if (!refused.isEmpty())
        QVERIFY(device->sim().command({ "fail", refused, "always" }));
    for (const QString& step : steps.split(';'))
        set(step);
    const QStringList iniEntries = expected.filter("ini/");
    QTRY_COMPARE_WITH_TIMEOUT(view(iniEntries), iniEntries, 500);
    if (refused.isEmpty()) {
        QCOMPARE(device->log().lines().filter("Failed"), QStringList());
    } else {
        QVERIFY(device->sim().command({ "fail", "all", "off" }));
        set(model == "KX2" ? "Mic 2 direct monitoring" : "Mic direct monitoring");
    }
    QCOMPARE(view(expected), expected);
    if (logged.startsWith('!'))
        QCOMPARE(device->log().lines().filter(QRegularExpression("^" + logged.mid(1))), QStringList());
    else if (!logged.isEmpty())
        QVERIFY2(device->log().contains(logged), qPrintable(logged));
}

void TestPanels::panelStaysEmptyWhenTheDeviceCannotBeUsed_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("refusedPresets"); // empty: no device at all
    QTest::addColumn<int>("presets");
    QTest::addColumn<QString>("line");
    QTest::newRow("KX2 no device") << "KX2" << "" << 0 << "Failed to create device in kx2.";
    // Each preset's answer counts, not only the last one's.
    QTest::newRow("KX2 first preset refused") << "KX2" << "1" << 4 << "Failed to set output volume.";
    QTest::newRow("KX1 first preset refused") << "KX1" << "1" << 2 << "Failed to set output volume.";
    QTest::newRow("KQ every preset refused") << "KQ" << "always" << 2 << "Failed to set output volume.";
}

void TestPanels::panelStaysEmptyWhenTheDeviceCannotBeUsed()
{
    QFETCH(QString, model);
    QFETCH(QString, refusedPresets);
    QFETCH(int, presets);
    QFETCH(QString, line);

    if (refusedPresets.isEmpty())
        panel = makePanel(model);
    else
        QVERIFY(start(model, { "fail io_write_usb_control " + refusedPresets }));
    QVERIFY(device->log().contains(line));
    // No controls, no meter timer, no file: the panel stays inert.
    QVERIFY(panel->children().isEmpty());
    QVERIFY(!QFile::exists(DeviceFixture::iniPath(iniOf(model))));
    if (presets > 0)
        QCOMPARE(deviceCalls().size(), presets);
}

void TestPanels::shownPanelIsLaidOutAndShowsLevels_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("levels"); // meter entries 0 to 3
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("captions"); // every text beside the controls, in order
    const QStringList kx2Captions = { "MIC1", "Gain", "MIC2", "Gain", "SPEAKER", "Volume", "Phone To SP Volume", "HEADPHONE", "Volume", "Phone To HP Volume" };

    QTest::newRow("KX2 half and a hundredth") << "KX2" << "1073741824 21474836 1073741824 0"
                                              << QStringList { "Mic 1 level=-6.0 dB", "Mic 2 level=-40.0 dB", "Phone input level=-12.0 dB", "Phone input level=-12.0 dB" } << kx2Captions;
    QTest::newRow("KX2 one and zero") << "KX2" << "1 0 0 0"
                                      << QStringList { "Mic 1 level=-186.6 dB", "Mic 2 level=-inf dB", "Phone input level=-inf dB", "Phone input level=-inf dB" } << kx2Captions;
    // The phone input averages the magnitudes of its two samples, truncated.
    QTest::newRow("KX2 opposite-sign phone") << "KX2" << "1000 -2000 1073741824 -1073741824"
                                             << QStringList { "Mic 1 level=-126.6 dB", "Mic 2 level=-120.6 dB", "Phone input level=-6.0 dB", "Phone input level=-6.0 dB" } << kx2Captions;
    QTest::newRow("KX2 phone mean truncated") << "KX2" << "0 1 3 -2"
                                              << QStringList { "Mic 1 level=-inf dB", "Mic 2 level=-186.6 dB", "Phone input level=-180.6 dB", "Phone input level=-180.6 dB" } << kx2Captions;
    QTest::newRow("KX2 lowest samples") << "KX2" << "-2147483648 -1 -2147483648 -2147483648"
                                        << QStringList { "Mic 1 level=0.0 dB", "Mic 2 level=-186.6 dB", "Phone input level=0.0 dB", "Phone input level=0.0 dB" } << kx2Captions;
    QTest::newRow("KX1") << "KX1" << "1073741824 5 2147483647 2147483647" << QStringList { "Mic level=-6.0 dB", "Phone input level=0.0 dB" }
                        << QStringList { "MIC", "Gain", "HEADPHONE", "Volume", "Phone To HP Volume" };
    QTest::newRow("KQ") << "KQ" << "21474836 1073741824 0 0" << QStringList { "Mic level=-40.0 dB" } << QStringList { "MIC", "Gain", "HEADPHONE", "Volume" };
}

// Every widget of a shown panel is placed by its layout, inside the panel,
// with none covering another. The meters are read every 500 ms whatever the
// window does; the readouts show the last level read only while they can be
// seen, catch up when shown, and keep their text when a read fails.
void TestPanels::shownPanelIsLaidOutAndShowsLevels()
{
    QFETCH(QString, model);
    QFETCH(QString, levels);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, captions);

    QVERIFY(start(model, { "meter " + levels }));
    QWidget window;
    QWidget* shown = panel.release();
    (new QVBoxLayout(&window))->addWidget(shown);
    const auto polls = [this] { return device->sim().calls(iocode::kGetMeterData).size(); };
    const auto reading = [&](const QString& text) { return QStringList(expected).replaceInStrings(QRegularExpression("=.*"), "=" + text); };
    QTRY_VERIFY_WITH_TIMEOUT(polls() > 0, 3000);
    QCOMPARE(readouts(shown), reading("-160 dB"));
    window.show();
    QCOMPARE(readouts(shown), expected);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QStringList texts;
    for (QLabel* label : shown->findChildren<QLabel*>()) {
        if (label->accessibleDescription().isEmpty())
            texts << label->text();
    }
    QCOMPARE(texts, captions);
    const QList<QWidget*> widgets = shown->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* widget : widgets) {
        QVERIFY(laysOut(shown->layout(), widget));
        QVERIFY2(shown->rect().contains(widget->geometry()) && !widget->geometry().isEmpty() && widget->isVisible(), widget->metaObject()->className());
        // A readout is as wide as its longest level from the start, so a new
        // level never lays the panel out again.
        if (!widget->accessibleDescription().isEmpty())
            QVERIFY(widget->fontMetrics().horizontalAdvance("-188.8 dB") <= widget->width());
        for (QWidget* other : widgets)
            QVERIFY2(other == widget || !other->geometry().intersects(widget->geometry()), qPrintable(widget->accessibleName() + " overlaps"));
    }

    QVERIFY(device->sim().command({ "meter", "1", "1", "1", "1" }));
    QVERIFY(device->sim().command({ "fail", "io_get_meter_data", "once" }));
    QTRY_VERIFY_WITH_TIMEOUT(device->log().contains("Failed to read meter data from driver."), 3000);
    QCOMPARE(readouts(shown), expected);
    QTRY_COMPARE_WITH_TIMEOUT(readouts(shown), reading("-186.6 dB"), 3000);

    window.hide();
    QVERIFY(device->sim().command({ "meter", "-1073741824", "-1073741824", "1073741824", "1073741824" }));
    const qsizetype before = polls();
    QTRY_VERIFY_WITH_TIMEOUT(polls() > before, 3000);
    QCOMPARE(readouts(shown), reading("-186.6 dB"));
    window.show();
    QCOMPARE(readouts(shown), reading("-6.0 dB"));
}

// A drag or a wheel costs the GUI one write, of the last value, soon after;
// MUTE, which sets the volume again, one too; and what is still to be
// written when the panel goes is written then.
void TestPanels::burstOfStepsIsWrittenOnceAsItsLast()
{
    QVERIFY(start("KX2"));
    device->log().clear();
    for (int dB = -60; dB <= -20; ++dB)
        set(QString("Headphone volume=%1").arg(dB));
    QTRY_COMPARE_WITH_TIMEOUT(view({ "ini/Dial/HeadphoneValue" }), QStringList { "ini/Dial/HeadphoneValue=-20" }, 500);
    set("Speaker mute");
    QTRY_COMPARE_WITH_TIMEOUT(device->log().count(kSaved), 2, 500);
    set("Speaker volume=-9");
    set("Mic 1 48V");
    panel.reset();
    QCOMPARE(device->log().count(kSaved), 3);
    QCOMPARE(view({ "ini/Dial/SpeakerValue", "ini/Button/Mic148VIsChecked" }), QStringList({ "ini/Dial/SpeakerValue=-9", "ini/Button/Mic148VIsChecked=true" }));
}

void TestPanels::unsavableFileIsToldOnceAndRetried_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("knob");
    QTest::addColumn<QString>("sent");  // the knob at 4, as the device has it
    QTest::addColumn<QString>("other"); // a key written while the file could not be
    QTest::newRow("KX2") << "KX2" << "Headphone volume" << gainIs(4, gainOf(4)) << "ini/Dial/OtgToSPValue=0";
    QTest::newRow("KQ") << "KQ" << "Mic gain" << "micGain/1=8" << "ini/Dial/HeadphoneValue=-80";
}

// A directory where the file belongs stops every write, whoever runs the
// test. The device still gets each change; the user is told once, the log
// says every time and never "saved"; once the file can be written again,
// the next change writes everything.
void TestPanels::unsavableFileIsToldOnceAndRetried()
{
    QFETCH(QString, model);
    QFETCH(QString, knob);
    QFETCH(QString, sent);
    QFETCH(QString, other);

    const QString file = DeviceFixture::iniPath(iniOf(model));
    QSignalSpy told(&SaveFailureNotice::instance(), &SaveFailureNotice::notKept);
    QVERIFY(QDir().mkpath(file));
    QVERIFY(start(model));
    const QString failed = "Failed to save control states to";
    QCOMPARE(device->log().lines().filter(failed).size(), 1);
    for (int value : { 3, 4 }) {
        set(knob + "=" + QString::number(value));
        QTRY_COMPARE_WITH_TIMEOUT(device->log().lines().filter(failed).size(), value - 1, 500);
    }
    QCOMPARE(view({ sent }), QStringList { sent });
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.first().first().toString(), file);
    QCOMPARE(device->log().count(kSaved), 0);

    QVERIFY(QDir(file).removeRecursively());
    set(knob + "=5");
    const QStringList kept = { "ini/" + QString(model == "KX2" ? "Dial/HeadphoneValue" : "Dial/MicValue") + "=5", other };
    QTRY_COMPARE_WITH_TIMEOUT(view(kept), kept, 500);
    QCOMPARE(device->log().count(kSaved), model == "KX2" ? 1 : 0);

    QVERIFY(QFile::remove(file) && QDir().mkpath(file));
    set(knob + "=6");
    QTRY_COMPARE_WITH_TIMEOUT(told.size(), 2, 500);
    panel.reset();
    QVERIFY(QDir(file).removeRecursively());
}

void TestPanels::lostReplyReconnectsAndSendsAgain_data()
{
    QTest::addColumn<QString>("late"); // the step whose reply comes late; none: a meter poll's
    QTest::addColumn<QString>("after");
    QTest::newRow("meter poll") << "" << "Headphone volume=-6";
    QTest::newRow("mixer write") << "Headphone volume=-6" << "";
}

// The stand-in ends a connection that lost a reply. The next call opens the
// device again, and the panel sends its whole state again, so nothing the
// device missed stays missed, and later changes reach it.
void TestPanels::lostReplyReconnectsAndSendsAgain()
{
    QFETCH(QString, late);
    QFETCH(QString, after);

    QVERIFY(start("KX2"));
    set("Mic 1 gain=7");
    QVERIFY(device->sim().command({ "slow", "2500" }));
    if (late.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(device->log().contains("Failed to read meter data from driver."), 5000);
    else
        set(late);
    QVERIFY(device->sim().command({ "slow", "0" }));
    device->sim().clearRecord();
    if (!after.isEmpty())
        set(after);
    QTRY_VERIFY_WITH_TIMEOUT(deviceCalls().contains("mic volume ch 1 = 14"), 3000);
    QCOMPARE(view({ gainIs(4, gainOf(-6)) }), QStringList { gainIs(4, gainOf(-6)) });
}

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
