// What only a real desktop shows: the program on an X display (xvfb-run
// starts Xvfb for this suite) with the openbox window manager and the trayer
// notification area, against kestrum-sim as a KX2, used with xdotool's mouse
// and keys. Each step leaves a screenshot in KESTRUM_SCREENSHOT_DIR.

#include "tests/support/DeviceFixture.h"
#include "tests/support/Retried.h"
#include "tests/support/RunningProgram.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <functional>
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

QStringList windows(const QString& by, const QString& pattern)
{
    return xdotool({ "search", "--onlyvisible", by, pattern }).split('\n', Qt::SkipEmptyParts);
}

// The environment of a program on the display, in that language.
QProcessEnvironment inLanguage(const QString& language)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LANGUAGE", language);
    return env;
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
        windowManager = std::make_unique<RunningProgram>("openbox", QStringList());
        // The window manager is ready once it has published its desktops.
        QTRY_VERIFY_WITH_TIMEOUT(!xdotool({ "get_num_desktops" }).isEmpty(), 10000);
        // Now and then trayer's first window stays unmapped beside openbox; a
        // second start shows it.
        const auto startTray = [this] {
            notificationArea.reset();
            notificationArea = std::make_unique<RunningProgram>("trayer", QStringList { "--edge", "top", "--align", "right", "--widthtype",
                "request", "--height", "32", "--transparent", "false", "--tint", "0x404040" });
        };
        QVERIFY2(retried(startTray, [] { return !windows("--class", "trayer").isEmpty(); }), "trayer showed no notification area");
        QVERIFY(fixture.startSim({ "--model", "KX2" }));
        // The interface language is pinned, so the run reads the same on any machine.
        panel = std::make_unique<RunningProgram>(KESTRUM_PANEL_PATH, QStringList(), inLanguage("zh_CN"));
    }

    // At start the program shows its tray icon alone; a click opens the main
    // window, and closing that only hides it.
    void iconOpensMainWindow()
    {
        findTrayIcon();
        // Detection reads the firmware first.
        QTRY_VERIFY_WITH_TIMEOUT(!fixture.sim().calls(0xFFDC20A0).isEmpty(), 10000);
        QCOMPARE(panelWindows(), QStringList { trayIcon });
        screenshot("started");

        clickTrayIcon("1");
        QTRY_VERIFY_WITH_TIMEOUT(!mainWindow().isEmpty(), 5000);
        screenshot("main-window");

        // The window manager may still be busy with the activation when the
        // key comes, and then drops it: ask again.
        const auto close = [this] {
            xdotool({ "windowactivate", "--sync", mainWindow() });
            xdotool({ "key", "alt+F4" });
        };
        QVERIFY(retried(close, [this] { return mainWindow().isEmpty(); }) && panelWindows().contains(trayIcon));
        QCOMPARE(panel->process.state(), QProcess::Running);
    }

    void menuSettingsAndQuit()
    {
        chooseFromMenu(2);
        QTRY_VERIFY_WITH_TIMEOUT(!windows("--name", "^Settings$").isEmpty(), 5000);
        screenshot("settings");
        chooseFromMenu(1);
        QTRY_COMPARE_WITH_TIMEOUT(panel->process.state(), QProcess::NotRunning, 10000);
        QCOMPARE(panel->process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel->process.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(panelWindows().isEmpty(), 5000);
    }

    // A new start gets past the marker the quit released; on this system the
    // menu leaves the Windows shell's entries out, so its last entry is the
    // main window's.
    void restartAfterQuit()
    {
        panel = std::make_unique<RunningProgram>(KESTRUM_PANEL_PATH, QStringList(), inLanguage("en_US"));
        findTrayIcon();
        chooseFromMenu(3);
        QTRY_VERIFY_WITH_TIMEOUT(!mainWindow().isEmpty(), 5000);
        screenshot("english-main-window");
    }

private:
    void screenshot(const QString& step)
    {
        const QString name = QString("%1-%2.png").arg(++screenshots, 2, 10, QChar('0')).arg(step);
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(QDir(KESTRUM_SCREENSHOT_DIR).filePath(name)));
    }

    QStringList panelWindows() { return windows("--class", "kestrum-panel"); }
    QString mainWindow() { return windows("--name", "^Kestrum KX2 - FW: ").value(0); }

    // At start the icon's own window, embedded in the notification area, is
    // the program's only one.
    void findTrayIcon()
    {
        QTRY_COMPARE_WITH_TIMEOUT(panelWindows().size(), 1, 10000);
        trayIcon = panelWindows().first();
    }

    void clickTrayIcon(const QString& button) { xdotool({ "mousemove", "--window", trayIcon, "8", "8", "click", button }); }

    // Opens the menu with a right click, sent again when a busy window manager
    // dropped it, and chooses an entry by keys: the version and the separator
    // are passed over, so the n-th press of Down reaches the n-th entry that
    // can be chosen.
    void chooseFromMenu(int entry)
    {
        const qsizetype before = panelWindows().size();
        QVERIFY(retried([this] { clickTrayIcon("3"); }, [&] { return panelWindows().size() > before; }));
        screenshot("menu");
        xdotool(QStringList { "key", "--delay", "100" } + QStringList(entry, "Down") + QStringList { "Return" });
    }

    // Destroyed in reverse: the program first, the display's helpers and the sim last.
    DeviceFixture fixture;
    std::unique_ptr<RunningProgram> windowManager;
    std::unique_ptr<RunningProgram> notificationArea;
    std::unique_ptr<RunningProgram> panel;
    QString trayIcon;
    int screenshots = 0;
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
