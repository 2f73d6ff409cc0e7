#pragma once

#include <QJsonObject>
#include <QString>

class Simulator;

// The sim's state as a person reads it (status) and as a test reads it (state).
class StateReport
{
public:
    explicit StateReport(const Simulator& simulator);

    QJsonObject toJson() const;
    QString toText() const;

private:
    QJsonObject mixerJson() const;
    QJsonObject faultsJson() const;
    QJsonObject asioJson() const;
    QString channelsText() const;
    QString mixerText() const;
    QString faultsText() const;
    QString asioText() const;

    const Simulator& m_simulator;
};
