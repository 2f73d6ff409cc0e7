// The least a Qt tray program holds: a bare QApplication with one
// QSystemTrayIcon of one small image and nothing else. bench/idle.sh measures
// it beside the panel, in the same run and on the same display. It prints
// "ready" once its event loop runs.
//   build/bench/bench_tray_floor

#include <QApplication>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QPixmap image(22, 22);
    image.fill(Qt::darkCyan);
    QSystemTrayIcon trayIcon { QIcon(image) };
    trayIcon.show();
    QTimer::singleShot(0, [] { std::puts("ready"); std::fflush(stdout); });
    return QApplication::exec();
}
