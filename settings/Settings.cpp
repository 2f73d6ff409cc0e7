#include "settings/Settings.h"

#include "driver/KestrumIoControl.h"

#include <QDebug>

Settings::Settings()
{
    setWindowTitle("Settings");
}

Settings::~Settings()
{
    delete ioControl;
}

bool Settings::connect2Driver()
{
    delete ioControl;
    ioControl = new KestrumIoControl;
    const bool opened = ioControl->createDevice();
    if (!opened)
        qDebug() << "Settings window: failed to open the driver device.";
    return opened;
}

void Settings::startSetup()
{
}
