// The program used as a person would, on a real X display: an Xvfb server
// (xvfb-run starts it for this suite), the openbox window manager, the
// trayer notification area, the real kestrum-panel against kestrum-sim as a
// KX2, and xdotool's mouse and keys. Each step leaves a screenshot in
// KESTRUM_SCREENSHOT_DIR.

#include "driver/KestrumIoControl.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

const char* const kPanelClass = "kestrum-panel";

// A helper program on the display that lives as long as the suite.
std::unique_ptr<QProcess> startHelper(const QString& program, const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted())
        qWarning() << "cannot start" << program << process->errorString();
    return process;
}

void stopHelper(QProcess* process)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(3000)) {
        process->kill();
        process->waitForFinished();
    }
}

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
    const QRegularExpressionMatch position = QRegularExpression("Position: (-?\\d+),(-?\\d+)").match(text);
    const QRegularExpressionMatch size = QRegularExpression("Geometry: (\\d+)x(\\d+)").match(text);
    if (!position.hasMatch() || !size.hasMatch())
        return {};
    return { position.captured(1).toInt(), position.captured(2).toInt(), size.captured(1).toInt(), size.captured(2).toInt() };
}

double gainOf(int dB)
{
    return KestrumIoControl::dbToValue(dB);
}

bool sameGain(double a, double b)
{
    return std::abs(a - b) <= 1e-6 * std::max(1.0, std::abs(b));
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void atStartOnlyTheTrayIconIsShown();
    void aClickOnTheIconOpensTheMainWindow();
    void draggingTheHeadphoneKnobUpRaisesTheHeadphoneVolume();
    void closingTheWindowOnlyHidesIt();
    void anUnpluggedInterfaceComesBackWhenPluggedIn();
    void theMenuOpensTheSettingsDialog();
    void quittingFromTheMenuEndsTheProgram();
    void aNewStartAfterQuittingSucceeds();
    void anEnglishDesktopGetsTheEnglishTexts();

private:
    void startPanel(const QString& language = QStringLiteral("zh_CN"));
    void screenshot(const QString& step);
    QString panelLog();
    QStringList panelWindows() { return visibleWindows("--class", kPanelClass); }
    QString mainWindow();
    QRect trayIcon();
    void clickTrayIcon(const QString& button);
    QList<int> menuEntryRows(const QRect& menu);
    void chooseFromMenu(const QString& entry);
    QString newWindow(const QStringList& before);
    int storedHeadphoneLevel();
    QList<double> headphoneGains();
    bool panelShown();

    TestEnvironment environment;
    std::unique_ptr<QProcess> windowManager;
    std::unique_ptr<QProcess> notificationArea;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<QProcess> panel;
    QString firmware;
    QString log;
    int screenshotCount = 0;
};

void TestDesktop::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "runs on an X display (xvfb-run)");
    QVERIFY(QDir().mkpath(KESTRUM_SCREENSHOT_DIR));
    for (const QString& old : QDir(KESTRUM_SCREENSHOT_DIR).entryList({ "*.png" }))
        QFile::remove(QDir(KESTRUM_SCREENSHOT_DIR).filePath(old));

    windowManager = startHelper("openbox", {});
    // The window manager is ready once it has published its desktops.
    QTRY_VERIFY_WITH_TIMEOUT(!xdotool({ "get_num_desktops" }).isEmpty(), 10000);
    // Now and then trayer's first window stays unmapped beside openbox; a
    // second start shows it.
    bool trayShown = false;
    for (int attempt = 0; attempt < 3 && !trayShown; ++attempt) {
        stopHelper(notificationArea.get());
        notificationArea = startHelper("trayer", { "--edge", "top", "--align", "right", "--widthtype", "request",
                                                   "--height", "32", "--transparent", "false", "--tint", "0x404040" });
        trayShown = QTest::qWaitFor([] { return !visibleWindows("--class", "trayer").isEmpty(); }, 3000);
    }
    QVERIFY2(trayShown, "trayer did not show its notification area");

    sim = std::make_unique<SimProcess>(QStringList { "--model", "KX2" });
    QVERIFY(sim->waitUntilReady());
    firmware = sim->state().value("firmware").toString();
    QVERIFY(!firmware.isEmpty());

    startPanel();
}

// The interface language is pinned, so the run reads the same on any machine.
void TestDesktop::startPanel(const QString& language)
{
    panel = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LANGUAGE", language);
    panel->setProcessEnvironment(env);
    log.clear();
    panel->start(KESTRUM_PANEL_PATH, {});
    QVERIFY(panel->waitForStarted());
}

void TestDesktop::cleanupTestCase()
{
    stopHelper(panel.get());
    sim.reset();
    stopHelper(notificationArea.get());
    stopHelper(windowManager.get());
}

void TestDesktop::screenshot(const QString& step)
{
    const QString name = QString("%1-%2.png").arg(++screenshotCount, 2, 10, QChar('0')).arg(step);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    QVERIFY(screen.save(QDir(KESTRUM_SCREENSHOT_DIR).filePath(name)));
}

QString TestDesktop::panelLog()
{
    log += QString::fromUtf8(panel->readAllStandardError());
    return log;
}

QString TestDesktop::mainWindow()
{
    const QStringList windows = visibleWindows("--name", "^Kestrum KX2 - FW: ");
    return windows.size() == 1 ? windows.first() : QString();
}

// The icon's own window, embedded in the notification area; the tray icon
// object's geometry() is not reliable there.
QRect TestDesktop::trayIcon()
{
    const QStringList windows = panelWindows();
    for (const QString& window : windows) {
        const QRect geometry = geometryOf(window);
        if (geometry.width() <= 64 && geometry.height() <= 64 && geometry.top() < 32)
            return geometry;
    }
    return {};
}

void TestDesktop::clickTrayIcon(const QString& button)
{
    const QPoint centre = trayIcon().center();
    xdotool({ "mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", button });
}

// The menu's entries are found on screen: the rows holding text (pixels
// well away from the menu's background), one band per entry; the
// separator's faint line is thinner than any text.
QList<int> TestDesktop::menuEntryRows(const QRect& menu)
{
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const int background = qGray(screen.pixel(menu.center().x(), menu.top() + 2));
    QList<int> rows;
    int bandStart = -1;
    for (int y = menu.top() + 2; y <= menu.bottom() - 1; ++y) {
        bool text = false;
        for (int x = menu.left() + 2; x <= menu.right() - 2 && !text; ++x)
            text = std::abs(qGray(screen.pixel(x, y)) - background) > 60;
        if (text && bandStart < 0)
            bandStart = y;
        if (!text && bandStart >= 0) {
            if (y - bandStart >= 4)
                rows << (bandStart + y) / 2;
            bandStart = -1;
        }
    }
    return rows;
}

// Opens the menu with a right click and clicks one of its entries.
void TestDesktop::chooseFromMenu(const QString& entry)
{
    const QStringList before = panelWindows();
    clickTrayIcon("3");
    QString menu;
    QTRY_VERIFY_WITH_TIMEOUT(!(menu = newWindow(before)).isEmpty(), 5000);
    const QRect geometry = geometryOf(menu);
    screenshot("menu-for-" + QString(entry == "退出" ? "quit" : entry == "设置" ? "settings" : "sound-panel"));
    const QStringList entries { "V20250902", "退出", "设置", "主窗口", "刷新设备列表", "声音面板" };
    QList<int> rows;
    QTRY_COMPARE_WITH_TIMEOUT((rows = menuEntryRows(geometry)).size(), entries.size(), 5000);
    const int row = rows.at(entries.indexOf(entry));
    xdotool({ "mousemove", QString::number(geometry.center().x()), QString::number(row), "click", "1" });

}

QString TestDesktop::newWindow(const QStringList& before)
{
    for (const QString& window : panelWindows()) {
        if (!before.contains(window))
            return window;
    }
    return {};
}

int TestDesktop::storedHeadphoneLevel()
{
    const QString path = environment.root() + "/home/.local/share/kestrum-panel/kx2.ini";
    return QSettings(path, QSettings::IniFormat).value("Dial/HeadphoneValue", 1).toInt();
}

QList<double> TestDesktop::headphoneGains()
{
    const QJsonArray gains = sim->state().value("mixer").toObject().value("outputGains").toArray();
    return { gains.at(4).toDouble(), gains.at(5).toDouble() };
}

// The panel is drawn when the knobs' cyan arcs are on screen inside the window.
bool TestDesktop::panelShown()
{
    const QRect window = geometryOf(mainWindow());
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    for (int y = window.top(); y <= window.bottom(); y += 2) {
        for (int x = window.left(); x <= window.right(); x += 2) {
            const QColor colour = screen.pixelColor(x, y);
            if (colour.red() < 40 && colour.green() > 200 && colour.blue() > 200)
                return true;
        }
    }
    return false;
}

void TestDesktop::atStartOnlyTheTrayIconIsShown()
{
    QTRY_VERIFY_WITH_TIMEOUT(trayIcon().isValid(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(panelLog().contains("Device found with PID: 2"), 10000);
    QCOMPARE(panelWindows().size(), 1);
    QVERIFY(mainWindow().isEmpty());
    QVERIFY(visibleWindows("--name", "^Settings$").isEmpty());
    screenshot("started");
}

void TestDesktop::aClickOnTheIconOpensTheMainWindow()
{
    clickTrayIcon("1");
    QTRY_VERIFY_WITH_TIMEOUT(!mainWindow().isEmpty(), 5000);
    QCOMPARE(xdotool({ "getwindowname", mainWindow() }), "Kestrum KX2 - FW: " + firmware);
    QTRY_VERIFY_WITH_TIMEOUT(panelShown(), 5000);
    screenshot("main-window");
}

void TestDesktop::draggingTheHeadphoneKnobUpRaisesTheHeadphoneVolume()
{
    const int before = storedHeadphoneLevel();
    QVERIFY(sameGain(headphoneGains().at(0), gainOf(before)));

    // The headphone knob is the last big knob of the row along the top.
    const QRect window = geometryOf(mainWindow());
    const QPoint knob = window.topLeft() + QPoint(window.width() * 856 / 1000, window.height() * 31 / 100);
    xdotool({ "mousemove", QString::number(knob.x()), QString::number(knob.y()), "mousedown", "1" });
    // A busy machine lets the toolkit merge moves that queue up, and a
    // merged move is one step: each move waits for the step it makes.
    for (int move = 0; move < 5; ++move) {
        const int reached = storedHeadphoneLevel();
        xdotool({ "mousemove_relative", "--", "0", "-3" });
        QTRY_VERIFY_WITH_TIMEOUT(storedHeadphoneLevel() > reached, 5000);
    }
    xdotool({ "mouseup", "1" });

    // The file and the device agree.
    const auto settled = [&] {
        const int stored = storedHeadphoneLevel();
        const QList<double> gains = headphoneGains();
        return stored >= before + 5 && sameGain(gains.at(0), gainOf(stored)) && sameGain(gains.at(1), gainOf(stored));
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
    screenshot("headphone-raised");
}

void TestDesktop::closingTheWindowOnlyHidesIt()
{
    // The window manager may still be busy with the activation when the key
    // comes, and then drops it: ask again.
    bool hidden = false;
    for (int attempt = 0; attempt < 3 && !hidden; ++attempt) {
        xdotool({ "windowactivate", "--sync", mainWindow() });
        xdotool({ "key", "alt+F4" });
        hidden = QTest::qWaitFor([this] { return mainWindow().isEmpty(); }, 3000);
    }
    QVERIFY(hidden);
    QVERIFY(trayIcon().isValid());
    QTest::qWait(1500);
    QCOMPARE(panel->state(), QProcess::Running);
    QCOMPARE(panelWindows().size(), 1);
    screenshot("window-closed");
}

void TestDesktop::anUnpluggedInterfaceComesBackWhenPluggedIn()
{
    clickTrayIcon("1");
    QTRY_VERIFY_WITH_TIMEOUT(!mainWindow().isEmpty(), 5000);
    const int stored = storedHeadphoneLevel();
    const qsizetype foundBefore = panelLog().count("Device found with PID: 2");

    QVERIFY(sim->command({ "unplug" }));
    QTRY_VERIFY_WITH_TIMEOUT(panelLog().contains("Cleared all widgets from base layout."), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!panelShown(), 5000);
    screenshot("unplugged");

    // A new connect sends the stored state again, to a device that lost it.
    QVERIFY(sim->command({ "plug" }));
    QTRY_COMPARE_WITH_TIMEOUT(panelLog().count("Device found with PID: 2"), foundBefore + 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(panelShown(), 5000);
    QCOMPARE(xdotool({ "getwindowname", mainWindow() }), "Kestrum KX2 - FW: " + firmware);
    QTRY_COMPARE_WITH_TIMEOUT(sameGain(headphoneGains().at(0), gainOf(stored)), true, 5000);
    screenshot("plugged-in-again");
}

void TestDesktop::theMenuOpensTheSettingsDialog()
{
    chooseFromMenu("设置");
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows("--name", "^Settings$").isEmpty(), 5000);
    QCOMPARE(panel->state(), QProcess::Running);
    screenshot("settings");
}

void TestDesktop::quittingFromTheMenuEndsTheProgram()
{
    chooseFromMenu("退出");
    QTRY_COMPARE_WITH_TIMEOUT(panel->state(), QProcess::NotRunning, 10000);
    QCOMPARE(panel->exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(panelWindows().isEmpty(), 5000);
    screenshot("quit");
}

// The quit released the single-instance marker, so a new start gets past it.
void TestDesktop::aNewStartAfterQuittingSucceeds()
{
    startPanel();
    QTRY_VERIFY_WITH_TIMEOUT(trayIcon().isValid(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(panelLog().contains("Device found with PID: 2"), 10000);
    QVERIFY(!panelLog().contains("Kestrum Mixer 已经在运行中。"));
    chooseFromMenu("退出");
    QTRY_COMPARE_WITH_TIMEOUT(panel->state(), QProcess::NotRunning, 10000);
    QCOMPARE(panel->exitCode(), 0);
}

// The menu's entries keep their order in English; the one for the sound
// control panel finds no control.exe here and says so in a titled box.
void TestDesktop::anEnglishDesktopGetsTheEnglishTexts()
{
    startPanel("en_US");
    QTRY_VERIFY_WITH_TIMEOUT(trayIcon().isValid(), 10000);
    chooseFromMenu("声音面板");
    QString box;
    QTRY_VERIFY_WITH_TIMEOUT(!(box = visibleWindows("--name", "^Error$").value(0)).isEmpty(), 5000);
    screenshot("english-error-box");
    xdotool({ "windowactivate", "--sync", box });
    xdotool({ "key", "Return" });
    QTRY_VERIFY_WITH_TIMEOUT(visibleWindows("--name", "^Error$").isEmpty(), 5000);
    chooseFromMenu("退出");
    QTRY_COMPARE_WITH_TIMEOUT(panel->state(), QProcess::NotRunning, 10000);
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
