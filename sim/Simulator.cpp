#include "sim/Simulator.h"

#include "sim/CallPrinter.h"
#include "sim/DeviceModel.h"
#include "sim/Firmware.h"
#include "sim/SimOptions.h"

#include <cstdio>

Simulator::Simulator(const SimOptions& options, QObject* parent)
    : QObject(parent)
    , m_quiet(options.quiet())
    , m_controlPath(options.controlPath())
    , m_out(stdout)
    , m_commands(*this)
    , m_deviceServer(options.bus())
    , m_controlServer([this](const QStringList& command) { return m_commands.execute(command); })
{
    m_device.state().pid = options.pid();
    m_device.state().firmware = options.firmware();
    connect(&m_deviceServer, &DeviceServer::connectionOpened, this, &Simulator::onConnectionOpened);
    connect(&m_deviceServer, &DeviceServer::connectionClosed, this, &Simulator::onConnectionClosed);
    connect(&m_deviceServer, &DeviceServer::requestReceived, this, &Simulator::onRequest);
    connect(&m_deviceServer, &DeviceServer::malformedRequest, this, &Simulator::onMalformedRequest);
    connect(&m_controlServer, &ControlServer::quitRequested, this, &Simulator::quitRequested);
    connect(&m_asioServer, &AsioNoticeServer::messageReceived, this, &Simulator::onAsioMessage);
}

bool Simulator::start(QString* error)
{
    if (!m_deviceServer.plug(error))
        return false;
    serveAsioPipe();
    return m_controlServer.listen(m_controlPath, error);
}

// Several sims may share a runtime directory, one per bus, but only one of
// them can be the ASIO driver; the others still serve their device.
void Simulator::serveAsioPipe()
{
    QString error;
    if (!m_asioServer.serve(&error))
        QTextStream(stderr) << "kestrum-sim: warning: " << error << "; this sim goes on without serving it" << Qt::endl;
}

QString Simulator::readyLine() const
{
    const DeviceState& state = m_device.state();
    return QStringLiteral("kestrum-sim: %1 (PID %2) on bus %3, firmware \"%4\", control %5")
        .arg(devicemodel::name(state.pid))
        .arg(state.pid)
        .arg(m_deviceServer.bus())
        .arg(firmware::display(state.firmware), m_controlPath);
}

void Simulator::onConnectionOpened(quint64 connection)
{
    print(m_record.addOpen(connection, m_deviceServer.bus()));
}

void Simulator::onConnectionClosed(quint64 connection, const QString& reason)
{
    print(m_record.addClose(connection, reason));
}

void Simulator::onRequest(quint64 connection, quint32 code, const QByteArray& input, quint32 outputCapacity)
{
    const MixerRecord mixerBefore = m_device.state().mixer;
    const std::optional<quint32> injected = m_faults.takeFailure(code);
    const SimReply reply = injected ? SimReply::failure(*injected) : m_device.handle(code, input, outputCapacity);
    print(m_record.addCall(connection, code, input, outputCapacity, reply, injected.has_value()), mixerBefore);
    m_deviceServer.reply(connection, reply, m_faults.delayFor(code));
}

void Simulator::onMalformedRequest(quint64 connection, qsizetype length)
{
    if (!m_quiet)
        m_out << "conn " << connection << " sent a malformed request of " << length << " bytes -> refused, error 87" << Qt::endl;
}

void Simulator::onAsioMessage(const QByteArray& message)
{
    print(m_record.addAsioNotice(message));
}

const CallEntry& Simulator::sendAsioRequest(const QByteArray& message)
{
    const AsioRequestSender::Result result = m_asioSender.send(message);
    const CallEntry& entry = m_record.addAsioRequest(message, result.ok, result.error);
    print(entry);
    return entry;
}

void Simulator::print(const CallEntry& entry, const MixerRecord& mixerBefore)
{
    if (!m_quiet)
        m_out << CallPrinter::describe(entry, mixerBefore) << Qt::endl;
}
