#pragma once

#include "sim/ControlServer.h"

#include <QJsonValue>
#include <QList>
#include <QStringList>

#include <utility>

class Simulator;

// The commands a running sim takes over its control socket.
class ControlCommands
{
public:
    // One line per command, for --help and for a command given wrongly.
    static const char* const kUsage;

    explicit ControlCommands(Simulator& simulator);

    ControlReply execute(const QStringList& command);

private:
    using Handler = ControlReply (ControlCommands::*)(const QStringList& arguments);

    ControlReply status(const QStringList& arguments);
    ControlReply report(const QStringList& arguments);
    ControlReply clear(const QStringList& arguments);
    ControlReply reset(const QStringList& arguments);
    ControlReply fail(const QStringList& arguments);
    ControlReply slow(const QStringList& arguments);
    ControlReply unplug(const QStringList& arguments);
    ControlReply plug(const QStringList& arguments);
    ControlReply model(const QStringList& arguments);
    ControlReply firmware(const QStringList& arguments);
    ControlReply meter(const QStringList& arguments);
    ControlReply set(const QStringList& arguments);
    ControlReply asioServe(const QStringList& arguments);
    ControlReply asioRequest(const QStringList& arguments);
    ControlReply quit(const QStringList& arguments);

    // The device and the sim as (key, value) pairs in a fixed order: the
    // "state" of report, and the lines of status.
    QList<std::pair<QString, QJsonValue>> state() const;

    Simulator& m_simulator;
};
