#pragma once

#include "sim/ControlServer.h"

#include <QStringList>

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
    Simulator& m_simulator;
};
