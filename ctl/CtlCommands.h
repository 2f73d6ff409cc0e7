#pragma once

#include <QJsonObject>
#include <QStringList>

#include <optional>

// The commands of kestrumctl, each run against the running panel. Each
// returns the program's exit status: 0 done, 1 no running panel, 2 bad
// usage or value (nothing changed), 3 the device not connected or refusing.
class CtlCommands
{
public:
    explicit CtlCommands(bool json)
        : json(json)
    {
    }

    // The command and its arguments, as given after the options.
    int run(const QStringList& words);

private:
    int get(const QStringList& names);
    int set(const QStringList& assignments);
    int preset(const QStringList& words);
    int watch();
    int tell(const QJsonObject& request);
    // The panel's reply when it says done; otherwise none, with the exit
    // status and what went wrong said.
    std::optional<QJsonObject> ask(const QJsonObject& request, int& status);

    bool json;
};
