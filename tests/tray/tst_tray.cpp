// The tray icon: what a click or a menu entry opens, the warnings when a
// window is missing, and the shell's programs where there is no Windows
// shell: the sound control panel as a stand-in script first on PATH.

#include "tray/TrayIcon.h"

#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

using L = QStringList;

// Runs action, answering every message box it opens so that a modal box
// does not block the test; returns what each said.
L boxes(const std::function<void()>& action)
{
    L texts;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&texts] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts << box->windowTitle() + ": " + box->text() + (box->parentWidget() ? " (owned)" : "");
            box->done(QMessageBox::Ok);
        }
    });
    timer.start(10);
    action();
    return texts;
}

class RefusesToClose : public QWidget
{
protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

// The menu's entries, top to bottom (2 is the separator).
enum Entry { Version, Quit, Settings = 3, MainWindow };

QAction* entry(TrayIcon& tray, int index)
{
    return tray.contextMenu()->actions().value(index);
}

// Chooses a menu entry and returns what the message boxes it opened said.
L choose(TrayIcon& tray, int index)
{
    return boxes([&] { entry(tray, index)->trigger(); });
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    // After the test framework took the message handler, so the log is
    // captured. The stand-in programs come first on PATH.
    void initTestCase()
    {
        log = std::make_unique<LogCapture>();
        qputenv("PATH", programs.path().toLocal8Bit() + ":" + qgetenv("PATH"));
    }
    void init() { log->clear(); }

    void opens_data()
    {
        // An activation reason, or minus a menu entry.
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("linked");
        QTest::addColumn<QString>("opens");
        QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true << "main window";
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true << "main window";
        QTest::newRow("main entry") << -MainWindow << true << "main window";
        QTest::newRow("settings entry") << -Settings << true << "settings";
        QTest::newRow("right click") << int(QSystemTrayIcon::Context) << true << "";
        QTest::newRow("no main") << -MainWindow << false << "警告: 主窗口未设置，请先设置主窗口。";
        QTest::newRow("no settings") << -Settings << false << "警告: 设置窗口未设置，请先设置设置窗口。";
    }

    // The main window starts hidden, the settings shown but behind another
    // window, so that bringing it to the front takes more than showing it.
    void opens()
    {
        QFETCH(int, action);
        QFETCH(bool, linked);
        QFETCH(QString, opens);
        QWidget mainWindow, settings, other;
        TrayIcon tray;
        if (linked) {
            tray.MainwindowInput(&mainWindow);
            // Leaves the link as it was.
            tray.MainwindowInput(nullptr);
            tray.setSettings(&settings);
        }
        settings.show();
        other.show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        const L said = action < 0 ? choose(tray, -action)
                                            : boxes([&] { emit tray.activated(QSystemTrayIcon::ActivationReason(action)); });
        QCOMPARE(mainWindow.isVisible(), opens == "main window");
        if (linked)
            QTRY_COMPARE(QApplication::activeWindow(), opens == "main window" ? &mainWindow : opens == "settings" ? &settings : &other);
        QCOMPARE(said, linked ? L() : L { opens });
    }

    void soundPanel()
    {
        writeProgram("control.exe", "echo \"$@\" > control.args\n");
        TrayIcon tray;
        QCOMPARE(boxes([&] { tray.openSoundPannel(); }), L());
        QTRY_COMPARE(written("control.args"), QByteArray("mmsys.cpl\n"));
        QVERIFY(log->contains("声音设置面板已打开。"));
        QFile::remove(programs.filePath("control.exe"));
        QCOMPARE(boxes([&] { tray.openSoundPannel(); }), L { "错误: 无法打开声音设置面板，请检查系统设置。" });
        QCOMPARE(log->count("声音设置面板已打开。"), 1);
    }

    // The menu leaves out what it cannot start, and the shell restart says why.
    void noWindowsShell()
    {
        TrayIcon tray;
        QCOMPARE(tray.contextMenu()->actions().size(), MainWindow + 1);
        tray.refreshDeviceList();
        QCOMPARE(log->lines(), L { "错误信息: \"Process failed to start (error 50)\"" });
    }

    void setpng()
    {
        TrayIcon tray;
        const QString red = environment.root() + "/red.png";
        tray.setpng(red);
        QVERIFY(tray.toolTip().isEmpty());
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(red));
        tray.setpng(red);
        QCOMPARE(tray.icon().pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
        QVERIFY(!tray.toolTip().isEmpty());
    }

    // The icon drawn for the size asked, or the next larger one brought down to it.
    void theIconIsDrawnForTheSizeAsked_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("drawn");
        QTest::newRow("smallest") << 16 << 16;
        QTest::newRow("a tray's") << 22 << 22;
        QTest::newRow("between") << 40 << 48;
        QTest::newRow("largest") << 512 << 512;
        QTest::newRow("beyond") << 600 << 512;
    }
    void theIconIsDrawnForTheSizeAsked()
    {
        QFETCH(int, size);
        QFETCH(int, drawn);
        const QImage file(QString(":/icons/hicolor/%1x%1/apps/com.kestrum.Panel.png").arg(drawn));
        const auto format = QImage::Format_ARGB32_Premultiplied;
        const QImage expected = file.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(format);
        const QIcon icon = TrayIcon().icon();
        QCOMPARE(icon.pixmap(size).toImage().convertToFormat(format), expected);
        // As a notification area draws it.
        QImage painted(size, size, format);
        painted.fill(Qt::transparent);
        QPainter painter(&painted);
        icon.paint(&painter, painted.rect());
        painter.end();
        QCOMPARE(painted, expected);
    }

    // Closing windows never ends the program; quitting does, whatever they do.
    void quit()
    {
        TrayIcon tray;
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
        // The version comes first, greyed out.
        QVERIFY(!entry(tray, Version)->isEnabled());
        RefusesToClose stubborn;
        stubborn.show();
        // Ends a loop that quitting failed to end, with a code of its own.
        QTimer::singleShot(3000, &tray, [] { QCoreApplication::exit(1); });
        QTimer::singleShot(0, &tray, [&] { entry(tray, Quit)->trigger(); });
        QCOMPARE(QApplication::exec(), 0);
    }

private:
    void writeProgram(const QString& name, const QByteArray& script)
    {
        QFile file(programs.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\ncd \"$(dirname \"$0\")\"\n" + script);
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // What a stand-in program left beside itself.
    QByteArray written(const QString& name) const
    {
        QFile file(programs.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TestEnvironment environment;
    QTemporaryDir programs;
    std::unique_ptr<LogCapture> log;
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
