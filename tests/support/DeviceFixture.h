#pragma once

#include "tests/support/LogCapture.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

// What a suite driving the program against the simulated interface sets up:
// a private environment, the captured log, a kestrum-sim process started on
// demand, and access to the ini files the program keeps. Create it in
// initTestCase() or later: Qt Test installs its own message handler when the
// run starts, and a log capture made before that never sees a line.
class DeviceFixture
{
public:
    DeviceFixture() = default;
    DeviceFixture(const DeviceFixture&) = delete;
    DeviceFixture& operator=(const DeviceFixture&) = delete;

    // Starts the sim with its serving arguments and runs each control
    // command (space-separated words) on it. False, with a warning saying
    // why, when the sim does not come up or refuses a command.
    bool startSim(const QStringList& arguments = {}, const QStringList& commands = {});
    void stopSim() { m_sim.reset(); }
    SimProcess& sim() { return *m_sim; }

    LogCapture& log() { return m_log; }
    TestEnvironment& environment() { return m_environment; }

    // A file of the program's data directory, e.g. "setting.ini" or "kx2.ini".
    static QString iniPath(const QString& fileName);
    static void removeIni(const QString& fileName);
    // A key's value as the file on disk holds it, read as text.
    static QString onDisk(const QString& fileName, const QString& key);
    static void store(const QString& fileName, const QMap<QString, QVariant>& values);

    // The input bytes of a recorded driver call.
    static QByteArray input(const QJsonObject& call);

private:
    TestEnvironment m_environment;
    LogCapture m_log;
    std::unique_ptr<SimProcess> m_sim;
};
