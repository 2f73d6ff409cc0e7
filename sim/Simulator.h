#pragma once

#include "sim/AsioDriver.h"
#include "sim/CallRecord.h"
#include "sim/ControlCommands.h"
#include "sim/ControlServer.h"
#include "sim/DeviceServer.h"
#include "sim/FaultInjector.h"
#include "sim/SimDevice.h"

#include <QObject>
#include <QTextStream>

class SimOptions;

// One simulated device on one bus: takes the driver calls off the device
// socket, injects the faults asked for, records and prints every call, and
// answers the control socket. It also plays the ASIO driver.
class Simulator : public QObject
{
    Q_OBJECT

public:
    explicit Simulator(const SimOptions& options, QObject* parent = nullptr);

    // Plugs the device, serves the ASIO notice pipe unless another process
    // does, and opens the control socket.
    bool start(QString* error);
    QString readyLine() const;

    SimDevice& device() { return m_device; }
    CallRecord& record() { return m_record; }
    FaultInjector& faults() { return m_faults; }
    DeviceServer& deviceServer() { return m_deviceServer; }
    AsioDriver& asio() { return m_asio; }

    // Sends one message to the panel's request pipe, recorded and printed:
    // 0, or the Windows error number.
    quint32 sendAsioRequest(const QByteArray& message);

signals:
    void quitRequested();

private:
    void onRequest(quint64 connection, quint32 code, const QByteArray& input, quint32 outputCapacity);
    void add(CallEntry entry);

    bool m_quiet;
    QString m_controlPath;
    QTextStream m_out;
    CallRecord m_record;
    SimDevice m_device;
    FaultInjector m_faults;
    ControlCommands m_commands;
    // Last, so they go first and no socket outlives what it reports to.
    AsioDriver m_asio;
    DeviceServer m_deviceServer;
    ControlServer m_controlServer;
};
