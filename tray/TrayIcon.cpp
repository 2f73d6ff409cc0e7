#include "tray/TrayIcon.h"

#include "tray/TrayLog.h"
#include "platform/Shell.h"
#include "platform/WinError.h"
#include "resources/AppIcon.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>

namespace {

const char* const kVersion = "V20250902";
constexpr int kShellRestartTimeoutMs = 5000;

// Any result above this is a started program, as ShellExecuteA defines it.
constexpr std::intptr_t kLastShellError = 32;

void warn(const QString& title, const QString& text)
{
    QMessageBox::warning(nullptr, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void showOnTop(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

TrayIcon::TrayIcon(QObject* parent)
    : QSystemTrayIcon(parent)
{
    setIcon(AppIcon::icon());
    createTrayMenu();
    connect(this, &QSystemTrayIcon::activated, this, &TrayIcon::clickCallback);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::MainwindowInput(QWidget* window)
{
    if (window)
        mainWindow = window;
}

void TrayIcon::appendMenu(QMenu* menu)
{
    menu->setParent(trayMenu.get(), menu->windowFlags());
    trayMenu->addSeparator();
    trayMenu->addMenu(menu);
}

void TrayIcon::createTrayMenu()
{
    trayMenu = std::make_unique<QMenu>();
    auto* mainWindowAction = new QAction(tr("主窗口"), this);
    auto* settingsAction = new QAction(tr("设置"), this);
    auto* quitAction = new QAction(tr("退出"), this);
    auto* versionAction = new QAction(kVersion, this);
    versionAction->setEnabled(false);

    trayMenu->addAction(versionAction);
    trayMenu->addAction(quitAction);
    trayMenu->addSeparator();
    trayMenu->addAction(settingsAction);
    trayMenu->addAction(mainWindowAction);
    // The Windows shell's programs, where there are any.
    if (platform::windowsShellAvailable()) {
        auto* refreshAction = new QAction(tr("刷新设备列表"), this);
        auto* soundPanelAction = new QAction(tr("声音面板"), this);
        trayMenu->addAction(refreshAction);
        trayMenu->addAction(soundPanelAction);
        connect(refreshAction, &QAction::triggered, this, &TrayIcon::refreshDeviceList);
        connect(soundPanelAction, &QAction::triggered, this, &TrayIcon::openSoundPannel);
    }
    setContextMenu(trayMenu.get());

    connect(mainWindowAction, &QAction::triggered, this, &TrayIcon::showMainWindow);
    // Closing or hiding a window never ends the program; only "quit" does.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    connect(settingsAction, &QAction::triggered, this, &TrayIcon::showSettings);
    connect(quitAction, &QAction::triggered, qApp, &TrayIcon::quitProgram);
}

// Ends the event loop at once. quit() would first ask every window to
// close, and gives up when one refuses: the main window only hides itself,
// so the program would stay, without its tray icon.
void TrayIcon::quitProgram()
{
    QCoreApplication::exit(0);
}

void TrayIcon::showMainWindow()
{
    if (mainWindow)
        showOnTop(mainWindow);
    else
        warn(tr("警告"), tr("主窗口未设置，请先设置主窗口。"));
}

void TrayIcon::showSettings()
{
    if (settings)
        showOnTop(settings);
    else
        warn(tr("警告"), tr("设置窗口未设置，请先设置设置窗口。"));
}

// The context menu is opened by the toolkit on a right click; a middle
// click does nothing.
void TrayIcon::clickCallback(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        showMainWindow();
}

void TrayIcon::openSoundPannel()
{
    const std::intptr_t result = platform::shellExecute("open", "control.exe", "mmsys.cpl", platform::kShowNormal);
    if (result <= kLastShellError)
        warn(tr("错误"), tr("无法打开声音设置面板，请检查系统设置。"));
    else
        qCDebug(lcTray) << "声音设置面板已打开。";
}

// Restarting the shell makes the system list its audio devices again. It
// blocks the event loop for at most the time-out; a command still running
// then is killed before the call returns.
void TrayIcon::refreshDeviceList()
{
    const platform::ShellRestart run = platform::restartShell(kShellRestartTimeoutMs);
    if (run.error == platform::winerror::kSemTimeout) {
        qCWarning(lcTray) << "重启资源管理器超时";
        qCWarning(lcTray) << "错误信息:" << QStringLiteral("Process operation timed out");
        return;
    }
    if (!run.finished) {
        qCWarning(lcTray) << "错误信息:" << QStringLiteral("Process failed to start (error %1)").arg(run.error);
        return;
    }
    // A command that crashed has no meaningful exit code, and must not pass for a success.
    if (run.crashed || run.exitCode != 0) {
        qCWarning(lcTray) << "命令执行失败，退出代码:" << int(run.exitCode);
        qCWarning(lcTray) << "输出:" << QByteArray::fromStdString(run.output);
        qCWarning(lcTray) << "错误输出:" << QByteArray::fromStdString(run.errorOutput);
        return;
    }
    qCDebug(lcTray) << "资源管理器已成功重启";
}

void TrayIcon::setpng(const QString& path)
{
    const QString nativePath = QDir::toNativeSeparators(path);
    if (!QFile::exists(nativePath))
        return;
    setIcon(QIcon(nativePath));
    setToolTip(tr("Application Tray"));
}

void TrayIcon::tellChangesNotKept(const QString& fileName, QSettings::Status status)
{
    const QString why = status == QSettings::FormatError ? tr("文件格式有误")
                                                         : tr("文件或其所在的文件夹无法写入（磁盘已满、只读或不是文件）");
    showMessage(tr("更改未保存"),
                tr("%1 无法保存：%2。声卡已采用更改，但下次启动时不会恢复。每次更改时都会重试。")
                    .arg(QDir::toNativeSeparators(fileName), why),
                QSystemTrayIcon::Warning);
}
