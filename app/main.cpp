#include "app/AppLog.h"
#include "app/InterfaceLanguage.h"
#include "app/MainWindow.h"
#include "app/SingleInstanceGuard.h"
#include "presets/PresetBook.h"
#include "presets/PresetMenu.h"
#include "remote/RemoteServer.h"
#include "resources/AppIcon.h"
#include "settings/Settings.h"
#include "settings/SaveFailureNotice.h"
#include "tray/TrayIcon.h"

#include <QApplication>
#include <QLocale>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QTranslator>

#ifndef Q_OS_WIN
#include "platform/posix/TerminationSignals.h"

#include <QSocketNotifier>
#endif

namespace {

// Started from the desktop, at login or from its menu, the program keeps
// its debug lines to itself; QT_LOGGING_RULES still overrides this.
void quietenWhenAsked(const QStringList& arguments)
{
    if (arguments.contains(QStringLiteral("--quiet")))
        QLoggingCategory::setFilterRules(QStringLiteral("kestrum.*.debug=false"));
}

#ifndef Q_OS_WIN
// A logout, kill or Ctrl+C ends the program as its quit command does: the
// event loop returns and everything is torn down in order.
void endOnTerminationSignals(QObject* parent)
{
    std::uint32_t error = 0;
    const int watch = platform::posix::watchTerminationSignals(error);
    if (watch < 0)
        return;
    auto* notifier = new QSocketNotifier(watch, QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [watch] {
        if (platform::posix::takeTerminationSignals(watch))
            QCoreApplication::exit(0);
    });
}
#endif

} // namespace

int main(int argc, char** argv)
{
    // The log carries the messages alone; QT_MESSAGE_PATTERN, when set, wins.
    qSetMessagePattern(QStringLiteral("%{message}"));
    QApplication application(argc, argv);
    quietenWhenAsked(QCoreApplication::arguments());
#ifndef Q_OS_WIN
    endOnTerminationSignals(&application);
#endif

    SingleInstanceGuard guard;
    switch (guard.claim()) {
    case SingleInstanceGuard::Claim::AlreadyRunning:
        qCDebug(lcApp) << "Kestrum Mixer 已经在运行中。";
        return 0;
    case SingleInstanceGuard::Claim::Failed:
        qCDebug(lcApp) << "无法创建共享内存，程序退出。";
        qCDebug(lcApp).noquote() << guard.failureCause();
        return -1;
    case SingleInstanceGuard::Claim::First:
        break;
    }

    QTranslator translator;
    const QStringList languages = QLocale::system().uiLanguages();
    InterfaceLanguage::install(translator, languages);

    QApplication::setWindowIcon(AppIcon::icon());

    // The program lives in the notification area: only the tray icon is
    // shown, and the windows open from it. Declared in creation order, so
    // they are destroyed in reverse.
    Settings settings;
    MainWindow mainWindow(nullptr);
    mainWindow.setSettings(&settings);
    PresetBook presets(mainWindow.deviceSession());
    mainWindow.menuBar()->addMenu(new PresetMenu(&presets, &mainWindow, &mainWindow));
    TrayIcon trayIcon(nullptr);
    trayIcon.MainwindowInput(&mainWindow);
    trayIcon.setSettings(&settings);
    trayIcon.appendMenu(new PresetMenu(&presets, nullptr));
    trayIcon.setVisible(true);
    QObject::connect(&SaveFailureNotice::instance(), &SaveFailureNotice::notKept, &trayIcon, &TrayIcon::tellChangesNotKept);
    // kestrumctl's way in; after the claim above, so only the one running copy listens.
    RemoteServer remote(mainWindow.deviceSession(), &presets);
    remote.listen();

    return QApplication::exec();
}
