#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs kestrum-sim as a real process for a test and talks to it over its
// control socket, so that a test can check exactly what reached the device.
// The sim inherits the environment, so construct it after TestEnvironment.
class SimProcess
{
public:
    // Starts kestrum-sim, quiet, with its serving arguments (--model, --bus,
    // --firmware, --control).
    explicit SimProcess(const QStringList& arguments = {});
    // Asks the sim to quit; kills it when it does not go in time.
    ~SimProcess();

    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Waits up to 5 s for the sim's control socket. False, with a warning, when it stays silent.
    bool waitUntilReady();

    // Runs a control command (as given to `kestrum-sim <command>`). False when
    // refused or unanswered; output gets the answer or the reason.
    bool command(const QStringList& arguments, QByteArray* output = nullptr);

    // From `kestrum-sim report`: its "state" object and its "calls" array
    // (every entry of the call record; calls() keeps those of kind "call").
    QJsonObject state();
    QJsonArray record();
    // The call entries of the record, all of them or those of one code.
    QList<QJsonObject> calls();
    QList<QJsonObject> calls(quint32 code);
    void clearRecord();
    // The device's settings back to power-on defaults; the record stays.
    bool reset();

private:
    bool answers();
    QJsonObject report();

    QString m_controlPath;
    QProcess m_process;
};
