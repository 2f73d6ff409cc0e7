#include "sim/ControlCommands.h"

#include "platform/WinError.h"
#include "sim/AsioMessage.h"
#include "sim/AsioPipe.h"
#include "sim/DeviceModel.h"
#include "sim/Firmware.h"
#include "sim/IoCodes.h"
#include "sim/NumberText.h"
#include "sim/Simulator.h"
#include "sim/StateReport.h"

#include <QHash>
#include <QJsonDocument>

#include <limits>
#include <optional>

namespace {

// A delay long enough to outlast any caller, short enough to end a forgotten one.
constexpr quint64 kMaxDelayMs = 10 * 60 * 1000;

std::optional<bool> parseSwitch(const QString& text)
{
    const QString lower = text.toLower();
    if (lower == QLatin1String("on") || lower == QLatin1String("1") || lower == QLatin1String("true"))
        return true;
    if (lower == QLatin1String("off") || lower == QLatin1String("0") || lower == QLatin1String("false"))
        return false;
    return std::nullopt;
}

controlprotocol::Reply usage(const QString& text)
{
    return controlprotocol::Reply::failure(QStringLiteral("usage: ") + text);
}

controlprotocol::Reply unknownCode(const QString& text)
{
    return controlprotocol::Reply::failure(QStringLiteral("unknown code \"%1\": give a name like io_get_sample_rate or a number like 0xFFDC2020").arg(text));
}

} // namespace

ControlCommands::ControlCommands(Simulator& simulator)
    : m_simulator(simulator)
{
}

controlprotocol::Reply ControlCommands::execute(const QStringList& command)
{
    static const QHash<QString, Handler> handlers {
        { QStringLiteral("status"), &ControlCommands::status },
        { QStringLiteral("report"), &ControlCommands::report },
        { QStringLiteral("reset"), &ControlCommands::reset },
        { QStringLiteral("clear"), &ControlCommands::clear },
        { QStringLiteral("fail"), &ControlCommands::fail },
        { QStringLiteral("slow"), &ControlCommands::slow },
        { QStringLiteral("unplug"), &ControlCommands::unplug },
        { QStringLiteral("plug"), &ControlCommands::plug },
        { QStringLiteral("pid"), &ControlCommands::pid },
        { QStringLiteral("model"), &ControlCommands::model },
        { QStringLiteral("firmware"), &ControlCommands::firmware },
        { QStringLiteral("meter"), &ControlCommands::meter },
        { QStringLiteral("set"), &ControlCommands::set },
        { QStringLiteral("asio-serve"), &ControlCommands::asioServe },
        { QStringLiteral("asio-request"), &ControlCommands::asioRequest },
        { QStringLiteral("quit"), &ControlCommands::quit },
    };
    const Handler handler = handlers.value(command.value(0));
    if (!handler) {
        QStringList names = handlers.keys();
        names.sort();
        return Reply::failure(QStringLiteral("unknown command \"%1\"; commands: %2").arg(command.value(0), names.join(QStringLiteral(", "))));
    }
    return (this->*handler)(command.mid(1));
}

controlprotocol::Reply ControlCommands::status(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usage(QStringLiteral("status"));
    return Reply::success(StateReport(m_simulator).toText());
}

controlprotocol::Reply ControlCommands::report(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usage(QStringLiteral("report"));
    const QJsonObject report {
        { QStringLiteral("state"), StateReport(m_simulator).toJson() },
        { QStringLiteral("calls"), m_simulator.record().toJson() },
    };
    return Reply::success(QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)));
}

controlprotocol::Reply ControlCommands::reset(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usage(QStringLiteral("reset"));
    m_simulator.device().reset();
    return Reply::success(QStringLiteral("device settings back to power-on defaults"));
}

controlprotocol::Reply ControlCommands::clear(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usage(QStringLiteral("clear"));
    m_simulator.record().clear();
    return Reply::success(QStringLiteral("call record cleared"));
}

controlprotocol::Reply ControlCommands::fail(const QStringList& arguments)
{
    if (arguments.size() < 2 || arguments.size() > 3)
        return usage(QStringLiteral("fail <code|name> once|always|off|<N> [error], or fail all off"));
    if (arguments == QStringList { QStringLiteral("all"), QStringLiteral("off") }) {
        m_simulator.faults().clearFailures();
        return Reply::success(QStringLiteral("no code fails any more"));
    }
    const std::optional<quint32> code = iocode::parse(arguments[0]);
    if (!code)
        return unknownCode(arguments[0]);
    quint32 error = FaultInjector::kDefaultError;
    if (arguments.size() == 3) {
        const std::optional<quint64> parsed = numbertext::parseUnsigned(arguments[2], std::numeric_limits<quint32>::max());
        if (!parsed || *parsed == 0)
            return Reply::failure(QStringLiteral("error must be a Windows error number above 0, not \"%1\"").arg(arguments[2]));
        error = static_cast<quint32>(*parsed);
    }
    const QString name = iocode::name(*code);
    const QString& mode = arguments[1];
    FaultInjector& faults = m_simulator.faults();
    if (mode == QLatin1String("off")) {
        faults.clearFailure(*code);
        return Reply::success(QStringLiteral("%1 no longer fails").arg(name));
    }
    if (mode == QLatin1String("always")) {
        faults.failAlways(*code, error);
        return Reply::success(QStringLiteral("%1 fails every call with error %2").arg(name).arg(error));
    }
    const std::optional<quint64> count = mode == QLatin1String("once") ? 1 : numbertext::parseUnsigned(mode, std::numeric_limits<int>::max());
    if (!count || *count == 0)
        return usage(QStringLiteral("fail <code|name> once|always|off|<N> [error], with N at least 1"));
    faults.failTimes(*code, static_cast<int>(*count), error);
    return Reply::success(QStringLiteral("%1 fails the next %2 call(s) with error %3").arg(name).arg(*count).arg(error));
}

controlprotocol::Reply ControlCommands::slow(const QStringList& arguments)
{
    if (arguments.isEmpty() || arguments.size() > 2)
        return usage(QStringLiteral("slow <ms> [code|name]"));
    const std::optional<quint64> ms = numbertext::parseUnsigned(arguments[0], kMaxDelayMs);
    if (!ms)
        return Reply::failure(QStringLiteral("delay must be 0..%1 ms, not \"%2\"").arg(kMaxDelayMs).arg(arguments[0]));
    const int delay = static_cast<int>(*ms);
    if (arguments.size() == 1) {
        m_simulator.faults().setDelay(delay);
        return Reply::success(delay == 0 ? QStringLiteral("replies no longer delayed")
                                         : QStringLiteral("every reply delayed by %1 ms").arg(delay));
    }
    const std::optional<quint32> code = iocode::parse(arguments[1]);
    if (!code)
        return unknownCode(arguments[1]);
    m_simulator.faults().setDelay(*code, delay);
    return Reply::success(QStringLiteral("replies to %1 delayed by %2 ms").arg(iocode::name(*code)).arg(delay));
}

controlprotocol::Reply ControlCommands::unplug(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usage(QStringLiteral("unplug"));
    DeviceServer& server = m_simulator.deviceServer();
    const int dropped = server.connectionCount();
    server.unplug();
    return Reply::success(QStringLiteral("unplugged bus %1, %2 connection(s) dropped").arg(server.bus()).arg(dropped));
}

controlprotocol::Reply ControlCommands::plug(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usage(QStringLiteral("plug"));
    DeviceServer& server = m_simulator.deviceServer();
    QString error;
    if (!server.plug(&error))
        return Reply::failure(error);
    return Reply::success(QStringLiteral("plugged on bus %1 at %2").arg(server.bus()).arg(server.socketPath()));
}

controlprotocol::Reply ControlCommands::setModel(const QString& text)
{
    const std::optional<quint32> pid = devicemodel::parse(text);
    if (!pid)
        return Reply::failure(QStringLiteral("unknown model \"%1\": use KX1, KX2, KQ or a product ID").arg(text));
    m_simulator.device().state().pid = *pid;
    return Reply::success(QStringLiteral("model %1 (PID %2)").arg(devicemodel::name(*pid)).arg(*pid));
}

controlprotocol::Reply ControlCommands::pid(const QStringList& arguments)
{
    if (arguments.size() != 1 || !numbertext::parseUnsigned(arguments[0], std::numeric_limits<quint32>::max()))
        return usage(QStringLiteral("pid <n>"));
    return setModel(arguments[0]);
}

controlprotocol::Reply ControlCommands::model(const QStringList& arguments)
{
    if (arguments.size() != 1)
        return usage(QStringLiteral("model KX1|KX2|KQ|<pid>"));
    return setModel(arguments[0]);
}

controlprotocol::Reply ControlCommands::setFirmware(const QByteArray& bytes)
{
    m_simulator.device().state().firmware = bytes;
    return Reply::success(QStringLiteral("firmware \"%1\" (%2)").arg(firmware::display(bytes), QString::fromLatin1(bytes.toHex(' '))));
}

controlprotocol::Reply ControlCommands::firmware(const QStringList& arguments)
{
    QString error;
    std::optional<QByteArray> bytes;
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--hex"))
        bytes = firmware::fromHex(arguments[1], &error);
    else if (arguments.size() == 1)
        bytes = firmware::fromText(arguments[0], &error);
    else
        return usage(QStringLiteral("firmware <text> | firmware --hex <20 hex digits>"));
    if (!bytes)
        return Reply::failure(error);
    return setFirmware(*bytes);
}

controlprotocol::Reply ControlCommands::meter(const QStringList& arguments)
{
    if (arguments.isEmpty() || arguments.size() > MeterLevels::kCount)
        return usage(QStringLiteral("meter moving | meter <v0> [v1 ...] (at most %1 values)").arg(MeterLevels::kCount));
    MeterLevels& levels = m_simulator.device().meter();
    if (arguments.size() == 1 && arguments[0] == QLatin1String("moving")) {
        levels.setMoving();
        return Reply::success(QStringLiteral("meters show the moving test signal"));
    }
    QList<qint32> values;
    for (const QString& text : arguments) {
        bool ok = false;
        const qint64 value = text.toLongLong(&ok);
        if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
            return Reply::failure(QStringLiteral("meter value \"%1\" is not a 32-bit integer").arg(text));
        values.append(static_cast<qint32>(value));
    }
    levels.setFixed(values);
    return Reply::success(QStringLiteral("meters 0..%1 fixed, the rest 0").arg(values.size() - 1));
}

controlprotocol::Reply ControlCommands::set(const QStringList& arguments)
{
    static const QString kUsage = QStringLiteral("set sample-rate|buffer-size|usb-latency|safe-mode|wdm <value>");
    if (arguments.size() != 2)
        return usage(kUsage);
    const QString& key = arguments[0];
    const QString& text = arguments[1];
    DeviceState& state = m_simulator.device().state();
    if (key == QLatin1String("safe-mode")) {
        const std::optional<bool> on = parseSwitch(text);
        if (!on)
            return Reply::failure(QStringLiteral("safe-mode takes on or off, not \"%1\"").arg(text));
        state.safeMode = *on;
        return Reply::success(QStringLiteral("safe-mode = %1").arg(*on ? QStringLiteral("on") : QStringLiteral("off")));
    }
    const QHash<QString, quint32*> words {
        { QStringLiteral("sample-rate"), &state.sampleRate },
        { QStringLiteral("buffer-size"), &state.bufferSize },
        { QStringLiteral("usb-latency"), &state.usbLatency },
        { QStringLiteral("wdm"), &state.wdmCount },
    };
    quint32* target = words.value(key);
    if (!target)
        return usage(kUsage);
    const std::optional<quint64> value = numbertext::parseUnsigned(text, std::numeric_limits<quint32>::max());
    if (!value)
        return Reply::failure(QStringLiteral("%1 takes an unsigned 32-bit number, not \"%2\"").arg(key, text));
    *target = static_cast<quint32>(*value);
    return Reply::success(QStringLiteral("%1 = %2").arg(key).arg(*target));
}

controlprotocol::Reply ControlCommands::asioServe(const QStringList& arguments)
{
    const std::optional<bool> on = arguments.size() == 1 ? parseSwitch(arguments[0]) : std::nullopt;
    if (!on)
        return usage(QStringLiteral("asio-serve on|off"));
    AsioNoticeServer& server = m_simulator.asioServer();
    const QString pipe = asiopipe::displayName(asiopipe::kNoticePipe);
    if (!*on) {
        const int dropped = server.stop();
        return Reply::success(QStringLiteral("%1 no longer served, %2 connection(s) dropped").arg(pipe).arg(dropped));
    }
    QString error;
    if (!server.serve(&error))
        return Reply::failure(error);
    return Reply::success(QStringLiteral("serving %1 at %2").arg(pipe, server.socketPath()));
}

controlprotocol::Reply ControlCommands::asioRequest(const QStringList& arguments)
{
    QString error;
    std::optional<QByteArray> message;
    if (arguments.value(0) == QLatin1String("--hex"))
        message = asiomessage::fromHex(arguments.mid(1), &error);
    else if (arguments.size() == 2 && arguments[0] == QLatin1String("--length"))
        message = asiomessage::ofLength(arguments[1], &error);
    else if (arguments.size() == asiomessage::kWordCount)
        message = asiomessage::fromWords(arguments, &error);
    else
        return usage(QStringLiteral("asio-request <w0> <w1> <w2> <w3> <w4> | asio-request --hex [hex bytes...] | asio-request --length <n>"));
    if (!message)
        return Reply::failure(error);
    return sendAsioRequest(*message);
}

controlprotocol::Reply ControlCommands::sendAsioRequest(const QByteArray& message)
{
    const QString pipe = asiopipe::displayName(asiopipe::kRequestPipe);
    const CallEntry& entry = m_simulator.sendAsioRequest(message);
    if (!entry.ok) {
        const QString reason = entry.error == platform::winerror::kFileNotFound ? QStringLiteral(": nobody serves the pipe") : QString();
        return Reply::failure(QStringLiteral("cannot send to %1, error %2%3").arg(pipe).arg(entry.error).arg(reason));
    }
    return Reply::success(QStringLiteral("sent to %1: %2").arg(pipe, asiomessage::describe(message)));
}

controlprotocol::Reply ControlCommands::quit(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usage(QStringLiteral("quit"));
    return Reply { true, QStringLiteral("bye"), true };
}
