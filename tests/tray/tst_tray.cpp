// The tray icon: its menu, what a click on it does, the warnings when a
// window is missing, and the two shell commands, run against stand-in
// cmd.exe and control.exe scripts put first on PATH.

#include "tray/TrayIcon.h"

#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <signal.h>

namespace {

// What a message box showed: title, text, its one button, whether it had a parent.
using ShownBox = QStringList;

// Closes every message box that opens while it lives, from a timer, so
// that a modal box does not block the test; keeps what each showed.
class BoxCloser
{
public:
    BoxCloser()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { closeOpenBox(); });
        timer.start(10);
    }
    QList<ShownBox> boxes;

private:
    void closeOpenBox()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        QStringList buttons;
        for (QAbstractButton* button : box->buttons())
            buttons << (box->standardButton(button) == QMessageBox::Ok ? "Ok" : button->text());
        boxes.append({ box->windowTitle(), box->text(), buttons.join(','), box->parentWidget() ? "parent" : "" });
        box->done(QMessageBox::Ok);
    }
    QTimer timer;
};

class RefusesToClose : public QWidget
{
protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

// A directory put first on PATH for the stand-in programs, which leave
// what they were given beside themselves.
class StandInPrograms
{
public:
    StandInPrograms()
        : originalPath(qgetenv("PATH"))
    {
        qputenv("PATH", directory.path().toLocal8Bit() + ":" + originalPath);
    }
    ~StandInPrograms() { qputenv("PATH", originalPath); }

    void write(const QString& name, const QByteArray& script) const
    {
        QFile file(directory.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\ncd \"$(dirname \"$0\")\"\n" + script);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QByteArray read(const QString& name) const
    {
        QFile file(directory.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir directory;
    QByteArray originalPath;
};

QAction* menuAction(TrayIcon& tray, const QString& text)
{
    for (QAction* action : tray.contextMenu()->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void init() { log->clear(); }

    void aNewIconHasItsMenuAndNoTooltip();
    void aClickShowsTheMainWindow_data();
    void aClickShowsTheMainWindow();
    void theMenuBringsEachWindowToTheFront();
    void aMissingWindowIsReportedInAWarningBox_data();
    void aMissingWindowIsReportedInAWarningBox();
    void theSoundPanelStartsControlExe();
    void theShellRestartRunsCmdExe();
    void aFailedShellRestartWritesItsOutput_data();
    void aFailedShellRestartWritesItsOutput();
    void aShellRestartThatHangsIsStoppedAfterFiveSeconds();
    void setpngTakesTheIconFromAnExistingFile();
    void quitEndsTheProgramWhateverTheWindowsDo();

private:
    TestEnvironment environment;
    std::unique_ptr<LogCapture> log;
};

void TestTray::aNewIconHasItsMenuAndNoTooltip()
{
    TrayIcon tray;
    QStringList entries;
    for (QAction* action : tray.contextMenu()->actions()) {
        entries << (action->isSeparator() ? "---" : action->text() + (action->isEnabled() ? "" : " (disabled)"));
        QCOMPARE(action->parent(), action->isSeparator() ? tray.contextMenu() : static_cast<QObject*>(&tray));
    }
    QCOMPARE(entries, QStringList({ "V20250902 (disabled)", "退出", "---", "设置", "主窗口", "刷新设备列表", "声音面板" }));
    // Closing windows must never end the program.
    QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
    QCOMPARE(tray.icon().pixmap(512, 512).toImage().size(), QSize(512, 512));
    QVERIFY(tray.toolTip().isEmpty());
    QVERIFY(!tray.isVisible());
}

void TestTray::aClickShowsTheMainWindow_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("shows");
    QTest::newRow("single click") << QSystemTrayIcon::Trigger << true;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << true;
    QTest::newRow("right click") << QSystemTrayIcon::Context << false;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << false;
}

void TestTray::aClickShowsTheMainWindow()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, shows);
    QWidget mainWindow;
    TrayIcon tray;
    tray.MainwindowInput(&mainWindow);
    // A null window leaves the link as it was.
    tray.MainwindowInput(nullptr);
    BoxCloser closer;

    emit tray.activated(reason);
    QCOMPARE(mainWindow.isVisible(), shows);
    if (shows)
        QTRY_COMPARE(QApplication::activeWindow(), &mainWindow);
    QCoreApplication::processEvents();
    QVERIFY(closer.boxes.isEmpty());
}

void TestTray::theMenuBringsEachWindowToTheFront()
{
    QWidget mainWindow;
    QWidget settings;
    TrayIcon tray;
    tray.MainwindowInput(&mainWindow);
    tray.setSettings(&settings);

    menuAction(tray, "设置")->trigger();
    QVERIFY(settings.isVisible());
    QTRY_COMPARE(QApplication::activeWindow(), &settings);
    QVERIFY(!mainWindow.isVisible());

    mainWindow.show();
    settings.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &settings);
    menuAction(tray, "主窗口")->trigger();
    QTRY_COMPARE(QApplication::activeWindow(), &mainWindow);
}

void TestTray::aMissingWindowIsReportedInAWarningBox_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("text");
    const QString noMainWindow = "主窗口未设置，请先设置主窗口。";
    QTest::newRow("click") << QString() << noMainWindow;
    QTest::newRow("main window entry") << "主窗口" << noMainWindow;
    QTest::newRow("settings entry") << "设置" << "设置窗口未设置，请先设置设置窗口。";
}

void TestTray::aMissingWindowIsReportedInAWarningBox()
{
    QFETCH(QString, entry);
    QFETCH(QString, text);
    TrayIcon tray;
    BoxCloser closer;

    if (entry.isEmpty())
        emit tray.activated(QSystemTrayIcon::Trigger);
    else
        menuAction(tray, entry)->trigger();
    QCOMPARE(closer.boxes, QList<ShownBox>({ { "警告", text, "Ok", "" } }));
}

void TestTray::theSoundPanelStartsControlExe()
{
    StandInPrograms programs;
    programs.write("control.exe", "echo \"$@\" > control.args\n");
    TrayIcon tray;
    BoxCloser closer;

    menuAction(tray, "声音面板")->trigger();
    QTRY_COMPARE(programs.read("control.args"), QByteArray("mmsys.cpl\n"));
    QCOMPARE(log->lines(), QStringList("声音设置面板已打开。"));
    QVERIFY(closer.boxes.isEmpty());

    // Without control.exe on PATH the shell cannot start it.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", environment.root().toLocal8Bit());
    tray.openSoundPannel();
    qputenv("PATH", path);
    QCOMPARE(closer.boxes, QList<ShownBox>({ { "错误", "无法打开声音设置面板，请检查系统设置。", "Ok", "" } }));
    QCOMPARE(log->count("声音设置面板已打开。"), 1);
}

void TestTray::theShellRestartRunsCmdExe()
{
    StandInPrograms programs;
    // One argument per line, to see where the arguments split.
    programs.write("cmd.exe", "for argument in \"$@\"; do echo \"$argument\"; done > cmd.args\n");
    TrayIcon tray;

    menuAction(tray, "刷新设备列表")->trigger();
    QCOMPARE(programs.read("cmd.args"), QByteArray("/c\ntaskkill /f /im explorer.exe && start explorer.exe\n"));
    QCOMPARE(log->lines(), QStringList("资源管理器已成功重启"));
}

void TestTray::aFailedShellRestartWritesItsOutput_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("non-zero exit")
        << QByteArray("echo 'ERROR: process \"explorer.exe\" not found.'\necho denied >&2\nexit 128\n")
        << QStringList { "命令执行失败，退出代码: 128", "输出: \"ERROR: process \\\"explorer.exe\\\" not found.\\n\"",
                         "错误输出: \"denied\\n\"" };
    QTest::newRow("no output") << QByteArray("exit 1\n")
                               << QStringList { "命令执行失败，退出代码: 1", "输出: \"\"", "错误输出: \"\"" };
    // A command killed on its way has no exit code worth the name.
    QTest::newRow("killed") << QByteArray("echo started\nkill -9 $$\n")
                            << QStringList { "命令执行失败，退出代码: 9", "输出: \"started\\n\"", "错误输出: \"\"" };
}

void TestTray::aFailedShellRestartWritesItsOutput()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, lines);
    StandInPrograms programs;
    programs.write("cmd.exe", script);
    TrayIcon tray;

    tray.refreshDeviceList();
    QCOMPARE(log->lines(), lines);
}

void TestTray::aShellRestartThatHangsIsStoppedAfterFiveSeconds()
{
    StandInPrograms programs;
    programs.write("cmd.exe", "echo $$ > cmd.pid\nexec sleep 60\n");
    TrayIcon tray;
    QElapsedTimer waited;
    waited.start();

    tray.refreshDeviceList();
    QVERIFY(waited.elapsed() >= 4900);
    QCOMPARE(log->lines(), QStringList({ "重启资源管理器超时", "错误信息: \"Process operation timed out\"" }));
    // The hanging command does not outlive the call.
    const pid_t pid = programs.read("cmd.pid").trimmed().toInt();
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid, 0), -1);
}

void TestTray::setpngTakesTheIconFromAnExistingFile()
{
    TrayIcon tray;
    const qint64 ownIcon = tray.icon().cacheKey();
    tray.setpng(environment.root() + "/missing.png");
    QCOMPARE(tray.icon().cacheKey(), ownIcon);
    QVERIFY(tray.toolTip().isEmpty());

    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    const QString path = environment.root() + "/red.png";
    QVERIFY(red.save(path));
    tray.setpng(path);
    QCOMPARE(tray.icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
    QCOMPARE(tray.toolTip(), "Application Tray");
}

void TestTray::quitEndsTheProgramWhateverTheWindowsDo()
{
    TrayIcon tray;
    RefusesToClose stubborn;
    stubborn.show();
    // Ends a loop that quitting failed to end, with a code of its own.
    QTimer::singleShot(3000, &tray, [] { QCoreApplication::exit(1); });

    QTimer::singleShot(0, &tray, [&] { menuAction(tray, "退出")->trigger(); });
    QCOMPARE(QApplication::exec(), 0);
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
