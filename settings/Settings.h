#pragma once

#include "settings/SettingsEngine.h"

#include <QCoreApplication>
#include <QDialog>

class AsioLink;
class QComboBox;
class QVBoxLayout;

// The audio settings window: buffer size, USB latency, sample rate and safe
// mode. It shows what its engine has chosen and passes the user's choices
// on; the ASIO driver can ask for it and hears from its "OK".
class Settings : public QDialog
{
    Q_DECLARE_TR_FUNCTIONS(Settings)

public:
    Settings();
    ~Settings() override;

    SettingsEngine& engine() { return *settingsEngine; }
    bool connect2Driver() { return settingsEngine->connect2Driver(); }
    void startSetup() { settingsEngine->startSetup(); }
    void loadControlStates() { settingsEngine->loadControlStates(); }
    void saveControlStates() { settingsEngine->saveControlStates(); }
    // A request of the ASIO driver: show the dialog and keep it on top.
    void pipThreadCallback();
    // "OK": hide the dialog and tell the ASIO driver to reset.
    void setupNoticAsio();

    void audioBufferSizeComboBoxInput(int index);
    void usbLatencySizeComboBoxInput(int index);
    void audioSampleRateComboBoxInput(int index);
    void usbSlowModeComboBoxInput(int index);

private:
    void buildLayout();
    QComboBox* addChoice(const QString& label, AudioSettings::Setting setting, void (Settings::*input)(int));
    QString entryText(AudioSettings::Setting setting, unsigned int value) const;
    void showSelection();
    void choose(QComboBox* box, AudioSettings::Setting setting, int index);

    QVBoxLayout* mainLayout = nullptr;
    QComboBox* usbLatencySizeComboBox = nullptr;
    QComboBox* audioBufferSizeComboBox = nullptr;
    QComboBox* audioSampleRateComboBox = nullptr;
    QComboBox* usbSlowModeComboBox = nullptr;
    SettingsEngine* settingsEngine;
    AsioLink* asioLink = nullptr;
};
