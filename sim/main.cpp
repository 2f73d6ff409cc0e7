#include "sim/SimControlClient.h"
#include "sim/SimOptions.h"
#include "sim/Simulator.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

// Exit codes: the sim refused the command, or no sim answered (or none could start).
constexpr int kRefused = 1;
constexpr int kUnusable = 2;

int runClient(const SimOptions& options)
{
    const SimControlClient::Result result = SimControlClient(options.controlPath()).send(options.command());
    if (!result.ok()) {
        QTextStream(stderr) << "kestrum-sim: " << result.text << Qt::endl;
        return result.outcome == SimControlClient::Outcome::Refused ? kRefused : kUnusable;
    }
    QTextStream(stdout) << result.text << Qt::endl;
    return 0;
}

int serve(const SimOptions& options, QCoreApplication& app)
{
    Simulator simulator(options);
    QString error;
    if (!simulator.start(&error)) {
        QTextStream(stderr) << "kestrum-sim: " << error << Qt::endl;
        return kUnusable;
    }
    QObject::connect(&simulator, &Simulator::quitRequested, &app, &QCoreApplication::quit);
    QTextStream(stdout) << simulator.readyLine() << Qt::endl;
    return app.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    SimOptions options;
    if (!options.parse(QCoreApplication::arguments())) {
        QTextStream(stderr) << "kestrum-sim: " << options.errorText() << "\nSee kestrum-sim --help." << Qt::endl;
        return kUnusable;
    }
    if (options.helpRequested()) {
        QTextStream(stdout) << SimOptions::helpText();
        return 0;
    }
    return options.isClient() ? runClient(options) : serve(options, app);
}
