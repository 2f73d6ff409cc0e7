// The three model panels against the simulated interface: what reaches the
// device on a first start and on a restore, the mixer cells each control
// drives, the ini files, the level readouts and the widget trees.

#include "controls/Button.h"
#include "controls/Knob.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"
#include "sim/IoCodes.h"
#include "sim/MixerRecord.h"
#include "sim/ReceivedUsbPacket.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QAccessible>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>
#include <memory>

namespace {

const QString kReadoutStyle = QStringLiteral("color: #888888; font-size: 8px;");
const QString kTitleStyle = QStringLiteral("font-weight: bold; font-size: 12px; color: white;");
const QString kCaptionStyle = QStringLiteral("font-size: 12px; color: white;");
const QString kPhoneCaptionStyle = QStringLiteral("font-size: 10px; color: white;");
const QString kLoaded = QStringLiteral("已从配置文件加载控件状态");
const QString kSaved = QStringLiteral("控件状态已保存到配置文件");

// Knobs and buttons in the order each panel creates them.
enum Kx2Knob { Mic1Gain, Mic2Gain, SpeakerVolume, PhoneToSpeaker, Kx2Headphone, Kx2PhoneToHeadphone };
enum Kx2Button { Mic1Pad, Mic1Phantom, Mic1Direct, Mic2Pad, Mic2Phantom, Mic2Direct, SpeakerMute, SpeakerDim, Kx2HeadphoneMute, Kx2HeadphoneDim };
enum Kx1Button { Kx1Instrument, Kx1Pad, Kx1Phantom, Kx1Direct, Kx1Mute, Kx1Dim };

double gainOf(int dB)
{
    return std::pow(10.0, dB / 20.0);
}

QString iniPath(const QString& model)
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/" + model.toLower() + ".ini";
}

// A key's value as the file on disk holds it, read without QSettings: a new
// QSettings object on the same file would first write out what the panel
// had not flushed yet.
QString onDisk(const QString& model, const QString& key)
{
    QFile file(iniPath(model));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QString group = "[" + key.section('/', 0, 0) + "]";
    const QString assignment = key.section('/', 1) + "=";
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line.startsWith('['))
            inGroup = line == group;
        else if (inGroup && line.startsWith(assignment))
            return line.mid(assignment.size());
    }
    return QString();
}

std::unique_ptr<QWidget> makePanel(const QString& model)
{
    if (model == "KX1")
        return std::make_unique<kx1>();
    if (model == "KQ")
        return std::make_unique<kq>();
    return std::make_unique<kx2>();
}

// A layout tree in a compact text form, so a whole panel's structure can be
// compared with what it should be.
QString describe(QLayoutItem* item);

QString describeWidget(QWidget* widget)
{
    if (auto* knob = qobject_cast<Knob*>(widget))
        return QString("knob(%1..%2)").arg(knob->minValue).arg(knob->maxValue);
    if (auto* button = qobject_cast<Button*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->styleSheet() == kReadoutStyle)
            return "readout";
        const QString kind = label->styleSheet() == kTitleStyle ? "title"
            : label->styleSheet() == kCaptionStyle              ? "caption"
            : label->styleSheet() == kPhoneCaptionStyle         ? "phone"
                                                                : "label?";
        return kind + ":" + label->text();
    }
    if (auto* frame = qobject_cast<QFrame*>(widget); frame && frame->frameShape() == QFrame::VLine)
        return "|";
    return widget->metaObject()->className();
}

QString describeLayout(QLayout* layout)
{
    QString text = qobject_cast<QHBoxLayout*>(layout) ? "H" : "V";
    const QMargins margins = layout->contentsMargins();
    if (qobject_cast<QVBoxLayout*>(layout) && margins.left() != margins.right())
        text += QString("(%1,%2,%3,%4)").arg(margins.left()).arg(margins.top()).arg(margins.right()).arg(margins.bottom());
    QStringList items;
    for (int i = 0; i < layout->count(); ++i)
        items << describe(layout->itemAt(i));
    return text + "[" + items.join(' ') + "]";
}

QString describe(QLayoutItem* item)
{
    if (item->widget())
        return describeWidget(item->widget());
    if (item->layout())
        return describeLayout(item->layout());
    return "~";
}

QList<QLabel*> readoutsOf(const QWidget* panel)
{
    QList<QLabel*> found;
    for (QLabel* label : panel->findChildren<QLabel*>()) {
        if (label->styleSheet() == kReadoutStyle)
            found << label;
    }
    return found;
}

QStringList textsOf(const QList<QLabel*>& labels)
{
    QStringList texts;
    for (const QLabel* label : labels)
        texts << label->text();
    return texts;
}

// Counts the layout passes a widget is asked for.
class LayoutRequests : public QObject
{
public:
    explicit LayoutRequests(QWidget* widget) { widget->installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++count;
        return false;
    }

    int count = 0;
};

QSet<QWidget*> widgetsIn(QLayout* layout)
{
    QSet<QWidget*> widgets;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget())
            widgets.insert(item->widget());
        else if (item->layout())
            widgets.unite(widgetsIn(item->layout()));
    }
    return widgets;
}

} // namespace

class TestPanels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartSendsTheDefaults_data();
    void firstStartSendsTheDefaults();
    void storedStateIsRestoredAndClamped();
    void muteWinsOverDimAndTheKnobKeepsItsValue_data();
    void muteWinsOverDimAndTheKnobKeepsItsValue();
    void connectNeverSendsAMutedOrDimmedOutputLouder_data();
    void connectNeverSendsAMutedOrDimmedOutputLouder();
    void directMonitoringDrivesTheChannelsCells();
    void everyControlIsStoredAndFlushedAtOnce();
    void restoringWritesTheFileBackOnlyWhereItDiffers_data();
    void restoringWritesTheFileBackOnlyWhereItDiffers();
    void eachModelReadsOnlyItsOwnFile();
    void instrumentSwitchShowsWhatTheDeviceAccepted();
    void refusedCommandsAreLoggedAndTheFileIsStillWritten();
    void panelStaysEmptyWhenTheDeviceCannotBeUsed_data();
    void panelStaysEmptyWhenTheDeviceCannotBeUsed();
    void readoutsShowTheMeterLevels_data();
    void readoutsShowTheMeterLevels();
    void failedMeterReadKeepsTheReadouts();
    void hiddenReadoutsCatchUpWhenShown_data();
    void hiddenReadoutsCatchUpWhenShown();
    void newLevelsDoNotLayThePanelOutAgain();
    void widgetTreePerModel_data();
    void widgetTreePerModel();
    void recipesGiveTheirLooks();
    void assistiveToolsReadAndDriveThePanels();

private:
    void startSim(const QString& model);
    QStringList deviceCalls();
    QStringList sentBytes();
    QList<MixerRecord> mixerRecords();
    QVariant stored(const QString& model, const QString& key) const;
    void store(const QString& model, const QMap<QString, QVariant>& values) const;
    template <typename T> T* child(int index) const;

    TestEnvironment environment;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<QWidget> panel;
};

void TestPanels::initTestCase()
{
    log = std::make_unique<LogCapture>();
}

void TestPanels::init()
{
    for (const char* model : { "KX1", "KX2", "KQ" })
        QFile::remove(iniPath(model));
    log->clear();
}

void TestPanels::cleanup()
{
    panel.reset();
    sim.reset();
}

void TestPanels::startSim(const QString& model)
{
    sim = std::make_unique<SimProcess>(QStringList { "--model", model });
    QVERIFY(sim->waitUntilReady());
}

// The driver calls so far, the meter polls left out: a USB packet as the
// device understood it, a mixer record as "mixer".
QStringList TestPanels::deviceCalls()
{
    QStringList calls;
    for (const QJsonObject& call : sim->calls()) {
        const quint32 code = call["code"].toInteger();
        const QByteArray input = QByteArray::fromHex(call["in"].toString().toLatin1());
        if (code == iocode::kWriteUsbControl)
            calls << ReceivedUsbPacket(input).describeWrite();
        else if (code == iocode::kSetMixer)
            calls << "mixer";
        else if (code != iocode::kGetMeterData)
            calls << call["name"].toString();
    }
    return calls;
}

// Every driver call so far with its input bytes, the meter polls left out.
QStringList TestPanels::sentBytes()
{
    QStringList calls;
    for (const QJsonObject& call : sim->calls()) {
        if (call["code"].toInteger() != iocode::kGetMeterData)
            calls << call["name"].toString() + " " + call["in"].toString();
    }
    return calls;
}

QList<MixerRecord> TestPanels::mixerRecords()
{
    QList<MixerRecord> records;
    for (const QJsonObject& call : sim->calls(iocode::kSetMixer))
        records << MixerRecord(QByteArray::fromHex(call["in"].toString().toLatin1()));
    return records;
}

QVariant TestPanels::stored(const QString& model, const QString& key) const
{
    return QSettings(iniPath(model), QSettings::IniFormat).value(key);
}

void TestPanels::store(const QString& model, const QMap<QString, QVariant>& values) const
{
    QDir().mkpath(QFileInfo(iniPath(model)).path());
    QSettings file(iniPath(model), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        file.setValue(it.key(), it.value());
}

template <typename T>
T* TestPanels::child(int index) const
{
    return panel->findChildren<T*>(Qt::FindDirectChildrenOnly).at(index);
}

void TestPanels::firstStartSendsTheDefaults_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QList<int>>("silentOutputs");
    QTest::addColumn<QStringList>("unityCells");
    QTest::addColumn<QStringList>("keys");

    const QStringList common = { "4,0", "5,1", "6,2", "7,3", "8,4", "9,5", "10,6", "11,7", "96,0", "97,1",
                                 "128,0", "129,1", "130,0", "131,1", "160,0", "161,1", "162,2", "163,3",
                                 "164,4", "165,5", "166,6", "167,7" };
    QTest::newRow("KX2")
        << "KX2"
        << QStringList { "output volume ch 1 = 100", "output volume ch 2 = 100", "output volume ch 5 = 100",
                         "output volume ch 6 = 100", "20dB pad ch 1 off", "48V ch 1 off", "mixer",
                         "mic volume ch 1 = 0", "mic volume ch 2 = 0", "20dB pad ch 2 off", "48V ch 2 off", "mixer",
                         "mixer", "mixer", "mixer", "mixer", "mixer", "mixer", "mixer", "mixer" }
        << QList<int> { 0, 1, 4, 5 }
        << common + QStringList { "100,0", "101,1", "132,0", "133,1", "64,2", "65,3", "68,2", "69,3" }
        << QStringList { "Button/HeadphoneDimIsChecked", "Button/HeadphoneMuteIsChecked",
                         "Button/Mic120dBIsChecked", "Button/Mic148VIsChecked", "Button/Mic220dBIsChecked",
                         "Button/Mic248VIsChecked", "Button/MonitorMic1IsChecked", "Button/MonitorMic2IsChecked",
                         "Button/SpeakerDimIsChecked", "Button/SpeakerMuteIsChecked", "Dial/HeadphoneValue",
                         "Dial/Mic1Value", "Dial/Mic2Value", "Dial/OtgToHpValue", "Dial/OtgToSPValue",
                         "Dial/SpeakerValue" };
    QTest::newRow("KX1")
        << "KX1"
        << QStringList { "output volume ch 1 = 100", "output volume ch 2 = 100", "instrument ch 1 off",
                         "20dB pad ch 1 off", "48V ch 1 off", "mixer", "mic volume ch 1 = 0",
                         "mixer", "mixer", "mixer", "mixer" }
        << QList<int> { 0, 1 }
        << common + QStringList { "64,2", "65,3" }
        << QStringList { "Button/HeadphoneDimIsChecked", "Button/HeadphoneMuteIsChecked",
                         "Button/Mic20dBIsChecked", "Button/Mic48VIsChecked", "Button/MicInstrIsChecked",
                         "Button/MonitorMicIsChecked", "Dial/HeadphoneValue", "Dial/MicValue", "Dial/OtgToHpValue" };
    QTest::newRow("KQ")
        << "KQ"
        << QStringList { "output volume ch 1 = 100", "output volume ch 2 = 100", "mixer", "mic volume ch 1 = 0",
                         "mixer", "mixer", "mixer" }
        << QList<int> { 0, 1 }
        << common + QStringList { "64,2", "65,3" }
        << QStringList { "Button/HeadphoneDimIsChecked", "Button/HeadphoneMuteIsChecked",
                         "Button/MonitorMicIsChecked", "Dial/HeadphoneValue", "Dial/MicValue" };
}

void TestPanels::firstStartSendsTheDefaults()
{
    QFETCH(QString, model);
    QFETCH(QStringList, calls);
    QFETCH(QList<int>, silentOutputs);
    QFETCH(QStringList, unityCells);
    QFETCH(QStringList, keys);

    startSim(model);
    panel = makePanel(model);
    QCOMPARE(deviceCalls(), calls);
    QCOMPARE(log->count(kLoaded), 1);

    // Every record is whole; the last one holds the unity routing, the phone
    // input at 0 dB and the volumes at -80 dB (silent).
    const MixerRecord last = mixerRecords().last();
    QStringList cells;
    for (int row = 0; row < MixerRecord::kRows; ++row) {
        for (int column = 0; column < MixerRecord::kColumns; ++column) {
            if (last.cell(row, column) == 0.0)
                continue;
            QCOMPARE(last.cell(row, column), 1.0);
            cells << QString("%1,%2").arg(row).arg(column);
        }
    }
    QCOMPARE(QSet<QString>(cells.cbegin(), cells.cend()), QSet<QString>(unityCells.cbegin(), unityCells.cend()));
    for (int k = 0; k < MixerRecord::kOutputGains; ++k)
        QCOMPARE(last.outputGain(k), silentOutputs.contains(k) ? 0.0 : 1.0);

    // The phone input of the KQ reaches the headphones at unity in every record sent.
    if (model == "KQ") {
        for (const MixerRecord& record : mixerRecords())
            QVERIFY(record.cell(64, 2) == 1.0 && record.cell(65, 3) == 1.0);
    }

    QSettings file(iniPath(model), QSettings::IniFormat);
    QCOMPARE(file.allKeys(), keys);
    for (const QString& key : keys) {
        const QString expected = key.startsWith("Button/") ? "false" : key.contains("Otg") || key.contains("Mic") ? "0" : "-80";
        QCOMPARE(file.value(key).toString(), expected);
    }
}

void TestPanels::storedStateIsRestoredAndClamped()
{
    store("KX2", { { "Dial/Mic1Value", 100 }, { "Dial/Mic2Value", -3 }, { "Button/Mic248VIsChecked", true },
                   { "Button/MonitorMic2IsChecked", true }, { "Dial/SpeakerValue", -10 },
                   { "Button/SpeakerMuteIsChecked", true }, { "Button/SpeakerDimIsChecked", true },
                   { "Dial/HeadphoneValue", -70 }, { "Button/HeadphoneDimIsChecked", true },
                   { "Dial/OtgToSPValue", -6 }, { "Dial/OtgToHpValue", "loud" } });
    startSim("KX2");
    panel = makePanel("KX2");

    const QJsonObject state = sim->state();
    QCOMPARE(state["micGain"].toObject()["1"].toInt(), 112);
    QCOMPARE(state["micGain"].toObject()["2"].toInt(), 0);
    QCOMPARE(state["phantom48v"].toObject()["2"].toBool(), true);
    QCOMPARE(child<Knob>(Mic1Gain)->value, 56);
    QCOMPARE(stored("KX2", "Dial/Mic1Value").toInt(), 56);
    QCOMPARE(stored("KX2", "Dial/Mic2Value").toInt(), 0);
    QVERIFY(log->contains("Mic volume set to: 56"));

    // Muted wins over dimmed; the knobs keep and store their own values.
    const MixerRecord last = mixerRecords().last();
    QCOMPARE(last.outputGain(0), 0.0);
    QCOMPARE(last.outputGain(1), 0.0);
    QCOMPARE(child<Knob>(SpeakerVolume)->value, -10);
    QCOMPARE(stored("KX2", "Dial/SpeakerValue").toInt(), -10);
    QVERIFY(log->contains("Speaker volume set to: -80"));
    // -70 dimmed is -90 dB: silent.
    QCOMPARE(last.outputGain(4), 0.0);
    QCOMPARE(child<Knob>(Kx2Headphone)->value, -70);
    QCOMPARE(stored("KX2", "Dial/HeadphoneValue").toInt(), -70);
    QVERIFY(log->contains("Headphone volume set to: -90"));

    // DIRECT of channel 2 only; the phone input at -6 dB into the speaker, and
    // unreadable text as 0 dB into the headphones.
    for (int row : { 64, 65, 68, 69 }) {
        QCOMPARE(last.cell(row, 0), 0.0);
        QCOMPARE(last.cell(row, 1), 1.0);
    }
    QCOMPARE(last.cell(64, 2), gainOf(-6));
    QCOMPARE(last.cell(65, 3), gainOf(-6));
    QCOMPARE(last.cell(68, 2), 1.0);
    QCOMPARE(stored("KX2", "Dial/OtgToHpValue").toInt(), 0);
}

void TestPanels::muteWinsOverDimAndTheKnobKeepsItsValue_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("knobIndex");
    QTest::addColumn<int>("muteIndex");
    QTest::addColumn<int>("firstGain");
    QTest::addColumn<QString>("muteOnLine");
    QTest::addColumn<QString>("dimOnLine");
    QTest::addColumn<QString>("setLine"); // for -6 dB; the KQ logs nothing when the device accepts
    QTest::newRow("KX2 speaker") << "KX2" << int(SpeakerVolume) << int(SpeakerMute) << 0
                                 << "Speaker Mute Button Clicked: Mute ON" << "" << "Speaker volume set to: -6";
    QTest::newRow("KX2 headphone") << "KX2" << int(Kx2Headphone) << int(Kx2HeadphoneMute) << 4 << "" << ""
                                   << "Headphone volume set to: -6";
    QTest::newRow("KX1 headphone") << "KX1" << 1 << int(Kx1Mute) << 0
                                   << "Headphone Mute Button Clicked: Mute ON" << "Headphone Dim Button Clicked: Dim ON"
                                   << "Headphone volume set to: 0.501187";
    QTest::newRow("KQ headphone") << "KQ" << 1 << 1 << 0
                                  << "Headphone Mute Button Clicked: Mute ON" << "Headphone Dim Button Clicked: Dim ON" << "";
}

void TestPanels::muteWinsOverDimAndTheKnobKeepsItsValue()
{
    QFETCH(QString, model);
    QFETCH(int, knobIndex);
    QFETCH(int, muteIndex);
    QFETCH(int, firstGain);
    QFETCH(QString, muteOnLine);
    QFETCH(QString, dimOnLine);
    QFETCH(QString, setLine);

    startSim(model);
    panel = makePanel(model);
    Knob* volume = child<Knob>(knobIndex);
    Button* mute = child<Button>(muteIndex);
    Button* dim = child<Button>(muteIndex + 1);
    const auto sentGain = [&] {
        const MixerRecord last = mixerRecords().last();
        return last.outputGain(firstGain) == last.outputGain(firstGain + 1) ? last.outputGain(firstGain) : -1.0;
    };

    volume->setValue(-6);
    QCOMPARE(sentGain(), gainOf(-6));
    if (!setLine.isEmpty())
        QVERIFY2(log->contains(setLine), qPrintable(setLine));
    QVERIFY(!log->lines().join('\n').contains("Failed to set"));
    QTest::mouseClick(mute, Qt::LeftButton);
    QCOMPARE(sentGain(), 0.0);
    dim->setValue(true);
    QCOMPARE(sentGain(), 0.0);
    volume->setValue(3);
    QCOMPARE(sentGain(), 0.0);
    mute->setValue(false);
    QCOMPARE(sentGain(), gainOf(3 - 20));
    dim->setValue(false);
    QCOMPARE(sentGain(), gainOf(3));
    volume->setValue(6);
    QCOMPARE(sentGain(), 1.9952623149688795);
    volume->setValue(-80);
    QCOMPARE(sentGain(), 0.0);

    QCOMPARE(volume->value, -80);
    const QString key = firstGain == 0 && model == "KX2" ? "Speaker" : "Headphone";
    QCOMPARE(stored(model, "Dial/" + key + "Value").toInt(), -80);
    QCOMPARE(stored(model, "Button/" + key + "MuteIsChecked").toString(), QString("false"));
    if (!muteOnLine.isEmpty())
        QCOMPARE(log->count(muteOnLine), 1);
    if (!dimOnLine.isEmpty())
        QCOMPARE(log->count(dimOnLine), 1);
}

void TestPanels::connectNeverSendsAMutedOrDimmedOutputLouder_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("muteIndex");
    QTest::addColumn<int>("firstGain");
    QTest::addColumn<bool>("muted");
    QTest::addColumn<int>("knob");
    // Dimmed at 0 dB: -20 dB; muted at -10 dB: silent.
    const struct {
        const char* model;
        const char* output;
        int muteIndex;
        int firstGain;
    } outputs[] = {
        { "KX2", "Speaker", SpeakerMute, 0 },
        { "KX2", "Headphone", Kx2HeadphoneMute, 4 },
        { "KX1", "Headphone", Kx1Mute, 0 },
        { "KQ", "Headphone", 1, 0 },
    };
    for (const auto& output : outputs) {
        QTest::addRow("%s %s muted", output.model, output.output)
            << output.model << output.output << output.muteIndex << output.firstGain << true << -10;
        QTest::addRow("%s %s dimmed", output.model, output.output)
            << output.model << output.output << output.muteIndex << output.firstGain << false << 0;
    }
}

void TestPanels::connectNeverSendsAMutedOrDimmedOutputLouder()
{
    QFETCH(QString, model);
    QFETCH(QString, output);
    QFETCH(int, muteIndex);
    QFETCH(int, firstGain);
    QFETCH(bool, muted);
    QFETCH(int, knob);

    store(model, { { "Dial/" + output + "Value", knob }, { "Button/" + output + "MuteIsChecked", muted },
                   { "Button/" + output + "DimIsChecked", !muted } });
    startSim(model);
    panel = makePanel(model);
    const double storedGain = muted ? 0.0 : gainOf(knob - 20);

    const QList<MixerRecord> records = mixerRecords();
    QVERIFY(!records.isEmpty());
    for (qsizetype i = 0; i < records.size(); ++i) {
        for (int gain : { firstGain, firstGain + 1 }) {
            QVERIFY2(records[i].outputGain(gain) <= storedGain,
                     qPrintable(QString("record %1 drives output gain %2 at %3").arg(i).arg(gain).arg(records[i].outputGain(gain))));
        }
    }
    QCOMPARE(records.last().outputGain(firstGain), storedGain);
    QCOMPARE(records.last().outputGain(firstGain + 1), storedGain);

    // The connect ends with the very record the user's own hand sends for that state.
    const QJsonValue connected = sim->calls(iocode::kSetMixer).last()["in"];
    child<Button>(muted ? muteIndex : muteIndex + 1)->setValue(true);
    QCOMPARE(sim->calls(iocode::kSetMixer).last()["in"], connected);
}

void TestPanels::directMonitoringDrivesTheChannelsCells()
{
    startSim("KX2");
    panel = makePanel("KX2");
    child<Button>(Mic2Direct)->setValue(true);
    MixerRecord last = mixerRecords().last();
    for (int row : { 64, 65, 68, 69 }) {
        QCOMPARE(last.cell(row, 0), 0.0);
        QCOMPARE(last.cell(row, 1), 1.0);
    }
    QVERIFY(log->contains("Monitor Mic set to: 1"));

    // Setting it again runs the handler again: an identical record is sent.
    const int sent = sim->calls(iocode::kSetMixer).size();
    child<Button>(Mic2Direct)->setValue(true);
    const QList<QJsonObject> records = sim->calls(iocode::kSetMixer);
    QCOMPARE(records.size(), sent + 1);
    QCOMPARE(records.last()["in"], records.at(sent - 1)["in"]);

    child<Button>(Mic1Direct)->setValue(true);
    child<Button>(Mic2Direct)->setValue(false);
    last = mixerRecords().last();
    for (int row : { 64, 65, 68, 69 }) {
        QCOMPARE(last.cell(row, 0), 1.0);
        QCOMPARE(last.cell(row, 1), 0.0);
    }
    QCOMPARE(stored("KX2", "Button/MonitorMic1IsChecked").toBool(), true);
    QCOMPARE(stored("KX2", "Button/MonitorMic2IsChecked").toBool(), false);

    // KX1 monitors its one input into the headphone pair.
    panel.reset();
    sim.reset();
    startSim("KX1");
    panel = makePanel("KX1");
    child<Button>(Kx1Direct)->setValue(true);
    last = mixerRecords().last();
    QCOMPARE(last.cell(64, 0), 1.0);
    QCOMPARE(last.cell(65, 1), 1.0);
    QCOMPARE(last.cell(65, 0), 0.0);
}

void TestPanels::everyControlIsStoredAndFlushedAtOnce()
{
    startSim("KX2");
    panel = makePanel("KX2");
    child<Knob>(Mic2Gain)->setValue(30);
    child<Button>(Mic2Pad)->setValue(true);
    child<Button>(Mic1Phantom)->setValue(true);
    child<Knob>(PhoneToSpeaker)->setValue(-20);
    child<Knob>(Kx2PhoneToHeadphone)->setValue(6);

    QCOMPARE(onDisk("KX2", "Dial/Mic2Value"), QString("30"));
    QCOMPARE(onDisk("KX2", "Button/Mic220dBIsChecked"), QString("true"));
    QCOMPARE(onDisk("KX2", "Button/Mic148VIsChecked"), QString("true"));
    QCOMPARE(onDisk("KX2", "Dial/OtgToSPValue"), QString("-20"));
    QCOMPARE(onDisk("KX2", "Dial/OtgToHpValue"), QString("6"));

    const QJsonObject state = sim->state();
    QCOMPARE(state["micGain"].toObject()["2"].toInt(), 60);
    QCOMPARE(state["pad20db"].toObject()["2"].toBool(), true);
    QCOMPARE(state["phantom48v"].toObject()["1"].toBool(), true);
    const MixerRecord last = mixerRecords().last();
    QCOMPARE(last.cell(64, 2), gainOf(-20));
    QCOMPARE(last.cell(69, 3), 1.9952623149688795);
    QVERIFY(log->contains("Mic 20dB switched for channel 2."));
    QVERIFY(log->contains("Mic 48V switched for channel 1."));
    QVERIFY(log->contains("OTG to SP volume set to: 0.1"));

    // The next start sends what was stored.
    panel.reset();
    sim->clearRecord();
    panel = makePanel("KX2");
    QVERIFY(deviceCalls().contains("mic volume ch 2 = 60"));
    QVERIFY(deviceCalls().contains("20dB pad ch 2 on"));
    QCOMPARE(mixerRecords().last().cell(64, 2), gainOf(-20));
}

void TestPanels::restoringWritesTheFileBackOnlyWhereItDiffers_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QVariantMap>("before");
    QTest::addColumn<QVariantMap>("after");
    QTest::addColumn<int>("keys");
    QTest::addColumn<int>("headphoneIndex");
    QTest::newRow("KX2 first start") << "KX2" << QVariantMap {}
                                     << QVariantMap { { "Dial/Mic1Value", 0 }, { "Dial/SpeakerValue", -80 } } << 16
                                     << int(Kx2Headphone);
    QTest::newRow("KX2 gain clamped") << "KX2" << QVariantMap { { "Dial/Mic1Value", 100 }, { "Dial/HeadphoneValue", -12 } }
                                      << QVariantMap { { "Dial/Mic1Value", 56 }, { "Dial/HeadphoneValue", -12 } } << 16
                                      << int(Kx2Headphone);
    QTest::newRow("KX1 gain clamped") << "KX1" << QVariantMap { { "Dial/MicValue", 100 } }
                                      << QVariantMap { { "Dial/MicValue", 42 }, { "Dial/OtgToHpValue", 0 } } << 9 << 1;
    QTest::newRow("KQ first start") << "KQ" << QVariantMap {}
                                    << QVariantMap { { "Dial/HeadphoneValue", -80 } } << 5 << 1;
}

// Restoring sends the stored state control by control; the file is written
// back once, only when it differs from what the controls now hold, and a
// user change after that is on disk at once.
void TestPanels::restoringWritesTheFileBackOnlyWhereItDiffers()
{
    QFETCH(QString, model);
    QFETCH(QVariantMap, before);
    QFETCH(QVariantMap, after);
    QFETCH(int, keys);
    QFETCH(int, headphoneIndex);

    if (!before.isEmpty())
        store(model, before);
    startSim(model);
    panel = makePanel(model);
    const QStringList firstConnect = sentBytes();
    QCOMPARE(QSettings(iniPath(model), QSettings::IniFormat).allKeys().size(), keys);
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        QCOMPARE(stored(model, it.key()), QVariant(it.value().toString()));
    if (model == "KX2")
        QCOMPARE(log->count(kSaved), 1);

    // Connect again: the file now holds what the controls hold.
    panel.reset();
    const QDateTime longAgo(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    {
        QFile file(iniPath(model));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }
    sim->clearRecord();
    log->clear();
    panel = makePanel(model);
    QCOMPARE(sentBytes(), firstConnect);
    QCOMPARE(QFileInfo(iniPath(model)).lastModified(), longAgo);
    QCOMPARE(log->count(kSaved), 0);

    child<Knob>(headphoneIndex)->setValue(-30);
    QCOMPARE(onDisk(model, "Dial/HeadphoneValue"), QString("-30"));
}

void TestPanels::eachModelReadsOnlyItsOwnFile()
{
    store("KX1", { { "Dial/MicValue", 30 }, { "Dial/HeadphoneValue", 0 } });
    store("KX2", { { "Dial/HeadphoneValue", 0 } });
    const QByteArray kx1File = [] { QFile file(iniPath("KX1")); file.open(QIODevice::ReadOnly); return file.readAll(); }();
    startSim("KQ");
    panel = makePanel("KQ");
    QVERIFY(deviceCalls().contains("mic volume ch 1 = 0"));
    QCOMPARE(mixerRecords().last().outputGain(0), 0.0);
    QCOMPARE(stored("KQ", "Dial/MicValue").toInt(), 0);
    QFile file(iniPath("KX1"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kx1File);
}

void TestPanels::instrumentSwitchShowsWhatTheDeviceAccepted()
{
    store("KX1", { { "Button/MicInstrIsChecked", true } });
    startSim("KX1");
    panel = makePanel("KX1");
    Button* instrument = child<Button>(Kx1Instrument);
    QCOMPARE(instrument->text(), QString("INST"));
    QCOMPARE(sim->state()["instrument"].toObject()["1"].toBool(), true);

    instrument->setValue(false);
    QCOMPARE(instrument->text(), QString("MIC"));
    QVERIFY(log->contains("Mic instruction switched for channel 1."));

    // Refused: the button is on, the text stays, the state is stored anyway.
    QVERIFY(sim->command({ "fail", "io_write_usb_control", "once" }));
    QTest::mouseClick(instrument, Qt::LeftButton);
    QVERIFY(instrument->status);
    QCOMPARE(instrument->text(), QString("MIC"));
    QVERIFY(log->contains("Failed to switch mic instruction."));
    QCOMPARE(stored("KX1", "Button/MicInstrIsChecked").toBool(), true);
}

void TestPanels::refusedCommandsAreLoggedAndTheFileIsStillWritten()
{
    startSim("KX2");
    panel = makePanel("KX2");
    QVERIFY(sim->command({ "fail", "io_set_mixer", "always" }));
    QVERIFY(sim->command({ "fail", "io_write_usb_control", "always" }));

    child<Knob>(Kx2Headphone)->setValue(-12);
    child<Knob>(SpeakerVolume)->setValue(-3);
    child<Button>(Mic1Direct)->setValue(true);
    child<Knob>(PhoneToSpeaker)->setValue(-1);
    child<Knob>(Kx2PhoneToHeadphone)->setValue(-2);
    child<Knob>(Mic1Gain)->setValue(20);
    child<Button>(Mic2Phantom)->setValue(true);
    child<Button>(Mic2Pad)->setValue(true);
    for (const char* line : { "Failed to set headphone volume.", "Failed to set speaker volume.",
                              "Failed to set Monitor Mic.", "Failed to set OTG to SP volume.",
                              "Failed to set OTG to HP volume.", "Failed to set mic volume.",
                              "Failed to switch mic 48V.", "Failed to switch mic 20dB." })
        QVERIFY2(log->contains(line), line);
    QCOMPARE(stored("KX2", "Dial/HeadphoneValue").toInt(), -12);
    QCOMPARE(stored("KX2", "Dial/SpeakerValue").toInt(), -3);
    QCOMPARE(stored("KX2", "Button/MonitorMic1IsChecked").toBool(), true);
    QCOMPARE(stored("KX2", "Dial/OtgToSPValue").toInt(), -1);
    QCOMPARE(stored("KX2", "Dial/Mic1Value").toInt(), 20);
    QCOMPARE(stored("KX2", "Button/Mic248VIsChecked").toBool(), true);

    // The record kept the new values: the next accepted send carries them all.
    QVERIFY(sim->command({ "fail", "io_set_mixer", "off" }));
    child<Button>(SpeakerDim)->setValue(false);
    const MixerRecord last = mixerRecords().last();
    QCOMPARE(last.outputGain(4), gainOf(-12));
    QCOMPARE(last.outputGain(0), gainOf(-3));
    QCOMPARE(last.cell(68, 0), 1.0);
    QCOMPARE(last.cell(69, 3), gainOf(-2));
}

void TestPanels::panelStaysEmptyWhenTheDeviceCannotBeUsed_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("refusedPresets");
    QTest::addColumn<QString>("line");
    QTest::newRow("KX2 no device") << "KX2" << "" << "Failed to create device in kx2.";
    QTest::newRow("KX1 no device") << "KX1" << "" << "Failed to create device in kx1.";
    QTest::newRow("KQ no device") << "KQ" << "" << "Failed to create device in kq.";
    // The sim fails the next N presets: a refusal at every position but the
    // last, whose answer alone was once taken for all of them.
    for (const char* refused : { "1", "2", "3", "always" })
        QTest::addRow("KX2 presets refused: %s", refused) << "KX2" << refused << "Failed to set output volume.";
    for (const char* model : { "KX1", "KQ" }) {
        for (const char* refused : { "1", "always" })
            QTest::addRow("%s presets refused: %s", model, refused) << model << refused << "Failed to set output volume.";
    }
}

void TestPanels::panelStaysEmptyWhenTheDeviceCannotBeUsed()
{
    QFETCH(QString, model);
    QFETCH(QString, refusedPresets);
    QFETCH(QString, line);

    if (!refusedPresets.isEmpty()) {
        startSim(model);
        QVERIFY(sim->command({ "fail", "io_write_usb_control", refusedPresets }));
    }
    panel = makePanel(model);
    QVERIFY(log->contains(line));
    // No controls and no meter timer: the panel stays inert.
    QVERIFY(panel->children().isEmpty());
    QVERIFY(!panel->layout());
    QVERIFY(!QFile::exists(iniPath(model)));
    if (!refusedPresets.isEmpty())
        QCOMPARE(deviceCalls().size(), model == "KX2" ? 4 : 2);
}

void TestPanels::readoutsShowTheMeterLevels_data()
{
    QTest::addColumn<QStringList>("levels");
    QTest::addColumn<QString>("mic1");
    QTest::addColumn<QString>("mic2");
    QTest::addColumn<QString>("phone");
    QTest::newRow("full scale") << QStringList { "2147483647", "-2147483647", "2147483647", "2147483647" }
                                << "0.0 dB" << "0.0 dB" << "0.0 dB";
    QTest::newRow("half and a hundredth") << QStringList { "1073741824", "21474836", "1073741824", "0" }
                                          << "-6.0 dB" << "-40.0 dB" << "-12.0 dB";
    QTest::newRow("one and zero") << QStringList { "1", "0", "0", "0" }
                                  << "-186.6 dB" << "-inf dB" << "-inf dB";
    // The phone input averages the magnitudes of its two samples, truncated toward zero.
    QTest::newRow("opposite-sign phone") << QStringList { "0", "0", "1073741824", "-1073741824" }
                                         << "-inf dB" << "-inf dB" << "-6.0 dB";
    QTest::newRow("phone mean truncated") << QStringList { "1000", "-1000", "3", "-2" }
                                          << "-126.6 dB" << "-126.6 dB" << "-180.6 dB";
    QTest::newRow("lowest samples") << QStringList { "-2147483648", "-1", "-2147483648", "-2147483648" }
                                    << "0.0 dB" << "-186.6 dB" << "0.0 dB";
}

void TestPanels::readoutsShowTheMeterLevels()
{
    QFETCH(QStringList, levels);
    QFETCH(QString, mic1);
    QFETCH(QString, mic2);
    QFETCH(QString, phone);

    startSim("KX2");
    QVERIFY(sim->command(QStringList { "meter" } + levels));
    panel = makePanel("KX2");
    panel->show();
    const QList<QLabel*> readouts = readoutsOf(panel.get());
    QCOMPARE(readouts.size(), 4);
    for (QLabel* readout : readouts)
        QCOMPARE(readout->text(), QString("-160 dB"));

    // Creation order: mic 1, mic 2, the speaker's phone row, the headphone's.
    QTRY_COMPARE_WITH_TIMEOUT(readouts[0]->text(), mic1, 3000);
    QCOMPARE(readouts[1]->text(), mic2);
    QCOMPARE(readouts[2]->text(), phone);
    QCOMPARE(readouts[3]->text(), phone);
}

void TestPanels::failedMeterReadKeepsTheReadouts()
{
    startSim("KX1");
    QVERIFY(sim->command({ "meter", "1073741824", "0", "2147483647", "2147483647" }));
    panel = makePanel("KX1");
    panel->show();
    auto* micReadout = panel->findChildren<QLabel*>().at(1);
    QCOMPARE(micReadout->styleSheet(), kReadoutStyle);
    QTRY_COMPARE_WITH_TIMEOUT(micReadout->text(), QString("-6.0 dB"), 3000);

    QVERIFY(sim->command({ "meter", "1", "0", "1", "1" }));
    QVERIFY(sim->command({ "fail", "io_get_meter_data", "2" }));
    QTRY_COMPARE_WITH_TIMEOUT(log->count("Failed to read meter data from driver."), 2, 3000);
    QCOMPARE(micReadout->text(), QString("-6.0 dB"));
    QTRY_COMPARE_WITH_TIMEOUT(micReadout->text(), QString("-186.6 dB"), 3000);
}

void TestPanels::hiddenReadoutsCatchUpWhenShown_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("loud");
    QTest::addColumn<QStringList>("quiet");
    QTest::newRow("KX2") << "KX2" << QStringList { "-6.0 dB", "-40.0 dB", "0.0 dB", "0.0 dB" }
                         << QStringList { "-186.6 dB", "-186.6 dB", "-186.6 dB", "-186.6 dB" };
    QTest::newRow("KX1") << "KX1" << QStringList { "-6.0 dB", "0.0 dB" } << QStringList { "-186.6 dB", "-186.6 dB" };
    QTest::newRow("KQ") << "KQ" << QStringList { "-6.0 dB" } << QStringList { "-186.6 dB" };
}

// The meters are read every 500 ms whatever the window does; the readouts
// are brought up to date when the window is shown.
void TestPanels::hiddenReadoutsCatchUpWhenShown()
{
    QFETCH(QString, model);
    QFETCH(QStringList, loud);
    QFETCH(QStringList, quiet);

    startSim(model);
    QVERIFY(sim->command({ "meter", "1073741824", "21474836", "2147483647", "2147483647" }));
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    QWidget* hidden = makePanel(model).release();
    layout->addWidget(hidden);
    const QList<QLabel*> readouts = readoutsOf(hidden);
    QCOMPARE(readouts.size(), loud.size());

    QTRY_VERIFY_WITH_TIMEOUT(!sim->calls(iocode::kGetMeterData).isEmpty(), 3000);
    QCOMPARE(textsOf(readouts), QStringList(loud.size(), "-160 dB"));
    window.show();
    QCOMPARE(textsOf(readouts), loud);

    window.hide();
    QVERIFY(sim->command({ "meter", "1", "1", "1", "1" }));
    const qsizetype polls = sim->calls(iocode::kGetMeterData).size();
    QTRY_VERIFY_WITH_TIMEOUT(sim->calls(iocode::kGetMeterData).size() > polls, 3000);
    QCOMPARE(textsOf(readouts), loud);
    window.show();
    QCOMPARE(textsOf(readouts), quiet);
}

// A new level repaints its readout alone: the panel is not laid out again,
// and the readout fits the longest level text.
void TestPanels::newLevelsDoNotLayThePanelOutAgain()
{
    startSim("KX2");
    QVERIFY(sim->command({ "meter", "2147483647", "2147483647", "2147483647", "2147483647" }));
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* shown = new kx2;
    layout->addWidget(shown);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    shown->readMeterDataFromDriver();
    QCoreApplication::sendPostedEvents();

    const LayoutRequests layoutRequests(shown);
    QVERIFY(sim->command({ "meter", "1", "1", "1", "1" }));
    shown->readMeterDataFromDriver();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(layoutRequests.count, 0);
    for (const QLabel* readout : readoutsOf(shown)) {
        QCOMPARE(readout->text(), QString("-186.6 dB"));
        QVERIFY(readout->fontMetrics().horizontalAdvance(readout->text()) <= readout->contentsRect().width());
    }
}

void TestPanels::widgetTreePerModel_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("tree");
    const QString output = "V(20,10,10,10)[title:%1 H[knob(-80..6)] caption:Volume H[MUTE DIM] %2~]";
    const QString phoneRow = "H[knob(-80..6) V[readout phone:%1]] ";
    const QString input = "V(10,10,20,10)[title:%1 knob(0..%2) readout caption:Gain V[%3]%4]";
    QTest::newRow("KX2") << "KX2"
                         << "H[" + input.arg("MIC1", "56", "20dB 48V DIRECT", " ~") + " "
                                + input.arg("MIC2", "56", "20dB 48V DIRECT", " ~") + " | "
                                + output.arg("SPEAKER", phoneRow.arg("Phone To SP Volume")) + " "
                                + output.arg("HEADPHONE", phoneRow.arg("Phone To HP Volume")) + "]";
    QTest::newRow("KX1") << "KX1"
                         << "H[" + input.arg("MIC", "42", "MIC 20dB 48V DIRECT", "") + " | "
                                + output.arg("HEADPHONE", phoneRow.arg("Phone To HP Volume")) + "]";
    QTest::newRow("KQ") << "KQ"
                        << "H[" + input.arg("MIC", "42", "DIRECT", "") + " | " + output.arg("HEADPHONE", "") + "]";
}

void TestPanels::widgetTreePerModel()
{
    QFETCH(QString, model);
    QFETCH(QString, tree);
    startSim(model);
    panel = makePanel(model);
    QCOMPARE(describeLayout(panel->layout()), tree);

    // Every widget in the tree belongs to the panel itself, and every child is in the tree.
    const QList<QWidget*> children = panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(QSet<QWidget*>(children.cbegin(), children.cend()), widgetsIn(panel->layout()));
    const Knob* gain = child<Knob>(0);
    QCOMPARE(gain->displayOffset, model == "KX2" ? 9 : 0);
    QCOMPARE(gain->value, 0);
}

void TestPanels::recipesGiveTheirLooks()
{
    startSim("KX1");
    panel = makePanel("KX1");
    auto* root = qobject_cast<QHBoxLayout*>(panel->layout());
    QVERIFY(root);
    QCOMPARE(root->alignment(), Qt::AlignCenter);
    QCOMPARE(root->contentsMargins(), QMargins(0, 0, 0, 0));
    QLayout* output = root->itemAt(2)->layout();
    QCOMPARE(output->alignment(), Qt::AlignCenter);
    QCOMPARE(output->itemAt(3)->layout()->alignment(), Qt::AlignCenter);
    auto* phoneRow = qobject_cast<QHBoxLayout*>(output->itemAt(4)->layout());
    QCOMPARE(phoneRow->spacing(), 8);
    QCOMPARE(phoneRow->alignment(), Qt::AlignCenter);
    QCOMPARE(phoneRow->itemAt(1)->layout()->alignment(), Qt::AlignCenter);
    QCOMPARE(root->itemAt(0)->layout()->itemAt(4)->layout()->alignment(), Qt::AlignCenter);

    for (QLabel* label : panel->findChildren<QLabel*>())
        QCOMPARE(label->alignment(), Qt::AlignCenter);
    auto* separator = qobject_cast<QFrame*>(root->itemAt(1)->widget());
    QCOMPARE(separator->frameShape(), QFrame::VLine);
    QCOMPARE(separator->frameShadow(), QFrame::Sunken);
    QCOMPARE(separator->width(), 1);
    QCOMPARE(separator->styleSheet(), QString("background-color: #555555;"));

    const QList<Knob*> knobs = panel->findChildren<Knob*>();
    QCOMPARE(knobs[0]->arcColor, QColor("#f1fa8c"));
    QCOMPARE(knobs[1]->arcColor, QColor("#00ffff"));
    for (const Knob* knob : knobs) {
        QCOMPARE(knob->textColor, QColor("#00ff7f"));
        QCOMPARE(knob->shadowColor, QColor("#00ff7f"));
    }
    QCOMPARE(knobs[0]->size(), QSize(120, 120));
    QCOMPARE(knobs[1]->size(), QSize(120, 120));
    QCOMPARE(knobs[2]->size(), QSize(70, 70));
    QCOMPARE(knobs[2]->arcWidth, 3);
    QCOMPARE(knobs[2]->fontSize, 10);

    const QStringList colours = { "#00ff7f", "#ff7f00", "#ff1111", "#00FFFF", "#00FFFF", "#00FFFF" };
    const QList<Button*> buttons = panel->findChildren<Button*>();
    QCOMPARE(buttons.size(), colours.size());
    for (int i = 0; i < buttons.size(); ++i) {
        QCOMPARE(buttons[i]->checkedTextColor, colours[i]);
        QCOMPARE(buttons[i]->glowColor, colours[i]);
        QCOMPARE(buttons[i]->uncheckedTextColor, QString("#8a95aa"));
        QCOMPARE(buttons[i]->checkedBackgroundColor, QString("#1b1e23"));
        QCOMPARE(buttons[i]->uncheckedBackgroundColor, QString("#1b1e23"));
        QCOMPARE(buttons[i]->minimumWidth(), 80);
        QCOMPARE(buttons[i]->maximumWidth(), 80);
        QCOMPARE(buttons[i]->minimumHeight(), i >= Kx1Mute ? 40 : 0);
        QVERIFY(buttons[i]->styleSheet().contains("#8a95aa"));
    }
}

void TestPanels::assistiveToolsReadAndDriveThePanels()
{
    // Knobs and buttons in creation order by their accessible names, readouts by their descriptions.
    const QMap<QString, QList<QStringList>> names = {
        { "KX2",
          { { "Mic 1 gain", "Mic 2 gain", "Speaker volume", "Phone to speaker level", "Headphone volume",
              "Phone to headphone level" },
            { "Mic 1 20 dB pad", "Mic 1 48V", "Mic 1 direct monitoring", "Mic 2 20 dB pad", "Mic 2 48V",
              "Mic 2 direct monitoring", "Speaker mute", "Speaker dim", "Headphone mute", "Headphone dim" },
            { "Mic 1 level", "Mic 2 level", "Phone input level", "Phone input level" } } },
        { "KX1",
          { { "Mic gain", "Headphone volume", "Phone to headphone level" },
            { "Mic instrument input", "Mic 20 dB pad", "Mic 48V", "Mic direct monitoring", "Headphone mute",
              "Headphone dim" },
            { "Mic level", "Phone input level" } } },
        { "KQ",
          { { "Mic gain", "Headphone volume" },
            { "Mic direct monitoring", "Headphone mute", "Headphone dim" },
            { "Mic level" } } },
    };
    const auto accessibleTexts = [](const auto& widgets, QAccessible::Text what) {
        QStringList found;
        for (QWidget* widget : widgets)
            found << QAccessible::queryAccessibleInterface(widget)->text(what);
        return found;
    };
    for (auto model = names.cbegin(); model != names.cend(); ++model) {
        startSim(model.key());
        panel = makePanel(model.key());
        QList<QLabel*> readouts;
        for (QLabel* label : panel->findChildren<QLabel*>())
            if (label->styleSheet() == kReadoutStyle)
                readouts << label;
        QCOMPARE(accessibleTexts(panel->findChildren<Knob*>(), QAccessible::Name), model.value().at(0));
        QCOMPARE(accessibleTexts(panel->findChildren<Button*>(), QAccessible::Name), model.value().at(1));
        // A readout says what it measures and reads out its level.
        QCOMPARE(accessibleTexts(readouts, QAccessible::Description), model.value().at(2));
        QCOMPARE(accessibleTexts(readouts, QAccessible::Name), QStringList(readouts.size(), "-160 dB"));
        panel.reset();
        sim.reset();
    }

    // A screen reader's user finds a control by its name and sets it: the
    // device and the file get it as from the hand.
    startSim("KX2");
    panel = makePanel("KX2");
    const auto named = [this](const QString& name) {
        for (QWidget* widget : panel->findChildren<QWidget*>()) {
            QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
            if (control->text(QAccessible::Name) == name)
                return control;
        }
        return static_cast<QAccessibleInterface*>(nullptr);
    };
    const auto setTo = [&](const QString& name, int value) {
        QAccessibleInterface* knob = named(name);
        QVERIFY2(knob && knob->valueInterface(), qPrintable(name));
        knob->valueInterface()->setCurrentValue(value);
    };
    const auto toggle = [&](const QString& name) {
        QAccessibleInterface* button = named(name);
        QVERIFY2(button && button->actionInterface(), qPrintable(name));
        button->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };

    setTo("Headphone volume", -12);
    setTo("Speaker volume", -3);
    setTo("Phone to speaker level", -20);
    setTo("Mic 2 gain", 30);
    MixerRecord last = mixerRecords().last();
    QCOMPARE(last.outputGain(4), gainOf(-12));
    QCOMPARE(last.outputGain(5), gainOf(-12));
    QCOMPARE(last.outputGain(0), gainOf(-3));
    QCOMPARE(last.cell(64, 2), gainOf(-20));
    QCOMPARE(sim->state()["micGain"].toObject()["2"].toInt(), 60);
    QCOMPARE(named("Mic 2 gain")->text(QAccessible::Value), QString("39 dB"));
    QCOMPARE(stored("KX2", "Dial/HeadphoneValue").toInt(), -12);
    QCOMPARE(stored("KX2", "Dial/Mic2Value").toInt(), 30);

    toggle("Mic 1 48V");
    toggle("Headphone mute");
    QCOMPARE(sim->state()["phantom48v"].toObject()["1"].toBool(), true);
    QCOMPARE(mixerRecords().last().outputGain(4), 0.0);
    QVERIFY(named("Headphone mute")->state().checked);
    QCOMPARE(named("Mic 1 48V")->text(QAccessible::Value), QString("on"));
    QCOMPARE(stored("KX2", "Button/Mic148VIsChecked").toBool(), true);
    QCOMPARE(stored("KX2", "Button/HeadphoneMuteIsChecked").toBool(), true);
}

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
