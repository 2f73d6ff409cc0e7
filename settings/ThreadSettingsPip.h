#pragma once

#include <QThread>

class PipeASIO;

// Waits on the ASIO driver's pipe for requests to show the settings window
// and passes each one on as progressUpdated(1), queued to the GUI thread.
class ThreadSettingsPip : public QThread
{
    Q_OBJECT

public:
    explicit ThreadSettingsPip(QObject* parent = nullptr);
    // Releases the waiting thread, waits for it, then closes the pipe.
    ~ThreadSettingsPip() override;

signals:
    void progressUpdated(int value);

protected:
    void run() override;

private:
    void messageReceived(const char* buffer);

    PipeASIO* listenPipe;
};
