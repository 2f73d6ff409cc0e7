// What only a real desktop shows: the program on an X display (xvfb-run
// starts Xvfb for this suite) with the openbox window manager and the trayer
// notification area, against kestrum-sim as a KX2, used with xdotool's mouse
// and keys. Each step leaves a screenshot in KESTRUM_SCREENSHOT_DIR.

#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <memory>

namespace {

// Runs xdotool to the end and returns what it printed.
QString xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start("xdotool", arguments);
    if (!process.waitForFinished(5000))
        qWarning() << "xdotool" << arguments << "did not finish:" << process.errorString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QStringList visibleWindows(const QString& by, const QString& pattern)
{
    return xdotool({ "search", "--onlyvisible", by, pattern }).split('\n', Qt::SkipEmptyParts);
}

QRect geometryOf(const QString& window)
{
    // "Position: 1,20 (screen: 0)" and "Geometry: 762x320".
    const QString text = xdotool({ "getwindowgeometry", window });
    const QRegularExpressionMatch at = QRegularExpression("Position: (-?\\d+),(-?\\d+)").match(text);
    const QRegularExpressionMatch size = QRegularExpression("Geometry: (\\d+)x(\\d+)").match(text);
    return { at.captured(1).toInt(), at.captured(2).toInt(), size.captured(1).toInt(), size.captured(2).toInt() };
}

// A program on the display that lives as long as the suite.
std::unique_ptr<QProcess> startProgram(const QString& program, const QStringList& arguments,
                                       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted())
        qWarning() << "cannot start" << program << process->errorString();
    return process;
}

void stopProgram(std::unique_ptr<QProcess>& process)
{
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000))
            process->kill();
        process->waitForFinished();
    }
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "runs on an X display (xvfb-run)");
        QDir(KESTRUM_SCREENSHOT_DIR).removeRecursively();
        QVERIFY(QDir().mkpath(KESTRUM_SCREENSHOT_DIR));
        windowManager = startProgram("openbox", {});
        // The window manager is ready once it has published its desktops.
        QTRY_VERIFY_WITH_TIMEOUT(!xdotool({ "get_num_desktops" }).isEmpty(), 10000);
        // Now and then trayer's first window stays unmapped beside openbox; a
        // second start shows it.
        bool trayShown = false;
        for (int attempt = 0; attempt < 3 && !trayShown; ++attempt) {
            stopProgram(notificationArea);
            notificationArea = startProgram("trayer", { "--edge", "top", "--align", "right", "--widthtype", "request",
                                                        "--height", "32", "--transparent", "false", "--tint", "0x404040" });
            trayShown = QTest::qWaitFor([] { return !visibleWindows("--class", "trayer").isEmpty(); }, 3000);
        }
        QVERIFY2(trayShown, "trayer did not show its notification area");
        sim = std::make_unique<SimProcess>(QStringList { "--model", "KX2" });
        QVERIFY(sim->waitUntilReady());
        startPanel("zh_CN");
    }

    void cleanupTestCase()
    {
        stopProgram(panel);
        sim.reset();
        stopProgram(notificationArea);
        stopProgram(windowManager);
    }

    void atStartOnlyTheTrayIconIsShown()
    {
        QTRY_VERIFY_WITH_TIMEOUT(trayIcon().isValid(), 10000);
        // Detection is over once the firmware was read.
        QTRY_VERIFY_WITH_TIMEOUT(!sim->calls(0xFFDC20A0).isEmpty(), 10000);
        QCOMPARE(panelWindows().size(), 1);
        screenshot("started");
    }

    void aClickOnTheIconOpensTheMainWindow()
    {
        clickTrayIcon("1");
        QTRY_VERIFY_WITH_TIMEOUT(!mainWindow().isEmpty(), 5000);
        QCOMPARE(xdotool({ "getwindowname", mainWindow() }), "Kestrum KX2 - FW: " + sim->state()["firmware"].toString());
        screenshot("main-window");
    }

    void closingTheWindowOnlyHidesIt()
    {
        // The window manager may still be busy with the activation when the
        // key comes, and then drops it: ask again.
        bool hidden = false;
        for (int attempt = 0; attempt < 3 && !hidden; ++attempt) {
            xdotool({ "windowactivate", "--sync", mainWindow() });
            xdotool({ "key", "alt+F4" });
            hidden = QTest::qWaitFor([this] { return mainWindow().isEmpty(); }, 3000);
        }
        QVERIFY(hidden);
        QVERIFY(trayIcon().isValid());
        QCOMPARE(panel->state(), QProcess::Running);
        screenshot("window-closed");
    }

    void theMenuOpensTheSettingsDialog()
    {
        chooseFromMenu(2);
        QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows("--name", "^Settings$").isEmpty(), 5000);
        screenshot("settings");
    }

    void quittingFromTheMenuEndsTheProgram()
    {
        chooseFromMenu(1);
        QTRY_COMPARE_WITH_TIMEOUT(panel->state(), QProcess::NotRunning, 10000);
        QCOMPARE(panel->exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(panelWindows().isEmpty(), 5000);
    }

    // A new start gets past the marker the quit released; the sound panel's
    // entry finds no control.exe here and says so in an English box.
    void aNewStartOnAnEnglishDesktopSpeaksEnglish()
    {
        startPanel("en_US");
        QTRY_VERIFY_WITH_TIMEOUT(trayIcon().isValid(), 10000);
        chooseFromMenu(5);
        QString box;
        QTRY_VERIFY_WITH_TIMEOUT(!(box = visibleWindows("--name", "^Error$").value(0)).isEmpty(), 5000);
        screenshot("english-error-box");
        xdotool({ "windowactivate", "--sync", box });
        xdotool({ "key", "Return" });
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindows("--name", "^Error$").isEmpty(), 5000);
        chooseFromMenu(1);
        QTRY_COMPARE_WITH_TIMEOUT(panel->state(), QProcess::NotRunning, 10000);
    }

private:
    // The interface language is pinned, so the run reads the same on any machine.
    void startPanel(const QString& language)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LANGUAGE", language);
        panel = startProgram(KESTRUM_PANEL_PATH, {}, env);
    }

    void screenshot(const QString& step)
    {
        const QString name = QString("%1-%2.png").arg(++screenshots, 2, 10, QChar('0')).arg(step);
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(QDir(KESTRUM_SCREENSHOT_DIR).filePath(name)));
    }

    QStringList panelWindows() { return visibleWindows("--class", "kestrum-panel"); }
    QString mainWindow() { return visibleWindows("--name", "^Kestrum KX2 - FW: ").value(0); }

    // The icon's own window, embedded in the notification area; the tray icon
    // object's geometry() is not reliable there.
    QRect trayIcon()
    {
        for (const QString& window : panelWindows()) {
            const QRect geometry = geometryOf(window);
            if (geometry.width() <= 64 && geometry.height() <= 64 && geometry.top() < 32)
                return geometry;
        }
        return {};
    }

    void clickTrayIcon(const QString& button)
    {
        const QPoint centre = trayIcon().center();
        xdotool({ "mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", button });
    }

    // Opens the menu with a right click and chooses an entry by keys: the
    // version and the separator are passed over, so the n-th press of Down
    // reaches the n-th entry that can be chosen.
    void chooseFromMenu(int entry)
    {
        const qsizetype before = panelWindows().size();
        clickTrayIcon("3");
        QTRY_VERIFY_WITH_TIMEOUT(panelWindows().size() > before, 5000);
        screenshot("menu");
        xdotool(QStringList { "key", "--delay", "100" } + QStringList(entry, "Down") + QStringList { "Return" });
    }

    TestEnvironment environment;
    std::unique_ptr<QProcess> windowManager;
    std::unique_ptr<QProcess> notificationArea;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<QProcess> panel;
    int screenshots = 0;
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
