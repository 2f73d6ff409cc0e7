#pragma once

#include <QList>
#include <QMutex>
#include <QThread>
#include <QThreadPool>

#include <atomic>

class PipeASIO;

// Waits on the ASIO driver's pipe for requests to show the settings window
// and passes each one on as progressUpdated(1), queued to the GUI thread.
class ThreadSettingsPip : public QThread
{
    Q_OBJECT

public:
    explicit ThreadSettingsPip(QObject* parent = nullptr);
    // Releases the waiting threads, waits for them, then closes the pipe.
    ~ThreadSettingsPip() override;

signals:
    void progressUpdated(int value);

protected:
    void run() override;

private:
    void clientConnected();
    PipeASIO* spareInstance();
    void setIdle(PipeASIO* pipe);
    void serve(PipeASIO* pipe);
    void messageReceived(const char* buffer);

    // The instance of the pipe that waits for the next client.
    PipeASIO* listenPipe;
    // Every instance, listenPipe among them, and those free to wait next.
    // Further instances are made when a client is still being read as the
    // next one comes.
    QMutex instancesLock;
    QList<PipeASIO*> instances;
    QList<PipeASIO*> idle;
    QThreadPool readers;
    std::atomic<bool> stopping { false };
};
