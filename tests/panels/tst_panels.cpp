// The three model panels against the simulated interface: what reaches the
// device on a first start, on a restore and on every control change, what
// the ini files hold, and the level readouts.

#include "controls/Button.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"
#include "sim/IoCodes.h"
#include "sim/MixerRecord.h"
#include "sim/ReceivedUsbPacket.h"
#include "tests/support/DeviceFixture.h"
#include "settings/SaveFailureNotice.h"

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
#include <functional>
#include <memory>

namespace {

using L = QStringList;
using S = QString;
using QTest::addColumn;
using QTest::newRow;

const S kSaved = "控件状态已保存到配置文件";
const S kMeterFailed = "Failed to read meter data from driver.";
const L kModels = { "KX2", "KX1", "KQ" };

// The model is the row tag's first word.
S rowModel()
{
    return S(QTest::currentDataTag()).section(' ', 0, 0);
}

// Expected entries of TestPanels::view, ';'-separated: "g<k>" is output
// gain k, "c<row>,<column>" a mixer cell; a value "@x" is the gain of x dB.
L e(const S& entries)
{
    L out = entries.split(';', Qt::SkipEmptyParts);
    for (S& entry : out) {
        if (entry.contains("=@"))
            entry = entry.section('=', 0, 0) + "=" + S::number(std::pow(10.0, entry.section('@', 1).toDouble() / 20), 'g', 12);
    }
    return out;
}

// A DIRECT switch of the KX2: the channel's column into both outputs' rows.
S direct(int column, int gain)
{
    return S("c64,%1=%2;c65,%1=%2;c68,%1=%2;c69,%1=%2;").arg(column).arg(gain);
}

// The unity routing every model starts from, plus the model's own cells.
L unity(const S& own)
{
    S cells = "c0,0=0;" + own;
    for (int i = 0; i < 8; ++i)
        cells += S(";c%1,%2=1;c%3,%2=1").arg(4 + i).arg(i).arg(160 + i);
    for (const char* cell : { "96,0", "97,1", "128,0", "129,1", "130,0", "131,1" })
        cells += S(";c%1=1").arg(cell);
    return e(cells);
}

// An ini key as written in the rows, "D/Mic1" for "Dial/Mic1Value" or
// "B/Mic148V" for "Button/Mic148VIsChecked", in full.
S iniKey(const S& key)
{
    return key.startsWith('D') ? "Dial" + key.mid(1) + "Value" : "Button" + key.mid(1) + "IsChecked";
}

S iniOf(const S& model)
{
    return model.toLower() + ".ini";
}

std::unique_ptr<QWidget> makePanel(const S& model)
{
    if (model == "KX1")
        return std::make_unique<kx1>();
    if (model == "KQ")
        return std::make_unique<kq>();
    return std::make_unique<kx2>();
}

QAccessibleInterface* named(const QWidget* panel, const S& name)
{
    for (QWidget* widget : panel->findChildren<QWidget*>()) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible->text(QAccessible::Name) == name)
            return accessible;
    }

    qWarning("no control named %s", qPrintable(name));
    return nullptr;
}

// The level readouts in creation order, as "description=text".
L readouts(const QWidget* panel)
{
    L texts;
    for (QLabel* label : panel->findChildren<QLabel*>()) {
        if (!label->accessibleDescription().isEmpty())
            texts << label->accessibleDescription() + "=" + label->text();
    }

    return texts;
}

} // namespace

class TestPanels : public QObject
{
    Q_OBJECT

private slots:
    // Each test starts without panel, device or ini files.
    void init()
    {
        panel.reset();
        if (!device)
            device = std::make_unique<DeviceFixture>();
        device->stopSim();
        for (const S& each : kModels)
            DeviceFixture::removeIni(iniOf(each));
        log().clear();
    }

    void restore_data()
    {
        addColumn<L>("stored");
        addColumn<L>("expected");
        // All the calls, when given.
        addColumn<L>("calls");
        addColumn<int>("flushLines");
        const auto add = [](const char* tag, const S& stored, const L& expected, int flushLines, const S& calls = {}) {
            newRow(tag) << e(stored) << expected << e(calls) << flushLines;
        };
        const S presets = "output volume ch 1 = 100;output volume ch 2 = 100;";

        // A first start: the defaults go out, buttons off, volumes silent from
        // the first record on, gains and phone levels at 0, and the file holds
        // them at once.
        add("KX2 first start", {},
            e("D/Speaker=-80;D/Headphone=-80;B/HeadphoneDim=false;D/OtgToSP=0;reads/Mic 2 gain=9 dB;g0=0;g2=1;g3=1;g5=0")
                + unity("c100,0=1;c101,1=1;c132,0=1;c133,1=1;c64,2=1;c65,3=1;c68,2=1;c69,3=1"),
            1,
            presets + "output volume ch 5 = 100;output volume ch 6 = 100;20dB pad ch 1 off;48V ch 1 off;mixer;mic volume ch 1 = 0;"
                      "mic volume ch 2 = 0;20dB pad ch 2 off;48V ch 2 off" + S(";mixer").repeated(9));
        add("KX1 first start", {}, e("D/Headphone=-80;B/MicInstr=false;D/OtgToHp=0;g2=1") + unity("c64,2=1;c65,3=1"), 0,
            presets + "instrument ch 1 off;20dB pad ch 1 off;48V ch 1 off;mixer;mic volume ch 1 = 0" + S(";mixer").repeated(4));
        add("KQ first start", {}, e("D/Headphone=-80;D/Mic=0;g2=1") + unity("c64,2=1;c65,3=1"), 0,
            presets + "mixer;mic volume ch 1 = 0;mixer;mixer;mixer");

        // A stored state: no two channels or outputs share a value, and a value
        // the control clamps, or cannot read, is written back.
        add("KX2 stored",
            "B/Mic120dB=true;B/Mic148V=false;B/MonitorMic1=true;D/Mic1=100;D/Mic2=17;B/Mic220dB=false;B/Mic248V=true;"
            "B/MonitorMic2=false;D/Speaker=-10;B/SpeakerMute=true;B/SpeakerDim=false;D/Headphone=-4;B/HeadphoneMute=false;"
            "B/HeadphoneDim=true;D/OtgToHp=loud;D/OtgToSP=-30",
            e("D/Mic1=56;D/OtgToHp=0;D/Speaker=-10;D/Mic2=17;pad20db/1=true;pad20db/2=false;phantom48v/1=false;phantom48v/2=true;"
              "micGain/1=112;micGain/2=34;reads/Mic 1 gain=65 dB;g0=0;g1=0;g4=@-24;g5=@-24;c64,2=@-30;c65,3=@-30;"
              "c68,2=1;c69,3=1;" + direct(0, 1) + direct(1, 0)),
            1);
        add("KX1 stored",
            "B/MicInstr=true;B/Mic20dB=false;B/Mic48V=true;B/MonitorMic=true;D/Mic=50;D/Headphone=-8;"
            "B/HeadphoneMute=true;B/HeadphoneDim=false;D/OtgToHp=-12",
            e("D/Mic=42;D/Headphone=-8;instrument/1=true;text/Mic instrument input=INST;pad20db/1=false;phantom48v/1=true;micGain/1=84;"
              "c64,0=1;c65,1=1;c64,2=@-12;c65,3=@-12;g0=0;g1=0"),
            0);
        add("KQ stored", "B/MonitorMic=false;D/Mic=13;D/Headphone=-3;B/HeadphoneMute=false;B/HeadphoneDim=true",
            e("D/Mic=13;micGain/1=26;c64,0=0;c65,1=0;c64,2=1;c65,3=1;g0=@-23;g1=@-23"), 0);
        // What is no finite number loads as the key's default, never as unity,
        // and is written back; a fraction is rounded.
        add("KX2 stored, unreadable", "D/Speaker=loud;D/Headphone=nan;D/Mic2=inf;D/OtgToSP=-30.4",
            e("D/Speaker=-80;D/Headphone=-80;D/Mic2=0;D/OtgToSP=-30;g0=0;g5=0;c64,2=@-30"), 1);
        // The other way round: each output's MUTE and DIM come before its volume.
        add("KX2 stored, speaker dimmed", "D/Speaker=-2;B/SpeakerDim=true;D/Headphone=-5;B/HeadphoneMute=true",
            e("g0=@-22;g4=0"), 1);
        add("KX1 stored, dimmed", "D/Headphone=-2;B/HeadphoneDim=true", e("g0=@-22"), 0);
        add("KQ stored, muted", "D/Headphone=-2;B/HeadphoneMute=true", e("g0=0"), 0);
    }

    void restore()
    {
        QFETCH(L, stored);
        QFETCH(L, expected);
        QFETCH(L, calls);
        QFETCH(int, flushLines);
        const S ini = iniOf(rowModel());

        // Another model's file is never read.
        for (const S& other : kModels)
            store(iniOf(other), { "D/Mic=30", "D/Mic1=30", "D/Headphone=6" });
        DeviceFixture::removeIni(ini);
        store(ini, stored);
        QVERIFY(start(rowModel()));
        QCOMPARE(view(expected), expected);
        QCOMPARE(log().count(kSaved), flushLines);
        if (!calls.isEmpty())
            QCOMPARE(sent(), calls);
        // No record on the way drives a volume output louder than the state restored.
        const QList<MixerRecord> all = records();
        for (int k : { 0, 1, 4, 5 }) {
            for (const MixerRecord& record : all)
                QVERIFY((k > 1 && model != "KX2") || record.outputGain(k) <= all.last().outputGain(k));
        }
        // Meters are read twice a second for the panel's whole life.
        const QList<QTimer*> timers = panel->findChildren<QTimer*>();
        QVERIFY(std::any_of(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive() && t->interval() == 500; }));

        // Connected again, the same state goes out, and the file, which now holds
        // what the controls hold, is left alone.
        const L first = sent(true);
        panel.reset();
        const QDateTime longAgo(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        QFile file(DeviceFixture::iniPath(ini));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.setFileTime(longAgo, QFileDevice::FileModificationTime));
        file.close();
        sim().clearRecord();
        log().clear();
        panel = makePanel(model);
        QCOMPARE(sent(true), first);
        QCOMPARE(QFileInfo(file).lastModified(), longAgo);
        QCOMPARE(log().count(kSaved), 0);
    }

    void controls_data()
    {
        // Driver codes the sim refuses meanwhile.
        addColumn<L>("refused");
        // "<control>=<value>" sets a knob, "<control>" switches a button.
        addColumn<S>("steps");
        addColumn<L>("expected");
        // Lines logged; "!<text>": nothing starting so is.
        addColumn<L>("logged");

        const auto add = [](const char* tag, const S& steps, const S& expected, const S& logged = {}, const S& refused = {}) {
            newRow(tag) << refused.split(' ', Qt::SkipEmptyParts) << steps << e(expected) << e(logged);
        };
        add("KX2 mics", "Mic 1 gain=20;Mic 1 20 dB pad;Mic 2 48V;Mic 1 direct monitoring",
            "micGain/1=40;micGain/2=0;D/Mic1=20;reads/Mic 1 gain=29 dB;pad20db/1=true;pad20db/2=false;B/Mic120dB=true;reads/Mic 1 20 dB pad=on;"
            "phantom48v/2=true;phantom48v/1=false;B/Mic248V=true;B/MonitorMic1=true;" + direct(0, 1) + direct(1, 0),
            "Mic volume set to: 20;Mic 20dB switched for channel 1.;Mic 48V switched for channel 2.;Monitor Mic set to: 1");
        add("KX2 phones", "Phone to speaker level=-20;Phone to headphone level=20",
            "c64,2=0.1;c65,3=0.1;c68,2=@6;c69,3=@6;D/OtgToSP=-20;D/OtgToHp=6", "OTG to SP volume set to: 0.1");
        add("KX1 mic", "Mic gain=50;Mic instrument input;Mic 20 dB pad;Mic 48V;Mic direct monitoring;Phone to headphone level=-100",
            "micGain/1=84;D/Mic=42;reads/Mic gain=42 dB;instrument/1=true;text/Mic instrument input=INST;B/MicInstr=true;pad20db/1=true;"
            "phantom48v/1=true;B/Mic20dB=true;B/Mic48V=true;c64,0=1;c65,1=1;c65,0=0;c64,1=0;B/MonitorMic=true;"
            "c64,2=0;c65,3=0;D/OtgToHp=-80",
            "Mic instruction switched for channel 1.");
        add("KX1 instrument off", "Mic instrument input;Mic instrument input", "instrument/1=false;text/Mic instrument input=MIC;B/MicInstr=false");

        // Volumes: MUTE silences whatever DIM says, DIM lowers by 20 dB, and the
        // knob keeps its own value.
        add("KX2 volumes", "Speaker volume=-6;Headphone volume=-5",
            "g0=@-6;g1=@-6;g4=@-5;g5=@-5;D/Speaker=-6;D/Headphone=-5", "Speaker volume set to: -6;Headphone volume set to: -5");
        add("KX2 muted and dimmed", "Speaker volume=3;Speaker mute;Speaker dim;Headphone volume=2;Headphone mute;Headphone dim",
            "g1=0;g5=0;B/SpeakerMute=true;B/SpeakerDim=true;B/HeadphoneDim=true;reads/Speaker volume=3 dB",
            "Speaker Mute Button Clicked: Mute ON;Speaker Knob value changed: -80;!Headphone Knob value changed: -80");
        add("KX2 unmuted, dimmed", "Speaker volume=3;Speaker mute;Speaker dim;Speaker mute;Headphone volume=2;Headphone mute;Headphone dim;Headphone mute",
            "g0=@-17;g4=@-18;B/SpeakerMute=false;B/HeadphoneMute=false");
        add("KX2 undimmed, at most +6", "Speaker volume=9;Speaker dim;Speaker dim", "g1=@6;D/Speaker=6;B/SpeakerDim=false");
        add("KX1 headphone", "Headphone volume=-6", "g0=@-6;g1=@-6;D/Headphone=-6", "Headphone volume set to: 0.501187");
        add("KX1 muted and dimmed", "Headphone volume=3;Headphone mute;Headphone dim",
            "g1=0;B/HeadphoneDim=true;reads/Headphone volume=3 dB", "Headphone Mute Button Clicked: Mute ON");
        add("KX1 unmuted, dimmed", "Headphone volume=3;Headphone mute;Headphone dim;Headphone mute", "g0=@-17;B/HeadphoneMute=false",
            "Headphone Dim Button Clicked: Dim ON");
        // The KQ shares the KX1's volume handling, but logs only failures.
        add("KQ headphone", "Headphone volume=-6", "g0=@-6;g1=@-6;D/Headphone=-6", "!Headphone volume set to:");

        // Refused by the device: the failure is logged, the state is stored and
        // kept, and the next record accepted carries it.
        const S both = "io_set_mixer io_write_usb_control";
        add("KX2 refused", "Headphone volume=-12;Speaker volume=-3;Mic 1 direct monitoring;Phone to speaker level=-1;Mic 1 gain=20;Mic 2 48V",
            "g4=@-12;D/Headphone=-12;g1=@-3;D/Speaker=-3;c68,0=1;B/MonitorMic1=true;c64,2=@-1;D/OtgToSP=-1;"
            "micGain/1=0;D/Mic1=20;phantom48v/2=false;B/Mic248V=true;reads/Mic 2 48V=on",
            "Failed to set headphone volume.;Failed to set speaker volume.;Failed to set Monitor Mic.;Failed to set OTG to SP volume.;"
            "Failed to set mic volume.;Failed to switch mic 48V.",
            both);
        // ">handler a b": the handler called directly takes the control's path;
        // a switch's file entry is the switch's own state.
        add("KX2 handlers", ">mic 2 5;>48V 1 1;>20dB 2 1;>spk -10;Headphone volume=-5;>hpMute 1",
            "micGain/2=10;phantom48v/1=true;pad20db/2=true;g0=@-10;g1=@-10;D/Speaker=-80;g4=0;g5=0;D/Headphone=-5;B/HeadphoneMute=false");
        add("KX1 handlers", ">inst 1 1;Headphone volume=-5;>hpDim 1", "instrument/1=true;g0=@-25");
        add("KQ handlers", ">spkMute 1;>hp -6", "g0=@-6;g1=@-6");
        add("KX1 refused", "Mic instrument input;Headphone volume=-7",
            "instrument/1=false;text/Mic instrument input=MIC;B/MicInstr=true;g0=@-7;D/Headphone=-7",
            "Failed to switch mic instruction.;Failed to set headphone volume.", both);
    }

    // Each control driven as an assistive tool's user drives it, by its name:
    // the device gets it at once, and the file on disk too.
    void controls()
    {
        QFETCH(L, refused);
        QFETCH(S, steps);
        QFETCH(L, expected);
        QFETCH(L, logged);

        QVERIFY(start(rowModel()));
        log().clear();
        for (const S& code : refused)
            QVERIFY(cmd("fail " + code + " always"));
        for (const S& step : steps.split(';'))
            set(step);
        const L inFile = expected.filter(QRegularExpression("^[BD]/"));
        QTRY_COMPARE_WITH_TIMEOUT(view(inFile), inFile, 500);
        if (refused.isEmpty()) {
            QCOMPARE(log().lines().filter("Failed"), L());
        } else {
            QVERIFY(cmd("fail all off"));
            set(model == "KX2" ? "Mic 2 direct monitoring" : "Mic direct monitoring");
        }
        QCOMPARE(view(expected), expected);
        for (const S& line : logged) {
            if (line.startsWith('!'))
                QCOMPARE(log().lines().filter(QRegularExpression("^" + line.mid(1))), L());
            else
                QVERIFY2(log().contains(line), qPrintable(line));
        }
        // What a write still to come holds, too: a state the file had before passes above.
        panel.reset();
        QCOMPARE(view(inFile), inFile);
    }

    void apply_data()
    {
        addColumn<L>("stored");
        addColumn<S>("values");
        // A sim command that makes it refuse calls meanwhile.
        addColumn<S>("fail");
        addColumn<L>("refused");
        addColumn<L>("expected");
        const auto add = [](const char* tag, const S& stored, const S& values, const S& expected, const S& refused = {}, const S& fail = {}) {
            newRow(tag) << e(stored) << values << fail << e(refused) << e(expected);
        };
        // A mic gain as the knob shows it: the KX2's top of 65 is step 56.
        add("KX2 every kind", "",
            "mic1.gain=65;mic1.pad=1;mic2.48v=1;mic2.direct=1;speaker.volume=-6;speaker.dim=1;headphone.volume=-3;"
            "headphone.mute=1;speaker.phone=-20;headphone.phone=6",
            "micGain/1=112;D/Mic1=56;pad20db/1=true;B/Mic120dB=true;phantom48v/2=true;B/Mic248V=true;B/MonitorMic2=true;"
            + direct(1, 1) + "g0=@-26;B/SpeakerDim=true;D/Speaker=-6;g4=0;D/Headphone=-3;B/HeadphoneMute=true;c64,2=0.1;D/OtgToSP=-20;c68,2=@6");
        add("KX1 every kind", "", "mic1.inst=1;mic1.gain=30;headphone.dim=1;headphone.volume=0;headphone.phone=-6",
            "instrument/1=true;text/Mic instrument input=INST;micGain/1=60;g0=@-20;B/HeadphoneDim=true;c64,2=@-6;D/OtgToHp=-6");
        add("KQ every kind", "D/Headphone=-9;B/HeadphoneMute=true", "mic1.direct=1;headphone.mute=0;mic1.gain=3",
            "c64,0=1;c65,1=1;g0=@-9;B/HeadphoneMute=false;micGain/1=6");
        // Never louder on the way than before or after.
        add("KX2 unmuted lower", "D/Speaker=-20;B/SpeakerMute=true", "speaker.volume=-40;speaker.mute=0", "g0=@-40");
        add("KX2 muted higher", "D/Speaker=-5", "speaker.volume=0;speaker.mute=1", "g0=0;D/Speaker=0");
        add("KX2 dimmed higher", "D/Headphone=-10", "headphone.volume=0;headphone.dim=1", "g4=@-20");
        // What the device refused is kept nowhere, nor carried by the next record.
        add("KX2 refused switch", "", "mic1.48v=1;mic2.gain=20;headphone.volume=-5",
            "phantom48v/1=false;B/Mic148V=false;micGain/2=0;D/Mic2=0;g4=@-5;D/Headphone=-5", "mic1.48v;mic2.gain",
            "fail io_write_usb_control always");
        add("KX2 refused mixer", "", "mic1.direct=1;speaker.volume=-6",
            "c64,0=0;B/MonitorMic1=false;g0=@-6;D/Speaker=-6", "mic1.direct", "fail io_set_mixer once");
        add("KQ refused mute", "D/Headphone=-9", "headphone.mute=1;mic1.gain=3",
            "g0=@-9;B/HeadphoneMute=false;micGain/1=6", "headphone.mute", "fail io_set_mixer once");
    }

    // Controls set by name take a hand's path: the device gets each change,
    // the file too, and the panel tells of it.
    void apply()
    {
        QFETCH(L, stored);
        QFETCH(S, values);
        QFETCH(S, fail);
        QFETCH(L, refused);
        QFETCH(L, expected);

        DeviceFixture::removeIni(iniOf(rowModel()));
        store(iniOf(rowModel()), stored);
        QVERIFY(start(rowModel()));
        auto* p = static_cast<ModelPanel*>(panel.get());
        QCOMPARE(p->modelName(), model);
        const MixerRecord before = records().last();
        sim().clearRecord();
        QVERIFY(fail.isEmpty() || cmd(fail));
        QMap<S, int> wanted;
        for (const S& entry : values.split(';'))
            wanted[entry.section('=', 0, 0)] = entry.section('=', 1).toInt();
        QMap<S, int> after = p->controlValues();
        for (const ControlInfo& info : p->controlInfo()) {
            if (wanted.contains(info.name))
                QVERIFY(info.minimum <= wanted[info.name] && wanted[info.name] <= info.maximum);
        }
        QSignalSpy told(p, &ModelPanel::controlValueChanged);
        QCOMPARE(p->applyControls(wanted), refused);
        L changed;
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
            if (refused.contains(it.key()))
                continue;
            after[it.key()] = it.value();
            changed << it.key() + "=" + S::number(it.value());
        }
        QCOMPARE(p->controlValues(), after);
        L heard;
        for (const QList<QVariant>& signal : told)
            heard << signal[0].toString() + "=" + signal[1].toString();
        heard.sort();
        QCOMPARE(heard, changed);
        const QList<MixerRecord> all = records();
        for (int k : { 0, 1, 4, 5 }) {
            for (const MixerRecord& record : all)
                QVERIFY(record.outputGain(k) <= std::max(before.outputGain(k), all.last().outputGain(k)));
        }
        QVERIFY(cmd("fail all off"));
        // The next record carries nothing that was refused.
        set(model == "KX2" ? "Phone to speaker level=-20" : model == "KX1" ? "Phone to headphone level=-6" : ">hp -9");
        const L shown = expected.filter(QRegularExpression("^text/"));
        QCOMPARE(view(shown), shown);
        panel.reset();
        expected = expected.filter(QRegularExpression("^(?!text/)"));
        QCOMPARE(view(expected), expected);
    }

    void noDevice_data()
    {
        // Empty: no device at all; else which presets are refused, and how many are sent.
        addColumn<S>("refused");
        addColumn<int>("presets");
        addColumn<S>("line");
        const S line = "Failed to set output volume.";
        newRow("KX2 no device") << "" << 0 << "Failed to create device in kx2.";
        // Each preset's answer counts, not only the last one's.
        newRow("KX2 first preset refused") << "1" << 4 << line;
        newRow("KX1 first preset refused") << "1" << 2 << line;
        newRow("KQ every preset refused") << "always" << 2 << line;
    }

    void noDevice()
    {
        QFETCH(S, refused);
        QFETCH(int, presets);
        QFETCH(S, line);

        if (refused.isEmpty())
            panel = makePanel(model = rowModel());
        else
            QVERIFY(start(rowModel(), { "fail io_write_usb_control " + refused }));
        QVERIFY(log().contains(line));
        // No controls, no meter timer, no file: the panel stays inert.
        QVERIFY(panel->children().isEmpty());
        QVERIFY(!QFile::exists(DeviceFixture::iniPath(iniOf(model))));
        QVERIFY(refused.isEmpty() || sent().size() == presets);
    }

    void levels_data()
    {
        // Meter entries 0 to 3, and the readouts' dB in creation order.
        addColumn<S>("levels");
        addColumn<L>("expected");
        newRow("KX2 half and a hundredth") << "1073741824 21474836 1073741824 0" << e("-6.0;-40.0;-12.0");
        newRow("KX2 one and zero") << "1 0 0 0" << e("-186.6;-inf;-inf");
        // The phone input averages the magnitudes of its two samples, truncated.
        newRow("KX2 opposite-sign phone") << "1000 -2000 1073741824 -1073741824" << e("-126.6;-120.6;-6.0");
        newRow("KX2 phone mean truncated") << "0 1 3 -2" << e("-inf;-186.6;-180.6");
        newRow("KX2 lowest samples") << "-2147483648 -1 -2147483648 -2147483648" << e("0.0;-186.6;0.0");
        newRow("KX1") << "1073741824 5 2147483647 2147483647" << e("-6.0;0.0");
        newRow("KQ") << "21474836 1073741824 0 0" << e("-40.0");
    }

    // Every widget of a shown panel sits inside the panel, with none covering
    // another. The meters are read every 500 ms whatever the window does; the
    // readouts show the last level read only while they can be seen, catch up
    // when shown, and keep their text when a read fails.
    void levels()
    {
        QFETCH(S, levels);
        QFETCH(L, expected);

        QVERIFY(start(rowModel(), { "meter " + levels }));
        // The KX2 shows its phone input level twice, once per output.
        const L names = model == "KX2" ? L { "Mic 1", "Mic 2", "Phone input", "Phone input" } : L { "Mic", "Phone input" };
        if (model == "KX2")
            expected << expected.last();
        const auto reading = [&](const L& dBs) {
            L texts;
            for (int i = 0; i < dBs.size(); ++i)
                texts << names[i] + " level=" + dBs[i] + " dB";
            return texts;
        };
        const auto all = [&](const S& level) { return reading(L(expected.size(), level)); };
        QWidget window;
        QWidget* shown = panel.release();
        (new QVBoxLayout(&window))->addWidget(shown);
        const auto polls = [this] { return sim().calls(iocode::kGetMeterData).size(); };
        QTRY_VERIFY(polls() > 0);
        QCOMPARE(readouts(shown), all("-160"));
        window.show();
        QCOMPARE(readouts(shown), reading(expected));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Every text beside the controls, in order: a caption left out of its column shows here.
        const S hp = "HEADPHONE;Volume;Phone To HP Volume";
        L texts;
        for (QLabel* label : shown->findChildren<QLabel*>()) {
            if (label->accessibleDescription().isEmpty())
                texts << label->text();
        }
        QCOMPARE(texts, e(model == "KX2" ? "MIC1;Gain;MIC2;Gain;SPEAKER;Volume;Phone To SP Volume;" + hp : model == "KX1" ? "MIC;Gain;" + hp : "MIC;Gain;HEADPHONE;Volume"));
        const QList<QWidget*> widgets = shown->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* w : widgets) {
            QVERIFY2(shown->rect().contains(w->geometry()) && !w->geometry().isEmpty() && w->isVisible(), w->metaObject()->className());
            // A readout is as wide as its longest level from the start, so a new
            // level never lays the panel out again.
            QVERIFY(w->accessibleDescription().isEmpty() || w->fontMetrics().horizontalAdvance("-188.8 dB") <= w->width());
            for (QWidget* other : widgets)
                QVERIFY2(other == w || !other->geometry().intersects(w->geometry()), qPrintable(w->accessibleName() + " overlaps"));
        }

        QVERIFY(cmd("meter 1 1 1 1"));
        QVERIFY(cmd("fail io_get_meter_data once"));
        QTRY_VERIFY(log().contains(kMeterFailed));
        QCOMPARE(readouts(shown), reading(expected));
        QTRY_COMPARE(readouts(shown), all("-186.6"));

        window.hide();
        QVERIFY(cmd("meter -1073741824 -1073741824 1073741824 1073741824"));
        const qsizetype before = polls();
        QTRY_VERIFY(polls() > before);
        QCOMPARE(readouts(shown), all("-186.6"));
        window.show();
        QCOMPARE(readouts(shown), all("-6.0"));
    }

    // A drag or a wheel costs the GUI one write, of the last value, soon after;
    // MUTE, which sets the volume again, one too; and what is still to be
    // written when the panel goes is written then.
    void burst()
    {
        QVERIFY(start("KX2"));
        log().clear();
        for (int level = -60; level <= -20; ++level)
            set(S("Headphone volume=%1").arg(level));
        QTRY_COMPARE_WITH_TIMEOUT(view({ "D/Headphone" }), L { "D/Headphone=-20" }, 500);
        set("Speaker mute");
        QTRY_COMPARE_WITH_TIMEOUT(log().count(kSaved), 2, 500);
        set("Speaker volume=-9");
        set("Mic 1 48V");
        panel.reset();
        QCOMPARE(log().count(kSaved), 3);
        const L kept = { "D/Speaker=-9", "B/Mic148V=true" };
        QCOMPARE(view(kept), kept);
    }

    void unsavable_data()
    {
        addColumn<S>("knob");
        // The knob at 4, as the device has it.
        addColumn<S>("sent");
        // A key written while the file could not be.
        addColumn<S>("other");
        newRow("KX2") << "Headphone volume" << e("g4=@4")[0] << "D/OtgToSP=0";
        newRow("KQ") << "Mic gain" << "micGain/1=8" << "D/Headphone=-80";
    }

    // A directory where the file belongs stops every write, whoever runs the
    // test. The device still gets each change; the user is told once, the log
    // says every time and never "saved"; once the file can be written again,
    // the next change writes everything.
    void unsavable()
    {
        QFETCH(S, knob);
        QFETCH(S, sent);
        QFETCH(S, other);

        const S file = DeviceFixture::iniPath(iniOf(rowModel()));
        QSignalSpy told(&SaveFailureNotice::instance(), &SaveFailureNotice::notKept);
        QVERIFY(QDir().mkpath(file));
        QVERIFY(start(rowModel()));
        const auto failures = [this] { return log().lines().filter("Failed to save control states to").size(); };
        QCOMPARE(failures(), 1);
        for (int value : { 3, 4 }) {
            set(knob + "=" + S::number(value));
            QTRY_COMPARE_WITH_TIMEOUT(failures(), value - 1, 500);
        }
        QCOMPARE(view({ sent }), L { sent });
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.first().first().toString(), file);
        QCOMPARE(log().count(kSaved), 0);

        QVERIFY(QDir(file).removeRecursively());
        set(knob + "=5");
        const L kept = { S(model == "KX2" ? "D/Headphone" : "D/Mic") + "=5", other };
        QTRY_COMPARE_WITH_TIMEOUT(view(kept), kept, 500);
        QCOMPARE(log().count(kSaved), model == "KX2" ? 1 : 0);

        QVERIFY(QFile::remove(file) && QDir().mkpath(file));
        set(knob + "=6");
        QTRY_COMPARE_WITH_TIMEOUT(told.size(), 2, 500);
        panel.reset();
        QVERIFY(QDir(file).removeRecursively());
    }

    void lostReply_data()
    {
        // The step whose reply comes late; none: a meter poll's.
        addColumn<S>("late");
        addColumn<S>("after");
        newRow("meter poll") << "" << "Headphone volume=-6";
        newRow("mixer write") << "Headphone volume=-6" << "";
    }

    // The stand-in ends a connection that lost a reply. The next call opens the
    // device again, and the panel sends its whole state again, so nothing the
    // device missed stays missed, and later changes reach it.
    void lostReply()
    {
        QFETCH(S, late);
        QFETCH(S, after);

        QVERIFY(start("KX2"));
        set("Mic 1 gain=7");
        QVERIFY(cmd("slow 2500"));
        if (late.isEmpty())
            QTRY_VERIFY(log().contains(kMeterFailed));
        else
            set(late);
        QVERIFY(cmd("slow 0"));
        sim().clearRecord();
        if (!after.isEmpty())
            set(after);
        QTRY_VERIFY(sent().contains("mic volume ch 1 = 14"));
        QCOMPARE(view(e("g4=@-6")), e("g4=@-6"));
    }

private:
    static void store(const S& file, const L& entries)
    {
        QMap<S, QVariant> values;
        for (const S& entry : entries)
            values[iniKey(entry.section('=', 0, 0))] = entry.section('=', 1);
        DeviceFixture::store(file, values);
    }

    bool start(const S& panelModel, const L& simCommands = {})
    {
        model = panelModel;
        const bool started = device->startSim({ "--model", model }, simCommands);
        panel = makePanel(model);
        return started;
    }

    // The driver calls so far, the meter polls left out: a USB packet as the
    // device understood it, a mixer record as "mixer" (with its bytes if asked).
    L sent(bool records = false)
    {
        L calls;
        for (const QJsonObject& call : sim().calls()) {
            const quint32 code = call["code"].toInteger();
            if (code == iocode::kWriteUsbControl)
                calls << ReceivedUsbPacket(DeviceFixture::input(call)).describeWrite();
            else if (code != iocode::kGetMeterData)
                calls << (code == iocode::kSetMixer ? "mixer" + (records ? call["in"].toString() : S()) : call["name"].toString());
        }
        return calls;
    }

    QList<MixerRecord> records()
    {
        QList<MixerRecord> found;
        for (const QJsonObject& call : sim().calls(iocode::kSetMixer))
            found << MixerRecord(DeviceFixture::input(call));
        return found;
    }

    // What the expected "key=value" entries say, as found: "g<k>" and
    // "c<row>,<column>" in the last mixer record sent, "D/..." and
    // "B/..." in the ini file on disk (see iniKey), "text/<control>" and
    // "reads/<control>" as the user and assistive tools see a control, anything
    // else ("micGain/1") in the device's state.
    L view(const L& expected)
    {
        L found;
        for (const S& entry : expected) {
            const S key = entry.section('=', 0, 0), what = key.section('/', 0, 0), which = key.section('/', 1), at = key.mid(1);
            S value;
            if (what == "D" || what == "B")
                value = DeviceFixture::onDisk(iniOf(model), iniKey(key));
            else if (what == "text")
                value = qobject_cast<QAbstractButton*>(named(panel.get(), which)->object())->text();
            else if (what == "reads")
                value = named(panel.get(), which)->text(QAccessible::Value);
            else if (what == key)
                value = S::number(key[0] == 'g' ? records().last().outputGain(at.toInt())
                                                : records().last().cell(at.section(',', 0, 0).toInt(), at.section(',', 1).toInt()), 'g', 12);
            else
                value = sim().state()[what].toObject()[which].toVariant().toString();
            found << key + "=" + value;
        }
        return found;
    }

    // "<control>=<value>" sets a knob, "<control>" switches a button, as an
    // assistive tool's user does.
    void set(const S& step)
    {
        if (step.startsWith('>')) {
            auto* p = static_cast<ModelPanel*>(panel.get());
            const L w = step.mid(1).split(' ');
            const int a = w.value(1).toInt(), b = w.value(2).toInt();
            const QMap<S, std::function<void()>> handlers = {
                { "mic", [&] { p->micKnobValueChanged(a, b); } }, { "inst", [&] { p->micInstrButtonClick(a, b); } },
                { "48V", [&] { p->mic48VButtonClick(a, b); } }, { "20dB", [&] { p->mic20dBButtonClick(a, b); } },
                { "spk", [&] { p->speakerKnobValueChanged(a); } }, { "spkMute", [&] { p->speakerMuteButtonClick(a); } },
                { "hp", [&] { p->headphoneKnobValueChanged(a); } }, { "hpMute", [&] { p->headphoneMuteButtonClick(a); } },
                { "hpDim", [&] { p->headphoneDimButtonClick(a); } },
            };
            return handlers[w[0]]();
        }
        QAccessibleInterface* control = named(panel.get(), step.section('=', 0, 0));
        if (step.contains('='))
            control->valueInterface()->setCurrentValue(step.section('=', 1).toInt());
        else
            control->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    }

    SimProcess& sim() { return device->sim(); }
    bool cmd(const S& words) { return sim().command(words.split(' ')); }
    LogCapture& log() { return device->log(); }

    // Made once the test library has installed its message handler, so that
    // the fixture's log capture comes after it.
    std::unique_ptr<DeviceFixture> device;
    S model;
    std::unique_ptr<QWidget> panel;
};

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
