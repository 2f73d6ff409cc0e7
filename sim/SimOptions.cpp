#include "sim/SimOptions.h"

#include "sim/DeviceModel.h"
#include "sim/DeviceState.h"
#include "sim/Firmware.h"
#include "sim/SimControlClient.h"

#include <QCommandLineParser>

namespace {

const char* const kDescription = R"(Stands in for the Kestrum audio bus driver: serves one device, records every
driver call it receives and prints one line per call. Also stands in for the
ASIO driver: serves \\.\pipe\KestrumPannelToASIO, counting the panel's reset
notices, and sends requests to \\.\pipe\KestrumASIOToPannel.

Serving (no command given):
  kestrum-sim [--model KX1|KX2|KQ|<pid>] [--bus N] [--firmware TEXT] [--quiet] [--control PATH]

Controlling a running sim (the first argument that is no option is a command;
everything after it belongs to the command):
  kestrum-sim [--control PATH] <command> [arguments...]

Commands:
  status                              the device state, readable
  report                              {"state": {...}, "calls": [...]}: the device state
                                      and the call record as JSON
  clear                               empty the call record
  reset                               device settings back to power-on defaults
  fail <code|name> once|always|off|<N> [error]
                                      make the next call(s) of a code fail (error 31 by default)
  fail all off                        no code fails any more
  slow <ms> [code|name]               delay replies to every code, or to one; slow 0 clears
  unplug                              drop every connection and stop listening
  plug                                listen again (the state is kept)
  pid <n>                             report another product ID
  model KX1|KX2|KQ|<pid>              the same, by model name
  firmware <text>                     firmware text, at most 10 bytes
  firmware --hex <20 hex digits>      firmware bytes, a zero byte too
  meter moving                        meters show the moving test signal
  meter <v0> [v1 ...]                 meters 0.. fixed at these int32 values, the rest 0
  set sample-rate|buffer-size|usb-latency|safe-mode|wdm <value>
  asio-serve on|off                   serve the reset-notice pipe (on from the start) or not
  asio-request <w0> <w1> <w2> <w3> <w4>
                                      send five uint32 words to the panel; w4 non-zero asks
                                      for the settings window
  asio-request --hex [hex bytes...]   send these bytes as one message (0..65536 bytes)
  asio-request --length <n>           send n bytes (0..65536): byte i is i mod 256, and
                                      word 4 is 1 when n >= 20
  quit                                stop the sim

Codes are given by name (io_get_sample_rate, or get_sample_rate) or number (0xFFDC2020).)";

} // namespace

SimOptions::SimOptions()
    : m_pid(devicemodel::kKx2)
    , m_firmware(DeviceState().firmware)
{
}

bool SimOptions::fail(const QString& error)
{
    m_error = error;
    return false;
}

bool SimOptions::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption modelOption(QStringLiteral("model"), QStringLiteral("Model to play: KX1, KX2 (default), KQ, or a product ID."), QStringLiteral("model"));
    const QCommandLineOption busOption(QStringLiteral("bus"), QStringLiteral("Bus number 0..15 (default 0)."), QStringLiteral("n"));
    const QCommandLineOption firmwareOption(QStringLiteral("firmware"), QStringLiteral("Firmware text, at most 10 bytes."), QStringLiteral("text"));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("Print no line per driver call."));
    const QCommandLineOption controlOption(QStringLiteral("control"), QStringLiteral("Control socket path (default <runtime dir>/kestrum-sim.ctl)."), QStringLiteral("path"));
    parser.addOptions({ modelOption, busOption, firmwareOption, quietOption, controlOption });
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("Command for a running sim, see above."), QStringLiteral("[command [arguments...]]"));
    m_helpText = parser.helpText();

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    m_help = parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"));
    m_command = parser.positionalArguments();
    m_quiet = parser.isSet(quietOption);

    if (isClient() && (parser.isSet(modelOption) || parser.isSet(busOption) || parser.isSet(firmwareOption) || m_quiet))
        return fail(QStringLiteral("--model, --bus, --firmware and --quiet apply only when serving; to change a running sim use its commands"));

    if (parser.isSet(modelOption)) {
        const std::optional<quint32> pid = devicemodel::parse(parser.value(modelOption));
        if (!pid)
            return fail(QStringLiteral("unknown model \"%1\": use KX1, KX2, KQ or a product ID").arg(parser.value(modelOption)));
        m_pid = *pid;
    }
    if (parser.isSet(busOption)) {
        bool ok = false;
        m_bus = parser.value(busOption).toInt(&ok);
        if (!ok || m_bus < 0 || m_bus >= kBusCount)
            return fail(QStringLiteral("bus must be a number from 0 to %1").arg(kBusCount - 1));
    }
    if (parser.isSet(firmwareOption)) {
        QString error;
        const std::optional<QByteArray> bytes = firmware::fromText(parser.value(firmwareOption), &error);
        if (!bytes)
            return fail(error);
        m_firmware = *bytes;
    }
    m_controlPath = parser.value(controlOption);
    if (m_controlPath.isEmpty() && !m_help) {
        QString error;
        m_controlPath = SimControlClient::defaultControlPath(&error);
        if (m_controlPath.isEmpty())
            return fail(error);
    }
    return true;
}
