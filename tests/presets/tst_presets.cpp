// Presets against the simulated interface: what a save, a recall and its
// undo leave on the device and in the files, refusals by the device, other
// models' presets, damaged files and bad names.

#include "app/DeviceSession.h"
#include "app/MainWindow.h"
#include "panels/ModelPanel.h"
#include "presets/PresetBook.h"
#include "presets/PresetFile.h"
#include "presets/PresetMenu.h"
#include "settings/Settings.h"
#include "settings/SettingsEngine.h"
#include "sim/IoCodes.h"
#include "tests/support/DeviceFixture.h"
#include "tray/TrayIcon.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QJsonDocument>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using L = QStringList;
using S = QString;
using Status = PresetBook::Status;
using QTest::addColumn;
using QTest::newRow;

// "name=value;..." as controls.
QMap<S, int> values(const S& text)
{
    QMap<S, int> out;
    for (const S& entry : text.split(';', Qt::SkipEmptyParts))
        out[entry.section('=', 0, 0)] = entry.section('=', 1).toInt();
    return out;
}

S presetPath(const S& name)
{
    return PresetBook::folder() + "/" + name + ".ini";
}

void writeFile(const S& path, const QByteArray& text)
{
    QDir().mkpath(PresetBook::folder());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

} // namespace

class TestPresets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { fixture = std::make_unique<DeviceFixture>(); }

    void init()
    {
        QDir(PresetBook::folder()).removeRecursively();
        for (const char* ini : { "kx1.ini", "kx2.ini", "kq.ini" })
            DeviceFixture::removeIni(ini);
        fixture->log().clear();
        engine = std::make_unique<SettingsEngine>();
        session = std::make_unique<DeviceSession>();
        session->setSettingsEngine(engine.get());
        book = std::make_unique<PresetBook>(session.get());
    }

    void cleanup()
    {
        delete static_cast<QWidget*>(session->panel());
        book.reset();
        session.reset();
        engine.reset();
        fixture->stopSim();
    }

    void cycle_data()
    {
        addColumn<S>("saved");
        addColumn<S>("other");
        newRow("KX2") << "mic1.gain=30;mic2.48v=1;mic1.direct=1;speaker.volume=-6;speaker.dim=1;headphone.phone=-9"
                      << "mic1.gain=12;mic1.pad=1;speaker.volume=-1;speaker.mute=1;headphone.volume=-3;speaker.phone=-20";
        newRow("KX1") << "mic1.inst=1;mic1.gain=40;headphone.volume=-2;headphone.mute=1"
                      << "mic1.48v=1;headphone.volume=-30;headphone.dim=1;headphone.phone=-4";
        newRow("KQ") << "mic1.gain=3;headphone.volume=-5" << "mic1.direct=1;headphone.volume=-15;headphone.dim=1";
    }

    // Saved, changed, recalled and undone: the device and the file hold
    // exactly the saved state after the recall, and the earlier one after the undo.
    void cycle()
    {
        const S model = QTest::currentDataTag();
        QFETCH(S, saved);
        QFETCH(S, other);

        QVERIFY(connectTo(model));
        QCOMPARE(panel()->applyControls(values(saved)), L());
        const L atSave = held();
        QCOMPARE(book->save("live").status, Status::Done);
        PresetFile file(presetPath("live"));
        QVERIFY(file.read());
        QCOMPARE(file.model(), model);
        QCOMPARE(file.controls(), panel()->controlValues());
        QCOMPARE(panel()->applyControls(values(other)), L());
        QVERIFY(book->modified());
        const L beforeRecall = held();
        QVERIFY(beforeRecall != atSave);

        QSignalSpy changed(book.get(), &PresetBook::changed);
        const PresetBook::Outcome recalled = book->recall("live");
        QCOMPARE(recalled.status, Status::Done);
        QVERIFY(recalled.skipped.isEmpty() && recalled.refused.isEmpty());
        QCOMPARE(held(), atSave);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(book->lastRecalled(), S("live"));
        QVERIFY(!book->modified() && book->canUndo());
        QCOMPARE(book->rename("live", "kept").status, Status::Done);
        QCOMPARE(book->lastRecalled(), S("kept"));
        // A hand's change marks it; the undo puts back the state before the
        // recall, and the name saved then.
        panel()->applyControls({ { "headphone.volume", 4 } });
        QVERIFY(book->modified());
        QCOMPARE(book->undoRecall().status, Status::Done);
        QCOMPARE(held(), beforeRecall);
        QVERIFY(!book->canUndo() && book->modified());
        QCOMPARE(book->lastRecalled(), S("kept"));
        QCOMPARE(book->undoRecall().status, Status::BadRequest);
    }

    // What the device refused is listed and logged, and kept nowhere; the rest is applied.
    void refused()
    {
        QVERIFY(connectTo("KX2"));
        panel()->applyControls(values("mic1.gain=30;mic2.pad=1;headphone.volume=-10"));
        QCOMPARE(book->save("a").status, Status::Done);
        panel()->applyControls(values("mic1.gain=20;mic2.pad=0;headphone.volume=-20"));
        QTRY_COMPARE(DeviceFixture::onDisk("kx2.ini", "Dial/Mic1Value"), S("11"));
        QVERIFY(fixture->sim().command({ "fail", "io_write_usb_control", "always" }));
        const PresetBook::Outcome outcome = book->recall("a");
        QCOMPARE(outcome.status, Status::DeviceFailed);
        QCOMPARE(outcome.refused, L({ "mic1.gain", "mic2.pad" }));
        QVERIFY(outcome.message.contains("mic1.gain, mic2.pad"));
        QVERIFY(fixture->log().contains("Preset controls refused by the device: mic1.gain, mic2.pad"));
        QCOMPARE(panel()->controlValues().value("mic1.gain"), 20);
        QVERIFY(book->modified());
        QTRY_COMPARE(DeviceFixture::onDisk("kx2.ini", "Dial/HeadphoneValue"), S("-10"));
        QCOMPARE(DeviceFixture::onDisk("kx2.ini", "Dial/Mic1Value"), S("11"));
        QCOMPARE(DeviceFixture::onDisk("kx2.ini", "Button/Mic220dBIsChecked"), S("false"));
    }

    void otherModel_data()
    {
        addColumn<S>("model");
        addColumn<QByteArray>("file");
        addColumn<L>("skipped");
        addColumn<S>("applied");
        newRow("KX2's on a KX1") << "KX1" << QByteArray("[Preset]\nmodel=KX2\nmic1.gain=20\nmic2.gain=30\nspeaker.volume=-5\nheadphone.volume=-7\nmic1.48v=1\n")
                                 << L { "mic2.gain", "speaker.volume" } << "mic1.gain=20;headphone.volume=-7;mic1.48v=1";
        // A gain below the KX2's shown range is skipped, not refused.
        newRow("KX1's on a KX2") << "KX2" << QByteArray("[Preset]\nmodel=KX1\nmic1.gain=5\nmic1.inst=1\nheadphone.phone=-3\n")
                                 << L { "mic1.gain", "mic1.inst" } << "headphone.phone=-3;mic1.gain=9";
    }

    // A preset copied in from another model: what both have is applied, the rest listed.
    void otherModel()
    {
        QFETCH(S, model);
        QFETCH(QByteArray, file);
        QFETCH(L, skipped);
        QFETCH(S, applied);

        QVERIFY(connectTo(model));
        writeFile(presetPath("copied"), file);
        QCOMPARE(book->names(), L { "copied" });
        const PresetBook::Outcome outcome = book->recall("copied");
        QCOMPARE(outcome.status, Status::Done);
        QCOMPARE(outcome.skipped, skipped);
        QVERIFY(outcome.message.contains(skipped.join(", ")));
        const QMap<S, int> live = panel()->controlValues(), wanted = values(applied);
        for (auto [name, value] : wanted.asKeyValueRange())
            QCOMPARE(live.value(name), value);
    }

    void damaged_data()
    {
        addColumn<QByteArray>("file");
        addColumn<S>("why");
        const QByteArray good = "mic1.48v=1\n";
        newRow("no ini") << QByteArray("\x89PNG\r\n\x1a\n\0\0[Preset\nmodel\x01=KX2", 22) << "line 1 is not ini";
        newRow("a line not ini") << QByteArray("[Preset]\nmodel=KX2\n" + good + "[Dial\n") << "line 4 is not ini";
        newRow("no model") << QByteArray("[Other]\nmodel=KX2\n" + good) << "no [Preset] group";
        newRow("not a number") << QByteArray("[Preset]\nmodel=KX2\n" + good + "headphone.volume=loud\n") << "headphone.volume is not a whole number";
        newRow("a fraction") << QByteArray("[Preset]\nmodel=KX2\n" + good + "headphone.volume=-3.5\n") << "not a whole number";
        newRow("out of range") << QByteArray("[Preset]\nmodel=KX2\n" + good + "speaker.volume=7\n") << "speaker.volume=7 is outside -80 to 6";
        newRow("switch out of range") << QByteArray("[Preset]\nmodel=KX2\n" + good + "mic1.pad=2\n") << "mic1.pad=2 is outside 0 to 1";
        newRow("unreadable") << QByteArray() << "cannot be read";
    }

    // Refused whole, with the file named and the fault: nothing reaches the device.
    void damaged()
    {
        QFETCH(QByteArray, file);
        QFETCH(S, why);

        QVERIFY(connectTo("KX2"));
        if (file.isEmpty())
            QVERIFY(QDir().mkpath(presetPath("bad")));
        else
            writeFile(presetPath("bad"), file);
        fixture->sim().clearRecord();
        const PresetBook::Outcome outcome = book->recall("bad");
        QCOMPARE(outcome.status, Status::BadRequest);
        QVERIFY2(outcome.message.contains(QDir::toNativeSeparators(presetPath("bad"))) && outcome.message.contains(why), qPrintable(outcome.message));
        QVERIFY(fixture->log().contains("Preset refused: " + outcome.message));
        for (const QJsonObject& call : fixture->sim().calls())
            QCOMPARE(call["code"].toInteger(), iocode::kGetMeterData);
        QCOMPARE(panel()->controlValues().value("mic1.48v"), 0);
        QVERIFY(book->lastRecalled().isEmpty() && !book->canUndo());
    }

    void requests_data()
    {
        addColumn<S>("op");
        addColumn<S>("name");
        addColumn<S>("to");
        addColumn<int>("status");
        addColumn<S>("why");
        addColumn<L>("names");
        const auto add = [](const char* tag, const S& op, const S& name, const S& to, Status status, const S& why, const L& names) {
            newRow(tag) << op << name << to << int(status) << why << names;
        };
        const L kept = { "a", "B" };
        const S chars = "cannot hold";
        add("save empty", "save", " ", "", Status::BadRequest, "needs a name", kept);
        add("save a path", "save", "a/b", "", Status::BadRequest, chars, kept);
        add("save backslash", "save", "a\\b", "", Status::BadRequest, chars, kept);
        add("save colon", "save", "c:x", "", Status::BadRequest, chars, kept);
        add("save a dot first", "save", ".a", "", Status::BadRequest, "start with a dot", kept);
        add("save 65 long", "save", S(65, 'x'), "", Status::BadRequest, "at most 64", kept);
        add("save unconnected", "save", S(64, 'x'), "", Status::DeviceFailed, "No interface", kept);
        add("recall missing", "recall", "c", "", Status::BadRequest, "no preset named \"c\"", kept);
        add("recall unconnected", "recall", "a", "", Status::DeviceFailed, "No interface", kept);
        add("rename onto another", "rename", "a", "B", Status::BadRequest, "exists already", kept);
        add("rename to a path", "rename", "a", "x/y", Status::BadRequest, chars, kept);
        add("rename missing", "rename", "c", "d", Status::BadRequest, "no preset named", kept);
        add("rename", "rename", "a", "c", Status::Done, "", { "B", "c" });
        add("remove missing", "remove", "c", "", Status::BadRequest, "no preset named", kept);
        add("remove", "remove", "B", "", Status::Done, "", { "a" });
        add("undo nothing", "undo", "", "", Status::BadRequest, "no recall to undo", kept);
    }

    // Without a device: names are checked before anything is touched, and
    // only a good request changes the list.
    void requests()
    {
        QFETCH(S, op);
        QFETCH(S, name);
        QFETCH(S, to);
        QFETCH(int, status);
        QFETCH(S, why);
        QFETCH(L, names);

        for (const char* each : { "a", "B" })
            QVERIFY(PresetFile(presetPath(each)).write("KX2", values("headphone.volume=-5")));
        const QMap<S, std::function<PresetBook::Outcome()>> ops = {
            { "save", [&] { return book->save(name); } }, { "recall", [&] { return book->recall(name); } },
            { "rename", [&] { return book->rename(name, to); } }, { "remove", [&] { return book->remove(name); } },
            { "undo", [&] { return book->undoRecall(); } },
        };
        const PresetBook::Outcome outcome = ops[op]();
        QCOMPARE(int(outcome.status), status);
        QVERIFY2(outcome.message.contains(why), qPrintable(outcome.message));
        QCOMPARE(book->names(), names);
        QCOMPARE(QDir(PresetBook::folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), names.size());
    }

    // The menus as a user drives them: the main window's by the keyboard,
    // the tray's after its described entries; what fails is told.
    void menus()
    {
        Settings dialog;
        MainWindow window;
        window.setSettings(&dialog);
        PresetBook shared(window.deviceSession());
        auto* menu = new PresetMenu(&shared, &window, &window);
        window.menuBar()->addMenu(menu);
        TrayIcon bare, tray;
        auto* trayMenu = new PresetMenu(&shared, nullptr);
        tray.appendMenu(trayMenu);
        L entries;
        for (QAction* each : bare.contextMenu()->actions())
            entries << each->text();
        entries << "" << "&Presets";
        L shown;
        for (QAction* each : tray.contextMenu()->actions())
            shown << each->text();
        QCOMPARE(shown, entries);

        QVERIFY(fixture->startSim({ "--model", "KX2" }));
        window.callDriverTimerCallback();
        ModelPanel* live = window.deviceSession()->panel();
        QVERIFY(live);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(QApplication::activePopupWidget(), menu);
        answer("podcast");
        QTest::keyClick(menu, Qt::Key_S);
        QTRY_COMPARE(shared.names(), L { "podcast" });
        QCOMPARE(menu->title(), S("&Presets: podcast"));
        live->applyControls({ { "headphone.volume", -20 } });
        QCOMPARE(trayMenu->title(), S("&Presets: podcast *"));
        emit trayMenu->aboutToShow();
        trayMenu->actions().first()->trigger();
        QCOMPARE(live->controlValues().value("headphone.volume"), -80);
        QCOMPARE(menu->title(), S("&Presets: podcast"));
        QVERIFY(trayMenu->actions().first()->isChecked());
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(live->controlValues().value("headphone.volume"), -20);

        // A bad name, and a refused recall, are told and change nothing.
        answer("a/b");
        answer();
        for (QAction* each : menu->actions())
            each->text() == "&Save…" ? each->trigger() : void();
        QCOMPARE(told.size(), 1);
        QVERIFY(told.first().contains("cannot hold"));
        QVERIFY(fixture->sim().command({ "fail", "io_set_mixer", "always" }));
        answer();
        trayMenu->actions().first()->trigger();
        QCOMPARE(told.size(), 2);
        QVERIFY(told.last().contains("headphone.volume"));
        QCOMPARE(shared.names(), L { "podcast" });
        // A file copied into the folder shows when the menu opens next.
        QVERIFY(QFile::copy(PresetBook::folder() + "/podcast.ini", PresetBook::folder() + "/copied.ini"));
        emit trayMenu->aboutToShow();
        QCOMPARE(trayMenu->actions().first()->text(), S("copied"));
        delete static_cast<QWidget*>(live);
    }

private:
    // Acts on the next modal dialog once it shows: an input dialog gets the
    // text and is accepted; a message box is kept in told and answered yes.
    void answer(const S& text = {})
    {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, poll, text] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            poll->deleteLater();
            poll->stop();
            if (auto* input = qobject_cast<QInputDialog*>(modal)) {
                input->setTextValue(text);
                input->accept();
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                told << box->text();
                box->button(box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok)->click();
            }
        });
        poll->start(10);
    }

    bool connectTo(const S& model)
    {
        if (!fixture->startSim({ "--model", model }))
            return false;
        session->callDriverTimerCallback();
        return panel() && panel()->modelName() == model;
    }

    ModelPanel* panel() const { return session->panel(); }

    // The device's state the panel drives, and the model's file once written.
    L held()
    {
        const QJsonObject state = fixture->sim().state();
        L out;
        for (const char* key : { "micGain", "phantom48v", "pad20db", "instrument", "mixer" })
            out << QJsonDocument(state[key].toObject()).toJson(QJsonDocument::Compact);
        // The panel writes at most 50 ms after a change.
        const auto writing = [this] {
            const QList<QTimer*> timers = panel()->findChildren<QTimer*>();
            return std::any_of(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive() && t->isSingleShot(); });
        };
        if (!QTest::qWaitFor([&] { return !writing(); }, 1000))
            out << "still writing";
        QFile file(DeviceFixture::iniPath(panel()->modelName().toLower() + ".ini"));
        const QByteArray written = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        out << written;
        return out;
    }

    std::unique_ptr<DeviceFixture> fixture;
    std::unique_ptr<SettingsEngine> engine;
    std::unique_ptr<DeviceSession> session;
    std::unique_ptr<PresetBook> book;
    L told;
};

QTEST_MAIN(TestPresets)
#include "tst_presets.moc"
