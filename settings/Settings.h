#pragma once

#include <QDialog>

class KestrumIoControl;

// The audio settings window, with a driver channel of its own. The main
// window asks it to connect and to program the driver each time a device is
// detected. The dialog's choices and their driver sequences arrive with
// issue #5; until then it only keeps its channel.
class Settings : public QDialog
{
public:
    Settings();
    ~Settings() override;

    // Opens a new driver channel, replacing the one held before. True when it opened.
    bool connect2Driver();
    // Programs the driver from the stored settings (issue #5).
    void startSetup();

private:
    KestrumIoControl* ioControl = nullptr;
};
