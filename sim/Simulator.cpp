#include "sim/Simulator.h"

#include "sim/SimOptions.h"
#include "sim/TextValue.h"

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
    connect(&m_deviceServer, &DeviceServer::connectionOpened, this, [this](quint64 connection) { add(CallEntry(CallEntry::Kind::Open, connection)); });
    connect(&m_deviceServer, &DeviceServer::connectionClosed, this, [this](quint64 connection, const QString& reason) {
        CallEntry entry(CallEntry::Kind::Close, connection);
        entry.reason = reason;
        add(entry);
    });
    connect(&m_deviceServer, &DeviceServer::requestReceived, this, &Simulator::onRequest);
    connect(&m_asio, &AsioDriver::messageReceived, this, [this](const QByteArray& message) {
        CallEntry entry(CallEntry::Kind::AsioNotice);
        entry.input = message;
        add(entry);
    });
    connect(&m_controlServer, &ControlServer::quitRequested, this, &Simulator::quitRequested);
}

bool Simulator::start(QString* error)
{
    if (!m_deviceServer.plug(error))
        return false;
    // Several sims may share a runtime directory, one per bus, but only one
    // of them can be the ASIO driver; the others still serve their device.
    QString asioError;
    if (!m_asio.serve(&asioError))
        QTextStream(stderr) << "kestrum-sim: warning: " << asioError << "; this sim goes on without serving it" << Qt::endl;
    return m_controlServer.listen(m_controlPath, error);
}

QString Simulator::readyLine() const
{
    const DeviceState& state = m_device.state();
    return QStringLiteral("kestrum-sim: %1 (PID %2) on bus %3, firmware \"%4\", control %5")
        .arg(textvalue::modelName(state.pid))
        .arg(state.pid)
        .arg(m_deviceServer.bus())
        .arg(textvalue::firmwareText(state.firmware), m_controlPath);
}

void Simulator::onRequest(quint64 connection, quint32 code, const QByteArray& input, quint32 outputCapacity)
{
    const std::optional<quint32> injected = m_faults.takeFailure(code);
    const SimReply reply = injected ? SimReply::failure(*injected) : m_device.handle(code, input, outputCapacity);
    CallEntry entry(CallEntry::Kind::Call, connection);
    entry.code = code;
    entry.input = input;
    entry.outputCapacity = outputCapacity;
    entry.ok = reply.ok;
    entry.error = reply.error;
    entry.injected = injected.has_value();
    entry.output = reply.output;
    add(std::move(entry));
    m_deviceServer.reply(connection, reply, m_faults.delay());
}

quint32 Simulator::sendAsioRequest(const QByteArray& message)
{
    CallEntry entry(CallEntry::Kind::AsioRequest);
    entry.output = message;
    entry.error = m_asio.send(message);
    entry.ok = entry.error == 0;
    add(entry);
    return entry.error;
}

void Simulator::add(CallEntry entry)
{
    const CallEntry& added = m_record.add(std::move(entry));
    if (!m_quiet)
        m_out << CallRecord::describe(added) << Qt::endl;
}
