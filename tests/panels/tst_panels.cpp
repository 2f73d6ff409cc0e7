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
#include "settings/SaveFailureNotice.h"

#include <QAccessible>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <memory>

namespace {

using L = QStringList;

const QString kSaved = "控件状态已保存到配置文件";
const QString kMeterFailed = "Failed to read meter data from driver.";
const L kModels = { "KX2", "KX1", "KQ" };

// The model is the row tag's first word.
QString rowModel()
{
    return QString(QTest::currentDataTag()).section(' ', 0, 0);
}

double dB(int level)
{
    return std::pow(10.0, level / 20.0);
}

// Expected entries of TestPanels::view: output gain k, mixer cell.
QString g(int k, double gain)
{
    return QString("gain/%1=%2").arg(k).arg(gain, 0, 'g', 12);
}

QString c(int row, int column, double gain)
{
    return QString("cell/%1,%2=%3").arg(row).arg(column).arg(gain, 0, 'g', 12);
}

// A DIRECT switch's cells: the channel's column into the given rows.
L direct(int column, QList<int> rows, double gain)
{
    L cells;
    for (int row : rows)
        cells << c(row, column, gain);
    return cells;
}

// The unity routing every model starts from, plus the model's own cells.
L unity(const L& own)
{
    L cells = { c(0, 0, 0.0) };
    for (const QString& cell : L { "4,0", "5,1", "6,2", "7,3", "8,4", "9,5", "10,6", "11,7", "96,0", "97,1", "128,0", "129,1", "130,0", "131,1", "160,0",
                                   "161,1", "162,2", "163,3", "164,4", "165,5", "166,6", "167,7" } + own)
        cells << "cell/" + cell + "=1";
    return cells;
}

// An ini key as written in the rows, "Dial/Mic1" or "Button/Mic148V", in full.
QString iniKey(const QString& key)
{
    return key + (key.startsWith("Dial/") ? "Value" : "IsChecked");
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

QAccessibleInterface* named(const QWidget* panel, const QString& name)
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
        for (const QString& each : kModels)
            DeviceFixture::removeIni(iniOf(each));
        log().clear();
    }

    void restore_data()
    {
        QTest::addColumn<L>("stored");
        QTest::addColumn<L>("expected");
        // All the calls, when given.
        QTest::addColumn<L>("calls");
        QTest::addColumn<int>("flushLines");
        const auto add = [](const char* tag, const L& stored, const L& expected, int flushLines, const L& calls = {}) {
            QTest::newRow(tag) << stored << expected << calls << flushLines;
        };

        // A first start: the defaults go out, buttons off, volumes silent from
        // the first record on, gains and phone levels at 0, and the file holds
        // them at once.
        add("KX2 first start", {},
            L { "Dial/Speaker=-80", "Dial/Headphone=-80", "Button/HeadphoneDim=false", "Dial/OtgToSP=0", "reads/Mic 2 gain=9 dB", g(0, 0), g(2, 1),
                g(3, 1), g(5, 0) } + unity({ "100,0", "101,1", "132,0", "133,1", "64,2", "65,3", "68,2", "69,3" }),
            1,
            L { "output volume ch 1 = 100", "output volume ch 2 = 100", "output volume ch 5 = 100", "output volume ch 6 = 100", "20dB pad ch 1 off",
                "48V ch 1 off", "mixer", "mic volume ch 1 = 0", "mic volume ch 2 = 0", "20dB pad ch 2 off", "48V ch 2 off" } + L(9, "mixer"));
        add("KX1 first start", {}, L { "Dial/Headphone=-80", "Button/MicInstr=false", "Dial/OtgToHp=0", g(2, 1) } + unity({ "64,2", "65,3" }), 0,
            L { "output volume ch 1 = 100", "output volume ch 2 = 100", "instrument ch 1 off", "20dB pad ch 1 off", "48V ch 1 off", "mixer",
                "mic volume ch 1 = 0" } + L(4, "mixer"));
        add("KQ first start", {}, L { "Dial/Headphone=-80", "Dial/Mic=0", g(2, 1) } + unity({ "64,2", "65,3" }), 0,
            L { "output volume ch 1 = 100", "output volume ch 2 = 100", "mixer", "mic volume ch 1 = 0" } + L(3, "mixer"));

        // A stored state: no two channels or outputs share a value, and a value
        // the control clamps, or cannot read, is written back.
        add("KX2 stored",
            { "Button/Mic120dB=true", "Button/Mic148V=false", "Button/MonitorMic1=true", "Dial/Mic1=100", "Dial/Mic2=17", "Button/Mic220dB=false",
              "Button/Mic248V=true", "Button/MonitorMic2=false", "Dial/Speaker=-10", "Button/SpeakerMute=true", "Button/SpeakerDim=false",
              "Dial/Headphone=-4", "Button/HeadphoneMute=false", "Button/HeadphoneDim=true", "Dial/OtgToHp=loud", "Dial/OtgToSP=-30" },
            L { "Dial/Mic1=56", "Dial/OtgToHp=0", "Dial/Speaker=-10", "Dial/Mic2=17", "pad20db/1=true", "pad20db/2=false", "phantom48v/1=false",
                "phantom48v/2=true", "micGain/1=112", "micGain/2=34", "reads/Mic 1 gain=65 dB", g(0, 0), g(1, 0), g(4, dB(-24)), g(5, dB(-24)),
                c(64, 2, dB(-30)), c(65, 3, dB(-30)), c(68, 2, 1), c(69, 3, 1) }
                + direct(0, { 64, 65, 68, 69 }, 1) + direct(1, { 64, 65, 68, 69 }, 0),
            1);
        add("KX1 stored",
            { "Button/MicInstr=true", "Button/Mic20dB=false", "Button/Mic48V=true", "Button/MonitorMic=true", "Dial/Mic=50", "Dial/Headphone=-8",
              "Button/HeadphoneMute=true", "Button/HeadphoneDim=false", "Dial/OtgToHp=-12" },
            { "Dial/Mic=42", "Dial/Headphone=-8", "instrument/1=true", "text/Mic instrument input=INST", "pad20db/1=false", "phantom48v/1=true",
              "micGain/1=84", c(64, 0, 1), c(65, 1, 1), c(64, 2, dB(-12)), c(65, 3, dB(-12)), g(0, 0), g(1, 0) },
            0);
        add("KQ stored", { "Button/MonitorMic=false", "Dial/Mic=13", "Dial/Headphone=-3", "Button/HeadphoneMute=false", "Button/HeadphoneDim=true" },
            { "Dial/Mic=13", "micGain/1=26", c(64, 0, 0), c(65, 1, 0), c(64, 2, 1), c(65, 3, 1), g(0, dB(-23)), g(1, dB(-23)) }, 0);
        // What is no finite number loads as the key's default, never as unity,
        // and is written back; a fraction is rounded.
        add("KX2 stored, unreadable", { "Dial/Speaker=loud", "Dial/Headphone=nan", "Dial/Mic2=inf", "Dial/OtgToSP=-30.4" },
            { "Dial/Speaker=-80", "Dial/Headphone=-80", "Dial/Mic2=0", "Dial/OtgToSP=-30", g(0, 0), g(5, 0), c(64, 2, dB(-30)) }, 1);
        // The other way round: each output's MUTE and DIM come before its volume.
        add("KX2 stored, speaker dimmed", { "Dial/Speaker=-2", "Button/SpeakerDim=true", "Dial/Headphone=-5", "Button/HeadphoneMute=true" },
            { g(0, dB(-22)), g(4, 0) }, 1);
        add("KX1 stored, dimmed", { "Dial/Headphone=-2", "Button/HeadphoneDim=true" }, { g(0, dB(-22)) }, 0);
        add("KQ stored, muted", { "Dial/Headphone=-2", "Button/HeadphoneMute=true" }, { g(0, 0) }, 0);
    }

    void restore()
    {
        QFETCH(L, stored);
        QFETCH(L, expected);
        QFETCH(L, calls);
        QFETCH(int, flushLines);
        const QString ini = iniOf(rowModel());

        const auto store = [](const QString& file, const L& entries) {
            QMap<QString, QVariant> values;
            for (const QString& entry : entries)
                values[iniKey(entry.section('=', 0, 0))] = entry.section('=', 1);
            DeviceFixture::store(file, values);
        };
        // Another model's file is never read.
        for (const QString& other : kModels)
            store(iniOf(other), { "Dial/Mic=30", "Dial/Mic1=30", "Dial/Headphone=6" });
        DeviceFixture::removeIni(ini);
        store(ini, stored);
        QVERIFY(start(rowModel()));
        QCOMPARE(view(expected), expected);
        QCOMPARE(log().count(kSaved), flushLines);
        if (!calls.isEmpty())
            QCOMPARE(sent(), calls);
        // No record on the way drives a volume output louder than the state restored.
        const QList<MixerRecord> all = records();
        for (int k : model == "KX2" ? QList<int> { 0, 1, 4, 5 } : QList<int> { 0, 1 }) {
            for (const MixerRecord& record : all)
                QVERIFY2(record.outputGain(k) <= all.last().outputGain(k), qPrintable(QString("output gain %1").arg(k)));
        }
        // Meters are read twice a second for the panel's whole life.
        const QList<QTimer*> timers = panel->findChildren<QTimer*>();
        QVERIFY(std::any_of(timers.begin(), timers.end(), [](const QTimer* timer) { return timer->isActive() && timer->interval() == 500; }));

        // Connected again, the same state goes out, and the file, which now holds
        // what the controls hold, is left alone.
        const L first = sent(true);
        panel.reset();
        const QDateTime longAgo(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        {
            QFile file(DeviceFixture::iniPath(ini));
            QVERIFY(file.open(QIODevice::ReadOnly) && file.setFileTime(longAgo, QFileDevice::FileModificationTime));
        }
        sim().clearRecord();
        log().clear();
        panel = makePanel(model);
        QCOMPARE(sent(true), first);
        QCOMPARE(QFileInfo(DeviceFixture::iniPath(ini)).lastModified(), longAgo);
        QCOMPARE(log().count(kSaved), 0);
    }

    void controls_data()
    {
        // A driver code the sim refuses meanwhile.
        QTest::addColumn<QString>("refused");
        // "<control>=<value>" sets a knob, "<control>" switches a button.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<L>("expected");
        // "!<text>": nothing starting so is logged.
        QTest::addColumn<QString>("logged");

        const auto add = [](const char* tag, const QString& steps, const L& expected, const QString& logged = {}, const QString& refused = {}) {
            QTest::newRow(tag) << refused << steps << expected << logged;
        };
        const L mic1Direct = direct(0, { 64, 65, 68, 69 }, 1) + direct(1, { 64, 65, 68, 69 }, 0);
        add("KX2 mic 1 gain", "Mic 1 gain=20", { "micGain/1=40", "micGain/2=0", "Dial/Mic1=20", "reads/Mic 1 gain=29 dB" }, "Mic volume set to: 20");
        add("KX2 mic 1 pad", "Mic 1 20 dB pad", { "pad20db/1=true", "pad20db/2=false", "Button/Mic120dB=true", "reads/Mic 1 20 dB pad=on" },
            "Mic 20dB switched for channel 1.");
        add("KX2 mic 2 48V", "Mic 2 48V", { "phantom48v/2=true", "phantom48v/1=false", "Button/Mic248V=true" }, "Mic 48V switched for channel 2.");
        add("KX2 mic 1 direct", "Mic 1 direct monitoring", mic1Direct + L { "Button/MonitorMic1=true" }, "Monitor Mic set to: 1");
        add("KX2 phone to speaker", "Phone to speaker level=-20", { c(64, 2, 0.1), c(65, 3, 0.1), c(68, 2, 1), "Dial/OtgToSP=-20" }, "OTG to SP volume set to: 0.1");
        add("KX2 phone to headphone", "Phone to headphone level=20", { c(68, 2, dB(6)), c(69, 3, dB(6)), c(64, 2, 1), "Dial/OtgToHp=6" });
        add("KX1 mic gain", "Mic gain=50", { "micGain/1=84", "Dial/Mic=42", "reads/Mic gain=42 dB" });
        add("KX1 instrument", "Mic instrument input", { "instrument/1=true", "text/Mic instrument input=INST", "Button/MicInstr=true" },
            "Mic instruction switched for channel 1.");
        add("KX1 instrument off", "Mic instrument input;Mic instrument input",
            { "instrument/1=false", "text/Mic instrument input=MIC", "Button/MicInstr=false" });
        add("KX1 pad", "Mic 20 dB pad", { "pad20db/1=true", "Button/Mic20dB=true" });
        add("KX1 48V", "Mic 48V", { "phantom48v/1=true", "Button/Mic48V=true" });
        add("KX1 direct", "Mic direct monitoring", { c(64, 0, 1), c(65, 1, 1), c(65, 0, 0), c(64, 1, 0), "Button/MonitorMic=true" });
        add("KX1 phone below the range", "Phone to headphone level=-100", { c(64, 2, 0), c(65, 3, 0), "Dial/OtgToHp=-80" });

        // Volumes: MUTE silences whatever DIM says, DIM lowers by 20 dB, and the
        // knob keeps its own value.
        add("KX2 speaker", "Speaker volume=-6", { g(0, dB(-6)), g(1, dB(-6)), g(4, 0), "Dial/Speaker=-6" }, "Speaker volume set to: -6");
        add("KX2 speaker muted and dimmed", "Speaker volume=3;Speaker mute;Speaker dim",
            { g(1, 0), "Button/SpeakerMute=true", "Button/SpeakerDim=true", "reads/Speaker volume=3 dB" }, "Speaker Mute Button Clicked: Mute ON");
        add("KX2 speaker unmuted, dimmed", "Speaker volume=3;Speaker mute;Speaker dim;Speaker mute", { g(0, dB(-17)), "Button/SpeakerMute=false" });
        add("KX2 speaker undimmed", "Speaker volume=3;Speaker dim;Speaker dim", { g(1, dB(3)), "Button/SpeakerDim=false" });
        add("KX2 headphone", "Headphone volume=-6", { g(4, dB(-6)), g(5, dB(-6)), g(0, 0), "Dial/Headphone=-6" }, "Headphone volume set to: -6");
        add("KX2 headphone muted and dimmed", "Headphone volume=3;Headphone mute;Headphone dim", { g(5, 0), "Button/HeadphoneDim=true" });
        add("KX2 headphone unmuted, dimmed", "Headphone volume=3;Headphone mute;Headphone dim;Headphone mute",
            { g(4, dB(-17)), "Button/HeadphoneMute=false" });
        add("KX1 headphone", "Headphone volume=-6", { g(0, dB(-6)), g(1, dB(-6)), "Dial/Headphone=-6" }, "Headphone volume set to: 0.501187");
        add("KX1 headphone muted and dimmed", "Headphone volume=3;Headphone mute;Headphone dim",
            { g(1, 0), "Button/HeadphoneDim=true", "reads/Headphone volume=3 dB" }, "Headphone Mute Button Clicked: Mute ON");
        add("KX1 headphone unmuted, dimmed", "Headphone volume=3;Headphone mute;Headphone dim;Headphone mute",
            { g(0, dB(-17)), "Button/HeadphoneMute=false" }, "Headphone Dim Button Clicked: Dim ON");
        // The KQ shares the KX1's volume handling, but logs only failures.
        add("KQ headphone", "Headphone volume=-6", { g(0, dB(-6)), g(1, dB(-6)), "Dial/Headphone=-6" }, "!Headphone volume set to:");

        // Refused by the device: the failure is logged, the state is stored and
        // kept, and the next record accepted carries it.
        const QString mixer = "io_set_mixer";
        const QString usb = "io_write_usb_control";
        add("KX2 headphone refused", "Headphone volume=-12", { g(4, dB(-12)), "Dial/Headphone=-12" }, "Failed to set headphone volume.", mixer);
        add("KX2 speaker refused", "Speaker volume=-3", { g(1, dB(-3)), "Dial/Speaker=-3" }, "Failed to set speaker volume.", mixer);
        add("KX2 direct refused", "Mic 1 direct monitoring", { c(68, 0, 1), "Button/MonitorMic1=true" }, "Failed to set Monitor Mic.", mixer);
        add("KX2 phone refused", "Phone to speaker level=-1", { c(64, 2, dB(-1)), "Dial/OtgToSP=-1" }, "Failed to set OTG to SP volume.", mixer);
        add("KX2 gain refused", "Mic 1 gain=20", { "micGain/1=0", "Dial/Mic1=20" }, "Failed to set mic volume.", usb);
        add("KX2 48V refused", "Mic 2 48V", { "phantom48v/2=false", "Button/Mic248V=true", "reads/Mic 2 48V=on" }, "Failed to switch mic 48V.", usb);
        add("KX1 instrument refused", "Mic instrument input", { "instrument/1=false", "text/Mic instrument input=MIC", "Button/MicInstr=true" },
            "Failed to switch mic instruction.", usb);
        add("KX1 headphone refused", "Headphone volume=-7", { g(0, dB(-7)), "Dial/Headphone=-7" }, "Failed to set headphone volume.", mixer);
    }

    // Each control driven as an assistive tool's user drives it, by its name:
    // the device gets it at once, and the file on disk too.
    void controls()
    {
        QFETCH(QString, refused);
        QFETCH(QString, steps);
        QFETCH(L, expected);
        QFETCH(QString, logged);

        QVERIFY(start(rowModel()));
        log().clear();
        if (!refused.isEmpty())
            QVERIFY(sim().command({ "fail", refused, "always" }));
        for (const QString& step : steps.split(';'))
            set(step);
        const L inFile = expected.filter(QRegularExpression("^(Dial|Button)/"));
        QTRY_COMPARE_WITH_TIMEOUT(view(inFile), inFile, 500);
        if (refused.isEmpty()) {
            QCOMPARE(log().lines().filter("Failed"), L());
        } else {
            QVERIFY(sim().command({ "fail", "all", "off" }));
            set(model == "KX2" ? "Mic 2 direct monitoring" : "Mic direct monitoring");
        }
        QCOMPARE(view(expected), expected);
        if (logged.startsWith('!'))
            QCOMPARE(log().lines().filter(QRegularExpression("^" + logged.mid(1))), L());
        else if (!logged.isEmpty())
            QVERIFY2(log().contains(logged), qPrintable(logged));
    }

    void noDevice_data()
    {
        // Empty: no device at all.
        QTest::addColumn<QString>("refusedPresets");
        QTest::addColumn<int>("presets");
        QTest::addColumn<QString>("line");
        QTest::newRow("KX2 no device") << "" << 0 << "Failed to create device in kx2.";
        // Each preset's answer counts, not only the last one's.
        QTest::newRow("KX2 first preset refused") << "1" << 4 << "Failed to set output volume.";
        QTest::newRow("KX1 first preset refused") << "1" << 2 << "Failed to set output volume.";
        QTest::newRow("KQ every preset refused") << "always" << 2 << "Failed to set output volume.";
    }

    void noDevice()
    {
        QFETCH(QString, refusedPresets);
        QFETCH(int, presets);
        QFETCH(QString, line);

        if (refusedPresets.isEmpty())
            panel = makePanel(model = rowModel());
        else
            QVERIFY(start(rowModel(), { "fail io_write_usb_control " + refusedPresets }));
        QVERIFY(log().contains(line));
        // No controls, no meter timer, no file: the panel stays inert.
        QVERIFY(panel->children().isEmpty());
        QVERIFY(!QFile::exists(DeviceFixture::iniPath(iniOf(model))));
        if (presets > 0)
            QCOMPARE(sent().size(), presets);
    }

    void levels_data()
    {
        // Meter entries 0 to 3, and the readouts' dB in creation order.
        QTest::addColumn<QString>("levels");
        QTest::addColumn<L>("expected");
        QTest::newRow("KX2 half and a hundredth") << "1073741824 21474836 1073741824 0" << L { "-6.0", "-40.0", "-12.0" };
        QTest::newRow("KX2 one and zero") << "1 0 0 0" << L { "-186.6", "-inf", "-inf" };
        // The phone input averages the magnitudes of its two samples, truncated.
        QTest::newRow("KX2 opposite-sign phone") << "1000 -2000 1073741824 -1073741824" << L { "-126.6", "-120.6", "-6.0" };
        QTest::newRow("KX2 phone mean truncated") << "0 1 3 -2" << L { "-inf", "-186.6", "-180.6" };
        QTest::newRow("KX2 lowest samples") << "-2147483648 -1 -2147483648 -2147483648" << L { "0.0", "-186.6", "0.0" };
        QTest::newRow("KX1") << "1073741824 5 2147483647 2147483647" << L { "-6.0", "0.0" };
        QTest::newRow("KQ") << "21474836 1073741824 0 0" << L { "-40.0" };
    }

    // Every widget of a shown panel sits inside the panel, with none covering
    // another. The meters are read every 500 ms whatever the window does; the
    // readouts show the last level read only while they can be seen, catch up
    // when shown, and keep their text when a read fails.
    void levels()
    {
        QFETCH(QString, levels);
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
        const auto all = [&](const QString& level) { return reading(L(expected.size(), level)); };
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
        const QHash<QString, L> captions = {
            { "KX2", { "MIC1", "Gain", "MIC2", "Gain", "SPEAKER", "Volume", "Phone To SP Volume", "HEADPHONE", "Volume", "Phone To HP Volume" } },
            { "KX1", { "MIC", "Gain", "HEADPHONE", "Volume", "Phone To HP Volume" } },
            { "KQ", { "MIC", "Gain", "HEADPHONE", "Volume" } },
        };
        L texts;
        for (QLabel* label : shown->findChildren<QLabel*>()) {
            if (label->accessibleDescription().isEmpty())
                texts << label->text();
        }
        QCOMPARE(texts, captions[model]);
        const QList<QWidget*> widgets = shown->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* widget : widgets) {
            QVERIFY2(shown->rect().contains(widget->geometry()) && !widget->geometry().isEmpty() && widget->isVisible(), widget->metaObject()->className());
            // A readout is as wide as its longest level from the start, so a new
            // level never lays the panel out again.
            if (!widget->accessibleDescription().isEmpty())
                QVERIFY(widget->fontMetrics().horizontalAdvance("-188.8 dB") <= widget->width());
            for (QWidget* other : widgets)
                QVERIFY2(other == widget || !other->geometry().intersects(widget->geometry()), qPrintable(widget->accessibleName() + " overlaps"));
        }

        QVERIFY(sim().command({ "meter", "1", "1", "1", "1" }));
        QVERIFY(sim().command({ "fail", "io_get_meter_data", "once" }));
        QTRY_VERIFY(log().contains(kMeterFailed));
        QCOMPARE(readouts(shown), reading(expected));
        QTRY_COMPARE(readouts(shown), all("-186.6"));

        window.hide();
        QVERIFY(sim().command({ "meter", "-1073741824", "-1073741824", "1073741824", "1073741824" }));
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
            set(QString("Headphone volume=%1").arg(level));
        QTRY_COMPARE_WITH_TIMEOUT(view({ "Dial/Headphone" }), L { "Dial/Headphone=-20" }, 500);
        set("Speaker mute");
        QTRY_COMPARE_WITH_TIMEOUT(log().count(kSaved), 2, 500);
        set("Speaker volume=-9");
        set("Mic 1 48V");
        panel.reset();
        QCOMPARE(log().count(kSaved), 3);
        const L kept = { "Dial/Speaker=-9", "Button/Mic148V=true" };
        QCOMPARE(view(kept), kept);
    }

    void unsavable_data()
    {
        QTest::addColumn<QString>("knob");
        // The knob at 4, as the device has it.
        QTest::addColumn<QString>("sent");
        // A key written while the file could not be.
        QTest::addColumn<QString>("other");
        QTest::newRow("KX2") << "Headphone volume" << g(4, dB(4)) << "Dial/OtgToSP=0";
        QTest::newRow("KQ") << "Mic gain" << "micGain/1=8" << "Dial/Headphone=-80";
    }

    // A directory where the file belongs stops every write, whoever runs the
    // test. The device still gets each change; the user is told once, the log
    // says every time and never "saved"; once the file can be written again,
    // the next change writes everything.
    void unsavable()
    {
        QFETCH(QString, knob);
        QFETCH(QString, sent);
        QFETCH(QString, other);

        const QString file = DeviceFixture::iniPath(iniOf(rowModel()));
        QSignalSpy told(&SaveFailureNotice::instance(), &SaveFailureNotice::notKept);
        QVERIFY(QDir().mkpath(file));
        QVERIFY(start(rowModel()));
        const auto failures = [this] { return log().lines().filter("Failed to save control states to").size(); };
        QCOMPARE(failures(), 1);
        for (int value : { 3, 4 }) {
            set(knob + "=" + QString::number(value));
            QTRY_COMPARE_WITH_TIMEOUT(failures(), value - 1, 500);
        }
        QCOMPARE(view({ sent }), L { sent });
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.first().first().toString(), file);
        QCOMPARE(log().count(kSaved), 0);

        QVERIFY(QDir(file).removeRecursively());
        set(knob + "=5");
        const L kept = { QString(model == "KX2" ? "Dial/Headphone" : "Dial/Mic") + "=5", other };
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
        QTest::addColumn<QString>("late");
        QTest::addColumn<QString>("after");
        QTest::newRow("meter poll") << "" << "Headphone volume=-6";
        QTest::newRow("mixer write") << "Headphone volume=-6" << "";
    }

    // The stand-in ends a connection that lost a reply. The next call opens the
    // device again, and the panel sends its whole state again, so nothing the
    // device missed stays missed, and later changes reach it.
    void lostReply()
    {
        QFETCH(QString, late);
        QFETCH(QString, after);

        QVERIFY(start("KX2"));
        set("Mic 1 gain=7");
        QVERIFY(sim().command({ "slow", "2500" }));
        if (late.isEmpty())
            QTRY_VERIFY(log().contains(kMeterFailed));
        else
            set(late);
        QVERIFY(sim().command({ "slow", "0" }));
        sim().clearRecord();
        if (!after.isEmpty())
            set(after);
        QTRY_VERIFY(sent().contains("mic volume ch 1 = 14"));
        QCOMPARE(view({ g(4, dB(-6)) }), L { g(4, dB(-6)) });
    }

private:
    bool start(const QString& panelModel, const L& simCommands = {})
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
                calls << (code == iocode::kSetMixer ? "mixer" + (records ? call["in"].toString() : QString()) : call["name"].toString());
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

    // What the expected "key=value" entries say, as found: "gain/k" and
    // "cell/row,column" in the last mixer record sent, "Dial/..." and
    // "Button/..." in the ini file on disk (see iniKey), "text/<control>" and
    // "reads/<control>" as the user and assistive tools see a control, anything
    // else ("micGain/1") in the device's state.
    L view(const L& expected)
    {
        L found;
        for (const QString& entry : expected) {
            const QString key = entry.section('=', 0, 0);
            const QString what = key.section('/', 0, 0);
            const QString which = key.section('/', 1);
            QString value;
            if (what == "Dial" || what == "Button")
                value = DeviceFixture::onDisk(iniOf(model), iniKey(key));
            else if (what == "text")
                value = qobject_cast<QAbstractButton*>(named(panel.get(), which)->object())->text();
            else if (what == "reads")
                value = named(panel.get(), which)->text(QAccessible::Value);
            else if (what == "gain")
                value = QString::number(records().last().outputGain(which.toInt()), 'g', 12);
            else if (what == "cell")
                value = QString::number(records().last().cell(which.section(',', 0, 0).toInt(), which.section(',', 1).toInt()), 'g', 12);
            else
                value = sim().state()[what].toObject()[which].toVariant().toString();
            found << key + "=" + value;
        }
        return found;
    }

    // "<control>=<value>" sets a knob, "<control>" switches a button, as an
    // assistive tool's user does.
    void set(const QString& step)
    {
        QAccessibleInterface* control = named(panel.get(), step.section('=', 0, 0));
        if (step.contains('='))
            control->valueInterface()->setCurrentValue(step.section('=', 1).toInt());
        else
            control->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    }

    SimProcess& sim() { return device->sim(); }
    LogCapture& log() { return device->log(); }

    // Made once the test library has installed its message handler, so that
    // the fixture's log capture comes after it.
    std::unique_ptr<DeviceFixture> device;
    QString model;
    std::unique_ptr<QWidget> panel;
};

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
