// The Windows program under Wine (scripts/wine-panel.sh: its real device
// and pipe calls reach kestrum-sim through the Wine bridge) and the Linux
// program, each against a fresh sim and used alike on one X display with
// trayer and no window manager (beside openbox, Wine's docked tray icon
// takes no clicks): the first connect, the tray icon and a click on it, a
// knob turned by the mouse wheel, a second copy refused, an ASIO request
// with a settings change and OK, an unplug and a plug. Both builds must make
// the same driver calls in the same order with the same bytes, and leave
// the same ini files, the Windows one under the Wine user's profile.

#include "tests/support/Retried.h"
#include "tests/support/RunningProgram.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kRoot = QStringLiteral(KESTRUM_ROOT);
constexpr qint64 kMeterRead = 0xFFDC2074, kPidRead = 0xFFDC2084;

// Runs a program to its end (at most 60 s): its output, and its exit code (-1: crashed or hung).
QString run(const QString& program, const QStringList& arguments, const QProcessEnvironment& env, int* code = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(60000);
    if (code)
        *code = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString xdotool(const QStringList& arguments)
{
    return run("xdotool", arguments, QProcessEnvironment::systemEnvironment());
}

// One number of a window's geometry: X, Y, WIDTH or HEIGHT; 0 when it is gone.
int geometry(const QString& window, const QString& key)
{
    return xdotool({ "getwindowgeometry", "--shell", window }).section('\n' + key + '=', 1).section('\n', 0, 0).toInt();
}

QString window(const QString& by, const QString& pattern)
{
    return xdotool({ "search", "--onlyvisible", by, pattern }).section('\n', 0, 0);
}


} // namespace

class TestWinePanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "runs on an X display (xvfb-run)");
        QVERIFY(QDir().mkpath(root.filePath("run")) && QFile::setPermissions(root.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        for (const char* name : { "XDG_RUNTIME_DIR=run", "HOME=home", "XDG_DATA_HOME=data", "XDG_CONFIG_HOME=config", "WINEPREFIX=wine" })
            env.insert(QString(name).section('=', 0, 0), root.filePath(QString(name).section('=', 1)));
        env.insert("QT_QPA_PLATFORM", "xcb");
        // Now and then trayer's first window stays unmapped; a second start shows it.
        const auto startTray = [this] {
            notificationArea.reset();
            notificationArea = std::make_unique<RunningProgram>("trayer", QStringList { "--edge", "top", "--align", "right",
                "--widthtype", "request", "--height", "32", "--transparent", "false" }, env);
        };
        QVERIFY2(retried(startTray, [] { return !window("--class", "^trayer$").isEmpty(); }, 10000),
            qPrintable("trayer showed no notification area: " + notificationArea->process.errorString() + ' '
                + QString::fromLocal8Bit(notificationArea->process.readAllStandardError())));
    }

    void sameCallsAndFiles_data()
    {
        QTest::addColumn<QString>("model");
        for (const char* model : { "KX1", "KX2", "KQ" })
            QTest::newRow(model) << model;
    }

    void sameCallsAndFiles()
    {
        QFETCH(QString, model);
        QStringList calls[2], files[2];
        for (const bool windows : { false, true }) {
            runScenario(model, windows, calls[windows]);
            if (QTest::currentTestFailed())
                return;
            panel.reset();
            for (const QString& name : { model.toLower() + ".ini", QString("setting.ini") }) {
                QFile file(dataDir(windows).filePath(name));
                QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
                files[windows] << entries(name, QString::fromUtf8(file.readAll()));
            }
        }
        QCOMPARE(calls[true], calls[false]);
        QCOMPARE(files[true], files[false]);
    }

private:
    // The scenario, on a fresh sim as the model and with no ini files; the
    // calls up to the unplug. After it, when the panel's meter timer finds
    // the device again before its PID poll gives up, it sends its controls
    // once more: a race, which the bridge's slower return after the plug
    // decides otherwise than the Linux build does.
    void runScenario(const QString& model, bool windows, QStringList& calls)
    {
        panel.reset();
        sim.reset();
        QVERIFY(dataDir(windows).removeRecursively());
        sim = std::make_unique<RunningProgram>(kRoot + "/build/sim/kestrum-sim", QStringList { "--quiet", "--model", model }, env);
        QTRY_VERIFY_WITH_TIMEOUT(simDoes({ "status" }), 10000);
        const QString program = windows ? kRoot + "/scripts/wine-panel.sh" : kRoot + "/build/app/kestrum-panel";
        // The Wine script ends its program and Wine with it, which takes a while.
        panel = std::make_unique<RunningProgram>(program, QStringList(), env, 30000);
        // The first Windows run makes the Wine prefix.
        QVERIFY2(settles(0, 180000), "no first connect");

        // At start the icon alone, in the notification area; a click on it opens the main window.
        QString icon, mainWindow;
        QTRY_VERIFY_WITH_TIMEOUT(!(icon = trayIcon()).isEmpty(), 30000);
        QVERIFY(xdotool({ "search", "--onlyvisible", "--name", "^Kestrum " }).isEmpty());
        // A busy desktop drops a click now and then.
        for (int click = 0; click < 3; ++click) {
            xdotool({ "mousemove", "--window", icon, "8", "8", "click", "1" });
            if (QTest::qWaitFor([&] { return !(mainWindow = window("--name", "^Kestrum " + model + " - FW: ")).isEmpty(); }, 5000))
                break;
        }
        QVERIFY2(!mainWindow.isEmpty(), "the icon opened no main window");
        QVERIFY2(turnKnob(mainWindow), "no knob took the wheel");

        int code = -2;
        if (windows)
            run("/usr/lib/wine/wine64", { kRoot + "/build-windows-app/kestrum-panel.exe" }, env, &code);
        else
            run(kRoot + "/build/app/kestrum-panel", {}, env, &code);
        QCOMPARE(code, 0);
        QCOMPARE(panel->process.state(), QProcess::Running);

        // An ASIO request shows the settings; a change applies at once, OK
        // hides them and tells the ASIO driver.
        int before = steadyCalls().size();
        QVERIFY(simDoes({ "asio-request", "0", "0", "0", "0", "1" }));
        QString settings;
        QTRY_VERIFY_WITH_TIMEOUT(!(settings = window("--name", "^Settings$")).isEmpty(), 10000);
        xdotool({ "mousemove", "--window", settings, "1", "1" });
        xdotool({ "windowfocus", "--sync", settings });
        xdotool({ "key", "Down" });
        QVERIFY2(settles(before, 20000), "no settings sequence");
        xdotool({ "key", "Return" });
        QTRY_COMPARE_WITH_TIMEOUT(report("state")["asio"]["notices"].toInt(), 1, 10000);
        QTRY_VERIFY(window("--name", "^Settings$").isEmpty());

        calls = steadyCalls();
        QVERIFY(simDoes({ "unplug" }) && simDoes({ "plug" }));
        // A new panel reads the firmware into the title again.
        QVERIFY2(QTest::qWaitFor([&] { return steadyCalls().filter(QRegularExpression("^ffdc20a0 ")).size() == 2; }, 30000),
            "no connect after the plug");
        QVERIFY(settles(calls.size(), 10000));
    }

    // Wheel steps along the main window's upper half until a control
    // answers with a driver call.
    bool turnKnob(const QString& mainWindow)
    {
        const int before = steadyCalls().size();
        const int width = geometry(mainWindow, "WIDTH"), height = geometry(mainWindow, "HEIGHT");
        for (int x = 10; x < width; x += 20) {
            xdotool({ "mousemove", "--window", mainWindow, QString::number(x), QString::number(height * 35 / 100), "click", "4" });
            if (QTest::qWaitFor([&] { return steadyCalls().size() > before; }, 1000))
                return settles(before, 10000);
        }
        return false;
    }

    // An ini file's entries as "file [group]key=value", sorted: Windows
    // keeps the order keys were first written in, Linux sorts them.
    static QStringList entries(const QString& name, const QString& text)
    {
        QStringList result;
        QString group;
        for (const QString& line : text.split(QRegularExpression("[\r\n]+"), Qt::SkipEmptyParts))
            line.startsWith('[') ? void(group = line) : result.append(name + ' ' + group + line);
        result.sort();
        return result;
    }

    // The program's window docked in trayer's strip at the top right: the
    // Linux program's own, or the one Wine's explorer.exe docks for it, not
    // the explorer.exe strip two pixels wide beside it.
    static QString trayIcon()
    {
        const int strip = geometry(window("--class", "^trayer$"), "X");
        for (const QString& candidate : xdotool({ "search", "--onlyvisible", "--class", "^(kestrum-panel|explorer\\.exe)$" }).split('\n')) {
            if (geometry(candidate, "X") >= strip && geometry(candidate, "Y") < 32 && geometry(candidate, "WIDTH") > 8)
                return candidate;
        }
        return {};
    }

    QDir dataDir(bool windows) const
    {
        if (!windows)
            return QDir(root.filePath("data/kestrum-panel"));
        const QDir users(root.filePath("wine/drive_c/users"));
        const QStringList names = users.entryList({ qEnvironmentVariable("USER", "root") });
        return QDir(users.filePath(names.value(0, "?") + "/AppData/Roaming/kestrum-panel"));
    }

    bool simDoes(const QStringList& command)
    {
        int code = -1;
        run(kRoot + "/build/sim/kestrum-sim", command, env, &code);
        return code == 0;
    }

    QJsonValue report(const QString& part)
    {
        return QJsonDocument::fromJson(run(kRoot + "/build/sim/kestrum-sim", { "report" }, env).toUtf8())[part];
    }

    // The calls the panel makes once per event, as "code input": the meter
    // and PID reads repeat on timers and are left out, as are opens and
    // closes. quietTicks: the meter reads since the last of them.
    QStringList steadyCalls(int* quietTicks = nullptr)
    {
        QStringList calls;
        int ticks = 0;
        for (const QJsonValue call : report("calls").toArray()) {
            const qint64 code = call["kind"] == "call" ? call["code"].toInteger() : kPidRead;
            ticks = code == kMeterRead ? ticks + 1 : code == kPidRead ? ticks : 0;
            if (ticks == 0 && code != kPidRead)
                calls << QString::number(code, 16) + ' ' + call["in"].toString();
        }
        if (quietTicks)
            *quietTicks = ticks;
        return calls;
    }

    // More calls than before, then three meter reads with nothing between.
    bool settles(int before, int ms)
    {
        return QTest::qWaitFor([&] {
            int ticks = 0;
            return steadyCalls(&ticks).size() > before && ticks >= 3;
        }, ms);
    }

    QTemporaryDir root;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Destroyed in reverse: the program first, the sim and the display's helpers last.
    std::unique_ptr<RunningProgram> notificationArea;
    std::unique_ptr<RunningProgram> sim;
    std::unique_ptr<RunningProgram> panel;
};

QTEST_GUILESS_MAIN(TestWinePanel)
#include "tst_wine_panel.moc"
