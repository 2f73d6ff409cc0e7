#include "sim/SimOptions.h"

#include "sim/ControlCommands.h"
#include "sim/SimControlClient.h"
#include "sim/SimDevice.h"
#include "sim/TextValue.h"

#include <QCommandLineParser>

QString SimOptions::helpText()
{
    return QStringLiteral("Stands in for the Kestrum audio bus driver and the ASIO driver.\n"
                          "Serve a device:  kestrum-sim [--model KX1|KX2|KQ|<pid>] [--bus N] [--firmware TEXT] [--quiet] [--control PATH]\n"
                          "Control it:      kestrum-sim [--control PATH] <command> [arguments...]\n")
        + QString::fromLatin1(ControlCommands::kUsage) + QLatin1Char('\n');
}

bool SimOptions::fail(const QString& error)
{
    m_error = error;
    return false;
}

bool SimOptions::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(QStringList { QStringLiteral("h"), QStringLiteral("help") });
    const QCommandLineOption model(QStringLiteral("model"), QString(), QStringLiteral("model"));
    const QCommandLineOption bus(QStringLiteral("bus"), QString(), QStringLiteral("n"));
    const QCommandLineOption firmware(QStringLiteral("firmware"), QString(), QStringLiteral("text"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption control(QStringLiteral("control"), QString(), QStringLiteral("path"));
    parser.addOptions({ help, model, bus, firmware, quiet, control });
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    m_help = parser.isSet(help);
    m_command = parser.positionalArguments();
    m_quiet = parser.isSet(quiet);
    if (isClient() && (parser.isSet(model) || parser.isSet(bus) || parser.isSet(firmware) || m_quiet))
        return fail(QStringLiteral("--model, --bus, --firmware and --quiet apply only when serving"));

    const std::optional<quint32> pid = parser.isSet(model) ? textvalue::model(parser.value(model)) : DeviceState().pid;
    if (!pid)
        return fail(QStringLiteral("unknown model \"%1\": use KX1, KX2, KQ or a product ID").arg(parser.value(model)));
    m_pid = *pid;
    bool ok = true;
    m_bus = parser.isSet(bus) ? parser.value(bus).toInt(&ok) : 0;
    if (!ok || m_bus < 0 || m_bus >= kBusCount)
        return fail(QStringLiteral("bus must be a number from 0 to %1").arg(kBusCount - 1));
    const std::optional<QByteArray> bytes = parser.isSet(firmware) ? textvalue::firmware(parser.value(firmware)) : DeviceState().firmware;
    if (!bytes)
        return fail(QStringLiteral("firmware text is at most %1 bytes").arg(textvalue::kFirmwareSize));
    m_firmware = *bytes;
    m_controlPath = parser.value(control);
    if (m_controlPath.isEmpty() && !m_help) {
        QString error;
        m_controlPath = SimControlClient::defaultControlPath(&error);
        if (m_controlPath.isEmpty())
            return fail(error);
    }
    return true;
}
