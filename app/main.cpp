#include "app/MainWindow.h"
#include "resources/AppIcon.h"
#include "settings/Settings.h"
#include "tray/TrayIcon.h"

#include <QApplication>
#include <QDebug>
#include <QLocale>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QTranslator>

namespace {

const char* const kSemaphoreKey = "KestrumQtDriverSemaphore";
const char* const kSharedMemoryKey = "KestrumQtDriverSharedMemory";

// A copy that crashed or was killed leaves its marker segment behind on
// POSIX systems. Attaching and detaching frees a segment nobody holds, and
// leaves one that a running copy holds in place.
void releaseStaleMarker()
{
#ifndef Q_OS_WIN
    QSharedMemory stale(kSharedMemoryKey);
    if (stale.attach(QSharedMemory::ReadWrite))
        stale.detach();
#endif
}

// The marker's key comes from its key file's inode. When a killed copy's key
// file is gone, a new key file can reuse the inode, so create() meets the
// killed copy's segment; once the new file exists it can be freed as above.
// A copy that runs would have been found by the attach before.
bool createMarker(QSharedMemory& marker)
{
    if (marker.create(1, QSharedMemory::ReadWrite))
        return true;
#ifndef Q_OS_WIN
    if (marker.error() == QSharedMemory::AlreadyExists) {
        releaseStaleMarker();
        return marker.create(1, QSharedMemory::ReadWrite);
    }
#endif
    return false;
}

// Installs the first translation that loads for the user's interface languages.
void installTranslator(QTranslator& translator, QStringList& languages)
{
    languages = QLocale::system().uiLanguages();
    for (const QString& language : languages) {
        if (translator.load(":/i18n/" + QLocale(language).name())) {
            QCoreApplication::installTranslator(&translator);
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);

    QSystemSemaphore semaphore(kSemaphoreKey, 1, QSystemSemaphore::Open);
    semaphore.acquire();

    releaseStaleMarker();
    QSharedMemory marker(kSharedMemoryKey);
    if (marker.attach(QSharedMemory::ReadWrite)) {
        semaphore.release();
        qDebug() << "Kestrum Mixer 已经在运行中。";
        QCoreApplication::quit();
        return 0;
    }
    if (!createMarker(marker)) {
        semaphore.release();
        qDebug() << "无法创建共享内存，程序退出。";
        return -1;
    }
    semaphore.release();

    QTranslator translator;
    QStringList languages;
    installTranslator(translator, languages);

    QApplication::setWindowIcon(AppIcon::icon());

    // The program lives in the notification area: only the tray icon is
    // shown, and the windows open from it. Declared in creation order, so
    // they are destroyed in reverse.
    Settings settings;
    MainWindow mainWindow(nullptr);
    mainWindow.setSettings(&settings);
    TrayIcon trayIcon(nullptr);
    trayIcon.MainwindowInput(&mainWindow);
    trayIcon.setSettings(&settings);
    trayIcon.setVisible(true);

    return QApplication::exec();
}
