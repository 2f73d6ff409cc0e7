#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QSystemTrayIcon>

#include <memory>

class QMenu;

// The program's presence in the notification area and the only way to its
// windows: a click opens the main window, and the menu offers the version,
// quit, the settings dialog, the main window and, where the Windows shell
// is there, a shell restart that makes the system list its audio devices
// again and the sound control panel. Quitting from the menu is the only way
// the program ends.
class TrayIcon : public QSystemTrayIcon
{
    Q_DECLARE_TR_FUNCTIONS(TrayIcon)

public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // The windows it opens, not owned; set once by the entry routine. A null
    // main window leaves the link as it was.
    void MainwindowInput(QWidget* window);
    void setSettings(QWidget* dialog) { settings = dialog; }
    // A menu of the program's own, after the described entries; the tray
    // menu takes it.
    void appendMenu(QMenu* menu);

    // Takes the icon from a file, when it exists.
    void setpng(const QString& path);

    void showSettings();
    void clickCallback(QSystemTrayIcon::ActivationReason reason);
    void openSoundPannel();
    void refreshDeviceList();
    // One message, not a box per change: the file keeps failing quietly
    // after it (SaveFailureNotice).
    void tellChangesNotKept(const QString& fileName, QSettings::Status status);

private:
    void createTrayMenu();
    static void quitProgram();
    void showMainWindow();

    QWidget* mainWindow = nullptr;
    QWidget* settings = nullptr;
    // A menu is a widget and cannot be the tray icon's child.
    std::unique_ptr<QMenu> trayMenu;
};
