#include "sim/StateReport.h"

#include "sim/DeviceModel.h"
#include "sim/Firmware.h"
#include "sim/IoCodes.h"
#include "sim/Simulator.h"

#include <QJsonArray>
#include <QStringList>

namespace {

QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

template <typename T>
QJsonObject channelsJson(const QMap<int, T>& channels)
{
    QJsonObject object;
    for (auto it = channels.cbegin(); it != channels.cend(); ++it)
        object.insert(QString::number(it.key()), it.value());
    return object;
}

QString volumesText(const QMap<int, quint16>& channels)
{
    QStringList parts;
    for (auto it = channels.cbegin(); it != channels.cend(); ++it)
        parts.append(QStringLiteral("ch %1 = %2").arg(it.key()).arg(it.value()));
    return parts.isEmpty() ? QStringLiteral("none set") : parts.join(QStringLiteral(", "));
}

QString switchesText(const QMap<int, bool>& channels)
{
    QStringList parts;
    for (auto it = channels.cbegin(); it != channels.cend(); ++it)
        parts.append(QStringLiteral("ch %1 %2").arg(it.key()).arg(onOff(it.value())));
    return parts.isEmpty() ? QStringLiteral("none set") : parts.join(QStringLiteral(", "));
}

// Long lists wrap under their label so that the block stays readable.
QString wrapped(const QStringList& items, int perLine)
{
    QStringList lines;
    for (qsizetype i = 0; i < items.size(); i += perLine)
        lines.append(items.mid(i, perLine).join(QStringLiteral(", ")));
    return lines.join(QStringLiteral("\n") + QString(17, QLatin1Char(' ')));
}

QString row(const char* label, const QString& value)
{
    return QStringLiteral("%1 %2\n").arg(QString::fromLatin1(label), -16).arg(value);
}

} // namespace

StateReport::StateReport(const Simulator& simulator)
    : m_simulator(simulator)
{
}

QJsonObject StateReport::mixerJson() const
{
    const MixerRecord& mixer = m_simulator.device().state().mixer;
    QJsonArray gains;
    for (int k = 0; k < MixerRecord::kOutputGains; ++k)
        gains.append(mixer.outputGain(k));
    QJsonArray cells;
    for (int r = 0; r < MixerRecord::kRows; ++r) {
        for (int c = 0; c < MixerRecord::kColumns; ++c) {
            if (mixer.cell(r, c) != 0.0)
                cells.append(QJsonObject { { QStringLiteral("row"), r }, { QStringLiteral("col"), c }, { QStringLiteral("value"), mixer.cell(r, c) } });
        }
    }
    return QJsonObject {
        { QStringLiteral("present"), mixer.isPresent() },
        { QStringLiteral("outputGains"), gains },
        { QStringLiteral("cells"), cells },
    };
}

QJsonObject StateReport::faultsJson() const
{
    const FaultInjector& faults = m_simulator.faults();
    QJsonObject failures;
    for (auto it = faults.failures().cbegin(); it != faults.failures().cend(); ++it) {
        failures.insert(iocode::name(it.key()), QJsonObject {
            { QStringLiteral("error"), static_cast<qint64>(it->error) },
            { QStringLiteral("remaining"), it->remaining == FaultInjector::kAlways ? QJsonValue(QStringLiteral("always")) : QJsonValue(it->remaining) },
        });
    }
    QJsonObject delays;
    for (auto it = faults.codeDelays().cbegin(); it != faults.codeDelays().cend(); ++it)
        delays.insert(iocode::name(it.key()), it.value());
    return QJsonObject {
        { QStringLiteral("failures"), failures },
        { QStringLiteral("slowMs"), faults.defaultDelay() },
        { QStringLiteral("slowCodes"), delays },
    };
}

QJsonObject StateReport::asioJson() const
{
    const AsioNoticeServer& server = m_simulator.asioServer();
    return QJsonObject {
        { QStringLiteral("serving"), server.isServing() },
        { QStringLiteral("notices"), server.notices() },
        { QStringLiteral("messages"), server.messages() },
        { QStringLiteral("lastMessage"), QString::fromLatin1(server.lastMessage().toHex()) },
        { QStringLiteral("requestsSent"), m_simulator.asioSender().sentCount() },
    };
}

QJsonObject StateReport::toJson() const
{
    const DeviceState& state = m_simulator.device().state();
    const DeviceServer& server = m_simulator.deviceServer();
    return QJsonObject {
        { QStringLiteral("model"), devicemodel::name(state.pid) },
        { QStringLiteral("pid"), static_cast<qint64>(state.pid) },
        { QStringLiteral("bus"), server.bus() },
        { QStringLiteral("firmware"), firmware::display(state.firmware) },
        { QStringLiteral("firmwareHex"), QString::fromLatin1(state.firmware.toHex()) },
        { QStringLiteral("plugged"), server.isPlugged() },
        { QStringLiteral("connections"), server.connectionCount() },
        { QStringLiteral("sampleRate"), static_cast<qint64>(state.sampleRate) },
        { QStringLiteral("bufferSize"), static_cast<qint64>(state.bufferSize) },
        { QStringLiteral("usbLatency"), static_cast<qint64>(state.usbLatency) },
        { QStringLiteral("safeMode"), state.safeMode },
        { QStringLiteral("wdmCount"), static_cast<qint64>(state.wdmCount) },
        { QStringLiteral("audioRunning"), state.audioRunning },
        { QStringLiteral("audioInits"), state.audioInits },
        { QStringLiteral("audioRestarts"), state.audioRestarts },
        { QStringLiteral("audioStops"), state.audioStops },
        { QStringLiteral("masterVolume"), state.masterVolume },
        { QStringLiteral("masterMute"), state.masterMute },
        { QStringLiteral("phoneChip"), state.phoneChip },
        { QStringLiteral("feedbackClosed"), state.feedbackClosed },
        { QStringLiteral("micGain"), channelsJson(state.micGain) },
        { QStringLiteral("phantom48v"), channelsJson(state.phantom) },
        { QStringLiteral("pad20db"), channelsJson(state.pad) },
        { QStringLiteral("instrument"), channelsJson(state.instrument) },
        { QStringLiteral("outVolume"), channelsJson(state.outputVolume) },
        { QStringLiteral("mixer"), mixerJson() },
        { QStringLiteral("meter"), m_simulator.device().meter().isMoving() ? QStringLiteral("moving") : QStringLiteral("fixed") },
        { QStringLiteral("faults"), faultsJson() },
        { QStringLiteral("asio"), asioJson() },
    };
}

QString StateReport::channelsText() const
{
    const DeviceState& state = m_simulator.device().state();
    return row("mic gain", volumesText(state.micGain))
        + row("48V", switchesText(state.phantom))
        + row("20dB pad", switchesText(state.pad))
        + row("instrument", switchesText(state.instrument))
        + row("output volume", volumesText(state.outputVolume));
}

QString StateReport::mixerText() const
{
    const MixerRecord& mixer = m_simulator.device().state().mixer;
    if (!mixer.isPresent())
        return row("mixer", QStringLiteral("no record received yet"));
    QStringList gains;
    for (int k = 0; k < MixerRecord::kOutputGains; ++k) {
        if (mixer.outputGain(k) != 0.0)
            gains.append(QStringLiteral("%1=%2").arg(k).arg(MixerRecord::formatValue(mixer.outputGain(k))));
    }
    QStringList cells;
    for (int r = 0; r < MixerRecord::kRows; ++r) {
        for (int c = 0; c < MixerRecord::kColumns; ++c) {
            if (mixer.cell(r, c) != 0.0)
                cells.append(QStringLiteral("(%1,%2)=%3").arg(r).arg(c).arg(MixerRecord::formatValue(mixer.cell(r, c))));
        }
    }
    return row("output gains", gains.isEmpty() ? QStringLiteral("all zero") : wrapped(gains, 8))
        + row("mixer cells", cells.isEmpty() ? QStringLiteral("all zero") : wrapped(cells, 6));
}

QString StateReport::faultsText() const
{
    const FaultInjector& faults = m_simulator.faults();
    QStringList failures;
    for (auto it = faults.failures().cbegin(); it != faults.failures().cend(); ++it) {
        const QString times = it->remaining == FaultInjector::kAlways ? QStringLiteral("always") : QStringLiteral("%1 more").arg(it->remaining);
        failures.append(QStringLiteral("%1 %2, error %3").arg(iocode::name(it.key()), times).arg(it->error));
    }
    QStringList delays;
    if (faults.defaultDelay() > 0)
        delays.append(QStringLiteral("%1 ms for every code").arg(faults.defaultDelay()));
    for (auto it = faults.codeDelays().cbegin(); it != faults.codeDelays().cend(); ++it)
        delays.append(QStringLiteral("%1 ms for %2").arg(it.value()).arg(iocode::name(it.key())));
    return row("failures", failures.isEmpty() ? QStringLiteral("none") : failures.join(QStringLiteral("; ")))
        + row("slow replies", delays.isEmpty() ? QStringLiteral("none") : delays.join(QStringLiteral("; ")));
}

QString StateReport::asioText() const
{
    const AsioNoticeServer& server = m_simulator.asioServer();
    const QString serving = server.isServing()
        ? QStringLiteral("served, %1 open connection(s), %2").arg(server.connectionCount()).arg(server.socketPath())
        : QStringLiteral("not served");
    return row("ASIO notice pipe", serving)
        + row("ASIO notices", QStringLiteral("%1 reset notice(s) in %2 message(s)").arg(server.notices()).arg(server.messages()))
        + row("ASIO requests", QStringLiteral("%1 sent").arg(m_simulator.asioSender().sentCount()));
}

QString StateReport::toText() const
{
    const DeviceState& state = m_simulator.device().state();
    const DeviceServer& server = m_simulator.deviceServer();
    const QString audio = QStringLiteral("%1 (inits %2, restarts %3, stops %4)")
                              .arg(state.audioRunning ? QStringLiteral("running") : QStringLiteral("stopped"))
                              .arg(state.audioInits)
                              .arg(state.audioRestarts)
                              .arg(state.audioStops);
    const QString plugged = server.isPlugged()
        ? QStringLiteral("yes, %1 open connection(s), %2").arg(server.connectionCount()).arg(server.socketPath())
        : QStringLiteral("no (unplugged)");
    QString text = row("model", QStringLiteral("%1 (PID %2)").arg(devicemodel::name(state.pid)).arg(state.pid))
        + row("bus", QString::number(server.bus()))
        + row("firmware", QStringLiteral("\"%1\" (%2)").arg(firmware::display(state.firmware), QString::fromLatin1(state.firmware.toHex(' '))))
        + row("plugged", plugged)
        + row("sample rate", QStringLiteral("%1 Hz").arg(state.sampleRate))
        + row("buffer size", QStringLiteral("%1 samples").arg(state.bufferSize))
        + row("USB latency", QStringLiteral("%1 frames").arg(state.usbLatency))
        + row("safe mode", onOff(state.safeMode))
        + row("WDM", QString::number(state.wdmCount))
        + row("audio", audio)
        + row("master volume", QStringLiteral("%1 (0x%2)").arg(state.masterVolume).arg(state.masterVolume, 4, 16, QLatin1Char('0')))
        + row("master mute", onOff(state.masterMute))
        + row("phone chip", onOff(state.phoneChip))
        + row("feedback", state.feedbackClosed ? QStringLiteral("closed") : QStringLiteral("open"))
        + channelsText()
        + mixerText()
        + row("meter", m_simulator.device().meter().isMoving() ? QStringLiteral("moving test signal") : QStringLiteral("fixed values"))
        + faultsText()
        + asioText();
    text.chop(1);
    return text;
}
