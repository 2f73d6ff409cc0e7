// kestrumctl: drives the running panel of this user from a script or a
// terminal, and exits.

#include "ctl/CtlCommands.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrumctl"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Drives the running Kestrum panel.\n\n"
        "  get [CONTROL...]                   print controls and their values\n"
        "  set CONTROL=VALUE...               knobs take dB, switches on, off or toggle\n"
        "  preset list|save|load|delete [NAME]\n"
        "  undo                               undo the last preset load\n"
        "  watch                              print a JSON line per change\n\n"
        "Exit status: 0 done, 1 no running panel, 2 bad usage, control or value\n"
        "(nothing changed), 3 device not connected or refused the change."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print get and preset list as JSON."));
    parser.addOption(json);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("get, set, preset, undo or watch, and its arguments."));
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "kestrumctl: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help))
        parser.showHelp(0);
    return CtlCommands(parser.isSet(json)).run(parser.positionalArguments());
}
