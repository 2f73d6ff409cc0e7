#include "sim/ControlCommands.h"

#include "platform/NamedPipe.h"
#include "sim/IoCodes.h"
#include "sim/Simulator.h"
#include "sim/TextValue.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QtEndian>

#include <limits>

const char* const ControlCommands::kUsage = R"(Commands:
  status                          the device state, readable
  report                          {"state": {...}, "calls": [...]}: the state and the call record as JSON
  clear                           empty the call record
  reset                           the device's settings back to power-on defaults
  fail <code> once|always|off|<N> [error]   fail the next call(s) of a code (error 31 by default)
  fail all off                    no code fails any more
  slow <ms>                       hold every reply back (slow 0: no more)
  unplug                          drop every connection and stop listening
  plug                            listen again, the state kept
  model KX1|KX2|KQ|<pid>          report another model
  pid <n>                         report another product ID
  firmware <text>                 firmware text, at most 10 bytes
  firmware --hex <20 hex digits>  firmware bytes
  meter <v0> [v1 ...]             meters 0.. fixed at these int32 values, the rest 0
  meter moving                    meters show a moving test signal
  set sample-rate|buffer-size|usb-latency|wdm <n>
  set safe-mode on|off
  asio-serve on|off               serve the reset-notice pipe or not
  asio-request <w0> <w1> <w2> <w3> <w4>   send five 32-bit words to the panel
  asio-request --length <n>       send n bytes, byte i being i mod 256, word 4 being 1
  asio-request --hex [hex bytes]  send these bytes
  quit                            stop the sim
A code is a name (io_get_sample_rate, get_sample_rate) or a number (0xFFDC2020).)";

namespace {

constexpr quint64 kMaxWord = std::numeric_limits<quint32>::max();
// Long enough to outlast any caller, short enough to end a forgotten delay.
constexpr quint64 kMaxDelayMs = 10 * 60 * 1000;

ControlReply success(const QString& text)
{
    return ControlReply { true, text };
}

ControlReply usage(const QString& command)
{
    QStringList lines;
    for (const QString& line : QString::fromLatin1(ControlCommands::kUsage).split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("  %1 ").arg(command)))
            lines.append(line.trimmed());
    }
    return ControlReply { false, QStringLiteral("usage: ") + lines.join(QStringLiteral("\n       ")) };
}

template <typename T>
QJsonObject channels(const QMap<int, T>& values)
{
    QJsonObject json;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        json.insert(QString::number(it.key()), it.value());
    return json;
}

// Five words, or n bytes with word 4 set to 1 where the message holds it, so
// that a request of any length would ask for the window.
std::optional<QByteArray> requestOf(const QStringList& arguments)
{
    if (arguments.value(0) == QLatin1String("--hex"))
        return textvalue::hexBytes(arguments.mid(1).join(QString()), platform::kPipeBufferBytes);
    QByteArray message;
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--length")) {
        const std::optional<quint64> length = textvalue::number(arguments[1], platform::kPipeBufferBytes);
        if (!length)
            return std::nullopt;
        for (quint64 i = 0; i < *length; ++i)
            message.append(static_cast<char>(i & 0xFF));
        if (message.size() >= 20)
            qToLittleEndian<quint32>(1, message.data() + 16);
        return message;
    }
    if (arguments.size() != 5)
        return std::nullopt;
    for (const QString& text : arguments) {
        const std::optional<quint64> word = textvalue::number(text, kMaxWord);
        if (!word)
            return std::nullopt;
        message.append(4, '\0');
        qToLittleEndian<quint32>(static_cast<quint32>(*word), message.data() + message.size() - 4);
    }
    return message;
}

// The device and the sim as (key, value) pairs in a fixed order: the
// "state" of report, and the lines of status.
QList<std::pair<QString, QJsonValue>> state(Simulator& sim)
{
    const DeviceState& state = sim.device().state();
    DeviceServer& server = sim.deviceServer();
    return {
        { QStringLiteral("model"), textvalue::modelName(state.pid) },
        { QStringLiteral("pid"), static_cast<qint64>(state.pid) },
        { QStringLiteral("bus"), server.bus() },
        { QStringLiteral("firmware"), textvalue::firmwareText(state.firmware) },
        { QStringLiteral("plugged"), server.isPlugged() },
        { QStringLiteral("connections"), server.connectionCount() },
        { QStringLiteral("sampleRate"), static_cast<qint64>(state.sampleRate) },
        { QStringLiteral("bufferSize"), static_cast<qint64>(state.bufferSize) },
        { QStringLiteral("usbLatency"), static_cast<qint64>(state.usbLatency) },
        { QStringLiteral("safeMode"), state.safeMode },
        { QStringLiteral("wdmCount"), static_cast<qint64>(state.wdmCount) },
        { QStringLiteral("audioRunning"), state.audioRunning },
        { QStringLiteral("masterVolume"), state.masterVolume },
        { QStringLiteral("masterMute"), state.masterMute },
        { QStringLiteral("micGain"), channels(state.micGain) },
        { QStringLiteral("phantom48v"), channels(state.phantom) },
        { QStringLiteral("pad20db"), channels(state.pad) },
        { QStringLiteral("instrument"), channels(state.instrument) },
        { QStringLiteral("outVolume"), channels(state.outputVolume) },
        { QStringLiteral("phoneChip"), state.phoneChip },
        { QStringLiteral("feedbackClosed"), state.feedbackClosed },
        { QStringLiteral("mixer"), state.mixer.toJson() },
        { QStringLiteral("meter"), sim.device().meterMoving() ? QStringLiteral("moving") : QStringLiteral("fixed") },
        { QStringLiteral("faults"), sim.faults().toJson() },
        { QStringLiteral("asio"), sim.asio().toJson() },
    };
}

ControlReply status(Simulator& sim, const QStringList&)
{
    QStringList lines;
    for (const auto& [key, value] : state(sim)) {
        QString shown = value.toVariant().toString();
        if (key == QLatin1String("mixer"))
            shown = value[QStringLiteral("present")].toBool() ? QStringLiteral("%1 cell(s) not zero").arg(value[QStringLiteral("cells")].toArray().size()) : QStringLiteral("none received");
        else if (value.isObject())
            shown = QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
        lines.append(QStringLiteral("%1 %2").arg(key, -15).arg(shown));
    }
    return success(lines.join(QLatin1Char('\n')));
}

ControlReply report(Simulator& sim, const QStringList&)
{
    QJsonObject json;
    for (const auto& [key, value] : state(sim))
        json.insert(key, value);
    const QJsonObject report { { QStringLiteral("state"), json }, { QStringLiteral("calls"), sim.record().toJson() } };
    return success(QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)));
}

ControlReply clear(Simulator& sim, const QStringList&)
{
    sim.record().clear();
    return success(QStringLiteral("call record cleared"));
}

ControlReply reset(Simulator& sim, const QStringList&)
{
    sim.device().reset();
    return success(QStringLiteral("device settings back to power-on defaults"));
}

ControlReply fail(Simulator& sim, const QStringList& arguments)
{
    FaultInjector& faults = sim.faults();
    if (arguments == QStringList { QStringLiteral("all"), QStringLiteral("off") }) {
        faults.clearFailures();
        return success(QStringLiteral("no code fails any more"));
    }
    const std::optional<quint32> code = iocode::parse(arguments[0]);
    const std::optional<quint64> error = arguments.size() == 3 ? textvalue::number(arguments[2], kMaxWord) : FaultInjector::kDefaultError;
    const QString& mode = arguments[1];
    std::optional<int> count;
    if (mode == QLatin1String("once"))
        count = 1;
    else if (mode == QLatin1String("always"))
        count = FaultInjector::kAlways;
    else if (mode == QLatin1String("off"))
        count = 0;
    else if (const std::optional<quint64> times = textvalue::number(mode, std::numeric_limits<int>::max()); times && *times > 0)
        count = static_cast<int>(*times);
    if (!code || !count || !error || *error == 0)
        return usage(QStringLiteral("fail"));
    faults.fail(*code, *count, static_cast<quint32>(*error));
    return success(QStringLiteral("%1 fails: %2, error %3").arg(iocode::name(*code), mode).arg(*error));
}

ControlReply slow(Simulator& sim, const QStringList& arguments)
{
    const std::optional<quint64> ms = textvalue::number(arguments[0], kMaxDelayMs);
    if (!ms)
        return usage(QStringLiteral("slow"));
    sim.faults().setDelay(static_cast<int>(*ms));
    return success(QStringLiteral("every reply held back %1 ms").arg(*ms));
}

ControlReply unplug(Simulator& sim, const QStringList&)
{
    DeviceServer& server = sim.deviceServer();
    const int dropped = server.connectionCount();
    server.unplug();
    return success(QStringLiteral("unplugged, %1 connection(s) dropped").arg(dropped));
}

ControlReply plug(Simulator& sim, const QStringList&)
{
    QString error;
    if (!sim.deviceServer().plug(&error))
        return ControlReply { false, error };
    return success(QStringLiteral("plugged"));
}

ControlReply model(Simulator& sim, const QStringList& arguments)
{
    const std::optional<quint32> pid = textvalue::model(arguments[0]);
    if (!pid)
        return usage(QStringLiteral("model"));
    sim.device().state().pid = *pid;
    return success(QStringLiteral("model %1 (PID %2)").arg(textvalue::modelName(*pid)).arg(*pid));
}

ControlReply firmware(Simulator& sim, const QStringList& arguments)
{
    std::optional<QByteArray> bytes = textvalue::firmware(arguments[0]);
    if (arguments.size() == 2)
        bytes = arguments[0] == QLatin1String("--hex") ? textvalue::hexBytes(arguments[1], textvalue::kFirmwareSize) : std::nullopt;
    if (!bytes || bytes->size() != textvalue::kFirmwareSize)
        return usage(QStringLiteral("firmware"));
    sim.device().state().firmware = *bytes;
    return success(QStringLiteral("firmware \"%1\"").arg(textvalue::firmwareText(*bytes)));
}

ControlReply meter(Simulator& sim, const QStringList& arguments)
{
    QList<qint32> values;
    if (arguments != QStringList { QStringLiteral("moving") }) {
        for (const QString& text : arguments) {
            bool ok = false;
            values.append(text.toInt(&ok));
            if (!ok)
                return usage(QStringLiteral("meter"));
        }
    }
    sim.device().setMeter(values);
    return success(values.isEmpty() ? QStringLiteral("meters moving") : QStringLiteral("meters 0..%1 fixed, the rest 0").arg(values.size() - 1));
}

ControlReply set(Simulator& sim, const QStringList& arguments)
{
    DeviceState& state = sim.device().state();
    const QHash<QString, quint32*> words {
        { QStringLiteral("sample-rate"), &state.sampleRate },
        { QStringLiteral("buffer-size"), &state.bufferSize },
        { QStringLiteral("usb-latency"), &state.usbLatency },
        { QStringLiteral("wdm"), &state.wdmCount },
    };
    const std::optional<bool> on = textvalue::onOff(arguments[1]);
    const std::optional<quint64> value = textvalue::number(arguments[1], kMaxWord);
    if (arguments[0] == QLatin1String("safe-mode") && on)
        state.safeMode = *on;
    else if (words.contains(arguments[0]) && value)
        *words.value(arguments[0]) = static_cast<quint32>(*value);
    else
        return usage(QStringLiteral("set"));
    return success(arguments.join(QLatin1Char(' ')));
}

ControlReply asioServe(Simulator& sim, const QStringList& arguments)
{
    const std::optional<bool> on = textvalue::onOff(arguments[0]);
    if (!on)
        return usage(QStringLiteral("asio-serve"));
    AsioDriver& asio = sim.asio();
    if (!*on)
        return success(QStringLiteral("notice pipe no longer served, %1 connection(s) dropped").arg(asio.stop()));
    QString error;
    if (!asio.serve(&error))
        return ControlReply { false, error };
    return success(QStringLiteral("notice pipe served"));
}

ControlReply asioRequest(Simulator& sim, const QStringList& arguments)
{
    const std::optional<QByteArray> message = requestOf(arguments);
    if (!message)
        return usage(QStringLiteral("asio-request"));
    const quint32 error = sim.sendAsioRequest(*message);
    if (error != 0)
        return ControlReply { false, QStringLiteral("cannot send to the panel's request pipe, error %1").arg(error) };
    return success(QStringLiteral("sent %1 byte(s)").arg(message->size()));
}

ControlReply quit(Simulator&, const QStringList&)
{
    return ControlReply { true, QStringLiteral("bye"), true };
}

} // namespace

ControlCommands::ControlCommands(Simulator& simulator)
    : m_simulator(simulator)
{
}

ControlReply ControlCommands::execute(const QStringList& command)
{
    struct Entry {
        ControlReply (*handler)(Simulator& simulator, const QStringList& arguments);
        int minArguments;
        int maxArguments;
    };
    static const QHash<QString, Entry> commands {
        { QStringLiteral("status"), { &status, 0, 0 } },
        { QStringLiteral("report"), { &report, 0, 0 } },
        { QStringLiteral("clear"), { &clear, 0, 0 } },
        { QStringLiteral("reset"), { &reset, 0, 0 } },
        { QStringLiteral("fail"), { &fail, 2, 3 } },
        { QStringLiteral("slow"), { &slow, 1, 1 } },
        { QStringLiteral("unplug"), { &unplug, 0, 0 } },
        { QStringLiteral("plug"), { &plug, 0, 0 } },
        { QStringLiteral("model"), { &model, 1, 1 } },
        { QStringLiteral("pid"), { &model, 1, 1 } },
        { QStringLiteral("firmware"), { &firmware, 1, 2 } },
        { QStringLiteral("meter"), { &meter, 1, SimDevice::kMeterCount } },
        { QStringLiteral("set"), { &set, 2, 2 } },
        { QStringLiteral("asio-serve"), { &asioServe, 1, 1 } },
        { QStringLiteral("asio-request"), { &asioRequest, 0, std::numeric_limits<int>::max() } },
        { QStringLiteral("quit"), { &quit, 0, 0 } },
    };
    const QString name = command.value(0);
    const QStringList arguments = command.mid(1);
    const auto it = commands.constFind(name);
    if (it == commands.cend())
        return ControlReply { false, QStringLiteral("unknown command \"%1\"\n%2").arg(name, QString::fromLatin1(kUsage)) };
    if (arguments.size() < it->minArguments || arguments.size() > it->maxArguments)
        return usage(name);
    return it->handler(m_simulator, arguments);
}
