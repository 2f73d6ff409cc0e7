#pragma once

#include "sim/ControlProtocol.h"

#include <QStringList>

class Simulator;

// The commands a running sim takes over its control socket.
class ControlCommands
{
public:
    explicit ControlCommands(Simulator& simulator);

    controlprotocol::Reply execute(const QStringList& command);

private:
    using Reply = controlprotocol::Reply;
    using Handler = Reply (ControlCommands::*)(const QStringList& arguments);

    Reply status(const QStringList& arguments);
    Reply report(const QStringList& arguments);
    Reply reset(const QStringList& arguments);
    Reply clear(const QStringList& arguments);
    Reply fail(const QStringList& arguments);
    Reply slow(const QStringList& arguments);
    Reply unplug(const QStringList& arguments);
    Reply plug(const QStringList& arguments);
    Reply pid(const QStringList& arguments);
    Reply model(const QStringList& arguments);
    Reply firmware(const QStringList& arguments);
    Reply meter(const QStringList& arguments);
    Reply set(const QStringList& arguments);
    Reply asioServe(const QStringList& arguments);
    Reply asioRequest(const QStringList& arguments);
    Reply quit(const QStringList& arguments);

    Reply setModel(const QString& text);
    Reply setFirmware(const QByteArray& bytes);
    Reply sendAsioRequest(const QByteArray& message);

    Simulator& m_simulator;
};
