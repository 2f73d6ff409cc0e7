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

// A private environment, the captured log, a kestrum-sim process started on
// demand, and the program's ini files. Create it in initTestCase() or later:
// a log capture made before Qt Test installs its message handler sees nothing.
class DeviceFixture
{
public:
    DeviceFixture() = default;
    DeviceFixture(const DeviceFixture&) = delete;
    DeviceFixture& operator=(const DeviceFixture&) = delete;

    // Starts the sim with its serving arguments and runs each control command
    // (space-separated words). False, with a warning, when one fails.
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
