#pragma once

#include <QCoreApplication>
#include <QMainWindow>

class KestrumIoControl;
class ModelPanel;
class QLabel;
class QTimer;
class QVBoxLayout;
class Settings;

// The one top-level window. While no device is in use a one-second timer
// looks for an interface; once one is found the window shows the model's
// panel with the firmware version in its title. From the start of the
// connect a 400 ms timer watches the device on a channel of its own, until
// three reads in a row fail or another product ID answers.
class MainWindow : public QMainWindow
{
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The settings dialog, not owned; set by the entry routine.
    void setSettings(Settings* dialog) { settings = dialog; }

    void callDriverTimerCallback();
    void readPidFromDriverCallback();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Model;
    static const Model* modelForPid(unsigned int pid);

    void clearBaseLayout();
    bool showsOnly(const char* status) const;
    void showStatus(const char* status);
    void noDeviceFound();
    ModelPanel* connectDevice(const Model& model);
    void addPanel(ModelPanel* panel, const Model& model);
    void readFirmwareIntoTitle(KestrumIoControl& channel, const Model& model);
    void replacePollChannel();
    void setFirmwareTitle(const Model& model, const unsigned char* firmware);
    void deviceLost();

    unsigned int devicePid = 0;
    QVBoxLayout* baseLayout = nullptr;
    QTimer* detectTimer = nullptr;
    QTimer* pollTimer = nullptr;
    KestrumIoControl* pollChannel = nullptr;
    Settings* settings = nullptr;
    QLabel* statusLabel = nullptr;
    int errorCount = 0;
    // The model whose panel is in place while its firmware could not be read yet.
    const Model* firmwarePending = nullptr;
};
